// The pixel bytes of a loaded bitmap and their count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace rastrom {

// Owns a block of pixel bytes; move-only, released on every path.
class PixelBuffer {
 public:
  PixelBuffer() = default;
  ~PixelBuffer();
  PixelBuffer(PixelBuffer&& other) noexcept;
  PixelBuffer& operator=(PixelBuffer&& other) noexcept;
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;

  // Allocates byteCount bytes (contents unspecified). Returns an empty buffer when
  // byteCount is negative or the memory cannot be had; never throws.
  static PixelBuffer Allocate(std::int32_t byteCount);

  bool empty() const { return data_ == nullptr; }
  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::int32_t byteCount() const { return byteCount_; }
  std::span<const std::uint8_t> bytes() const {
    return {data_, static_cast<std::size_t>(byteCount_)};
  }
  void Release();

 private:
  std::uint8_t* data_ = nullptr;
  std::int32_t byteCount_ = 0;
};

}  // namespace rastrom
