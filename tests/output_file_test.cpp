// The output file module in a child process, on both of its ways to a temporary file: the
// unnamed file, and the named one that Windows and file systems without unnamed files use.
// Whatever ends the write (a commit, a failed write, a discard, SIGTERM), the folder must
// then hold the output alone, old or new, and no temporary file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "cli_support.h"
#include "output_file.h"

namespace {

namespace fs = std::filesystem;
using namespace rastrom::test;

enum class Ending { kCommit, kFailedWrite, kDiscard, kTerminated };

struct EndingCase {
  const char* name;
  bool named;     // the named temporary file, forced
  Ending ending;
  bool replaced;  // the output holds the new bytes afterwards
};

void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }

class OutputFileEnding : public testing::TestWithParam<EndingCase> {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("rastrom-output-file");
    ASSERT_FALSE(dir_.empty());
    std::ofstream(dir_ / "out.txt", std::ios::binary) << kOld;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  static inline const std::string kOld = "the old output\n";
  fs::path dir_;
};

// The child writes 4 KiB over out.txt and ends as the case says; its exit status is 0 when
// every step went as expected, and it reports when it is mid-write through `ready`.
[[noreturn]] void WriteInChild(const EndingCase& c, const fs::path& path, int ready) {
  rastrom::UseNamedTemporaryFiles(c.named);
  rastrom::HandleOutputSignals();
  if (c.ending == Ending::kFailedWrite) {
    const rlimit small{1000, 1000};  // past it, a write fails with EFBIG
    setrlimit(RLIMIT_FSIZE, &small);
  }
  rastrom::OutputFile out;
  if (out.Open(path.c_str()) != 0) _exit(10);
  const std::string bytes(4096, 'n');
  const bool written = out.Write(bytes.data(), bytes.size());
  if (written != (c.ending != Ending::kFailedWrite)) _exit(11);
  switch (c.ending) {
    case Ending::kCommit: _exit(out.Commit() == 0 ? 0 : 12);
    case Ending::kFailedWrite: _exit(out.Commit() == EFBIG ? 0 : 13);
    case Ending::kDiscard: out.Discard(); _exit(0);
    case Ending::kTerminated:
      if (write(ready, "!", 1) != 1) _exit(14);
      for (;;) pause();
  }
  _exit(15);
}

TEST_P(OutputFileEnding, LeavesTheOutputAlone) {
  const EndingCase& c = GetParam();
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(ends[0]);
    WriteInChild(c, dir_ / "out.txt", ends[1]);
  }
  close(ends[1]);
  if (c.ending == Ending::kTerminated) {
    char byte = 0;
    EXPECT_EQ(read(ends[0], &byte, 1), 1);
    // Mid-write, the named temporary file stands beside the output: the hook took effect.
    if (c.named) {
      EXPECT_EQ(EntryNames(dir_).size(), 2u);
    }
    kill(pid, SIGTERM);
  }
  close(ends[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  if (c.ending == Ending::kTerminated) {
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  } else {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(EntryNames(dir_), std::set<std::string>{"out.txt"});
  EXPECT_EQ(ReadFile(dir_ / "out.txt"), c.replaced ? std::string(4096, 'n') : kOld);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OutputFileEnding,
    testing::Values(EndingCase{"UnnamedCommit", false, Ending::kCommit, true},
                    EndingCase{"UnnamedFailedWrite", false, Ending::kFailedWrite, false},
                    EndingCase{"UnnamedDiscard", false, Ending::kDiscard, false},
                    EndingCase{"UnnamedTerminated", false, Ending::kTerminated, false},
                    EndingCase{"NamedCommit", true, Ending::kCommit, true},
                    EndingCase{"NamedFailedWrite", true, Ending::kFailedWrite, false},
                    EndingCase{"NamedDiscard", true, Ending::kDiscard, false},
                    EndingCase{"NamedTerminated", true, Ending::kTerminated, false}),
    [](const testing::TestParamInfo<EndingCase>& info) { return std::string(info.param.name); });

}  // namespace
