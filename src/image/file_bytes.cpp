#include "file_bytes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace rastrom {

namespace {

// The largest file worth reading from a pipe or device: the biggest possible pixel data
// (a signed 32-bit byte count) plus room for headers and a palette.
constexpr std::size_t kMaxStreamBytes = (std::size_t{1} << 31) + (std::size_t{1} << 20);

bool ReadStream(int fd, std::vector<std::uint8_t>& out) {
  std::size_t used = 0;
  for (;;) {
    if (out.size() - used < 65536) {
      if (out.size() >= kMaxStreamBytes) return false;
      // Doubling, but never past the cap: doubling 2 GiB would ask for 4 GiB.
      out.resize(out.size() < 65536 ? 65536 : std::min(out.size() * 2, kMaxStreamBytes));
    }
    const ssize_t n = read(fd, out.data() + used, out.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
    // Anything that does not start like a BMP file is not worth reading to its end.
    if (used >= 2 && (out[0] != 'B' || out[1] != 'M')) break;
  }
  out.resize(used);
  return true;
}

}  // namespace

FileBytes::FileBytes(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return;
  }
  if (S_ISREG(info.st_mode)) {
    size_ = static_cast<std::size_t>(info.st_size);
    if (size_ > 0) {
      void* map = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
      if (map != MAP_FAILED) {
        mapping_ = map;
        data_ = static_cast<const std::uint8_t*>(map);
        ok_ = true;
      }
    } else {
      ok_ = true;  // an empty file: refused by the decoder, not here
    }
  }
  if (!ok_) {
    try {
      ok_ = ReadStream(fd, copy_);
    } catch (const std::bad_alloc&) {
      ok_ = false;
    }
    data_ = copy_.data();
    size_ = copy_.size();
  }
  close(fd);
}

void FileBytes::Discard(std::size_t end) {
#if defined(__linux__)
  if (mapping_ == nullptr) return;
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t until = (end < size_ ? end : size_) / page * page;
  if (until <= discarded_) return;
  // The mapping is private and never written, so dropping its pages loses nothing.
  madvise(static_cast<std::uint8_t*>(mapping_) + discarded_, until - discarded_, MADV_DONTNEED);
  discarded_ = until;
#else
  (void)end;
#endif
}

FileBytes::~FileBytes() {
  if (mapping_ != nullptr) munmap(mapping_, size_);
}

}  // namespace rastrom
