#include "pixel_format.h"

#include <algorithm>

// SSE2 is part of every x86-64 processor, so it needs no check at run time.
#if defined(__SSE2__) || defined(_M_X64)
#define RASTROM_PIXEL_SSE2 1
#include <emmintrin.h>
// SSSE3's byte shuffle, where the compiler can build a function for it alone; whether the
// processor has it is asked at run time.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define RASTROM_PIXEL_SSSE3 1
#include <cpuid.h>
#include <tmmintrin.h>
#endif
#endif

namespace rastrom {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

bool FieldDigit(char c) { return c >= '1' && c <= '8'; }

std::uint8_t Digit(char c) { return static_cast<std::uint8_t>(c - '0'); }

// The shift of each field of a colour format: fields[0] on top.
unsigned FieldShift(const PixelFormat& f, int field) {
  if (field == 0) return f.fields[1] + f.fields[2];
  if (field == 1) return f.fields[2];
  return 0;
}

// Which field holds red, green and blue.
int RedField(const PixelFormat& f) { return f.kind == PixelFormat::Kind::kBgr ? 2 : 0; }
int BlueField(const PixelFormat& f) { return f.kind == PixelFormat::Kind::kBgr ? 0 : 2; }

std::uint32_t Mask(unsigned bits) { return (std::uint32_t{1} << bits) - 1; }

// The top-bits reduction of one pixel read as a 32-bit number (blue in the low byte): each
// channel shifted right, then left, then masked into its place.
template <class Channel>
std::uint32_t ReducePixel(std::uint32_t v, const Channel (&c)[3]) {
  return ((v >> c[0].right << c[0].left) & c[0].mask) | ((v >> c[1].right << c[1].left) & c[1].mask) |
         ((v >> c[2].right << c[2].left) & c[2].mask);
}

#ifdef RASTROM_PIXEL_SSE2
// The same for four pixels at once, one in each 32-bit lane.
class FourPixels {
 public:
  template <class Channel>
  explicit FourPixels(const Channel (&c)[3]) {
    for (int k = 0; k < 3; ++k) {
      right_[k] = _mm_cvtsi32_si128(static_cast<int>(c[k].right));
      left_[k] = _mm_cvtsi32_si128(static_cast<int>(c[k].left));
      mask_[k] = _mm_set1_epi32(static_cast<int>(c[k].mask));
    }
  }
  __m128i Reduce(__m128i v) const {
    const __m128i a = _mm_and_si128(_mm_sll_epi32(_mm_srl_epi32(v, right_[0]), left_[0]), mask_[0]);
    const __m128i b = _mm_and_si128(_mm_sll_epi32(_mm_srl_epi32(v, right_[1]), left_[1]), mask_[1]);
    const __m128i c = _mm_and_si128(_mm_sll_epi32(_mm_srl_epi32(v, right_[2]), left_[2]), mask_[2]);
    return _mm_or_si128(_mm_or_si128(a, b), c);
  }

 private:
  __m128i right_[3], left_[3], mask_[3];
};

// Four 3-byte pixels from one 16-byte read at `at`, widened: pixel k moves up k bytes into
// its own 4-byte lane, the rest of the lane cleared.
inline __m128i WidenFour24(const std::uint8_t* at) {
  const __m128i lane0 = _mm_set_epi32(0, 0, 0, 0xFFFFFF), lane1 = _mm_set_epi32(0, 0, 0xFFFFFF, 0);
  const __m128i lane2 = _mm_set_epi32(0, 0xFFFFFF, 0, 0), lane3 = _mm_set_epi32(0xFFFFFF, 0, 0, 0);
  const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  return _mm_or_si128(
      _mm_or_si128(_mm_and_si128(w, lane0), _mm_and_si128(_mm_slli_si128(w, 1), lane1)),
      _mm_or_si128(_mm_and_si128(_mm_slli_si128(w, 2), lane2), _mm_and_si128(_mm_slli_si128(w, 3), lane3)));
}
#endif

}  // namespace

std::optional<PixelFormat> ParsePixelFormat(std::string_view name) {
  PixelFormat format;
  if (name.size() == 4 && StartsWithIgnoringCase(name, "mono")) {
    format.kind = PixelFormat::Kind::kGray;
    format.fields[0] = 1;
    format.fields[1] = format.fields[2] = 0;
    return format;
  }
  if (name.size() == 5 && StartsWithIgnoringCase(name, "gray") && FieldDigit(name[4])) {
    format.kind = PixelFormat::Kind::kGray;
    format.fields[0] = Digit(name[4]);
    format.fields[1] = format.fields[2] = 0;
    return format;
  }
  if (name.size() != 6) return std::nullopt;
  if (StartsWithIgnoringCase(name, "rgb")) {
    format.kind = PixelFormat::Kind::kRgb;
  } else if (StartsWithIgnoringCase(name, "bgr")) {
    format.kind = PixelFormat::Kind::kBgr;
  } else {
    return std::nullopt;
  }
  for (int i = 0; i < 3; ++i) {
    if (!FieldDigit(name[3 + i])) return std::nullopt;
    format.fields[i] = Digit(name[3 + i]);
  }
  return format;
}

std::string PixelFormatName(const PixelFormat& format) {
  if (format.kind == PixelFormat::Kind::kGray) {
    return format.fields[0] == 1 ? "mono" : "gray" + std::to_string(format.fields[0]);
  }
  std::string name = format.kind == PixelFormat::Kind::kRgb ? "rgb" : "bgr";
  for (const std::uint8_t bits : format.fields) name += static_cast<char>('0' + bits);
  return name;
}

std::string PixelDescription(const PixelFormat& format) {
  if (format.kind == PixelFormat::Kind::kGray) {
    return std::to_string(format.fields[0]) + "-bit grey";
  }
  std::string text;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) text += '-';
    text += static_cast<char>('0' + format.fields[i]);
  }
  return text + (format.kind == PixelFormat::Kind::kRgb ? " RGB" : " BGR");
}

std::optional<PixelFormat> ParsePixelDescription(std::string_view text) {
  PixelFormat format;
  if (text.size() == 10 && FieldDigit(text[0]) && text.substr(1) == "-bit grey") {
    format.kind = PixelFormat::Kind::kGray;
    format.fields[0] = Digit(text[0]);
    format.fields[1] = format.fields[2] = 0;
    return format;
  }
  if (text.size() != 9 || text[1] != '-' || text[3] != '-' || text[5] != ' ') return std::nullopt;
  const std::string_view order = text.substr(6);
  if (order == "RGB") {
    format.kind = PixelFormat::Kind::kRgb;
  } else if (order == "BGR") {
    format.kind = PixelFormat::Kind::kBgr;
  } else {
    return std::nullopt;
  }
  for (int i = 0; i < 3; ++i) {
    if (!FieldDigit(text[2 * i])) return std::nullopt;
    format.fields[i] = Digit(text[2 * i]);
  }
  return format;
}

bool IsGray(const PixelFormat& format) { return format.kind == PixelFormat::Kind::kGray; }

unsigned PixelBits(const PixelFormat& format) {
  return IsGray(format) ? format.fields[0]
                        : unsigned{format.fields[0]} + format.fields[1] + format.fields[2];
}

unsigned RedBits(const PixelFormat& format) {
  return IsGray(format) ? format.fields[0] : format.fields[RedField(format)];
}
unsigned GreenBits(const PixelFormat& format) {
  return IsGray(format) ? format.fields[0] : format.fields[1];
}
unsigned BlueBits(const PixelFormat& format) {
  return IsGray(format) ? format.fields[0] : format.fields[BlueField(format)];
}

std::uint32_t PackCodes(const PixelFormat& format, unsigned red, unsigned green, unsigned blue) {
  if (IsGray(format)) {
    // Grey codes of three channels: the luma of the widened codes, reduced again.
    const unsigned n = format.fields[0];
    return PackGray(format, Luma(WidenCode(red, n), WidenCode(green, n), WidenCode(blue, n)) >> (8 - n));
  }
  const int r = RedField(format), b = BlueField(format);
  return (red & Mask(format.fields[r])) << FieldShift(format, r) |
         (green & Mask(format.fields[1])) << FieldShift(format, 1) |
         (blue & Mask(format.fields[b])) << FieldShift(format, b);
}

std::uint32_t PackGray(const PixelFormat& format, unsigned grey) {
  return grey & Mask(IsGray(format) ? format.fields[0] : 8);
}

std::uint8_t WidenCode(unsigned code, unsigned bits) {
  code &= Mask(bits);
  unsigned wide = 0;
  // Lay copies of the code from the top bit down; the last one is cut off at bit 0.
  for (int shift = 8 - static_cast<int>(bits); shift > -static_cast<int>(bits); shift -= static_cast<int>(bits)) {
    wide |= shift >= 0 ? code << shift : code >> -shift;
  }
  return static_cast<std::uint8_t>(wide);
}

Rgb8 ShowPixel(const PixelFormat& format, std::uint32_t value) {
  if (IsGray(format)) {
    const std::uint8_t grey = WidenCode(value, format.fields[0]);
    return {grey, grey, grey};
  }
  const int r = RedField(format), b = BlueField(format);
  auto field = [&](int i) {
    return WidenCode((value >> FieldShift(format, i)) & Mask(format.fields[i]), format.fields[i]);
  };
  return {field(r), field(1), field(b)};
}

std::uint32_t ReduceTopBits(const PixelFormat& format, std::uint8_t red, std::uint8_t green,
                            std::uint8_t blue) {
  if (IsGray(format)) return PackGray(format, Luma(red, green, blue) >> (8 - format.fields[0]));
  return PackCodes(format, red >> (8 - RedBits(format)), green >> (8 - GreenBits(format)),
                   blue >> (8 - BlueBits(format)));
}

TopBitsReducer::TopBitsReducer(const PixelFormat& format) : format_(format), grey_{} {
  if (IsGray(format)) {
    for (unsigned c = 0; c < 256; ++c) grey_[c] = PackGray(format, c >> (8 - format.fields[0]));
    return;
  }
  // Channel i of the 32-bit pixel lies at bits 8 i to 8 i + 7 (blue, green, red); its top
  // `bits` bits go to bit `shift` of the value.
  const int r = RedField(format), b = BlueField(format);
  const int fields[3] = {b, 1, r};
  for (int i = 0; i < 3; ++i) {
    const unsigned bits = format.fields[fields[i]];
    const int shift = static_cast<int>(FieldShift(format, fields[i]));
    const int move = 8 * i + 8 - static_cast<int>(bits) - shift;  // right when positive
    channels_[i].right = move > 0 ? static_cast<unsigned>(move) : 0;
    channels_[i].left = move < 0 ? static_cast<unsigned>(-move) : 0;
    channels_[i].mask = Mask(bits) << shift;
  }
}

void TopBitsReducer::ReduceRow(std::span<const std::uint8_t> bgrx, std::span<std::uint32_t> values) {
  const std::size_t count = std::min(bgrx.size() / 4, values.size());
  const std::uint8_t* p = bgrx.data();
  std::uint32_t* out = values.data();
  if (IsGray(format_)) {
    // The table maps a luma to its value.
    for (std::size_t i = 0; i < count; ++i, p += 4) out[i] = grey_[Luma(p[2], p[1], p[0])];
    return;
  }
  // Shifts and masks the same for every pixel: four pixels at a time where the processor
  // can. The unused fourth byte falls outside every mask.
  std::size_t i = 0;
#ifdef RASTROM_PIXEL_SSE2
  const FourPixels reduce(channels_);
  for (; i + 4 <= count; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), reduce.Reduce(v));
  }
#endif
  for (; i < count; ++i) {
    const std::uint32_t v = std::uint32_t{p[4 * i]} | std::uint32_t{p[4 * i + 1]} << 8 |
                            std::uint32_t{p[4 * i + 2]} << 16;
    out[i] = ReducePixel(v, channels_);
  }
}

void TopBitsReducer::ReduceRowToBytes(std::span<const std::uint8_t> bgrx,
                                      std::span<std::uint8_t> values) const {
  const std::size_t count = std::min(bgrx.size() / 4, values.size());
  const std::uint8_t* p = bgrx.data();
  std::uint8_t* out = values.data();
  if (IsGray(format_)) {
    for (std::size_t i = 0; i < count; ++i, p += 4) out[i] = static_cast<std::uint8_t>(grey_[Luma(p[2], p[1], p[0])]);
    return;
  }
  std::size_t i = 0;
#ifdef RASTROM_PIXEL_SSE2
  const FourPixels reduce(channels_);
  const auto four = [&](const std::uint8_t* at) {
    return reduce.Reduce(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
  };
  // Sixteen pixels at a time: every value is below 256, so packing them keeps them whole.
  for (; i + 16 <= count; i += 16) {
    const std::uint8_t* at = p + 4 * i;
    const __m128i low = _mm_packs_epi32(four(at), four(at + 16));
    const __m128i high = _mm_packs_epi32(four(at + 32), four(at + 48));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
  }
#endif
  for (; i < count; ++i) {
    const std::uint32_t v = std::uint32_t{p[4 * i]} | std::uint32_t{p[4 * i + 1]} << 8 |
                            std::uint32_t{p[4 * i + 2]} << 16;
    out[i] = static_cast<std::uint8_t>(ReducePixel(v, channels_));
  }
}

#ifdef RASTROM_PIXEL_SSSE3
namespace {

// Which of three 16-byte registers' bytes gather channel c (0 blue, 1 green, 2 red) of 16
// 3-byte pixels: kGather[c][r][j] picks byte 3j + c when it lies in register r, else none.
struct Gather {
  alignas(16) std::uint8_t index[3][3][16];
  Gather() {
    for (int c = 0; c < 3; ++c) {
      for (int r = 0; r < 3; ++r) {
        for (int j = 0; j < 16; ++j) {
          const int at = 3 * j + c - 16 * r;
          index[c][r][j] = at >= 0 && at < 16 ? static_cast<std::uint8_t>(at) : 0x80;
        }
      }
    }
  }
};
const Gather kGather;

// Asked of the processor once, when first needed: __builtin_cpu_supports would link a
// start-up routine that asks about every feature in every run, each question a costly trap
// to the host on a virtual machine, whether or not a program ever reduces stored rows.
bool HasSsse3() {
  static const bool has = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_SSSE3) != 0;
  }();
  return has;
}

// Reduces 16 pixels a step while 48 bytes remain: each channel's bytes are gathered into
// one register and moved to their place in 16-bit lanes, the channel's mask dropping what
// crosses from the lane's other byte. Returns how many pixels it reduced.
__attribute__((target("ssse3"))) std::size_t GatherBgr24ToBytes(
    const std::uint8_t* p, std::uint8_t* out, std::size_t count, const int move[3],
    const std::uint8_t mask[3]) {
  __m128i shuffle[3][3];
  for (int c = 0; c < 3; ++c) {
    for (int r = 0; r < 3; ++r) {
      shuffle[c][r] = _mm_load_si128(reinterpret_cast<const __m128i*>(kGather.index[c][r]));
    }
  }
  __m128i right[3], left[3], masks[3];
  for (int c = 0; c < 3; ++c) {
    right[c] = _mm_cvtsi32_si128(move[c] > 0 ? move[c] : 0);
    left[c] = _mm_cvtsi32_si128(move[c] < 0 ? -move[c] : 0);
    masks[c] = _mm_set1_epi8(static_cast<char>(mask[c]));
  }
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const std::uint8_t* at = p + 3 * i;
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 32));
    __m128i value = _mm_setzero_si128();
    for (int c = 0; c < 3; ++c) {
      const __m128i channel = _mm_or_si128(
          _mm_or_si128(_mm_shuffle_epi8(a, shuffle[c][0]), _mm_shuffle_epi8(b, shuffle[c][1])),
          _mm_shuffle_epi8(d, shuffle[c][2]));
      const __m128i moved = _mm_sll_epi16(_mm_srl_epi16(channel, right[c]), left[c]);
      value = _mm_or_si128(value, _mm_and_si128(moved, masks[c]));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), value);
  }
  return i;
}

}  // namespace
#endif

void TopBitsReducer::ReduceBgr24RowToBytes(std::span<const std::uint8_t> bgr,
                                           std::span<std::uint8_t> values) const {
  const std::size_t count = std::min(bgr.size() / 3, values.size());
  const std::uint8_t* p = bgr.data();
  std::uint8_t* out = values.data();
  if (IsGray(format_)) {
    for (std::size_t i = 0; i < count; ++i, p += 3) out[i] = static_cast<std::uint8_t>(grey_[Luma(p[2], p[1], p[0])]);
    return;
  }
  std::size_t i = 0;
#ifdef RASTROM_PIXEL_SSSE3
  if (HasSsse3()) {
    const Channel c0 = channels_[0], c1 = channels_[1], c2 = channels_[2];
    // Channel c's move within its own byte: right when positive.
    const int move[3] = {static_cast<int>(c0.right) - static_cast<int>(c0.left),
                         static_cast<int>(c1.right) - static_cast<int>(c1.left) - 8,
                         static_cast<int>(c2.right) - static_cast<int>(c2.left) - 16};
    const std::uint8_t mask[3] = {static_cast<std::uint8_t>(c0.mask), static_cast<std::uint8_t>(c1.mask),
                                  static_cast<std::uint8_t>(c2.mask)};
    i = GatherBgr24ToBytes(p, out, count, move, mask);
  }
#endif
#ifdef RASTROM_PIXEL_SSE2
  const FourPixels reduce(channels_);
  // Four pixels from one 16-byte read, reduced as widened pixels would be.
  const auto four = [&](const std::uint8_t* at) { return reduce.Reduce(WidenFour24(at)); };
  // Sixteen pixels at a time, while the last read (16 bytes from pixel 12) stays inside
  // the row.
  for (; 3 * i + 52 <= 3 * count; i += 16) {
    const std::uint8_t* at = p + 3 * i;
    const __m128i low = _mm_packs_epi32(four(at), four(at + 12));
    const __m128i high = _mm_packs_epi32(four(at + 24), four(at + 36));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
  }
#endif
  for (; i < count; ++i) {
    const std::uint32_t v = std::uint32_t{p[3 * i]} | std::uint32_t{p[3 * i + 1]} << 8 |
                            std::uint32_t{p[3 * i + 2]} << 16;
    out[i] = static_cast<std::uint8_t>(ReducePixel(v, channels_));
  }
}

void TopBitsReducer::ReduceBgr24Row(std::span<const std::uint8_t> bgr, std::span<std::uint32_t> values) const {
  const std::size_t count = std::min(bgr.size() / 3, values.size());
  const std::uint8_t* p = bgr.data();
  std::uint32_t* out = values.data();
  if (IsGray(format_)) {
    for (std::size_t i = 0; i < count; ++i, p += 3) out[i] = grey_[Luma(p[2], p[1], p[0])];
    return;
  }
  std::size_t i = 0;
#ifdef RASTROM_PIXEL_SSE2
  const FourPixels reduce(channels_);
  // Four pixels a step, while the 16-byte read stays inside the row.
  for (; 3 * i + 16 <= 3 * count; i += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), reduce.Reduce(WidenFour24(p + 3 * i)));
  }
#endif
  for (; i < count; ++i) {
    const std::uint32_t v = std::uint32_t{p[3 * i]} | std::uint32_t{p[3 * i + 1]} << 8 |
                            std::uint32_t{p[3 * i + 2]} << 16;
    out[i] = ReducePixel(v, channels_);
  }
}

}  // namespace rastrom
