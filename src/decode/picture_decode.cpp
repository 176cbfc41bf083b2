#include "picture_decode.h"

#include <cstring>
#include <utility>
#include <vector>

#include "bmp_decode.h"

namespace rastrom {

const char* PictureErrorText(PictureError error) {
  switch (error) {
    case PictureError::kNone:
      return "no error";
    case PictureError::kNotBuilt:
      return "no decoder in this build";
    case PictureError::kTooLarge:
      return "picture too large";
    case PictureError::kTruncated:
      return "truncated file";
    case PictureError::kCorrupt:
      return "corrupt data";
    case PictureError::kUnsupported:
      return "unsupported picture";
  }
  return "unknown error";
}

#ifndef _WIN32
namespace {

// A whole picture through its row decoder: the header first, for the size, then each band
// copied to its place.
template <typename DecodeRows>
DecodedPicture Whole(DecodedPicture header, const DecodeRows& decodeRows) {
  if (header.error != PictureError::kNone) return header;
  const std::size_t rowBytes = std::size_t{4} * header.width;
  std::vector<std::uint8_t> pixels(rowBytes * header.height);
  DecodedPicture result =
      decodeRows([&](std::uint32_t first, std::uint32_t, std::span<const std::uint8_t> rows) {
        std::memcpy(pixels.data() + first * rowBytes, rows.data(), rows.size());
        return true;
      });
  if (result.error == PictureError::kNone) result.pixels = std::move(pixels);
  return result;
}

}  // namespace

DecodedPicture DecodePng(std::span<const std::uint8_t> file, std::uint32_t background,
                         std::size_t maxBytes) {
  return Whole(ReadPngHeader(file, maxBytes), [&](const DecodedRowSink& sink) {
    return DecodePngRows(file, background, maxBytes, sink);
  });
}

DecodedPicture DecodeJpeg(std::span<const std::uint8_t> file, std::size_t maxBytes) {
  return Whole(ReadJpegHeader(file, maxBytes),
               [&](const DecodedRowSink& sink) { return DecodeJpegRows(file, maxBytes, sink); });
}
#endif

bool PictureFits(std::uint64_t width, std::uint64_t height, std::size_t maxBytes) {
  if (width < 1 || height < 1 || width > kMaxPictureSide || height > kMaxPictureSide) {
    return false;
  }
  return width <= maxBytes / 4 / height;
}

void CompositeOver(std::span<std::uint8_t> pixels, bool rgba, std::uint32_t background) {
  const unsigned bgBlue = background & 0xFF;
  const unsigned bgGreen = (background >> 8) & 0xFF;
  const unsigned bgRed = (background >> 16) & 0xFF;
  const auto mix = [](unsigned c, unsigned b, unsigned a) {
    return static_cast<std::uint8_t>((c * a + b * (255 - a) + 127) / 255);
  };
  for (std::size_t i = 0; i + 4 <= pixels.size(); i += 4) {
    std::uint8_t* p = pixels.data() + i;
    const unsigned a = p[3];
    const unsigned red = rgba ? p[0] : p[2];
    const unsigned blue = rgba ? p[2] : p[0];
    if (a == 255) {
      p[0] = static_cast<std::uint8_t>(blue);
      p[2] = static_cast<std::uint8_t>(red);
    } else {
      p[0] = mix(blue, bgBlue, a);
      p[1] = mix(p[1], bgGreen, a);
      p[2] = mix(red, bgRed, a);
    }
    p[3] = 0;
  }
}

namespace {

std::uint32_t U32At(std::span<const std::uint8_t> file, std::size_t at) {
  return static_cast<std::uint32_t>(file[at]) | static_cast<std::uint32_t>(file[at + 1]) << 8 |
         static_cast<std::uint32_t>(file[at + 2]) << 16 |
         static_cast<std::uint32_t>(file[at + 3]) << 24;
}

}  // namespace

bool CompositeBmpAlpha(std::span<const std::uint8_t> file, std::uint32_t background,
                       std::span<std::uint8_t> pixels) {
  BmpHeader header;
  if (ParseBmpHeader(file, header) != BmpError::kNone || header.format != BmpPixelFormat::kMasked ||
      file.size() < 70) {
    return false;
  }
  // The alpha mask sits at offset 66: inside a V3 or later header, or as the fourth mask
  // after a 40-byte header with ALPHABITFIELDS (6). Plain 16-bit pixels have none.
  const std::uint32_t headerSize = U32At(file, 14);
  const std::uint32_t compression = U32At(file, 30);
  const bool hasMask =
      compression != 0 && (headerSize >= 56 || (headerSize == 40 && compression == 6));
  const std::uint32_t mask = hasMask ? U32At(file, 66) : 0;
  if (mask == 0) return false;
  const auto width = static_cast<std::size_t>(header.width);
  const auto height = static_cast<std::size_t>(header.height);
  if (pixels.size() != 4 * width * height) return false;

  // The mask's lowest run of set bits, scaled to 0..255 with rounding.
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  int length = 0;
  while (shift + length < 32 && ((mask >> (shift + length)) & 1) != 0) ++length;
  const std::uint64_t top = (std::uint64_t{1} << length) - 1;
  const unsigned bytesPerPixel = header.bitsPerPixel / 8;
  const std::size_t stride = (width * header.bitsPerPixel + 31) / 32 * 4;
  const auto alphaAt = [&](std::size_t x, std::size_t y) {
    const std::size_t row = header.topDown ? y : height - 1 - y;
    const std::uint8_t* p = file.data() + header.pixelOffset + row * stride + x * bytesPerPixel;
    std::uint32_t value = p[0] | static_cast<std::uint32_t>(p[1]) << 8;
    if (bytesPerPixel == 4)
      value |= static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    return static_cast<std::uint8_t>((((value >> shift) & top) * 255 + top / 2) / top);
  };

  bool anyAlpha = false;
  for (std::size_t y = 0; y < height && !anyAlpha; ++y) {
    for (std::size_t x = 0; x < width && !anyAlpha; ++x) anyAlpha = alphaAt(x, y) != 0;
  }
  if (!anyAlpha) return false;
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) pixels[4 * (y * width + x) + 3] = alphaAt(x, y);
  }
  CompositeOver(pixels, false, background);
  return true;
}

}  // namespace rastrom
