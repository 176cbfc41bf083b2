#include "pixel_buffer.h"

#include <cstdlib>
#include <utility>

namespace rastrom {

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
  buffer.data_ = static_cast<std::uint8_t*>(std::malloc(byteCount > 0 ? std::size_t(byteCount) : 1));
  if (buffer.data_ != nullptr) buffer.byteCount_ = byteCount;
  return buffer;
}

void PixelBuffer::Release() {
  std::free(data_);
  data_ = nullptr;
  byteCount_ = 0;
}

}  // namespace rastrom
