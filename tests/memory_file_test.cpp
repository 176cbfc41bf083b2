// Tests of the .mem and .mif text: each format at each word width, for pixel counts that
// fill the last word and counts that leave it short, the comment line, and stopping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "memory_file.h"

namespace {

using rastrom::FormatMemoryFile;
using rastrom::MemoryFileLayout;
using rastrom::MemoryFormat;

// The whole text of the file, and a check that its length is the one announced.
std::string Format(const MemoryFileLayout& layout, const std::vector<std::uint8_t>& pixels) {
  std::string text;
  EXPECT_TRUE(FormatMemoryFile(layout, pixels, [&](std::string_view piece) {
    text += piece;
    return true;
  }));
  EXPECT_EQ(text.size(), rastrom::MemoryFileSize(layout, pixels.size()));
  return text;
}

// The tiny picture: red, green, blue over white, black, red (6 pixels).
const std::vector<std::uint8_t> kTiny = {0xE0, 0x1C, 0x03, 0xFF, 0x00, 0xE0};
const std::vector<std::uint8_t> kFive = {0x11, 0x22, 0x33, 0x44, 0x55};
const std::vector<std::uint8_t> kEight = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

struct FormatCase {
  const char* name;
  MemoryFormat format;
  unsigned wordBits;
  std::int32_t width, height;  // 0 x 0: from a COE file
  std::vector<std::uint8_t> pixels;
  std::string text;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class MemoryFileText : public testing::TestWithParam<FormatCase> {};

TEST_P(MemoryFileText, IsExactly) {
  const FormatCase& c = GetParam();
  MemoryFileLayout layout;
  layout.format = c.format;
  layout.wordBits = c.wordBits;
  layout.source = c.width > 0 ? "tiny.bmp" : "tiny.coe";
  layout.width = c.width;
  layout.height = c.height;
  EXPECT_EQ(Format(layout, c.pixels), c.text);
}

constexpr auto kMem = MemoryFormat::kMem;
constexpr auto kMif = MemoryFormat::kMif;

INSTANTIATE_TEST_SUITE_P(
    Table, MemoryFileText,
    testing::Values(
        FormatCase{"Mem8", kMem, 8, 3, 2, kTiny,
                   "// tiny.bmp: 3 x 2 pixels of 3-3-2 RGB, 1 to a word; depth 6, width 8\n"
                   "E0\n1C\n03\nFF\n00\nE0\n"},
        FormatCase{"Mem16Whole", kMem, 16, 3, 2, kTiny,
                   "// tiny.bmp: 3 x 2 pixels of 3-3-2 RGB, 2 to a word; depth 3, width 16\n"
                   "E01C\n03FF\n00E0\n"},
        FormatCase{"Mem16Short", kMem, 16, 5, 1, kFive,
                   "// tiny.bmp: 5 x 1 pixels of 3-3-2 RGB, 2 to a word; depth 3, width 16\n"
                   "1122\n3344\n5500\n"},
        FormatCase{"Mem32Short", kMem, 32, 3, 2, kTiny,
                   "// tiny.bmp: 3 x 2 pixels of 3-3-2 RGB, 4 to a word; depth 2, width 32\n"
                   "E01C03FF\n00E00000\n"},
        FormatCase{"Mem32Whole", kMem, 32, 0, 0, kEight,
                   "// tiny.coe: 8 pixels of 3-3-2 RGB, 4 to a word; depth 2, width 32\n"
                   "01234567\n89ABCDEF\n"},
        FormatCase{"Mif8", kMif, 8, 5, 1, kFive,
                   "-- tiny.bmp: 5 x 1 pixels of 3-3-2 RGB, 1 to a word; depth 5, width 8\n"
                   "WIDTH=8;\nDEPTH=5;\nADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\nCONTENT BEGIN\n"
                   "0 : 11;\n1 : 22;\n2 : 33;\n3 : 44;\n4 : 55;\nEND;\n"},
        FormatCase{"Mif16Whole", kMif, 16, 0, 0, kEight,
                   "-- tiny.coe: 8 pixels of 3-3-2 RGB, 2 to a word; depth 4, width 16\n"
                   "WIDTH=16;\nDEPTH=4;\nADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\nCONTENT BEGIN\n"
                   "0 : 0123;\n1 : 4567;\n2 : 89AB;\n3 : CDEF;\nEND;\n"},
        FormatCase{"Mif16Short", kMif, 16, 5, 1, kFive,
                   "-- tiny.bmp: 5 x 1 pixels of 3-3-2 RGB, 2 to a word; depth 3, width 16\n"
                   "WIDTH=16;\nDEPTH=3;\nADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\nCONTENT BEGIN\n"
                   "0 : 1122;\n1 : 3344;\n2 : 5500;\nEND;\n"},
        FormatCase{"Mif32Short", kMif, 32, 3, 2, kTiny,
                   "-- tiny.bmp: 3 x 2 pixels of 3-3-2 RGB, 4 to a word; depth 2, width 32\n"
                   "WIDTH=32;\nDEPTH=2;\nADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\nCONTENT BEGIN\n"
                   "0 : E01C03FF;\n1 : 00E00000;\nEND;\n"},
        FormatCase{"Mif32Whole", kMif, 32, 4, 2, kEight,
                   "-- tiny.bmp: 4 x 2 pixels of 3-3-2 RGB, 4 to a word; depth 2, width 32\n"
                   "WIDTH=32;\nDEPTH=2;\nADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\nCONTENT BEGIN\n"
                   "0 : 01234567;\n1 : 89ABCDEF;\nEND;\n"}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

TEST(MemoryFile, MifAddressesShareTheWidthOfTheLastOne) {
  MemoryFileLayout layout;
  layout.format = kMif;
  layout.wordBits = 8;
  const std::string text = Format(layout, std::vector<std::uint8_t>(257, 0xAB));
  EXPECT_NE(text.find("\nCONTENT BEGIN\n000 : AB;\n001 : AB;\n"), std::string::npos);
  EXPECT_NE(text.find("\n0FF : AB;\n100 : AB;\nEND;\n"), std::string::npos);
}

TEST(MemoryFile, CommentNameKeepsOnlyHarmlessCharacters) {
  // A line break would end the comment; "/*" starts a block comment for Yosys; '%' for
  // a MIF reader; bytes beyond ASCII are not every tool's text.
  MemoryFileLayout layout;
  layout.wordBits = 32;
  layout.source = "a*b%c\nd\r\xC3\xA9 e.bmp";
  layout.width = 1;
  layout.height = 1;
  EXPECT_EQ(Format(layout, {0x12}),
            "// a?b?c?d??? e.bmp: 1 x 1 pixels of 3-3-2 RGB, 4 to a word; depth 1, width 32\n"
            "12000000\n");
}

TEST(MemoryFile, EmptyNameLeavesTheSizeAlone) {
  MemoryFileLayout layout;
  layout.wordBits = 16;
  EXPECT_EQ(Format(layout, {0x12, 0x34}),
            "// 2 pixels of 3-3-2 RGB, 2 to a word; depth 1, width 16\n1234\n");
}

TEST(MemoryFile, StopsWhenTheSinkRefuses) {
  // About 3 MB of text: many pieces, of which the sink takes none.
  const std::vector<std::uint8_t> pixels(1 << 20, 0x5A);
  int calls = 0;
  const bool written = FormatMemoryFile({kMif, 8, "big.bmp", 1024, 1024}, pixels,
                                        [&](std::string_view) { return ++calls, false; });
  EXPECT_FALSE(written);
  EXPECT_EQ(calls, 1);
}

TEST(MemoryFile, LargeFileArrivesWholeInPieces) {
  std::vector<std::uint8_t> pixels(300001);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 7);
  const std::string text = Format({kMem, 32, "big.bmp", 300001, 1}, pixels);
  // 75001 words: 75000 whole ones, then pixel 300000 alone (300000 * 7 = 0x200B20).
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 75001);
  EXPECT_EQ(text.substr(text.find('\n') + 1, 9), "00070E15\n");
  EXPECT_EQ(text.substr(text.size() - 18), "040B1219\n20000000\n");
}

TEST(MemoryFile, RefusesOtherWordWidths) {
  for (const unsigned bits : {0u, 4u, 12u, 24u, 64u}) {
    bool called = false;
    EXPECT_FALSE(FormatMemoryFile({kMem, bits, "x.bmp", 1, 1}, std::vector<std::uint8_t>{1},
                                  [&](std::string_view) { return called = true; }))
        << bits;
    EXPECT_FALSE(called) << bits;
  }
}

}  // namespace
