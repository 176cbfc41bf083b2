#include "picture_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "coe_reader.h"
#include "coe_writer.h"
#include "loader.h"

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

// The largest COE text read: 2 GiB, well beyond the words of the largest image the
// converter writes (2^29 pixels, about 1.5 GB of text).
constexpr std::size_t kMaxTextBytes = std::size_t{1} << 31;

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

// Reads the rest of `file` after the `start` bytes already in `text`. Reading stops after
// a NUL byte, which no text holds: the COE reader refuses the file at the first one, so a
// device such as /dev/zero is never read to its end. Returns an empty string or the reason.
std::string ReadRest(std::FILE* file, std::vector<std::uint8_t>& text) {
  StatRecord info{};
  if (RASTROM_FSTAT(RASTROM_FILENO(file), &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG &&
      info.st_size > 0 && static_cast<std::uint64_t>(info.st_size) <= kMaxTextBytes) {
    text.reserve(static_cast<std::size_t>(info.st_size));  // a hint; a growing file still reads
  }
  constexpr std::size_t kChunk = 65536;
  while (true) {
    const std::size_t used = text.size();
    if (used > kMaxTextBytes) return "larger than 2 GiB; too large for a COE file";
    text.resize(used + kChunk);
    errno = 0;
    const std::size_t n = std::fread(text.data() + used, 1, kChunk, file);
    text.resize(used + n);
    if (n > 0 && std::memchr(text.data() + used, 0, n) != nullptr) return {};
    if (n < kChunk) {
      if (std::ferror(file)) return SystemError("cannot be read", errno != 0 ? errno : EIO);
      return {};
    }
  }
}

// A picture held whole: four bytes a pixel, from the top row down. Handed out in bands of
// about 256 KiB, so a reader of bands sees the same as from a file read band by band.
class WholePicture final : public RowSource {
 public:
  WholePicture(PixelBuffer pixels, std::int32_t width, std::int32_t height)
      : pixels_(std::move(pixels)), width_(width), height_(height) {}

  std::string ReadRows(RowOrder order, const RowSink& sink) const override {
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width_);
    const std::int32_t bandRows =
        static_cast<std::int32_t>(std::max<std::size_t>(1, (std::size_t{256} << 10) / rowBytes));
    const std::int32_t bands = (height_ + bandRows - 1) / bandRows;
    for (std::int32_t b = 0; b < bands; ++b) {
      const std::int32_t band = order == RowOrder::kTopDown ? b : bands - 1 - b;
      const std::int32_t first = band * bandRows;
      const std::int32_t count = std::min(bandRows, height_ - first);
      const std::span<const std::uint8_t> rows(pixels_.data() + first * rowBytes,
                                               static_cast<std::size_t>(count) * rowBytes);
      if (!sink(first, count, rows)) break;
    }
    return {};
  }

 private:
  PixelBuffer pixels_;
  std::int32_t width_;
  std::int32_t height_;
};

std::string ReadBmp(const char* path, PictureInput& input) {
  PixelBuffer pixels;
  BITMAP bitmap{};
  if (LoadBitmapPixels(path, pixels, bitmap) != LoadError::kNone) {
    return Named(path, "starts like a BMP file but does not load as one");
  }
  // On Windows the platform may keep an image at its own depth; the converter refuses it too.
  if (bitmap.bmPlanes != 1 || bitmap.bmBitsPixel != 32) {
    return Named(path, "loads as " + std::to_string(bitmap.bmPlanes) + " plane(s) of " +
                           std::to_string(bitmap.bmBitsPixel) +
                           " bits per pixel; only 1 plane of 32 bits is supported");
  }
  // The loader refuses negative sizes and keeps 4 x width x height within a signed 32-bit
  // count, so the product below cannot overflow; the buffer is checked against it anyway.
  const auto pixelCount = static_cast<std::size_t>(bitmap.bmWidth) *
                          static_cast<std::size_t>(bitmap.bmHeight);
  if (bitmap.bmWidth < 0 || bitmap.bmHeight < 0 || pixels.byteCount() < 0 ||
      static_cast<std::size_t>(pixels.byteCount()) / 4 < pixelCount) {
    return Named(path, "loads with fewer pixel bytes than its size needs");
  }
  input.kind = PictureInput::Kind::kBmp;
  input.width = bitmap.bmWidth;
  input.height = bitmap.bmHeight;
  input.rows = std::make_shared<WholePicture>(std::move(pixels), bitmap.bmWidth, bitmap.bmHeight);
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

std::string ReadInput(const char* path, PictureInput& input) {
  errno = 0;
  std::FILE* opened = std::fopen(path, "rb");
  if (opened == nullptr) return Named(path, SystemError("cannot be opened", errno != 0 ? errno : ENOENT));
  FileCloser closer{opened};

  StatRecord info{};
  const bool statted = RASTROM_FSTAT(RASTROM_FILENO(opened), &info) == 0;
  if (statted && (info.st_mode & S_IFMT) == S_IFDIR) return Named(path, "is a directory");

  // The first two bytes tell a BMP file from a COE file.
  std::vector<std::uint8_t> text(2);
  errno = 0;
  const std::size_t n = std::fread(text.data(), 1, 2, opened);
  if (n < 2 && std::ferror(opened)) return Named(path, SystemError("cannot be read", errno != 0 ? errno : EIO));
  text.resize(n);
  if (n == 2 && text[0] == 'B' && text[1] == 'M') {
    // The loader opens the file again by its name, so the two bytes must still be there.
    if (!statted || (info.st_mode & S_IFMT) != S_IFREG) {
      return Named(path, "a BMP file must be a regular file, not a pipe or device");
    }
    closer.file = nullptr;
    std::fclose(opened);
    return ReadBmp(path, input);
  }
  if (const std::string failed = ReadRest(opened, text); !failed.empty()) {
    return Named(path, failed);
  }
  return ReadCoeFile(path, text, input);
}

}  // namespace

std::string ReadPixels332(const char* path, const PictureInput& input,
                          std::vector<std::uint8_t>& pixels) {
  try {
    if (!input.rows) {
      pixels.resize(input.words.size() * 4);
      std::size_t at = 0;
      for (const std::uint32_t word : input.words) {
        for (int shift = 24; shift >= 0; shift -= 8) {
          pixels[at++] = static_cast<std::uint8_t>(word >> shift);
        }
      }
      return {};
    }
    const auto width = static_cast<std::size_t>(input.width);
    pixels.resize(width * static_cast<std::size_t>(input.height));
    std::string failed = input.ReadRows(
        RowOrder::kTopDown,
        [&](std::int32_t firstRow, std::int32_t rowCount, std::span<const std::uint8_t> rows) {
          ReducePixels332(rows.data(), width * static_cast<std::size_t>(rowCount),
                          pixels.data() + width * static_cast<std::size_t>(firstRow));
          return true;
        });
    return failed.empty() ? failed : Named(path, failed);
  } catch (const std::bad_alloc&) {
    return Named(path, "is too large for the memory available");
  }
}

std::string ReadPictureInput(const char* path, PictureInput& input) {
  // Memory runs short only for the largest inputs; that is a refusal, not a crash.
  try {
    PictureInput read;
    std::string failed = ReadInput(path, read);
    if (failed.empty()) input = std::move(read);
    return failed;
  } catch (const std::bad_alloc&) {
    return Named(path, "is too large for the memory available");
  }
}

}  // namespace rastrom
