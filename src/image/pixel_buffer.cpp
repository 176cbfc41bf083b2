#include "pixel_buffer.h"

#include <cstdlib>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace rastrom {

namespace {

#if defined(__linux__)
// Transparent huge pages: a large buffer is faulted in 2 MiB at a time instead of 4 KiB,
// which on a big image saves most of the kernel's time spent on the buffer. The kernel
// only uses them on a 2 MiB-aligned range it has been asked to (THP "madvise" mode).
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugeThreshold = 4 * kHugePage;

std::uint8_t* AllocateBytes(std::size_t bytes) {
  if (bytes < kHugeThreshold) return static_cast<std::uint8_t*>(std::malloc(bytes));
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* data = std::aligned_alloc(kHugePage, rounded);
  // Only a hint: without it the buffer works the same, with 4 KiB pages.
  if (data != nullptr) madvise(data, rounded, MADV_HUGEPAGE);
  return static_cast<std::uint8_t*>(data);
}
#else
std::uint8_t* AllocateBytes(std::size_t bytes) {
  return static_cast<std::uint8_t*>(std::malloc(bytes));
}
#endif

}  // namespace

PixelBuffer::~PixelBuffer() { Release(); }

PixelBuffer::PixelBuffer(PixelBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), byteCount_(std::exchange(other.byteCount_, 0)) {}

PixelBuffer& PixelBuffer::operator=(PixelBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    byteCount_ = std::exchange(other.byteCount_, 0);
  }
  return *this;
}

PixelBuffer PixelBuffer::Allocate(std::int32_t byteCount) {
  PixelBuffer buffer;
  if (byteCount < 0) return buffer;
  // At least one byte, so that an empty image still yields a buffer that is not null.
  buffer.data_ = AllocateBytes(byteCount > 0 ? std::size_t(byteCount) : 1);
  if (buffer.data_ != nullptr) buffer.byteCount_ = byteCount;
  return buffer;
}

void PixelBuffer::Release() {
  std::free(data_);
  data_ = nullptr;
  byteCount_ = 0;
}

}  // namespace rastrom
