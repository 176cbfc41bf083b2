#include "file_bytes.h"

#include <fcntl.h>
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

void (*gBeforePixelRead)() = nullptr;

std::uint8_t* ScratchBytes::Get(std::size_t bytes) {
  if (bytes <= capacity_ && block_ != nullptr) return block_.get();
  // The old contents are not needed, so the old block goes before the new one comes.
  block_.reset();
  capacity_ = 0;
  block_.reset(static_cast<std::uint8_t*>(std::malloc(bytes > 0 ? bytes : 1)));
  if (block_ != nullptr) capacity_ = bytes;
  return block_.get();
}

FileBytes::FileBytes(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return;
  }
  if (S_ISREG(info.st_mode)) {
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(info.st_size);
    ok_ = true;  // an empty file is refused by the decoder, not here
    return;
  }
  std::size_t used = 0;
  ok_ = ReadStream(fd, copy_, used);
  size_ = used;
  close(fd);
}

bool FileBytes::Fetch(std::uint64_t offset, std::size_t length, ScratchBytes& scratch,
                      std::span<const std::uint8_t>& view) const {
  view = {};
  if (!ok_ || offset > size_ || length > size_ - offset) return false;
  if (length == 0) return true;
  if (fd_ < 0) {
    view = {copy_.get() + offset, length};
    return true;
  }
  std::uint8_t* into = scratch.Get(length);
  if (into == nullptr) return false;
  for (std::size_t done = 0; done < length;) {
    // One pread is capped well below what any system refuses in a single call.
    const std::size_t chunk = std::min<std::size_t>(length - done, std::size_t{1} << 30);
    const ssize_t n = pread(fd_, into + done, chunk, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // a read error, or the end of a file that has shrunk
    done += static_cast<std::size_t>(n);
  }
  view = {into, length};
  return true;
}

FileBytes::~FileBytes() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace rastrom
