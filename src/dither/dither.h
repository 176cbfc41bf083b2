// Reduction of a picture's pixels to the channel codes of a display format, row by row from
// the top, by keeping the top bits or by dithering.
//
// The levels a code stands for are what the display shows: the code widened to 8 bits by
// repeating its bits, taken as sRGB. Dithering measures and spreads the error in linear
// light, in integer arithmetic only, so every platform gives the same codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "pixel_format.h"

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

// Reduces the rows of one picture, from the top, to codes. It holds two rows of error at
// most, never the picture: its memory grows with the width only.
class RowDitherer {
 public:
  // Codes of the channels of `format`: red, green and blue, or the grey value (the luma).
  // A channel of 8 bits is passed through unchanged.
  RowDitherer(DitherMethod method, const PixelFormat& format, std::size_t width);

  std::size_t width() const { return width_; }
  // Codes a pixel: 3, or 1 for grey.
  int channels() const { return channels_; }
  // Bytes of codes a row gives: width x channels().
  std::size_t codesPerRow() const { return width_ * static_cast<std::size_t>(channels_); }

  // Reduces the next row. `row` holds width() pixels of four bytes each (blue, green, red,
  // unused); `codes` receives codesPerRow() bytes: per pixel its red, green and blue codes,
  // or its grey code. A shorter row, or room for fewer codes, reduces only the pixels that
  // both hold, as a row of that width.
  void ReduceRow(std::span<const std::uint8_t> row, std::span<std::uint8_t> codes);

  // The same, straight to pixel values: each code shifted to its place (`shifts` of red,
  // green and blue; a grey code is not shifted), the three together in values[x].
  void ReduceRow(std::span<const std::uint8_t> row, const unsigned (&shifts)[3],
                 std::span<std::uint32_t> values);

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
  };

  // Reduces `width` pixels of the next row by keeping the top bits or by ordered dithering,
  // handing each pixel's codes to emit(x, codes, channels).
  template <typename Emit>
  void Reduce(const std::uint8_t* row, std::size_t width, const Emit& emit);
  template <int kChannels, typename Emit>
  void ReduceNone(const std::uint8_t* row, std::size_t width, const Emit& emit) const;
  template <int kChannels, typename Emit>
  void ReduceOrdered(const std::uint8_t* row, std::size_t width, const Emit& emit) const;
  // Reduces `width` pixels of the next row by error diffusion, `codes` receiving each
  // pixel's codes.
  template <int kChannels>
  void ReduceDiffused(const std::uint8_t* row, std::size_t width, std::uint8_t* codes);
  // Each of these two runs its body as built for the processor at hand: for AVX2 and BMI2
  // (the Wide build), or for every x86-64 processor.
  template <int kChannels, bool kForward, bool kChecked>
  void Diffuse(const std::uint8_t* row, std::size_t width, std::uint8_t* codes);
  template <int kChannels, bool kForward, bool kChecked>
  void DiffuseBody(const std::uint8_t* row, std::size_t width, std::uint8_t* codes);
  template <int kChannels, bool kForward, bool kChecked>
  void DiffuseWide(const std::uint8_t* row, std::size_t width, std::uint8_t* codes);
  template <int kChannels, bool kForward>
  bool ShareBelow(std::size_t width);
  template <int kChannels, bool kForward>
  bool ShareBelowBody(std::size_t width);
  template <int kChannels, bool kForward>
  bool ShareBelowWide(std::size_t width);
  // Fills near_ from levels_.
  void BuildNearest();
  // Fills ranked_ from levels_.
  void BuildRanked();

  DitherMethod method_;
  std::uint8_t bits_[3];  // red, green and blue, or the grey alone
  std::size_t width_;
  int channels_;
  std::uint64_t row_ = 0;  // rows reduced so far
  std::uint32_t place_[3] = {};  // the value of a code of 1 in each channel's place
  std::vector<Levels> levels_;
  // Error handed to each place of this row and of the next, per channel, with one spare
  // place at each end for the error that leaves the picture.
  std::vector<std::int32_t> here_;
  std::vector<std::int32_t> next_;
  // The error e each pixel of the row left, per channel, as its share ahead 7 x (e >> 4)
  // and the light it wanted, whose low 4 bits are e's: shared out to the next row once the
  // row is done, outside the chain of pixels that each wait for their left neighbour.
  std::vector<std::int32_t> ahead_;
  std::vector<std::int32_t> want_;
  std::vector<std::uint8_t> codes_;  // a row's codes, before they are packed into values
  std::vector<std::uint8_t> grey_;  // a row's grey values
  // The light of each input value raised by white (256 values), then the nearest code to
  // light v + 65535 x 16 (error may take it below black or above white) for steps of
  // nearShift_ bits of that light: for each step and channel the light from which the next
  // code is nearer, the code nearest at the step's start, and 7/16 of the levels of both
  // (light v + 65535 x 16 too), so that one lookup gives all the error diffusion needs. The
  // channels of a step lie side by side, 16 bytes each, in 64 bytes (16 for grey), so that
  // one register points at every table and a light's step is a shift and a mask away.
  std::vector<std::int32_t> near_;
  // Ordered dithering: for each channel and input value, the code whose level is at or
  // below its light, and above it (<< 8) how many of the 64 ranks of the Bayer matrix take
  // the next code instead.
  std::vector<std::uint16_t> ranked_;
  unsigned nearShift_ = 8;
  unsigned nearSlotBits_ = 6;    // bytes of a step: 1 << nearSlotBits_
  std::uint32_t nearSteps_ = 0;  // a power of two, for light up to 3 times white
  std::uint32_t nearLast_ = 0;   // the last step below 2 times white
};

// Error diffusion of rows of at least this many pixels runs as two strips side by side, the
// left and the right half, each a chain of its own that a thread may run while another
// runs the other. Each strip keeps its error at the edge where they meet, as at the
// picture's sides. The strips depend on the width alone, so the words do not depend on how
// many threads run them.
inline constexpr std::size_t kTwoStripWidth = 2048;

// A RowReducer that dithers: the codes of a RowDitherer for each strip of the rows, packed
// into the format's pixel values. Give it every row of a picture once, from the top row down.
class DitherReducer final : public RowReducer {
 public:
  DitherReducer(DitherMethod method, const PixelFormat& format, std::size_t width);
  void ReduceRow(std::span<const std::uint8_t> bgrx, std::span<std::uint32_t> values) override;
  // Error diffusion splits: the codes of RowDitherer::ReduceRow, then their packing.
  std::size_t CodesPerPixel() const override;
  void CodeRow(std::span<const std::uint8_t> bgrx, std::span<std::uint8_t> codes) override;
  void PackRow(std::span<const std::uint8_t> codes, std::span<std::uint32_t> values) const override;
  std::size_t Strips() const override { return strips_.size(); }
  void CodeStrip(std::size_t strip, std::span<const std::uint8_t> bgrx, std::span<std::uint8_t> codes) override;

 private:
  // The pixels of strip `strip` in a row of `n` pixels: from the first to one past the last.
  std::pair<std::size_t, std::size_t> StripPixels(std::size_t strip, std::size_t n) const;

  std::vector<RowDitherer> strips_;  // left to right
  std::vector<std::size_t> first_;   // the first pixel of each strip
  DitherMethod method_;
  unsigned shift_[3];        // where each code goes in the value
  std::uint32_t place_[3];   // the value of a code of 1 in each place
};

// The reducer of `method`: the top bits (a TopBitsReducer, which takes rows in any order)
// for none, else a DitherReducer for pictures `width` pixels wide.
// When set, the error diffusion runs the build of its loops for every x86-64 processor even
// where the processor could run the one for AVX2: both give the same codes. Only tests set it.
extern bool gDitherNarrowOnly;

std::unique_ptr<RowReducer> MakeRowReducer(DitherMethod method, const PixelFormat& format,
                                           std::size_t width);

}  // namespace rastrom
