// Runs one command and prints what it cost, on one line:
//   <wall s> <user s> <system s> <peak RSS KiB> <page faults> <exit status>
// The wall time comes from the monotonic clock; the rest from the child's resource usage
// (page faults are minor and major ones together).
// The command's standard output goes to /dev/null unless --keep-stdout is given.
//
// Usage: rastrom_bench_measure [--keep-stdout] <program> [arguments...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

double Seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  bool keepStdout = false;
  if (argc > 1 && std::strcmp(argv[1], "--keep-stdout") == 0) {
    keepStdout = true;
    first = 2;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: rastrom_bench_measure [--keep-stdout] <program> [arguments...]\n");
    return 2;
  }
  timespec start{}, stop{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    if (!keepStdout) {
      const int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
    }
    execvp(argv[first], argv + first);
    std::perror(argv[first]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) {
    std::perror("wait4");
    return 1;
  }
  clock_gettime(CLOCK_MONOTONIC, &stop);
  const double wall =
      double(stop.tv_sec - start.tv_sec) + double(stop.tv_nsec - start.tv_nsec) / 1e9;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.4f %.4f %.4f %ld %ld %d\n", wall, Seconds(usage.ru_utime), Seconds(usage.ru_stime),
              usage.ru_maxrss, usage.ru_minflt + usage.ru_majflt, code);
  return 0;
}
