#include "word_layout.h"

#include <algorithm>
#include <utility>

namespace rastrom {

namespace {

constexpr std::size_t kBatchWords = 8192;

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

// The words of `count` * k values, k of `bits` bits a word; the common numbers of pixels a
// word get loops of their own.
template <unsigned K>
void PackWordsOf(const std::uint32_t* value, std::size_t count, unsigned bits, std::uint64_t* out) {
  for (std::size_t w = 0; w < count; ++w, value += K) {
    std::uint64_t word = 0;
    for (unsigned j = 0; j < K; ++j) word = word << bits | value[j];
    out[w] = word;
  }
}

void PackWords(const std::uint32_t* value, std::size_t count, unsigned k, unsigned bits,
               std::uint64_t* out) {
  switch (k) {
    case 1:
      for (std::size_t w = 0; w < count; ++w) out[w] = value[w];
      return;
    case 2:
      return PackWordsOf<2>(value, count, bits, out);
    case 4:
      return PackWordsOf<4>(value, count, bits, out);
    case 8:
      return PackWordsOf<8>(value, count, bits, out);
    default:
      for (std::size_t w = 0; w < count; ++w, value += k) {
        std::uint64_t word = 0;
        for (unsigned j = 0; j < k; ++j) word = word << bits | value[j];
        out[w] = word;
      }
  }
}

}  // namespace

unsigned DefaultWordBits(const PixelFormat& format) {
  return format == kRgb332 ? 32 : PixelBits(format);
}

unsigned PixelsPerWord(const WordLayout& layout) {
  return layout.wordBits / PixelBits(layout.format);
}

std::string CheckWordLayout(const WordLayout& layout) {
  const unsigned bits = PixelBits(layout.format);
  if (layout.wordBits < bits) {
    return "a word of " + std::to_string(layout.wordBits) + " bits cannot hold a " +
           PixelFormatName(layout.format) + " pixel of " + std::to_string(bits) + " bits";
  }
  if (layout.wordBits > kMaxWordBits) {
    return "a word holds at most " + std::to_string(kMaxWordBits) + " bits, not " +
           std::to_string(layout.wordBits);
  }
  if (layout.alignRows && layout.pages) return "rows aligned and pages cannot go together";
  return {};
}

std::uint64_t WordCount(const WordLayout& layout, std::uint64_t width, std::uint64_t height) {
  if (!CheckWordLayout(layout).empty() || width == 0 || height == 0) return 0;
  const unsigned k = PixelsPerWord(layout);
  // Both sides are below 2^32, so none of the products below overflows.
  if (layout.pages) return CeilDiv(height, k) * width;
  if (layout.alignRows) return height * CeilDiv(width, k);
  return CeilDiv(width * height, k);
}

std::uint32_t PixelAt(const WordLayout& layout, std::uint64_t width, std::span<const std::uint64_t> words,
                      std::uint64_t x, std::uint64_t y) {
  const unsigned k = PixelsPerWord(layout), bits = PixelBits(layout.format);
  std::uint64_t address = 0;
  unsigned slot = 0;  // the pixel's place from the word's top (pages: from its bottom)
  if (layout.pages) {
    address = y / k * width + x;
    slot = static_cast<unsigned>(y % k);
  } else if (layout.alignRows) {
    address = y * CeilDiv(width, k) + x / k;
    slot = static_cast<unsigned>(x % k);
  } else {
    address = (y * width + x) / k;
    slot = static_cast<unsigned>((y * width + x) % k);
  }
  if (address >= words.size()) return 0;
  const unsigned shift = layout.pages ? slot * bits : (k - 1 - slot) * bits;
  return static_cast<std::uint32_t>((words[address] >> shift) & ((std::uint64_t{1} << bits) - 1));
}

void ShowRow(const WordLayout& layout, std::uint64_t width, std::span<const std::uint64_t> words,
             std::uint64_t y, std::span<std::uint8_t> bgrx) {
  for (std::uint64_t x = 0; x < width && 4 * x + 3 < bgrx.size(); ++x) {
    const Rgb8 c = ShowPixel(layout.format, PixelAt(layout, width, words, x, y));
    std::uint8_t* p = bgrx.data() + 4 * x;
    p[0] = c.blue;
    p[1] = c.green;
    p[2] = c.red;
    p[3] = 0;
  }
}

bool ParseWordBits(std::string_view text, unsigned& bits) {
  if (text.empty() || text.size() > 2) return false;
  unsigned n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n < 1 || n > kMaxWordBits) return false;
  bits = n;
  return true;
}

std::string UnknownPixelFormat(std::string_view name) {
  return "--pixel takes rgbXYZ or bgrXYZ (X, Y and Z each 1 to 8), grayN (N 1 to 8) or mono, "
         "such as rgb444, rgb565, bgr233, gray4; not '" + std::string(name) + "'";
}

WordPacker::WordPacker(const WordLayout& layout, std::uint64_t width, WordSink sink)
    : layout_(layout),
      width_(width),
      sink_(std::move(sink)),
      bits_(PixelBits(layout.format)),
      perWord_(PixelsPerWord(layout)) {
  if (layout_.pages) page_.assign(width_, 0);
  out_.resize(kBatchWords);
}

bool WordPacker::Flush() {
  if (ok_ && count_ > 0) ok_ = sink_(std::span<const std::uint64_t>(out_.data(), count_));
  count_ = 0;
  return ok_;
}

bool WordPacker::PutRow(std::span<const std::uint32_t> values) {
  if (!ok_) return false;
  if (layout_.pages) {
    // Row r of a page lands in bits r * pixel bits of each column's word.
    const unsigned shift = pageRows_ * bits_;
    const std::size_t count = std::min<std::size_t>(values.size(), page_.size());
    for (std::size_t x = 0; x < count; ++x) page_[x] |= std::uint64_t{values[x]} << shift;
    if (++pageRows_ == perWord_) {
      for (std::uint64_t& word : page_) {
        if (!Emit(word)) return false;
        word = 0;
      }
      pageRows_ = 0;
    }
    return ok_;
  }
  const std::size_t count = values.size();
  std::size_t x = 0;
  // The word begun by the last row first, then whole words in a tight loop, then the start
  // of the next word.
  for (; filled_ > 0 && x < count; ++x) {
    word_ = word_ << bits_ | values[x];
    if (++filled_ == perWord_) {
      if (!Emit(word_)) return false;
      word_ = 0;
      filled_ = 0;
    }
  }
  const std::uint32_t* value = values.data();
  const unsigned bits = bits_, perWord = perWord_;
  while (count - x >= perWord) {
    // As many words as the batch has room for.
    const std::size_t n = std::min<std::size_t>((count - x) / perWord, out_.size() - count_);
    std::uint64_t* out = out_.data() + count_;
    PackWords(value + x, n, perWord, bits, out);
    x += n * perWord;
    count_ += n;
    if (count_ == out_.size() && !Flush()) return false;
  }
  for (; x < count; ++x) {
    word_ = word_ << bits_ | values[x];
    ++filled_;
  }
  if (layout_.alignRows && filled_ > 0) {
    if (!Emit(word_ << (perWord_ - filled_) * bits_)) return false;
    word_ = 0;
    filled_ = 0;
  }
  return ok_;
}

bool WordPacker::Finish() {
  if (!ok_) return false;
  if (layout_.pages && pageRows_ > 0) {
    for (const std::uint64_t word : page_) {
      if (!Emit(word)) return false;
    }
    pageRows_ = 0;
  }
  if (filled_ > 0) {
    // Zero pixels complete the word; a shift by the word's whole width cannot occur, as
    // fewer than k pixels are in it.
    if (!Emit(word_ << (perWord_ - filled_) * bits_)) return false;
    filled_ = 0;
  }
  return Flush();
}

}  // namespace rastrom
