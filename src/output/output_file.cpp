#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace rastrom {

#ifndef O_BINARY
#define O_BINARY 0
#endif

OutputFile::~OutputFile() { Discard(); }

int OutputFile::Open(const char* path) {
  path_ = path;
  direct_ = true;
  errno = 0;
  fd_ = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0666);
  if (fd_ < 0) return errno != 0 ? errno : EIO;
  struct stat info {};
  regular_ = fstat(fd_, &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG;
  return 0;
}

void OutputFile::Reserve(std::int64_t) {}

bool OutputFile::Write(const void* data, std::size_t size) {
  if (error_ != 0 || fd_ < 0) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const auto n = write(fd_, bytes, static_cast<unsigned>(size < (1u << 30) ? size : (1u << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 && errno != 0 ? errno : EIO;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int OutputFile::Commit() {
  if (fd_ < 0) return error_ != 0 ? error_ : EBADF;
  if (close(fd_) != 0 && error_ == 0) error_ = errno != 0 ? errno : EIO;
  fd_ = -1;
  if (error_ != 0) {
    if (regular_) std::remove(path_.c_str());
    return error_;
  }
  path_.clear();
  return 0;
}

void OutputFile::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
    if (regular_) std::remove(path_.c_str());
  }
}

bool IsSameFile(const char*, const char*) { return false; }

void HandleOutputSignals() {}

}  // namespace rastrom
