// The loader through the platform seam: what it prints, what it hands out, and that a
// failed load leaves the caller's outputs alone.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "loader.h"

namespace {

namespace fs = std::filesystem;

class LoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "rastrom-loader-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }

  // Runs the loader and returns what it printed.
  std::string Load(const std::string& path, int& result) {
    testing::internal::CaptureStdout();
    result = rastrom::LoadSourceImage(path, pixels_, bitmap_);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
  }

  fs::path dir_;
  rastrom::PixelBuffer pixels_;
  BITMAP bitmap_{};
};

// A 3 x 2 24-bit file, bottom row first: top row red, green, blue; bottom row white,
// black, red. Each 9-byte row is padded to 12.
std::vector<std::uint8_t> ThreeByTwo() {
  std::vector<std::uint8_t> file = {
      'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,             // file header
      40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,           // size, width, height, planes, bpp
      0, 0, 0, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0,              // white, black, red
      0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0, 0,                 // red, green, blue
  };
  return file;
}

TEST_F(LoaderTest, LoadsThreeByTwoAtThirtyTwoBitsTopRowFirst) {
  int result = -1;
  EXPECT_EQ(Load(Write("a.bmp", ThreeByTwo()), result), "Loading image...\nImage loaded\n");
  ASSERT_EQ(result, 0);
  EXPECT_EQ(pixels_.byteCount(), 24);
  EXPECT_EQ(bitmap_.bmWidth, 3);
  EXPECT_EQ(bitmap_.bmHeight, 2);
  EXPECT_EQ(bitmap_.bmWidthBytes, 12);
  EXPECT_EQ(bitmap_.bmPlanes, 1);
  EXPECT_EQ(bitmap_.bmBitsPixel, 32);
  const std::vector<std::uint8_t> expected = {
      0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0,     // red, green, blue
      0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0,  // white, black, red
  };
  EXPECT_EQ(std::vector<std::uint8_t>(pixels_.bytes().begin(), pixels_.bytes().end()), expected);
}

TEST_F(LoaderTest, FailuresPrintTheLoadErrorAndLeaveTheOutputsAlone) {
  std::vector<std::uint8_t> truncated = ThreeByTwo();
  truncated.resize(truncated.size() - 4);
  std::vector<std::uint8_t> notBmp = ThreeByTwo();
  notBmp[0] = 'X';
  const struct {
    const char* name;
    std::string path;
  } cases[] = {
      {"missing file", (dir_ / "missing.bmp").string()},
      {"directory", dir_.string()},
      {"empty file", Write("empty.bmp", {})},
      {"truncated pixels", Write("short.bmp", truncated)},
      {"not a BMP", Write("x.bmp", notBmp)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bitmap_.bmWidth = 77;
    int result = -1;
    EXPECT_EQ(Load(c.path, result), "Loading image...\nError: Failed to load image!\n");
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(pixels_.empty());
    EXPECT_EQ(bitmap_.bmWidth, 77);
  }
}

TEST(PixelBuffer, RefusesNegativeCountsAndMovesOwnership) {
  EXPECT_TRUE(rastrom::PixelBuffer::Allocate(-4).empty());
  rastrom::PixelBuffer a = rastrom::PixelBuffer::Allocate(16);
  ASSERT_FALSE(a.empty());
  rastrom::PixelBuffer b = std::move(a);
  EXPECT_TRUE(a.empty());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_EQ(b.byteCount(), 16);
  b.Release();
  EXPECT_TRUE(b.empty());
}

}  // namespace
