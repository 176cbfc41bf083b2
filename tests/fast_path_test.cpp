// The whole-row loops checked against the one-pixel definitions they must agree with: the
// reduction of a row (four or sixteen pixels at a time and the rest), words packed row after row in
// every common number of pixels a word, the .mem lines of every word width written across
// many pieces, and the preview's stored row of colour pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bmp_rows.h"
#include "memory_file.h"
#include "pixel_format.h"
#include "word_layout.h"

namespace {

using namespace rastrom;

// Pixels whose channels cover every byte value, with noise in the unused fourth byte.
std::vector<std::uint8_t> NoisyRow(std::size_t pixels) {
  std::vector<std::uint8_t> row(4 * pixels);
  std::uint32_t seed = 12345;
  for (std::uint8_t& byte : row) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  return row;
}

const char* const kFormats[] = {"rgb332", "rgb444", "rgb565", "rgb888", "bgr233", "bgr565",
                                "rgb118", "bgr811", "rgb111", "gray4", "mono"};

TEST(FastPath, RowReductionIsEveryPixelsReduction) {
  for (const char* name : kFormats) {
    const PixelFormat format = *ParsePixelFormat(name);
    // Widths around the four pixels done together: none, fewer, exact, and a tail.
    for (const std::size_t width : {0u, 1u, 3u, 4u, 5u, 7u, 16u, 17u, 64u, 259u}) {
      const std::vector<std::uint8_t> row = NoisyRow(width);
      std::vector<std::uint32_t> values(width + 1, 0xDEADBEEF);
      TopBitsReducer(format).ReduceRow(row, std::span(values).first(width));
      for (std::size_t x = 0; x < width; ++x) {
        ASSERT_EQ(values[x], ReduceTopBits(format, row[4 * x + 2], row[4 * x + 1], row[4 * x]))
            << name << " width " << width << " pixel " << x;
      }
      EXPECT_EQ(values[width], 0xDEADBEEF) << name << ": wrote past the row";
      if (PixelBits(format) > 8) continue;
      // The bytes of an 8-bit picture's row, sixteen at a time and the rest.
      std::vector<std::uint8_t> bytes(width + 1, 0xA5);
      TopBitsReducer(format).ReduceRowToBytes(row, std::span(bytes).first(width));
      for (std::size_t x = 0; x < width; ++x) ASSERT_EQ(bytes[x], values[x]) << name << " byte " << x;
      EXPECT_EQ(bytes[width], 0xA5) << name << ": wrote past the bytes";
    }
  }
}

TEST(FastPath, StoredRowReductionIsEveryPixelsReduction) {
  // Every field width of the shuffled path's byte moves (left, none, right by up to 8).
  const char* const formats[] = {"rgb332", "bgr233", "rgb323", "rgb116", "rgb611", "bgr161",
                                 "rgb224", "rgb111", "rgb121", "gray8", "gray3", "mono",
                                 "rgb444", "bgr565", "rgb888", "rgb338", "bgr888"};
  for (const char* name : formats) {
    const PixelFormat format = *ParsePixelFormat(name);
    // Widths around the sixteen pixels done together and the 52 bytes their last read
    // needs, and around the four of the wider formats and their 16 bytes.
    for (const std::size_t width : {0u, 1u, 4u, 5u, 6u, 15u, 16u, 17u, 18u, 31u, 32u, 33u, 35u, 259u}) {
      const std::vector<std::uint8_t> noise = NoisyRow(width);
      std::vector<std::uint8_t> bgr(3 * width);  // exactly the row: a read past it is a fault
      for (std::size_t x = 0; x < width; ++x) std::copy_n(&noise[4 * x], 3, &bgr[3 * x]);
      std::vector<std::uint32_t> values(width + 1, 0xDEADBEEF);
      TopBitsReducer(format).ReduceBgr24Row(bgr, std::span(values).first(width));
      for (std::size_t x = 0; x < width; ++x) {
        ASSERT_EQ(values[x], ReduceTopBits(format, bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]))
            << name << " width " << width << " value " << x;
      }
      EXPECT_EQ(values[width], 0xDEADBEEF) << name << ": wrote past the values";
      if (PixelBits(format) > 8) continue;
      std::vector<std::uint8_t> bytes(width + 1, 0xA5);
      TopBitsReducer(format).ReduceBgr24RowToBytes(bgr, std::span(bytes).first(width));
      for (std::size_t x = 0; x < width; ++x) {
        ASSERT_EQ(bytes[x], ReduceTopBits(format, bgr[3 * x + 2], bgr[3 * x + 1], bgr[3 * x]))
            << name << " width " << width << " pixel " << x;
      }
      EXPECT_EQ(bytes[width], 0xA5) << name << ": wrote past the bytes";
    }
  }
}

TEST(FastPath, PackedRowsAreEveryPixelInItsPlace) {
  struct Case {
    const char* format;
    unsigned wordBits;
    bool alignRows;
    std::uint64_t width, height;
  };
  const Case cases[] = {
      {"rgb332", 32, false, 5, 3},  {"rgb332", 32, true, 5, 3},   {"rgb332", 16, false, 7, 2},
      {"rgb444", 12, false, 9, 2},  {"mono", 8, false, 13, 3},    {"mono", 8, true, 13, 3},
      {"rgb111", 64, false, 50, 3}, {"gray4", 12, false, 10, 3},  {"rgb565", 48, true, 4, 2},
      // Rows far longer than one batch of words.
      {"rgb332", 8, false, 9000, 2}, {"mono", 8, false, 70000, 1}};
  for (const Case& c : cases) {
    const WordLayout layout{*ParsePixelFormat(c.format), c.wordBits, c.alignRows, false};
    const unsigned bits = PixelBits(layout.format);
    std::vector<std::uint64_t> words;
    WordPacker packer(layout, c.width, [&](std::span<const std::uint64_t> w) {
      words.insert(words.end(), w.begin(), w.end());
      return true;
    });
    auto value = [&](std::uint64_t x, std::uint64_t y) {
      return static_cast<std::uint32_t>((x * 7 + y * 131 + 3) & ((1u << bits) - 1));
    };
    std::vector<std::uint32_t> row(c.width);
    for (std::uint64_t y = 0; y < c.height; ++y) {
      for (std::uint64_t x = 0; x < c.width; ++x) row[x] = value(x, y);
      ASSERT_TRUE(packer.PutRow(row));
    }
    ASSERT_TRUE(packer.Finish());
    ASSERT_EQ(words.size(), WordCount(layout, c.width, c.height)) << c.format << " " << c.wordBits;
    for (std::uint64_t y = 0; y < c.height; ++y) {
      for (std::uint64_t x = 0; x < c.width; ++x) {
        ASSERT_EQ(PixelAt(layout, c.width, words, x, y), value(x, y))
            << c.format << " in " << c.wordBits << " bits, pixel " << x << "," << y;
      }
    }
  }
}

TEST(FastPath, MemLinesOfEveryWidthAcrossPieces) {
  // Enough words that the text fills several pieces, handed over in uneven runs.
  for (unsigned bits = 1; bits <= 64; ++bits) {
    const std::uint64_t mask = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    std::vector<std::uint64_t> words(bits <= 8 ? 40000 : 9000);
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = (i * 0x9E3779B97F4A7C15u) & mask;
    std::string text;
    const WordFile file{MemoryFormat::kMem, bits, words.size(), ""};
    WordFileWriter writer(file, [&](std::string_view piece) {
      text += piece;
      return true;
    });
    for (std::size_t first = 0; first < words.size(); first += 3001) {
      const std::size_t n = std::min<std::size_t>(3001, words.size() - first);
      ASSERT_TRUE(writer.Put(std::span(words).subspan(first, n)));
    }
    ASSERT_TRUE(writer.Finish());
    ASSERT_EQ(text.size(), WordFileSize(file)) << bits << " bits";
    const unsigned digits = (bits + 3) / 4;
    for (std::size_t i = 0; i < words.size(); i += 997) {
      std::string expected;
      for (unsigned d = digits; d-- > 0;) expected += "0123456789ABCDEF"[(words[i] >> (4 * d)) & 15];
      ASSERT_EQ(text.substr(i * (digits + 1), digits + 1), expected + "\n") << bits << " bits, word " << i;
    }
  }
}

TEST(FastPath, PreviewRowShowsEveryColourPixel) {
  for (const char* name : {"rgb444", "rgb565", "bgr565", "rgb888", "bgr378", "rgb811", "rgb332", "rgb444"}) {
    const PixelFormat format = *ParsePixelFormat(name);
    const std::size_t width = 301;
    std::vector<std::uint32_t> values(width);
    for (std::size_t x = 0; x < width; ++x) {
      values[x] = static_cast<std::uint32_t>(x * 2654435761u) & ((1u << PixelBits(format)) - 1);
    }
    std::vector<std::uint8_t> row(PreviewRowBytes(format, width), 0xAA);
    PreviewRow(format, values, row);
    const std::size_t bytes = PalettedPreview(format) ? 1 : 3;
    for (std::size_t x = 0; x < width; ++x) {
      if (bytes == 1) {
        ASSERT_EQ(row[x], values[x]) << name;
        continue;
      }
      const Rgb8 c = ShowPixel(format, values[x]);
      ASSERT_EQ(row[3 * x], c.blue) << name << " pixel " << x;
      ASSERT_EQ(row[3 * x + 1], c.green) << name << " pixel " << x;
      ASSERT_EQ(row[3 * x + 2], c.red) << name << " pixel " << x;
    }
    for (std::size_t i = bytes * width; i < row.size(); ++i) EXPECT_EQ(row[i], 0) << name << ": padding";
  }
}

}  // namespace
