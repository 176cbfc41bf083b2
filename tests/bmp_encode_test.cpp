// Tests of the 8-bit BMP encoder: the headers' fields, the widened 3-3-2 palette and the
// size limits. (The round trip through rastrom checks the rows of many sizes.)
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bmp_encode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using rastrom::Bmp332FileSize;
using rastrom::Color332;
using rastrom::EncodeBmp332;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
std::uint32_t Le16(const Bytes& b, std::size_t at) { return b.at(at) | b.at(at + 1) << 8; }

TEST(BmpEncode, WritesTheHeadersOfA3x2Picture) {
  const Bytes file = EncodeBmp332(3, 2, Bytes{0xE0, 0x1C, 0x03, 0xFF, 0x00, 0x6D});
  ASSERT_EQ(file.size(), 14u + 40 + 1024 + 2 * 4);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Le32(file, 2), file.size());
  EXPECT_EQ(Le32(file, 6), 0u);           // reserved
  EXPECT_EQ(Le32(file, 10), 1078u);       // rows after both headers and the palette
  EXPECT_EQ(Le32(file, 14), 40u);         // info header size
  EXPECT_EQ(Le32(file, 18), 3u);          // width
  EXPECT_EQ(Le32(file, 22), 2u);          // height, positive: bottom-up
  EXPECT_EQ(Le16(file, 26), 1u);          // planes
  EXPECT_EQ(Le16(file, 28), 8u);          // bits per pixel
  EXPECT_EQ(Le32(file, 30), 0u);          // BI_RGB
  EXPECT_EQ(Le32(file, 34), 8u);          // image size: two rows of 4 bytes
  EXPECT_EQ(Le32(file, 46), 256u);        // colours used
  EXPECT_EQ(Le32(file, 50), 0u);          // all important
  // Bottom row first, each padded with one zero byte.
  EXPECT_EQ(Bytes(file.begin() + 1078, file.end()), (Bytes{0xFF, 0x00, 0x6D, 0, 0xE0, 0x1C, 0x03, 0}));
}

TEST(BmpEncode, WidensEachChannelByRepeatingItsBits) {
  const std::uint32_t levels3[8] = {0x00, 0x24, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
  const std::uint32_t levels2[4] = {0x00, 0x55, 0xAA, 0xFF};
  for (unsigned r = 0; r < 8; ++r) {
    for (unsigned g = 0; g < 8; ++g) {
      for (unsigned b = 0; b < 4; ++b) {
        const auto pixel = static_cast<std::uint8_t>(r << 5 | g << 2 | b);
        EXPECT_EQ(Color332(pixel), levels3[r] << 16 | levels3[g] << 8 | levels2[b]) << int(pixel);
      }
    }
  }
}

TEST(BmpEncode, ShowsMissingPixelsBlackAndIgnoresExtraOnes) {
  EXPECT_EQ(EncodeBmp332(2, 2, Bytes{7, 8, 9}), EncodeBmp332(2, 2, Bytes{7, 8, 9, 0}));
  EXPECT_EQ(EncodeBmp332(2, 1, Bytes{7, 8, 9, 10}), EncodeBmp332(2, 1, Bytes{7, 8}));
  const Bytes empty = EncodeBmp332(3, 1, Bytes{});
  ASSERT_EQ(empty.size(), 1082u);
  EXPECT_EQ(Bytes(empty.begin() + 1078, empty.end()), Bytes(4, 0));
}

TEST(BmpEncode, RefusesSizesABmpCannotHold) {
  EXPECT_EQ(Bmp332FileSize(0, 1), 0u);
  EXPECT_EQ(Bmp332FileSize(1, 0), 0u);
  EXPECT_EQ(Bmp332FileSize(0x80000000u, 1), 0u);  // a side must fit a signed 32-bit field
  EXPECT_EQ(Bmp332FileSize(1, 0x80000000u), 0u);
  EXPECT_EQ(Bmp332FileSize(~std::uint64_t{0}, ~std::uint64_t{0}), 0u);
  EXPECT_EQ(Bmp332FileSize(0x7FFFFFFF, 1), 1078u + 0x80000000u);
  EXPECT_EQ(Bmp332FileSize(0x7FFFFFFF, 2), 0u);  // 4 GiB and more: beyond the size field
  // The largest height for 4-byte rows: the file ends exactly at 4 GiB - 1 or below.
  const std::uint64_t rows = (0xFFFFFFFFu - 1078) / 4;
  EXPECT_EQ(Bmp332FileSize(4, rows), 1078 + 4 * rows);
  EXPECT_EQ(Bmp332FileSize(4, rows + 1), 0u);
  EXPECT_TRUE(EncodeBmp332(4, rows + 1, Bytes{1}).empty());
}

}  // namespace
