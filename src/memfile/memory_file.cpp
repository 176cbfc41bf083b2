#include "memory_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "coe_writer.h"

namespace rastrom {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
// Small enough to stay in the cache beside the words it is made of.
constexpr std::size_t kPieceSize = std::size_t{64} << 10;
// A 16-digit address, " : ", 16 digits and ";\r\n" at most, or a file's last words.
constexpr std::size_t kLongestLine = 64;

// The two upper-case hexadecimal digits of every byte value.
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  std::array<std::array<char, 2>, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = {"0123456789ABCDEF"[i >> 4], "0123456789ABCDEF"[i & 15]};
  return table;
}();
// The same pairs as they lie in memory, for storing several at once.
constexpr std::array<std::uint16_t, 256> kHexPairs16 = [] {
  std::array<std::uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = std::bit_cast<std::uint16_t>(kHexPairs[i]);
  return table;
}();
constexpr std::string_view kMifHeaderTail = "ADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\nCONTENT BEGIN\n";
constexpr std::string_view kRowsAligned = "; rows aligned";
constexpr std::string_view kDisplayPages = "; display pages";

std::string Decimal(std::uint64_t n) { return std::to_string(n); }

// The number of hexadecimal digits that the largest address, depth - 1, needs (at least 1).
unsigned AddressDigits(std::uint64_t depth) {
  unsigned digits = 1;
  for (std::uint64_t last = depth > 0 ? depth - 1 : 0; last > 15; last >>= 4) ++digits;
  return digits;
}

unsigned WordDigits(unsigned wordBits) { return (wordBits + 3) / 4; }

std::string_view Comment(MemoryFormat format) {
  return format == MemoryFormat::kMem ? "// " : format == MemoryFormat::kMif ? "-- " : "; ";
}

std::string_view LineEnd(MemoryFormat format) {
  return format == MemoryFormat::kCoe ? "\r\n" : "\n";
}

// The text before the words: the comment, then the format's own header.
std::string Header(const WordFile& file) {
  std::string text;
  if (!file.comment.empty()) {
    text += Comment(file.format);
    text += file.comment;
    text += LineEnd(file.format);
  }
  if (file.format == MemoryFormat::kMif) {
    text += "WIDTH=" + Decimal(file.wordBits) + ";\nDEPTH=" + Decimal(file.depth) + ";\n";
    text += kMifHeaderTail;
  } else if (file.format == MemoryFormat::kCoe) {
    text += CoeHeader(file.depth, file.wordBits);
  }
  return text;
}

// Reads a decimal number of at most 18 digits from the front of `text`.
bool TakeNumber(std::string_view& text, std::uint64_t& n) {
  std::size_t used = 0;
  n = 0;
  while (used < text.size() && used < 18 && text[used] >= '0' && text[used] <= '9') {
    n = n * 10 + static_cast<std::uint64_t>(text[used++] - '0');
  }
  if (used == 0 || (used < text.size() && text[used] >= '0' && text[used] <= '9')) return false;
  text.remove_prefix(used);
  return true;
}

bool TakeText(std::string_view& text, std::string_view expected) {
  if (text.substr(0, expected.size()) != expected) return false;
  text.remove_prefix(expected.size());
  return true;
}

}  // namespace

std::string DescriptionText(const MemoryDescription& d) {
  std::string text;
  for (const char c : d.source) {
    const bool plain = c >= 0x20 && c <= 0x7E && c != '*' && c != '%';
    text += plain ? c : '?';
  }
  if (!text.empty()) text += ": ";
  if (d.width > 0 && d.height > 0) {
    text += Decimal(d.width) + " x " + Decimal(d.height);
  } else {
    text += Decimal(d.pixelCount);
  }
  text += " pixels of " + PixelDescription(d.layout.format) + ", " +
          Decimal(PixelsPerWord(d.layout)) + " to a word; depth " + Decimal(d.depth) +
          ", width " + Decimal(d.layout.wordBits);
  if (d.layout.alignRows) text += kRowsAligned;
  if (d.layout.pages) text += kDisplayPages;
  return text;
}

std::optional<MemoryDescription> ParseDescription(std::string_view text) {
  // The name may hold anything, even " pixels of "; what follows the last one is ours.
  const std::size_t of = text.rfind(" pixels of ");
  if (of == std::string_view::npos) return std::nullopt;
  MemoryDescription d;
  std::string_view size = text.substr(0, of);
  if (const std::size_t colon = size.rfind(": "); colon != std::string_view::npos) {
    d.source = std::string(size.substr(0, colon));
    size.remove_prefix(colon + 2);
  }
  std::uint64_t first = 0;
  if (!TakeNumber(size, first)) return std::nullopt;
  if (size.empty()) {
    d.pixelCount = first;
  } else {
    if (!TakeText(size, " x ") || !TakeNumber(size, d.height) || !size.empty() || first == 0 ||
        d.height == 0 || first > 0xFFFFFFFF || d.height > 0xFFFFFFFF) {
      return std::nullopt;
    }
    d.width = first;
    d.pixelCount = d.width * d.height;
  }

  std::string_view rest = text.substr(of + 11);
  const std::size_t comma = rest.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  const std::optional<PixelFormat> format = ParsePixelDescription(rest.substr(0, comma));
  if (!format) return std::nullopt;
  d.layout.format = *format;
  rest.remove_prefix(comma);
  std::uint64_t perWord = 0, bits = 0;
  if (!TakeText(rest, ", ") || !TakeNumber(rest, perWord) || !TakeText(rest, " to a word; depth ") ||
      !TakeNumber(rest, d.depth) || !TakeText(rest, ", width ") || !TakeNumber(rest, bits) ||
      bits > kMaxWordBits) {
    return std::nullopt;
  }
  d.layout.wordBits = static_cast<unsigned>(bits);
  d.layout.alignRows = TakeText(rest, kRowsAligned);
  d.layout.pages = TakeText(rest, kDisplayPages);
  // Anything after it, or numbers that contradict each other, and it is not ours.
  if (!rest.empty() || !CheckWordLayout(d.layout).empty() || PixelsPerWord(d.layout) != perWord) {
    return std::nullopt;
  }
  if ((d.layout.alignRows || d.layout.pages) && d.width == 0) return std::nullopt;
  return d;
}

std::uint64_t WordFileSize(const WordFile& file) {
  const std::uint64_t header = Header(file).size();
  const std::uint64_t digits = WordDigits(file.wordBits);
  switch (file.format) {
    case MemoryFormat::kMem:
      return header + file.depth * (digits + 1);
    case MemoryFormat::kMif:
      // "<address> : <word>;\n", then "END;\n".
      return header + file.depth * (AddressDigits(file.depth) + 3 + digits + 2) + 5;
    case MemoryFormat::kCoe:
      // "<word>,\r\n" and the last "<word>;\r\n"; no word at all is ";\r\n".
      return header + (file.depth == 0 ? 3 : file.depth * (digits + 3));
  }
  return 0;
}

WordFileWriter::WordFileWriter(const WordFile& file, TextSink sink)
    : file_(file),
      sink_(std::move(sink)),
      digits_(WordDigits(file.wordBits)),
      addressDigits_(AddressDigits(file.depth)) {
  piece_ = std::make_unique_for_overwrite<char[]>(kPieceSize + kLongestLine);
}

void WordFileWriter::Start() {
  if (started_) return;
  started_ = true;
  // The header goes out on its own: it may be longer than a piece.
  const std::string header = Header(file_);
  if (ok_ && !header.empty()) ok_ = sink_(header);
}

void WordFileWriter::Flush() {
  if (ok_ && used_ > 0) ok_ = sink_(std::string_view(piece_.get(), used_));
  used_ = 0;
}

void WordFileWriter::PutWord(std::uint64_t word) {
  char* p = piece_.get() + used_;
  if (file_.format == MemoryFormat::kMif) {
    for (unsigned d = addressDigits_; d-- > 0;) *p++ = kDigits[(written_ >> (4 * d)) & 15];
    *p++ = ' ';
    *p++ = ':';
    *p++ = ' ';
  }
  // An odd digit first, then two digits at a time.
  unsigned d = digits_;
  if (d % 2 != 0) *p++ = kDigits[(word >> (4 * --d)) & 15];
  for (; d > 0; d -= 2, p += 2) std::memcpy(p, kHexPairs[(word >> (4 * d - 8)) & 0xFF].data(), 2);
  ++written_;
  if (file_.format == MemoryFormat::kMif) {
    *p++ = ';';
  } else if (file_.format == MemoryFormat::kCoe) {
    *p++ = written_ == file_.depth ? ';' : ',';
    *p++ = '\r';
  }
  *p++ = '\n';
  used_ = static_cast<std::size_t>(p - piece_.get());
}

namespace {

// Writes the `Digits` hexadecimal digits of each word and a line feed, one word a line,
// into `out`, which has room for them; returns the end of the text.
// The three digits and the line feed of every 12-bit word, as they lie in memory.
const std::array<std::uint32_t, 4096> kTwelveBitLines = [] {
  std::array<std::uint32_t, 4096> table{};
  for (unsigned i = 0; i < 4096; ++i) {
    const char line[4] = {kDigits[i >> 8], kDigits[(i >> 4) & 15], kDigits[i & 15], '\n'};
    std::memcpy(&table[i], line, 4);
  }
  return table;
}();

template <unsigned Digits>
char* MemLines(const std::uint64_t* words, std::size_t count, char* out) {
  if constexpr (Digits == 3) {
    // A 12-bit word (4-4-4 pixels) is the commonest wide one: a line is one table entry.
    for (std::size_t i = 0; i < count; ++i, out += 4) {
      std::memcpy(out, &kTwelveBitLines[words[i] & 0xFFF], 4);
    }
    return out;
  } else if constexpr (Digits % 2 == 0 && Digits <= 8 && std::endian::native == std::endian::little) {
    // Up to four pairs of digits gathered in one number and stored at once.
    constexpr unsigned kPairs = Digits / 2;
    for (std::size_t i = 0; i < count; ++i, out += Digits + 1) {
      const std::uint64_t word = words[i];
      std::uint64_t line = 0;
      for (unsigned k = 0; k < kPairs; ++k) {
        line |= std::uint64_t{kHexPairs16[(word >> (8 * (kPairs - 1 - k))) & 0xFF]} << (16 * k);
      }
      std::memcpy(out, &line, Digits);
      out[Digits] = '\n';
    }
    return out;
  }
  constexpr unsigned kPairs = Digits / 2;
  constexpr std::size_t kLine = Digits + 1;
  for (std::size_t i = 0; i < count; ++i, out += kLine) {
    const std::uint64_t word = words[i];
    char* p = out;
    if constexpr (Digits % 2 != 0) *p++ = kDigits[(word >> (4 * (Digits - 1))) & 15];
    for (unsigned k = 0; k < kPairs; ++k, p += 2) {
      std::memcpy(p, kHexPairs[(word >> (8 * (kPairs - 1 - k))) & 0xFF].data(), 2);
    }
    *p = '\n';
  }
  return out;
}

using MemLinesFunction = char* (*)(const std::uint64_t*, std::size_t, char*);

template <unsigned... Digits>
constexpr std::array<MemLinesFunction, sizeof...(Digits) + 1> MakeMemLinesTable(
    std::integer_sequence<unsigned, Digits...>) {
  return {nullptr, &MemLines<Digits + 1>...};
}

// MemLines for 1 to 16 digits, by the number of digits.
constexpr auto kMemLines = MakeMemLinesTable(std::make_integer_sequence<unsigned, 16>{});

}  // namespace

bool WordFileWriter::Put(std::span<const std::uint64_t> words) {
  Start();
  if (file_.format == MemoryFormat::kMem) {
    // One word a line and nothing else: whole runs of lines at once, as many as the
    // piece has room for.
    std::size_t left = static_cast<std::size_t>(std::min<std::uint64_t>(words.size(), file_.depth - written_));
    const std::uint64_t* word = words.data();
    const std::size_t line = digits_ + 1;
    const MemLinesFunction lines = kMemLines[digits_];
    while (left > 0 && ok_) {
      const std::size_t n = std::min(left, (kPieceSize + kLongestLine - used_) / line);
      used_ = static_cast<std::size_t>(lines(word, n, piece_.get() + used_) - piece_.get());
      word += n;
      left -= n;
      written_ += n;
      if (used_ >= kPieceSize || left > 0) Flush();
    }
    return ok_;
  }
  for (const std::uint64_t word : words) {
    if (written_ == file_.depth || !ok_) break;
    PutWord(word);
    if (used_ >= kPieceSize) Flush();
  }
  return ok_;
}

bool WordFileWriter::Finish() {
  Start();
  while (written_ < file_.depth && ok_) {
    PutWord(0);
    if (used_ >= kPieceSize) Flush();
  }
  const std::string_view tail = file_.format == MemoryFormat::kMif ? "END;\n"
                                : file_.format == MemoryFormat::kCoe && file_.depth == 0 ? ";\r\n"
                                                                                          : "";
  std::memcpy(piece_.get() + used_, tail.data(), tail.size());
  used_ += tail.size();
  Flush();
  return ok_;
}

MemoryPicture DescribedPicture(const std::optional<MemoryDescription>& description,
                               unsigned statedBits, std::uint64_t wordCount) {
  MemoryPicture picture;
  if (description) {
    picture.layout = description->layout;
    picture.width = description->width;
    picture.height = description->height;
    // A count is never more than the words hold: the description is not trusted for it.
    picture.pixelCount = picture.width > 0
                             ? description->pixelCount
                             : std::min(description->pixelCount, wordCount * PixelsPerWord(picture.layout));
    return picture;
  }
  picture.layout.wordBits = IsMemoryWordWidth(statedBits) ? statedBits : 32;
  picture.pixelCount = wordCount * PixelsPerWord(picture.layout);
  return picture;
}

// --- The 3-3-2 bytes of the first memory files -----------------------------------------

namespace {

MemoryDescription Describe332(const MemoryFileLayout& layout, std::uint64_t pixelCount) {
  MemoryDescription d;
  d.source = std::string(layout.source);
  if (layout.width > 0 && layout.height > 0) {
    d.width = static_cast<std::uint64_t>(layout.width);
    d.height = static_cast<std::uint64_t>(layout.height);
  }
  d.pixelCount = pixelCount;
  d.layout.wordBits = layout.wordBits;
  d.depth = MemoryDepth(pixelCount, layout.wordBits);
  return d;
}

WordFile File332(const MemoryFileLayout& layout, std::uint64_t pixelCount) {
  const MemoryDescription d = Describe332(layout, pixelCount);
  return WordFile{layout.format, layout.wordBits, d.depth, DescriptionText(d)};
}

}  // namespace

bool IsMemoryWordWidth(unsigned wordBits) {
  return wordBits == 8 || wordBits == 16 || wordBits == 32;
}

std::uint64_t MemoryDepth(std::uint64_t pixelCount, unsigned wordBits) {
  const unsigned perWord = wordBits / 8;
  return perWord == 0 ? 0 : pixelCount / perWord + (pixelCount % perWord != 0 ? 1 : 0);
}

std::uint64_t MemoryFileSize(const MemoryFileLayout& layout, std::uint64_t pixelCount) {
  if (!IsMemoryWordWidth(layout.wordBits)) return 0;
  return WordFileSize(File332(layout, pixelCount));
}

bool FormatMemoryFile(const MemoryFileLayout& layout, std::span<const std::uint8_t> pixels,
                      const TextSink& sink) {
  if (!IsMemoryWordWidth(layout.wordBits)) return false;
  WordFileWriter writer(File332(layout, pixels.size()), sink);
  // Bytes into words, the first in the top byte; a pixel past the end is 00.
  const std::size_t perWord = layout.wordBits / 8;
  std::vector<std::uint64_t> words;
  words.reserve(4096);
  for (std::size_t first = 0; first < pixels.size(); first += perWord) {
    std::uint64_t word = 0;
    for (std::size_t i = first; i < first + perWord; ++i) {
      word = word << 8 | (i < pixels.size() ? pixels[i] : 0);
    }
    words.push_back(word);
    if (words.size() == 4096) {
      if (!writer.Put(words)) return false;
      words.clear();
    }
  }
  if (!writer.Put(words)) return false;
  return writer.Finish();
}

}  // namespace rastrom
