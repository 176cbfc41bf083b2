// The command line as a user runs it: the built binary in a fresh working directory, its
// whole stdout byte for byte, an empty stderr, exit status 0, and the files left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;

using namespace rastrom::test;

const std::string kSyntaxError =
    "\nCommand line argument syntax error.\n"
    "Type 'rastrom ?' for correct argument syntax.\n"
    "Aborting rastrom.\n";
const std::string kUsage =
    "\nCommand line syntax: rastrom <source bmp file> <output coe file>\n"
    "Example: rastrom c:/input.bmp c:/output.coe\n\n";

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Each test gets a fresh directory: inputs and captured streams sit in it, and the
// binary runs in its subdirectory "work", which starts empty.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("rastrom-cli");
    ASSERT_FALSE(root_.empty());
    work_ = root_ / "work";
    fs::create_directory(work_);
    WriteFile(root_ / "tiny.bmp", kTinyBmp);
    // Headers and the bottom row only: the top row is missing.
    WriteFile(root_ / "truncated.bmp", kTinyBmp.substr(0, kTinyBmp.size() - 12));
    WriteFile(root_ / "garbage.bmp", "This is a text file, not a bitmap.\n");
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  // "@/" in an argument or an expectation stands for the test's directory.
  std::string Expand(std::string s) const {
    const std::string root = root_.string();
    for (auto at = s.find("@/"); at != std::string::npos; at = s.find("@/", at + root.size()))
      s.replace(at, 1, root);
    return s;
  }

  RunResult Run(const std::vector<std::string>& args) const {
    std::vector<std::string> expanded;
    for (const auto& a : args) expanded.push_back(Expand(a));
    return RunRastrom(expanded, work_, root_ / "stdout", root_ / "stderr");
  }

  std::set<std::string> WorkFiles() const { return EntryNames(work_); }

  fs::path root_, work_;
};

struct CliCase {
  const char* name;
  std::vector<std::string> args;
  std::string stdoutAfterBanner;
  std::set<std::string> workFilesAfter;  // what the working directory holds afterwards
};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

const std::vector<CliCase>& Cases() {
  static const std::vector<CliCase> cases = {
      {"NoArgument", {}, kSyntaxError, {}},
      {"ThreeArguments", {"@/tiny.bmp", "out.coe", "extra"}, kSyntaxError, {}},
      {"HelpUSAGE", {"USAGE"}, kUsage, {}},
      {"HelpUsage", {"usage"}, kUsage, {}},
      {"HelpHELP", {"HELP"}, kUsage, {}},
      {"HelpHelp", {"help"}, kUsage, {}},
      {"HelpQuestionMark", {"?"}, kUsage, {}},
      {"HelpWithOutputPath", {"?", "out.coe"}, kUsage, {}},
      // Only the five exact keywords ask for help; anything else is a source path.
      {"MixedCaseHelpIsAPath", {"Help"},
       "Source file: Help\nOutput file: ./default_output.coe\n" + kLoadFailed, {}},
      {"DashHIsAPath", {"-h", "out.coe"},
       "Source file: -h\nOutput file: out.coe\n" + kLoadFailed, {}},
      {"MissingSource", {"@/missing.bmp", "out.coe"},
       "Source file: @/missing.bmp\nOutput file: out.coe\n" + kLoadFailed, {}},
      {"TruncatedSource", {"@/truncated.bmp", "out.coe"},
       "Source file: @/truncated.bmp\nOutput file: out.coe\n" + kLoadFailed, {}},
      {"GarbageSource", {"@/garbage.bmp", "out.coe"},
       "Source file: @/garbage.bmp\nOutput file: out.coe\n" + kLoadFailed, {}},
      // The "Image format (Planes: %d, Bpp: %d) is not supported." row cannot be reached
      // here: on Linux every BMP that loads comes out at 1 plane of 32 bits per pixel.
      // The Windows build, where the platform decides the format, tests that row.
      {"OneArgumentWritesDefaultOutput", {"@/tiny.bmp"},
       "Source file: @/tiny.bmp\nOutput file: ./default_output.coe\n" + kTinyLoaded +
           kSuccessTail,
       {"default_output.coe"}},
      {"TwoArguments", {"@/tiny.bmp", "out.coe"},
       "Source file: @/tiny.bmp\nOutput file: out.coe\n" + kTinyLoaded + kSuccessTail,
       {"out.coe"}},
      {"OutputInMissingDirectory", {"@/tiny.bmp", "no/such/dir/out.coe"},
       "Source file: @/tiny.bmp\nOutput file: no/such/dir/out.coe\n" + kTinyLoaded +
           "Error: Failed to open Output file: no/such/dir/out.coe, Error 2\n" +
           kWriteFailedTail,
       {}},
      {"EmptyOutputPath", {"@/tiny.bmp", ""},
       "Source file: @/tiny.bmp\nOutput file: \n" + kTinyLoaded +
           "Error: Failed to open Output file: , Error 2\n" + kWriteFailedTail,
       {}},
  };
  return cases;
}

class CliTranscript : public CliTest, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CliTranscript, PrintsAndLeavesExactly) {
  const CliCase& c = GetParam();
  const RunResult r = Run(c.args);
  EXPECT_EQ(r.out, Expand(kBanner + c.stdoutAfterBanner));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(WorkFiles(), c.workFilesAfter);
  for (const auto& name : c.workFilesAfter) EXPECT_EQ(ReadFile(work_ / name), kTinyCoe) << name;
}

INSTANTIATE_TEST_SUITE_P(Cli, CliTranscript, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, ReplacesAnExistingOutputFile) {
  WriteFile(work_ / "out.coe", std::string(1000, 'x'));
  const RunResult r = Run({"@/tiny.bmp", "out.coe"});
  EXPECT_EQ(r.out, Expand(kBanner + "Source file: @/tiny.bmp\nOutput file: out.coe\n" +
                          kTinyLoaded + kSuccessTail));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(work_ / "out.coe"), kTinyCoe);
}

// A failed write is a failure: /dev/full accepts the open and refuses the bytes (ENOSPC).
// The device itself must survive: only an incomplete regular file may be removed.
TEST_F(CliTest, ReportsAWriteErrorAndKeepsTheDevice) {
  struct stat st {};
  if (stat("/dev/full", &st) != 0 || !S_ISCHR(st.st_mode)) GTEST_SKIP() << "no /dev/full here";
  const RunResult r = Run({"@/tiny.bmp", "/dev/full"});
  EXPECT_EQ(r.out, Expand(kBanner + "Source file: @/tiny.bmp\nOutput file: /dev/full\n" +
                          kTinyLoaded + "Error: Failed to write Output file: /dev/full, Error 28\n" +
                          kWriteFailedTail));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(WorkFiles(), std::set<std::string>{});
}

// The checked-in sample converts: 62 x 32 pixels make 496 words.
TEST_F(CliTest, ConvertsTheSampleImage) {
  const std::string sample = std::string(RASTROM_SOURCE_DIR) + "/examples/sample.bmp";
  const RunResult r = Run({sample, "sample.coe"});
  EXPECT_EQ(r.out, kBanner + "Source file: " + sample + "\nOutput file: sample.coe\n" +
                       "Loading image...\nImage loaded\n"
                       "Image height  \t\t: 32\n"
                       "Image width  \t\t: 62\n"
                       "Image WidthBytes  \t: 248\n"
                       "Image Planes  \t\t: 1\n"
                       "Image Bits per Pixel  \t: 32\n" +
                       kSuccessTail);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);

  const std::string coe = ReadFile(work_ / "sample.coe");
  const std::string header =
      "; Xilinx block memory configuration file (.COE) generated by rastrom converter.\r\n"
      "; This .COE file specifies the contents for a block memory of depth = 496, and width = 32.\r\n"
      "MEMORY_INITIALIZATION_RADIX=16;\r\n"
      "MEMORY_INITIALIZATION_VECTOR=\r\n";
  ASSERT_EQ(coe.substr(0, header.size()), header);
  // The top row opens with two words of white and two of yellow (FC); its last two
  // pixels (black) share the 16th word with the first two of the next row (white).
  const std::string words = coe.substr(header.size());
  EXPECT_EQ(words.substr(0, 44), "FFFFFFFF,\r\nFFFFFFFF,\r\nFCFCFCFC,\r\nFCFCFCFC,\r\n");
  EXPECT_EQ(words.substr(15 * 11, 11), "0000FFFF,\r\n");
  // 496 vector lines of eight digits; every line of the file ends in CR LF.
  EXPECT_EQ(words.size(), 496u * 11u);
  EXPECT_EQ(coe.substr(coe.size() - 3), ";\r\n");
  size_t lineFeeds = 0;
  for (size_t i = 0; i < coe.size(); ++i) {
    if (coe[i] != '\n') continue;
    ++lineFeeds;
    EXPECT_TRUE(i > 0 && coe[i - 1] == '\r') << "bare LF at byte " << i;
  }
  EXPECT_EQ(lineFeeds, 4u + 496u);
}

}  // namespace
