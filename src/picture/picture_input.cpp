#include "picture_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "bmp_decode.h"
#include "coe_reader.h"
#ifndef _WIN32
#include "file_bytes.h"
#endif
#include "loader.h"
#include "picture_decode.h"

#ifdef _WIN32
#define RASTROM_FILENO _fileno
#define RASTROM_FSTAT _fstat64
using StatRecord = struct _stat64;
#else
#define RASTROM_FILENO fileno
#define RASTROM_FSTAT fstat
using StatRecord = struct stat;
#endif

namespace rastrom {

namespace {

// The largest file read whole: 2 GiB. For COE text that is well beyond the words of the
// largest image the converter writes (2^29 pixels, about 1.5 GB of text); a PNG or JPEG
// file holds its pixels compressed, so one as large is far beyond the pixel limit too.
constexpr std::size_t kMaxFileBytes = std::size_t{1} << 31;

// Closes a stdio file on every path.
struct FileCloser {
  std::FILE* file;
  ~FileCloser() {
    if (file != nullptr) std::fclose(file);
  }
};

std::string Named(const char* path, const std::string& reason) {
  return std::string(path) + ": " + reason;
}

std::string SystemError(const char* what, int error) {
  return std::string(what) + " (" + std::strerror(error) + ")";
}

// Reads the rest of `file` after the bytes already in `text`. For a COE file (`text`
// true) reading stops after a NUL byte, which no text holds: the COE reader refuses the
// file at the first one, so a device such as /dev/zero is never read to its end. Returns
// an empty string or the reason.
std::string ReadRest(std::FILE* file, std::vector<std::uint8_t>& bytes, bool text,
                     const char* kind) {
  constexpr std::size_t kChunk = 65536;
  StatRecord info{};
  if (RASTROM_FSTAT(RASTROM_FILENO(file), &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG &&
      info.st_size > 0 && static_cast<std::uint64_t>(info.st_size) <= kMaxFileBytes) {
    // A hint (a growing file still reads), with room for the last read, which finds the
    // end: without it the buffer would be moved to one twice as large for that read.
    bytes.reserve(static_cast<std::size_t>(info.st_size) + kChunk);
  }
  if (text && !bytes.empty() && std::memchr(bytes.data(), 0, bytes.size()) != nullptr) return {};
  while (true) {
    const std::size_t used = bytes.size();
    if (used > kMaxFileBytes) return std::string("larger than 2 GiB; too large for a ") + kind;
    bytes.resize(used + kChunk);
    errno = 0;
    const std::size_t n = std::fread(bytes.data() + used, 1, kChunk, file);
    bytes.resize(used + n);
    if (text && n > 0 && std::memchr(bytes.data() + used, 0, n) != nullptr) return {};
    if (n < kChunk) {
      if (std::ferror(file)) return SystemError("cannot be read", errno != 0 ? errno : EIO);
      return {};
    }
  }
}

// A picture held whole: four bytes a pixel, from the top row down, in the loader's buffer
// or a decoder's. Handed out in bands of about 256 KiB, so a reader of bands sees the same
// as from a file read band by band.
class WholePicture final : public RowSource {
 public:
  WholePicture(PixelBuffer pixels, std::int32_t width, std::int32_t height)
      : buffer_(std::move(pixels)), pixels_(buffer_.data()), width_(width), height_(height) {}
  WholePicture(std::vector<std::uint8_t> pixels, std::int32_t width, std::int32_t height)
      : decoded_(std::move(pixels)), pixels_(decoded_.data()), width_(width), height_(height) {}

  std::string ReadRows(RowOrder order, const RowSink& sink) const override {
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width_);
    const std::int32_t bandRows =
        static_cast<std::int32_t>(std::max<std::size_t>(1, (std::size_t{256} << 10) / rowBytes));
    const std::int32_t bands = (height_ + bandRows - 1) / bandRows;
    for (std::int32_t b = 0; b < bands; ++b) {
      const std::int32_t band = order == RowOrder::kTopDown ? b : bands - 1 - b;
      const std::int32_t first = band * bandRows;
      const std::int32_t count = std::min(bandRows, height_ - first);
      const std::span<const std::uint8_t> rows(pixels_ + first * rowBytes,
                                               static_cast<std::size_t>(count) * rowBytes);
      if (!sink(first, count, rows)) break;
    }
    return {};
  }

 private:
  PixelBuffer buffer_;
  std::vector<std::uint8_t> decoded_;
  const std::uint8_t* pixels_;
  std::int32_t width_;
  std::int32_t height_;
};

// A BMP file's picture, read from the file a band of rows at a time whenever its rows are
// asked for (held whole only where the platform loads it whole, on Windows).
class BandedPicture final : public RowSource {
 public:
  explicit BandedPicture(PixelRows pixels) : pixels_(std::move(pixels)) {}

  std::string ReadRows(RowOrder order, const RowSink& sink) const override {
    const std::int32_t height = pixels_.height();
    const std::int32_t bandRows = PixelRows::BandRows(pixels_.width());
    const std::int32_t bands = (height + bandRows - 1) / bandRows;
    for (std::int32_t b = 0; b < bands; ++b) {
      const std::int32_t first = (order == RowOrder::kTopDown ? b : bands - 1 - b) * bandRows;
      const std::int32_t count = std::min(bandRows, height - first);
      std::span<const std::uint8_t> rows;
      if (!pixels_.ReadBand(first, count, rows)) {
        return "has changed since it was opened: its pixels can no longer be read";
      }
      if (!sink(first, count, rows)) break;
    }
    return {};
  }

#ifndef _WIN32
  // Opens the file a second time for its stored rows when it holds uncompressed 24-bit
  // rows of the picture's size; otherwise the rows come widened only. A pipe or device
  // is not opened again: its bytes were read once already.
  void OpenStoredRows(const char* path) {
    struct stat status {};
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return;
    auto file = std::make_unique<FileBytes>(path);
    const auto headBytes = static_cast<std::size_t>(std::min<std::uint64_t>(file->size(), kBmpHeadBytes));
    std::span<const std::uint8_t> head;
    BmpHeader header;
    if (!file->ok() || !file->Fetch(0, headBytes, scratch_, head) ||
        ParseBmpHeader(head, file->size(), header) != BmpError::kNone ||
        header.format != BmpPixelFormat::kBgr24 || header.width != pixels_.width() ||
        header.height != pixels_.height()) {
      return;
    }
    header_ = header;
    file_ = std::move(file);
  }

  bool HasStoredRows() const override { return file_ != nullptr; }

  std::string ReadStoredRows(RowOrder order, const StoredRowSink& sink) const override {
    if (file_ == nullptr) return RowSource::ReadStoredRows(order, sink);
    const std::int32_t height = header_.height;
    StoredRows band;
    band.width = header_.width;
    band.stride = (3 * static_cast<std::size_t>(header_.width) + 3) / 4 * 4;
    // Bands of about 32 KiB of the file: they stay in the processor's cache, and a larger
    // band reads no faster but touches more fresh memory.
    const auto bandRows = static_cast<std::int32_t>(
        std::max<std::size_t>(1, (std::size_t{32} << 10) / band.stride));
    const std::int32_t bands = (height + bandRows - 1) / bandRows;
    band.bottomUp = !header_.topDown;
    for (std::int32_t b = 0; b < bands; ++b) {
      band.firstRow = (order == RowOrder::kTopDown ? b : bands - 1 - b) * bandRows;
      band.rowCount = std::min(bandRows, height - band.firstRow);
      // Stored row r is picture row r when top-down, height - 1 - r when bottom-up; the
      // last stored row may lack its padding.
      const auto rows = static_cast<std::size_t>(band.rowCount);
      const auto stored = static_cast<std::size_t>(
          header_.topDown ? band.firstRow : height - band.firstRow - band.rowCount);
      const std::size_t length = stored + rows == static_cast<std::size_t>(height)
                                     ? header_.pixelBytes - stored * band.stride
                                     : rows * band.stride;
      if (gBeforePixelRead != nullptr) gBeforePixelRead();
      if (!file_->Fetch(header_.pixelOffset + stored * band.stride, length, scratch_, band.bytes)) {
        return "has changed since it was opened: its pixels can no longer be read";
      }
      if (!sink(band)) break;
    }
    return {};
  }
#endif

 private:
  // Reading a band reuses the one band buffer and moves the file's position.
  mutable PixelRows pixels_;
#ifndef _WIN32
  std::unique_ptr<FileBytes> file_;  // the file, for its stored rows
  BmpHeader header_;
  mutable ScratchBytes scratch_;     // each band of stored rows, reused
#endif
};

std::string RefusedDepth(const char* path, const BITMAP& bitmap) {
  return Named(path, "loads as " + std::to_string(bitmap.bmPlanes) + " plane(s) of " +
                         std::to_string(bitmap.bmBitsPixel) +
                         " bits per pixel; only 1 plane of 32 bits is supported");
}

// A BMP file without a background to put under its alpha: read a band at a time, so its
// size does not matter.
std::string ReadBmpInBands(const char* path, PictureInput& input) {
  PixelRows pixels;
  BITMAP bitmap{};
  // The rows are read when asked for, widened or as stored; a file that no longer holds
  // them then says so.
  if (LoadBitmapRows(path, pixels, bitmap, false) != LoadError::kNone) {
    return Named(path, "starts like a BMP file but does not load as one");
  }
  // On Windows the platform may keep an image at its own depth; the converter refuses it too.
  if (bitmap.bmPlanes != 1 || bitmap.bmBitsPixel != 32) return RefusedDepth(path, bitmap);
  // The loader refuses negative sizes and keeps 4 x width x height within a signed 32-bit
  // count; the rows it hands out are checked against it anyway.
  if (bitmap.bmWidth < 0 || bitmap.bmHeight < 0 || pixels.height() != bitmap.bmHeight ||
      pixels.width() != bitmap.bmWidth) {
    return Named(path, "loads with fewer pixel bytes than its size needs");
  }
  input.kind = PictureInput::Kind::kBmp;
  input.width = bitmap.bmWidth;
  input.height = bitmap.bmHeight;
  auto rows = std::make_shared<BandedPicture>(std::move(pixels));
#ifndef _WIN32
  rows->OpenStoredRows(path);
#endif
  input.rows = std::move(rows);
  return {};
}

std::string ReadBmp(const char* path, const PictureOptions& options, PictureInput& input) {
  // The background goes under the alpha channel of the whole picture, read from the file's
  // own bytes; without one, the picture is read a band at a time.
  if (!options.backgroundGiven) return ReadBmpInBands(path, input);
  PixelBuffer pixels;
  BITMAP bitmap{};
  if (LoadBitmapPixels(path, pixels, bitmap) != LoadError::kNone) {
    return Named(path, "starts like a BMP file but does not load as one");
  }
  // On Windows the platform may keep an image at its own depth; the converter refuses it too.
  if (bitmap.bmPlanes != 1 || bitmap.bmBitsPixel != 32) return RefusedDepth(path, bitmap);
  // The loader refuses negative sizes and keeps 4 x width x height within a signed 32-bit
  // count, so the product below cannot overflow; the buffer is checked against it anyway.
  const auto pixelCount = static_cast<std::size_t>(bitmap.bmWidth) *
                          static_cast<std::size_t>(bitmap.bmHeight);
  if (bitmap.bmWidth < 0 || bitmap.bmHeight < 0 || pixels.byteCount() < 0 ||
      static_cast<std::size_t>(pixels.byteCount()) / 4 < pixelCount) {
    return Named(path, "loads with fewer pixel bytes than its size needs");
  }
  if (options.backgroundGiven) {
    // The loader drops a BMP file's alpha channel; it is read from the file's own bytes.
    std::vector<std::uint8_t> file;
    if (std::FILE* opened = std::fopen(path, "rb"); opened != nullptr) {
      FileCloser closer{opened};
      if (!ReadRest(opened, file, false, "BMP file").empty()) file.clear();
    }
    CompositeBmpAlpha(file, options.background,
                      {pixels.data(), static_cast<std::size_t>(pixels.byteCount())});
  }
  input.kind = PictureInput::Kind::kBmp;
  input.width = bitmap.bmWidth;
  input.height = bitmap.bmHeight;
  input.rows = std::make_shared<WholePicture>(std::move(pixels), bitmap.bmWidth, bitmap.bmHeight);
  return {};
}

// The start of other kinds of picture, so that they are refused by name rather than read
// as COE text. Each is one or two byte strings at fixed offsets.
struct Signature {
  std::size_t offset;
  std::string_view bytes;
  std::size_t offset2;
  std::string_view bytes2;
  const char* name;
};
constexpr Signature kOtherPictures[] = {
    {0, "GIF87a", 0, "", "a GIF picture"},
    {0, "GIF89a", 0, "", "a GIF picture"},
    {0, std::string_view("II*\0", 4), 0, "", "a TIFF picture"},
    {0, std::string_view("MM\0*", 4), 0, "", "a TIFF picture"},
    {0, "RIFF", 8, "WEBP", "a WebP picture"},
    {0, "qoif", 0, "", "a QOI picture"},
    {0, std::string_view("\0\0\0\x0CjP  \r\n\x87\n", 12), 0, "", "a JPEG 2000 picture"},
    {0, "\xFF\x4F\xFF\x51", 0, "", "a JPEG 2000 picture"},
    {0, "\xFF\x0A", 0, "", "a JPEG XL picture"},
    {0, std::string_view("\0\0\0\x0CJXL \r\n\x87\n", 12), 0, "", "a JPEG XL picture"},
    {4, "ftypavif", 0, "", "an AVIF picture"},
    {4, "ftypheic", 0, "", "a HEIF picture"},
    {4, "ftypheix", 0, "", "a HEIF picture"},
    {4, "ftypmif1", 0, "", "a HEIF picture"},
    {0, "8BPS", 0, "", "a Photoshop picture"},
    {0, "\x76\x2F\x31\x01", 0, "", "an OpenEXR picture"},
    {0, std::string_view("\0\0\1\0", 4), 0, "", "a Windows icon"},
    {0, std::string_view("\0\0\2\0", 4), 0, "", "a Windows cursor"},
    {0, "BA", 0, "", "an OS/2 bitmap array"},
};
// Netpbm's "P1" to "P7" are told by the white space after them.

constexpr std::string_view kPngSignature("\x89PNG\r\n\x1A\n", 8);
constexpr std::string_view kJpegSignature("\xFF\xD8\xFF", 3);
constexpr std::size_t kHeadBytes = 16;  // enough for every signature above

bool StartsWith(std::span<const std::uint8_t> head, std::size_t offset, std::string_view bytes) {
  return head.size() >= offset + bytes.size() &&
         std::memcmp(head.data() + offset, bytes.data(), bytes.size()) == 0;
}

// The kind the first bytes say; a null `other` unless they name a kind not read.
struct Classified {
  PictureInput::Kind kind = PictureInput::Kind::kCoe;
  const char* other = nullptr;
};

Classified Classify(std::span<const std::uint8_t> head) {
  if (StartsWith(head, 0, "BM")) return {PictureInput::Kind::kBmp};
  if (StartsWith(head, 0, kPngSignature)) return {PictureInput::Kind::kPng};
  if (StartsWith(head, 0, kJpegSignature)) return {PictureInput::Kind::kJpeg};
  for (const Signature& s : kOtherPictures) {
    if (StartsWith(head, s.offset, s.bytes) && StartsWith(head, s.offset2, s.bytes2)) {
      return {PictureInput::Kind::kCoe, s.name};
    }
  }
  if (head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7' &&
      (head[2] == ' ' || head[2] == '\n' || head[2] == '\r' || head[2] == '\t')) {
    return {PictureInput::Kind::kCoe, "a Netpbm picture"};
  }
  return {};
}

std::string Decimal(std::uint64_t n) { return std::to_string(n); }

std::string Refusal(const char* path, const PictureOptions& options, const char* what) {
  return Named(path, std::string("is ") + what + "; " + options.program +
                         " reads BMP, PNG and JPEG pictures and COE files");
}

// Why a decoded picture is refused, without the file's name; empty when it is not.
std::string DecodeRefusal(const DecodedPicture& decoded, bool png, const char* program,
                          std::size_t maxPixelBytes) {
  const std::string what = std::string("is a ") + (png ? "PNG" : "JPEG") + " picture";
  const std::string detail = decoded.detail.empty() ? "" : " (" + decoded.detail + ")";
  switch (decoded.error) {
    case PictureError::kNone:
      return {};
    case PictureError::kNotBuilt:
      return what + ", and this build of " + program + " reads none: " +
             (png ? "libspng" : "libjpeg") + " was missing when it was built (" +
             (png ? "apt-get install libspng-dev pkg-config" : "apt-get install libjpeg-dev") +
             ", then build again)";
    case PictureError::kTooLarge:
      return what + " of " + Decimal(decoded.width) + " x " + Decimal(decoded.height) +
             " pixels; the most is 65535 pixels a side and 4 x width x height under " +
             (maxPixelBytes >= kMaxPictureBytes ? "2 GiB" : Decimal(maxPixelBytes + 1) + " bytes");
    case PictureError::kTruncated:
      return what + " but is cut short" + detail;
    case PictureError::kCorrupt:
      return what + " but is corrupt" + detail;
    case PictureError::kUnsupported:
      return "is " + (decoded.detail.empty() ? what + " of a kind not read" : decoded.detail);
  }
  return what + " that cannot be read";
}

#ifndef _WIN32
// A PNG or JPEG picture, kept as its file's bytes and decoded whenever its rows are asked
// for: from the top down a band at a time, so its pixels never take more than a band's
// memory; from the bottom up decoded whole first. A fault in the picture data is found
// there, not when the file is opened.
class CompressedPicture final : public RowSource {
 public:
  CompressedPicture(bool png, std::vector<std::uint8_t> file, const PictureOptions& options,
                    std::size_t maxPixelBytes, std::int32_t width, std::int32_t height)
      : png_(png), file_(std::move(file)), background_(options.background), program_(options.program),
        maxPixelBytes_(maxPixelBytes), width_(width), height_(height) {}

  std::string ReadRows(RowOrder order, const RowSink& sink) const override {
    if (order == RowOrder::kBottomUp) {
      DecodedPicture decoded = png_ ? DecodePng(file_, background_, maxPixelBytes_)
                                    : DecodeJpeg(file_, maxPixelBytes_);
      if (decoded.error != PictureError::kNone) {
        return DecodeRefusal(decoded, png_, program_, maxPixelBytes_);
      }
      return WholePicture(std::move(decoded.pixels), width_, height_).ReadRows(order, sink);
    }
    const DecodedRowSink rows = [&](std::uint32_t first, std::uint32_t count,
                                    std::span<const std::uint8_t> pixels) {
      return sink(static_cast<std::int32_t>(first), static_cast<std::int32_t>(count), pixels);
    };
    const DecodedPicture decoded = png_ ? DecodePngRows(file_, background_, maxPixelBytes_, rows)
                                        : DecodeJpegRows(file_, maxPixelBytes_, rows);
    return DecodeRefusal(decoded, png_, program_, maxPixelBytes_);
  }

 private:
  bool png_;
  std::vector<std::uint8_t> file_;
  std::uint32_t background_;
  const char* program_;
  std::size_t maxPixelBytes_;
  std::int32_t width_;
  std::int32_t height_;
};
#endif

// Checks a PNG or JPEG file's header into `input`; its pixels are decoded when its rows
// are read (on Windows, whose decoder takes a file whole, here).
std::string DecodePicture(const char* path, PictureInput::Kind kind, std::vector<std::uint8_t> bytes,
                          const PictureOptions& options, std::size_t maxPixelBytes,
                          PictureInput& input) {
  const bool png = kind == PictureInput::Kind::kPng;
#ifndef _WIN32
  const DecodedPicture header = png ? ReadPngHeader(bytes, maxPixelBytes) : ReadJpegHeader(bytes, maxPixelBytes);
  if (const std::string refused = DecodeRefusal(header, png, options.program, maxPixelBytes);
      !refused.empty()) {
    return Named(path, refused);
  }
  input.kind = kind;
  input.width = static_cast<std::int32_t>(header.width);
  input.height = static_cast<std::int32_t>(header.height);
  input.rows = std::make_shared<CompressedPicture>(png, std::move(bytes), options, maxPixelBytes,
                                                   input.width, input.height);
#else
  DecodedPicture decoded = png ? DecodePng(bytes, options.background, maxPixelBytes)
                               : DecodeJpeg(bytes, maxPixelBytes);
  std::vector<std::uint8_t>().swap(bytes);
  if (const std::string refused = DecodeRefusal(decoded, png, options.program, maxPixelBytes);
      !refused.empty()) {
    return Named(path, refused);
  }
  input.kind = kind;
  input.width = static_cast<std::int32_t>(decoded.width);
  input.height = static_cast<std::int32_t>(decoded.height);
  input.rows = std::make_shared<WholePicture>(std::move(decoded.pixels), input.width, input.height);
#endif
  input.words.clear();
  return {};
}

std::string ReadCoeFile(const char* path, std::vector<std::uint8_t>& text, PictureInput& input) {
  if (const std::optional<MemoryFormat> format = SniffMemoryText(text)) {
    MemoryText memory;
    const std::string failed = ReadMemoryText(text, *format, memory);
    std::vector<std::uint8_t>().swap(text);
    if (!failed.empty()) return Named(path, failed);
    input.kind = *format == MemoryFormat::kMif ? PictureInput::Kind::kMif : PictureInput::Kind::kMem;
    input.memoryWords = std::move(memory.words);
    input.statedWordBits = memory.statedBits;
    input.description = std::move(memory.description);
    return {};
  }
  CoeContents contents = ReadCoe(text);
  if (!contents.error.empty()) return Named(path, contents.error);
  input.description = CoeDescription(text);
  if (input.description) {
    const unsigned bits = input.description->layout.wordBits;
    input.statedWordBits = bits;
    for (std::size_t i = 0; i < contents.words.size() && bits < 32; ++i) {
      if (contents.words[i] >> bits != 0) {
        return Named(path, "line " + std::to_string(CoeWordLine(text, i)) + ": the word " +
                               std::to_string(i) + " does not fit in " + std::to_string(bits) + " bits");
      }
    }
  }
  std::vector<std::uint8_t>().swap(text);  // the text is no longer needed
  input.kind = PictureInput::Kind::kCoe;
  input.width = 0;
  input.height = 0;
  input.words = std::move(contents.words);
  return {};
}

std::string ReadInput(const char* path, const PictureOptions& options, PictureInput& input) {
  errno = 0;
  std::FILE* opened = std::fopen(path, "rb");
  if (opened == nullptr) return Named(path, SystemError("cannot be opened", errno != 0 ? errno : ENOENT));
  FileCloser closer{opened};

  StatRecord info{};
  const bool statted = RASTROM_FSTAT(RASTROM_FILENO(opened), &info) == 0;
  if (statted && (info.st_mode & S_IFMT) == S_IFDIR) return Named(path, "is a directory");

  // The first bytes tell the kind.
  std::vector<std::uint8_t> text(kHeadBytes);
  errno = 0;
  const std::size_t n = std::fread(text.data(), 1, kHeadBytes, opened);
  if (n < kHeadBytes && std::ferror(opened)) {
    return Named(path, SystemError("cannot be read", errno != 0 ? errno : EIO));
  }
  text.resize(n);
  const Classified classified = Classify(text);
  if (classified.other != nullptr) return Refusal(path, options, classified.other);
  if (classified.kind == PictureInput::Kind::kPng || classified.kind == PictureInput::Kind::kJpeg) {
    if (const std::string failed = ReadRest(opened, text, false, KindName(classified.kind));
        !failed.empty()) {
      return Named(path, failed);
    }
    return DecodePicture(path, classified.kind, std::move(text), options, kMaxPictureBytes, input);
  }
  if (classified.kind == PictureInput::Kind::kBmp) {
    // The loader opens the file again by its name, so the two bytes must still be there.
    if (!statted || (info.st_mode & S_IFMT) != S_IFREG) {
      return Named(path, "a BMP file must be a regular file, not a pipe or device");
    }
    closer.file = nullptr;
    std::fclose(opened);
    return ReadBmp(path, options, input);
  }
  if (const std::string failed = ReadRest(opened, text, true, "COE file"); !failed.empty()) {
    return Named(path, failed);
  }
  return ReadCoeFile(path, text, input);
}

}  // namespace

bool ParseBackground(std::string_view text, std::uint32_t& colour) {
  if (!text.empty() && text.front() == '#') text.remove_prefix(1);
  if (text.size() != 6) return false;
  std::uint32_t value = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  colour = value;
  return true;
}

const char* KindName(PictureInput::Kind kind) {
  switch (kind) {
    case PictureInput::Kind::kBmp: return "BMP file";
    case PictureInput::Kind::kPng: return "PNG picture";
    case PictureInput::Kind::kJpeg: return "JPEG picture";
    case PictureInput::Kind::kCoe: return "COE file";
    case PictureInput::Kind::kMem: return ".mem file";
    case PictureInput::Kind::kMif: return ".mif file";
  }
  return "file";
}

std::string ReadPictureInput(const char* path, PictureInput& input) {
  return ReadPictureInput(path, PictureOptions{}, input);
}

std::string ReadPictureBytes(const char* path, std::span<const std::uint8_t> bytes,
                             const PictureOptions& options, PictureInput& input,
                             std::size_t maxPixelBytes) {
  try {
    PictureInput read;
    const Classified classified = Classify(bytes.first(std::min(bytes.size(), kHeadBytes)));
    if (classified.other != nullptr) return Refusal(path, options, classified.other);
    std::string failed;
    if (classified.kind == PictureInput::Kind::kBmp) {
      BmpHeader header;
      if (const BmpError error = ParseBmpHeader(bytes, header); error != BmpError::kNone) {
        return Named(path, std::string("starts like a BMP file but does not load as one (") +
                               BmpErrorText(error) + ")");
      }
      const auto width = static_cast<std::size_t>(header.width);
      if (4 * width > maxPixelBytes / static_cast<std::size_t>(header.height)) {
        return Named(path, "is a BMP file too large to decode here");
      }
      DecodedBmp decoded = DecodeBmp(bytes);
      if (options.backgroundGiven) CompositeBmpAlpha(bytes, options.background, decoded.pixels);
      read.kind = PictureInput::Kind::kBmp;
      read.width = decoded.width;
      read.height = decoded.height;
      read.rows = std::make_shared<WholePicture>(std::move(decoded.pixels), decoded.width,
                                                 decoded.height);
    } else if (classified.kind == PictureInput::Kind::kCoe) {
      std::vector<std::uint8_t> text(bytes.begin(), bytes.end());
      failed = ReadCoeFile(path, text, read);
    } else {
      failed = DecodePicture(path, classified.kind, std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                             options, maxPixelBytes, read);
    }
    if (failed.empty()) input = std::move(read);
    return failed;
  } catch (const std::bad_alloc&) {
    return Named(path, "is too large for the memory available");
  }
}

std::string ReadPictureInput(const char* path, const PictureOptions& options,
                             PictureInput& input) {
  // Memory runs short only for the largest inputs; that is a refusal, not a crash.
  try {
    PictureInput read;
    std::string failed = ReadInput(path, options, read);
    if (failed.empty()) input = std::move(read);
    return failed;
  } catch (const std::bad_alloc&) {
    return Named(path, "is too large for the memory available");
  }
}

}  // namespace rastrom
