#include "loader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <utility>

namespace rastrom {

namespace {

// Owns a platform bitmap and deletes it on every path out of the loader.
class BitmapOwner {
 public:
  BitmapOwner() = default;
  ~BitmapOwner() {
    if (handle_ != nullptr) DeleteObject(handle_);
  }
  BitmapOwner(const BitmapOwner&) = delete;
  BitmapOwner& operator=(const BitmapOwner&) = delete;

  void Reset(HBITMAP handle) { handle_ = handle; }
  HBITMAP get() const { return handle_; }

 private:
  HBITMAP handle_ = nullptr;
};

#ifdef _WIN32
// LoadImageA looks for a relative name also in the program's own folder and on PATH, so
// "logo.bmp" missing from the current folder could load some other logo.bmp. Naming the
// file by its full path from the current folder leaves the platform nothing to search.
// Returns false when the path cannot be made absolute.
bool MakeAbsolute(std::string& path) {
  const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::string full(needed, '\0');
  const DWORD length = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return false;
  full.resize(length);
  path = std::move(full);
  return true;
}
#endif

// Loads the file through the platform and describes it. On kNone `owner` holds the bitmap
// and `byteCount` is its bits' count; otherwise the bitmap, if any, is released.
LoadError OpenBitmap(std::string path, BitmapOwner& owner, BITMAP& record,
                     std::int32_t& byteCount) {
#ifdef _WIN32
  if (!MakeAbsolute(path)) return LoadError::kNotLoaded;
#endif
  HANDLE loaded = LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
  if (loaded == nullptr) return LoadError::kNotLoaded;
  owner.Reset(static_cast<HBITMAP>(loaded));

  record = BITMAP{};
  if (GetObjectA(owner.get(), static_cast<int>(sizeof(BITMAP)), &record) == 0) {
    return LoadError::kNoDescription;
  }

  // bits x width x height / 8 must be a signed 32-bit count; anything else is refused
  // rather than wrapped.
  const std::int64_t bytes =
      std::int64_t{record.bmBitsPixel} * record.bmWidth * record.bmHeight / 8;
  if (record.bmWidth < 0 || record.bmHeight < 0 || bytes < 0 ||
      bytes > std::numeric_limits<std::int32_t>::max()) {
    return LoadError::kNotLoaded;
  }
  byteCount = static_cast<std::int32_t>(bytes);
  return LoadError::kNone;
}

}  // namespace

LoadError LoadBitmapPixels(std::string path, PixelBuffer& pixels, BITMAP& bitmap) {
  BitmapOwner owner;
  BITMAP record{};
  std::int32_t byteCount = 0;
  if (const LoadError e = OpenBitmap(std::move(path), owner, record, byteCount);
      e != LoadError::kNone) {
    return e;
  }
  PixelBuffer buffer = PixelBuffer::Allocate(byteCount);
  if (buffer.empty()) return LoadError::kNotLoaded;
  // A failed copy of the bits is a failed load: its bytes would be garbage.
  if (byteCount > 0 && GetBitmapBits(owner.get(), byteCount, buffer.data()) == 0) {
    return LoadError::kNotLoaded;
  }

  pixels = std::move(buffer);
  bitmap = record;
  return LoadError::kNone;
}

struct PixelRows::Source {
  bool streamed = false;   // read a band at a time from `owner`; else held in `whole`
  BitmapOwner owner;
  PixelBuffer whole;
  PixelBuffer band;        // the band handed out last, reused for every band
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t bandRows = 0;
  std::size_t next = 0;    // the first row not yet handed out
  bool prefetched = false; // the band at `next` is in `band` already
  bool failed = false;
};

PixelRows::PixelRows() = default;
PixelRows::~PixelRows() = default;
PixelRows::PixelRows(PixelRows&& other) noexcept
    : source_(std::move(other.source_)), byteCount_(std::exchange(other.byteCount_, 0)) {}
PixelRows& PixelRows::operator=(PixelRows&& other) noexcept {
  source_ = std::move(other.source_);
  byteCount_ = std::exchange(other.byteCount_, 0);
  return *this;
}

std::size_t PixelRows::BandRows(std::int32_t width) {
  constexpr std::size_t kBandBytes = std::size_t{128} << 10;
  const std::size_t rowBytes = 4 * static_cast<std::size_t>(width > 0 ? width : 1);
  return rowBytes < kBandBytes ? kBandBytes / rowBytes : 1;
}

bool PixelRows::NextBand(std::span<const std::uint8_t>& band) {
  band = {};
  if (source_ == nullptr) return true;
  Source& s = *source_;
  if (s.failed) return false;
  if (s.next >= s.height) return true;
  if (!s.streamed) {
    band = s.whole.bytes();
    s.next = s.height;
    return true;
  }
  const std::size_t rows = std::min(s.bandRows, s.height - s.next);
#ifndef _WIN32
  if (!s.prefetched && GetBitmapRows(s.owner.get(), static_cast<LONG>(s.next),
                                     static_cast<LONG>(rows), s.band.data()) != LONG(rows)) {
    s.failed = true;
    return false;
  }
#endif
  s.prefetched = false;
  band = {s.band.data(), 4 * s.width * rows};
  s.next += rows;
  return true;
}

LoadError LoadBitmapRows(std::string path, PixelRows& pixels, BITMAP& bitmap) {
  auto source = std::make_unique<PixelRows::Source>();
  PixelRows::Source& s = *source;
  BITMAP record{};
  std::int32_t byteCount = 0;
#ifndef _WIN32
  s.streamed = GetBitmapRows != nullptr;
#endif
  if (s.streamed) {
    if (const LoadError e = OpenBitmap(std::move(path), s.owner, record, byteCount);
        e != LoadError::kNone) {
      return e;
    }
    // The platform's rows are 4 bytes a pixel, whatever its description says.
    s.width = static_cast<std::size_t>(record.bmWidth);
    s.height = static_cast<std::size_t>(record.bmHeight);
    s.bandRows = PixelRows::BandRows(record.bmWidth);
    const std::size_t rows = std::min(s.bandRows, s.height);
    if (4 * s.width * rows > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      return LoadError::kNotLoaded;
    }
    s.band = PixelBuffer::Allocate(static_cast<std::int32_t>(4 * s.width * rows));
    if (s.band.empty()) return LoadError::kNotLoaded;
#ifndef _WIN32
    if (rows > 0 && GetBitmapRows(s.owner.get(), 0, static_cast<LONG>(rows), s.band.data()) !=
                        LONG(rows)) {
      return LoadError::kNotLoaded;
    }
#endif
    s.prefetched = true;
  } else {
    if (const LoadError e = LoadBitmapPixels(std::move(path), s.whole, record);
        e != LoadError::kNone) {
      return e;
    }
    byteCount = s.whole.byteCount();
    s.height = 1;  // one band, the whole bits
  }
  pixels.source_ = std::move(source);
  pixels.byteCount_ = byteCount;
  bitmap = record;
  return LoadError::kNone;
}

namespace {

int PrintLoadOutcome(LoadError error) {
  switch (error) {
    case LoadError::kNone:
      std::printf("Image loaded\n");
      return 0;
    case LoadError::kNoDescription:
      std::printf("Error: Failed to attach image handle!\n");
      return 1;
    case LoadError::kNotLoaded:
      break;
  }
  std::printf("Error: Failed to load image!\n");
  return 1;
}

}  // namespace

int LoadSourceImage(std::string path, PixelBuffer& pixels, BITMAP& bitmap) {
  std::printf("Loading image...\n");
  return PrintLoadOutcome(LoadBitmapPixels(std::move(path), pixels, bitmap));
}

int LoadSourceImage(std::string path, PixelRows& pixels, BITMAP& bitmap) {
  std::printf("Loading image...\n");
  return PrintLoadOutcome(LoadBitmapRows(std::move(path), pixels, bitmap));
}

}  // namespace rastrom
