// A source file's bytes, read where they are needed. A regular file stays open and each
// request is read from it with pread, so a file that shrinks while it is converted gives a
// failed read, never a fault. A pipe or device is read to its end into memory once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

namespace rastrom {

// Frees a block that came from malloc or realloc.
struct FreeBytes {
  void operator()(std::uint8_t* bytes) const { std::free(bytes); }
};
using MallocBytes = std::unique_ptr<std::uint8_t, FreeBytes>;

// A block reused from one read to the next, grown when a read needs more.
class ScratchBytes {
 public:
  // Returns a block of at least `bytes` bytes (contents unspecified), or null when the
  // memory cannot be had.
  std::uint8_t* Get(std::size_t bytes);

 private:
  MallocBytes block_;
  std::size_t capacity_ = 0;
};

class FileBytes {
 public:
  // Opens path; ok() is false when it cannot be read.
  explicit FileBytes(const char* path);
  ~FileBytes();
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  bool ok() const { return ok_; }
  // The size when the file was opened.
  std::uint64_t size() const { return size_; }

  // Points `view` at the `length` bytes at `offset`: in place for a stream held in memory,
  // otherwise read into `scratch`. Returns false when they cannot all be had: they lie
  // past the size, the file has shrunk, a read failed, or there is no memory for them.
  bool Fetch(std::uint64_t offset, std::size_t length, ScratchBytes& scratch,
             std::span<const std::uint8_t>& view) const;

 private:
  bool ok_ = false;
  int fd_ = -1;             // a regular file, open until destruction
  std::uint64_t size_ = 0;
  MallocBytes copy_;        // a pipe or device, read whole
};

// Called, when set, after a bitmap's headers are read and before each read of its pixels
// (each band of rows, or the whole run-length stream). Only tests set it, to change the
// file at that moment.
extern void (*gBeforePixelRead)();

}  // namespace rastrom
