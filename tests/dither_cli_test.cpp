// --dither through the built programs: `none` leaves every file as it was, the preview of a
// dithered BMP is the picture rastrom-mem's dithered memory shows, and the refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "bmp_decode.h"
#include "cli_support.h"

namespace {

namespace fs = std::filesystem;
using namespace rastrom::test;

// A picture with gradients and fine detail, which every method reduces differently.
std::string PictureBmp(int width, int height, std::uint32_t (*colour)(int x, int y)) {
  const Bytes rows = StoreRows(width, height, 24, colour);
  const Bytes bmp = BmpBuilder().Bpp(24).Size(width, height).Data(rows).Build();
  return std::string(bmp.begin(), bmp.end());
}
std::uint32_t Gradient(int x, int y) {
  const auto r = static_cast<std::uint32_t>(x * 255 / 40);
  const auto g = static_cast<std::uint32_t>(y * 255 / 30);
  const auto b = static_cast<std::uint32_t>((x * 7 + y * 3) & 0xFF);
  return b | g << 8 | r << 16;
}

class DitherCli : public testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("rastrom-dither-cli");
    ASSERT_FALSE(root_.empty());
    work_ = root_ / "work";
    fs::create_directory(work_);
    Put("picture.bmp", PictureBmp(41, 31, Gradient));
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(work_ / name, std::ios::binary) << bytes;
  }
  RunResult Run(const char* binary, std::vector<std::string> args) const {
    return RunProgram(binary, args, work_, root_ / "stdout", root_ / "stderr");
  }
  std::string Read(const std::string& name) const { return ReadFile(work_ / name); }
  rastrom::DecodedBmp Decode(const std::string& name) const {
    const std::string bytes = Read(name);
    return rastrom::DecodeBmp(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  }

  fs::path root_, work_;
};

// Each format family and layout, as rastrom-mem takes them.
const std::vector<std::vector<std::string>> kLayouts = {
    {"--pixel", "rgb332"},
    {"--pixel", "bgr233", "--word", "8"},
    {"--pixel", "rgb444", "--word", "16", "--align-rows"},
    {"--pixel", "rgb565"},
    {"--pixel", "gray4", "--word", "12"},
    {"--pixel", "mono", "--word", "8", "--pages"},
};

std::vector<std::string> Args(std::vector<std::string> options, std::vector<std::string> more) {
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

TEST_F(DitherCli, NoneWritesTheFilesOfNoOption) {
  for (const auto& layout : kLayouts) {
    ASSERT_EQ(Run(RASTROM_MEM_BINARY, Args(layout, {"picture.bmp", "plain.mem"})).status, 0);
    ASSERT_EQ(Run(RASTROM_MEM_BINARY, Args(layout, {"--dither", "none", "picture.bmp", "none.mem"})).status, 0);
    EXPECT_EQ(Read("none.mem"), Read("plain.mem")) << layout[1];
    ASSERT_EQ(Run(RASTROM_PREVIEW_BINARY, {layout[0], layout[1], "picture.bmp", "plain.bmp"}).status, 0);
    ASSERT_EQ(Run(RASTROM_PREVIEW_BINARY, {layout[0], layout[1], "--dither=none", "picture.bmp", "none.bmp"}).status, 0);
    EXPECT_EQ(Read("none.bmp"), Read("plain.bmp")) << layout[1];
  }
}

// The preview of a BMP shows what rastrom-mem writes for it: the memory file, shown by the
// preview from its description, is the same picture, and it is not the undithered one.
TEST_F(DitherCli, PreviewShowsTheDitheredMemory) {
  for (const char* method : {"floyd-steinberg", "ordered"}) {
    for (const auto& layout : kLayouts) {
      const std::string what = std::string(method) + " " + layout[1];
      RunResult r = Run(RASTROM_MEM_BINARY, Args(layout, {"--dither", method, "picture.bmp", "d.mem"}));
      ASSERT_EQ(r.status, 0) << what << ": " << r.err;
      r = Run(RASTROM_PREVIEW_BINARY, {"d.mem", "from-memory.bmp"});
      ASSERT_EQ(r.status, 0) << what << ": " << r.err;
      r = Run(RASTROM_PREVIEW_BINARY, {"--pixel", layout[1], "--dither", method, "picture.bmp", "direct.bmp"});
      ASSERT_EQ(r.status, 0) << what << ": " << r.err;
      ASSERT_EQ(Run(RASTROM_PREVIEW_BINARY, {"--pixel", layout[1], "picture.bmp", "plain.bmp"}).status, 0);
      const rastrom::DecodedBmp fromMemory = Decode("from-memory.bmp");
      const rastrom::DecodedBmp direct = Decode("direct.bmp");
      ASSERT_EQ(direct.error, rastrom::BmpError::kNone) << what;
      EXPECT_EQ(direct.width, 41);
      EXPECT_EQ(direct.height, 31);
      EXPECT_EQ(direct.pixels, fromMemory.pixels) << what;
      EXPECT_NE(direct.pixels, Decode("plain.bmp").pixels) << what;
    }
  }
}

TEST_F(DitherCli, RefusesAnUnknownMethodAndAMemoryToPreview) {
  for (const char* binary : {RASTROM_MEM_BINARY, RASTROM_PREVIEW_BINARY}) {
    const RunResult r = Run(binary, {"--dither", "fast", "picture.bmp", "out.mem"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--dither"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(work_ / "out.mem"));
  }
  ASSERT_EQ(Run(RASTROM_MEM_BINARY, {"picture.bmp", "picture.mem"}).status, 0);
  const RunResult r = Run(RASTROM_PREVIEW_BINARY, {"--dither", "ordered", "picture.mem", "out.bmp"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--dither"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(work_ / "out.bmp"));
}

}  // namespace
