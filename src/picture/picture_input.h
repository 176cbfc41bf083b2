// The input of the programs that show or re-wrap a picture's memory: a picture (a BMP file)
// whose pixels are handed out in bands of rows, a COE file of 32-bit words, or a .mem or
// .mif memory file of words up to 64 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "memory_file.h"

namespace rastrom {

// The order in which a picture's bands of rows are handed out.
enum class RowOrder { kTopDown, kBottomUp };

// Receives `rowCount` rows of a picture starting at row `firstRow` (counted from the top),
// in `pixels`: the rows from the top one down, each `width` pixels of four bytes (blue,
// green, red, 0) without gaps. The bytes are valid only during the call. Returns false to
// stop the reading.
using RowSink = std::function<bool(std::int32_t firstRow, std::int32_t rowCount,
                                   std::span<const std::uint8_t> pixels)>;

// Where a picture's rows come from: a picture held whole, or a file read band by band.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // Hands every row of the picture to `sink` once, in bands, in the order asked for: from
  // the top band down, or from the bottom band up (the rows inside a band still run from
  // the top down). Returns an empty string, or why the rows could not all be read (the
  // file changed since it was opened); an empty string too when `sink` stopped it.
  virtual std::string ReadRows(RowOrder order, const RowSink& sink) const = 0;
};

struct PictureInput {
  enum class Kind { kBmp, kCoe, kMem, kMif };
  Kind kind = Kind::kBmp;
  std::int32_t width = 0;   // a picture's size; 0 for a COE file
  std::int32_t height = 0;
  std::shared_ptr<const RowSource> rows;  // a picture's pixels; null for a COE file
  std::vector<std::uint32_t> words;       // a COE file's words in order; empty for a picture
  std::vector<std::uint64_t> memoryWords;  // a .mem or .mif file's words in address order
  unsigned statedWordBits = 0;  // a memory file's word width as it states it; 0 when it does not
  // What a memory file (COE, .mem, .mif) says it holds, when its first comment says so.
  std::optional<MemoryDescription> description;

  // The picture's rows, as RowSource::ReadRows hands them out. A COE file has none.
  std::string ReadRows(RowOrder order, const RowSink& sink) const {
    return rows ? rows->ReadRows(order, sink) : std::string();
  }
};

// Reads `path` as a BMP (when its content starts with "BM"), as a .mem or .mif file (by
// its first word or comment) or else as a COE file. The words of a memory file that
// describes itself must fit the width it states. Returns
// an empty string, or a one-line reason for refusing it that names the file.
std::string ReadPictureInput(const char* path, PictureInput& input);

// The 3-3-2 bytes of the input, one a pixel from the top-left, reduced as the converter
// reduces them; from a COE file every byte of every word, the top byte first. Returns an
// empty string, or the reason naming `path`.
std::string ReadPixels332(const char* path, const PictureInput& input,
                          std::vector<std::uint8_t>& pixels);

}  // namespace rastrom
