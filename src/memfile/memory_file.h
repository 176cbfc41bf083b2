// Memory initialisation files: Verilog's $readmemh format (.mem), which the vendors' memory
// macros and the open-source flows read too, the Memory Initialization File (.mif) of
// Quartus, and the Xilinx COE file. Written from words of any width up to 64 bits; the
// first comment describes the picture the words hold, so that a reader can show it again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "word_layout.h"

namespace rastrom {

enum class MemoryFormat { kMem, kMif, kCoe };

// Receives the file's text in pieces; returns false to stop the writing.
using TextSink = std::function<bool(std::string_view)>;

// What a memory holds: the picture's size (or only its pixel count), how its pixels fill
// the words, and the name of the file it came from.
struct MemoryDescription {
  std::string source;           // a file name; may be empty
  std::uint64_t width = 0;      // the picture's size; 0 x 0 when only the count is known
  std::uint64_t height = 0;
  std::uint64_t pixelCount = 0;  // width x height, or the pixels of a picture of unknown size
  WordLayout layout;
  std::uint64_t depth = 0;  // the words
};

// The description as one line of text without a comment marker, such as
// "sky.bmp: 320 x 240 pixels of 4-4-4 RGB, 1 to a word; depth 76800, width 12", followed
// by "; rows aligned" or "; display pages" for those layouts. Of the name, anything but
// printable ASCII becomes '?', and so do '*' (Yosys reads "/*" inside a // comment as a
// block comment) and '%' (a MIF comment's delimiter).
std::string DescriptionText(const MemoryDescription& description);

// Reads a line that DescriptionText wrote (the comment's text, without the marker).
// Nothing for any other line.
std::optional<MemoryDescription> ParseDescription(std::string_view text);

// The words of one memory file and how to write them.
struct WordFile {
  MemoryFormat format = MemoryFormat::kMem;
  unsigned wordBits = 32;   // 1 to 64; each word is written as ceil(bits / 4) digits
  std::uint64_t depth = 0;  // the words that will be given
  std::string comment;      // the first comment's text; none when empty
};

// The length of the text that WriteWordFile writes.
std::uint64_t WordFileSize(const WordFile& file);

// Formats a memory file in pieces of at most a few hundred KiB. Words arrive through
// Put in address order; Finish completes the file, with zero words if fewer than `depth`
// arrived (more are ignored). .mem and .mif lines end in LF, a COE file's in CR LF.
class WordFileWriter {
 public:
  WordFileWriter(const WordFile& file, TextSink sink);
  bool Put(std::span<const std::uint64_t> words);  // false once the sink has stopped
  bool Finish();

 private:
  void Start();
  void PutWord(std::uint64_t word);
  void Flush();

  WordFile file_;
  TextSink sink_;
  std::unique_ptr<char[]> piece_;  // the text not yet handed out: used_ bytes
  std::size_t used_ = 0;
  std::uint64_t written_ = 0;
  unsigned digits_ = 0;
  unsigned addressDigits_ = 0;
  bool started_ = false;
  bool ok_ = true;
};

// A memory file read back: its words, the width it states (a MIF's WIDTH, else the
// description's), and its description, when its first comment is one.
struct MemoryText {
  MemoryFormat format = MemoryFormat::kMem;
  std::vector<std::uint64_t> words;
  unsigned statedBits = 0;  // 0 when the file states none
  std::optional<MemoryDescription> description;
};

// Tells a .mem or .mif text by its first word or comment; nothing for anything else (a
// COE file starts with ';' or its keywords).
std::optional<MemoryFormat> SniffMemoryText(std::span<const std::uint8_t> text);

// The description in the first comment of a COE file, if it is one.
std::optional<MemoryDescription> CoeDescription(std::span<const std::uint8_t> text);

// The line of a COE file's text on which the value at `index` of its vector stands.
unsigned long CoeWordLine(std::span<const std::uint8_t> text, std::size_t index);

// Reads a .mem text ($readmemh: hexadecimal words, // and /* */ comments, @address) or a
// .mif text (WIDTH, DEPTH, the radixes, CONTENT BEGIN ... END with single addresses and
// [a..b] ranges, -- and % comments). A word wider than the stated width is refused.
// Returns an empty string, or one line "line N: why". Memory and time are bounded by the
// text's length: at most 2^28 words, and at most 64 words a byte of text (an @address or
// a DEPTH beyond that is refused).
std::string ReadMemoryText(std::span<const std::uint8_t> text, MemoryFormat format,
                           MemoryText& memory);

// How a memory's words are read as a picture when nothing else is said: as its description
// says, or else as words of 3-3-2 pixels in one run: words of the width the file states
// when that is 8, 16 or 32 bits, else of 32 bits (four pixels, as the converter packs them).
struct MemoryPicture {
  WordLayout layout;
  std::uint64_t width = 0;  // 0 x 0 when the size is not known
  std::uint64_t height = 0;
  std::uint64_t pixelCount = 0;  // width x height, or every place in the words
};
MemoryPicture DescribedPicture(const std::optional<MemoryDescription>& description,
                               unsigned statedBits, std::uint64_t wordCount);

// --- The 3-3-2 bytes of the first memory files, kept for their callers ----------------

// What a memory file of 3-3-2 bytes holds: its format, its word width and where the
// pixels came from.
struct MemoryFileLayout {
  MemoryFormat format = MemoryFormat::kMem;
  unsigned wordBits = 32;      // 8, 16 or 32: one, two or four 3-3-2 pixels a word
  std::string_view source;     // the input's name, for the comment line
  std::int32_t width = 0;      // the picture's size, for the comment line; 0 when unknown
  std::int32_t height = 0;
};

// True for the word widths a memory file of 3-3-2 bytes can have: 8, 16 and 32 bits.
bool IsMemoryWordWidth(unsigned wordBits);

// The number of words that hold `pixelCount` pixels at `wordBits` bits a word: the pixel
// count divided by the pixels per word, rounded up.
std::uint64_t MemoryDepth(std::uint64_t pixelCount, unsigned wordBits);

// Formats the .mem or .mif file for the 3-3-2 pixel bytes in `pixels` (from the top-left,
// row by row), as WordFileWriter does. Returns false when `sink` stopped it or the word
// width is not one of 8, 16 and 32 (then nothing is written).
bool FormatMemoryFile(const MemoryFileLayout& layout, std::span<const std::uint8_t> pixels,
                      const TextSink& sink);

// The length of the text FormatMemoryFile writes for `pixelCount` pixels.
std::uint64_t MemoryFileSize(const MemoryFileLayout& layout, std::uint64_t pixelCount);

}  // namespace rastrom
