#include "coe_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "output_file.h"

// SSE2 is part of every x86-64 processor, so it needs no check at run time.
#if defined(__SSE2__) || defined(_M_X64)
#define RASTROM_SSE2 1
#include <emmintrin.h>
#endif

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

// Collects the file's text in a block and hands it to the output a block at a time; the
// output remembers the first failed write. The block is small enough to stay in the
// processor's cache beside a band of pixels, and large enough that a write call costs
// little beside the copy it makes.
class BlockWriter {
 public:
  static constexpr std::size_t kBlockSize = std::size_t{64} << 10;

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

#ifdef RASTROM_SSE2
// The digits of four lines (16 pixels at p) at once: two lines' 16 digits in `front`, two
// in `back`. This is most of the converter's own work, so it is done 16 pixels at a time:
// the same masks and shifts as LineDigits, then each byte split into its two hexadecimal
// digits, the high one first.
void FourLinesDigits(const std::uint8_t* p, __m128i& front, __m128i& back) {
  const auto reduce = [](__m128i v) {  // four 32-bit pixels to four 3-3-2 values
    const __m128i red = _mm_and_si128(_mm_srli_epi32(v, 16), _mm_set1_epi32(0xE0));
    const __m128i green = _mm_and_si128(_mm_srli_epi32(v, 11), _mm_set1_epi32(0x1C));
    const __m128i blue = _mm_and_si128(_mm_srli_epi32(v, 6), _mm_set1_epi32(0x03));
    return _mm_or_si128(_mm_or_si128(red, green), blue);
  };
  const auto* at = reinterpret_cast<const __m128i*>(p);
  // Every value is at most 255, so the saturating packs keep them as they are.
  const __m128i bytes = _mm_packus_epi16(
      _mm_packs_epi32(reduce(_mm_loadu_si128(at)), reduce(_mm_loadu_si128(at + 1))),
      _mm_packs_epi32(reduce(_mm_loadu_si128(at + 2)), reduce(_mm_loadu_si128(at + 3))));
  const __m128i low = _mm_set1_epi8(0x0F);
  const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), low);
  const __m128i lowNibble = _mm_and_si128(bytes, low);
  const auto digits = [](__m128i n) {  // 0-9 to '0'-'9', 10-15 to 'A'-'F'
    const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(n, _mm_set1_epi8(9)), _mm_set1_epi8(7));
    return _mm_add_epi8(_mm_add_epi8(n, _mm_set1_epi8('0')), letters);
  };
  front = digits(_mm_unpacklo_epi8(high, lowNibble));
  back = digits(_mm_unpackhi_epi8(high, lowNibble));
}
#endif

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
    std::int64_t w = 0;
#ifdef RASTROM_SSE2
    for (; w + 4 <= batch; w += 4, pixels += 64, line += 4 * kLine) {
      __m128i front, back;
      FourLinesDigits(pixels, front, back);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(line), front);
      std::memcpy(line + 8, &lineEnd, 4);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(line + kLine), _mm_srli_si128(front, 8));
      std::memcpy(line + kLine + 8, &lineEnd, 4);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(line + 2 * kLine), back);
      std::memcpy(line + 2 * kLine + 8, &lineEnd, 4);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(line + 3 * kLine), _mm_srli_si128(back, 8));
      std::memcpy(line + 3 * kLine + 8, &lineEnd, 4);
    }
#endif
    for (; w < batch; ++w, pixels += 16, line += kLine) {
      const std::uint64_t digits = LineDigits(pixels);
      std::memcpy(line, &digits, 8);
      std::memcpy(line + 8, &lineEnd, 4);
    }
    out.Commit(static_cast<std::size_t>(batch) * kLine);
    words -= batch;
  }
}

// Writes the vector as its pixels arrive: four pixel bytes to a line of eight digits, the
// first pixel leftmost; a short last word is completed with "00"; every line but the last
// ends with a comma. A word split between two arrivals waits in a carry of up to 3 pixels.
class VectorWriter {
 public:
  VectorWriter(BlockWriter& out, std::int64_t pixelCount)
      : out_(out), pixelsLeft_(pixelCount), wordsLeft_((pixelCount + 3) / 4) {}

  // Takes the next `count` pixels at `pixels`; any beyond the promised count are ignored.
  void Add(const std::uint8_t* pixels, std::int64_t count) {
    count = std::min(count, pixelsLeft_);
    if (count <= 0) return;
    pixelsLeft_ -= count;
    if (carried_ > 0) {
      const std::int64_t take = std::min<std::int64_t>(4 - carried_, count);
      std::memcpy(carry_ + 4 * carried_, pixels, static_cast<std::size_t>(4 * take));
      carried_ += take;
      pixels += 4 * take;
      count -= take;
      if (carried_ < 4) return;
      PutWord(carry_);
      carried_ = 0;
    }
    const std::int64_t words = count / 4;
    // Every whole word but the vector's last ends with a comma.
    const std::int64_t commaWords = std::max<std::int64_t>(0, std::min(words, wordsLeft_ - 1));
    WriteCommaLines(out_, pixels, commaWords);
    wordsLeft_ -= commaWords;
    pixels += 16 * commaWords;
    if (words > commaWords) {  // the vector's last word, whole
      PutWord(pixels);
      pixels += 16;
    }
    carried_ = count % 4;
    std::memcpy(carry_, pixels, static_cast<std::size_t>(4 * carried_));
  }

  // Ends the vector. Returns false when fewer pixels arrived than were promised.
  bool Finish() {
    if (pixelsLeft_ > 0) return false;
    if (wordsLeft_ == 0) {
      if (carried_ == 0 && !any_) out_.Put(";\r\n");  // no pixels at all
      return true;
    }
    // A pixel missing from the last word is all zero, which reduces to "00".
    std::memset(carry_ + 4 * carried_, 0, static_cast<std::size_t>(16 - 4 * carried_));
    PutWord(carry_);
    return true;
  }

 private:
  void PutWord(const std::uint8_t* pixels) {
    const std::uint64_t digits = LineDigits(pixels);
    char* line = out_.Reserve(kLine);
    std::memcpy(line, &digits, 8);
    std::memcpy(line + 8, wordsLeft_ > 1 ? ",\r\n" : ";\r\n", 3);
    out_.Commit(kLine);
    --wordsLeft_;
    any_ = true;
  }

  BlockWriter& out_;
  std::int64_t pixelsLeft_;
  std::int64_t wordsLeft_;
  std::uint8_t carry_[16] = {};
  std::int64_t carried_ = 0;
  bool any_ = false;
};

}  // namespace

int WriteCoeFile(const char* path, const std::uint8_t* pixels, std::int32_t byteCount) {
  bool given = false;
  return WriteCoeFile(
      path,
      [&](std::span<const std::uint8_t>& band) {
        band = {};
        if (!given && byteCount > 0) band = {pixels, static_cast<std::size_t>(byteCount)};
        given = true;
        return true;
      },
      byteCount);
}

int WriteCoeFile(const char* path, const PixelBandSource& nextBand, std::int32_t byteCount) {
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

  bool complete = false;
  {
    BlockWriter out(file);
    out.Put(header.c_str());
    VectorWriter vector(out, pixelCount);
    std::span<const std::uint8_t> band;
    // After a failed write the rest is not worth converting: Commit reports the failure.
    while ((complete = nextBand(band)) && !band.empty() && file.error() == 0) {
      vector.Add(band.data(), static_cast<std::int64_t>(band.size() / 4));
    }
    complete = complete && (file.error() != 0 || vector.Finish());
    out.Flush();
  }
  if (!complete) {
    // The pixels ran out before the text was whole: no file at all is better than a part.
    file.Discard();
    std::printf("Error: Failed to write Output file: %s, Error %d\n", path, EIO);
    return 1;
  }
  if (const int error = file.Commit(); error != 0) {
    std::printf("Error: Failed to write Output file: %s, Error %d\n", path, error);
    return 1;
  }
  std::printf("Output file has been written.\n");
  return 0;
}

}  // namespace rastrom
