// BMP encoding of 3-3-2 pixels as a pure function: sizes and bytes in, file bytes out.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace rastrom {

// The size in bytes of the 8-bit BMP file that holds width x height pixels: the file
// header, the 40-byte info header, the 256-entry palette and the rows, each padded to a
// multiple of 4 bytes. 0 when the picture has no pixels or does not fit a BMP file (a side
// beyond 2,147,483,647 or a file of 4 GiB or more).
std::uint64_t Bmp332FileSize(std::uint64_t width, std::uint64_t height);

// The palette entry of a 3-3-2 byte, as 0x00RRGGBB: each channel widened to 8 bits by
// repeating its bits (red and green abc become abcabcab, blue ab becomes abababab), so
// that white stays white and reducing the colour again gives back the byte.
std::uint32_t Color332(std::uint8_t pixel);

// Encodes width x height 3-3-2 pixels, given from the top-left row by row, as an 8-bit BMP
// whose palette index is the pixel's byte: rows stored bottom-up, 40-byte info header.
// Pixels beyond the end of `pixels` are black (0); bytes beyond width x height are not
// used. Returns the file's bytes, or nothing when Bmp332FileSize is 0.
std::vector<std::uint8_t> EncodeBmp332(std::uint64_t width, std::uint64_t height,
                                       std::span<const std::uint8_t> pixels);

}  // namespace rastrom
