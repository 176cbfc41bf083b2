// The project's own stand-in for the platform's image functions, used where the platform
// has none. A "bitmap" here is the open file with its validated headers: the pixels are read
// and decoded straight into the caller's buffer by GetBitmapBits, so the image is never held
// twice, or a band of rows at a time by GetBitmapRows, so it is never held whole.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "bmp_decode.h"
#include "file_bytes.h"
#include "pixel_buffer.h"
#include "platform.h"

struct StandInBitmap {
  explicit StandInBitmap(const char* path) : file(path) {}
  rastrom::FileBytes file;
  rastrom::BmpHeader header;
  rastrom::ScratchBytes scratch;  // the headers, then each band of stored rows or the RLE stream
  rastrom::PixelBuffer decoded;   // a run-length picture, decoded whole on the first read
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

bool IsRunLength(const rastrom::BmpHeader& header) {
  return header.format == rastrom::BmpPixelFormat::kRle8 ||
         header.format == rastrom::BmpPixelFormat::kRle4;
}

// Reads a run-length stream whole and decodes it into `out` (4 x width x height bytes).
bool DecodeRunLength(StandInBitmap& bitmap, std::uint8_t* out) {
  if (rastrom::gBeforePixelRead != nullptr) rastrom::gBeforePixelRead();
  const rastrom::BmpHeader& header = bitmap.header;
  std::span<const std::uint8_t> data;
  if (!bitmap.file.Fetch(header.pixelOffset, header.pixelBytes, bitmap.scratch, data)) return false;
  rastrom::BmpHeader part = header;  // the stream fetched starts with its pixels
  part.pixelOffset = 0;
  rastrom::DecodeBmpPixels(data, part, {out, std::size_t{4} * static_cast<std::size_t>(header.width) *
                                                 static_cast<std::size_t>(header.height)});
  return true;
}

// Decodes picture rows [first, first + rows), counted from the top, into `out` (4 x width
// bytes a row). Uncompressed rows are read straight from their place in the file: a band of
// picture rows is a run of stored rows, which decode independently of the rest, wherever
// the file stores them (from the end for a bottom-up file). A run-length stream is read and
// decoded whole on the first call, since its rows can only be found by decoding what comes
// before them. Returns false when the file no longer holds the pixels its headers promised
// (it has shrunk, or a read failed) or there is no memory for them.
bool ReadRows(StandInBitmap& bitmap, std::size_t first, std::size_t rows, std::uint8_t* out) {
  const rastrom::BmpHeader& header = bitmap.header;
  const auto width = static_cast<std::size_t>(header.width);
  const auto height = static_cast<std::size_t>(header.height);
  const std::size_t rowBytes = 4 * width;
  std::span<const std::uint8_t> data;
  // The bytes fetched are decoded as a file of their own that starts with its pixels.
  rastrom::BmpHeader part = header;
  part.pixelOffset = 0;
  if (IsRunLength(header)) {
    if (bitmap.decoded.empty()) {
      // The headers keep 4 x width x height within a signed 32-bit count.
      bitmap.decoded = rastrom::PixelBuffer::Allocate(static_cast<std::int32_t>(rowBytes * height));
      if (bitmap.decoded.empty()) return false;
      if (!DecodeRunLength(bitmap, bitmap.decoded.data())) {
        bitmap.decoded.Release();
        return false;
      }
    }
    std::memcpy(out, bitmap.decoded.data() + first * rowBytes, rows * rowBytes);
    return true;
  }
  if (rastrom::gBeforePixelRead != nullptr) rastrom::gBeforePixelRead();
  const std::size_t stride = (width * header.bitsPerPixel + 31) / 32 * 4;
  // Stored row r is picture row r when top-down, height - 1 - r when bottom-up.
  const std::size_t stored = header.topDown ? first : height - first - rows;
  part.height = static_cast<std::int32_t>(rows);
  // The last stored row may lack its padding; every other band is whole rows.
  part.pixelBytes =
      stored + rows == height ? header.pixelBytes - stored * stride : rows * stride;
  if (!bitmap.file.Fetch(header.pixelOffset + stored * stride, part.pixelBytes, bitmap.scratch,
                         data)) {
    return false;
  }
  rastrom::DecodeBmpPixels(data, part, {out, rowBytes * rows});
  return true;
}

// Decodes the whole picture into `out` (4 x width x height bytes), a band at a time.
bool ReadPixels(StandInBitmap& bitmap, std::uint8_t* out) {
  const auto width = static_cast<std::size_t>(bitmap.header.width);
  const auto height = static_cast<std::size_t>(bitmap.header.height);
  if (IsRunLength(bitmap.header)) return DecodeRunLength(bitmap, out);
  constexpr std::size_t kBandBytes = std::size_t{1} << 20;
  const std::size_t bandRows = 4 * width < kBandBytes ? kBandBytes / (4 * width) : 1;
  for (std::size_t first = 0, rows = 0; first < height; first += rows) {
    rows = height - first < bandRows ? height - first : bandRows;
    if (!ReadRows(bitmap, first, rows, out + 4 * width * first)) return false;
  }
  return true;
}

}  // namespace

LONG GetBitmapRows(HBITMAP bitmap, LONG firstRow, LONG rows, LPVOID bits) {
  if (bitmap == nullptr || bits == nullptr || firstRow < 0 || rows <= 0 ||
      rows > bitmap->header.height - firstRow) {
    return 0;
  }
  return ReadRows(*bitmap, static_cast<std::size_t>(firstRow), static_cast<std::size_t>(rows),
                  static_cast<std::uint8_t*>(bits))
             ? rows
             : 0;
}

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
