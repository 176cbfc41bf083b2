// The pixel formats and word layouts as pure functions: names, the value of a colour in
// each format family at the edges, the widening, and words of pixel values in every layout.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "coe_writer.h"
#include "pixel_format.h"
#include "word_layout.h"

namespace {

using namespace rastrom;

PixelFormat Format(const char* name) {
  const std::optional<PixelFormat> format = ParsePixelFormat(name);
  EXPECT_TRUE(format.has_value()) << name;
  return format.value_or(kRgb332);
}

TEST(PixelFormat, NamesReadBackAndRefusals) {
  for (const char* name : {"rgb111", "rgb332", "rgb444", "rgb565", "rgb888", "bgr233", "bgr565",
                           "gray1", "gray4", "gray8", "mono", "RGB565"}) {
    const std::optional<PixelFormat> format = ParsePixelFormat(name);
    ASSERT_TRUE(format) << name;
    EXPECT_EQ(ParsePixelFormat(PixelFormatName(*format)), format) << name;
    EXPECT_EQ(ParsePixelDescription(PixelDescription(*format)), format) << name;
  }
  EXPECT_EQ(PixelFormatName(Format("gray1")), "mono");
  for (const char* name : {"rgb990", "rgb3", "gray9", "gray0", "cmyk", "rgb0332", "rgb", "", "mono1",
                           "rgba444", "grey4", "bgr 33"}) {
    EXPECT_FALSE(ParsePixelFormat(name)) << name;
  }
}

struct ValueCase {
  const char* format;
  std::uint8_t red, green, blue;
  std::uint32_t value;
};

// The pixel value of an 8-bit colour: each channel's top bits in the format's order, or
// the luma's top bits.
TEST(PixelFormat, ValueOfAColour) {
  const ValueCase cases[] = {
      {"rgb332", 0xFF, 0xFF, 0xFF, 0xFF}, {"rgb332", 0x7F, 0x7F, 0x7F, 0x6D},
      {"rgb332", 0x00, 0x00, 0xFF, 0x03}, {"rgb111", 0x80, 0x7F, 0xFF, 0x5},
      {"rgb444", 0x12, 0x34, 0x56, 0x135}, {"rgb565", 0xFF, 0x00, 0x00, 0xF800},
      {"rgb565", 0x00, 0xFF, 0x00, 0x07E0}, {"rgb888", 0x12, 0x34, 0x56, 0x123456},
      {"bgr233", 0xFF, 0x00, 0x00, 0x07}, {"bgr233", 0x00, 0x00, 0xFF, 0xC0},
      {"bgr565", 0x08, 0x04, 0xF8, 0xF821}, {"rgb181", 0x80, 0x81, 0x80, 0x303},
      // Luma: (19595 R + 38470 G + 7471 B + 32768) >> 16.
      {"gray8", 0xFF, 0x00, 0x00, 76}, {"gray8", 0x00, 0xFF, 0x00, 150},
      {"gray8", 0x00, 0x00, 0xFF, 29}, {"gray8", 0xFF, 0xFF, 0xFF, 255},
      {"gray4", 0x80, 0x80, 0x80, 8}, {"mono", 0x00, 0xFF, 0x00, 1},
      {"mono", 0xFF, 0x00, 0xFF, 0}, {"mono", 0x80, 0x80, 0x80, 1}, {"mono", 0x7F, 0x7F, 0x7F, 0},
  };
  for (const ValueCase& c : cases) {
    const PixelFormat format = Format(c.format);
    EXPECT_EQ(ReduceTopBits(format, c.red, c.green, c.blue), c.value) << c.format;
    // The row reducer gives the same, from blue, green, red, unused bytes.
    const std::uint8_t bgrx[] = {c.blue, c.green, c.red, 0x55};
    std::uint32_t value = 0xDEAD;
    TopBitsReducer(format).ReduceRow(bgrx, std::span(&value, 1));
    EXPECT_EQ(value, c.value) << c.format;
  }
}

TEST(PixelFormat, Rgb332IsTheConvertersReduction) {
  std::vector<std::uint8_t> bgrx;
  for (unsigned i = 0; i < 4096; ++i) {
    bgrx.insert(bgrx.end(), {static_cast<std::uint8_t>(i * 7), static_cast<std::uint8_t>(i >> 4),
                             static_cast<std::uint8_t>(i * 13 + 5), 0});
  }
  std::vector<std::uint8_t> converter(4096);
  ReducePixels332(bgrx.data(), 4096, converter.data());
  std::vector<std::uint32_t> values(4096);
  TopBitsReducer(kRgb332).ReduceRow(bgrx, values);
  EXPECT_EQ(std::vector<std::uint32_t>(converter.begin(), converter.end()), values);
}

// The widening repeats a code's bits; reducing again gives the code back in every format.
TEST(PixelFormat, WideningRepeatsTheBits) {
  EXPECT_EQ(WidenCode(0b101, 3), 0b10110110);
  EXPECT_EQ(WidenCode(0b10000, 5), 0b10000100);
  EXPECT_EQ(WidenCode(0b10, 2), 0b10101010);
  EXPECT_EQ(WidenCode(1, 1), 0xFF);
  EXPECT_EQ(WidenCode(0x5A, 8), 0x5A);
  for (const char* name : {"rgb111", "rgb332", "rgb565", "bgr233", "rgb181", "gray3", "mono"}) {
    const PixelFormat format = Format(name);
    for (std::uint32_t v = 0; v < (1u << PixelBits(format)); ++v) {
      const Rgb8 c = ShowPixel(format, v);
      ASSERT_EQ(ReduceTopBits(format, c.red, c.green, c.blue), v) << name;
    }
  }
  const Rgb8 red = ShowPixel(Format("bgr565"), 0x001F);
  EXPECT_EQ((std::vector<int>{red.red, red.green, red.blue}), (std::vector<int>{255, 0, 0}));
}

struct PackCase {
  const char* name;
  WordLayout layout;
  std::uint64_t width, height;
  std::vector<std::uint32_t> values;  // row by row from the top-left
  std::vector<std::uint64_t> words;
};

const PixelFormat kMono = *ParsePixelFormat("mono");
const PixelFormat k444 = *ParsePixelFormat("rgb444");
const PixelFormat k888 = *ParsePixelFormat("rgb888");

class WordPacking : public testing::TestWithParam<PackCase> {};

TEST_P(WordPacking, WordsAndEveryPixelBack) {
  const PackCase& c = GetParam();
  ASSERT_EQ(CheckWordLayout(c.layout), "");
  std::vector<std::uint64_t> words;
  WordPacker packer(c.layout, c.width, [&](std::span<const std::uint64_t> w) {
    words.insert(words.end(), w.begin(), w.end());
    return true;
  });
  for (std::uint64_t y = 0; y < c.height; ++y) {
    ASSERT_TRUE(packer.PutRow(std::span(c.values).subspan(y * c.width, c.width)));
  }
  ASSERT_TRUE(packer.Finish());
  EXPECT_EQ(words, c.words);
  EXPECT_EQ(WordCount(c.layout, c.width, c.height), c.words.size());
  for (std::uint64_t y = 0; y < c.height; ++y) {
    for (std::uint64_t x = 0; x < c.width; ++x) {
      EXPECT_EQ(PixelAt(c.layout, c.width, words, x, y), c.values[y * c.width + x]) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WordPacking,
    testing::Values(
        PackCase{"Rgb332FourAWordAcrossRows", {kRgb332, 32}, 3, 2, {0xE0, 0x1C, 0x03, 0xFF, 0x00, 0xE0},
                 {0xE01C03FF, 0x00E00000}},
        PackCase{"Rgb444OneAWord", {k444, 12}, 2, 1, {0xF00, 0x0F0}, {0xF00, 0x0F0}},
        PackCase{"Rgb444InSixteenBitsTopZero", {k444, 16}, 1, 1, {0xABC}, {0x0ABC}},
        PackCase{"Rgb444ThreeIn40BitsAcrossRows", {k444, 40}, 2, 2, {1, 2, 3, 4}, {0x001002003, 0x004000000}},
        PackCase{"MonoBytesLeftmostInBit7", {kMono, 8}, 10, 1, {1, 0, 0, 0, 0, 0, 0, 1, 1, 1}, {0x81, 0xC0}},
        PackCase{"AlignedRowsWidthNotAMultiple", {kMono, 8, true}, 10, 2,
                 {1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, {0x81, 0xC0, 0x40, 0x40}},
        PackCase{"AlignedRowsWidthAMultiple", {kRgb332, 16, true}, 2, 2, {1, 2, 3, 4}, {0x0102, 0x0304}},
        PackCase{"PagesTopPixelInBit0ShortLastPage", {kMono, 8, false, true}, 2, 10,
                 {1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0},
                 {0x01, 0x86, 0x03, 0x01}},
        PackCase{"PagesOfGray4InBytes", {*ParsePixelFormat("gray4"), 8, false, true}, 1, 3, {0xA, 0xB, 0xC},
                 {0xBA, 0x0C}},
        PackCase{"SixtyFourMonoPixelsAWord", {kMono, 64}, 65, 1,
                 std::vector<std::uint32_t>(65, 1), {~std::uint64_t{0}, std::uint64_t{1} << 63}},
        PackCase{"Rgb888TwoIn64Bits", {k888, 64}, 3, 1, {0xFFFFFF, 0x123456, 0xABCDEF},
                 {0xFFFFFF123456, 0xABCDEF000000}}),
    [](const testing::TestParamInfo<PackCase>& info) { return info.param.name; });

TEST(WordLayout, RefusesWordsThatCannotBe) {
  EXPECT_NE(CheckWordLayout({*ParsePixelFormat("rgb565"), 8}), "");
  EXPECT_NE(CheckWordLayout({kRgb332, 65}), "");
  EXPECT_NE(CheckWordLayout({kMono, 8, true, true}), "");
  EXPECT_EQ(CheckWordLayout({k888, 24}), "");
  unsigned bits = 0;
  for (const char* text : {"0", "65", "", "8x", "-8", "100", " 8"}) EXPECT_FALSE(ParseWordBits(text, bits)) << text;
  EXPECT_TRUE(ParseWordBits("64", bits));
  EXPECT_EQ(bits, 64u);
  EXPECT_EQ(DefaultWordBits(kRgb332), 32u);
  EXPECT_EQ(DefaultWordBits(k444), 12u);
}

}  // namespace
