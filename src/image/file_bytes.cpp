#include "file_bytes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace rastrom {

namespace {

// The largest file worth reading from a pipe or device: the biggest possible pixel data
// (a signed 32-bit byte count) plus room for headers and a palette.
constexpr std::size_t kMaxStreamBytes = (std::size_t{1} << 31) + (std::size_t{1} << 20);

// Reads a pipe or device to its end into `out`, growing the block with realloc, which
// moves large blocks by remapping their pages, so the old and new blocks are never both
// held. Returns false when the stream fails or runs past the cap.
bool ReadStream(int fd, MallocBytes& out, std::size_t& used) {
  std::size_t capacity = 0;
  used = 0;
  for (;;) {
    if (capacity - used < 65536) {
      if (capacity >= kMaxStreamBytes) return false;
      const std::size_t next = capacity < 65536 ? 65536 : std::min(capacity * 2, kMaxStreamBytes);
      auto* grown = static_cast<std::uint8_t*>(std::realloc(out.get(), next));
      if (grown == nullptr) return false;
      static_cast<void>(out.release());
      out.reset(grown);
      capacity = next;
    }
    const ssize_t n = read(fd, out.get() + used, capacity - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    used += static_cast<std::size_t>(n);
    // Anything that does not start like a BMP file is not worth reading to its end.
    if (used >= 2 && (out.get()[0] != 'B' || out.get()[1] != 'M')) return true;
  }
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
    ok_ = ReadStream(fd, copy_, size_);
    data_ = copy_.get();
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
