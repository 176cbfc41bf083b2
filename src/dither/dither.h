// Reduction of a picture's pixels to the channel codes of a display format, row by row from
// the top, by keeping the top bits or by dithering.
//
// The levels a code stands for are what the display shows: the code widened to 8 bits by
// repeating its bits, taken as sRGB. Dithering measures and spreads the error in linear
// light, in integer arithmetic only, so every platform gives the same codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace rastrom {

enum class DitherMethod {
  kNone,            // keep each channel's top bits
  kFloydSteinberg,  // serpentine error diffusion
  kOrdered,         // an 8x8 Bayer matrix of thresholds between neighbouring levels
};

// Reads "none", "floyd-steinberg" or "ordered". Returns false for any other text.
bool ParseDitherMethod(std::string_view text, DitherMethod& method);

// The name ParseDitherMethod reads for `method`.
const char* DitherMethodName(DitherMethod method);

// The channels a pixel is reduced to: red, green and blue codes, or one grey code of the
// luma (19595 R + 38470 G + 7471 B + 32768) >> 16.
struct ChannelBits {
  bool grey = false;
  std::uint8_t bits[3] = {8, 8, 8};  // red, green, blue; a grey code has bits[0]

  static ChannelBits Rgb(int red, int green, int blue);
  static ChannelBits Grey(int bits);
  // True when each channel in use has 1 to 8 bits.
  bool valid() const;
  // Codes a pixel: 3, or 1 for grey.
  int count() const { return grey ? 1 : 3; }
};

// The 8-bit value a display shows for an n-bit code: the code's bits repeated from the top
// (3-bit v gives v<<5 | v<<2 | v>>1). bits is 1..8, code below 2^bits.
std::uint8_t WidenCode(unsigned code, int bits);

// The luma of an 8-bit red, green and blue, rounded: the grey value of a grey format.
inline std::uint8_t Luma(unsigned red, unsigned green, unsigned blue) {
  return static_cast<std::uint8_t>((19595 * red + 38470 * green + 7471 * blue + 32768) >> 16);
}

// Reduces the rows of one picture, from the top, to codes. It holds two rows of error at
// most, never the picture: its memory grows with the width only.
class RowDitherer {
 public:
  // `bits` must be valid(). A channel of 8 bits is passed through unchanged.
  RowDitherer(DitherMethod method, ChannelBits bits, std::size_t width);

  std::size_t width() const { return width_; }
  // Bytes of codes a row gives: width x bits.count().
  std::size_t codesPerRow() const { return width_ * static_cast<std::size_t>(channels_); }

  // Reduces the next row. `row` holds width() pixels of four bytes each (blue, green, red,
  // unused); `codes` receives codesPerRow() bytes: per pixel its red, green and blue codes,
  // or its grey code. Both must be at least that long.
  void ReduceRow(std::span<const std::uint8_t> row, std::span<std::uint8_t> codes);

 private:
  // Linear light is held from 0 to 65535 x 16; the tables below step through it in steps
  // of 256.
  static constexpr int kStepShift = 8;
  static constexpr int kSteps = (65535 << 4 >> kStepShift) + 1;
  // What one channel's codes stand for.
  struct Levels {
    int bits = 8;
    int top = 255;                   // the largest code
    std::int32_t level[257] = {};    // the linear light of each code, and above the top
    // For each step of light v: the largest code whose level is at most the step's start,
    // and above it (<< 8) the light where the next code's level begins.
    std::uint32_t below[kSteps] = {};
    // The same for the nearest code, with the light from which the next code is nearer.
    std::uint32_t nearest[kSteps] = {};
  };

  template <int kChannels>
  void ReduceNone(const std::uint8_t* row, std::uint8_t* codes) const;
  template <int kChannels>
  void ReduceOrdered(const std::uint8_t* row, std::uint8_t* codes) const;
  template <int kChannels>
  void ReduceDiffused(const std::uint8_t* row, std::uint8_t* codes);

  DitherMethod method_;
  ChannelBits bits_;
  std::size_t width_;
  int channels_;
  std::uint64_t row_ = 0;  // rows reduced so far
  std::vector<Levels> levels_;
  // Error still to be added to this row and the next, per channel, with one spare place
  // at each end for the error that leaves the picture.
  std::vector<std::int32_t> here_;
  std::vector<std::int32_t> next_;
};

}  // namespace rastrom
