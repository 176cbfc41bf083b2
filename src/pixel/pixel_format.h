// Pixel formats of the displays a memory feeds: how a colour becomes a pixel value, how
// pixel values are packed into memory words, and how a value is shown again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace rastrom {

// A pixel format: `rgbXYZ` (X bits of red in the top bits, then Y of green, then Z of
// blue), `bgrXYZ` (X bits of blue on top, Y of green, Z of red) or `grayN` (`mono` is
// `gray1`). Every field is 1 to 8 bits.
struct PixelFormat {
  enum class Kind { kRgb, kBgr, kGray };
  Kind kind = Kind::kRgb;
  // The bits of each field from the top of the pixel down; for grey only fields[0] counts.
  std::uint8_t fields[3] = {3, 3, 2};

  friend bool operator==(const PixelFormat&, const PixelFormat&) = default;
};

// The converter's format, 3-3-2 RGB.
inline constexpr PixelFormat kRgb332{};

// Reads a format's name, in any letter case: "rgb444", "bgr233", "gray4", "mono". Nothing
// for a name that is not one ("rgb990", "rgb3", "gray9", "cmyk").
std::optional<PixelFormat> ParsePixelFormat(std::string_view name);

// The format's name as ParsePixelFormat reads it, lower case; gray1 is "mono".
std::string PixelFormatName(const PixelFormat& format);

// The format as a person reads it: "4-4-4 RGB", "2-3-3 BGR", "4-bit grey". The memory
// files' descriptions use it; ParsePixelDescription reads it back.
std::string PixelDescription(const PixelFormat& format);
std::optional<PixelFormat> ParsePixelDescription(std::string_view text);

// The bits of one pixel value: the sum of the fields (1 to 24).
unsigned PixelBits(const PixelFormat& format);

// The bits of each channel of a colour format (for grey, all three are the grey bits).
unsigned RedBits(const PixelFormat& format);
unsigned GreenBits(const PixelFormat& format);
unsigned BlueBits(const PixelFormat& format);
bool IsGray(const PixelFormat& format);

// The pixel value of channel codes already reduced to each channel's bits, in the format's
// bit order. Bits above a channel's width are ignored. For a grey format, use PackGray.
std::uint32_t PackCodes(const PixelFormat& format, unsigned red, unsigned green, unsigned blue);

// The pixel value of a grey code already reduced to the format's bits.
std::uint32_t PackGray(const PixelFormat& format, unsigned grey);

// The luma of 8-bit channels, as image tools compute "L" pictures:
// (19595 R + 38470 G + 7471 B + 32768) >> 16.
inline std::uint8_t Luma(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::uint8_t>((19595u * red + 38470u * green + 7471u * blue + 32768u) >> 16);
}

// A code of `bits` bits (1 to 8) widened to 8 bits by repeating its bits from the top, so
// that the largest code is 255 and keeping the top `bits` bits gives the code back:
// 3-bit v becomes v<<5 | v<<2 | v>>1.
std::uint8_t WidenCode(unsigned code, unsigned bits);

// The colour a pixel value shows, each channel (or the grey) widened to 8 bits.
struct Rgb8 {
  std::uint8_t red, green, blue;
};
Rgb8 ShowPixel(const PixelFormat& format, std::uint32_t value);

// The pixel value of one 8-bit colour, each channel (or the luma) reduced by keeping its
// top bits.
std::uint32_t ReduceTopBits(const PixelFormat& format, std::uint8_t red, std::uint8_t green,
                            std::uint8_t blue);

// Reduces rows of pixels to pixel values. A reducer may keep state from row to row (a
// ditherer does), so it is given every row of a picture once, from the top row down.
class RowReducer {
 public:
  virtual ~RowReducer() = default;
  // `bgrx` holds a row of pixels, four bytes each (blue, green, red, unused); `values`
  // receives one pixel value per pixel, as many as the row has pixels.
  virtual void ReduceRow(std::span<const std::uint8_t> bgrx, std::span<std::uint32_t> values) = 0;

  // A reducer may split a row's work in two halves, for two threads: CodeRow, which is
  // given every row once from the top down, leaves CodesPerPixel() channel codes a pixel
  // in `codes`; PackRow packs the codes of a row into its values, and may run for one row
  // while CodeRow runs for a later one. Together they give ReduceRow's values. A reducer
  // that does not split has 0 codes a pixel, and ReduceRow does all.
  virtual std::size_t CodesPerPixel() const { return 0; }
  virtual void CodeRow(std::span<const std::uint8_t>, std::span<std::uint8_t>) {}
  virtual void PackRow(std::span<const std::uint8_t>, std::span<std::uint32_t>) const {}

  // A reducer that splits may code a row as strips side by side, each on its own: CodeStrip
  // codes strip `strip` (of Strips()) of a whole row into its part of the row's codes, and
  // is given every row once from the top down for each strip. Strips may be coded at once
  // on threads of their own; CodeRow codes them all.
  virtual std::size_t Strips() const { return 1; }
  virtual void CodeStrip(std::size_t, std::span<const std::uint8_t> bgrx, std::span<std::uint8_t> codes) {
    CodeRow(bgrx, codes);
  }
};

// The reduction without dithering: every channel keeps its top bits. It keeps no state,
// so rows may come in any order.
class TopBitsReducer final : public RowReducer {
 public:
  explicit TopBitsReducer(const PixelFormat& format);
  void ReduceRow(std::span<const std::uint8_t> bgrx, std::span<std::uint32_t> values) override;

  // The same for a format of at most 8 bits, one byte a value: the stored row of an 8-bit
  // picture, without values in between.
  void ReduceRowToBytes(std::span<const std::uint8_t> bgrx, std::span<std::uint8_t> values) const;

  // The same from a row of 3-byte pixels (blue, green, red) as a 24-bit BMP stores them,
  // without widening them to four bytes first: `bgr` holds 3 bytes a value.
  void ReduceBgr24RowToBytes(std::span<const std::uint8_t> bgr, std::span<std::uint8_t> values) const;
  // The same for a format of any width, one value a pixel.
  void ReduceBgr24Row(std::span<const std::uint8_t> bgr, std::span<std::uint32_t> values) const;

 private:
  PixelFormat format_;
  // For grey, the value of each luma.
  std::uint32_t grey_[256];
  // For colours, how each channel of a pixel read as one 32-bit number (blue in the low
  // byte) reaches its place: shifted right, then left, then masked.
  struct Channel {
    unsigned right = 0, left = 0;
    std::uint32_t mask = 0;
  };
  Channel channels_[3];
};

}  // namespace rastrom
