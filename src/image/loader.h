// Obtains the source image from the platform as a display-compatible bitmap.
#pragma once

#include <string>

#include "pixel_buffer.h"
#include "platform.h"

namespace rastrom {

// Loads the BMP file at path, prints "Loading image..." and then "Image loaded" or the
// reason for failing. Returns 0 with pixels and bitmap filled, or 1 with both untouched.
int LoadSourceImage(std::string path, PixelBuffer& pixels, BITMAP& bitmap);

}  // namespace rastrom
