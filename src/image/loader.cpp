#include "loader.h"

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

}  // namespace

LoadError LoadBitmapPixels(std::string path, PixelBuffer& pixels, BITMAP& bitmap) {
#ifdef _WIN32
  if (!MakeAbsolute(path)) return LoadError::kNotLoaded;
#endif
  BitmapOwner owner;
  HANDLE loaded = LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
  if (loaded == nullptr) return LoadError::kNotLoaded;
  owner.Reset(static_cast<HBITMAP>(loaded));

  BITMAP record{};
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
  const auto byteCount = static_cast<std::int32_t>(bytes);
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

int LoadSourceImage(std::string path, PixelBuffer& pixels, BITMAP& bitmap) {
  std::printf("Loading image...\n");
  switch (LoadBitmapPixels(std::move(path), pixels, bitmap)) {
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

}  // namespace rastrom
