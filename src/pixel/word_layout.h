// How pixel values fill memory words: k pixels a word, the first in the most significant
// place; words across the rows, one row starting a new word, or the display pages of
// OLED controllers (a word holds a column of k pixels, the top one in the lowest bits).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pixel_format.h"

namespace rastrom {

inline constexpr unsigned kMaxWordBits = 64;

struct WordLayout {
  PixelFormat format = kRgb332;
  unsigned wordBits = 32;
  bool alignRows = false;  // every row starts a new word
  bool pages = false;      // a word holds k rows of one column

  friend bool operator==(const WordLayout&, const WordLayout&) = default;
};

// The word width a format has when none is asked for: 32 for rgb332 (four pixels, as the
// converter packs them), else the pixel's own bits.
unsigned DefaultWordBits(const PixelFormat& format);

// Pixels a word: the word's bits divided by the pixel's, rounded down; 0 when the word is
// narrower than a pixel.
unsigned PixelsPerWord(const WordLayout& layout);

// An empty string, or why the layout cannot be: a word narrower than the pixel, or wider
// than 64 bits, or rows aligned and pages at once.
std::string CheckWordLayout(const WordLayout& layout);

// The words a width x height picture fills; 0 when a side is 0 or the layout is not valid.
std::uint64_t WordCount(const WordLayout& layout, std::uint64_t width, std::uint64_t height);

// The pixel value at column x, row y of a width-pixel-wide picture held in `words`; 0 for
// a pixel whose word is past the end.
std::uint32_t PixelAt(const WordLayout& layout, std::uint64_t width, std::span<const std::uint64_t> words,
                      std::uint64_t x, std::uint64_t y);

// Fills `bgrx` (four bytes a pixel: blue, green, red, 0) with row y of a width-pixel-wide
// picture held in `words`, each pixel shown as ShowPixel shows it.
void ShowRow(const WordLayout& layout, std::uint64_t width, std::span<const std::uint64_t> words,
             std::uint64_t y, std::span<std::uint8_t> bgrx);

// Reads a word width for the command line: a decimal number from 1 to 64. False for
// anything else.
bool ParseWordBits(std::string_view text, unsigned& bits);

// What the command lines say of a format name that is not one.
std::string UnknownPixelFormat(std::string_view name);

// Receives the next words, in address order; returns false to stop.
using WordSink = std::function<bool(std::span<const std::uint64_t> words)>;

// Packs the rows of a picture's pixel values, given from the top row down, into words.
// Pages hold one page of rows (k rows); the other layouts hold no row.
class WordPacker {
 public:
  // The layout must pass CheckWordLayout.
  WordPacker(const WordLayout& layout, std::uint64_t width, WordSink sink);

  // Packs one row of `width` values (without aligned rows or pages, any number of values:
  // the words follow the sequence). Returns false once the sink has stopped.
  bool PutRow(std::span<const std::uint32_t> values);

  // Completes the last word (or the last page) with zero pixels and hands out what is left.
  bool Finish();

 private:
  bool Emit(std::uint64_t word) {
    out_[count_++] = word;
    return count_ < out_.size() || Flush();
  }
  bool Flush();

  WordLayout layout_;
  std::uint64_t width_;
  WordSink sink_;
  unsigned bits_;     // a pixel's bits
  unsigned perWord_;  // k
  std::uint64_t word_ = 0;
  unsigned filled_ = 0;              // pixels in word_
  std::vector<std::uint64_t> page_;  // pages: a word a column, filled row by row
  unsigned pageRows_ = 0;
  std::vector<std::uint64_t> out_;  // words not yet handed out: count_
  std::size_t count_ = 0;
  bool ok_ = true;
};

}  // namespace rastrom
