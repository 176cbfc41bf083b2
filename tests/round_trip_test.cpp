// The round trip through both built programs: a BMP becomes a COE file (rastrom), the COE
// file a picture (rastrom-preview), and the picture the same COE file again (rastrom), for
// many sizes and all 256 colours. The preview of the BMP itself must be the same picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_support.h"

#ifndef RASTROM_PREVIEW_BINARY
#error "RASTROM_PREVIEW_BINARY must name the built rastrom-preview binary"
#endif

namespace {

namespace fs = std::filesystem;
using namespace rastrom::test;

struct PictureSize {
  int width, height;
};

void PrintTo(const PictureSize& s, std::ostream* os) { *os << s.width << "x" << s.height; }

// The 3-3-2 byte of pixel i of a picture: 167 is odd, so any 256 pixels in a row take every
// value once.
std::uint8_t PixelByte(int i, int seed) { return static_cast<std::uint8_t>(i * 167 + seed); }

// A 24-bit BMP, rows bottom-up, whose pixel i reduces to PixelByte(i): the top bits of each
// channel carry the byte, the bits the reduction drops carry noise.
std::string MakeBmp24(int width, int height, int seed) {
  const int stride = (3 * width + 3) / 4 * 4;
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(stride * height);
  std::string file(54 + dataBytes, '\0');
  auto put = [&file](std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) file[at + i] = static_cast<char>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, 54 + dataBytes, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(width), 4);
  put(22, static_cast<std::uint32_t>(height), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  put(34, dataBytes, 4);
  for (int y = 0; y < height; ++y) {
    const std::size_t row = 54 + static_cast<std::size_t>(stride) * (height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const int i = y * width + x;
      const std::uint8_t v = PixelByte(i, seed);
      const auto noise = static_cast<std::uint8_t>(i * 29 + 11);
      file[row + 3 * x + 0] = static_cast<char>((v << 6 & 0xC0) | (noise & 0x3F));  // blue
      file[row + 3 * x + 1] = static_cast<char>((v << 3 & 0xE0) | (noise & 0x1F));  // green
      file[row + 3 * x + 2] = static_cast<char>((v & 0xE0) | (noise >> 3 & 0x1F));  // red
    }
  }
  return file;
}

class RoundTrip : public testing::TestWithParam<PictureSize> {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("rastrom-round-trip");
    ASSERT_FALSE(root_.empty());
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  // Runs a program in the test's directory; fails the test unless it exits with 0.
  void Run(const std::string& binary, const std::vector<std::string>& args) const {
    const RunResult r = RunProgram(binary, args, root_, root_ / "stdout", root_ / "stderr");
    ASSERT_EQ(r.status, 0) << binary << "\n" << r.out << r.err;
    if (binary == RASTROM_BINARY) {
      ASSERT_NE(r.out.find("Program completed successfully!"), std::string::npos) << r.out;
    } else {
      ASSERT_EQ(r.out + r.err, "");
    }
  }
  std::string Read(const char* name) const { return ReadFile(root_ / name); }

  fs::path root_;
};

TEST_P(RoundTrip, BmpToCoeToPictureToTheSameCoe) {
  const auto [width, height] = GetParam();
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const int seed = width * 7 + height;
  std::ofstream(root_ / "source.bmp", std::ios::binary) << MakeBmp24(width, height, seed);

  ASSERT_NO_FATAL_FAILURE(Run(RASTROM_BINARY, {"source.bmp", "first.coe"}));
  ASSERT_NO_FATAL_FAILURE(Run(RASTROM_PREVIEW_BINARY, {"first.coe", size, "preview.bmp"}));
  ASSERT_NO_FATAL_FAILURE(Run(RASTROM_BINARY, {"preview.bmp", "second.coe"}));
  // The picture holds exactly W x H pixels, and rastrom fills a short last word with 00
  // again, so the files match byte for byte whatever the pixel count.
  const std::string first = Read("first.coe");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(Read("second.coe"), first);
  const std::string preview = Read("preview.bmp");

  // The preview of the BMP itself is the same picture, and so is the preview from the
  // width alone when the words hold whole rows.
  ASSERT_NO_FATAL_FAILURE(Run(RASTROM_PREVIEW_BINARY, {"source.bmp", "direct.bmp"}));
  EXPECT_EQ(Read("direct.bmp"), preview);
  ASSERT_NO_FATAL_FAILURE(Run(RASTROM_PREVIEW_BINARY, {"first.coe", std::to_string(width), "wide.bmp"}));
  if ((width * height) % 4 == 0) {
    EXPECT_EQ(Read("wide.bmp"), preview);
  }
}

std::vector<PictureSize> Sizes() {
  std::vector<PictureSize> sizes;
  for (int w = 1; w <= 9; ++w) {
    for (int h = 1; h <= 5; ++h) sizes.push_back({w, h});
  }
  // 256 pixels and more: every colour at least once.
  for (PictureSize s : {PictureSize{16, 16}, {17, 16}, {256, 1}, {1, 256}, {255, 3}, {33, 9},
                        {62, 32}, {100, 7}, {640, 3}, {3, 640}, {1023, 1}}) {
    sizes.push_back(s);
  }
  return sizes;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, RoundTrip, testing::ValuesIn(Sizes()),
    [](const testing::TestParamInfo<PictureSize>& info) {
      return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
    });

// A COE file written by hand, in another radix and with other padding, shows the same
// picture and comes back as rastrom writes it: the same words, the padding cleared.
TEST(RoundTripOtherCoe, ComesBackAsRastromWritesIt) {
  const fs::path root = MakeTempDir("rastrom-round-trip");
  ASSERT_FALSE(root.empty());
  std::ofstream(root / "hand.coe", std::ios::binary)
      << "; written by hand\nmemory_initialization_radix = 2 ;\nmemory_initialization_vector =\n"
         "11100000000111000000001111111111 ; red green blue white\n"
         "00000000111000000101010110101010 ; black red, then two padding bytes\n;\n";
  // Right after a value a semicolon ends the vector, so without a comma the first line's
  // comment ends it there, and the rest is refused rather than dropped.
  RunResult r = RunProgram(RASTROM_PREVIEW_BINARY, {"hand.coe", "3x2", "p.bmp"}, root,
                           root / "out", root / "err");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("line 4: text after the vector's closing ';' (line 4)"), std::string::npos)
      << r.err;

  std::ofstream(root / "hand.coe", std::ios::binary)
      << "; written by hand\nmemory_initialization_radix = 2 ;\nmemory_initialization_vector =\n"
         "11100000000111000000001111111111, ; red green blue white\n"
         "00000000111000000101010110101010; ; black red, then two padding bytes\n";
  r = RunProgram(RASTROM_PREVIEW_BINARY, {"hand.coe", "3x2", "p.bmp"}, root, root / "out",
                 root / "err");
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunProgram(RASTROM_BINARY, {"p.bmp", "back.coe"}, root, root / "out", root / "err");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(root / "back.coe"), kTinyCoe);
  fs::remove_all(root);
}

}  // namespace
