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

namespace {

// Decodes uncompressed rows a band at a time, giving back each band's file pages once it is
// decoded, so the image is in memory about once rather than as file plus pixels. Bands
// are whole stored rows, which decode independently of each other.
void DecodeInBands(StandInBitmap& bitmap, std::uint8_t* out) {
  const rastrom::BmpHeader& header = bitmap.header;
  const auto width = static_cast<std::size_t>(header.width);
  const auto height = static_cast<std::size_t>(header.height);
  const auto bytes = bitmap.file.bytes();
  if (header.format == rastrom::BmpPixelFormat::kRle8 ||
      header.format == rastrom::BmpPixelFormat::kRle4) {
    rastrom::DecodeBmpPixels(bytes, header, {out, 4 * width * height});
    return;
  }
  constexpr std::size_t kBandBytes = std::size_t{1} << 20;
  const std::size_t stride = (width * header.bitsPerPixel + 31) / 32 * 4;
  const std::size_t bandRows = stride < kBandBytes ? kBandBytes / stride : 1;
  rastrom::BmpHeader band = header;
  for (std::size_t first = 0, rows = 0; first < height; first += rows) {
    rows = height - first < bandRows ? height - first : bandRows;
    band.height = static_cast<std::int32_t>(rows);
    band.pixelOffset = header.pixelOffset + first * stride;
    // The last row may lack its padding; every other band is whole rows.
    band.pixelBytes = first + rows == height ? header.pixelBytes - first * stride : rows * stride;
    // Stored row r is picture row r when top-down, height - 1 - r when bottom-up.
    const std::size_t top = header.topDown ? first : height - first - rows;
    rastrom::DecodeBmpPixels(bytes, band, {out + 4 * width * top, 4 * width * rows});
    bitmap.file.Discard(band.pixelOffset + band.pixelBytes);
  }
}

}  // namespace

LONG GetBitmapBits(HBITMAP bitmap, LONG bytes, LPVOID bits) {
  if (bitmap == nullptr || bits == nullptr || bytes <= 0) return 0;
  const auto& header = bitmap->header;
  const std::size_t total = std::size_t{4} * static_cast<std::size_t>(header.width) *
                            static_cast<std::size_t>(header.height);
  auto* out = static_cast<std::uint8_t*>(bits);
  if (static_cast<std::size_t>(bytes) >= total) {
    DecodeInBands(*bitmap, out);
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
