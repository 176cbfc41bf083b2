#include "dither.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

namespace rastrom {

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
    int nearest = 0;
    auto up = [&l](int code) {  // the least light nearer to code + 1 than to code
      return code < l.top ? (l.level[code] + l.level[code + 1] + 1) / 2 : kOne + 1;
    };
    for (int i = 0; i < kSteps; ++i) {
      const std::int32_t v = i << kStepShift;
      while (l.level[below + 1] <= v) ++below;
      l.below[i] = static_cast<std::uint32_t>(l.level[below + 1]) << 8 | static_cast<std::uint32_t>(below);
    }
    for (int i = 0; i < kNearSteps; ++i) {
      const std::int32_t v = (i << kStepShift) - kOne;
      while (nearest < l.top && up(nearest) <= v) ++nearest;
      // Above the top code nothing is nearer: a threshold no light reaches.
      const std::uint32_t threshold = nearest < l.top ? static_cast<std::uint32_t>(up(nearest)) : 0xFFFFFFu;
      l.nearest[i] = threshold << 8 | static_cast<std::uint32_t>(nearest);
    }
  }
  if (method_ == DitherMethod::kFloydSteinberg) {
    here_.assign((width_ + 2) * static_cast<std::size_t>(channels_), 0);
    next_.assign(here_.size(), 0);
  }
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
  Reduce(row.data(), n, [out](std::size_t x, const int* code, int channels) {
    std::uint8_t* pixel = out + x * static_cast<std::size_t>(channels);
    for (int c = 0; c < channels; ++c) pixel[c] = static_cast<std::uint8_t>(code[c]);
  });
}

void RowDitherer::ReduceRow(std::span<const std::uint8_t> row, const unsigned (&shifts)[3],
                            std::span<std::uint32_t> values) {
  const std::size_t n = std::min({width_, row.size() / 4, values.size()});
  std::uint32_t* out = values.data();
  // Each code times its place's value: multiplications, which need no shift register.
  const std::uint32_t r = std::uint32_t{1} << shifts[0], g = std::uint32_t{1} << shifts[1],
                      b = std::uint32_t{1} << shifts[2];
  Reduce(row.data(), n, [out, r, g, b](std::size_t x, const int* code, int channels) {
    out[x] = channels == 1 ? static_cast<std::uint32_t>(code[0])
                           : static_cast<std::uint32_t>(code[0]) * r + static_cast<std::uint32_t>(code[1]) * g +
                                 static_cast<std::uint32_t>(code[2]) * b;
  });
}

template <typename Emit>
void RowDitherer::Reduce(const std::uint8_t* row, std::size_t width, const Emit& emit) {
  const bool grey = channels_ == 1;
  switch (method_) {
    case DitherMethod::kNone:
      grey ? ReduceNone<1>(row, width, emit) : ReduceNone<3>(row, width, emit);
      break;
    case DitherMethod::kOrdered:
      grey ? ReduceOrdered<1>(row, width, emit) : ReduceOrdered<3>(row, width, emit);
      break;
    case DitherMethod::kFloydSteinberg:
      grey ? ReduceDiffused<1>(row, width, emit) : ReduceDiffused<3>(row, width, emit);
      break;
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
  for (std::size_t x = 0; x < width; ++x) {
    std::uint8_t in[kChannels];
    Inputs(row + 4 * x, in);
    const int rank = ranks[x & 7];
    int code[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      // The threshold lies at (2 rank + 1) / 128 of the way between the two levels around
      // the light, so a flat area shows the upper level on the right share of its pixels.
      // Green, the most of the light, takes the opposite rank: where red and blue step up,
      // green steps down, and the pattern flickers less in brightness (an eighth less
      // difference at 4-4-4 than with the same rank for all three).
      const std::int32_t threshold = 2 * (c == 1 ? 63 - rank : rank) + 1;
      const Levels& l = levels_[static_cast<std::size_t>(c)];
      const std::int32_t v = kLight[in[c]];
      const int base = Step(l.below[v >> kStepShift], v);
      // Both sides below 2^28: the light is below 2^20.
      const bool upper = (v - l.level[base]) * 128 > threshold * (l.level[base + 1] - l.level[base]);
      code[c] = base + upper;
    }
    emit(x, code, kChannels);
  }
}

namespace {

// The error of one channel on its way: to the next pixel of the row (`ahead`); to the place
// below this pixel, still waiting for its share from the next pixel (`waiting`); to the
// place below the next pixel (`below`). Held in locals, one set a channel, so that they
// stay in registers.
struct Flow {
  std::int32_t ahead = 0;
  std::int32_t waiting = 0;
  std::int32_t below = 0;
};

}  // namespace

template <int kChannels, typename Emit>
void RowDitherer::ReduceDiffused(const std::uint8_t* row, std::size_t width, const Emit& emit) {
  if (width == 0) return;
  // Serpentine: even rows run left to right, odd rows right to left, so the error does not
  // drift one way and draw diagonal worms.
  const bool forward = (row_ & 1) == 0;
  const std::ptrdiff_t dir = forward ? 1 : -1;
  constexpr std::ptrdiff_t n = kChannels;
  // Locals, so that the stores of the output, which may alias anything, do not make the
  // compiler read the members again for every pixel.
  const Levels* levels = levels_.data();
  const std::int32_t* here = here_.data() + n;  // the error places of pixel 0, then 1, ...
  std::int32_t* next = next_.data() + n;
  Flow flow[kChannels];

  // Reduces channel c of the pixel at place x, whose light is `light`; returns its code.
  // A place of the next row is stored once, when all its shares are in.
  const auto diffuse = [&](std::ptrdiff_t x, std::ptrdiff_t c, std::int32_t light, Flow& f) {
    const Levels& l = levels[c];
    // The nearest level. The levels span black to white, so the error stays bounded
    // without clamping; a channel of 8 bits meets its level exactly and has no error.
    // The table spans light from -kOne to 2 kOne, beyond what the error reaches (about
    // half the widest gap between levels); the index is kept inside it whatever the light.
    const std::int32_t want = light + here[x * n + c] + f.ahead;
    const std::uint32_t index =
        std::min(static_cast<std::uint32_t>(want + kOne) >> kStepShift, std::uint32_t{kNearSteps - 1});
    const std::uint32_t entry = l.nearest[index];
    const int base = static_cast<int>(entry & 0xFF);
    const bool upper = want >= static_cast<std::int32_t>(entry >> 8);
    // Both levels are read at once, before the comparison decides between them.
    const std::int32_t lower = l.level[base];
    const std::int32_t higher = l.level[base + 1];
    // Floyd-Steinberg's shares of the error, 7 ahead, 3 behind below, 5 below, 1 ahead
    // below (sixteenths); the last share takes the rounding, so no light is lost.
    const std::int32_t error = want - (upper ? higher : lower);
    const std::int32_t sixteenth = error >> 4;
    const std::int32_t behindBelow = 3 * sixteenth;
    const std::int32_t straightBelow = 5 * sixteenth;
    f.ahead = 7 * sixteenth;
    next[(x - dir) * n + c] = f.waiting + behindBelow;
    f.waiting = f.below + straightBelow;
    f.below = error - 15 * sixteenth;
    return base + upper;
  };

  const std::ptrdiff_t first = forward ? 0 : static_cast<std::ptrdiff_t>(width) - 1;
  for (std::ptrdiff_t x = first, i = 0; i < static_cast<std::ptrdiff_t>(width); x += dir, ++i) {
    const std::uint8_t* p = row + 4 * x;
    if constexpr (kChannels == 1) {
      const int code[1] = {diffuse(x, 0, kLight[Luma(p[2], p[1], p[0])], flow[0])};
      emit(static_cast<std::size_t>(x), code, 1);
    } else {
      const int code[3] = {diffuse(x, 0, kLight[p[2]], flow[0]), diffuse(x, 1, kLight[p[1]], flow[1]),
                           diffuse(x, 2, kLight[p[0]], flow[2])};
      emit(static_cast<std::size_t>(x), code, 3);
    }
  }
  // The shares that would leave the picture at the row's ends go to the place below the
  // end instead, so a narrow picture keeps its light too.
  const std::ptrdiff_t last = forward ? static_cast<std::ptrdiff_t>(width) - 1 : 0;
  for (std::ptrdiff_t c = 0; c < n; ++c) {
    next[last * n + c] = flow[c].waiting + flow[c].below + flow[c].ahead;
    next[first * n + c] += std::exchange(next[(first - dir) * n + c], 0);
  }
  here_.swap(next_);
}

DitherReducer::DitherReducer(DitherMethod method, const PixelFormat& format, std::size_t width)
    : ditherer_(method, format, width) {
  // Where each channel's code goes in the value: the place of its lowest bit in a value
  // that holds only that bit. Grey has one code, in the value's low bits.
  for (unsigned c = 0; c < 3; ++c) {
    shift_[c] = 0;
    if (!IsGray(format)) {
      shift_[c] = static_cast<unsigned>(std::countr_zero(PackCodes(format, c == 0, c == 1, c == 2)));
    }
  }
}

void DitherReducer::ReduceRow(std::span<const std::uint8_t> bgrx, std::span<std::uint32_t> values) {
  ditherer_.ReduceRow(bgrx, shift_, values);
}

std::unique_ptr<RowReducer> MakeRowReducer(DitherMethod method, const PixelFormat& format,
                                           std::size_t width) {
  if (method == DitherMethod::kNone) return std::make_unique<TopBitsReducer>(format);
  return std::make_unique<DitherReducer>(method, format, width);
}

}  // namespace rastrom
