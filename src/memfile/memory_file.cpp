#include "memory_file.h"

#include <array>
#include <string>

namespace rastrom {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr std::size_t kPieceSize = std::size_t{256} << 10;

// The comment's text for a picture of `pixelCount` pixels, without the comment marker.
// The name is a file name, which may hold any byte: everything but printable ASCII becomes
// '?', and so do '*' (Yosys reads "/*" inside a // comment as the start of a block comment
// and then silently loads no words) and '%' (a MIF block comment's delimiter).
std::string CommentText(const MemoryFileLayout& layout, std::uint64_t pixelCount) {
  std::string text;
  for (const char c : layout.source) {
    const bool plain = c >= 0x20 && c <= 0x7E && c != '*' && c != '%';
    text += plain ? c : '?';
  }
  if (!text.empty()) text += ": ";
  if (layout.width > 0 && layout.height > 0) {
    text += std::to_string(layout.width) + " x " + std::to_string(layout.height);
  } else {
    text += std::to_string(pixelCount);
  }
  text += " pixels of 3-3-2 RGB, " + std::to_string(layout.wordBits / 8) + " to a word; depth " +
          std::to_string(MemoryDepth(pixelCount, layout.wordBits)) + ", width " +
          std::to_string(layout.wordBits);
  return text;
}

// The number of hexadecimal digits that the largest address, depth - 1, needs (at least 1).
unsigned AddressDigits(std::uint64_t depth) {
  unsigned digits = 1;
  for (std::uint64_t last = depth > 0 ? depth - 1 : 0; last > 15; last >>= 4) ++digits;
  return digits;
}

// Collects text in a piece and hands full pieces to the sink.
class PieceWriter {
 public:
  explicit PieceWriter(const TextSink& sink) : sink_(sink) { piece_.reserve(kPieceSize + 64); }
  void Put(std::string_view text) {
    piece_ += text;
    if (piece_.size() >= kPieceSize) Flush();
  }
  void Put(char c) { piece_ += c; }
  void Flush() {
    if (ok_ && !piece_.empty()) ok_ = sink_(piece_);
    piece_.clear();
  }
  bool ok() const { return ok_; }

 private:
  const TextSink& sink_;
  std::string piece_;
  bool ok_ = true;
};

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
  const std::uint64_t depth = MemoryDepth(pixelCount, layout.wordBits);
  const std::uint64_t comment = 3 + CommentText(layout, pixelCount).size() + 1;  // "// " text LF
  const std::uint64_t digits = layout.wordBits / 4;
  if (layout.format == MemoryFormat::kMem) return comment + depth * (digits + 1);
  const std::uint64_t header = std::string_view("WIDTH=;\nDEPTH=;\n").size() +
                               std::to_string(layout.wordBits).size() +
                               std::to_string(depth).size() +
                               std::string_view("ADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\n"
                                                "CONTENT BEGIN\n")
                                   .size();
  // "<address> : <word>;\n"
  const std::uint64_t line = AddressDigits(depth) + 3 + digits + 2;
  return comment + header + depth * line + std::string_view("END;\n").size();
}

bool FormatMemoryFile(const MemoryFileLayout& layout, std::span<const std::uint8_t> pixels,
                      const TextSink& sink) {
  if (!IsMemoryWordWidth(layout.wordBits)) return false;
  const bool mif = layout.format == MemoryFormat::kMif;
  const std::size_t perWord = layout.wordBits / 8;
  const std::uint64_t depth = MemoryDepth(pixels.size(), layout.wordBits);

  PieceWriter out(sink);
  out.Put(mif ? "-- " : "// ");
  out.Put(CommentText(layout, pixels.size()));
  out.Put('\n');
  if (mif) {
    out.Put("WIDTH=" + std::to_string(layout.wordBits) + ";\n");
    out.Put("DEPTH=" + std::to_string(depth) + ";\n");
    out.Put("ADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\nCONTENT BEGIN\n");
  }

  const unsigned addressDigits = AddressDigits(depth);
  std::array<char, 48> line{};
  for (std::uint64_t address = 0; address < depth; ++address) {
    std::size_t n = 0;
    if (mif) {
      for (unsigned d = addressDigits; d-- > 0;) line[n++] = kDigits[(address >> (4 * d)) & 15];
      for (const char c : {' ', ':', ' '}) line[n++] = c;
    }
    // A pixel past the end, in the last word only, is written as 00.
    const std::size_t first = static_cast<std::size_t>(address) * perWord;
    for (std::size_t i = first; i < first + perWord; ++i) {
      const std::uint8_t byte = i < pixels.size() ? pixels[i] : 0;
      line[n++] = kDigits[byte >> 4];
      line[n++] = kDigits[byte & 15];
    }
    if (mif) line[n++] = ';';
    line[n++] = '\n';
    out.Put(std::string_view(line.data(), n));
    if (!out.ok()) return false;
  }
  if (mif) out.Put("END;\n");
  out.Flush();
  return out.ok();
}

}  // namespace rastrom
