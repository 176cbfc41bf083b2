// Memory initialisation files for other flows than the COE file: Verilog's $readmemh
// format (.mem), which the vendors' memory macros and the open-source flows read too, and
// the Memory Initialization File (.mif) of Quartus.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace rastrom {

enum class MemoryFormat { kMem, kMif };

// What a memory file holds: its format, its word width and where the pixels came from.
struct MemoryFileLayout {
  MemoryFormat format = MemoryFormat::kMem;
  unsigned wordBits = 32;      // 8, 16 or 32: one, two or four 3-3-2 pixels a word
  std::string_view source;     // the input's name, for the comment line
  std::int32_t width = 0;      // the picture's size, for the comment line; 0 when unknown
  std::int32_t height = 0;
};

// True for the word widths a memory file can have: 8, 16 and 32 bits.
bool IsMemoryWordWidth(unsigned wordBits);

// The number of words that hold `pixelCount` pixels at `wordBits` bits a word: the pixel
// count divided by the pixels per word, rounded up.
std::uint64_t MemoryDepth(std::uint64_t pixelCount, unsigned wordBits);

// Receives the file's text in pieces; returns false to stop the writing.
using TextSink = std::function<bool(std::string_view)>;

// Formats the memory file for the 3-3-2 pixel bytes in `pixels` (from the top-left, row by
// row) and hands its text to `sink` in pieces of at most a few hundred KiB. A word holds
// consecutive pixels, the first in its most significant byte; a last word short of pixels
// is filled with 00 bytes. Every line ends in LF. Returns false when `sink` stopped it or
// the word width is not one of 8, 16 and 32 (then nothing is written).
bool FormatMemoryFile(const MemoryFileLayout& layout, std::span<const std::uint8_t> pixels,
                      const TextSink& sink);

// The length of the text FormatMemoryFile writes for `pixelCount` pixels.
std::uint64_t MemoryFileSize(const MemoryFileLayout& layout, std::uint64_t pixelCount);

}  // namespace rastrom
