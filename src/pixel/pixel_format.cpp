#include "pixel_format.h"

#include <algorithm>

// SSE2 is part of every x86-64 processor, so it needs no check at run time.
#if defined(__SSE2__) || defined(_M_X64)
#define RASTROM_PIXEL_SSE2 1
#include <emmintrin.h>
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

std::uint8_t Luma(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::uint8_t>((19595u * red + 38470u * green + 7471u * blue + 32768u) >> 16);
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
  const Channel c0 = channels_[0], c1 = channels_[1], c2 = channels_[2];
  std::size_t i = 0;
#ifdef RASTROM_PIXEL_SSE2
  const __m128i r0 = _mm_cvtsi32_si128(static_cast<int>(c0.right)), l0 = _mm_cvtsi32_si128(static_cast<int>(c0.left));
  const __m128i r1 = _mm_cvtsi32_si128(static_cast<int>(c1.right)), l1 = _mm_cvtsi32_si128(static_cast<int>(c1.left));
  const __m128i r2 = _mm_cvtsi32_si128(static_cast<int>(c2.right)), l2 = _mm_cvtsi32_si128(static_cast<int>(c2.left));
  const __m128i m0 = _mm_set1_epi32(static_cast<int>(c0.mask)), m1 = _mm_set1_epi32(static_cast<int>(c1.mask));
  const __m128i m2 = _mm_set1_epi32(static_cast<int>(c2.mask));
  for (; i + 4 <= count; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * i));
    const __m128i a = _mm_and_si128(_mm_sll_epi32(_mm_srl_epi32(v, r0), l0), m0);
    const __m128i b = _mm_and_si128(_mm_sll_epi32(_mm_srl_epi32(v, r1), l1), m1);
    const __m128i c = _mm_and_si128(_mm_sll_epi32(_mm_srl_epi32(v, r2), l2), m2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_or_si128(_mm_or_si128(a, b), c));
  }
#endif
  for (; i < count; ++i) {
    const std::uint32_t v = std::uint32_t{p[4 * i]} | std::uint32_t{p[4 * i + 1]} << 8 |
                            std::uint32_t{p[4 * i + 2]} << 16;
    out[i] = ((v >> c0.right << c0.left) & c0.mask) | ((v >> c1.right << c1.left) & c1.mask) |
             ((v >> c2.right << c2.left) & c2.mask);
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
  const Channel c0 = channels_[0], c1 = channels_[1], c2 = channels_[2];
  std::size_t i = 0;
#ifdef RASTROM_PIXEL_SSE2
  const __m128i r0 = _mm_cvtsi32_si128(static_cast<int>(c0.right)), l0 = _mm_cvtsi32_si128(static_cast<int>(c0.left));
  const __m128i r1 = _mm_cvtsi32_si128(static_cast<int>(c1.right)), l1 = _mm_cvtsi32_si128(static_cast<int>(c1.left));
  const __m128i r2 = _mm_cvtsi32_si128(static_cast<int>(c2.right)), l2 = _mm_cvtsi32_si128(static_cast<int>(c2.left));
  const __m128i m0 = _mm_set1_epi32(static_cast<int>(c0.mask)), m1 = _mm_set1_epi32(static_cast<int>(c1.mask));
  const __m128i m2 = _mm_set1_epi32(static_cast<int>(c2.mask));
  const auto four = [&](const std::uint8_t* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i a = _mm_and_si128(_mm_sll_epi32(_mm_srl_epi32(v, r0), l0), m0);
    const __m128i b = _mm_and_si128(_mm_sll_epi32(_mm_srl_epi32(v, r1), l1), m1);
    const __m128i c = _mm_and_si128(_mm_sll_epi32(_mm_srl_epi32(v, r2), l2), m2);
    return _mm_or_si128(_mm_or_si128(a, b), c);
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
    out[i] = static_cast<std::uint8_t>(((v >> c0.right << c0.left) & c0.mask) |
                                       ((v >> c1.right << c1.left) & c1.mask) |
                                       ((v >> c2.right << c2.left) & c2.mask));
  }
}

}  // namespace rastrom
