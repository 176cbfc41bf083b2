// Obtains the source image from the platform as a display-compatible bitmap.
#pragma once

#include <string>

#include "pixel_buffer.h"
#include "platform.h"

namespace rastrom {

// Why a load failed.
enum class LoadError {
  kNone = 0,
  kNotLoaded,       // the platform could not load the file, or its bits could not be copied
  kNoDescription,   // the platform gave no description of the loaded bitmap
};

// Loads the BMP file at path through the platform, printing nothing. On kNone, pixels and
// bitmap are filled; otherwise both are untouched. The pixels are those of the platform's
// bitmap, in whatever format it loaded (the caller checks bmPlanes and bmBitsPixel).
LoadError LoadBitmapPixels(std::string path, PixelBuffer& pixels, BITMAP& bitmap);

// Loads the BMP file at path, prints "Loading image..." and then "Image loaded" or the
// reason for failing. Returns 0 with pixels and bitmap filled, or 1 with both untouched.
int LoadSourceImage(std::string path, PixelBuffer& pixels, BITMAP& bitmap);

}  // namespace rastrom
