#include "dither.h"

#include <algorithm>
#include <array>
#include <bit>
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#include <cpuid.h>
#endif

namespace rastrom {

bool gDitherNarrowOnly = false;


bool ParseDitherMethod(std::string_view text, DitherMethod& method) {
  for (DitherMethod m : {DitherMethod::kNone, DitherMethod::kFloydSteinberg, DitherMethod::kOrdered}) {
    if (text == DitherMethodName(m)) {
      method = m;
      return true;
    }
  }
  return false;
}

const char* DitherMethodName(DitherMethod method) {
  switch (method) {
    case DitherMethod::kFloydSteinberg: return "floyd-steinberg";
    case DitherMethod::kOrdered: return "ordered";
    case DitherMethod::kNone: break;
  }
  return "none";
}

namespace {

// Linear light is held as an integer from 0 to kOne: 16 bits of sRGB-decoded light, and 4
// more for the fractions of the error shared between pixels.
constexpr int kFractionBits = 4;
constexpr std::int32_t kOne = 65535 << kFractionBits;

// round(65535 x the sRGB decoding of v / 255), written out so that no platform's pow() is
// involved.
constexpr std::array<std::uint16_t, 256> kLinear = {
        0,    20,    40,    60,    80,    99,   119,   139,
      159,   179,   199,   219,   241,   264,   288,   313,
      340,   367,   396,   427,   458,   491,   526,   562,
      599,   637,   677,   718,   761,   805,   851,   898,
      947,   997,  1048,  1101,  1156,  1212,  1270,  1330,
     1391,  1453,  1517,  1583,  1651,  1720,  1790,  1863,
     1937,  2013,  2090,  2170,  2250,  2333,  2418,  2504,
     2592,  2681,  2773,  2866,  2961,  3058,  3157,  3258,
     3360,  3464,  3570,  3678,  3788,  3900,  4014,  4129,
     4247,  4366,  4488,  4611,  4736,  4864,  4993,  5124,
     5257,  5392,  5530,  5669,  5810,  5953,  6099,  6246,
     6395,  6547,  6700,  6856,  7014,  7174,  7335,  7500,
     7666,  7834,  8004,  8177,  8352,  8528,  8708,  8889,
     9072,  9258,  9445,  9635,  9828, 10022, 10219, 10417,
    10619, 10822, 11028, 11235, 11446, 11658, 11873, 12090,
    12309, 12530, 12754, 12980, 13209, 13440, 13673, 13909,
    14146, 14387, 14629, 14874, 15122, 15371, 15623, 15878,
    16135, 16394, 16656, 16920, 17187, 17456, 17727, 18001,
    18277, 18556, 18837, 19121, 19407, 19696, 19987, 20281,
    20577, 20876, 21177, 21481, 21787, 22096, 22407, 22721,
    23038, 23357, 23678, 24002, 24329, 24658, 24990, 25325,
    25662, 26001, 26344, 26688, 27036, 27386, 27739, 28094,
    28452, 28813, 29176, 29542, 29911, 30282, 30656, 31033,
    31412, 31794, 32179, 32567, 32957, 33350, 33745, 34143,
    34544, 34948, 35355, 35764, 36176, 36591, 37008, 37429,
    37852, 38278, 38706, 39138, 39572, 40009, 40449, 40891,
    41337, 41785, 42236, 42690, 43147, 43606, 44069, 44534,
    45002, 45473, 45947, 46423, 46903, 47385, 47871, 48359,
    48850, 49344, 49841, 50341, 50844, 51349, 51858, 52369,
    52884, 53401, 53921, 54445, 54971, 55500, 56032, 56567,
    57105, 57646, 58190, 58737, 59287, 59840, 60396, 60955,
    61517, 62082, 62650, 63221, 63795, 64372, 64952, 65535,
};

// The same light in the working scale, with room for the error's fractions.
constexpr std::array<std::int32_t, 256> kLight = [] {
  std::array<std::int32_t, 256> light{};
  for (std::size_t v = 0; v < 256; ++v) light[v] = std::int32_t{kLinear[v]} << kFractionBits;
  return light;
}();

// The places of a nearest-code step's fields: the light from which the upper code is
// nearer, the lower code, and for each of the two codes 7 x its level / 16 (see Diffuse).
constexpr std::size_t kThreshold = 0, kCode = 1, kLowerAhead = 2, kUpperAhead = 3;

// The light the nearest-code steps span, as held (v + 65535 x 16): below 2^22, 4 times
// white.
constexpr unsigned kStepsLightBits = 22;

// The inverse of 7 modulo 2^32: a multiple of 7 times it is the multiple's seventh, exactly.
constexpr std::uint32_t kSeventh = 0xB6DB6DB7u;

// The chain of the error diffusion, the loop that shares its errors out and the packing of
// its codes are built twice where GCC builds for x86-64: for processors with AVX2 and BMI2
// (a shift by a register in one instruction, eight places a vector instruction, codes three
// bytes apart gathered into vectors), and for every other. The same integer arithmetic
// either way, so the same codes. Which one runs is asked of the processor when a picture is
// first dithered, not at every start of the program, as GCC's own choice between versions
// would (each question is a costly trap to the host on a virtual machine).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12 && defined(__x86_64__)
#define RASTROM_WIDE 1
#define RASTROM_WIDE_TARGET __attribute__((target("avx2,bmi,bmi2")))
#define RASTROM_BODY __attribute__((always_inline)) inline

// Whether the processor has AVX2, BMI1 and BMI2, and the system saves the vector registers.
bool WideProcessor() {
  if (gDitherNarrowOnly) return false;
  static const bool wide = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return false;
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    if ((low & 6) != 6) return false;  // the XMM and YMM registers' state
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
    return (b & bit_AVX2) != 0 && (b & bit_BMI) != 0 && (b & bit_BMI2) != 0;
  }();
  return wide;
}
#else
#define RASTROM_BODY inline
#endif

// The 8x8 Bayer matrix: each threshold rank 0..63 once, neighbouring ranks far apart.
constexpr std::uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},   {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

}  // namespace

RowDitherer::RowDitherer(DitherMethod method, const PixelFormat& format, std::size_t width)
    : method_(method),
      bits_{static_cast<std::uint8_t>(RedBits(format)), static_cast<std::uint8_t>(GreenBits(format)),
            static_cast<std::uint8_t>(BlueBits(format))},
      width_(width),
      channels_(IsGray(format) ? 1 : 3) {
  levels_.resize(static_cast<std::size_t>(channels_));
  for (int c = 0; c < channels_; ++c) {
    Levels& l = levels_[static_cast<std::size_t>(c)];
    l.bits = bits_[c];
    l.top = (1 << l.bits) - 1;
    for (int code = 0; code <= l.top; ++code) {
      l.level[code] = std::int32_t{kLinear[WidenCode(static_cast<unsigned>(code), static_cast<unsigned>(l.bits))]}
                      << kFractionBits;
    }
    l.level[l.top + 1] = kOne + 1;  // above everything: no code follows the top
    // Levels lie further apart than the table's steps (the closest two, 0 and 1 at 8 bits,
    // are 320 apart), so one comparison finishes each search.
    int below = 0;
    for (int i = 0; i < kSteps; ++i) {
      const std::int32_t v = i << kStepShift;
      while (l.level[below + 1] <= v) ++below;
      l.below[i] = static_cast<std::uint32_t>(l.level[below + 1]) << 8 | static_cast<std::uint32_t>(below);
    }
  }
  if (method_ == DitherMethod::kOrdered) BuildRanked();
  if (method_ == DitherMethod::kFloydSteinberg) {
    BuildNearest();
    here_.assign((width_ + 2) * static_cast<std::size_t>(channels_), 0);
    next_.assign(here_.size(), 0);
  }
}

void RowDitherer::BuildNearest() {
  // The light from which code + 1 is nearer than code; none above the top code.
  auto up = [](const Levels& l, int code) {
    return code < l.top ? (l.level[code] + l.level[code + 1] + 1) / 2 : kOne + 1;
  };
  // Steps as wide as the closest two thresholds of any channel allow, so that no step holds
  // two and one comparison finishes each search: 16384 for 3 bits, 256 for 8 bits, so few
  // steps that the table stays in the fastest cache.
  std::int32_t closest = 1 << 16;
  for (const Levels& l : levels_) {
    for (int code = 0; code + 1 < l.top; ++code) closest = std::min(closest, up(l, code + 1) - up(l, code));
  }
  nearShift_ = static_cast<unsigned>(std::bit_width(static_cast<std::uint32_t>(closest)) - 1);
  // Light from -1 to 2 times white, and a copy of the last step up to 3 times white.
  nearLast_ = (std::uint32_t{3} << (20 - nearShift_)) - 1;
  nearSteps_ = std::uint32_t{1} << (kStepsLightBits - nearShift_);
  nearSlotBits_ = levels_.size() == 1 ? 4 : 6;
  const std::size_t stepInts = std::size_t{1} << (nearSlotBits_ - 2);
  near_.assign(256 + nearSteps_ * stepInts, 0);
  for (std::size_t v = 0; v < 256; ++v) near_[v] = kLight[v] + kOne;
  for (std::size_t c = 0; c < levels_.size(); ++c) {
    const Levels& l = levels_[c];
    int nearest = 0;
    for (std::uint32_t i = 0; i < nearSteps_; ++i) {
      const std::int32_t v = static_cast<std::int32_t>(std::min(i, nearLast_) << nearShift_) - kOne;
      while (nearest < l.top && up(l, nearest) <= v) ++nearest;
      // Above the top code nothing is nearer: a threshold no light reaches.
      const std::int32_t threshold = nearest < l.top ? up(l, nearest) : 0xFFFFFF;
      std::int32_t* step = &near_[256 + i * stepInts + 4 * c];
      step[kThreshold] = threshold + kOne;
      step[kCode] = nearest;
      // Every level is a multiple of 16 (16-bit light with 4 fraction bits), so is kOne.
      step[kLowerAhead] = 7 * ((l.level[nearest] + kOne) >> kFractionBits);
      step[kUpperAhead] = 7 * ((l.level[nearest + 1] + kOne) >> kFractionBits);
    }
  }
  ahead_.assign(width_ * levels_.size(), 0);
  want_.assign(ahead_.size(), 0);
  codes_.assign(ahead_.size(), 0);
  if (levels_.size() == 1) grey_.assign(width_, 0);
}

namespace {

// The channel inputs of the pixel at p (blue, green, red, unused): red, green and blue, or
// the luma alone.
template <int kChannels>
void Inputs(const std::uint8_t* p, std::uint8_t (&in)[kChannels]) {
  if constexpr (kChannels == 1) {
    in[0] = Luma(p[2], p[1], p[0]);
  } else {
    in[0] = p[2];
    in[1] = p[1];
    in[2] = p[0];
  }
}

// The code of a table entry for light v: the entry's code, or the next when v reaches the
// light kept above it. Without a branch, which dithering would mispredict half the time.
inline int Step(std::uint32_t entry, std::int32_t v) {
  return static_cast<int>(entry & 0xFF) + (v >= static_cast<std::int32_t>(entry >> 8));
}

}  // namespace

void RowDitherer::ReduceRow(std::span<const std::uint8_t> row, std::span<std::uint8_t> codes) {
  const std::size_t n = std::min({width_, row.size() / 4, codes.size() / static_cast<std::size_t>(channels_)});
  std::uint8_t* out = codes.data();
  if (method_ == DitherMethod::kFloydSteinberg) {
    channels_ == 1 ? ReduceDiffused<1>(row.data(), n, out) : ReduceDiffused<3>(row.data(), n, out);
    ++row_;
    return;
  }
  Reduce(row.data(), n, [out](std::size_t x, const int* code, int channels) {
    std::uint8_t* pixel = out + x * static_cast<std::size_t>(channels);
    for (int c = 0; c < channels; ++c) pixel[c] = static_cast<std::uint8_t>(code[c]);
  });
}

void RowDitherer::ReduceRow(std::span<const std::uint8_t> row, const unsigned (&shifts)[3],
                            std::span<std::uint32_t> values) {
  const std::size_t n = std::min({width_, row.size() / 4, values.size()});
  std::uint32_t* out = values.data();
  // Each code times its place's value: multiplications, which need no shift register (a
  // shift by a register is three instructions on some processors). Read from the members,
  // which the stores of the values may change for all the compiler knows: so it multiplies
  // rather than shifts.
  for (int c = 0; c < 3; ++c) place_[c] = std::uint32_t{1} << shifts[c];
  const std::uint32_t* place = place_;
  if (method_ == DitherMethod::kFloydSteinberg) {
    // The codes first, then the values from them, outside the chain of the diffusion.
    const std::uint8_t* code = codes_.data();
    if (channels_ == 1) {
      ReduceDiffused<1>(row.data(), n, codes_.data());
      for (std::size_t x = 0; x < n; ++x) out[x] = code[x];
    } else {
      ReduceDiffused<3>(row.data(), n, codes_.data());
      for (std::size_t x = 0; x < n; ++x) {
        out[x] = code[3 * x] * place[0] + code[3 * x + 1] * place[1] + code[3 * x + 2] * place[2];
      }
    }
    ++row_;
    return;
  }
  Reduce(row.data(), n, [out, place](std::size_t x, const int* code, int channels) {
    out[x] = channels == 1 ? static_cast<std::uint32_t>(code[0])
                           : static_cast<std::uint32_t>(code[0]) * place[0] +
                                 static_cast<std::uint32_t>(code[1]) * place[1] +
                                 static_cast<std::uint32_t>(code[2]) * place[2];
  });
}

template <typename Emit>
void RowDitherer::Reduce(const std::uint8_t* row, std::size_t width, const Emit& emit) {
  const bool grey = channels_ == 1;
  if (method_ == DitherMethod::kOrdered) {
    grey ? ReduceOrdered<1>(row, width, emit) : ReduceOrdered<3>(row, width, emit);
  } else {
    grey ? ReduceNone<1>(row, width, emit) : ReduceNone<3>(row, width, emit);
  }
  ++row_;
}

template <int kChannels, typename Emit>
void RowDitherer::ReduceNone(const std::uint8_t* row, std::size_t width, const Emit& emit) const {
  int shift[kChannels];
  for (int c = 0; c < kChannels; ++c) shift[c] = 8 - bits_[c];
  for (std::size_t x = 0; x < width; ++x) {
    std::uint8_t in[kChannels];
    Inputs(row + 4 * x, in);
    int code[kChannels];
    for (int c = 0; c < kChannels; ++c) code[c] = in[c] >> shift[c];
    emit(x, code, kChannels);
  }
}

template <int kChannels, typename Emit>
void RowDitherer::ReduceOrdered(const std::uint8_t* row, std::size_t width, const Emit& emit) const {
  const std::uint8_t* ranks = kBayer[row_ & 7];
  const std::uint16_t* ranked = ranked_.data();
  for (std::size_t x = 0; x < width; ++x) {
    std::uint8_t in[kChannels];
    Inputs(row + 4 * x, in);
    const int rank = ranks[x & 7];
    int code[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      // Green, the most of the light, takes the opposite rank: where red and blue step up,
      // green steps down, and the pattern flickers less in brightness (an eighth less
      // difference at 4-4-4 than with the same rank for all three).
      const unsigned entry = ranked[c * 256 + in[c]];
      code[c] = static_cast<int>(entry & 0xFF) + ((c == 1 ? 63 - rank : rank) < static_cast<int>(entry >> 8));
    }
    emit(x, code, kChannels);
  }
}

void RowDitherer::BuildRanked() {
  ranked_.assign(levels_.size() * 256, 0);
  for (std::size_t c = 0; c < levels_.size(); ++c) {
    const Levels& l = levels_[c];
    for (int value = 0; value < 256; ++value) {
      const std::int32_t v = kLight[static_cast<std::size_t>(value)];
      const int base = Step(l.below[v >> kStepShift], v);
      // The threshold of rank r lies at (2 r + 1) / 128 of the way between the two levels
      // around the light, so a flat area shows the upper level on the right share of its
      // pixels: the ranks below a count take it. Both sides below 2^28: the light is below
      // 2^20.
      int ranks = 0;
      while (ranks < 64 && (v - l.level[base]) * 128 > (2 * ranks + 1) * (l.level[base + 1] - l.level[base])) ++ranks;
      ranked_[c * 256 + static_cast<std::size_t>(value)] = static_cast<std::uint16_t>(base | ranks << 8);
    }
  }
}

namespace {

// One channel of one pixel: `base` (the pixel's light and the error handed to it from
// above) and `ahead` (the share of its neighbour before it) make the light `want`, which
// takes the nearest level of the channel's steps, the `slot`th of each step from `steps`.
// Returns the code and leaves in `ahead` the share the next pixel takes, 7/16 of the error:
// the only value carried from pixel to pixel. Stores that share at `share` and `want` at
// `light`, from which ShareBelow shares the rest of the error out.
//
// The share is 7 x (e >> 4) for the error e = want - level. The levels are multiples of 16,
// so e >> 4 = (want >> 4) - level / 16 exactly: the steps hold 7 x level / 16 for both
// codes, 7 x (want >> 4) is computed beside the lookup, and after the choice of the level
// one subtraction is left on the chain from pixel to pixel. Off the chain, e >> 4 is the
// share divided by 7, and e's low 4 bits are want's.
//
// The levels span black to white, so the error stays bounded without clamping; a channel
// of 8 bits meets its level exactly and has no error. The steps span light from -1 to 3
// times white, beyond what the error reaches (about half the widest gap between levels).
// Unchecked, the step is found with a shift and a mask: it stays inside the steps whatever
// the light, and is right while the light stays inside them, which the caller checks.
// Checked, the step is kept inside the steps below 2 times white, as every light above
// takes the top code.
template <bool kChecked>
inline std::uint8_t DiffuseChannel(std::int32_t base, std::int32_t& ahead, const char* steps, unsigned shift,
                                   std::uint32_t mask, unsigned slotBits, std::size_t slot,
                                   std::int32_t* share, std::int32_t* light) {
  const std::int32_t want = base + ahead;
  std::size_t offset;
  if constexpr (kChecked) {
    offset = std::size_t{std::min(static_cast<std::uint32_t>(want) >> shift, mask)} << slotBits;
  } else {
    offset = (static_cast<std::uint32_t>(want) >> shift) & mask;
  }
  const std::int32_t* step = reinterpret_cast<const std::int32_t*>(steps + offset + 16 * slot);
  const bool upper = want >= step[kThreshold];
  // Both shares first, then the choice: a conditional move, as a branch would be
  // mispredicted half the time.
  const std::int32_t sevenths = 7 * (want >> kFractionBits);
  const std::int32_t below = sevenths - step[kLowerAhead], above = sevenths - step[kUpperAhead];
  ahead = upper ? above : below;
  *share = ahead;
  *light = want;
  return static_cast<std::uint8_t>(step[kCode] + upper);
}

}  // namespace

template <int kChannels>
void RowDitherer::ReduceDiffused(const std::uint8_t* row, std::size_t width, std::uint8_t* codes) {
  if (width == 0) return;
  // Serpentine: even rows run left to right, odd rows right to left, so the error does not
  // drift one way and draw diagonal worms. A loop for each way, so the places are counted
  // with constants. Should the light of a pixel have left the steps, the row is reduced
  // again with checked steps.
  if ((row_ & 1) == 0) {
    Diffuse<kChannels, true, false>(row, width, codes);
    if (!ShareBelow<kChannels, true>(width)) {
      Diffuse<kChannels, true, true>(row, width, codes);
      ShareBelow<kChannels, true>(width);
    }
  } else {
    Diffuse<kChannels, false, false>(row, width, codes);
    if (!ShareBelow<kChannels, false>(width)) {
      Diffuse<kChannels, false, true>(row, width, codes);
      ShareBelow<kChannels, false>(width);
    }
  }
  here_.swap(next_);
}

// The chain of the row: each pixel waits for the share of its neighbour before it, so the
// work a pixel does between the two is kept short: a shift, a mask, one lookup, one
// comparison, a choice and a subtraction, each channel's share in a register of its own.
// The rest of the error is shared out below afterwards.
template <int kChannels, bool kForward, bool kChecked>
RASTROM_BODY void RowDitherer::DiffuseBody(const std::uint8_t* row, std::size_t width, std::uint8_t* codes) {
  // Locals, so that the stores of the codes, which may alias anything, do not make the
  // compiler read the members again for every pixel.
  const std::int32_t* here = here_.data() + kChannels;  // the error places of pixel 0, then 1, ...
  std::int32_t* shares = ahead_.data();
  std::int32_t* wanted = want_.data();
  const std::int32_t* light = near_.data();
  const char* steps = reinterpret_cast<const char*>(near_.data() + 256);
  const unsigned slotBits = nearSlotBits_;
  const unsigned shift = kChecked ? nearShift_ : nearShift_ - slotBits;
  const std::uint32_t mask = kChecked ? nearLast_ : (nearSteps_ - 1) << slotBits;
  if constexpr (kChannels == 1) {
    // The grey values first, apart from the chain.
    std::uint8_t* grey = grey_.data();
    for (std::size_t x = 0; x < width; ++x) grey[x] = Luma(row[4 * x + 2], row[4 * x + 1], row[4 * x]);
    std::int32_t share = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t x = kForward ? i : width - 1 - i;
      codes[x] = DiffuseChannel<kChecked>(light[grey[x]] + here[x], share, steps, shift, mask, slotBits, 0,
                                          shares + x, wanted + x);
    }
  } else {
    std::int32_t red = 0, green = 0, blue = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const std::size_t x = kForward ? i : width - 1 - i;
      const std::uint8_t* p = row + 4 * x;
      const std::int32_t* in = here + 3 * x;
      std::uint8_t* code = codes + 3 * x;
      const std::size_t k = 3 * x;
      code[0] = DiffuseChannel<kChecked>(light[p[2]] + in[0], red, steps, shift, mask, slotBits, 0, shares + k,
                                         wanted + k);
      code[1] = DiffuseChannel<kChecked>(light[p[1]] + in[1], green, steps, shift, mask, slotBits, 1,
                                         shares + k + 1, wanted + k + 1);
      code[2] = DiffuseChannel<kChecked>(light[p[0]] + in[2], blue, steps, shift, mask, slotBits, 2,
                                         shares + k + 2, wanted + k + 2);
    }
  }
}

// The rest of each pixel's error to the next row: 3/16 to the place below and behind, 5/16
// straight below, and what remains (1/16 and the rounding, so no light is lost) below and
// ahead. The shares that would leave the picture at the row's ends go to the place below the
// end instead, so a narrow picture keeps its light too. Each place gathers its shares from
// the three pixels above it, in order of the places: loops without a chain or a branch,
// which compilers turn into vector instructions; the ends apart.
//
// Returns whether every light was inside the steps: then the codes are right.
template <int kChannels, bool kForward>
RASTROM_BODY bool RowDitherer::ShareBelowBody(std::size_t width) {
  constexpr std::size_t n = kChannels;
  // Each error's sixteenth e >> 4: its share ahead divided by 7, exactly.
  const std::int32_t* ahead = ahead_.data();
  auto s = [&](std::size_t i) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(ahead[i]) * kSeventh); };
  const std::int32_t* want = want_.data();
  // The remainder e - 15 x (e >> 4): e's low 4 bits are want's, as the level's are 0.
  auto r = [&](std::size_t i) { return s(i) + (want[i] & 15); };
  // Every light inside the steps, from -1 to 3 times white (0 to 4 times white as held,
  // a 22-bit number): together, no light has a bit above those.
  std::uint32_t lights = 0;
  auto check = [&](std::size_t i) { lights |= static_cast<std::uint32_t>(want[i]); };
  std::int32_t* next = next_.data() + n;
  // What the pixel on the left hands down to the right (its remainder going forward, its
  // 3/16 going backward), and the pixel on the right to the left.
  auto toRight = [&](std::size_t i) { return kForward ? r(i) : 3 * s(i); };
  auto toLeft = [&](std::size_t i) { return kForward ? 3 * s(i) : r(i); };
  for (std::size_t i = n; i + n < width * n; ++i) {
    next[i] = toRight(i - n) + 5 * s(i) + toLeft(i + n);
    check(i);
  }
  const std::size_t last = (width - 1) * n;
  for (std::size_t c = 0; c < n; ++c) {
    // The first and the last pixel of the row in its own order keep what would leave it:
    // 3/16 behind the first, 7/16 ahead of the last and its remainder.
    const std::size_t first = kForward ? c : last + c, end = kForward ? last + c : c;
    const std::int32_t behind = 3 * s(first), beyond = 7 * s(end) + r(end);
    check(c);
    check(last + c);
    if (width == 1) {
      next[c] = 5 * s(c) + behind + beyond;
      continue;
    }
    next[c] = 5 * s(c) + toLeft(n + c) + (kForward ? behind : beyond);
    next[last + c] = toRight(last - n + c) + 5 * s(last + c) + (kForward ? beyond : behind);
  }
  return lights >> kStepsLightBits == 0;
}

// Each of the two above in the build for the processor at hand.
#ifdef RASTROM_WIDE
template <int kChannels, bool kForward, bool kChecked>
RASTROM_WIDE_TARGET void RowDitherer::DiffuseWide(const std::uint8_t* row, std::size_t width, std::uint8_t* codes) {
  DiffuseBody<kChannels, kForward, kChecked>(row, width, codes);
}

template <int kChannels, bool kForward>
RASTROM_WIDE_TARGET bool RowDitherer::ShareBelowWide(std::size_t width) {
  return ShareBelowBody<kChannels, kForward>(width);
}
#endif

template <int kChannels, bool kForward, bool kChecked>
void RowDitherer::Diffuse(const std::uint8_t* row, std::size_t width, std::uint8_t* codes) {
#ifdef RASTROM_WIDE
  if (WideProcessor()) return DiffuseWide<kChannels, kForward, kChecked>(row, width, codes);
#endif
  DiffuseBody<kChannels, kForward, kChecked>(row, width, codes);
}

template <int kChannels, bool kForward>
bool RowDitherer::ShareBelow(std::size_t width) {
#ifdef RASTROM_WIDE
  if (WideProcessor()) return ShareBelowWide<kChannels, kForward>(width);
#endif
  return ShareBelowBody<kChannels, kForward>(width);
}

DitherReducer::DitherReducer(DitherMethod method, const PixelFormat& format, std::size_t width)
    : method_(method) {
  const std::size_t strips = method == DitherMethod::kFloydSteinberg && width >= kTwoStripWidth ? 2 : 1;
  for (std::size_t s = 0, first = 0; s < strips; ++s) {
    const std::size_t end = width * (s + 1) / strips;
    first_.push_back(first);
    strips_.emplace_back(method, format, end - first);
    first = end;
  }
  // Where each channel's code goes in the value: the place of its lowest bit in a value
  // that holds only that bit. Grey has one code, in the value's low bits.
  for (unsigned c = 0; c < 3; ++c) {
    shift_[c] = 0;
    if (!IsGray(format)) {
      shift_[c] = static_cast<unsigned>(std::countr_zero(PackCodes(format, c == 0, c == 1, c == 2)));
    }
    place_[c] = std::uint32_t{1} << shift_[c];
  }
}

std::pair<std::size_t, std::size_t> DitherReducer::StripPixels(std::size_t strip, std::size_t n) const {
  const std::size_t end = strip + 1 < first_.size() ? first_[strip + 1] : n;
  return {std::min(first_[strip], n), std::min(end, n)};
}

void DitherReducer::ReduceRow(std::span<const std::uint8_t> bgrx, std::span<std::uint32_t> values) {
  const std::size_t n = std::min(bgrx.size() / 4, values.size());
  for (std::size_t s = 0; s < strips_.size(); ++s) {
    const auto [begin, end] = StripPixels(s, n);
    strips_[s].ReduceRow(bgrx.subspan(4 * begin, 4 * (end - begin)), shift_, values.subspan(begin, end - begin));
  }
}

std::size_t DitherReducer::CodesPerPixel() const {
  return method_ == DitherMethod::kFloydSteinberg ? static_cast<std::size_t>(strips_.front().channels()) : 0;
}

void DitherReducer::CodeRow(std::span<const std::uint8_t> bgrx, std::span<std::uint8_t> codes) {
  for (std::size_t s = 0; s < strips_.size(); ++s) CodeStrip(s, bgrx, codes);
}

void DitherReducer::CodeStrip(std::size_t strip, std::span<const std::uint8_t> bgrx,
                              std::span<std::uint8_t> codes) {
  const auto channels = static_cast<std::size_t>(strips_.front().channels());
  const auto [begin, end] = StripPixels(strip, std::min(bgrx.size() / 4, codes.size() / channels));
  strips_[strip].ReduceRow(bgrx.subspan(4 * begin, 4 * (end - begin)),
                           codes.subspan(channels * begin, channels * (end - begin)));
}

namespace {

// Each code times its place's value: multiplications, which need no shift register.
RASTROM_BODY void PackThreeCodesBody(const std::uint8_t* code, std::size_t n, const std::uint32_t (&place)[3],
                                     std::uint32_t* out) {
  const std::uint32_t red = place[0], green = place[1], blue = place[2];
  for (std::size_t x = 0; x < n; ++x) out[x] = code[3 * x] * red + code[3 * x + 1] * green + code[3 * x + 2] * blue;
}

#ifdef RASTROM_WIDE
RASTROM_WIDE_TARGET void PackThreeCodesWide(const std::uint8_t* code, std::size_t n,
                                            const std::uint32_t (&place)[3], std::uint32_t* out) {
  PackThreeCodesBody(code, n, place, out);
}
#endif

void PackThreeCodes(const std::uint8_t* code, std::size_t n, const std::uint32_t (&place)[3], std::uint32_t* out) {
#ifdef RASTROM_WIDE
  if (WideProcessor()) return PackThreeCodesWide(code, n, place, out);
#endif
  PackThreeCodesBody(code, n, place, out);
}

}  // namespace

void DitherReducer::PackRow(std::span<const std::uint8_t> codes, std::span<std::uint32_t> values) const {
  if (strips_.front().channels() == 1) {
    const std::size_t n = std::min(codes.size(), values.size());
    for (std::size_t x = 0; x < n; ++x) values[x] = codes[x];
    return;
  }
  PackThreeCodes(codes.data(), std::min(codes.size() / 3, values.size()), place_, values.data());
}

std::unique_ptr<RowReducer> MakeRowReducer(DitherMethod method, const PixelFormat& format,
                                           std::size_t width) {
  if (method == DitherMethod::kNone) return std::make_unique<TopBitsReducer>(format);
  return std::make_unique<DitherReducer>(method, format, width);
}

}  // namespace rastrom
