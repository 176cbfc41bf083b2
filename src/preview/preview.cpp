#include "preview.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "bmp_rows.h"
#include "dither.h"
#include "memory_file.h"
#include "output_file.h"
#include "picture_input.h"
#include "pixel_format.h"
#include "word_layout.h"

namespace rastrom {

namespace {

constexpr const char* kProgram = "rastrom-preview";

constexpr const char* kUsage =
    "Usage: rastrom-preview <coe file> <width>[x<height>] <output bmp>\n"
    "       rastrom-preview <bmp file> <output bmp>\n"
    "       rastrom-preview [--pixel FORMAT] [--word BITS] [--align-rows | --pages]\n"
    "                       <memory or bmp file> [<width>[x<height>]] <output bmp>\n"
    "       rastrom-preview [--pixel FORMAT] --dither METHOD <bmp file> <output bmp>\n"
    "\n"
    "Shows what a memory of pixels holds, or how a picture looks in a display's pixel\n"
    "format, as a BMP picture: 8 bits a pixel with a palette for formats of up to 8 bits,\n"
    "else 24 bits. Each channel is widened to 8 bits by repeating its bits.\n"
    "\n"
    "  <memory file>     a COE, .mem or .mif file (told apart by content); one that\n"
    "                    rastrom-mem wrote describes itself: its size and layout come\n"
    "                    from its first comment. Else 32-bit words of four 3-3-2 pixels,\n"
    "                    the first pixel in the top byte, rows from the top-left, as\n"
    "                    rastrom writes them\n"
    "  <width>           pixels in a row; the height is what the words fill\n"
    "  <width>x<height>  the picture's size; the file must hold exactly the words it\n"
    "                    needs\n"
    "  <bmp file>        a picture: a BMP, PNG or JPEG file (told by its content), shown\n"
    "                    as its pixels are reduced to the format\n"
    "  <output bmp>      the picture to write; written completely or not at all\n"
    "\n"
    "Options (they win over a memory file's description):\n"
    "  --pixel FORMAT    rgbXYZ, bgrXYZ (X, Y, Z each 1-8), grayN (N 1-8) or mono\n"
    "                    (default rgb332); each channel keeps its top bits\n"
    "  --dither METHOD   for a BMP file: none (the default), floyd-steinberg or ordered,\n"
    "                    as rastrom-mem --dither reduces it. A dithered picture is\n"
    "                    written top row first\n"
    "  --word BITS       bits in a memory word, from the pixel's bits to 64 (default 32\n"
    "                    for rgb332, else one pixel a word)\n"
    "  --align-rows      every picture row starts a new word\n"
    "  --pages           display pages: a word holds a column of pixels, the top one in\n"
    "                    the lowest bits\n"
    "  --background RRGGBB\n"
    "                    the colour under a picture's transparent parts, in hex (default\n"
    "                    000000); a BMP file's alpha channel is used only when it is given\n"
    "\n"
    "Examples: rastrom-preview logo.coe 640x480 logo-preview.bmp\n"
    "          rastrom-preview picture.mem picture-preview.bmp\n"
    "          rastrom-preview --pixel rgb444 photo.bmp photo-444.bmp\n"
    "          rastrom-preview --dither floyd-steinberg photo.bmp photo-332.bmp\n"
    "          rastrom-preview --background FFFFFF logo.png logo-preview.bmp\n"
    "\n"
    "Exit status: 0 when the picture is written, 1 on a failure, 2 on a usage error.\n";

// The picture's size from the command line; height 0 when only the width was given.
struct Size {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

struct Options {
  std::optional<PixelFormat> pixel;
  DitherMethod dither = DitherMethod::kNone;
  std::optional<unsigned> wordBits;
  bool alignRows = false;
  bool pages = false;
  PictureOptions picture;
};

// Reads a positive decimal number of at most 2,147,483,647 (a BMP side) from the front
// of `text`, and moves `text` past it.
bool ReadSide(const char*& text, std::uint64_t& side) {
  if (*text < '1' || *text > '9') return false;
  side = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    side = side * 10 + static_cast<std::uint64_t>(*text - '0');
    if (side > 0x7FFFFFFF) return false;
  }
  return true;
}

// "<width>" or "<width>x<height>" (x or X), each side 1 to 2,147,483,647.
bool ParseSize(const char* text, Size& size) {
  if (!ReadSide(text, size.width)) return false;
  size.height = 0;
  if (*text == '\0') return true;
  if (*text != 'x' && *text != 'X') return false;
  ++text;
  return ReadSide(text, size.height) && *text == '\0';
}

std::string Decimal(std::uint64_t n) { return std::to_string(n); }

int Fail(const std::string& reason) {
  std::fprintf(stderr, "%s: %s\n", kProgram, reason.c_str());
  return 1;
}

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgram,
               reason.c_str(), kProgram);
  return 2;
}

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

// The layout of a memory: what the options say, else what the file says of itself, else
// the converter's.
WordLayout MemoryLayout(const Options& options, const MemoryPicture& described) {
  WordLayout layout = described.layout;
  if (options.pixel) {
    layout.format = *options.pixel;
    layout.wordBits = DefaultWordBits(layout.format);
  }
  if (options.wordBits) layout.wordBits = *options.wordBits;
  if (options.alignRows || options.pages) {
    layout.alignRows = options.alignRows;
    layout.pages = options.pages;
  }
  return layout;
}

// The rows that `words` fill at `width` pixels a row.
std::uint64_t RowsFilled(const WordLayout& layout, std::uint64_t words, std::uint64_t width) {
  const unsigned k = PixelsPerWord(layout);
  if (layout.pages) return CeilDiv(words, width) * k;
  if (layout.alignRows) return CeilDiv(words, CeilDiv(width, k));
  // Both factors are below 2^32 (words at most 2^28, k at most 64): no overflow.
  return CeilDiv(words * k, width);
}

// Writes the BMP: the header, then every row from the bottom up (or from the top down) as
// `rows` hands their pixel values to the function it is given. Returns the exit status.
template <typename RowValues>
int WritePreview(const char* output, const PixelFormat& format, std::uint64_t width,
                 std::uint64_t height, RowValues&& rows, bool topDown = false) {
  OutputFile file;
  if (const int error = file.Open(output); error != 0) {
    return Fail(std::string("cannot write ") + output + ": " + std::strerror(error));
  }
  file.Reserve(static_cast<std::int64_t>(PreviewFileSize(format, width, height)));
  const std::string header = PreviewHeader(format, width, height, topDown);
  file.Write(header.data(), header.size());
  // Stored rows gather in a block of about 64 KiB (at least a row), written when full: a
  // write call a row would cost more than the row's bytes.
  const std::size_t rowBytes = static_cast<std::size_t>(PreviewRowBytes(format, width));
  const std::size_t blockRows = std::max<std::size_t>(1, (std::size_t{64} << 10) / rowBytes);
  const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(blockRows * rowBytes);
  std::size_t used = 0;
  std::string failed = rows([&](auto row) {
    // Pixel values, or a stored row of bytes already.
    const std::span<std::uint8_t> stored(block.get() + used, rowBytes);
    if constexpr (std::is_same_v<decltype(row), std::span<const std::uint32_t>>) {
      PreviewRow(format, row, stored);
    } else {
      std::copy(row.begin(), row.end(), stored.begin());
      std::fill(stored.begin() + static_cast<std::ptrdiff_t>(row.size()), stored.end(), std::uint8_t{0});
    }
    used += rowBytes;
    if (used < blockRows * rowBytes) return true;
    used = 0;
    return file.Write(block.get(), blockRows * rowBytes);
  });
  if (failed.empty() && used > 0) file.Write(block.get(), used);
  if (!failed.empty()) {
    file.Discard();
    return Fail(failed);
  }
  if (const int error = file.Commit(); error != 0) {
    return Fail(std::string("cannot write ") + output + ": " + std::strerror(error));
  }
  return 0;
}

int PreviewPicture(const char* source, const char* output, const PictureInput& input,
                   const Options& options) {
  const PixelFormat format = options.pixel.value_or(kRgb332);
  const auto width = static_cast<std::uint64_t>(input.width);
  const auto height = static_cast<std::uint64_t>(input.height);
  if (PreviewFileSize(format, width, height) == 0) {
    return Fail("a picture of " + Decimal(width) + " x " + Decimal(height) +
                " pixels is too large for a BMP file");
  }
  // The BMP stores the bottom row first, so the bands come from the bottom up. The
  // top-bits reduction keeps no state from row to row, so it may take the rows in that
  // order; a ditherer needs them from the top down, and its picture is stored that way.
  const bool topDown = options.dither != DitherMethod::kNone;
  const std::unique_ptr<RowReducer> reducer =
      MakeRowReducer(options.dither, format, static_cast<std::size_t>(width));
  // Without dithering, a format of at most 8 bits goes from the picture's rows straight to
  // the stored bytes.
  const auto* bytes = options.dither == DitherMethod::kNone && PalettedPreview(format)
                          ? dynamic_cast<const TopBitsReducer*>(reducer.get())
                          : nullptr;
  return WritePreview(output, format, width, height, [&](auto&& put) {
    std::vector<std::uint32_t> values(bytes ? 0 : width);
    std::vector<std::uint8_t> stored(bytes ? width : 0);
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width);
    if (bytes && input.HasStoredRows()) {
      // A 24-bit file's rows go to bytes as the file stores them, never widened.
      std::string failed = input.ReadStoredRows(RowOrder::kBottomUp, [&](const StoredRows& band) {
        for (std::int32_t i = band.rowCount - 1; i >= 0; --i) {
          bytes->ReduceBgr24RowToBytes(band.Row(i), stored);
          if (!put(std::span<const std::uint8_t>(stored))) return false;
        }
        return true;
      });
      return failed.empty() ? failed : std::string(source) + ": " + failed;
    }
    std::string failed = input.ReadRows(topDown ? RowOrder::kTopDown : RowOrder::kBottomUp,
                                        [&](std::int32_t, std::int32_t rowCount,
                                            std::span<const std::uint8_t> rows) {
      for (std::int32_t i = 0; i < rowCount; ++i) {
        const std::int32_t r = topDown ? i : rowCount - 1 - i;
        if (bytes) {
          bytes->ReduceRowToBytes(rows.subspan(r * rowBytes, rowBytes), stored);
          if (!put(std::span<const std::uint8_t>(stored))) return false;
          continue;
        }
        reducer->ReduceRow(rows.subspan(r * rowBytes, rowBytes), values);
        if (!put(std::span<const std::uint32_t>(values))) return false;
      }
      return true;
    });
    return failed.empty() ? failed : std::string(source) + ": " + failed;
  }, topDown);
}

int PreviewMemory(const char* source, const char* output, PictureInput& input,
                  const Options& options, bool sizeGiven, const Size& asked) {
  std::vector<std::uint64_t> words;
  if (input.kind == PictureInput::Kind::kCoe) {
    words.assign(input.words.begin(), input.words.end());
  } else {
    words = std::move(input.memoryWords);
  }
  const MemoryPicture described = DescribedPicture(input.description, input.statedWordBits, words.size());
  const WordLayout layout = MemoryLayout(options, described);
  if (const std::string wrong = CheckWordLayout(layout); !wrong.empty()) {
    return UsageError(wrong);
  }
  for (std::size_t i = 0; i < words.size() && layout.wordBits < 64; ++i) {
    if (words[i] >> layout.wordBits != 0) {
      return Fail(std::string(source) + ": the word at address " + Decimal(i) + " does not fit in " +
                  Decimal(layout.wordBits) + " bits");
    }
  }

  Size size = asked;
  if (!sizeGiven) {
    if (described.width == 0) {
      return UsageError(std::string(source) +
                        (input.kind == PictureInput::Kind::kCoe ? " is a COE file" : " is a memory file") +
                        "; give the picture's <width> or <width>x<height>");
    }
    size = {described.width, described.height};
  }
  if (size.height == 0) {
    // The rows the words fill; the last one may end in padding, shown black.
    size.height = RowsFilled(layout, words.size(), size.width);
  } else if (const std::uint64_t needed = WordCount(layout, size.width, size.height); needed != words.size()) {
    return Fail(std::string(source) + " holds " + Decimal(words.size()) +
                (words.size() == 1 ? " word" : " words") + "; " + Decimal(size.width) + " x " +
                Decimal(size.height) + " pixels need " + Decimal(needed));
  }
  if (PreviewFileSize(layout.format, size.width, size.height) == 0) {
    return Fail("a picture of " + Decimal(size.width) + " x " + Decimal(size.height) +
                " pixels is too large for a BMP file");
  }
  return WritePreview(output, layout.format, size.width, size.height, [&](auto&& put) {
    std::vector<std::uint32_t> values(size.width);
    for (std::uint64_t y = size.height; y-- > 0;) {
      for (std::uint64_t x = 0; x < size.width; ++x) values[x] = PixelAt(layout, size.width, words, x, y);
      if (!put(std::span<const std::uint32_t>(values))) break;
    }
    return std::string();
  });
}

// Reads one option that takes a value, "--name value" or "--name=value". Returns 0, or
// the exit status of a usage error.
int ReadOption(std::string_view name, std::string_view value, Options& options) {
  if (name == "--word") {
    unsigned bits = 0;
    if (!ParseWordBits(value, bits)) {
      return UsageError("--word takes the bits of a word, 1 to 64, not '" + std::string(value) + "'");
    }
    options.wordBits = bits;
    return 0;
  }
  if (name == "--dither") {
    if (!ParseDitherMethod(value, options.dither)) {
      return UsageError("--dither takes none, floyd-steinberg or ordered, not '" + std::string(value) + "'");
    }
    return 0;
  }
  options.pixel = ParsePixelFormat(value);
  return options.pixel ? 0 : UsageError(UnknownPixelFormat(value));
}

int Run(int argc, const char* const* argv) {
  std::vector<const char*> operands;
  Options options;
  bool optionsOn = true;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    const std::string_view arg = argument;
    if (optionsOn && arg == "--") {
      optionsOn = false;
    } else if (optionsOn && argument[0] == '-' && argument[1] != '\0') {
      if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
      }
      if (arg == "--version") {
        std::printf("%s %s\n", kProgram, RASTROM_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
      }
      if (arg == "--align-rows" || arg == "--pages") {
        (arg == "--pages" ? options.pages : options.alignRows) = true;
        continue;
      }
      const std::string_view name = arg.substr(0, arg.find('='));
      if (name != "--word" && name != "--pixel" && name != "--dither" && name != "--background") {
        return UsageError(std::string("unknown option '") + argument + "'");
      }
      std::string_view value;
      if (name.size() < arg.size()) {
        value = arg.substr(name.size() + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return UsageError(std::string(name) + " needs a value");
      }
      if (name == "--background") {
        if (!ParseBackground(value, options.picture.background)) {
          return UsageError("--background takes a colour RRGGBB in hex, such as FFFFFF, not '" +
                            std::string(value) + "'");
        }
        options.picture.backgroundGiven = true;
        continue;
      }
      if (const int status = ReadOption(name, value, options); status != 0) return status;
    } else {
      operands.push_back(argument);
    }
  }
  if (operands.size() < 2) return UsageError("missing operands");
  if (operands.size() > 3) return UsageError("too many operands");
  if (options.alignRows && options.pages) {
    return UsageError("--align-rows and --pages cannot go together");
  }
  if (options.pixel && options.wordBits && *options.wordBits < PixelBits(*options.pixel)) {
    return UsageError(CheckWordLayout(WordLayout{*options.pixel, *options.wordBits, false, false}));
  }

  const char* source = operands.front();
  const char* output = operands.back();
  Size asked;
  if (operands.size() == 3 && !ParseSize(operands[1], asked)) {
    return UsageError(std::string("'") + operands[1] +
                      "' is not a size: give <width> or <width>x<height>, such as 640x480, "
                      "each from 1 to 2147483647");
  }
  if (IsSameFile(source, output)) {
    return Fail(std::string(output) + " is the input file; name another output");
  }

  PictureInput input;
  options.picture.program = kProgram;
  if (std::string failed = ReadPictureInput(source, options.picture, input); !failed.empty()) {
    return Fail(failed);
  }
  if (input.rows) {  // a picture, shown in the pixel format
    if (operands.size() == 3) {
      return UsageError(std::string(source) + " is a " + KindName(input.kind) +
                        " and its size comes from the image; give no size");
    }
    return PreviewPicture(source, output, input, options);
  }
  if (options.dither != DitherMethod::kNone) {
    return UsageError(std::string("--dither reduces a BMP file's colours; ") + source +
                      " is a memory file, whose pixels are already reduced");
  }
  return PreviewMemory(source, output, input, options, operands.size() == 3, asked);
}

}  // namespace

int RunPreview(int argc, const char* const* argv) {
  HandleOutputSignals();
  // Only the largest pictures can exhaust memory; that is a failure to report, not a crash.
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail("not enough memory for this picture");
  }
}

}  // namespace rastrom
