// rastrom-mem's second thread as a user meets it: a picture large enough to be dithered on
// two threads gives the memory of the dithering on one.
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

// A million pixels, which rastrom-mem dithers on threads of its own, of gradients crossed
// with noise, and wide enough for error diffusion in two strips; the preview dithers on one
// thread, and shows the memory back. The memory shown is the preview's picture, for error
// diffusion in colour and in grey (each splitting its work between the threads) and for
// ordered dithering (which does not).
TEST(PipelineCli, LargePictureOnTwoThreadsGivesTheSameMemory) {
  const fs::path root = MakeTempDir("rastrom-pipeline-cli");
  ASSERT_FALSE(root.empty());
  const fs::path work = root / "work";
  fs::create_directory(work);
  const Bytes rows = StoreRows(2080, 512, 24, [](int x, int y) {
    const auto noise = static_cast<std::uint32_t>((x * 2654435761u) ^ (y * 40503u)) >> 27;
    return static_cast<std::uint32_t>(((x / 4 + noise) & 0xFF) | ((y / 4) & 0xFF) << 8 | ((x + y) / 8 & 0xFF) << 16);
  });
  const Bytes bmp = BmpBuilder().Bpp(24).Size(2080, 512).Data(rows).Build();
  std::ofstream(work / "large.bmp", std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()),
                                                             static_cast<std::streamsize>(bmp.size()));
  auto run = [&](const char* binary, std::vector<std::string> args) {
    return RunProgram(binary, args, work, root / "stdout", root / "stderr");
  };
  auto decode = [&](const char* name) {
    const std::string bytes = ReadFile(work / name);
    return rastrom::DecodeBmp(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  };
  struct Case { const char* method; const char* pixel; };
  for (const Case c : {Case{"floyd-steinberg", "rgb332"}, Case{"floyd-steinberg", "gray4"}, Case{"ordered", "rgb444"}}) {
    const std::string what = std::string(c.method) + " " + c.pixel;
    RunResult r = run(RASTROM_MEM_BINARY, {"--pixel", c.pixel, "--dither", c.method, "large.bmp", "d.mem"});
    ASSERT_EQ(r.status, 0) << what << ": " << r.err;
    EXPECT_EQ(r.err, "") << what;
    ASSERT_EQ(run(RASTROM_PREVIEW_BINARY, {"d.mem", "from-memory.bmp"}).status, 0) << what;
    r = run(RASTROM_PREVIEW_BINARY, {"--pixel", c.pixel, "--dither", c.method, "large.bmp", "direct.bmp"});
    ASSERT_EQ(r.status, 0) << what << ": " << r.err;
    const rastrom::DecodedBmp direct = decode("direct.bmp");
    ASSERT_EQ(direct.error, rastrom::BmpError::kNone) << what;
    EXPECT_EQ(direct.width, 2080);
    EXPECT_TRUE(direct.pixels == decode("from-memory.bmp").pixels) << what;
  }
  fs::remove_all(root);
}

}  // namespace
