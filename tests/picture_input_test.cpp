// Tests of the picture input where the command line cannot reach: the kind told by content,
// a directory, pipes and devices. (The preview's command-line tests cover the rest.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "cli_support.h"
#include "coe_writer.h"
#include "picture_input.h"

namespace {

namespace fs = std::filesystem;
using rastrom::PictureInput;
using Bytes = std::vector<std::uint8_t>;

// The picture's rows from the top, reduced to 3-3-2 as the converter reduces them.
std::string ReadPixels332(const PictureInput& input, Bytes& pixels) {
  const auto width = static_cast<std::size_t>(input.width);
  pixels.resize(width * static_cast<std::size_t>(input.height));
  return input.ReadRows(rastrom::RowOrder::kTopDown,
                        [&](std::int32_t firstRow, std::int32_t rowCount,
                            std::span<const std::uint8_t> rows) {
                          rastrom::ReducePixels332(rows.data(), width * static_cast<std::size_t>(rowCount),
                                                   pixels.data() + width * static_cast<std::size_t>(firstRow));
                          return true;
                        });
}

class PictureInputTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = rastrom::test::MakeTempDir("rastrom-picture");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const char* name, const std::string& bytes) const {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  fs::path dir_;
};

TEST_F(PictureInputTest, TellsTheKindByContentNotByName) {
  const std::string coeNamedBmp = Write("picture.bmp", rastrom::test::kTinyCoe);
  const std::string bmpNamedCoe = Write("memory.coe", rastrom::test::kTinyBmp);
  PictureInput input;
  ASSERT_EQ(rastrom::ReadPictureInput(coeNamedBmp.c_str(), input), "");
  EXPECT_EQ(input.kind, PictureInput::Kind::kCoe);
  EXPECT_EQ(input.words, (std::vector<std::uint32_t>{0xE01C03FF, 0x00E00000}));
  ASSERT_EQ(rastrom::ReadPictureInput(bmpNamedCoe.c_str(), input), "");
  EXPECT_EQ(input.kind, PictureInput::Kind::kBmp);
  EXPECT_EQ(input.width, 3);
  EXPECT_EQ(input.height, 2);
  Bytes pixels;
  ASSERT_EQ(ReadPixels332(input, pixels), "");
  EXPECT_EQ(pixels, (Bytes{0xE0, 0x1C, 0x03, 0xFF, 0x00, 0xE0}));
}

TEST_F(PictureInputTest, RefusesADirectoryLeavingTheInputAlone) {
  PictureInput input;
  input.width = 7;
  const std::string dir = dir_.string();
  EXPECT_EQ(rastrom::ReadPictureInput(dir.c_str(), input), dir + ": is a directory");
  EXPECT_EQ(input.width, 7);
}

TEST_F(PictureInputTest, StopsReadingADeviceAtItsFirstNulByte) {
  PictureInput input;
  EXPECT_EQ(rastrom::ReadPictureInput("/dev/zero", input),
            "/dev/zero: line 1: byte 0x00 is not text; a COE file is plain text (ASCII)");
}

TEST_F(PictureInputTest, ReadsACoeFileFromAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string& text = rastrom::test::kTinyCoe;
  ASSERT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fds[1]);
  const std::string path = "/dev/fd/" + std::to_string(fds[0]);
  PictureInput input;
  EXPECT_EQ(rastrom::ReadPictureInput(path.c_str(), input), "");
  EXPECT_EQ(input.words.size(), 2u);
  close(fds[0]);
}

TEST_F(PictureInputTest, RefusesABmpFromAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string& bmp = rastrom::test::kTinyBmp;
  ASSERT_EQ(write(fds[1], bmp.data(), bmp.size()), static_cast<ssize_t>(bmp.size()));
  close(fds[1]);
  const std::string path = "/dev/fd/" + std::to_string(fds[0]);
  PictureInput input;
  EXPECT_EQ(rastrom::ReadPictureInput(path.c_str(), input),
            path + ": a BMP file must be a regular file, not a pipe or device");
  close(fds[0]);
}

}  // namespace
