// Colour reduction to 3-3-2 RGB and the Xilinx COE writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace rastrom {

// One pixel's colour channels, in the platform's RGBTRIPLE order.
struct ColorTriple {
  std::uint8_t blue;
  std::uint8_t green;
  std::uint8_t red;
};

// Keeps the top bits of each channel: red and green AND 0xE0, blue AND 0xC0.
void MaskColor332(ColorTriple color, ColorTriple& masked);

// Packs a masked triple into one byte: bits 7-5 red, 4-2 green, 1-0 blue.
std::uint8_t PackPixel332(ColorTriple masked);

// Reduces `pixelCount` 32-bit pixels (blue, green, red, unused) to their 3-3-2 bytes, one
// byte a pixel in the same order, exactly as the COE writer reduces them.
void ReducePixels332(const std::uint8_t* pixels, std::size_t pixelCount, std::uint8_t* out);

// The four header lines of a COE file for a memory of `depth` words of `wordBits` bits,
// each ending in CR LF; the converter's with 32 bits.
std::string CoeHeader(std::uint64_t depth, unsigned wordBits);

// Writes the COE file for 32-bit pixels (blue, green, red, unused), four pixels to a
// 32-bit word, every line ending in CR LF. Returns 0 when written; 1 when the file cannot
// be opened or written, after printing the reason (an incomplete regular file is removed).
int WriteCoeFile(const char* path, const std::uint8_t* pixels, std::int32_t byteCount);

// Hands the writer the next pixels: points `band` at them (whole 4-byte pixels, in order,
// valid until the next call), or at nothing after the last. Returns false when they cannot
// be had.
using PixelBandSource = std::function<bool(std::span<const std::uint8_t>& band)>;

// The same for pixels that arrive a band at a time, `byteCount` bytes in all; a word may
// begin in one band and end in the next. The text is written as each band arrives. When
// the pixels cannot all be had (the source fails, or ends early), nothing is left behind
// and it prints "Error: Failed to write Output file: <path>, Error 5" (an input/output
// error) and returns 1.
int WriteCoeFile(const char* path, const PixelBandSource& nextBand, std::int32_t byteCount);

}  // namespace rastrom
