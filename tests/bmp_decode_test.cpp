// The BMP decoder over files assembled in the tests. Expected pixels are written out by hand
// as 0xRRGGBB, top row first; a non-zero fourth output byte would show up as 0xXXRRGGBB.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "bmp_decode.h"

namespace rastrom {

// Lets failed expectations name the error instead of dumping its bytes.
static void PrintTo(BmpError error, std::ostream* out) { *out << BmpErrorText(error); }

namespace {

using namespace rastrom::test;

// Black: what a pixel gets when nothing sets it or its index is past the palette.
constexpr std::uint32_t B = 0x000000;

// Entry 0 is not black, so "unset" and "index 0" can be told apart.
const std::vector<std::uint32_t> kPal = {
    0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF, 0xFF0000, 0x00FF00, 0x0000FF,
    0x808080, 0x010203, 0xC0C0C0, 0x123456, 0x654321, 0xABCDEF, 0xFEDCBA, 0x0F0F0F};

// Formats colours as text, rows separated by " | ", so a mismatch reads like the picture.
std::string Picture(const std::vector<std::uint32_t>& colours, std::size_t width) {
  std::string text;
  for (std::size_t i = 0; i < colours.size(); ++i) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%06X", static_cast<unsigned>(colours[i]));
    if (i != 0) text += (width != 0 && i % width == 0) ? " | " : " ";
    text += hex;
  }
  return text;
}

// The decoded pixels as 0xXXRRGGBB, XX being the fourth byte of each pixel.
std::vector<std::uint32_t> Colours(const DecodedBmp& decoded) {
  std::vector<std::uint32_t> colours;
  for (std::size_t i = 0; i + 3 < decoded.pixels.size(); i += 4) {
    const std::uint8_t* p = &decoded.pixels[i];
    colours.push_back(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
  }
  return colours;
}

void ExpectDecodes(const Bytes& file, std::int32_t width, std::int32_t height,
                   const std::vector<std::uint32_t>& expected) {
  const DecodedBmp decoded = DecodeBmp(file);
  ASSERT_EQ(decoded.error, BmpError::kNone);
  EXPECT_EQ(decoded.width, width);
  EXPECT_EQ(decoded.height, height);
  ASSERT_EQ(decoded.pixels.size(), 4u * static_cast<std::size_t>(width * height));
  EXPECT_EQ(Picture(Colours(decoded), static_cast<std::size_t>(width)),
            Picture(expected, static_cast<std::size_t>(width)));
}

// The first 2^bpp entries of kPal (at most 16), none for direct colour.
std::vector<std::uint32_t> PaletteFor(std::uint16_t bpp) {
  if (bpp > 8) return {};
  return {kPal.begin(), kPal.begin() + (bpp >= 4 ? 16 : 1 << bpp)};
}

Bytes Cut(Bytes file, std::size_t bytes) {
  file.resize(file.size() - bytes);
  return file;
}

// One picture of two rows in one pixel format, stored either way round.
struct FormatCase {
  const char* name;
  std::uint16_t bpp;
  std::uint32_t compression;
  std::vector<std::uint32_t> palette;
  std::vector<std::uint32_t> masks;
  std::int32_t width;
  Bytes top, bottom;  // unpadded rows
  std::vector<std::uint32_t> expected;
};

TEST(BmpDecode, DecodesEachFormatTopDownAndBottomUp) {
  const std::vector<std::uint32_t> p = kPal;
  const FormatCase cases[] = {
      // Unused low bits of the last byte are set, and must not matter.
      {"1-bit", 1, kBiRgb, {p[0], p[1]}, {}, 3, {0xA7}, {0x5F},
       {p[1], p[0], p[1], p[0], p[1], p[0]}},
      {"2-bit", 2, kBiRgb, {p[0], p[1], p[2], p[3]}, {}, 3, {0x1B}, {0xE4},
       {p[0], p[1], p[2], p[3], p[2], p[1]}},
      {"4-bit", 4, kBiRgb, kPal, {}, 3, {0x12, 0x3F}, {0xFE, 0x0A},
       {p[1], p[2], p[3], p[15], p[14], p[0]}},
      {"8-bit", 8, kBiRgb, kPal, {}, 3, {0, 5, 15}, {7, 8, 9},
       {p[0], p[5], p[15], p[7], p[8], p[9]}},
      // 0x7C00, 0x03E0, 0x0421 over 0x801F (top bit ignored), 0x4210, 0xFFFF.
      {"16-bit 5-5-5", 16, kBiRgb, {}, {}, 3,
       {0x00, 0x7C, 0xE0, 0x03, 0x21, 0x04}, {0x1F, 0x80, 0x10, 0x42, 0xFF, 0xFF},
       {0xFF0000, 0x00FF00, 0x080808, 0x0000FF, 0x848484, 0xFFFFFF}},
      // 0xF800, 0x07E0 over 0x001F, 0x8410.
      {"16-bit 5-6-5", 16, kBiBitfields, {}, {0xF800, 0x07E0, 0x001F}, 2,
       {0x00, 0xF8, 0xE0, 0x07}, {0x1F, 0x00, 0x10, 0x84},
       {0xFF0000, 0x00FF00, 0x0000FF, 0x848284}},
      {"32-bit bitfields, red in the low byte", 32, kBiBitfields, {},
       {0x000000FF, 0x0000FF00, 0x00FF0000}, 1, {0x11, 0x22, 0x33, 0x44},
       {0xAA, 0xBB, 0xCC, 0xDD}, {0x112233, 0xAABBCC}},
      {"32-bit alpha bitfields", 32, kBiAlphaBitfields, {},
       {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 1, {0x56, 0x34, 0x12, 0x80},
       {0x01, 0x02, 0x03, 0xFF}, {0x123456, 0x030201}},
      {"24-bit", 24, kBiRgb, {}, {}, 2, {0x33, 0x22, 0x11, 0x00, 0x00, 0xFF},
       {0xFF, 0x00, 0x00, 0x01, 0x02, 0x03}, {0x112233, 0xFF0000, 0x0000FF, 0x030201}},
      // The fourth byte of a 32-bit pixel is not copied.
      {"32-bit", 32, kBiRgb, {}, {}, 2, {0x33, 0x22, 0x11, 0xAB, 0x00, 0x00, 0xFF, 0xFF},
       {0x01, 0x02, 0x03, 0x04, 0xFF, 0x00, 0x00, 0x80}, {0x112233, 0xFF0000, 0x030201, 0x0000FF}},
  };
  for (const FormatCase& c : cases) {
    for (bool topDown : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (topDown ? ", top-down" : ", bottom-up"));
      BmpBuilder builder;
      builder.Bpp(c.bpp).Compression(c.compression).Palette(c.palette).Masks(c.masks);
      builder.ColoursUsed(c.bpp == 8 ? 16 : 0);
      builder.Size(c.width, topDown ? -2 : 2);
      builder.Rows(topDown ? std::vector<Bytes>{c.top, c.bottom}
                           : std::vector<Bytes>{c.bottom, c.top});
      ExpectDecodes(builder.Build(), c.width, 2, c.expected);
    }
  }
}

// Every pixel of every row is one value; rows that are read at the wrong stride pick up the
// zero padding instead, which decodes to another colour.
TEST(BmpDecode, PadsRowsToFourBytesAndTheLastRowMayOmitItsPadding) {
  const struct {
    std::uint16_t bpp;
    Bytes pattern;  // one byte holding several pixels, or one whole pixel
    std::uint32_t colour;
  } cases[] = {
      {1, {0xFF}, kPal[1]},          {2, {0xAA}, kPal[2]},
      {4, {0x55}, kPal[5]},          {8, {0x05}, kPal[5]},
      {16, {0x00, 0x7C}, 0xFF0000},  {24, {0x33, 0x22, 0x11}, 0x112233},
      {32, {0x33, 0x22, 0x11, 0x00}, 0x112233},
  };
  for (const auto& c : cases) {
    for (std::int32_t width = 1; width <= 4; ++width) {
      SCOPED_TRACE(std::to_string(c.bpp) + " bits, width " + std::to_string(width));
      const std::size_t rowBytes = (static_cast<std::size_t>(width) * c.bpp + 7) / 8;
      Bytes row;
      while (row.size() < rowBytes) row.insert(row.end(), c.pattern.begin(), c.pattern.end());
      const Bytes file = BmpBuilder().Bpp(c.bpp).Size(width, 2).ColoursUsed(c.bpp == 8 ? 16 : 0)
                             .Palette(PaletteFor(c.bpp)).Rows({row, row}).Build();
      const std::vector<std::uint32_t> expected(2 * static_cast<std::size_t>(width), c.colour);
      ExpectDecodes(file, width, 2, expected);
      const std::size_t padding = (4 - rowBytes % 4) % 4;
      ExpectDecodes(Cut(file, padding), width, 2, expected);
      EXPECT_EQ(DecodeBmp(Cut(file, padding + 1)).error, BmpError::kTruncated);
    }
  }
}

TEST(BmpDecode, ReadsEveryHeaderFormWithOrWithoutAPixelOffset) {
  // A 4-bit picture of three by two with a full palette, stored bottom-up.
  const std::vector<std::uint32_t> expected = {kPal[10], kPal[11], kPal[12],
                                               kPal[1],  kPal[2],  kPal[3]};
  for (std::uint32_t size : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
    for (bool offsetZero : {false, true}) {
      for (bool topDown : {false, true}) {
        if (topDown && size == 12) continue;  // a core header's height is unsigned
        SCOPED_TRACE("header " + std::to_string(size) + (offsetZero ? ", offset 0" : "") +
                     (topDown ? ", top-down" : ""));
        BmpBuilder builder;
        builder.Header(size).Bpp(4).Size(3, topDown ? -2 : 2).Palette(kPal);
        builder.Rows(topDown ? std::vector<Bytes>{{0xAB, 0xC0}, {0x12, 0x30}}
                             : std::vector<Bytes>{{0x12, 0x30}, {0xAB, 0xC0}});
        if (offsetZero) builder.PixelOffset(0);
        ExpectDecodes(builder.Build(), 3, 2, expected);
      }
    }
  }
}

TEST(BmpDecode, ReadsCoreDimensionsAsUnsigned) {
  Bytes row(5000, 0x00);
  row.front() = 0x80;
  row.back() = 0x01;
  const Bytes file =
      BmpBuilder().Header(12).Bpp(1).Size(40000, 1).Palette({kPal[0], kPal[1]}).Rows({row}).Build();
  const DecodedBmp decoded = DecodeBmp(file);
  ASSERT_EQ(decoded.error, BmpError::kNone);
  ASSERT_EQ(decoded.width, 40000);
  ASSERT_EQ(decoded.height, 1);
  const std::vector<std::uint32_t> colours = Colours(decoded);
  EXPECT_EQ(Picture({colours[0], colours[1], colours[39998], colours[39999]}, 0),
            Picture({kPal[1], kPal[0], kPal[0], kPal[1]}, 0));
}

// The core header's 16-bit height is unsigned too: 40000 is a tall image stored bottom-up,
// not a top-down one of 25536. Each 1-pixel row is a 4-byte word; only the bottom one is set.
TEST(BmpDecode, ReadsCoreHeightsFrom32768AsUnsigned) {
  std::vector<Bytes> rows(40000, Bytes{0x00});
  rows.front() = {0x80};
  const DecodedBmp decoded = DecodeBmp(
      BmpBuilder().Header(12).Bpp(1).Size(1, 40000).Palette({kPal[0], kPal[1]}).Rows(rows).Build());
  ASSERT_EQ(decoded.error, BmpError::kNone);
  ASSERT_EQ(decoded.height, 40000);
  const std::vector<std::uint32_t> colours = Colours(decoded);
  EXPECT_EQ(Picture({colours.front(), colours.back()}, 0), Picture({kPal[0], kPal[1]}, 0));
}

TEST(BmpDecode, ReadsMasksWhereEachHeaderFormKeepsThem) {
  // 5-6-5 pixels 0xF800, 0x07E0, 0x0821 (one step in each channel).
  const Bytes row = {0x00, 0xF8, 0xE0, 0x07, 0x21, 0x08};
  const std::vector<std::uint32_t> expected = {0xFF0000, 0x00FF00, 0x080408};
  const struct {
    std::uint32_t header, compression;
  } cases[] = {{40, kBiBitfields}, {40, kBiAlphaBitfields}, {52, kBiBitfields},
               {56, kBiBitfields}, {56, kBiAlphaBitfields}, {108, kBiBitfields},
               {124, kBiBitfields}, {124, kBiAlphaBitfields}};
  for (const auto& c : cases) {
    for (bool offsetZero : {false, true}) {
      SCOPED_TRACE("header " + std::to_string(c.header) + ", compression " +
                   std::to_string(c.compression) + (offsetZero ? ", offset 0" : ""));
      BmpBuilder builder;
      builder.Header(c.header).Bpp(16).Size(3, 1).Compression(c.compression).Rows({row});
      std::vector<std::uint32_t> masks = {0xF800, 0x07E0, 0x001F};
      if (c.compression == kBiAlphaBitfields) masks.push_back(0);
      builder.Masks(masks);
      if (offsetZero) builder.PixelOffset(0);
      ExpectDecodes(builder.Build(), 3, 1, expected);
    }
  }
}

TEST(BmpDecode, IgnoresHeaderMasksWithoutBitfieldsCompression) {
  // The header carries 5-6-5 masks but says BI_RGB: 16 bits stay 5-5-5.
  ExpectDecodes(BmpBuilder().Header(108).Bpp(16).Size(2, 1).Masks({0xF800, 0x07E0, 0x001F})
                    .Rows({{0x00, 0x7C, 0xE0, 0x03}}).Build(),
                2, 1, {0xFF0000, 0x00FF00});
  // 32 bits stay blue, green, red, unused.
  ExpectDecodes(BmpBuilder().Header(124).Bpp(32).Size(1, 1).Masks({0xFF, 0xFF00, 0xFF0000, 0})
                    .Rows({{0x33, 0x22, 0x11, 0x00}}).Build(),
                1, 1, {0x112233});
}

TEST(BmpDecode, WidensMaskedChannelsToEightBits) {
  const struct {
    const char* name;
    std::uint16_t bpp;
    std::vector<std::uint32_t> masks;
    std::uint32_t pixel;
    std::uint32_t expected;
  } cases[] = {
      {"5-bit channels: 31 is 255, 1 is 8", 16, {0x7C00, 0x03E0, 0x001F}, 0x7C21, 0xFF0808},
      {"6-bit channel: 1 is 4", 16, {0xF800, 0x07E0, 0x001F}, 0x0020, 0x000400},
      {"2-bit channels peak at 240", 16, {0x30, 0x0C, 0x03}, 0x3F, 0xF0F0F0},
      {"2-bit channels: 2, 1, 0", 16, {0x30, 0x0C, 0x03}, 0x24, 0xA05000},
      {"1-bit channels peak at 192", 16, {0x4, 0x2, 0x1}, 0x5, 0xC000C0},
      {"3-bit channel: 7 is 252, zero masks give 0", 16, {0x0700, 0, 0}, 0xFFFF, 0xFC0000},
      {"3-bit channel: 5 is 180", 16, {0x0700, 0, 0}, 0x0500, 0xB40000},
      {"8-bit channels off byte boundaries", 32, {0x0001FE00, 0x000001FE, 0x1}, 0x000154AB,
       0xAA55C0},
      {"10-bit channels keep their top 8 bits", 32, {0x3FF00000, 0x000FFC00, 0x3FF}, 0x201554AA,
       0x80552A},
      {"a mask of all 32 bits keeps the top byte", 32, {0xFFFFFFFF, 0x0000FF00, 0}, 0xC3001200,
       0xC31200},
      {"a split mask uses its lowest run", 32, {0x00F000F0, 0, 0}, 0x00A00050, 0x550000},
      {"a split 16-bit mask uses its lowest run", 16, {0, 0, 0xF00F}, 0xAFF3, 0x000033},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectDecodes(BmpBuilder().Bpp(c.bpp).Size(1, 1).Compression(kBiBitfields).Masks(c.masks)
                      .Rows({Le(c.pixel, c.bpp / 8)}).Build(),
                  1, 1, {c.expected});
  }
}

TEST(BmpDecode, ReadsOnlyThePaletteEntriesTheFileDeclares) {
  const struct {
    const char* name;
    BmpBuilder builder;
    std::vector<std::uint32_t> expected;
  } cases[] = {
      {"three colours used: indices 3 and 255 are black",
       BmpBuilder().Bpp(8).Size(5, 1).ColoursUsed(3).Palette({kPal[0], kPal[1], kPal[2]})
           .Rows({{0, 1, 2, 3, 255}}),
       {kPal[0], kPal[1], kPal[2], B, B}},
      {"three colours used, pixels right after them",
       BmpBuilder().Bpp(8).Size(5, 1).ColoursUsed(3).Palette({kPal[0], kPal[1], kPal[2]})
           .Rows({{0, 1, 2, 3, 255}}).PixelOffset(0),
       {kPal[0], kPal[1], kPal[2], B, B}},
      {"two colours used in 4 bits",
       BmpBuilder().Bpp(4).Size(4, 1).ColoursUsed(2).Palette({kPal[0], kPal[1]})
           .Rows({{0x01, 0x2F}}),
       {kPal[0], kPal[1], B, B}},
      {"more colours used than 1 bit can index: only two read",
       BmpBuilder().Bpp(1).Size(2, 1).ColoursUsed(1000).Palette({kPal[0], kPal[1]}).Rows({{0x40}})
           .PixelOffset(0),
       {kPal[0], kPal[1]}},
      {"the reserved byte of an entry is not copied",
       BmpBuilder().Bpp(1).Size(2, 1).Palette({0xFF000000 | kPal[4], 0x80000000 | kPal[5]})
           .Rows({{0x40}}),
       {kPal[4], kPal[5]}},
      {"black then white still loads at 32 bits",
       BmpBuilder().Bpp(1).Size(3, 1).Palette({0x000000, 0xFFFFFF}).Rows({{0x40}}),
       {B, 0xFFFFFF, B}},
      {"a palette in a 24-bit file is skipped",
       BmpBuilder().Bpp(24).Size(1, 1).ColoursUsed(2).Palette({kPal[0], kPal[1]})
           .Rows({{0x33, 0x22, 0x11}}),
       {0x112233}},
      {"a palette in a 24-bit file is skipped, pixels right after it",
       BmpBuilder().Bpp(24).Size(1, 1).ColoursUsed(2).Palette({kPal[0], kPal[1]})
           .Rows({{0x33, 0x22, 0x11}}).PixelOffset(0),
       {0x112233}},
      {"a palette after 5-6-5 masks is skipped",
       BmpBuilder().Bpp(16).Size(1, 1).Compression(kBiBitfields).Masks({0xF800, 0x07E0, 0x001F})
           .ColoursUsed(2).Palette({kPal[0], kPal[1]}).Rows({{0x1F, 0x00}}),
       {0x0000FF}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectDecodes(c.builder.Build(), static_cast<std::int32_t>(c.expected.size()), 1, c.expected);
  }
}

TEST(BmpDecode, IgnoresFieldsThatDoNotAffectThePixels) {
  const auto base = [] {
    return BmpBuilder().Bpp(8).Size(2, 2).ColoursUsed(16).Palette(kPal).Rows({{1, 2}, {3, 4}});
  };
  const std::vector<std::uint32_t> expected = {kPal[3], kPal[4], kPal[1], kPal[2]};
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {
      {"planes 2", base().Planes(2).Build()},
      {"planes 0xFFFF", base().Planes(0xFFFF).Build()},
      {"image size 1", base().ImageSize(1).Build()},
      {"image size 0xFFFFFFFF", base().ImageSize(0xFFFFFFFF).Build()},
      {"file size 0", WithLe32(base().Build(), 2, 0)},
      {"file size huge", WithLe32(base().Build(), 2, 0xFFFFFFFF)},
      {"reserved words set", WithLe32(base().Build(), 6, 0xDEADBEEF)},
      {"densities and colours important set",
       WithLe32(WithLe32(WithLe32(base().Build(), 38, 0xFFFFFFFF), 42, 0x80000000), 50, 999)},
      {"filler before the pixels", base().Gap(9, 0x07).Build()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectDecodes(c.file, 2, 2, expected);
  }
}

// RLE streams are decoded bottom-up from the bottom-left pixel; expected rows are top first.
TEST(BmpDecode, DecodesRunLengthStreams) {
  const std::vector<std::uint32_t> p = kPal;
  const struct {
    const char* name;
    std::uint16_t bpp;
    std::int32_t width, height;
    Bytes stream;
    std::uint32_t imageSize;
    std::vector<std::uint32_t> expected;
  } cases[] = {
      {"runs and end of line", 8, 4, 2, {3, 1, 0, 0, 2, 2, 2, 3, 0, 1}, 0,
       {p[2], p[2], p[3], p[3], p[1], p[1], p[1], B}},
      {"end of bitmap stops decoding", 8, 4, 2, {2, 4, 0, 1, 2, 5}, 0,
       {B, B, B, B, p[4], p[4], B, B}},
      {"delta moves right and up", 8, 4, 3, {1, 1, 0, 2, 2, 1, 1, 2, 0, 1}, 0,
       {B, B, B, B, B, B, B, p[2], p[1], B, B, B}},
      {"a run past the right edge is dropped, not wrapped", 8, 4, 2, {6, 1, 0, 0, 1, 2, 0, 1}, 0,
       {p[2], B, B, B, p[1], p[1], p[1], p[1]}},
      {"a delta past the right edge stops at the edge", 8, 4, 2,
       {0, 2, 9, 0, 2, 3, 0, 0, 1, 2, 0, 1}, 0, {p[2], B, B, B, B, B, B, B}},
      {"a delta above the top row stops decoding", 8, 2, 2,
       {1, 1, 0, 2, 0, 2, 1, 3, 0, 0, 1, 4, 0, 1}, 0, {B, B, p[1], B}},
      {"an end of line above the top row stops decoding", 8, 2, 1,
       {1, 1, 0, 0, 1, 2, 0, 0, 1, 3}, 0, {p[1], B}},
      {"literal runs are padded to an even length", 8, 8, 1,
       {0, 3, 1, 2, 3, 0, 0, 4, 4, 5, 6, 7, 1, 8, 0, 1}, 0,
       {p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8]}},
      {"a literal past the right edge is dropped", 8, 2, 2, {0, 3, 1, 2, 3, 0, 0, 0, 1, 5, 0, 1}, 0,
       {p[5], B, p[1], p[2]}},
      {"the image size limits the coded data", 8, 4, 1, {2, 1, 2, 2, 0, 1}, 2, {p[1], p[1], B, B}},
      {"an image size past the end means the rest of the file", 8, 4, 1, {2, 1, 2, 2, 0, 1}, 1000,
       {p[1], p[1], p[2], p[2]}},
      {"data ending without an end of bitmap keeps what was decoded", 8, 4, 2,
       {2, 1, 0, 0, 1, 2}, 0, {p[2], B, B, B, p[1], p[1], B, B}},
      {"a literal reading past the data stops decoding", 8, 4, 1, {1, 1, 0, 5, 2, 3}, 0,
       {p[1], B, B, B}},
      {"a literal reading past the image size stops decoding", 8, 4, 1,
       {1, 1, 0, 3, 2, 3, 4, 0, 0, 1}, 4, {p[1], B, B, B}},
      {"a delta cut short stops decoding", 8, 4, 1, {1, 1, 0, 2, 1}, 0, {p[1], B, B, B}},
      {"a lone last byte is ignored", 8, 4, 1, {1, 1, 5}, 0, {p[1], B, B, B}},
      {"RLE4 runs alternate the high and low nibble", 4, 5, 1, {5, 0x12, 0, 1}, 0,
       {p[1], p[2], p[1], p[2], p[1]}},
      {"RLE4 literals pack two indices a byte", 4, 8, 1,
       {0, 5, 0x12, 0x34, 0x50, 0, 3, 0x67, 0, 1}, 0,
       {p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[6]}},
      {"RLE4 run past the right edge is dropped", 4, 3, 2, {5, 0x12, 0, 0, 1, 0x34, 0, 1}, 0,
       {p[3], B, B, p[1], p[2], p[1]}},
      {"RLE4 literal past the right edge is dropped", 4, 3, 2,
       {0, 4, 0x12, 0x34, 0, 0, 2, 0x56, 0, 1}, 0, {p[5], p[6], B, p[1], p[2], p[3]}},
      {"RLE4 delta, and index 0 is palette entry 0", 4, 4, 2,
       {1, 0x10, 0, 2, 1, 1, 2, 0x20, 0, 1}, 0, {B, B, p[2], p[0], p[1], B, B, B}},
      // The pixel offset is then the file's size: nothing is coded, and nothing is refused.
      {"an empty RLE8 stream leaves every pixel black", 8, 3, 2, {}, 0, {B, B, B, B, B, B}},
      {"an empty RLE4 stream leaves every pixel black", 4, 2, 2, {}, 0, {B, B, B, B}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectDecodes(BmpBuilder().Bpp(c.bpp).Compression(c.bpp == 8 ? kBiRle8 : kBiRle4)
                      .Size(c.width, c.height).ColoursUsed(16).Palette(kPal).ImageSize(c.imageSize)
                      .Data(c.stream).Build(),
                  c.width, c.height, c.expected);
  }
}

TEST(BmpDecode, RefusesMalformedAndUnsupportedFiles) {
  const auto pal8 = [] {
    return BmpBuilder().Bpp(8).Size(2, 2).ColoursUsed(16).Palette(kPal).Rows({{1, 2}, {3, 4}});
  };
  const auto rle8 = [] {
    return BmpBuilder().Bpp(8).Compression(kBiRle8).ColoursUsed(16).Palette(kPal)
        .Data({2, 1, 0, 1});
  };
  const Bytes valid = pal8().Build();
  Bytes notBm = valid;
  notBm[1] = 'A';

  const struct {
    const char* name;
    Bytes file;
    std::optional<BmpError> reason;  // checked where only one reason applies
  } cases[] = {
      {"empty file", {}, std::nullopt},
      {"signature BA", notBm, BmpError::kNotBmp},
      {"header size 0", WithLe32(valid, 14, 0), BmpError::kBadHeader},
      {"header size 11", WithLe32(valid, 14, 11), BmpError::kBadHeader},
      {"header size 20", WithLe32(valid, 14, 20), BmpError::kBadHeader},
      {"header size 41", WithLe32(valid, 14, 41), BmpError::kBadHeader},
      {"header size 66", WithLe32(valid, 14, 66), BmpError::kBadHeader},
      {"header size 128", WithLe32(valid, 14, 128), BmpError::kBadHeader},
      {"header size 0xFFFFFFFF", WithLe32(valid, 14, 0xFFFFFFFF), BmpError::kBadHeader},
      {"width 0", pal8().Size(0, 2).Build(), BmpError::kBadDimensions},
      {"height 0", pal8().Size(2, 0).Build(), BmpError::kBadDimensions},
      {"core width 0", BmpBuilder().Header(12).Size(0, 1).Build(), BmpError::kBadDimensions},
      {"negative width", pal8().Size(-2, 2).Build(), BmpError::kBadDimensions},
      {"width 65536", pal8().Size(65536, 2).Build(), BmpError::kBadDimensions},
      {"height 65536", pal8().Size(2, 65536).Build(), BmpError::kBadDimensions},
      {"height -65536", pal8().Size(2, -65536).Build(), BmpError::kBadDimensions},
      {"height INT32_MIN", pal8().Size(2, INT32_MIN).Build(), BmpError::kBadDimensions},
      {"65535 x 65535", rle8().Size(65535, 65535).Build(), BmpError::kTooLarge},
      {"32768 x 16384", rle8().Size(32768, 16384).Build(), BmpError::kTooLarge},
      {"65535 x 8193", rle8().Size(65535, 8193).Build(), BmpError::kTooLarge},
      {"65535 x 65535 top-down", BmpBuilder().Bpp(32).Size(65535, -65535).Build(), std::nullopt},
      {"planes 0", pal8().Planes(0).Build(), BmpError::kBadPlanes},
      {"0 bits", pal8().Bpp(0).Build(), BmpError::kUnsupportedDepth},
      {"3 bits", pal8().Bpp(3).Build(), BmpError::kUnsupportedDepth},
      {"64 bits", pal8().Bpp(64).Build(), BmpError::kUnsupportedDepth},
      {"30000 bits", pal8().Bpp(30000).Build(), BmpError::kUnsupportedDepth},
      {"JPEG", BmpBuilder().Compression(kBiJpeg).Data({0xFF, 0xD8, 0xFF, 0xD9}).Build(),
       BmpError::kUnsupportedCompression},
      {"PNG", BmpBuilder().Compression(kBiPng).Data({0x89, 'P', 'N', 'G'}).Build(),
       BmpError::kUnsupportedCompression},
      {"compression 11", pal8().Compression(11).Build(), BmpError::kUnsupportedCompression},
      {"OS/2 Huffman",
       BmpBuilder().Header(64).Bpp(1).Compression(3).Palette({0, 0xFFFFFF}).Rows({{0}}).Build(),
       BmpError::kUnsupportedCompression},
      {"OS/2 RLE24",
       BmpBuilder().Header(64).Bpp(24).Compression(4).Data({1, 1, 2, 3, 0, 1}).Build(),
       BmpError::kUnsupportedCompression},
      {"bitfields on 24 bits",
       BmpBuilder().Compression(kBiBitfields).Masks({0xFF0000, 0xFF00, 0xFF}).Rows({{1, 2, 3}})
           .Build(),
       BmpError::kUnsupportedCompression},
      {"bitfields on 8 bits", pal8().Compression(kBiBitfields).Masks({0xE0, 0x1C, 0x03}).Build(),
       BmpError::kUnsupportedCompression},
      {"RLE8 on 4 bits", rle8().Bpp(4).Build(), BmpError::kUnsupportedCompression},
      {"RLE4 on 8 bits", rle8().Compression(kBiRle4).Build(), BmpError::kUnsupportedCompression},
      {"RLE8 on 24 bits", rle8().Bpp(24).Build(), BmpError::kUnsupportedCompression},
      {"RLE8 top-down", rle8().Size(1, -1).Build(), BmpError::kTopDownRle},
      {"RLE4 top-down", rle8().Bpp(4).Compression(kBiRle4).Size(1, -1).Build(),
       BmpError::kTopDownRle},
      {"pixel offset into the file header", pal8().PixelOffset(1).Build(), BmpError::kBadHeader},
      {"pixel offset into the info header", pal8().PixelOffset(53).Build(), BmpError::kBadHeader},
      {"pixel offset past the end",
       pal8().PixelOffset(static_cast<std::uint32_t>(valid.size() + 1)).Build(),
       std::nullopt},
      {"palette of 200 entries past the end", pal8().ColoursUsed(200).Build(),
       BmpError::kTruncated},
      {"palette of 256 entries, pixels after it", pal8().ColoursUsed(0).PixelOffset(0).Build(),
       BmpError::kTruncated},
      {"core palette of 256 entries",
       BmpBuilder().Header(12).Bpp(8).Palette(kPal).Rows({{1}}).Build(),
       BmpError::kTruncated},
      {"a whole row missing", BmpBuilder().Bpp(24).Size(1, 2).Rows({{1, 2, 3}}).Build(),
       BmpError::kTruncated},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedBmp decoded = DecodeBmp(c.file);
    EXPECT_NE(decoded.error, BmpError::kNone);
    if (c.reason) {
      EXPECT_EQ(decoded.error, *c.reason);
    }
    EXPECT_TRUE(decoded.pixels.empty());
  }
}

TEST(BmpDecode, RefusesEveryPrefixOfAValidFile) {
  // None of these has padding after its last row, so every byte is needed.
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {
      {"4-bit", BmpBuilder().Bpp(4).Size(8, 2).Palette(kPal)
                    .Rows({{0x01, 0x23, 0x45, 0x67}, {0x89, 0xAB, 0xCD, 0xEF}}).Build()},
      {"8-bit, short palette, offset 0",
       BmpBuilder().Bpp(8).Size(4, 2).ColoursUsed(3).Palette({kPal[0], kPal[1], kPal[2]})
           .Rows({{0, 1, 2, 3}, {2, 1, 0, 9}}).PixelOffset(0).Build()},
      {"16-bit bitfields",
       BmpBuilder().Bpp(16).Size(2, 2).Compression(kBiBitfields).Masks({0xF800, 0x07E0, 0x001F})
           .Rows({{1, 2, 3, 4}, {5, 6, 7, 8}}).Build()},
      {"32-bit alpha bitfields, V5 top-down",
       BmpBuilder().Header(124).Bpp(32).Size(1, -2).Compression(kBiAlphaBitfields)
           .Masks({0xFF0000, 0xFF00, 0xFF, 0xFF000000}).Rows({{1, 2, 3, 4}, {5, 6, 7, 8}}).Build()},
      {"core 24-bit", BmpBuilder().Header(12).Bpp(24).Size(4, 1)
                          .Rows({{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}).Build()},
      {"OS/2 2.x 1-bit", BmpBuilder().Header(16).Bpp(1).Size(32, 1).Palette({kPal[0], kPal[1]})
                             .Rows({{1, 2, 3, 4}}).Build()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(DecodeBmp(c.file).error, BmpError::kNone);
    for (std::size_t length = 0; length < c.file.size(); ++length) {
      const Bytes prefix(c.file.begin(), c.file.begin() + static_cast<std::ptrdiff_t>(length));
      const BmpError error = DecodeBmp(prefix).error;
      if (length < 2) {
        EXPECT_NE(error, BmpError::kNone) << "length " << length;
      } else {
        EXPECT_EQ(error, BmpError::kTruncated) << "length " << length;
      }
    }
  }
}

// A cut RLE stream is decoded as far as it goes; a cut before the stream is refused.
TEST(BmpDecode, DecodesACutRunLengthStreamAsFarAsItGoes) {
  const struct {
    std::uint16_t bpp;
    std::uint32_t compression;
    Bytes stream;  // a run, end of line, a literal, a delta, a run, end of bitmap
  } cases[] = {
      {8, kBiRle8, {3, 1, 0, 0, 0, 3, 1, 2, 3, 0, 0, 2, 0, 1, 1, 1, 0, 1}},
      {4, kBiRle4, {3, 0x12, 0, 0, 0, 3, 0x12, 0x30, 0, 2, 0, 1, 1, 1, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bpp == 8 ? "RLE8" : "RLE4");
    const Bytes file = BmpBuilder().Bpp(c.bpp).Compression(c.compression).Size(3, 3)
                           .ColoursUsed(16).Palette(kPal).Data(c.stream).Build();
    const std::size_t streamStart = file.size() - c.stream.size();
    for (std::size_t length = 0; length < file.size(); ++length) {
      const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
      const DecodedBmp decoded = DecodeBmp(prefix);
      if (length < streamStart) {
        EXPECT_NE(decoded.error, BmpError::kNone) << "length " << length;
      } else if (length > streamStart) {
        EXPECT_EQ(decoded.error, BmpError::kNone) << "length " << length;
        EXPECT_EQ(decoded.pixels.size(), 4u * 3 * 3) << "length " << length;
      }
    }
  }
}

}  // namespace
}  // namespace rastrom
