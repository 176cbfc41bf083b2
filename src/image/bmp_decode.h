// BMP decoding as a pure function over a file's bytes: no paths, streams or globals.
//
// Every accepted file decodes to 32-bit pixels, rows from the top of the picture to the
// bottom, each row left to right, four bytes a pixel: blue, green, red, 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace rastrom {

// Why a file was refused. Malformed files are kept apart from well-formed but unsupported ones.
enum class BmpError {
  kNone = 0,
  kNotBmp,             // no "BM" signature
  kTruncated,          // the file ends inside its headers, palette, masks or pixel data
  kBadHeader,          // an unknown header size, or an offset pointing into the headers
  kBadDimensions,      // width or height zero, negative width, or beyond 65535
  kTooLarge,           // 4 x width x height does not fit a signed 32-bit integer
  kBadPlanes,          // planes is 0
  kUnsupportedDepth,   // a bit count other than 1, 2, 4, 8, 16, 24, 32
  kUnsupportedCompression,  // JPEG, PNG, OS/2 Huffman or RLE24, RLE on the wrong depth, ...
  kTopDownRle,         // RLE with top-down rows
};

// A fixed English description of the error, for tests and debugging.
const char* BmpErrorText(BmpError error);

enum class BmpPixelFormat { kPalette, kRle8, kRle4, kMasked, kBgr24, kBgrx32 };

// Everything the decoder needs from the headers, validated by ParseBmpHeader.
struct BmpHeader {
  std::int32_t width = 0;   // 1..65535
  std::int32_t height = 0;  // 1..65535 (the absolute value of the stored height)
  bool topDown = false;
  std::uint16_t bitsPerPixel = 0;
  BmpPixelFormat format = BmpPixelFormat::kPalette;
  std::size_t pixelOffset = 0;  // where the pixel data (or the RLE stream) starts
  std::size_t pixelBytes = 0;   // bytes of pixel data, or of the coded RLE stream
  std::uint32_t palette[256] = {};  // 0x00RRGGBB; entries past paletteSize are black
  std::uint32_t paletteSize = 0;
  std::uint32_t masks[3] = {};      // red, green, blue, for BmpPixelFormat::kMasked
};

// Parses and validates the headers, palette and masks, and checks that the pixel data is
// in the file. After it succeeds, DecodeBmpPixels cannot fail.
BmpError ParseBmpHeader(std::span<const std::uint8_t> file, BmpHeader& header);

// The most of a file's start that the headers, masks and palette can occupy: the file
// header, the largest info header and 256 four-byte palette entries. (Masks after a
// 40-byte header end at byte 70, inside that.)
inline constexpr std::size_t kBmpHeadBytes = 14 + 124 + 256 * 4;

// The same from the start of a file only: `head` holds the first min(fileSize,
// kBmpHeadBytes) bytes of a file of fileSize bytes (or more of them), so a reader can
// check a large file before reading its pixels. A shorter head is refused as truncated.
BmpError ParseBmpHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                        BmpHeader& header);

// Decodes the pixels into out, which must hold exactly 4 x width x height bytes.
void DecodeBmpPixels(std::span<const std::uint8_t> file, const BmpHeader& header,
                     std::span<std::uint8_t> out);

struct DecodedBmp {
  BmpError error = BmpError::kNone;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> pixels;  // 4 x width x height bytes when error is kNone
};

// Parses and decodes in one call.
DecodedBmp DecodeBmp(std::span<const std::uint8_t> file);

}  // namespace rastrom
