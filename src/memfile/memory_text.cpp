// Reading .mem and .mif texts back, and the description at the head of a COE file.
#include <algorithm>
#include <string>

#include "memory_file.h"

namespace rastrom {

namespace {

constexpr std::uint64_t kMaxWords = std::uint64_t{1} << 28;

// The most words a text of `bytes` bytes may give: an @address or a DEPTH may leave words
// unset (zero), but a few bytes must not demand gigabytes, so at most 64 words a byte.
std::uint64_t WordLimit(std::size_t bytes) {
  return std::min<std::uint64_t>(kMaxWords, 64 * std::uint64_t{bytes} + 4096);
}

bool IsSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool IsWordByte(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

unsigned DigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return 99;
}

// A token for a message: at most 24 characters.
std::string Quote(std::string_view token) {
  std::string quoted(1, '\'');
  quoted.append(token.substr(0, 24));
  quoted.append(token.size() > 24 ? "...'" : "'");
  return quoted;
}

// The tokens of a .mem or .mif text, with their line numbers. Comments are skipped; the
// first one's text is kept.
class Lexer {
 public:
  Lexer(std::span<const std::uint8_t> text, MemoryFormat format) : text_(text), format_(format) {}

  // The next token: a run of letters, digits and '_', "@" with its address for .mem, or one
  // punctuation byte ("." runs as one). Empty at the end, or after an error.
  std::string_view Next() {
    if (!SkipBlanks()) return {};
    line_ = tokenLine_;
    const std::size_t start = at_;
    const std::uint8_t c = text_[at_];
    if (IsWordByte(c) || (c == '@' && format_ == MemoryFormat::kMem)) {
      ++at_;
      while (at_ < text_.size() && IsWordByte(text_[at_])) ++at_;
    } else if (c == '.') {
      while (at_ < text_.size() && text_[at_] == '.') ++at_;
    } else if (c == '=' || c == ';' || c == ':' || c == '[' || c == ']') {
      ++at_;
    } else {
      error_ = "line " + std::to_string(line_) + ": ";
      if (c >= 0x20 && c < 0x7F) {
        error_.append(1, '\'').append(1, static_cast<char>(c)).append("' is not expected here");
      } else {
        error_.append("a byte that is not text");
      }
      return {};
    }
    return std::string_view(reinterpret_cast<const char*>(text_.data()) + start, at_ - start);
  }

  unsigned long line() const { return line_; }
  const std::string& error() const { return error_; }
  bool sawWord() const { return sawToken_; }
  const std::optional<std::string>& firstComment() const { return firstComment_; }

 private:
  // Moves past blanks and comments to the next token; false at the end or on an error.
  bool SkipBlanks() {
    while (at_ < text_.size()) {
      const std::uint8_t c = text_[at_];
      if (c == '\n') {
        ++tokenLine_;
        ++at_;
      } else if (IsSpace(c)) {
        ++at_;
      } else if ((format_ == MemoryFormat::kMem && c == '/' && Peek(1) == '/') ||
                 (format_ == MemoryFormat::kMif && c == '-' && Peek(1) == '-')) {
        std::size_t end = at_;
        while (end < text_.size() && text_[end] != '\n') ++end;
        Keep(at_ + 2, end);
        at_ = end;
      } else if ((format_ == MemoryFormat::kMem && c == '/' && Peek(1) == '*') ||
                 (format_ == MemoryFormat::kMif && c == '%')) {
        const unsigned long opened = tokenLine_;
        const std::size_t body = at_ + (c == '%' ? 1 : 2);
        std::size_t end = body;
        while (end < text_.size() && !(c == '%' ? text_[end] == '%' : text_[end] == '*' && end + 1 < text_.size() && text_[end + 1] == '/')) {
          if (text_[end] == '\n') ++tokenLine_;
          ++end;
        }
        if (end >= text_.size()) {
          error_ = "line " + std::to_string(opened) + ": a comment that is never closed";
          return false;
        }
        Keep(body, end);
        at_ = end + (c == '%' ? 1 : 2);
      } else {
        sawToken_ = true;
        return true;
      }
    }
    return false;
  }

  std::uint8_t Peek(std::size_t ahead) const {
    return at_ + ahead < text_.size() ? text_[at_ + ahead] : 0;
  }

  // Keeps the first comment's text, without the blanks around it, if nothing came before.
  void Keep(std::size_t begin, std::size_t end) {
    if (firstComment_ || sawToken_) return;
    while (begin < end && IsSpace(text_[begin])) ++begin;
    while (end > begin && IsSpace(text_[end - 1])) --end;
    firstComment_ = std::string(reinterpret_cast<const char*>(text_.data()) + begin, end - begin);
  }

  std::span<const std::uint8_t> text_;
  MemoryFormat format_;
  std::size_t at_ = 0;
  unsigned long tokenLine_ = 1, line_ = 1;
  bool sawToken_ = false;
  std::optional<std::string> firstComment_;
  std::string error_;
};

// Reads `token` as a number in `radix` (2, 8, 10 or 16), '_' ignored, of at most 64 bits.
bool ParseNumber(std::string_view token, unsigned radix, std::uint64_t& value, std::string& why) {
  value = 0;
  bool any = false;
  for (const char c : token) {
    if (c == '_') continue;
    const unsigned digit = DigitValue(c);
    if (digit >= radix) {
      why = Quote(token) + " is not a number of radix " + std::to_string(radix);
      return false;
    }
    if (value > (~std::uint64_t{0} - digit) / radix) {
      why = Quote(token) + " does not fit in 64 bits";
      return false;
    }
    value = value * radix + digit;
    any = true;
  }
  if (!any) why = Quote(token) + " is not a number";
  return any;
}

class Reader {
 public:
  Reader(std::span<const std::uint8_t> text, MemoryFormat format, MemoryText& memory)
      : lex_(text, format), memory_(memory), limit_(WordLimit(text.size())) {}

  std::string ReadMem() {
    std::uint64_t address = 0;
    for (std::string_view token = lex_.Next(); !token.empty(); token = lex_.Next()) {
      Describe();
      std::uint64_t value = 0;
      if (token[0] == '@') {
        if (!Number(token.substr(1), 16, value)) return error_;
        if (value < address) return Fail("the address " + Quote(token) + " goes back");
        if (value > limit_) return Fail("the address " + Quote(token) + " is beyond " + std::to_string(limit_) + " words");
        address = value;
        continue;
      }
      if (!Number(token, 16, value) || !Fits(token, value)) return error_;
      if (address >= limit_) return Fail("more than " + std::to_string(limit_) + " words");
      if (memory_.words.size() <= address) memory_.words.resize(address + 1, 0);
      memory_.words[address++] = value;
    }
    Describe();
    return lex_.error().empty() ? std::string() : lex_.error();
  }

  std::string ReadMif() {
    unsigned addressRadix = 16, dataRadix = 16;
    std::uint64_t depth = 0;
    // The header: KEY = value; up to CONTENT BEGIN.
    for (std::string_view key = lex_.Next();; key = lex_.Next()) {
      Describe();
      if (key.empty()) return End("CONTENT BEGIN");
      if (SameWord(key, "CONTENT")) {
        const std::string_view begin = lex_.Next();
        if (!SameWord(begin, "BEGIN")) return End("BEGIN after CONTENT");
        break;
      }
      if (!Expect("=")) return error_;
      const std::string_view value = lex_.Next();
      if (value.empty()) return End("a value for " + std::string(key));
      std::uint64_t n = 0;
      if (SameWord(key, "WIDTH") || SameWord(key, "DEPTH")) {
        if (!Number(value, 10, n)) return error_;
        if (SameWord(key, "WIDTH")) {
          if (n < 1 || n > kMaxWordBits) return Fail("WIDTH must be 1 to 64, not " + Quote(value));
          memory_.statedBits = static_cast<unsigned>(n);
        } else {
          if (n < 1 || n > limit_) {
            return Fail("DEPTH must be 1 to " + std::to_string(limit_) + " for this file, not " + Quote(value));
          }
          depth = n;
        }
      } else if (SameWord(key, "ADDRESS_RADIX") || SameWord(key, "DATA_RADIX")) {
        unsigned radix = SameWord(value, "HEX") ? 16 : SameWord(value, "BIN") ? 2 : SameWord(value, "OCT") ? 8
                       : SameWord(value, "DEC") || SameWord(value, "UNS") ? 10 : 0;
        if (radix == 0) return Fail(Quote(value) + " is not a radix: HEX, BIN, OCT, DEC or UNS");
        (SameWord(key, "DATA_RADIX") ? dataRadix : addressRadix) = radix;
      } else {
        return Fail(Quote(key) + " is not a MIF header keyword");
      }
      if (!Expect(";")) return error_;
    }
    if (memory_.statedBits == 0 || depth == 0) {
      return Fail("CONTENT before " + std::string(memory_.statedBits == 0 ? "WIDTH" : "DEPTH"));
    }
    memory_.words.assign(depth, 0);
    // The content: address (or [first..last]) : value ... ; up to END;
    for (std::string_view token = lex_.Next();; token = lex_.Next()) {
      if (token.empty()) return End("END;");
      if (SameWord(token, "END")) {
        if (!Expect(";")) return error_;
        break;
      }
      std::uint64_t first = 0, last = 0;
      bool single = false;
      if (token == "[") {
        if (!Number(lex_.Next(), addressRadix, first) || !Expect("..") ||
            !Number(lex_.Next(), addressRadix, last) || !Expect("]")) {
          return error_;
        }
      } else if (Number(token, addressRadix, first)) {
        last = depth - 1;  // several values after one address fill the next addresses
        single = true;
      } else {
        return error_;
      }
      if (first >= depth || last < first || last >= depth) {
        return Fail("the address " + Quote(token) + " is outside DEPTH " + std::to_string(depth));
      }
      if (!Expect(":")) return error_;
      // One value fills the range; several are placed one after the other.
      std::uint64_t address = first;
      unsigned values = 0;
      for (std::string_view value = lex_.Next(); value != ";"; value = lex_.Next()) {
        if (value.empty()) return End("';'");
        std::uint64_t word = 0;
        if (!Number(value, dataRadix, word) || !Fits(value, word)) return error_;
        if (address > last) return Fail("more values than addresses from " + Quote(token));
        memory_.words[address++] = word;
        ++values;
      }
      if (values == 0) return Fail("no value for the address " + Quote(token));
      if (values == 1 && !single) {
        for (; address <= last; ++address) memory_.words[address] = memory_.words[first];
      }
    }
    const std::string_view after = lex_.Next();
    if (!after.empty()) return Fail(Quote(after) + " after END;");
    return lex_.error();
  }

 private:
  // Reads the first comment as the description once the first token has been seen.
  void Describe() {
    if (described_) return;
    described_ = true;
    if (lex_.firstComment()) memory_.description = ParseDescription(*lex_.firstComment());
    if (memory_.description && memory_.statedBits == 0) {
      memory_.statedBits = memory_.description->layout.wordBits;
    }
  }

  std::string Fail(const std::string& why) {
    error_ = "line " + std::to_string(lex_.line()) + ": " + why;
    return error_;
  }

  std::string End(const std::string& expected) {
    return lex_.error().empty() ? Fail("the file ends before " + expected) : (error_ = lex_.error());
  }

  bool Expect(std::string_view expected) {
    const std::string_view token = lex_.Next();
    if (token == expected) return true;
    const std::string wanted = Quote(expected);
    if (token.empty()) {
      End(wanted);
    } else {
      Fail(wanted + " expected, not " + Quote(token));
    }
    return false;
  }

  bool Number(std::string_view token, unsigned radix, std::uint64_t& value) {
    if (token.empty()) {
      End("a number");
      return false;
    }
    std::string why;
    if (ParseNumber(token, radix, value, why)) return true;
    Fail(why);
    return false;
  }

  bool Fits(std::string_view token, std::uint64_t value) {
    const unsigned bits = memory_.statedBits;
    if (bits == 0 || bits >= 64 || value >> bits == 0) return true;
    Fail("the word " + Quote(token) + " does not fit in " + std::to_string(bits) + " bits");
    return false;
  }

  Lexer lex_;
  MemoryText& memory_;
  std::uint64_t limit_;
  bool described_ = false;
  std::string error_;
};

}  // namespace

std::optional<MemoryFormat> SniffMemoryText(std::span<const std::uint8_t> text) {
  std::size_t at = 0;
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (at == text.size()) return std::nullopt;
  const auto rest = std::string_view(reinterpret_cast<const char*>(text.data()) + at,
                                     std::min<std::size_t>(text.size() - at, 16));
  if (rest.substr(0, 2) == "//" || rest.substr(0, 2) == "/*" || rest[0] == '@') return MemoryFormat::kMem;
  if (rest.substr(0, 2) == "--" || rest[0] == '%') return MemoryFormat::kMif;
  for (const std::string_view key : {"WIDTH", "DEPTH", "ADDRESS_RADIX", "DATA_RADIX", "CONTENT"}) {
    if (rest.size() > key.size() && SameWord(rest.substr(0, key.size()), key) && !IsWordByte(static_cast<std::uint8_t>(rest[key.size()]))) {
      return MemoryFormat::kMif;
    }
  }
  // A first word of hexadecimal digits only, such as "E01C03FF", starts a .mem file.
  std::size_t end = at;
  while (end < text.size() && (DigitValue(static_cast<char>(text[end])) < 16 || text[end] == '_')) ++end;
  if (end > at && (end == text.size() || IsSpace(text[end]) || text[end] == '/')) return MemoryFormat::kMem;
  return std::nullopt;
}

std::optional<MemoryDescription> CoeDescription(std::span<const std::uint8_t> text) {
  std::size_t at = 0;
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (at == text.size() || text[at] != ';') return std::nullopt;
  std::size_t end = at + 1;
  while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
  std::string_view line(reinterpret_cast<const char*>(text.data()) + at + 1, end - at - 1);
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  return ParseDescription(line);
}

std::string ReadMemoryText(std::span<const std::uint8_t> text, MemoryFormat format,
                           MemoryText& memory) {
  memory = MemoryText{};
  memory.format = format;
  Reader reader(text, format, memory);
  return format == MemoryFormat::kMif ? reader.ReadMif() : reader.ReadMem();
}

unsigned long CoeWordLine(std::span<const std::uint8_t> text, std::size_t index) {
  const std::string_view all(reinterpret_cast<const char*>(text.data()), text.size());
  unsigned long line = 1;
  std::size_t at = 0;
  // Past the keyword and its '=' (comments run from ';' to the line's end before it).
  for (; at < all.size(); ++at) {
    if (all[at] == '\n') ++line;
    if (all[at] == ';') {
      while (at < all.size() && all[at] != '\n') ++at;
      --at;
      continue;
    }
    if (all.size() - at > 28 && SameWord(all.substr(at, 28), "MEMORY_INITIALIZATION_VECTOR")) {
      at = all.find('=', at);
      break;
    }
  }
  if (at >= all.size()) return line;
  // The values, separated by blanks and commas.
  std::size_t seen = 0;
  for (++at; at < all.size(); ++at) {
    const auto c = static_cast<std::uint8_t>(all[at]);
    if (c == '\n') {
      ++line;
    } else if (IsWordByte(c)) {
      if (seen++ == index) return line;
      while (at + 1 < all.size() && IsWordByte(static_cast<std::uint8_t>(all[at + 1]))) ++at;
    }
  }
  return line;
}

}  // namespace rastrom
