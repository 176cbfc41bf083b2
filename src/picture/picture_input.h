// The input of the programs that show or re-wrap a picture's memory: a BMP file, loaded and
// reduced to 3-3-2 exactly as the converter does it, or a COE file of 32-bit words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rastrom {

struct PictureInput {
  enum class Kind { kBmp, kCoe };
  Kind kind = Kind::kBmp;
  std::int32_t width = 0;   // from a BMP; 0 for a COE file
  std::int32_t height = 0;  // from a BMP; 0 for a COE file
  // The 3-3-2 pixel bytes from the top-left, row by row. From a COE file: every byte of
  // every word in order, the word's top byte first (padding included), 4 x words bytes.
  std::vector<std::uint8_t> pixels;
};

// Reads `path` as a BMP (when its content starts with "BM") or else as a COE file. Returns
// an empty string, or a one-line reason for refusing it that names the file.
std::string ReadPictureInput(const char* path, PictureInput& input);

}  // namespace rastrom
