// The I/O floor of a conversion: what any program that reads `source` and writes an output
// of `bytes` bytes carefully must do. It reads the source to its end, writes `bytes` bytes
// to a new file beside `output`, closes it and renames it over `output`, through one reused
// 128 KiB buffer (as large as cat's). What it writes is the source's bytes over and over: the
// content costs nothing to make, as the converted text does.
//
// Usage: rastrom_bench_floor <source> <output> <bytes>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr std::size_t kChunk = std::size_t{128} << 10;
char gBuffer[kChunk];

int Fail(const std::string& what) {
  std::perror(what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  char* end = nullptr;
  const long long bytes = argc == 4 ? std::strtoll(argv[3], &end, 10) : -1;
  if (argc != 4 || *end != '\0' || bytes < 0) {
    std::fprintf(stderr, "usage: rastrom_bench_floor <source> <output> <bytes>\n");
    return 2;
  }
  const int in = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(argv[1]);
  for (;;) {
    const ssize_t n = read(in, gBuffer, kChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(argv[1]);
    if (n == 0) break;
  }
  close(in);

  const std::string temporary = std::string(argv[2]) + ".floor-tmp";
  const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) return Fail(temporary);
  for (long long left = bytes; left > 0;) {
    const std::size_t n = left < static_cast<long long>(kChunk) ? static_cast<std::size_t>(left) : kChunk;
    const ssize_t written = write(out, gBuffer, n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return Fail(temporary);
    left -= written;
  }
  if (close(out) != 0) return Fail(temporary);
  if (std::rename(temporary.c_str(), argv[2]) != 0) return Fail(argv[2]);
  return 0;
}
