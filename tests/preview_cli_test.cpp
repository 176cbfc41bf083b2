// The preview's command line as a user runs it: the built rastrom-preview in a fresh working
// directory, its stdout, stderr and exit status, and the files it leaves.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "bmp_builder.h"
#include "cli_support.h"

#ifndef RASTROM_PREVIEW_BINARY
#error "RASTROM_PREVIEW_BINARY must name the built rastrom-preview binary"
#endif

namespace {

namespace fs = std::filesystem;
using namespace rastrom::test;

const std::string kTryHelp = "Try 'rastrom-preview --help' for more information.\n";

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Each test gets a fresh directory holding the inputs; the program runs in its
// subdirectory "work", which starts empty.
class PreviewCli : public testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("rastrom-preview-cli");
    ASSERT_FALSE(root_.empty());
    work_ = root_ / "work";
    fs::create_directory(work_);
    WriteFile(root_ / "tiny.bmp", kTinyBmp);
    WriteFile(root_ / "tiny.coe", kTinyCoe);
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  RunResult Run(std::vector<std::string> args, const std::function<void()>& inChild = {}) const {
    for (auto& a : args) {
      if (a.rfind("@/", 0) == 0) a = (root_ / a.substr(2)).string();
    }
    return RunProgram(RASTROM_PREVIEW_BINARY, args, work_, root_ / "stdout", root_ / "stderr",
                      inChild);
  }
  std::set<std::string> WorkFiles() const { return EntryNames(work_); }

  fs::path root_, work_;
};

TEST_F(PreviewCli, HelpPrintsTheUsageOnStandardOutput) {
  for (const char* option : {"--help", "-h"}) {
    const RunResult r = Run({option});
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_EQ(r.out.rfind("Usage: rastrom-preview <coe file> <width>[x<height>] <output bmp>\n"
                          "       rastrom-preview <bmp file> <output bmp>\n",
                          0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("Exit status: 0"), std::string::npos);
    EXPECT_EQ(r.err, "");
  }
  // Help wins over whatever else stands on the line.
  EXPECT_EQ(Run({"@/tiny.coe", "--help", "out.bmp"}).status, 0);
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(PreviewCli, VersionPrintsTheVersion) {
  const RunResult r = Run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "rastrom-preview 1.0\n");
  EXPECT_EQ(r.err, "");
}

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
  std::string message;  // the first line on stderr, before the hint
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class PreviewUsage : public PreviewCli, public testing::WithParamInterface<UsageCase> {};

TEST_P(PreviewUsage, IsAUsageError) {
  const RunResult r = Run(GetParam().args);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  std::string message = GetParam().message;
  if (message.rfind("@/", 0) == 0) message = (root_ / message.substr(2)).string();
  EXPECT_EQ(r.err, "rastrom-preview: " + message + "\n" + kTryHelp);
  EXPECT_TRUE(WorkFiles().empty());
}

const std::string kNotASize =
    "' is not a size: give <width> or <width>x<height>, such as 640x480, each from 1 to "
    "2147483647";

INSTANTIATE_TEST_SUITE_P(
    CommandLine, PreviewUsage,
    testing::Values(
        UsageCase{"NoOperand", {}, "missing operands"},
        UsageCase{"OneOperand", {"@/tiny.coe"}, "missing operands"},
        UsageCase{"FourOperands", {"@/tiny.coe", "3x2", "a.bmp", "b.bmp"}, "too many operands"},
        UsageCase{"UnknownOption", {"-x", "@/tiny.coe", "3x2", "out.bmp"}, "unknown option '-x'"},
        UsageCase{"NegativeWidthIsAnOption", {"@/tiny.coe", "-3", "out.bmp"}, "unknown option '-3'"},
        UsageCase{"ZeroWidth", {"@/tiny.coe", "0", "out.bmp"}, "'0" + kNotASize},
        UsageCase{"ZeroHeight", {"@/tiny.coe", "3x0", "out.bmp"}, "'3x0" + kNotASize},
        UsageCase{"NoHeight", {"@/tiny.coe", "3x", "out.bmp"}, "'3x" + kNotASize},
        UsageCase{"ThreeSides", {"@/tiny.coe", "3x2x1", "out.bmp"}, "'3x2x1" + kNotASize},
        UsageCase{"WidthTooLarge", {"@/tiny.coe", "2147483648", "out.bmp"}, "'2147483648" + kNotASize},
        UsageCase{"HeightOverflowing", {"@/tiny.coe", "3x99999999999999999999", "out.bmp"},
                  "'3x99999999999999999999" + kNotASize},
        UsageCase{"SizeWithABmp", {"@/tiny.bmp", "3x2", "out.bmp"},
                  "@/tiny.bmp is a BMP file and its size comes from the image; give no size"},
        UsageCase{"CoeWithoutASize", {"@/tiny.coe", "out.bmp"},
                  "@/tiny.coe is a COE file; give the picture's <width> or <width>x<height>"}),
    [](const testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  std::string coe;  // written to input.coe
  std::string size;
  std::string message;  // the line on stderr after "rastrom-preview: " and the input's path
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class PreviewFailure : public PreviewCli, public testing::WithParamInterface<FailureCase> {};

// A failure says why on one line, leaves no output behind, and an old output untouched.
TEST_P(PreviewFailure, FailsLeavingTheOldOutput) {
  WriteFile(root_ / "input.coe", GetParam().coe);
  WriteFile(work_ / "out.bmp", "old picture");
  const RunResult r = Run({"@/input.coe", GetParam().size, "out.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "rastrom-preview: " + (root_ / "input.coe").string() + GetParam().message + "\n");
  EXPECT_EQ(WorkFiles(), std::set<std::string>{"out.bmp"});
  EXPECT_EQ(ReadFile(work_ / "out.bmp"), "old picture");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, PreviewFailure,
    testing::Values(
        FailureCase{"TooFewWords", kTinyCoe, "3x3", " holds 2 words; 3 x 3 pixels need 3"},
        FailureCase{"TooManyWords", kTinyCoe, "2x2", " holds 2 words; 2 x 2 pixels need 1"},
        FailureCase{"OneWord", "MEMORY_INITIALIZATION_RADIX=16;MEMORY_INITIALIZATION_VECTOR=1;", "640x480",
                    " holds 1 word; 640 x 480 pixels need 76800"},
        FailureCase{"DigitOutsideRadix", "MEMORY_INITIALIZATION_RADIX=16;\nMEMORY_INITIALIZATION_VECTOR=\nE01C03FG;\n",
                    "3x2", ": line 3: 'G' in 'E01C03FG' is not a digit of radix 16"},
        FailureCase{"NotText", std::string("\0\0\0\0", 4), "1",
                    ": line 1: byte 0x00 is not text; a COE file is plain text (ASCII)"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(PreviewCli, RefusesAnInputThatCannotBeRead) {
  const RunResult r = Run({"@/missing.coe", "3x2", "out.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "rastrom-preview: " + (root_ / "missing.coe").string() +
                       ": cannot be opened (No such file or directory)\n");
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(PreviewCli, RefusesABmpThatDoesNotLoad) {
  WriteFile(root_ / "cut.bmp", kTinyBmp.substr(0, 60));
  const RunResult r = Run({"@/cut.bmp", "out.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "rastrom-preview: " + (root_ / "cut.bmp").string() +
                       ": starts like a BMP file but does not load as one\n");
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(PreviewCli, ReportsAnOutputThatCannotBeWritten) {
  const RunResult r = Run({"@/tiny.coe", "3x2", "no/such/dir/out.bmp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "rastrom-preview: cannot write no/such/dir/out.bmp: No such file or directory\n");
  EXPECT_TRUE(WorkFiles().empty());
}

TEST_F(PreviewCli, WritesThePictureSilently) {
  const RunResult r = Run({"@/tiny.coe", "3x2", "out.bmp"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(WorkFiles(), std::set<std::string>{"out.bmp"});
  const std::string bmp = ReadFile(work_ / "out.bmp");
  ASSERT_EQ(bmp.size(), 1078u + 8);
  // Bottom row white, black, red; top row red, green, blue; each row padded to 4 bytes.
  EXPECT_EQ(bmp.substr(1078), std::string("\xFF\x00\xE0\x00\xE0\x1C\x03\x00", 8));
}

TEST_F(PreviewCli, ShowsTheSameFromTheCoeFileAndFromTheBmp) {
  ASSERT_EQ(Run({"@/tiny.coe", "3x2", "from-coe.bmp"}).status, 0);
  ASSERT_EQ(Run({"@/tiny.bmp", "from-bmp.bmp"}).status, 0);
  EXPECT_EQ(ReadFile(work_ / "from-coe.bmp"), ReadFile(work_ / "from-bmp.bmp"));
}

TEST_F(PreviewCli, A24BitBmpShowsAsTheSamePictureAt32Bits) {
  // 24-bit rows are reduced as the file stores them, 32-bit ones widened first: the pictures
  // must agree in every format, either row order, with rows of 16-pixel steps and a tail.
  const auto pixel = [](int x, int y) { return (x * 2654435761u ^ y * 40503u) & 0xFFFFFFu; };
  for (const int height : {3, -3}) {
    for (const int bpp : {24, 32}) {
      const Bytes file = BmpBuilder().Bpp(static_cast<std::uint16_t>(bpp)).Size(37, height)
                             .Data(StoreRows(37, height, bpp, pixel)).Build();
      WriteFile(root_ / (std::to_string(bpp) + ".bmp"), std::string(file.begin(), file.end()));
    }
    for (const char* format : {"rgb332", "bgr233", "rgb116", "gray4", "mono"}) {
      SCOPED_TRACE(std::string(format) + (height < 0 ? ", top-down" : ", bottom-up"));
      ASSERT_EQ(Run({"--pixel", format, "@/24.bmp", "from24.bmp"}).status, 0);
      ASSERT_EQ(Run({"--pixel", format, "@/32.bmp", "from32.bmp"}).status, 0);
      EXPECT_EQ(ReadFile(work_ / "from24.bmp"), ReadFile(work_ / "from32.bmp"));
    }
  }
}

TEST_F(PreviewCli, WidthAloneFillsRowsWithTheWordsAndShowsPaddingBlack) {
  // Two words, eight pixels: three rows of three, the last two pixels black.
  ASSERT_EQ(Run({"@/tiny.coe", "3", "out.bmp"}).status, 0);
  const std::string bmp = ReadFile(work_ / "out.bmp");
  ASSERT_EQ(bmp.size(), 1078u + 12);
  EXPECT_EQ(bmp.substr(1078), std::string("\x00\x00\x00\x00"    // row 3: padding, black
                                          "\xFF\x00\xE0\x00"    // row 2
                                          "\xE0\x1C\x03\x00",   // row 1
                                          12));
  // The upper-case X is read too.
  EXPECT_EQ(Run({"@/tiny.coe", "3X2", "upper.bmp"}).status, 0);
}

TEST_F(PreviewCli, TwoDashesEndTheOptions) {
  WriteFile(root_ / "-x.coe", kTinyCoe);
  EXPECT_EQ(Run({"--", "@/-x.coe", "3x2", "-out.bmp"}).status, 0);
  EXPECT_EQ(WorkFiles(), std::set<std::string>{"-out.bmp"});
}

TEST_F(PreviewCli, RefusesToWriteOverTheInput) {
  fs::create_symlink(root_ / "tiny.coe", work_ / "link.coe");
  for (const std::string output : {"@/tiny.coe", "link.coe"}) {
    const RunResult r = Run({"@/tiny.coe", "3x2", output});
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_EQ(r.err, "rastrom-preview: " + (output == "link.coe" ? output : (root_ / "tiny.coe").string()) +
                         " is the input file; name another output\n");
  }
  EXPECT_EQ(ReadFile(root_ / "tiny.coe"), kTinyCoe);
}

// A write that fails part-way (a file-size limit below the picture's 1086 bytes) leaves the
// old output as it was, and no temporary file.
TEST_F(PreviewCli, FailedWriteLeavesTheOldOutputAlone) {
  WriteFile(work_ / "out.bmp", "old picture");
  const RunResult r = Run({"@/tiny.coe", "3x2", "out.bmp"}, [] {
    const rlimit small{500, 500};
    setrlimit(RLIMIT_FSIZE, &small);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "rastrom-preview: cannot write out.bmp: File too large\n");
  EXPECT_EQ(ReadFile(work_ / "out.bmp"), "old picture");
  EXPECT_EQ(WorkFiles(), std::set<std::string>{"out.bmp"});
}

TEST_F(PreviewCli, ReplacesAnExistingOutput) {
  WriteFile(work_ / "out.bmp", "old picture");
  ASSERT_EQ(Run({"@/tiny.bmp", "out.bmp"}).status, 0);
  EXPECT_EQ(ReadFile(work_ / "out.bmp").size(), 1078u + 8);
}

}  // namespace
