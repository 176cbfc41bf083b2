// The loader through the platform seam: what it prints, what it hands out, and that a
// failed load leaves the caller's outputs alone.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bmp_builder.h"
#include "bmp_decode.h"
#include "file_bytes.h"
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

// Cuts the file at `path` to `size` bytes when its pixels are about to be read, as an editor
// or a copy may do to a source while it is being converted.
struct Cut {
  static inline std::string path;
  static inline std::size_t size = 0;
  static void Now() { EXPECT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0); }
  Cut(std::string file, std::size_t to) {
    path = std::move(file);
    size = to;
    rastrom::gBeforePixelRead = &Now;
  }
  ~Cut() { rastrom::gBeforePixelRead = nullptr; }
};

struct CutCase {
  const char* name;
  rastrom::test::Bytes file;
  std::size_t keep;  // the whole file: nothing is cut, and the load succeeds
};

std::vector<CutCase> CutCases() {
  using rastrom::test::BmpBuilder;
  // 1024 x 400 at 24 bits: 3072-byte rows, more than one 1 MiB band of them, after 54 bytes
  // of headers.
  const auto wide = BmpBuilder().Size(1024, 400)
      .Data(rastrom::test::StoreRows(1024, 400, 24, [](int x, int y) { return x * 7u + y; }))
      .Build();
  // A 12-byte stream: a run, an end of line, a literal, an end of bitmap.
  const auto rle = BmpBuilder().Bpp(8).Compression(rastrom::test::kBiRle8).Size(4, 2)
      .ColoursUsed(2).Palette({0x112233, 0x445566}).Data({4, 1, 0, 0, 0, 4, 1, 0, 1, 0, 0, 1})
      .Build();
  return {{"24-bit, emptied", wide, 0},
          {"24-bit, cut where the pixels start", wide, 54},
          {"24-bit, cut inside the second band", wide, 54 + 1100000},
          {"24-bit, the last byte cut", wide, wide.size() - 1},
          {"24-bit, uncut", wide, wide.size()},
          {"RLE8, the stream cut short", rle, rle.size() - 1},
          {"RLE8, uncut", rle, rle.size()}};
}

TEST_F(LoaderTest, ASourceCutBeforeItsPixelsAreReadFailsToLoad) {
  for (const CutCase& c : CutCases()) {
    SCOPED_TRACE(c.name);
    const Cut cut(Write("cut.bmp", c.file), c.keep);
    int result = -1;
    const bool whole = c.keep == c.file.size();
    EXPECT_EQ(Load(Cut::path, result),
              whole ? "Loading image...\nImage loaded\n"
                    : "Loading image...\nError: Failed to load image!\n");
    EXPECT_EQ(result, whole ? 0 : 1);
    EXPECT_EQ(pixels_.empty(), !whole);
    if (whole) pixels_.Release();
  }
}

// The stand-in's own calls: the whole bits, and a partial copy, which decodes all aside.
TEST_F(LoaderTest, StandInCopiesNoBitsFromASourceCutBeforeItsPixelsAreRead) {
  for (const CutCase& c : CutCases()) {
    const rastrom::DecodedBmp decoded = rastrom::DecodeBmp(c.file);
    const auto total = static_cast<LONG>(decoded.pixels.size());
    for (LONG bytes : {total, LONG{4}}) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(bytes) + " bytes");
      const std::string path = Write("cut.bmp", c.file);
      HANDLE bitmap = LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
      ASSERT_NE(bitmap, nullptr);
      std::vector<std::uint8_t> bits(static_cast<std::size_t>(bytes));
      const Cut cut(path, c.keep);
      const bool whole = c.keep == c.file.size();
      EXPECT_EQ(GetBitmapBits(static_cast<HBITMAP>(bitmap), bytes, bits.data()), whole ? bytes : 0);
      if (whole) {
        EXPECT_EQ(std::memcmp(bits.data(), decoded.pixels.data(), bits.size()), 0);
      }
      DeleteObject(bitmap);
    }
  }
}

// A pipe cannot be read at an offset: it is read whole, once, and loads as a file does.
TEST_F(LoaderTest, LoadsFromAPipe) {
  const std::string path = (dir_ / "pipe.bmp").string();
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  std::thread writer([&] { Write("pipe.bmp", ThreeByTwo()); });
  int result = -1;
  EXPECT_EQ(Load(path, result), "Loading image...\nImage loaded\n");
  writer.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(std::vector<std::uint8_t>(pixels_.bytes().begin(), pixels_.bytes().end()),
            rastrom::DecodeBmp(ThreeByTwo()).pixels);
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
