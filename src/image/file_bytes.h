// The whole contents of a file, read-only, mapped or read into memory.
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

class FileBytes {
 public:
  // Opens path and makes its bytes available; ok() is false when it cannot be read.
  explicit FileBytes(const char* path);
  ~FileBytes();
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  bool ok() const { return ok_; }
  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

  // Tells the system that the bytes before `end` will not be read again soon, so a mapped
  // file's pages can leave the process's memory. They stay readable (the system reads them
  // back from the file); a file read into memory keeps its copy.
  void Discard(std::size_t end);

 private:
  bool ok_ = false;
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  void* mapping_ = nullptr;        // set when the file is memory-mapped
  std::size_t discarded_ = 0;      // bytes of the mapping already given back
  MallocBytes copy_;               // for files that cannot be mapped (pipes, devices)
};

}  // namespace rastrom
