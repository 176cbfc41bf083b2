// PNG and JPEG pictures, --background and the refusal of other kinds, as a user meets them
// in rastrom-mem and rastrom-preview: the built binaries, their streams, exit status and
// the file written or not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "cli_support.h"
#include "png_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace rastrom::test;

std::string AsString(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

// 4 x 1: opaque red, transparent green, half-transparent blue, opaque white.
const std::string kRgbaPng = AsString(
    PngBuilder(4, 1, 8, kPngRgba)
        .Rows(8, {{255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128, 255, 255, 255, 255}})
        .Build());

// 2 x 1 at 32 bits with an alpha mask: red at alpha 0, blue at alpha 255.
const std::string kAlphaBmp = AsString(
    BmpBuilder().Header(56).Bpp(32).Size(2, 1).Compression(kBiBitfields)
        .Masks({0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000})
        .Data(StoreRows(2, 1, 32, [](int x, int) { return x == 0 ? 0x00FF0000u : 0xFF0000FFu; }))
        .Build());

class PictureCli : public testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("rastrom-picture-cli");
    ASSERT_FALSE(root_.empty());
    work_ = root_ / "work";
    fs::create_directory(work_);
    Write("rgba.png", kRgbaPng);
    Write("rgba.coe", kRgbaPng);
    Write("alpha.bmp", kAlphaBmp);
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(work_ / name, std::ios::binary) << bytes;
  }
  RunResult Run(const char* binary, const std::vector<std::string>& args) const {
    return RunProgram(binary, args, work_, root_ / "stdout", root_ / "stderr");
  }
  fs::path root_, work_;
};

struct WriteCase {
  const char* name;
  std::vector<std::string> args;
  std::string words;  // the .mem file after its comment line
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class PictureCliWrites : public PictureCli, public testing::WithParamInterface<WriteCase> {};

TEST_P(PictureCliWrites, TheWordsOfThePicture) {
  const RunResult r = Run(RASTROM_MEM_BINARY, GetParam().args);
  ASSERT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  const std::string text = ReadFile(work_ / GetParam().args.back());
  EXPECT_EQ(text.substr(text.find('\n') + 1), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PictureCliWrites,
    testing::Values(
        // Transparent green is the background, never the green stored under it.
        WriteCase{"PngOverBlackByDefault", {"rgba.png", "out.mem"}, "E00002FF\n"},
        WriteCase{"PngOverWhite", {"--background", "FFFFFF", "rgba.png", "out.mem"}, "E0FF6FFF\n"},
        WriteCase{"PngOverHashColour", {"--background=#00ff00", "rgba.png", "out.mem"},
                  "E01C0EFF\n"},
        WriteCase{"PngNamedCoe", {"--word", "8", "rgba.coe", "out.mem"}, "E0\n00\n02\nFF\n"},
        // A BMP file's alpha is used only when a background is asked for.
        WriteCase{"BmpKeepsItsPixelsByDefault", {"--word", "8", "alpha.bmp", "out.mem"},
                  "E0\n03\n"},
        WriteCase{"BmpAlphaOverABackground",
                  {"--word=8", "--background", "00FF00", "alpha.bmp", "out.mem"},
                  "1C\n03\n"}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

struct RefusalCase {
  const char* name;
  std::string bytes;   // the input file
  std::string reason;  // after "<program>: <input>: "
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class PictureCliRefuses : public PictureCli, public testing::WithParamInterface<RefusalCase> {};

TEST_P(PictureCliRefuses, NamingTheFileAndWritingNothing) {
  Write("input", GetParam().bytes);
  struct Program { const char* binary; const char* name; std::vector<std::string> args; };
  for (const Program& p : {Program{RASTROM_MEM_BINARY, "rastrom-mem", {"input", "out.mem"}},
                           Program{RASTROM_PREVIEW_BINARY, "rastrom-preview",
                                   {"input", "out.bmp"}}}) {
    const RunResult r = Run(p.binary, p.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    std::string reason = GetParam().reason;
    if (const auto at = reason.find("PROGRAM"); at != std::string::npos) {
      reason.replace(at, 7, p.name);
    }
    EXPECT_EQ(r.err, std::string(p.name) + ": input: " + reason + "\n");
    EXPECT_FALSE(fs::exists(work_ / p.args.back()));
  }
}

std::string Cut(const std::string& bytes, std::size_t keep) { return bytes.substr(0, keep); }

// A PNG picture of 1000 x 200 whose pixel data breaks after its first 87 rows (the fifth of
// its stored deflate blocks has a wrong length): found only while its rows are read.
std::string PngBrokenPartway() {
  std::vector<std::vector<unsigned>> rows(200, std::vector<unsigned>(3000, 0x5A));
  std::string file = AsString(PngBuilder(1000, 200, 8, kPngRgb).Rows(8, rows).Build());
  file[41 + 2 + 4 * 65540 + 3] ^= 1;
  return file;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PictureCliRefuses,
    testing::Values(
        RefusalCase{"Gif", "GIF89a\x01\0\x01\0\0\0\0;",
                    "is a GIF picture; PROGRAM reads BMP, PNG and JPEG pictures and COE files"},
        RefusalCase{"Tiff", std::string("II*\0\x08\0\0\0", 8),
                    "is a TIFF picture; PROGRAM reads BMP, PNG and JPEG pictures and COE files"},
        RefusalCase{"WebP", std::string("RIFF\x1A\0\0\0WEBPVP8L", 16),
                    "is a WebP picture; PROGRAM reads BMP, PNG and JPEG pictures and COE files"},
        RefusalCase{"PngOf30000Squared", AsString(PngBuilder(30000, 30000, 8, kPngRgb).Build()),
                    "is a PNG picture of 30000 x 30000 pixels; the most is 65535 pixels a side "
                    "and 4 x width x height under 2 GiB"},
        RefusalCase{"PngOf100000Squared", AsString(PngBuilder(100000, 100000, 1, kPngGrey).Build()),
                    "is a PNG picture of 100000 x 100000 pixels; the most is 65535 pixels a side "
                    "and 4 x width x height under 2 GiB"},
        RefusalCase{"PngCutShort", Cut(kRgbaPng, 50),
                    "is a PNG picture but is cut short (end of stream)"},
        RefusalCase{"PngBrokenPartway", PngBrokenPartway(), "is a PNG picture but is corrupt (IDAT stream error)"},
        RefusalCase{"JpegOfNoFrame", std::string("\xFF\xD8\xFF\xD9", 4),
                    "is a JPEG picture but is corrupt (JPEG datastream contains no image)"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST_F(PictureCli, RefusesABackgroundThatIsNotAColour) {
  struct Row { const char* binary; const char* name; std::vector<std::string> args; };
  for (const Row& row :
       {Row{RASTROM_MEM_BINARY, "rastrom-mem", {"--background", "FFF", "rgba.png", "out.mem"}},
        Row{RASTROM_PREVIEW_BINARY, "rastrom-preview",
            {"--background=12345G", "rgba.png", "out.bmp"}}}) {
    const RunResult r = Run(row.binary, row.args);
    EXPECT_EQ(r.status, 2) << row.name;
    EXPECT_EQ(r.err.rfind(std::string(row.name) + ": --background takes a colour RRGGBB in hex", 0),
              0u)
        << r.err;
    EXPECT_FALSE(fs::exists(work_ / row.args.back()));
  }
}

TEST_F(PictureCli, PreviewShowsAPngAndTakesItsSizeFromIt) {
  RunResult r = Run(RASTROM_PREVIEW_BINARY, {"--background", "FFFFFF", "rgba.png", "out.bmp"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string bmp = ReadFile(work_ / "out.bmp");
  ASSERT_GE(bmp.size(), 1078u + 4u);
  EXPECT_EQ(bmp.substr(1078, 4), std::string("\xE0\xFF\x6F\xFF", 4));  // one row of indices
  r = Run(RASTROM_PREVIEW_BINARY, {"rgba.png", "4x1", "other.bmp"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind(
                "rastrom-preview: rgba.png is a PNG picture and its size comes from the image", 0),
            0u)
      << r.err;
}

}  // namespace
