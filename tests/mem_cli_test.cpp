// rastrom-mem as a user runs it: the built binary (RASTROM_MEM_BINARY) in a fresh working
// directory, its output file, its streams and its exit status. COE inputs are made by the
// built converter (RASTROM_BINARY).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "cli_support.h"

#ifndef RASTROM_MEM_BINARY
#error "RASTROM_MEM_BINARY must name the built rastrom-mem binary"
#endif

namespace {

namespace fs = std::filesystem;
using namespace rastrom::test;

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

const std::string kUsage =
    "Usage: rastrom-mem [--pixel FORMAT] [--dither METHOD] [--word BITS]\n"
    "                   [--align-rows | --pages] [--format mem|mif|coe]\n"
    "                   [--background RRGGBB] <input> <output>\n";

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A 24-bit picture in which pixel k (from the top-left, row by row) reduces to the 3-3-2
// byte `byte(k)`; each channel carries low bits that the reduction drops.
std::string PictureBmp(int width, int height, std::uint8_t (*byte)(int)) {
  const Bytes rows = StoreRows(width, height, 24, [&](int x, int y) {
    const unsigned b = byte(y * width + x);
    const unsigned red = (b & 0xE0) | 0x1F, green = ((b << 3) & 0xE0) | 0x0A;
    const unsigned blue = ((b << 6) & 0xC0) | 0x2B;
    return static_cast<std::uint32_t>(blue | green << 8 | red << 16);
  });
  return AsString(BmpBuilder().Bpp(24).Size(width, height).Data(rows).Build());
}

std::uint8_t Varied(int k) { return static_cast<std::uint8_t>(k * 73 + 5); }

// White, red, green, blue, grey: FF E0 1C 03 6D.
std::uint8_t FiveColours(int k) {
  static const std::uint8_t bytes[] = {0xFF, 0xE0, 0x1C, 0x03, 0x6D};
  return bytes[k % 5];
}

// The words of a .mem text: every line after the comment.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream lines(text.substr(text.find('\n') + 1));
  for (std::string line; std::getline(lines, line);) words.push_back(line);
  return words;
}

class MemCliTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("rastrom-mem-cli");
    ASSERT_FALSE(root_.empty());
    work_ = root_ / "work";
    fs::create_directory(work_);
    WriteFile(work_ / "tiny.bmp", kTinyBmp);
    WriteFile(work_ / "-tiny.bmp", kTinyBmp);
    WriteFile(work_ / "tiny.coe", kTinyCoe);
    WriteFile(work_ / "five.bmp", PictureBmp(5, 1, FiveColours));
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  RunResult Mem(const std::vector<std::string>& args) const {
    return RunProgram(RASTROM_MEM_BINARY, args, work_, root_ / "stdout", root_ / "stderr");
  }
  RunResult Convert(const std::vector<std::string>& args) const {
    return RunRastrom(args, work_, root_ / "stdout", root_ / "stderr");
  }

  fs::path root_, work_;
};

struct WriteCase {
  const char* name;
  std::vector<std::string> args;  // the output is the last
  std::string text;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class MemCliWrites : public MemCliTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(MemCliWrites, ExactlyThisFile) {
  const WriteCase& c = GetParam();
  const RunResult r = Mem(c.args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(work_ / c.args.back()), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MemCliWrites,
    testing::Values(
        WriteCase{"Word8", {"--word", "8", "tiny.bmp", "out.mem"},
                  "// tiny.bmp: 3 x 2 pixels of 3-3-2 RGB, 1 to a word; depth 6, width 8\n"
                  "E0\n1C\n03\nFF\n00\nE0\n"},
        WriteCase{"Word32ByDefault", {"tiny.bmp", "out.mem"},
                  "// tiny.bmp: 3 x 2 pixels of 3-3-2 RGB, 4 to a word; depth 2, width 32\n"
                  "E01C03FF\n00E00000\n"},
        WriteCase{"MifByUpperCaseExtension", {"--word", "8", "five.bmp", "OUT.MIF"},
                  "-- five.bmp: 5 x 1 pixels of 3-3-2 RGB, 1 to a word; depth 5, width 8\n"
                  "WIDTH=8;\nDEPTH=5;\nADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\nCONTENT BEGIN\n"
                  "0 : FF;\n1 : E0;\n2 : 1C;\n3 : 03;\n4 : 6D;\nEND;\n"},
        WriteCase{"FormatOptionForAnyName", {"--word=16", "--format", "mif", "five.bmp", "out.txt"},
                  "-- five.bmp: 5 x 1 pixels of 3-3-2 RGB, 2 to a word; depth 3, width 16\n"
                  "WIDTH=16;\nDEPTH=3;\nADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\nCONTENT BEGIN\n"
                  "0 : FFE0;\n1 : 1C03;\n2 : 6D00;\nEND;\n"},
        // The extension is what follows the last dot: "mif.mem" and "v2" name no format.
        WriteCase{"FormatFromTheLastDot", {"five.bmp", "logo.v2.mif.mem"},
                  "// five.bmp: 5 x 1 pixels of 3-3-2 RGB, 4 to a word; depth 2, width 32\n"
                  "FFE01C03\n6D000000\n"},
        WriteCase{"FormatOptionWinsOverExtension", {"--format=MEM", "five.bmp", "out.Mif"},
                  "// five.bmp: 5 x 1 pixels of 3-3-2 RGB, 4 to a word; depth 2, width 32\n"
                  "FFE01C03\n6D000000\n"},
        WriteCase{"CoeInputKeepsItsPadding", {"--word", "16", "tiny.coe", "out.mem"},
                  "// tiny.coe: 8 pixels of 3-3-2 RGB, 2 to a word; depth 4, width 16\n"
                  "E01C\n03FF\n00E0\n0000\n"},
        WriteCase{"DoubleDashEndsTheOptions", {"--word", "8", "--", "-tiny.bmp", "-out.mem"},
                  "// -tiny.bmp: 3 x 2 pixels of 3-3-2 RGB, 1 to a word; depth 6, width 8\n"
                  "E0\n1C\n03\nFF\n00\nE0\n"},
        WriteCase{"LastOptionWins", {"--word", "8", "--word", "32", "tiny.bmp", "out.mem"},
                  "// tiny.bmp: 3 x 2 pixels of 3-3-2 RGB, 4 to a word; depth 2, width 32\n"
                  "E01C03FF\n00E00000\n"}),
    [](const testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

// The converter's COE file of a picture gives the words of the picture itself, followed by
// the words that only the COE's padding pixels fill (zero).
TEST_F(MemCliTest, BmpAndItsCoeGiveTheSameWords) {
  for (const auto& [width, height] : std::vector<std::pair<int, int>>{
           {1, 1}, {2, 1}, {3, 1}, {5, 3}, {4, 4}, {7, 2}, {33, 9}}) {
    WriteFile(work_ / "p.bmp", PictureBmp(width, height, Varied));
    ASSERT_NE(Convert({"p.bmp", "p.coe"}).out.find("Program completed successfully!"),
              std::string::npos);
    const int pixels = width * height, coePixels = (pixels + 3) / 4 * 4;
    for (const int perWord : {1, 2, 4}) {
      const std::string bits = std::to_string(8 * perWord);
      ASSERT_EQ(Mem({"--word", bits, "p.bmp", "bmp.mem"}).status, 0);
      ASSERT_EQ(Mem({"--word", bits, "p.coe", "coe.mem"}).status, 0);
      std::vector<std::string> expected = Words(ReadFile(work_ / "bmp.mem"));
      ASSERT_EQ(expected.size(), static_cast<std::size_t>((pixels + perWord - 1) / perWord));
      expected.resize((coePixels + perWord - 1) / perWord, std::string(2 * perWord, '0'));
      EXPECT_EQ(Words(ReadFile(work_ / "coe.mem")), expected) << width << "x" << height << " " << bits;
    }
  }
}

// A 24-bit file's rows are reduced as the file stores them; the same picture at 32 bits is
// widened first. Both give the same words in every format of up to 8 bits, from the top
// down or the bottom up, in pictures of one band and of several (each band about 128 KiB).
TEST_F(MemCliTest, TwentyFourAndThirtyTwoBitPicturesGiveTheSameWords) {
  auto colour = [](int x, int y) { return static_cast<std::uint32_t>(x * 2654435761u ^ y * 40503u); };
  for (const auto& [width, height] : std::vector<std::pair<int, int>>{{1, 1}, {7, 3}, {21, -5}, {1000, 131}, {333, -400}}) {
    WriteFile(work_ / "p24.bmp", AsString(BmpBuilder().Bpp(24).Size(width, height)
                                              .Data(StoreRows(width, height, 24, colour)).Build()));
    WriteFile(work_ / "p32.bmp", AsString(BmpBuilder().Bpp(32).Size(width, height)
                                              .Data(StoreRows(width, height, 32, colour)).Build()));
    for (const char* format : {"rgb332", "bgr233", "rgb121", "gray4", "mono"}) {
      ASSERT_EQ(Mem({"--pixel", format, "p24.bmp", "p24.mem"}).status, 0);
      ASSERT_EQ(Mem({"--pixel", format, "p32.bmp", "p32.mem"}).status, 0);
      EXPECT_EQ(Words(ReadFile(work_ / "p24.mem")), Words(ReadFile(work_ / "p32.mem")))
          << width << "x" << height << " " << format;
    }
  }
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string errStart;  // what standard error begins with
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class MemCliRefuses : public MemCliTest, public testing::WithParamInterface<RefusalCase> {};

// A refused run says why on standard error, prints nothing on standard output, creates no
// file and leaves an old output as it was.
TEST_P(MemCliRefuses, WithStatusAndReason) {
  const RefusalCase& c = GetParam();
  WriteFile(work_ / "truncated.bmp", kTinyBmp.substr(0, kTinyBmp.size() - 12));
  WriteFile(work_ / "text.bmp", "This is neither a bitmap nor a COE file.\n");
  WriteFile(work_ / "old.mem", "old contents\n");
  fs::create_directory(work_ / "dir.mem");
  std::set<std::string> before = EntryNames(work_);

  const RunResult r = Mem(c.args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart) << r.err;
  if (c.status == 2) {
    EXPECT_NE(r.err.find("\n" + kUsage), std::string::npos);
  }
  EXPECT_EQ(EntryNames(work_), before);
  EXPECT_EQ(ReadFile(work_ / "old.mem"), "old contents\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, MemCliRefuses,
    testing::Values(
        RefusalCase{"NoArguments", {}, 2, "rastrom-mem: an input and an output file are needed\n"},
        RefusalCase{"InputOnly", {"tiny.bmp"}, 2, "rastrom-mem: an output file is needed"},
        RefusalCase{"ThreeFiles", {"tiny.bmp", "a.mem", "b.mem"}, 2, "rastrom-mem: too many file names"},
        RefusalCase{"OptionAfterFiles", {"tiny.bmp", "old.mem", "--word", "8"}, 2,
                    "rastrom-mem: options come before the file names: '--word'\n"},
        RefusalCase{"UnknownOption", {"--depth", "4", "tiny.bmp", "old.mem"}, 2,
                    "rastrom-mem: unknown option '--depth'\n"},
        RefusalCase{"WordWiderThan64Bits", {"--word", "65", "tiny.bmp", "old.mem"}, 2,
                    "rastrom-mem: --word takes the bits of a word, 1 to 64, not '65'\n"},
        RefusalCase{"WordWithoutValue", {"--word"}, 2, "rastrom-mem: --word needs a value"},
        RefusalCase{"OtherFormat", {"--format=hex", "tiny.bmp", "old.mem"}, 2,
                    "rastrom-mem: --format takes mem, mif or coe, not 'hex'\n"},
        RefusalCase{"OtherExtension", {"tiny.bmp", "out.hex"}, 2,
                    "rastrom-mem: cannot tell the format of 'out.hex': name it .mem, .mif or .coe, "
                    "or give --format mem|mif|coe\n"},
        RefusalCase{"NoExtension", {"tiny.bmp", "mem"}, 2, "rastrom-mem: cannot tell the format of 'mem'"},
        RefusalCase{"MissingInput", {"missing.bmp", "old.mem"}, 1, "rastrom-mem: missing.bmp: "},
        RefusalCase{"TruncatedBmp", {"truncated.bmp", "old.mem"}, 1, "rastrom-mem: truncated.bmp: "},
        RefusalCase{"NeitherBmpNorCoe", {"text.bmp", "old.mem"}, 1, "rastrom-mem: text.bmp: "},
        RefusalCase{"OutputInMissingFolder", {"tiny.bmp", "none/out.mem"}, 1,
                    "rastrom-mem: none/out.mem: cannot be written (No such file or directory)\n"},
        RefusalCase{"OutputIsAFolder", {"tiny.bmp", "dir.mem"}, 1,
                    "rastrom-mem: dir.mem: cannot be written (Is a directory)\n"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST_F(MemCliTest, RefusesToWriteOverItsInput) {
  fs::create_symlink("tiny.bmp", work_ / "link.bmp");
  for (const std::string output : {"tiny.bmp", "./tiny.bmp", "link.bmp"}) {
    const RunResult r = Mem({"--format", "mem", "tiny.bmp", output});
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_EQ(r.err, "rastrom-mem: " + output + ": is the input file; the output needs another name\n");
    EXPECT_EQ(ReadFile(work_ / "tiny.bmp"), kTinyBmp);
  }
}

TEST_F(MemCliTest, WriteErrorIsAFailure) {
  const RunResult r = Mem({"--format", "mem", "tiny.bmp", "/dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "rastrom-mem: /dev/full: cannot be written (No space left on device)\n");
}

TEST_F(MemCliTest, HelpGoesToStandardOutput) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"--word", "8", "--help", "tiny.bmp", "out.mem"}}) {
    const RunResult r = Mem(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind(kUsage, 0), 0u);
    for (const char* option : {"--pixel FORMAT ", "--word BITS ", "--align-rows ", "--pages ",
                               "--format mem|mif|coe "}) {
      EXPECT_NE(r.out.find(std::string("\n  ") + option), std::string::npos) << option;
    }
    EXPECT_FALSE(fs::exists(work_ / "out.mem"));
  }
}

// The version is the project's, as the other programs and the Windows resource give it;
// like --help, it wins over everything else on the line.
TEST_F(MemCliTest, VersionGoesToStandardOutput) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--version"}, {"--word", "8", "--version", "tiny.bmp", "out.mem"}}) {
    const RunResult r = Mem(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "rastrom-mem 1.0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(fs::exists(work_ / "out.mem"));
  }
}

}  // namespace
