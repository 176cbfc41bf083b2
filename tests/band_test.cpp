// The picture's pixels flowing from the file to the text a band of rows at a time: the bands
// join to the decoded picture whatever the depth, size and row order; the writer's text does
// not depend on where the bands split; a source that shrinks between bands loses nothing.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "bmp_decode.h"
#include "coe_writer.h"
#include "file_bytes.h"
#include "loader.h"
#include "picture_input.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;
using rastrom::PixelRows;
using rastrom::test::BmpBuilder;
using rastrom::test::Bytes;
using Band = std::span<const std::uint8_t>;

class BandTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "rastrom-band-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    rastrom::gBeforePixelRead = nullptr;
    fs::remove_all(dir_);
  }
  std::string Write(const std::string& name, const Bytes& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
  static std::string Read(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return std::move(text).str();
  }
  fs::path dir_;
};

// A picture of `bpp` bits whose every row differs, stored top-down or bottom-up.
Bytes Picture(int bpp, int width, int height, bool topDown) {
  std::vector<std::uint32_t> palette;
  for (int i = 0; bpp <= 8 && i < (1 << bpp); ++i) palette.push_back(0x10307u * (i + 1) * 37u);
  return BmpBuilder().Bpp(static_cast<std::uint16_t>(bpp)).Size(width, topDown ? -height : height)
      .Palette(palette)
      .Data(rastrom::test::StoreRows(width, topDown ? -height : height, bpp,
                                     [](int x, int y) { return x * 2654435761u ^ y * 40503u; }))
      .Build();
}

// Every band the rows hand out, joined; the bands are checked to be whole rows, no more
// than BandRows of them.
Bytes JoinBands(PixelRows& rows) {
  Bytes joined;
  const std::size_t rowBytes = 4 * static_cast<std::size_t>(rows.width());
  for (Band band; rows.NextBand(band) && !band.empty();) {
    EXPECT_EQ(band.size() % rowBytes, 0u);
    EXPECT_LE(band.size() / rowBytes, static_cast<std::size_t>(PixelRows::BandRows(rows.width())));
    joined.insert(joined.end(), band.begin(), band.end());
  }
  return joined;
}

TEST_F(BandTest, BandsJoinToTheDecodedPictureAtEveryDepthSizeAndOrder) {
  const Bytes rle8 = BmpBuilder().Bpp(8).Compression(rastrom::test::kBiRle8).Size(5, 3)
      .ColoursUsed(3).Palette({0x112233, 0x445566, 0x778899}).Data({5, 1, 0, 0, 0, 3, 1, 2, 0, 0, 2, 0, 0, 1})
      .Build();
  const Bytes rle4 = BmpBuilder().Bpp(4).Compression(rastrom::test::kBiRle4).Size(4, 2)
      .ColoursUsed(2).Palette({0x112233, 0x445566}).Data({4, 0x01, 0, 0, 3, 0x10, 0, 1}).Build();
  struct Case {
    std::string name;
    Bytes file;
    bool bits24 = false;  // uncompressed 24-bit rows, to be had as stored
  };
  std::vector<Case> cases = {{"RLE8", rle8}, {"RLE4", rle4}};
  // Several bands of stored rows, whichever way the file runs.
  cases.push_back({"24 bits, 1001 x 200, bottom-up", Picture(24, 1001, 200, false), true});
  cases.push_back({"24 bits, 1001 x 200, top-down", Picture(24, 1001, 200, true), true});
  // Rows of 3 and 1001 pixels are no multiple of 4 bytes at most depths; the heights put the
  // last band one row short, whole, one row long, and past a second band.
  for (int bpp : {1, 2, 4, 8, 16, 24, 32}) {
    for (int width : {3, 1001}) {
      const int band = PixelRows::BandRows(width);
      for (int height : {band - 1, band, band + 1, 2 * band + 1}) {
        for (bool topDown : {false, true}) {
          cases.push_back({std::to_string(bpp) + " bits, " + std::to_string(width) + " x " +
                               std::to_string(height) + (topDown ? ", top-down" : ", bottom-up"),
                           Picture(bpp, width, height, topDown), bpp == 24});
        }
      }
    }
  }
  // The last stored row may go without its padding: the top row of a bottom-up file, read
  // in the first band, and the bottom row of a top-down one, in the last.
  for (bool topDown : {false, true}) {
    const Bytes padded = Picture(24, 3, PixelRows::BandRows(3) + 1, topDown);
    Bytes file(padded.begin(), padded.end() - 3);
    rastrom::test::PutLe(file, 2, static_cast<std::uint32_t>(file.size()), 4);
    cases.push_back({std::string("last stored row unpadded, ") + (topDown ? "top-down" : "bottom-up"),
                     file, true});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const rastrom::DecodedBmp decoded = rastrom::DecodeBmp(c.file);
    ASSERT_EQ(decoded.error, rastrom::BmpError::kNone);
    const std::string path = Write("picture.bmp", c.file);
    PixelRows rows;
    BITMAP bitmap{};
    ASSERT_EQ(rastrom::LoadBitmapRows(path, rows, bitmap), rastrom::LoadError::kNone);
    EXPECT_EQ(rows.byteCount(), static_cast<std::int32_t>(decoded.pixels.size()));
    EXPECT_TRUE(JoinBands(rows) == decoded.pixels);

    // The picture input asks for bands from the bottom up as well.
    rastrom::PictureInput input;
    ASSERT_EQ(rastrom::ReadPictureInput(path.c_str(), input), "");
    for (auto order : {rastrom::RowOrder::kTopDown, rastrom::RowOrder::kBottomUp}) {
      Bytes picture(decoded.pixels.size());
      std::int32_t previous = order == rastrom::RowOrder::kTopDown ? -1 : decoded.height;
      EXPECT_EQ(input.ReadRows(order, [&](std::int32_t first, std::int32_t count, Band band) {
        EXPECT_EQ(order == rastrom::RowOrder::kTopDown ? first > previous : first < previous, true);
        previous = first;
        EXPECT_EQ(band.size(), 4u * static_cast<std::size_t>(decoded.width * count));
        std::copy(band.begin(), band.end(), picture.begin() + 4 * decoded.width * first);
        return true;
      }), "");
      EXPECT_TRUE(picture == decoded.pixels);

      // A 24-bit file's rows as stored, widened here, are the same picture, every row once.
      EXPECT_EQ(input.HasStoredRows(), c.bits24);
      if (!c.bits24) continue;
      Bytes stored(decoded.pixels.size());
      std::vector<int> seen(static_cast<std::size_t>(decoded.height));
      previous = order == rastrom::RowOrder::kTopDown ? -1 : decoded.height;
      EXPECT_EQ(input.ReadStoredRows(order, [&](const rastrom::StoredRows& band) {
        EXPECT_EQ(order == rastrom::RowOrder::kTopDown ? band.firstRow > previous
                                                       : band.firstRow < previous, true);
        previous = band.firstRow;
        for (std::int32_t i = 0; i < band.rowCount; ++i) {
          const Band row = band.Row(i);
          const auto y = static_cast<std::size_t>(band.firstRow + i);
          ++seen[y];
          for (std::size_t x = 0; x < row.size() / 3; ++x) {
            std::copy_n(&row[3 * x], 3, &stored[4 * (y * decoded.width + x)]);
          }
        }
        return true;
      }), "");
      EXPECT_TRUE(stored == decoded.pixels);
      EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), decoded.height);
    }
  }
}

// The text of `pixels` written with the bands split every `split` pixels (0: one band).
std::string WriteInBands(const std::string& path, const Bytes& pixels, std::size_t split,
                         int& status) {
  std::size_t at = 0;
  testing::internal::CaptureStdout();
  status = rastrom::WriteCoeFile(
      path.c_str(),
      [&](Band& band) {
        const std::size_t left = pixels.size() - at;
        const std::size_t n = split == 0 ? left : std::min(4 * split, left);
        band = Band(pixels).subspan(at, n);
        at += n;
        return true;
      },
      static_cast<std::int32_t>(pixels.size()));
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TEST_F(BandTest, WordsSplitBetweenBandsWriteTheSameText) {
  const std::string path = (dir_ / "out.coe").string();
  for (std::size_t count : {0u, 1u, 3u, 4u, 5u, 8u, 9u, 17u, 31u}) {
    Bytes pixels(4 * count);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 89 + 7);
    int status = -1;
    WriteInBands(path, pixels, 0, status);
    ASSERT_EQ(status, 0);
    const std::string whole = Read(path);
    for (std::size_t split : {1u, 2u, 3u, 5u, 7u, 16u}) {
      SCOPED_TRACE(std::to_string(count) + " pixels in bands of " + std::to_string(split));
      EXPECT_EQ(WriteInBands(path, pixels, split, status), "Output file has been written.\n");
      EXPECT_EQ(status, 0);
      EXPECT_EQ(Read(path), whole);
    }
  }
}

TEST_F(BandTest, PixelsThatRunOutLeaveTheOldOutputAlone) {
  const std::string path = Write("out.coe", {'o', 'l', 'd'});
  const Bytes pixels(4 * 9, 0x80);
  for (bool fails : {true, false}) {  // a band that cannot be read, or a source that ends early
    SCOPED_TRACE(fails ? "failed band" : "ended early");
    int calls = 0;
    testing::internal::CaptureStdout();
    const int status = rastrom::WriteCoeFile(
        path.c_str(),
        [&](Band& band) {
          band = ++calls == 1 ? Band(pixels).first(4 * 5) : Band();
          return calls == 1 || !fails;
        },
        static_cast<std::int32_t>(pixels.size()));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: Failed to write Output file: " + path + ", Error " + std::to_string(EIO) + "\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(Read(path), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  }
}

// Cuts the file `path` to `size` bytes just before the `at`-th read of pixels.
struct CutAt {
  static inline std::string path;
  static inline off_t size = 0;
  static inline int at = 0;
  static void Read() {
    if (--at == 0) {
      EXPECT_EQ(truncate(path.c_str(), size), 0);
    }
  }
};

TEST_F(BandTest, ASourceThatShrinksBetweenBandsLosesNothing) {
  const int band = PixelRows::BandRows(1001);
  const Bytes file = Picture(24, 1001, 3 * band + 2, false);
  const std::string source = Write("in.bmp", file);
  const std::string output = (dir_ / "out.coe").string();
  const char* argv[] = {"rastrom", source.c_str(), output.c_str()};
  const std::string head = "\nrastrom converter, VER: 1.0\nSource file: " + source +
                           "\nOutput file: " + output + "\nLoading image...\n";
  const std::string loaded =
      "Image loaded\nImage height  \t\t: " + std::to_string(3 * band + 2) +
      "\nImage width  \t\t: 1001\nImage WidthBytes  \t: 4004\nImage Planes  \t\t: 1\n"
      "Image Bits per Pixel  \t: 32\n";
  const struct {
    const char* name;
    int read;      // the read of pixels before which the file is cut
    off_t size;    // what is left of it
    std::string tail;
  } cases[] = {
      {"cut before the first band", 1, 54, "Error: Failed to load image!\nError!\n"},
      {"emptied before the second band", 2, 0,
       loaded + "Error: Failed to write Output file: " + output + ", Error 5\n"
                "Error: Output Data failed!\n"},
      // Bottom-up, the last band of the picture is the first in the file.
      {"cut before the last band", 4, 54 + 3003, loaded +
       "Error: Failed to write Output file: " + output + ", Error 5\nError: Output Data failed!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write("in.bmp", file);
    Write("out.coe", {'o', 'l', 'd'});
    CutAt::path = source;
    CutAt::size = c.size;
    CutAt::at = c.read;
    rastrom::gBeforePixelRead = &CutAt::Read;
    testing::internal::CaptureStdout();
    EXPECT_EQ(rastrom::RunConverter(3, argv), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), head + c.tail + "Program exits with errors!\n");
    EXPECT_EQ(Read(output), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  }
}

// The picture input reads no pixels until they are asked for, widened or as stored: a
// source cut before the first band or the second fails then, having handed out the bands
// before the cut only.
TEST_F(BandTest, RowsOfAShrunkSourceFailAndHandOutNothingMore) {
  for (const bool stored : {true, false}) {
    for (int cut : {1, 2}) {  // before the first band, before the second
      SCOPED_TRACE((stored ? "stored, cut before band " : "widened, cut before band ") + std::to_string(cut));
      const std::string source = Write("in.bmp", Picture(24, 1001, 200, false));
      rastrom::PictureInput input;
      ASSERT_EQ(rastrom::ReadPictureInput(source.c_str(), input), "");
      ASSERT_TRUE(input.HasStoredRows());
      CutAt::path = source;
      CutAt::size = 54 + 3004;
      CutAt::at = cut;
      rastrom::gBeforePixelRead = &CutAt::Read;
      int bands = 0;
      const std::string failed =
          stored ? input.ReadStoredRows(rastrom::RowOrder::kTopDown, [&](const rastrom::StoredRows&) {
            ++bands;
            return true;
          })
                 : input.ReadRows(rastrom::RowOrder::kTopDown, [&](std::int32_t, std::int32_t, Band) {
                     ++bands;
                     return true;
                   });
      EXPECT_EQ(failed, "has changed since it was opened: its pixels can no longer be read");
      EXPECT_EQ(bands, cut - 1);
    }
  }
}

}  // namespace
