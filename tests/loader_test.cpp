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

// Cuts a file to a given size at the moment its pixels are about to be read: what an editor
// or a copy does to a source while it is being converted.
struct Cut {
  static inline std::string path;
  static inline std::uintmax_t size = 0;
  static void Now() { EXPECT_EQ(truncate(path.c_str(), static_cast<off_t>(size)), 0); }

  Cut(std::string file, std::uintmax_t to) {
    path = std::move(file);
    size = to;
    rastrom::gBeforePixelRead = &Now;
  }
  ~Cut() { rastrom::gBeforePixelRead = nullptr; }
  Cut(const Cut&) = delete;
  Cut& operator=(const Cut&) = delete;
};

// A 24-bit image of 1024 x 400 whose rows (3072 bytes each) fill more than one 1 MiB band,
// every pixel a different colour.
rastrom::test::Bytes TwoBands(bool topDown) {
  const std::int32_t height = topDown ? -400 : 400;
  return rastrom::test::BmpBuilder().Bpp(24).Size(1024, height)
      .Data(rastrom::test::StoreRows(1024, height, 24, [](int x, int y) {
        return static_cast<std::uint32_t>(x * 0x010307 + y * 0x0B0D11);
      }))
      .Build();
}

// An RLE8 image of 4 x 2: a run, an end of line, a literal, an end of bitmap.
rastrom::test::Bytes Rle8() {
  return rastrom::test::BmpBuilder().Bpp(8).Compression(rastrom::test::kBiRle8).Size(4, 2)
      .ColoursUsed(3).Palette({0x112233, 0x445566, 0x778899}).Data({4, 1, 0, 0, 0, 4, 2, 0, 1, 2, 0, 1})
      .Build();
}

struct CutCase {
  const char* name;
  rastrom::test::Bytes file;
  std::size_t keep;  // bytes left when the pixels are read
};

// The header reads see the whole file; the pixel reads then find less than it promised.
std::vector<CutCase> CutCases() {
  const rastrom::test::Bytes wide = TwoBands(false);
  const rastrom::test::Bytes rle = Rle8();
  const std::size_t pixels = 54;  // the 24-bit pixels start right after the two headers
  return {
      {"24-bit, emptied", wide, 0},
      {"24-bit, cut inside the headers", wide, 30},
      {"24-bit, cut where the pixels start", wide, pixels},
      {"24-bit, cut inside the first band", wide, pixels + 5000},
      {"24-bit, cut inside the second band", wide, pixels + 1100000},
      {"24-bit, the last row cut short", wide, wide.size() - 1},
      {"RLE8, cut where the stream starts", rle, rle.size() - 12},
      {"RLE8, the stream cut short", rle, rle.size() - 1},
  };
}

TEST_F(LoaderTest, ASourceCutBeforeItsPixelsAreReadIsAFailedLoad) {
  for (const CutCase& c : CutCases()) {
    SCOPED_TRACE(c.name);
    const std::string path = Write("cut.bmp", c.file);
    const Cut cut(path, c.keep);
    bitmap_.bmWidth = 77;
    int result = -1;
    EXPECT_EQ(Load(path, result), "Loading image...\nError: Failed to load image!\n");
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(pixels_.empty());
    EXPECT_EQ(bitmap_.bmWidth, 77);
  }
}

// The stand-in's own calls, for the whole bits and for a partial copy of them.
TEST_F(LoaderTest, StandInCopiesNoBitsFromASourceCutBeforeItsPixelsAreRead) {
  for (const CutCase& c : CutCases()) {
    for (LONG bytes : {LONG{0}, LONG{4}}) {
      SCOPED_TRACE(std::string(c.name) + (bytes == 0 ? ", whole" : ", first pixel"));
      const std::string path = Write("cut.bmp", c.file);
      HANDLE bitmap = LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
      ASSERT_NE(bitmap, nullptr);
      BITMAP record{};
      ASSERT_NE(GetObjectA(bitmap, sizeof record, &record), 0);
      const LONG total = 4 * record.bmWidth * record.bmHeight;
      std::vector<std::uint8_t> bits(static_cast<std::size_t>(total), 0xA5);
      {
        const Cut cut(path, c.keep);
        EXPECT_EQ(GetBitmapBits(static_cast<HBITMAP>(bitmap), bytes == 0 ? total : bytes,
                                bits.data()),
                  0);
      }
      EXPECT_EQ(DeleteObject(bitmap), 1);
    }
  }
}

// Uncut, the same files load to the decoder's pixels, across bands and in either row order,
// whole or in part.
TEST_F(LoaderTest, StandInReadsWhatTheDecoderDecodes) {
  const struct {
    const char* name;
    rastrom::test::Bytes file;
  } cases[] = {
      {"two bands, bottom-up", TwoBands(false)},
      {"two bands, top-down", TwoBands(true)},
      {"RLE8", Rle8()},
  };
  for (const auto& c : cases) {
    const rastrom::DecodedBmp decoded = rastrom::DecodeBmp(c.file);
    ASSERT_EQ(decoded.error, rastrom::BmpError::kNone);
    const auto total = static_cast<LONG>(decoded.pixels.size());
    for (LONG bytes : {total, LONG{4}, total - 4}) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(bytes) + " bytes");
      const std::string path = Write("whole.bmp", c.file);
      HANDLE bitmap = LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
      ASSERT_NE(bitmap, nullptr);
      std::vector<std::uint8_t> bits(static_cast<std::size_t>(bytes));
      EXPECT_EQ(GetBitmapBits(static_cast<HBITMAP>(bitmap), bytes, bits.data()), bytes);
      EXPECT_TRUE(std::memcmp(bits.data(), decoded.pixels.data(), bits.size()) == 0);
      DeleteObject(bitmap);
    }
  }
}

// A pipe cannot be read at an offset; it is read whole, once, and loads as a file does.
TEST_F(LoaderTest, LoadsFromAPipe) {
  const std::string path = (dir_ / "pipe.bmp").string();
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  const std::vector<std::uint8_t> file = ThreeByTwo();
  std::thread writer([&] { Write("pipe.bmp", file); });
  int result = -1;
  EXPECT_EQ(Load(path, result), "Loading image...\nImage loaded\n");
  writer.join();
  ASSERT_EQ(result, 0);
  const rastrom::DecodedBmp decoded = rastrom::DecodeBmp(file);
  EXPECT_EQ(std::vector<std::uint8_t>(pixels_.bytes().begin(), pixels_.bytes().end()),
            decoded.pixels);
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
