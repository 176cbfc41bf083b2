// Fuzz target over the pure decoder. The whole input is the file; its last byte also
// chooses one extra check: that a cut inside the pixel data is refused, or that the same
// picture stored with its rows in the other order decodes to the same pixels.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "bmp_decode.h"
#include "fuzz_check.h"

namespace {

using rastrom::BmpError;
using rastrom::BmpHeader;
using rastrom::BmpPixelFormat;

bool IsRle(const BmpHeader& header) {
  return header.format == BmpPixelFormat::kRle8 || header.format == BmpPixelFormat::kRle4;
}

void CheckDecoded(const rastrom::DecodedBmp& decoded, const BmpHeader& header) {
  FUZZ_CHECK(decoded.error == BmpError::kNone);
  FUZZ_CHECK(decoded.width == header.width && decoded.height == header.height);
  FUZZ_CHECK(decoded.pixels.size() ==
             std::size_t{4} * std::size_t(header.width) * std::size_t(header.height));
  // The fourth byte of every pixel carries no colour and is always 0.
  for (std::size_t i = 3; i < decoded.pixels.size(); i += 4) FUZZ_CHECK(decoded.pixels[i] == 0);
}

// Uncompressed pixel data must be in the file: any cut inside it is refused as truncated.
void CheckCutIsRefused(std::span<const std::uint8_t> file, const BmpHeader& header,
                       unsigned steer) {
  const std::size_t end = header.pixelOffset + header.pixelBytes;
  if (IsRle(header) || header.pixelBytes == 0) return;
  const std::size_t cut = end - 1 - steer % header.pixelBytes;
  const auto shorter = std::make_unique<std::uint8_t[]>(cut);
  std::memcpy(shorter.get(), file.data(), cut);
  BmpHeader ignored;
  FUZZ_CHECK(rastrom::ParseBmpHeader({shorter.get(), cut}, ignored) == BmpError::kTruncated);
}

// Stores the rows of an uncompressed image in the other order (negating the height) and
// checks that the picture is the same.
void CheckOtherRowOrder(std::span<const std::uint8_t> file, const BmpHeader& header,
                        const rastrom::DecodedBmp& decoded) {
  const std::uint32_t headerSize = static_cast<std::uint32_t>(file[14]) |
                                   static_cast<std::uint32_t>(file[15]) << 8 |
                                   static_cast<std::uint32_t>(file[16]) << 16 |
                                   static_cast<std::uint32_t>(file[17]) << 24;
  // The core header cannot say top-down; RLE may not.
  if (IsRle(header) || headerSize == 12) return;
  const std::size_t rowBits = std::size_t{header.bitsPerPixel} * std::size_t(header.width);
  const std::size_t stride = (rowBits + 31) / 32 * 4;
  const std::size_t rows = std::size_t(header.height);
  // The same file with its pixel rows moved; the last stored row may lack its padding,
  // which is then zero-filled.
  const std::size_t size = std::max(file.size(), header.pixelOffset + stride * rows);
  std::vector<std::uint8_t> flipped(size, 0);
  std::memcpy(flipped.data(), file.data(), file.size());
  for (std::size_t r = 0; r < rows; ++r) {
    const std::size_t from = header.pixelOffset + r * stride;
    const std::size_t length = r + 1 < rows ? stride : header.pixelBytes - r * stride;
    std::memcpy(flipped.data() + header.pixelOffset + (rows - 1 - r) * stride,
                file.data() + from, length);
  }
  const std::int32_t height = header.topDown ? header.height : -header.height;
  std::memcpy(flipped.data() + 22, &height, 4);  // little-endian hosts only, as fuzzers are

  // An exactly sized copy, so that an over-read shows.
  const auto exact = std::make_unique<std::uint8_t[]>(size);
  std::memcpy(exact.get(), flipped.data(), size);
  BmpHeader otherHeader;
  FUZZ_CHECK(rastrom::ParseBmpHeader({exact.get(), size}, otherHeader) == BmpError::kNone);
  FUZZ_CHECK(otherHeader.topDown != header.topDown);
  // A pixel offset may point into the palette or the masks, which the moved rows then
  // overwrite: such a file is a different picture, not the same one stored the other way.
  if (otherHeader.paletteSize != header.paletteSize ||
      std::memcmp(otherHeader.palette, header.palette, sizeof header.palette) != 0 ||
      std::memcmp(otherHeader.masks, header.masks, sizeof header.masks) != 0) {
    return;
  }
  const rastrom::DecodedBmp other = rastrom::DecodeBmp({exact.get(), size});
  FUZZ_CHECK(other.error == BmpError::kNone);
  FUZZ_CHECK(other.pixels == decoded.pixels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exactly sized heap copy: AddressSanitizer then reports a read one past the end.
  const auto copy = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) std::memcpy(copy.get(), data, size);
  const std::span<const std::uint8_t> file(copy.get(), size);
  const unsigned steer = size > 0 ? data[size - 1] : 0;

  BmpHeader header;
  const BmpError error = rastrom::ParseBmpHeader(file, header);
  if (error != BmpError::kNone) {
    FUZZ_CHECK(rastrom::DecodeBmp(file).error == error);
    return 0;
  }
  // What the header promises must hold before any pixel is decoded.
  FUZZ_CHECK(header.width >= 1 && header.width <= 65535);
  FUZZ_CHECK(header.height >= 1 && header.height <= 65535);
  FUZZ_CHECK(std::int64_t{4} * header.width * header.height <= INT32_MAX);
  FUZZ_CHECK(header.pixelOffset <= size && header.pixelBytes <= size - header.pixelOffset);
  FUZZ_CHECK(header.paletteSize <= 256);
  const std::size_t pixelBytes =
      std::size_t{4} * std::size_t(header.width) * std::size_t(header.height);
  if (pixelBytes > rastrom::fuzz::kMaxPixelBytes) return 0;

  const rastrom::DecodedBmp decoded = rastrom::DecodeBmp(file);
  CheckDecoded(decoded, header);
  if (steer & 1) {
    CheckOtherRowOrder(file, header, decoded);
  } else {
    CheckCutIsRefused(file, header, steer >> 1);
  }
  return 0;
}
