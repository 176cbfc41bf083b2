#include "coe_reader.h"

#include <cstddef>
#include <string_view>

namespace rastrom {

namespace {

constexpr std::string_view kRadixKeyword = "MEMORY_INITIALIZATION_RADIX";
constexpr std::string_view kVectorKeyword = "MEMORY_INITIALIZATION_VECTOR";

bool IsSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Control bytes other than white space never occur in text; bytes of 0x80 and above may,
// in comments (UTF-8, or a code page), and are refused elsewhere as what they are not.
bool IsText(std::uint8_t c) { return (c >= 0x20 && c != 0x7F) || IsSpace(c); }

// Ends a word: white space and the format's punctuation.
bool EndsWord(std::uint8_t c) { return IsSpace(c) || c == ',' || c == ';' || c == '=' || !IsText(c); }

// A token for a message: at most 24 characters, anything but printable ASCII as \xNN.
std::string Quote(std::string_view token) {
  constexpr std::size_t kMaxShown = 24;
  std::string quoted = "'";
  for (std::size_t i = 0; i < token.size() && i < kMaxShown; ++i) {
    const auto c = static_cast<unsigned char>(token[i]);
    if (c >= 0x20 && c < 0x7F) {
      quoted += static_cast<char>(c);
    } else {
      constexpr char kHex[] = "0123456789ABCDEF";
      quoted += "\\x";
      quoted += kHex[c >> 4];
      quoted += kHex[c & 15];
    }
  }
  if (token.size() > kMaxShown) quoted += "...";
  return quoted + "'";
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// The value of one digit in any radix up to 16, or 16 for a byte that is no digit.
unsigned DigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return 16;
}

// Reads the text once from the start. Every step looks at the byte under the cursor only
// after checking that one is left, and moves forward by at least one byte or stops, so the
// time is linear in the text's length; the only growing memory is the list of values,
// fewer than one for every two bytes of text.
//
// A semicolon ends the radix statement right after its value and ends the vector right
// after a value; anywhere else it begins a comment that runs to the end of the line. So
// comment lines may stand before, between and after the statements and between the
// vector's lines after a comma, and a statement may be followed by a comment on its line.
class CoeParser {
 public:
  explicit CoeParser(std::span<const std::uint8_t> text) : text_(text) {}

  CoeContents Parse() {
    CoeContents result;
    // An editor's UTF-8 byte order mark says nothing about the contents.
    if (text_.size() >= 3 && text_[0] == 0xEF && text_[1] == 0xBB && text_[2] == 0xBF) pos_ = 3;
    if (!CheckText()) return Fail(result);

    while (true) {
      SkipSpace(true);
      if (AtEnd()) break;
      if (vectorEndLine_ != 0) {
        error_ = "text after the vector's closing ';' (line " + std::to_string(vectorEndLine_) +
                 "); only comments may follow it";
        return Fail(result);
      }
      const std::size_t keywordLine = line_;
      const std::string_view keyword = Word();
      if (keyword.empty()) {
        error_ = "unexpected " + Quote(std::string_view(Here(), 1)) +
                 "; MEMORY_INITIALIZATION_RADIX or MEMORY_INITIALIZATION_VECTOR expected";
        return Fail(result);
      }
      if (EqualsIgnoringCase(keyword, kRadixKeyword)) {
        if (result.radix != 0) {
          error_ = "a second MEMORY_INITIALIZATION_RADIX";
          return Fail(result);
        }
        if (!ExpectEquals(kRadixKeyword) || !ReadRadix(result.radix)) return Fail(result);
      } else if (EqualsIgnoringCase(keyword, kVectorKeyword)) {
        if (result.radix == 0) {
          line_ = keywordLine;
          error_ = "MEMORY_INITIALIZATION_VECTOR before MEMORY_INITIALIZATION_RADIX; the radix "
                   "must come first";
          return Fail(result);
        }
        if (!ExpectEquals(kVectorKeyword) || !ReadVector(result.radix, result.words)) {
          return Fail(result);
        }
      } else {
        line_ = keywordLine;
        error_ = "unknown keyword " + Quote(keyword) +
                 "; MEMORY_INITIALIZATION_RADIX or MEMORY_INITIALIZATION_VECTOR expected";
        return Fail(result);
      }
    }
    if (result.radix == 0) {
      error_ = "the file ends without MEMORY_INITIALIZATION_RADIX";
      return Fail(result);
    }
    if (vectorEndLine_ == 0) {
      error_ = "the file ends without MEMORY_INITIALIZATION_VECTOR";
      return Fail(result);
    }
    return result;
  }

 private:
  // Names the line where the reading stopped, and leaves nothing else in the result.
  CoeContents Fail(CoeContents& result) {
    result.words.clear();
    result.words.shrink_to_fit();
    result.radix = 0;
    result.error = "line " + std::to_string(line_) + ": " + error_;
    return std::move(result);
  }

  // A file with a control byte other than white space is not text at all; saying so up
  // front serves better than complaining about the first such byte as a token.
  bool CheckText() {
    std::size_t line = 1;
    for (std::size_t i = pos_; i < text_.size(); ++i) {
      const std::uint8_t c = text_[i];
      if (c == '\n') ++line;
      if (!IsText(c)) {
        constexpr char kHex[] = "0123456789ABCDEF";
        line_ = line;
        error_ = std::string("byte 0x") + kHex[c >> 4] + kHex[c & 15] +
                 " is not text; a COE file is plain text (ASCII)";
        return false;
      }
    }
    return true;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  const char* Here() const { return reinterpret_cast<const char*>(text_.data() + pos_); }

  // Skips white space, counting lines, and with `comments` also comments.
  void SkipSpace(bool comments) {
    while (!AtEnd()) {
      const std::uint8_t c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (IsSpace(c)) {
        ++pos_;
      } else if (comments && c == ';') {
        while (!AtEnd() && text_[pos_] != '\n') ++pos_;
      } else {
        return;
      }
    }
  }

  // The run of bytes up to the next white space or punctuation; empty at either.
  std::string_view Word() {
    const std::size_t start = pos_;
    while (!AtEnd() && !EndsWord(text_[pos_])) ++pos_;
    return {reinterpret_cast<const char*>(text_.data() + start), pos_ - start};
  }

  bool ExpectEquals(std::string_view keyword) {
    SkipSpace(true);
    if (AtEnd() || text_[pos_] != '=') {
      error_ = "'=' expected after " + std::string(keyword);
      return false;
    }
    ++pos_;
    return true;
  }

  bool ReadRadix(unsigned& radix) {
    SkipSpace(true);
    const std::string_view value = Word();
    if (value.empty()) {
      error_ = "MEMORY_INITIALIZATION_RADIX has no value; 2, 10 or 16 expected";
      return false;
    }
    // Leading zeros are harmless; anything but a decimal 2, 10 or 16 is refused.
    std::string_view digits = value;
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    if (digits == "2" || digits == "10" || digits == "16") {
      radix = digits == "2" ? 2 : digits == "10" ? 10 : 16;
    } else {
      error_ = "radix " + Quote(value) + " is not 2, 10 or 16";
      return false;
    }
    SkipSpace(false);
    if (AtEnd() || text_[pos_] != ';') {
      error_ = "';' expected after MEMORY_INITIALIZATION_RADIX=" + std::string(digits);
      return false;
    }
    ++pos_;
    return true;
  }

  // Reads values up to the closing semicolon: separated by commas or white space, no two
  // commas without a value between them.
  bool ReadVector(unsigned radix, std::vector<std::uint32_t>& words) {
    // A vector without values is at fault where it begins, not past the comments that follow.
    const std::size_t startLine = line_;
    bool afterValue = false;  // a value was the last thing read, so ';' ends the vector
    while (true) {
      SkipSpace(!afterValue);
      if (AtEnd()) {
        if (words.empty()) line_ = startLine;
        error_ = words.empty() ? "the vector has no values"
                               : "the file ends before the vector's closing ';' after its last value";
        return false;
      }
      const std::uint8_t c = text_[pos_];
      if (c == ';') {  // only reached after a value
        ++pos_;
        vectorEndLine_ = line_;
        return true;
      }
      if (c == ',') {
        if (!afterValue) {
          error_ = words.empty() ? "a value is missing before the first ','"
                                 : "a value is missing between two commas";
          return false;
        }
        ++pos_;
        afterValue = false;
        continue;
      }
      if (c == '=') {
        error_ = "unexpected '=' in the vector";
        return false;
      }
      std::uint32_t value = 0;
      if (!ParseValue(Word(), radix, value)) return false;
      words.push_back(value);
      afterValue = true;
    }
  }

  bool ParseValue(std::string_view token, unsigned radix, std::uint32_t& value) {
    std::uint64_t v = 0;
    for (const char c : token) {
      const unsigned digit = DigitValue(c);
      if (digit >= radix) {
        error_ = Quote(std::string_view(&c, 1)) + " in " + Quote(token) +
                 " is not a digit of radix " + std::to_string(radix);
        return false;
      }
      v = v * radix + digit;
      if (v > 0xFFFFFFFFu) {  // checked at every digit, so v never exceeds 2^32 * 16
        error_ = "the value " + Quote(token) + " does not fit in 32 bits";
        return false;
      }
    }
    value = static_cast<std::uint32_t>(v);
    return true;
  }

  std::span<const std::uint8_t> text_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  std::size_t vectorEndLine_ = 0;  // the line of the vector's closing ';', once read
  std::string error_;
};

}  // namespace

CoeContents ReadCoe(std::span<const std::uint8_t> text) { return CoeParser(text).Parse(); }

}  // namespace rastrom
