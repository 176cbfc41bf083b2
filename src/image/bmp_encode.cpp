#include "bmp_encode.h"

#include <cstring>

namespace rastrom {

namespace {

constexpr std::uint64_t kFileHeaderBytes = 14;
constexpr std::uint64_t kInfoHeaderBytes = 40;
constexpr std::uint64_t kPaletteBytes = 256 * 4;
constexpr std::uint64_t kPixelOffset = kFileHeaderBytes + kInfoHeaderBytes + kPaletteBytes;
constexpr std::uint64_t kMaxSide = 0x7FFFFFFF;      // width and height are signed 32-bit fields
constexpr std::uint64_t kMaxFileBytes = 0xFFFFFFFF;  // the file size is an unsigned 32-bit field
constexpr std::uint32_t kPixelsPerMetre = 2835;     // 72 dots per inch

std::uint64_t Stride(std::uint64_t width) { return (width + 3) / 4 * 4; }

void Put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  Put16(at, value & 0xFFFF);
  Put16(at + 2, value >> 16);
}

}  // namespace

std::uint64_t Bmp332FileSize(std::uint64_t width, std::uint64_t height) {
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return 0;
  const std::uint64_t stride = Stride(width);  // at most 2^31, so nothing below overflows
  if (height > (kMaxFileBytes - kPixelOffset) / stride) return 0;
  return kPixelOffset + stride * height;
}

std::uint32_t Color332(std::uint8_t pixel) {
  const std::uint32_t red = pixel >> 5, green = (pixel >> 2) & 7, blue = pixel & 3;
  const std::uint32_t r = red << 5 | red << 2 | red >> 1;
  const std::uint32_t g = green << 5 | green << 2 | green >> 1;
  const std::uint32_t b = blue * 0x55;
  return r << 16 | g << 8 | b;
}

std::vector<std::uint8_t> EncodeBmp332(std::uint64_t width, std::uint64_t height,
                                       std::span<const std::uint8_t> pixels) {
  const std::uint64_t fileBytes = Bmp332FileSize(width, height);
  if (fileBytes == 0 || fileBytes > std::vector<std::uint8_t>().max_size()) return {};

  std::vector<std::uint8_t> file(static_cast<std::size_t>(fileBytes), 0);
  std::uint8_t* p = file.data();
  const std::uint64_t stride = Stride(width);

  // File header: signature, file size, two reserved words, where the rows start.
  p[0] = 'B';
  p[1] = 'M';
  Put32(p + 2, static_cast<std::uint32_t>(fileBytes));
  Put32(p + 10, static_cast<std::uint32_t>(kPixelOffset));
  // Info header: a positive height means the rows are stored bottom-up.
  std::uint8_t* info = p + kFileHeaderBytes;
  Put32(info + 0, static_cast<std::uint32_t>(kInfoHeaderBytes));
  Put32(info + 4, static_cast<std::uint32_t>(width));
  Put32(info + 8, static_cast<std::uint32_t>(height));
  Put16(info + 12, 1);   // planes
  Put16(info + 14, 8);   // bits per pixel
  Put32(info + 16, 0);   // BI_RGB: no compression
  Put32(info + 20, static_cast<std::uint32_t>(stride * height));
  Put32(info + 24, kPixelsPerMetre);
  Put32(info + 28, kPixelsPerMetre);
  Put32(info + 32, 256);  // palette entries
  Put32(info + 36, 0);    // all of them matter
  // Palette: blue, green, red, reserved.
  std::uint8_t* palette = info + kInfoHeaderBytes;
  for (unsigned i = 0; i < 256; ++i) Put32(palette + 4 * i, Color332(static_cast<std::uint8_t>(i)));
  // Rows: the picture's bottom row first. Row padding, and pixels past the end of
  // `pixels`, stay 0. width x height is below 2^62, so the offsets cannot overflow.
  std::uint8_t* row = p + kPixelOffset;
  for (std::uint64_t y = height; y-- > 0; row += stride) {
    const std::uint64_t start = y * width;
    if (start >= pixels.size()) continue;
    const std::uint64_t left = pixels.size() - start;
    std::memcpy(row, pixels.data() + start, static_cast<std::size_t>(left < width ? left : width));
  }
  return file;
}

}  // namespace rastrom
