#include "coe_writer.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>

#include "output_file.h"

namespace rastrom {

void MaskColor332(ColorTriple color, ColorTriple& masked) {
  masked.blue = static_cast<std::uint8_t>(color.blue & 0xC0);
  masked.green = static_cast<std::uint8_t>(color.green & 0xE0);
  masked.red = static_cast<std::uint8_t>(color.red & 0xE0);
}

std::uint8_t PackPixel332(ColorTriple masked) {
  return static_cast<std::uint8_t>(masked.red | (masked.green >> 3) | (masked.blue >> 6));
}

namespace {

// The two upper-case hexadecimal digits of every byte value, as they lie in memory.
constexpr std::array<std::uint16_t, 256> kHexPairs = [] {
  constexpr char digits[] = "0123456789ABCDEF";
  std::array<std::uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    table[i] = std::bit_cast<std::uint16_t>(std::array<char, 2>{digits[i >> 4], digits[i & 15]});
  }
  return table;
}();

std::uint8_t PixelByte(const std::uint8_t* pixel) {
  ColorTriple masked{};
  MaskColor332(ColorTriple{pixel[0], pixel[1], pixel[2]}, masked);
  return PackPixel332(masked);
}

}  // namespace

void ReducePixels332(const std::uint8_t* pixels, std::size_t pixelCount, std::uint8_t* out) {
  for (std::size_t i = 0; i < pixelCount; ++i) out[i] = PixelByte(pixels + 4 * i);
}

namespace {

// The eight digits of one word, the first pixel's byte leftmost, as they lie in memory.
std::uint64_t WordDigits(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
  // Pair k of the line sits at bytes 2k and 2k+1 whatever the byte order.
  constexpr bool little = std::endian::native == std::endian::little;
  auto at = [](int k) { return little ? 16 * k : 48 - 16 * k; };
  return std::uint64_t{kHexPairs[b0]} << at(0) | std::uint64_t{kHexPairs[b1]} << at(1) |
         std::uint64_t{kHexPairs[b2]} << at(2) | std::uint64_t{kHexPairs[b3]} << at(3);
}

// The digits of the four pixels at p. Where the byte order allows, two pixels are read as
// one 64-bit word (blue in the low byte of each half) and reduced together.
std::uint64_t LineDigits(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    // Red bits 7-5 stay at 7-5, green bits 7-5 go to 4-2, blue bits 7-6 to 1-0.
    auto reduce = [](std::uint64_t v) {
      return (v >> 16 & 0x000000E0'000000E0u) | (v >> 11 & 0x0000001C'0000001Cu) |
             (v >> 6 & 0x00000003'00000003u);
    };
    std::uint64_t front, back;
    std::memcpy(&front, p, 8);
    std::memcpy(&back, p + 8, 8);
    front = reduce(front);
    back = reduce(back);
    return WordDigits(static_cast<std::uint8_t>(front), static_cast<std::uint8_t>(front >> 32),
                      static_cast<std::uint8_t>(back), static_cast<std::uint8_t>(back >> 32));
  } else {
    return WordDigits(PixelByte(p), PixelByte(p + 4), PixelByte(p + 8), PixelByte(p + 12));
  }
}

// Collects the file's text in a large block and hands it to the output in big writes;
// the output remembers the first failed write.
class BlockWriter {
 public:
  static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

  explicit BlockWriter(OutputFile& file) : file_(file), block_(new char[kBlockSize]) {}

  void Put(const char* text, std::size_t length) {
    while (length > 0) {
      if (used_ == kBlockSize) Flush();
      std::size_t room = kBlockSize - used_;
      std::size_t n = length < room ? length : room;
      std::memcpy(block_.get() + used_, text, n);
      used_ += n;
      text += n;
      length -= n;
    }
  }
  void Put(const char* text) { Put(text, std::strlen(text)); }

  // Room for at least `bytes` more characters, written straight into the block.
  char* Reserve(std::size_t bytes) {
    if (kBlockSize - used_ < bytes) Flush();
    return block_.get() + used_;
  }
  std::size_t room() const { return kBlockSize - used_; }
  void Commit(std::size_t bytes) { used_ += bytes; }

  void Flush() {
    if (used_ > 0) file_.Write(block_.get(), used_);
    used_ = 0;
  }

 private:
  OutputFile& file_;
  std::unique_ptr<char[]> block_;
  std::size_t used_ = 0;
};

constexpr std::size_t kLine = 11;  // "XXXXXXXX,\r\n"

// Writes `words` lines of four pixels each, every one ending with a comma.
void WriteCommaLines(BlockWriter& out, const std::uint8_t* pixels, std::int64_t words) {
  // Each line is stored as 8 digits and 4 bytes ",\r\n" plus one the next line overwrites,
  // so a batch needs one byte of room beyond its lines.
  const auto lineEnd = std::bit_cast<std::uint32_t>(std::array<char, 4>{',', '\r', '\n', 0});
  while (words > 0) {
    if (out.room() < kLine + 1) out.Flush();
    const auto fit = static_cast<std::int64_t>((out.room() - 1) / kLine);
    const std::int64_t batch = words < fit ? words : fit;
    char* line = out.Reserve(0);
    for (std::int64_t w = 0; w < batch; ++w, pixels += 16, line += kLine) {
      const std::uint64_t digits = LineDigits(pixels);
      std::memcpy(line, &digits, 8);
      std::memcpy(line + 8, &lineEnd, 4);
    }
    out.Commit(static_cast<std::size_t>(batch) * kLine);
    words -= batch;
  }
}

// Writes the vector: four pixel bytes to a line of eight digits, the first pixel leftmost;
// a short last word is completed with "00"; every line but the last ends with a comma.
void WriteVector(BlockWriter& out, const std::uint8_t* pixels, std::int64_t pixelCount) {
  if (pixelCount == 0) {
    out.Put(";\r\n");
    return;
  }
  // The last word, whole or not, ends the vector with a semicolon.
  const std::int64_t lastWord = (pixelCount - 1) / 4;
  WriteCommaLines(out, pixels, lastWord);
  std::uint8_t bytes[4] = {0, 0, 0, 0};  // a pixel missing from the word is written "00"
  for (std::int64_t i = 4 * lastWord; i < pixelCount; ++i) bytes[i % 4] = PixelByte(pixels + 4 * i);
  const std::uint64_t digits = WordDigits(bytes[0], bytes[1], bytes[2], bytes[3]);
  char* line = out.Reserve(kLine);
  std::memcpy(line, &digits, 8);
  std::memcpy(line + 8, ";\r\n", 3);
  out.Commit(kLine);
}

}  // namespace

int WriteCoeFile(const char* path, const std::uint8_t* pixels, std::int32_t byteCount) {
  // Written as bytes: the line ends are CR LF on every platform. The file appears under
  // its name only once it is complete.
  OutputFile file;
  if (const int error = file.Open(path); error != 0) {
    std::printf("Error: Failed to open Output file: %s, Error %d\n", path, error);
    return 1;
  }

  const std::int64_t pixelCount = byteCount > 0 ? byteCount / 4 : 0;
  const std::int64_t depth = (pixelCount + 3) / 4;
  const std::string header = CoeHeader(static_cast<std::uint64_t>(depth), 32);
  std::int64_t textBytes = depth > 0 ? std::int64_t{kLine} * depth : 3;
  textBytes += static_cast<std::int64_t>(header.size());
  file.Reserve(textBytes);

  {
    BlockWriter out(file);
    out.Put(header.c_str());
    WriteVector(out, pixels, pixelCount);
    out.Flush();
  }
  if (const int error = file.Commit(); error != 0) {
    std::printf("Error: Failed to write Output file: %s, Error %d\n", path, error);
    return 1;
  }
  std::printf("Output file has been written.\n");
  return 0;
}

}  // namespace rastrom
