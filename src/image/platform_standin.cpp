// The project's own stand-in for the platform's image functions, used where the platform
// has none. A "bitmap" here is the open file with its validated headers: the pixels are read
// and decoded straight into the caller's buffer by GetBitmapBits, so the image is never held
// twice.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "bmp_decode.h"
#include "file_bytes.h"
#include "platform.h"

struct StandInBitmap {
  explicit StandInBitmap(const char* path) : file(path) {}
  rastrom::FileBytes file;
  rastrom::BmpHeader header;
  rastrom::ScratchBytes scratch;  // the headers, then each band of rows or the RLE stream
};

HANDLE LoadImageA(HINSTANCE, const char* name, UINT type, int, int, UINT flags) {
  if (name == nullptr || type != IMAGE_BITMAP || (flags & LR_LOADFROMFILE) == 0) return nullptr;
  auto* bitmap = new (std::nothrow) StandInBitmap(name);
  if (bitmap == nullptr) return nullptr;
  // Only the start of the file is read here: enough for every header, mask and palette.
  const rastrom::FileBytes& file = bitmap->file;
  const auto headBytes =
      static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), rastrom::kBmpHeadBytes));
  std::span<const std::uint8_t> head;
  if (!file.ok() || !file.Fetch(0, headBytes, bitmap->scratch, head) ||
      rastrom::ParseBmpHeader(head, file.size(), bitmap->header) != rastrom::BmpError::kNone) {
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

// Reads and decodes the pixels into `out` (4 x width x height bytes). Uncompressed rows are
// read a band at a time into one reused block, so the image is in memory about once rather
// than as file plus pixels; bands are whole stored rows, which decode independently of each
// other. An RLE stream is read whole. Returns false when the file no longer holds the
// pixels its headers promised (it has shrunk, or a read failed).
bool ReadPixels(StandInBitmap& bitmap, std::uint8_t* out) {
  if (rastrom::gBeforePixelRead != nullptr) rastrom::gBeforePixelRead();
  const rastrom::BmpHeader& header = bitmap.header;
  const auto width = static_cast<std::size_t>(header.width);
  const auto height = static_cast<std::size_t>(header.height);
  std::span<const std::uint8_t> data;
  // The bytes fetched are decoded as a file of their own that starts with its pixels.
  rastrom::BmpHeader part = header;
  part.pixelOffset = 0;
  if (header.format == rastrom::BmpPixelFormat::kRle8 ||
      header.format == rastrom::BmpPixelFormat::kRle4) {
    if (!bitmap.file.Fetch(header.pixelOffset, header.pixelBytes, bitmap.scratch, data)) {
      return false;
    }
    rastrom::DecodeBmpPixels(data, part, {out, 4 * width * height});
    return true;
  }
  constexpr std::size_t kBandBytes = std::size_t{1} << 20;
  const std::size_t stride = (width * header.bitsPerPixel + 31) / 32 * 4;
  const std::size_t bandRows = stride < kBandBytes ? kBandBytes / stride : 1;
  for (std::size_t first = 0, rows = 0; first < height; first += rows) {
    rows = height - first < bandRows ? height - first : bandRows;
    part.height = static_cast<std::int32_t>(rows);
    // The last row may lack its padding; every other band is whole rows.
    part.pixelBytes = first + rows == height ? header.pixelBytes - first * stride : rows * stride;
    if (!bitmap.file.Fetch(header.pixelOffset + first * stride, part.pixelBytes, bitmap.scratch,
                           data)) {
      return false;
    }
    // Stored row r is picture row r when top-down, height - 1 - r when bottom-up.
    const std::size_t top = header.topDown ? first : height - first - rows;
    rastrom::DecodeBmpPixels(data, part, {out + 4 * width * top, 4 * width * rows});
  }
  return true;
}

}  // namespace

LONG GetBitmapBits(HBITMAP bitmap, LONG bytes, LPVOID bits) {
  if (bitmap == nullptr || bits == nullptr || bytes <= 0) return 0;
  const auto& header = bitmap->header;
  const std::size_t total = std::size_t{4} * static_cast<std::size_t>(header.width) *
                            static_cast<std::size_t>(header.height);
  auto* out = static_cast<std::uint8_t*>(bits);
  if (static_cast<std::size_t>(bytes) >= total) {
    return ReadPixels(*bitmap, out) ? static_cast<LONG>(total) : 0;
  }
  // A partial copy decodes the whole image aside and copies its start.
  std::unique_ptr<std::uint8_t[]> whole(new (std::nothrow) std::uint8_t[total]);
  if (whole == nullptr || !ReadPixels(*bitmap, whole.get())) return 0;
  std::memcpy(out, whole.get(), static_cast<std::size_t>(bytes));
  return bytes;
}

BOOL DeleteObject(HGDIOBJ object) {
  delete static_cast<StandInBitmap*>(object);
  return object != nullptr;
}
