// Decoding of PNG and JPEG pictures as pure functions over a file's bytes: no paths,
// streams or globals. Every accepted picture decodes to four bytes a pixel (blue, green,
// red, 0), rows from the top, each left to right, transparency composited over a
// background colour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace rastrom {

// Why a picture was refused. Malformed files are kept apart from unsupported ones.
enum class PictureError {
  kNone = 0,
  kNotBuilt,     // this build has no decoder for the kind
  kTooLarge,     // a side beyond 65535, or 4 x width x height not under the byte limit
  kTruncated,    // the file ends before the picture does
  kCorrupt,      // the bytes break the format
  kUnsupported,  // well-formed, but a kind of picture not read (a CMYK JPEG, ...)
};

// A fixed English description of the error, for tests and messages.
const char* PictureErrorText(PictureError error);

// The most bytes of decoded pixels: 4 x width x height must stay under 2 GiB, as for BMP.
inline constexpr std::size_t kMaxPictureBytes = 0x7FFFFFFF;
inline constexpr std::uint32_t kMaxPictureSide = 65535;

struct DecodedPicture {
  PictureError error = PictureError::kNone;
  std::string detail;       // the decoder's own words on what is wrong; may be empty
  std::uint32_t width = 0;  // the size the header gives, also when it is kTooLarge
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // 4 x width x height bytes when error is kNone
};

// True when width x height pixels, 4 bytes each, fit the sides' limit and `maxBytes`.
// Checked by division, so no product can overflow.
bool PictureFits(std::uint64_t width, std::uint64_t height, std::size_t maxBytes);

// Whether this build decodes the kind at all.
bool CanDecodePng();
bool CanDecodeJpeg();

// Decodes a PNG file: every colour type and bit depth, interlaced or not, with its
// transparency chunk; colour values as stored (no gamma or colour profile), 16-bit channels
// cut to their top 8 bits; composited over `background` (0xRRGGBB). The size is checked
// against `maxBytes` before any pixel memory is taken.
DecodedPicture DecodePng(std::span<const std::uint8_t> file, std::uint32_t background,
                         std::size_t maxBytes = kMaxPictureBytes);

// The header checks of DecodePng alone, no pixels decoded: the size (set also when too
// large), and an error when the header is refused or the picture too large.
DecodedPicture ReadPngHeader(std::span<const std::uint8_t> file, std::size_t maxBytes = kMaxPictureBytes);

// Receives decoded rows: `rowCount` rows from row `firstRow` (counted from the top), four
// bytes a pixel as DecodePng gives them; valid only during the call. Returns false to stop.
using DecodedRowSink = std::function<bool(std::uint32_t firstRow, std::uint32_t rowCount,
                                          std::span<const std::uint8_t> pixels)>;

// As DecodePng, but handing the rows to `sink` from the top down, in bands of about 256 KiB,
// rather than keeping them: `pixels` stays empty, and the memory taken is a band's, except
// for an interlaced picture, which is decoded whole first. A fault found partway is returned
// after the rows before it were handed out; stopped by the sink, the result has no error.
DecodedPicture DecodePngRows(std::span<const std::uint8_t> file, std::uint32_t background,
                             std::size_t maxBytes, const DecodedRowSink& sink);

// Decodes a JPEG file, baseline or progressive, grey or colour, as the JPEG library
// decodes it by default; CMYK is refused as unsupported. Any warning of the library (a
// cut-off or corrupt stream it would patch over) refuses the file.
DecodedPicture DecodeJpeg(std::span<const std::uint8_t> file,
                          std::size_t maxBytes = kMaxPictureBytes);

// The header checks of DecodeJpeg alone: the size, too large, CMYK, a file with no frame.
DecodedPicture ReadJpegHeader(std::span<const std::uint8_t> file, std::size_t maxBytes = kMaxPictureBytes);

// As DecodeJpeg, handing the rows to `sink` as DecodePngRows does. A progressive file's
// scans are all read before the first row, into the library's own memory.
DecodedPicture DecodeJpegRows(std::span<const std::uint8_t> file, std::size_t maxBytes,
                              const DecodedRowSink& sink);

// Turns pixels of four bytes (red, green, blue, alpha when `rgba`, else blue, green, red,
// alpha) with straight alpha into blue, green, red, 0 over `background` (0xRRGGBB), each
// channel rounded to the nearest of (c x a + b x (255 - a)) / 255.
void CompositeOver(std::span<std::uint8_t> pixels, bool rgba, std::uint32_t background);

// For a BMP file whose pixels carry an alpha mask (16 or 32 bits with BITFIELDS or
// ALPHABITFIELDS and a header holding the mask): composites `pixels`, the decoded picture
// (blue, green, red, 0; from the top row), over `background`. A picture whose alpha is 0
// everywhere is taken as opaque, as such files are written by programs that leave the
// field unused. Returns false, leaving the pixels alone, when the file has no alpha or
// does not match the pixels.
bool CompositeBmpAlpha(std::span<const std::uint8_t> file, std::uint32_t background,
                       std::span<std::uint8_t> pixels);

}  // namespace rastrom
