// The command line with awkward paths: spaces, non-ASCII bytes, very long paths, a
// directory or a device as the source, the source as its own output, and an output place
// that refuses even root. Each runs the built binary in a fresh directory and compares its
// whole stdout byte for byte, an empty stderr, exit status 0 and the files left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;

using namespace rastrom::test;

std::string Head(const std::string& source, const std::string& output) {
  return kBanner + "Source file: " + source + "\nOutput file: " + output + "\n";
}

std::string Converted(const std::string& source, const std::string& output) {
  return Head(source, output) + kTinyLoaded + kSuccessTail;
}

std::string OpenFailed(const std::string& source, const std::string& output, int error) {
  return Head(source, output) + kTinyLoaded + "Error: Failed to open Output file: " + output +
         ", Error " + std::to_string(error) + "\n" + kWriteFailedTail;
}

// A relative path of exactly `length` characters: directories of 200 characters, then a
// file name ending in `suffix`. Every name stays below the 255-byte limit of a name.
std::string LongPath(char fill, std::size_t length, const std::string& suffix) {
  std::string path;
  while (length - path.size() > 250) {
    path += std::string(200, fill) + "/";
  }
  path += std::string(length - path.size() - suffix.size(), fill) + suffix;
  return path;
}

// Files below a directory, by relative paths: made and read through a directory
// descriptor, so that paths longer than the whole path limit allows still work.
class Dir {
 public:
  explicit Dir(const fs::path& path) : fd_(open(path.c_str(), O_RDONLY | O_DIRECTORY)) {}
  ~Dir() {
    if (fd_ >= 0) close(fd_);
  }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;

  // Creates the directories leading to relative path `path`.
  void MakeParents(const std::string& path) const {
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
      const std::string parent = path.substr(0, slash);
      ASSERT_TRUE(mkdirat(fd_, parent.c_str(), 0755) == 0 || errno == EEXIST) << parent;
    }
  }
  void Write(const std::string& path, const std::string& bytes) const {
    MakeParents(path);
    const int fd = openat(fd_, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
  }
  // The file's bytes, or "<missing>" when there is no such file.
  std::string Read(const std::string& path) const {
    const int fd = openat(fd_, path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<missing>";
    std::string bytes;
    char block[4096];
    ssize_t n = 0;
    while ((n = read(fd, block, sizeof block)) > 0) bytes.append(block, static_cast<size_t>(n));
    close(fd);
    return bytes;
  }

 private:
  int fd_;
};

class CliPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("rastrom-paths");
    ASSERT_FALSE(root_.empty());
    fs::create_directory(root_ / "work");
    work_ = std::make_unique<Dir>(root_ / "work");
  }
  void TearDown() override {
    work_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Runs the binary in the work directory with `args`, its streams captured in files
  // beside that directory.
  RunResult Run(const std::vector<std::string>& args) const {
    return RunRastrom(args, root_ / "work", root_ / "stdout", root_ / "stderr");
  }

  // Names directly in the work directory.
  std::set<std::string> WorkEntries() const { return EntryNames(root_ / "work"); }

  static void ExpectRun(const RunResult& run, const std::string& stdoutText) {
    EXPECT_EQ(run.out, stdoutText);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }

  fs::path root_;
  std::unique_ptr<Dir> work_;
};

// Paths that must pass through the program untouched: the source is read, the COE file
// lands at the output path, and both paths are printed exactly as given.
struct ConvertCase {
  const char* name;
  std::string source;
  std::string output;
};

TEST_F(CliPathsTest, ConvertsWithAwkwardPaths) {
  const ConvertCase cases[] = {
      {"spaces", "my pictures/a tiny image.bmp", "the results/tiny image .coe"},
      {"UTF-8 names", "Bilder/Größe €.bmp", "Ausgabe/日本語 ü.coe"},
      {"bytes that are not UTF-8", "\xff\xfe raw\x80.bmp", "caf\xe9/\xe9t\xe9\x01.coe"},
      {"leading dashes", "-h.bmp", "--output.coe"},
      {"4,000 characters each", LongPath('s', 4000, ".bmp"), LongPath('o', 4000, ".coe")},
  };
  for (const ConvertCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.source.find('\0'), std::string::npos);
    work_->Write(c.source, kTinyBmp);
    work_->MakeParents(c.output);
    ExpectRun(Run({c.source, c.output}), Converted(c.source, c.output));
    EXPECT_EQ(work_->Read(c.output), kTinyCoe);
    EXPECT_EQ(work_->Read(c.source), kTinyBmp);
  }
}

TEST_F(CliPathsTest, SourceThatIsNoFileFailsToLoad) {
  fs::create_directory(root_ / "work" / "a folder.bmp");
  const std::string tooLong = LongPath('t', 5000, ".bmp");  // past the system's path limit
  for (const std::string& source : {std::string("a folder.bmp"), std::string("."),
                                    std::string("/dev/null"), tooLong}) {
    SCOPED_TRACE(source.substr(0, 40));
    ExpectRun(Run({source}), Head(source, "./default_output.coe") + kLoadFailed);
    ExpectRun(Run({source, "out.coe"}), Head(source, "out.coe") + kLoadFailed);
    // No output file is created for a source that does not load.
    EXPECT_EQ(WorkEntries(), std::set<std::string>{"a folder.bmp"});
  }
}

// Outputs the system refuses whatever the permissions: /sys takes no new files even from
// root (EACCES), and a path past the path limit is too long (ENAMETOOLONG).
TEST_F(CliPathsTest, OutputTheSystemRefusesFailsWithItsErrorNumber) {
  work_->Write("tiny.bmp", kTinyBmp);
  const std::string tooLong = LongPath('o', 4200, ".coe");
  struct {
    std::string output;
    int error;
  } const cases[] = {{"/sys/rastrom.coe", 13}, {tooLong, 36}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output.substr(0, 40));
    ExpectRun(Run({"tiny.bmp", c.output}), OpenFailed("tiny.bmp", c.output, c.error));
  }
  EXPECT_FALSE(fs::exists("/sys/rastrom.coe"));
  EXPECT_EQ(WorkEntries(), std::set<std::string>{"tiny.bmp"});
}

}  // namespace
