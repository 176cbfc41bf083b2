// The project's own stand-in for the platform's image functions, used where the platform
// has none. A "bitmap" here is the mapped file with its validated headers: the pixels are
// decoded straight into the caller's buffer by GetBitmapBits, so the image is never held
// twice.
#include <cstring>
#include <new>
#include <memory>

#include "bmp_decode.h"
#include "file_bytes.h"
#include "platform.h"

struct StandInBitmap {
  explicit StandInBitmap(const char* path) : file(path) {}
  rastrom::FileBytes file;
  rastrom::BmpHeader header;
};

HANDLE LoadImageA(HINSTANCE, const char* name, UINT type, int, int, UINT flags) {
  if (name == nullptr || type != IMAGE_BITMAP || (flags & LR_LOADFROMFILE) == 0) return nullptr;
  auto* bitmap = new (std::nothrow) StandInBitmap(name);
  if (bitmap == nullptr) return nullptr;
  if (!bitmap->file.ok() ||
      rastrom::ParseBmpHeader(bitmap->file.bytes(), bitmap->header) != rastrom::BmpError::kNone) {
    delete bitmap;
    return nullptr;
  }
  return bitmap;
}

int GetObjectA(HANDLE object, int size, LPVOID buffer) {
  if (object == nullptr || buffer == nullptr || size < static_cast<int>(sizeof(BITMAP))) return 0;
  const auto& header = static_cast<StandInBitmap*>(object)->header;
  // Every bitmap loads at 32 bits per pixel, 1 plane, rows of 4 bytes a pixel.
  BITMAP record{};
  record.bmType = 0;
  record.bmWidth = header.width;
  record.bmHeight = header.height;
  record.bmWidthBytes = 4 * header.width;
  record.bmPlanes = 1;
  record.bmBitsPixel = 32;
  record.bmBits = nullptr;
  std::memcpy(buffer, &record, sizeof record);
  return static_cast<int>(sizeof record);
}

LONG GetBitmapBits(HBITMAP bitmap, LONG bytes, LPVOID bits) {
  if (bitmap == nullptr || bits == nullptr || bytes <= 0) return 0;
  const auto& header = bitmap->header;
  const std::size_t total = std::size_t{4} * static_cast<std::size_t>(header.width) *
                            static_cast<std::size_t>(header.height);
  auto* out = static_cast<std::uint8_t*>(bits);
  if (static_cast<std::size_t>(bytes) >= total) {
    rastrom::DecodeBmpPixels(bitmap->file.bytes(), header, {out, total});
    return static_cast<LONG>(total);
  }
  // A partial copy decodes the whole image aside and copies its start.
  std::unique_ptr<std::uint8_t[]> whole(new (std::nothrow) std::uint8_t[total]);
  if (whole == nullptr) return 0;
  rastrom::DecodeBmpPixels(bitmap->file.bytes(), header, {whole.get(), total});
  std::memcpy(out, whole.get(), static_cast<std::size_t>(bytes));
  return bytes;
}

BOOL DeleteObject(HGDIOBJ object) {
  delete static_cast<StandInBitmap*>(object);
  return object != nullptr;
}
