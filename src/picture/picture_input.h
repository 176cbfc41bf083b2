// The input of the programs that show or re-wrap a picture's memory: a picture (a BMP, PNG
// or JPEG file) whose pixels are handed out in bands of rows, a COE file of 32-bit words,
// or a .mem or .mif memory file of words up to 64 bits. This is the one place that tells
// the kinds of file apart, by their content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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

// A band of a 24-bit picture's rows as its file stores them, unwidened: 3 bytes a pixel
// (blue, green, red), each row `stride` bytes after the one stored before it, the band's
// bottom row first when `bottomUp`. The bytes are valid only during the sink's call.
struct StoredRows {
  std::int32_t firstRow = 0;  // counted from the top
  std::int32_t rowCount = 0;
  std::int32_t width = 0;
  std::size_t stride = 0;
  bool bottomUp = false;
  std::span<const std::uint8_t> bytes;

  // Row `i` of the band, counted from its top: 3 x width bytes.
  std::span<const std::uint8_t> Row(std::int32_t i) const {
    const auto k = static_cast<std::size_t>(bottomUp ? rowCount - 1 - i : i);
    return bytes.subspan(k * stride, 3 * static_cast<std::size_t>(width));
  }
};
using StoredRowSink = std::function<bool(const StoredRows& band)>;

// Where a picture's rows come from: a picture held whole, or a file read band by band.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // Whether ReadStoredRows can hand the rows out: an uncompressed 24-bit BMP file read
  // band by band.
  virtual bool HasStoredRows() const { return false; }
  // As ReadRows, every row once in the order asked for, as the file stores them, in bands
  // of its own size.
  virtual std::string ReadStoredRows(RowOrder, const StoredRowSink&) const {
    return "is not read as stored 24-bit rows";
  }
  // Hands every row of the picture to `sink` once, in bands, in the order asked for: from
  // the top band down, or from the bottom band up (the rows inside a band still run from
  // the top down). Returns an empty string, or why the rows could not all be read (the
  // file changed since it was opened); an empty string too when `sink` stopped it.
  virtual std::string ReadRows(RowOrder order, const RowSink& sink) const = 0;
};

struct PictureInput {
  enum class Kind { kBmp, kPng, kJpeg, kCoe, kMem, kMif };
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
  bool HasStoredRows() const { return rows && rows->HasStoredRows(); }
  std::string ReadStoredRows(RowOrder order, const StoredRowSink& sink) const {
    return rows ? rows->ReadStoredRows(order, sink) : std::string();
  }
};

// How a picture is read.
struct PictureOptions {
  const char* program = "rastrom-mem";  // named in the refusal of a kind not read
  std::uint32_t background = 0;         // 0xRRGGBB, under the transparent parts of a picture
  // A BMP file's alpha channel is used only when a background is asked for, so that the
  // default keeps the pixels the converter reads from it.
  bool backgroundGiven = false;
};

// Reads a colour written as six hexadecimal digits RRGGBB (either case, an optional '#'
// before them) into 0xRRGGBB. Returns false, leaving `colour` alone, for anything else.
bool ParseBackground(std::string_view text, std::uint32_t& colour);

// "BMP file", "PNG picture", "JPEG picture", "COE file", ".mem file" or ".mif file".
const char* KindName(PictureInput::Kind kind);

// Reads `path` as the kind its first bytes say: a BMP ("BM"), PNG or JPEG picture, or else,
// when it is text, a .mem or .mif file (by its first word or comment) or a COE file; other
// known kinds of picture (GIF, TIFF, WebP, ...) are refused by name. The words of a memory
// file that describes itself must fit the width it states. Returns an empty string, or a
// one-line reason for refusing it that names the file; `input` is changed only on success.
std::string ReadPictureInput(const char* path, const PictureOptions& options,
                             PictureInput& input);
std::string ReadPictureInput(const char* path, PictureInput& input);

// The same over a file's bytes already read; a BMP file is decoded by the project's own
// decoder. `maxPixelBytes` bounds a picture's decoded pixels (the fuzzer asks for less).
std::string ReadPictureBytes(const char* path, std::span<const std::uint8_t> bytes,
                             const PictureOptions& options, PictureInput& input,
                             std::size_t maxPixelBytes = 0x7FFFFFFF);

}  // namespace rastrom
