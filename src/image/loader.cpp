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
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t next = 0;       // the first row NextBand has not handed out
  std::int32_t prefetched = 0; // rows from the top already in `band` (read by the loader)
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

std::int32_t PixelRows::width() const { return source_ ? source_->width : 0; }
std::int32_t PixelRows::height() const { return source_ ? source_->height : 0; }

std::int32_t PixelRows::BandRows(std::int32_t width) {
  constexpr std::int64_t kBandBytes = std::int64_t{128} << 10;
  const std::int64_t rowBytes = 4 * std::int64_t{width > 0 ? width : 1};
  return static_cast<std::int32_t>(rowBytes < kBandBytes ? kBandBytes / rowBytes : 1);
}

bool PixelRows::ReadBand(std::int32_t firstRow, std::int32_t rowCount,
                         std::span<const std::uint8_t>& band) {
  band = {};
  if (source_ == nullptr || source_->failed) return false;
  Source& s = *source_;
  if (firstRow < 0 || rowCount < 0 || rowCount > s.height - firstRow) return false;
  const std::size_t rowBytes = 4 * static_cast<std::size_t>(s.width);
  if (!s.streamed) {
    band = s.whole.bytes().subspan(static_cast<std::size_t>(firstRow) * rowBytes,
                                   static_cast<std::size_t>(rowCount) * rowBytes);
    return true;
  }
  if (rowCount > BandRows(s.width)) return false;
  if (firstRow != 0 || rowCount > s.prefetched) {
    s.prefetched = 0;  // the band is about to hold other rows
#ifndef _WIN32
    if (rowCount > 0 &&
        GetBitmapRows(s.owner.get(), firstRow, rowCount, s.band.data()) != rowCount) {
      s.failed = true;
      return false;
    }
#endif
  }
  band = {s.band.data(), static_cast<std::size_t>(rowCount) * rowBytes};
  return true;
}

bool PixelRows::NextBand(std::span<const std::uint8_t>& band) {
  band = {};
  if (source_ == nullptr) return true;
  Source& s = *source_;
  if (s.failed) return false;
  if (s.next >= s.height) return true;
  // Held whole, the picture is one band.
  const std::int32_t rows = s.streamed ? std::min(BandRows(s.width), s.height - s.next) : s.height;
  if (!ReadBand(s.next, rows, band)) return false;
  s.next += rows;
  return true;
}

LoadError LoadBitmapRows(std::string path, PixelRows& pixels, BITMAP& bitmap, bool readFirstBand) {
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
    s.width = record.bmWidth;
    s.height = record.bmHeight;
    const std::int32_t rows = std::min(PixelRows::BandRows(s.width), s.height);
    const std::int64_t bandBytes = 4 * std::int64_t{s.width} * rows;
    if (bandBytes > std::numeric_limits<std::int32_t>::max()) return LoadError::kNotLoaded;
    s.band = PixelBuffer::Allocate(static_cast<std::int32_t>(bandBytes));
    if (s.band.empty()) return LoadError::kNotLoaded;
#ifndef _WIN32
    if (readFirstBand && rows > 0 && GetBitmapRows(s.owner.get(), 0, rows, s.band.data()) != rows) {
      return LoadError::kNotLoaded;
    }
#endif
    s.prefetched = readFirstBand ? rows : 0;
  } else {
    if (const LoadError e = LoadBitmapPixels(std::move(path), s.whole, record);
        e != LoadError::kNone) {
      return e;
    }
    byteCount = s.whole.byteCount();
    // Rows of 4 bytes a pixel, as the driver checks before it asks for any.
    s.width = record.bmWidth;
    s.height = record.bmHeight;
    if (std::int64_t{4} * s.width * s.height > byteCount) s.height = 0;
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
