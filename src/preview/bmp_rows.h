// The BMP file that shows pixel values: its header (with a palette for pixels of up to 8
// bits) and its rows, written one at a time from the bottom row up.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "pixel_format.h"

namespace rastrom {

// True when the preview of `format` is an 8-bit BMP whose palette index is the pixel value
// (pixels of at most 8 bits); else it is a 24-bit BMP.
bool PalettedPreview(const PixelFormat& format);

// The bytes of one stored row: 1 or 3 bytes a pixel, padded to a multiple of 4.
std::uint64_t PreviewRowBytes(const PixelFormat& format, std::uint64_t width);

// The size of the whole file; 0 when the picture has no pixels or does not fit a BMP file
// (a side beyond 2,147,483,647, or a file of 4 GiB or more).
std::uint64_t PreviewFileSize(const PixelFormat& format, std::uint64_t width, std::uint64_t height);

// The file header, the 40-byte info header (rows bottom-up, or top-down when `topDown`)
// and, for an 8-bit file, the palette of 256 colours: entry v is the colour ShowPixel gives
// value v (black past the format's values). PreviewFileSize must not be 0.
std::string PreviewHeader(const PixelFormat& format, std::uint64_t width, std::uint64_t height,
                          bool topDown = false);

// Fills `row` (PreviewRowBytes long) with the stored row of `values`, padding zero.
void PreviewRow(const PixelFormat& format, std::span<const std::uint32_t> values,
                std::span<std::uint8_t> row);

}  // namespace rastrom
