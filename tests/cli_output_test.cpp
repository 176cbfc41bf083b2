// The output when the world misbehaves: the source named as the output, a write that fails
// part-way, a reader that goes away. The old output must survive every failure, nothing
// half-written may be left behind, and the transcript must be complete.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;
using namespace rastrom::test;

std::string Head(const std::string& source, const std::string& output,
                 const std::string& loaded = kTinyLoaded) {
  return kBanner + "Source file: " + source + "\nOutput file: " + output + "\n" + loaded;
}

// A black 32 x 32 picture at 24 bits: its COE file (11 KiB) is larger than any transcript.
const std::string kBlack32 = [] {
  std::string bmp = kTinyBmp.substr(0, 54);
  const auto put32 = [&bmp](std::size_t at, unsigned value) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
  };
  put32(2, 54 + 32 * 96);  // file size
  put32(18, 32);           // width
  put32(22, 32);           // height
  put32(34, 32 * 96);      // pixel bytes
  return bmp + std::string(32 * 96, '\0');
}();
const std::string kBlack32Loaded =
    "Loading image...\nImage loaded\n"
    "Image height  \t\t: 32\nImage width  \t\t: 32\nImage WidthBytes  \t: 128\n"
    "Image Planes  \t\t: 1\nImage Bits per Pixel  \t: 32\n";

class CliOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir("rastrom-output");
    ASSERT_FALSE(root_.empty());
    work_ = root_ / "work";
    fs::create_directory(work_);
    Write("tiny.bmp", kTinyBmp);
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(work_ / name, std::ios::binary) << bytes;
  }
  RunResult Run(const std::vector<std::string>& args,
                const std::function<void()>& inChild = {}) const {
    return RunRastrom(args, work_, root_ / "stdout", root_ / "stderr", inChild);
  }
  unsigned Mode(const std::string& name) const {
    struct stat info {};
    return stat((work_ / name).c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }

  fs::path root_, work_;
};

// However the output path reaches the source, the picture is refused as the output
// before anything is written, and it stays as it was.
TEST_F(CliOutputTest, RefusesToWriteOverTheSource) {
  fs::create_symlink("tiny.bmp", work_ / "link.bmp");
  fs::create_hard_link(work_ / "tiny.bmp", work_ / "hard.bmp");
  fs::create_directory(work_ / "sub");
  const std::string absolute = (work_ / "tiny.bmp").string();
  const std::vector<std::string> outputs = {"tiny.bmp", "./tiny.bmp", "sub/../tiny.bmp",
                                            absolute,   "link.bmp",   "hard.bmp"};
  for (const std::string& output : outputs) {
    SCOPED_TRACE(output);
    const RunResult r = Run({"tiny.bmp", output});
    EXPECT_EQ(r.out, Head("tiny.bmp", output) + "Error: Output file is the Source file: " +
                         output + "\n" + kWriteFailedTail);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(work_ / "tiny.bmp"), kTinyBmp);
    EXPECT_EQ(EntryNames(work_),
              (std::set<std::string>{"tiny.bmp", "link.bmp", "hard.bmp", "sub"}));
  }
}

// A write that fails part-way (here a file-size limit of 2000 bytes, so EFBIG, 27) leaves
// the old output as it was, also behind a symbolic link, and no temporary file.
TEST_F(CliOutputTest, FailedWriteLeavesTheOldOutputAlone) {
  const std::string old = "the previous output\n";
  Write("black.bmp", kBlack32);
  Write("old.coe", old);
  fs::create_symlink("old.coe", work_ / "link.coe");
  const auto limit = [] {
    const rlimit small{2000, 2000};
    setrlimit(RLIMIT_FSIZE, &small);
  };
  for (const std::string output : {"old.coe", "link.coe", "new.coe"}) {
    SCOPED_TRACE(output);
    const RunResult r = Run({"black.bmp", output}, limit);
    EXPECT_EQ(r.out, Head("black.bmp", output, kBlack32Loaded) + "Error: Failed to write Output file: " + output +
                         ", Error 27\n" + kWriteFailedTail);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(work_ / "old.coe"), old);
    EXPECT_TRUE(fs::is_symlink(work_ / "link.coe"));
    EXPECT_EQ(EntryNames(work_),
              (std::set<std::string>{"tiny.bmp", "black.bmp", "old.coe", "link.coe"}));
  }
}

// The temporary file's name must fit wherever the output's does: a name of 250 bytes,
// just under the usual limit of 255, is written, new and replaced.
TEST_F(CliOutputTest, WritesAnOutputWithALongName) {
  const std::string name = std::string(246, 'n') + ".coe";
  for (int run = 0; run < 2; ++run) {
    const RunResult r = Run({"tiny.bmp", name});
    EXPECT_EQ(r.out, Head("tiny.bmp", name) + kSuccessTail);
    EXPECT_EQ(ReadFile(work_ / name), kTinyCoe);
    EXPECT_EQ(EntryNames(work_), (std::set<std::string>{"tiny.bmp", name}));
  }
}

// A replaced file keeps its permission bits; a new one gets what a plain create gives.
TEST_F(CliOutputTest, KeepsPermissionBits) {
  Write("kept.coe", "old");
  ASSERT_EQ(chmod((work_ / "kept.coe").c_str(), 0640), 0);
  fs::create_symlink("kept.coe", work_ / "link.coe");
  struct Case {
    std::string output;
    mode_t umask;
    unsigned mode;
  } const cases[] = {{"kept.coe", 022, 0640}, {"link.coe", 0, 0640},
                     {"new-022.coe", 022, 0644}, {"new-000.coe", 0, 0666}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const mode_t mask = c.umask;
    const RunResult r = Run({"tiny.bmp", c.output}, [mask] { umask(mask); });
    EXPECT_EQ(r.out, Head("tiny.bmp", c.output) + kSuccessTail);
    EXPECT_EQ(ReadFile(work_ / c.output), kTinyCoe);
    EXPECT_EQ(Mode(c.output), c.mode);
  }
  EXPECT_TRUE(fs::is_symlink(work_ / "link.coe"));
  EXPECT_EQ(EntryNames(work_), (std::set<std::string>{"tiny.bmp", "kept.coe", "link.coe",
                                                      "new-022.coe", "new-000.coe"}));
}

// An output pipe whose reader has gone is a failed write with its error number (EPIPE, 32),
// not a signal that ends the run without a transcript.
TEST_F(CliOutputTest, ClosedPipeIsAWriteError) {
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  close(pipeEnds[0]);
  const int writeEnd = pipeEnds[1];
  const RunResult r = Run({"tiny.bmp", "/dev/fd/3"}, [writeEnd] {
    dup2(writeEnd, 3);
    std::signal(SIGPIPE, SIG_DFL);  // as a shell starts it
  });
  close(writeEnd);
  EXPECT_EQ(r.out, Head("tiny.bmp", "/dev/fd/3") +
                       "Error: Failed to write Output file: /dev/fd/3, Error 32\n" +
                       kWriteFailedTail);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(EntryNames(work_), std::set<std::string>{"tiny.bmp"});
}

// A file its owner may not write is refused for an ordinary user, with the error of the
// open (EACCES, 13), and left as it was, though the folder would let a new file replace it.
// Root may write any file, so the run drops to an unprivileged user id where the tests are
// root, as in CI; it starts the program from a descriptor opened before, since the path to
// the build may be closed to that user.
TEST_F(CliOutputTest, ReadOnlyOutputIsRefusedForAnOrdinaryUser) {
  const std::string old = "the previous output\n";
  Write("old.coe", old);
  ASSERT_EQ(chmod((work_ / "old.coe").c_str(), 0444), 0);
  const uid_t user = geteuid() == 0 ? 65534 : geteuid();
  for (const std::string name : {"", "tiny.bmp", "old.coe"}) {
    ASSERT_EQ(chown((work_ / name).c_str(), user, user), 0) << name;
  }
  const int binary = open(RASTROM_BINARY, O_RDONLY | O_CLOEXEC);
  ASSERT_GE(binary, 0);
  char program[] = "rastrom", source[] = "tiny.bmp", output[] = "old.coe";
  char* argv[] = {program, source, output, nullptr};
  const RunResult r = Run({}, [binary, user, &argv] {
    if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0)) {
      _exit(125);
    }
    fexecve(binary, argv, environ);
    _exit(127);
  });
  close(binary);
  EXPECT_EQ(r.out, Head("tiny.bmp", "old.coe") + "Error: Failed to open Output file: old.coe, Error 13\n" +
                       kWriteFailedTail);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(work_ / "old.coe"), old);
  EXPECT_EQ(Mode("old.coe"), 0444u);
  EXPECT_EQ(EntryNames(work_), (std::set<std::string>{"tiny.bmp", "old.coe"}));
}

// A run started with SIGHUP ignored (nohup, a background job of a shell that exits) keeps
// it ignored: a hang-up that arrives mid-run, while the source is still being read from a
// FIFO, changes nothing, and the output is complete.
TEST_F(CliOutputTest, IgnoredHangUpLetsTheRunFinish) {
  ASSERT_EQ(mkfifo((work_ / "fifo.bmp").c_str(), 0600), 0);
  const pid_t pid = StartProgram(RASTROM_BINARY, {"fifo.bmp", "out.coe"}, work_, root_ / "stdout",
                                 root_ / "stderr", [] { std::signal(SIGHUP, SIG_IGN); });
  ASSERT_GT(pid, 0);
  // The program opens the FIFO to read the source after it has set up its signals; until
  // then, opening it to write fails with ENXIO.
  int fifo = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((fifo = open((work_ / "fifo.bmp").c_str(), O_WRONLY | O_NONBLOCK)) < 0 && errno == ENXIO &&
         std::chrono::steady_clock::now() < deadline) {
    usleep(1000);
  }
  EXPECT_GE(fifo, 0);
  kill(pid, SIGHUP);
  if (fifo >= 0) {
    fcntl(fifo, F_SETFL, 0);
    EXPECT_EQ(write(fifo, kTinyBmp.data(), kTinyBmp.size()), static_cast<ssize_t>(kTinyBmp.size()));
    close(fifo);
  }
  const RunResult r = FinishProgram(pid, root_ / "stdout", root_ / "stderr");
  EXPECT_EQ(r.out, Head("fifo.bmp", "out.coe") + kSuccessTail);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(work_ / "out.coe"), kTinyCoe);
}

}  // namespace
