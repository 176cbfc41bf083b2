// Tests of the picture input: a BMP file reduced to 3-3-2 as the converter does it, a COE
// file as its words' bytes, and files that are neither, refused with their name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_support.h"
#include "picture_input.h"

namespace {

namespace fs = std::filesystem;
using rastrom::PictureInput;
using Bytes = std::vector<std::uint8_t>;

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

TEST_F(PictureInputTest, ReducesABmpAsTheConverterDoes) {
  // 3 x 2; top row red, green, blue; bottom row white, black, red.
  const std::string path = Write("tiny.bmp", rastrom::test::kTinyBmp);
  PictureInput input;
  ASSERT_EQ(rastrom::ReadPictureInput(path.c_str(), input), "");
  EXPECT_EQ(input.kind, PictureInput::Kind::kBmp);
  EXPECT_EQ(input.width, 3);
  EXPECT_EQ(input.height, 2);
  EXPECT_EQ(input.pixels, (Bytes{0xE0, 0x1C, 0x03, 0xFF, 0x00, 0xE0}));
}

TEST_F(PictureInputTest, ReadsACoeFileAsItsWordsBytes) {
  const std::string path = Write("tiny.coe", rastrom::test::kTinyCoe);
  PictureInput input;
  ASSERT_EQ(rastrom::ReadPictureInput(path.c_str(), input), "");
  EXPECT_EQ(input.kind, PictureInput::Kind::kCoe);
  EXPECT_EQ(input.width, 0);
  EXPECT_EQ(input.height, 0);
  EXPECT_EQ(input.pixels, (Bytes{0xE0, 0x1C, 0x03, 0xFF, 0x00, 0xE0, 0x00, 0x00}));
}

TEST_F(PictureInputTest, TellsTheKindByContentNotByName) {
  const std::string coeNamedBmp = Write("picture.bmp", rastrom::test::kTinyCoe);
  const std::string bmpNamedCoe = Write("memory.coe", rastrom::test::kTinyBmp);
  PictureInput input;
  ASSERT_EQ(rastrom::ReadPictureInput(coeNamedBmp.c_str(), input), "");
  EXPECT_EQ(input.kind, PictureInput::Kind::kCoe);
  ASSERT_EQ(rastrom::ReadPictureInput(bmpNamedCoe.c_str(), input), "");
  EXPECT_EQ(input.kind, PictureInput::Kind::kBmp);
}

TEST_F(PictureInputTest, RefusesAMalformedCoeFileNamingFileAndLine) {
  const std::string path = Write("bad.coe", "MEMORY_INITIALIZATION_RADIX=16;\nMEMORY_INITIALIZATION_VECTOR=\nXYZ;\n");
  PictureInput input;
  input.width = 7;
  EXPECT_EQ(rastrom::ReadPictureInput(path.c_str(), input),
            path + ": line 3: 'X' in 'XYZ' is not a digit of radix 16");
  EXPECT_EQ(input.width, 7);  // untouched on failure
}

TEST_F(PictureInputTest, RefusesABmpThatDoesNotLoad) {
  const std::string& bmp = rastrom::test::kTinyBmp;
  const std::string path = Write("cut.bmp", bmp.substr(0, bmp.size() - 4));
  PictureInput input;
  EXPECT_EQ(rastrom::ReadPictureInput(path.c_str(), input),
            path + ": starts like a BMP file but does not load as one");
}

TEST_F(PictureInputTest, RefusesFilesThatCannotBeRead) {
  PictureInput input;
  const std::string missing = (dir_ / "missing.coe").string();
  EXPECT_EQ(rastrom::ReadPictureInput(missing.c_str(), input),
            missing + ": cannot be opened (No such file or directory)");
  const std::string dir = dir_.string();
  const std::string failed = rastrom::ReadPictureInput(dir.c_str(), input);
  EXPECT_EQ(failed.rfind(dir + ": ", 0), 0u) << failed;
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
  EXPECT_EQ(input.pixels.size(), 8u);
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
