#include "mem_run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dither.h"
#include "memory_file.h"
#include "output_file.h"
#include "picture_input.h"
#include "pixel_format.h"
#include "row_pipeline.h"
#include "word_layout.h"

namespace rastrom {

namespace {

constexpr const char* kUsage =
    "Usage: rastrom-mem [--pixel FORMAT] [--dither METHOD] [--word BITS]\n"
    "                   [--align-rows | --pages] [--format mem|mif|coe]\n"
    "                   [--background RRGGBB] <input> <output>\n";

constexpr const char* kHelp =
    "\n"
    "Writes a picture's memory as a .mem file (Verilog $readmemh, the vendors' memory macros,\n"
    "Yosys), a .mif file (Quartus) or a COE file (Xilinx). The input is a BMP, PNG or JPEG\n"
    "picture (told by its content, not its name), or a memory file (COE, .mem, .mif) that\n"
    "describes itself in its first comment, or a COE file of 32-bit words of four 3-3-2\n"
    "pixels as rastrom writes it.\n"
    "\n"
    "Options (before the file names):\n"
    "  --pixel FORMAT    the pixel format (default rgb332):\n"
    "                      rgbXYZ  X bits of red on top, then Y of green, Z of blue\n"
    "                              (each 1-8: rgb111, rgb332, rgb444, rgb565, rgb888)\n"
    "                      bgrXYZ  X bits of blue on top, Y of green, Z of red (bgr233)\n"
    "                      grayN   N bits of grey (1-8), the luma; mono is gray1\n"
    "  --dither METHOD   how each channel (or the grey) is reduced to its bits:\n"
    "                      none             keeps its top bits (the default)\n"
    "                      floyd-steinberg  spreads the error over the neighbours: the\n"
    "                                       best still picture\n"
    "                      ordered          an 8x8 pattern of thresholds: a pixel depends\n"
    "                                       on its own colour and place only, for pictures\n"
    "                                       that change frame by frame\n"
    "  --word BITS       bits in a memory word, from the pixel's bits to 64: it holds\n"
    "                    BITS / pixel bits pixels, the first in the most significant place\n"
    "                    (default 32 for rgb332, else one pixel a word)\n"
    "  --align-rows      every picture row starts a new word\n"
    "  --pages           display pages (SSD1306 and other OLEDs): a word holds a column of\n"
    "                    pixels, the top one in the lowest bits; pages of rows from the top\n"
    "  --format mem|mif|coe  the output's format (default: from the output's extension)\n"
    "  --background RRGGBB\n"
    "                    the colour under a picture's transparent parts, in hex (default\n"
    "                    000000); a BMP file's alpha channel is used only when it is given\n"
    "  --help            print this help and exit\n"
    "  --version         print the program's name and version and exit\n"
    "\n"
    "Examples:\n"
    "  rastrom-mem --pixel rgb444 picture.bmp picture.mem      Basys 3, Nexys A7, DE10-Lite\n"
    "  rastrom-mem --dither floyd-steinberg photo.bmp photo.mem a photo at 3-3-2\n"
    "  rastrom-mem --pixel rgb565 --word 16 picture.bmp lcd.mem ST7735, ILI9341 LCDs\n"
    "  rastrom-mem --pixel mono --word 8 --pages logo.bmp oled.mem SSD1306 OLED\n"
    "  rastrom-mem --pixel rgb444 --background FFFFFF logo.png logo.mem\n";

struct Options {
  std::optional<PixelFormat> pixel;
  DitherMethod dither = DitherMethod::kNone;
  std::optional<unsigned> wordBits;
  bool alignRows = false;
  bool pages = false;
  std::optional<MemoryFormat> format;
  PictureOptions picture;
  std::vector<const char*> files;
  bool help = false;
  bool version = false;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "rastrom-mem: %s\n%sTry 'rastrom-mem --help' for more.\n",
               message.c_str(), kUsage);
  return 2;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<MemoryFormat> FormatNamed(std::string_view name) {
  if (EqualsIgnoringCase(name, "mem")) return MemoryFormat::kMem;
  if (EqualsIgnoringCase(name, "mif")) return MemoryFormat::kMif;
  if (EqualsIgnoringCase(name, "coe")) return MemoryFormat::kCoe;
  return std::nullopt;
}

// The last component of a path: what follows the last slash (or backslash on Windows).
std::string_view BaseName(std::string_view path) {
#ifdef _WIN32
  const auto slash = path.find_last_of("/\\:");
#else
  const auto slash = path.find_last_of('/');
#endif
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The format that the output's extension names, in any letter case.
std::optional<MemoryFormat> FormatOfPath(std::string_view path) {
  const std::string_view name = BaseName(path);
  const auto dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return std::nullopt;
  return FormatNamed(name.substr(dot + 1));
}

// Reads the options and the file names. Returns 0, or the exit status of a usage error
// after printing it.
int ParseCommandLine(int argc, const char* const* argv, Options& options) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      // The first file name ends the options.
      optionsEnded = true;
      options.files.push_back(argv[i]);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return 0;
    }
    if (arg == "--version") {
      options.version = true;
      return 0;
    }
    if (arg == "--align-rows" || arg == "--pages") {
      (arg == "--pages" ? options.pages : options.alignRows) = true;
      continue;
    }
    // "--word 16" or "--word=16", and the same for --format and --pixel.
    std::string_view name = arg, value;
    bool hasValue = false;
    if (const auto equals = arg.find('='); equals != std::string_view::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      hasValue = true;
    }
    if (name != "--word" && name != "--format" && name != "--pixel" && name != "--dither" &&
        name != "--background") {
      return UsageError("unknown option '" + std::string(arg) + "'");
    }
    if (!hasValue) {
      if (i + 1 == argc) {
        return UsageError(std::string(name) + " needs a value: " +
                          (name == "--word"     ? "the bits of a word, 1 to 64"
                           : name == "--pixel"  ? "a pixel format such as rgb444"
                           : name == "--dither" ? "none, floyd-steinberg or ordered"
                           : name == "--format" ? "mem, mif or coe"
                                                : "a colour RRGGBB, such as FFFFFF"));
      }
      value = argv[++i];
    }
    if (name == "--word") {
      unsigned bits = 0;
      if (!ParseWordBits(value, bits)) {
        return UsageError("--word takes the bits of a word, 1 to 64, not '" + std::string(value) + "'");
      }
      options.wordBits = bits;
    } else if (name == "--pixel") {
      options.pixel = ParsePixelFormat(value);
      if (!options.pixel) return UsageError(UnknownPixelFormat(value));
    } else if (name == "--dither") {
      if (!ParseDitherMethod(value, options.dither)) {
        return UsageError("--dither takes none, floyd-steinberg or ordered, not '" + std::string(value) + "'");
      }
    } else if (name == "--background") {
      if (!ParseBackground(value, options.picture.background)) {
        return UsageError("--background takes a colour RRGGBB in hex, such as FFFFFF, not '" +
                          std::string(value) + "'");
      }
      options.picture.backgroundGiven = true;
    } else {
      options.format = FormatNamed(value);
      if (!options.format) {
        return UsageError("--format takes mem, mif or coe, not '" + std::string(value) + "'");
      }
    }
  }

  if (options.files.size() != 2) {
    for (std::size_t i = 1; i < options.files.size(); ++i) {
      if (options.files[i][0] == '-' && options.files[i][1] != '\0') {
        return UsageError("options come before the file names: '" +
                          std::string(options.files[i]) + "'");
      }
    }
    return UsageError(options.files.empty() ? "an input and an output file are needed"
                      : options.files.size() == 1
                          ? "an output file is needed after the input"
                          : "too many file names: an input and an output are needed");
  }
  const PixelFormat format = options.pixel.value_or(kRgb332);
  const unsigned bits = options.wordBits.value_or(DefaultWordBits(format));
  if (bits < PixelBits(format)) {
    return UsageError("--word " + std::to_string(bits) + " is narrower than a " +
                      PixelFormatName(format) + " pixel of " + std::to_string(PixelBits(format)) +
                      " bits");
  }
  if (options.alignRows && options.pages) {
    return UsageError("--align-rows and --pages cannot go together");
  }
  if (!options.format) {
    options.format = FormatOfPath(options.files[1]);
    if (!options.format) {
      return UsageError("cannot tell the format of '" + std::string(options.files[1]) +
                        "': name it .mem, .mif or .coe, or give --format mem|mif|coe");
    }
  }
  return 0;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "rastrom-mem: %s\n", message.c_str());
  return 1;
}

// Where the pixels come from: a picture's rows, or the words of a memory file shown again.
struct Source {
  std::uint64_t width = 0, height = 0;  // a memory of unknown size is one row of its pixels
  bool sized = true;
  std::vector<std::uint64_t> words;  // a memory file's
  MemoryPicture memory;
};

int Convert(const Options& options, const WordLayout& layout, const PictureInput& input,
            Source& source) {
  const char* inputPath = options.files[0];
  const char* outputPath = options.files[1];

  MemoryDescription description;
  description.source = std::string(BaseName(inputPath));
  if (source.sized) {
    description.width = source.width;
    description.height = source.height;
  }
  description.pixelCount = source.width * source.height;
  description.layout = layout;
  description.depth = WordCount(layout, source.width, source.height);
  // The converter's own layout in a COE file stays byte for byte the converter's file.
  const bool convertersCoe = *options.format == MemoryFormat::kCoe &&
                             layout == WordLayout{kRgb332, 32, false, false};
  const WordFile file{*options.format, layout.wordBits, description.depth,
                      convertersCoe ? std::string() : DescriptionText(description)};

  OutputFile output;
  if (const int error = output.Open(outputPath); error != 0) {
    return Failure(std::string(outputPath) + ": cannot be written (" + std::strerror(error) + ")");
  }
  output.Reserve(static_cast<std::int64_t>(WordFileSize(file)));
  WordFileWriter writer(file, [&](std::string_view text) { return output.Write(text.data(), text.size()); });
  WordPacker packer(layout, source.width, [&](std::span<const std::uint64_t> words) { return writer.Put(words); });
  // A memory of unknown size is one long row of pixels in sequence; it is handed over in
  // slices, which give the same words (a ditherer takes them as rows of a picture).
  const std::uint64_t sliceWidth = source.sized ? source.width : std::min<std::uint64_t>(source.width, 4096);
  const std::unique_ptr<RowReducer> reducer =
      MakeRowReducer(options.dither, layout.format, static_cast<std::size_t>(sliceWidth));
  std::vector<std::uint32_t> values(sliceWidth);
  const std::size_t rowBytes = 4 * static_cast<std::size_t>(sliceWidth);

  std::string failed;
  bool written = true;
  // Without dithering, a 24-bit BMP's rows are reduced as the file stores them, never
  // widened to four bytes a pixel.
  const auto* topBits =
      options.dither == DitherMethod::kNone ? dynamic_cast<const TopBitsReducer*>(reducer.get()) : nullptr;
  if (topBits && input.HasStoredRows()) {
    failed = input.ReadStoredRows(RowOrder::kTopDown, [&](const StoredRows& band) {
      for (std::int32_t i = 0; i < band.rowCount && written; ++i) {
        topBits->ReduceBgr24Row(band.Row(i), values);
        written = packer.PutRow(values);
      }
      return written;
    });
  } else if (input.rows) {  // a picture, whatever its file format
    // Dithering a large picture runs on a thread of its own while this one reads and writes.
    const bool threaded = options.dither != DitherMethod::kNone && WorthASecondThread(source.width, source.height);
    RowPipeline pipeline(*reducer, static_cast<std::size_t>(source.width),
                         [&](std::span<const std::uint32_t> row) { return packer.PutRow(row); }, threaded);
    // Rows strictly from the top down, as a reducer with state needs them.
    failed = input.ReadRows(RowOrder::kTopDown, [&](std::int32_t, std::int32_t rowCount,
                                                    std::span<const std::uint8_t> rows) {
      written = pipeline.Put(rows.first(static_cast<std::size_t>(rowCount) * rowBytes));
      return written;
    });
    if (failed.empty()) written = written && pipeline.Finish();
  } else if (source.sized) {
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint64_t y = 0; y < source.height && written; ++y) {
      ShowRow(source.memory.layout, source.width, source.words, y, row);
      reducer->ReduceRow(row, values);
      written = packer.PutRow(values);
    }
  } else {
    for (std::uint64_t first = 0; first < source.width && written; first += sliceWidth) {
      const std::size_t n = static_cast<std::size_t>(std::min(sliceWidth, source.width - first));
      std::vector<std::uint8_t> slice(4 * n);
      for (std::size_t i = 0; i < n; ++i) {
        const Rgb8 c = ShowPixel(source.memory.layout.format,
                                 PixelAt(source.memory.layout, source.width, source.words, first + i, 0));
        slice[4 * i] = c.blue;
        slice[4 * i + 1] = c.green;
        slice[4 * i + 2] = c.red;
      }
      reducer->ReduceRow(slice, std::span(values).first(n));
      written = packer.PutRow(std::span<const std::uint32_t>(values).first(n));
    }
  }
  if (!failed.empty()) return Failure(std::string(inputPath) + ": " + failed);
  written = written && packer.Finish() && writer.Finish();
  // Writing stops only at a failed write, which Commit reports; an unfinished output is
  // discarded when `output` goes out of scope.
  if (const int error = written || output.error() != 0 ? output.Commit() : EIO; error != 0) {
    return Failure(std::string(outputPath) + ": cannot be written (" + std::strerror(error) + ")");
  }
  return 0;
}

int WriteMemoryFile(const Options& options) {
  const char* inputPath = options.files[0];
  const char* outputPath = options.files[1];
  if (IsSameFile(inputPath, outputPath)) {
    return Failure(std::string(outputPath) + ": is the input file; the output needs another name");
  }

  PictureInput picture;
  PictureOptions pictureOptions = options.picture;
  pictureOptions.program = "rastrom-mem";
  if (const std::string failed = ReadPictureInput(inputPath, pictureOptions, picture);
      !failed.empty()) {
    return Failure(failed);
  }
  WordLayout layout;
  layout.format = options.pixel.value_or(kRgb332);
  layout.wordBits = options.wordBits.value_or(DefaultWordBits(layout.format));
  layout.alignRows = options.alignRows;
  layout.pages = options.pages;

  Source source;
  if (picture.rows) {
    source.width = static_cast<std::uint64_t>(picture.width);
    source.height = static_cast<std::uint64_t>(picture.height);
  } else {
    if (picture.kind == PictureInput::Kind::kCoe) {
      source.words.assign(picture.words.begin(), picture.words.end());
    } else {
      source.words = std::move(picture.memoryWords);
    }
    source.memory = DescribedPicture(picture.description, picture.statedWordBits, source.words.size());
    const unsigned bits = source.memory.layout.wordBits;
    for (std::size_t i = 0; i < source.words.size() && bits < 64; ++i) {
      if (source.words[i] >> bits != 0) {
        return Failure(std::string(inputPath) + ": the word at address " + std::to_string(i) +
                       " does not fit in " + std::to_string(bits) + " bits");
      }
    }
    // The description is the file's word, not a fact: its size must be what the words fill.
    if (source.memory.width > 0) {
      const std::uint64_t needed = WordCount(source.memory.layout, source.memory.width, source.memory.height);
      if (needed != source.words.size()) {
        return Failure(std::string(inputPath) + ": its first comment describes " +
                       std::to_string(source.memory.width) + " x " + std::to_string(source.memory.height) +
                       " pixels in " + std::to_string(needed) + " words, but it holds " +
                       std::to_string(source.words.size()));
      }
    }
    source.sized = source.memory.width > 0;
    source.width = source.sized ? source.memory.width : source.memory.pixelCount;
    source.height = source.sized ? source.memory.height : 1;
    if (!source.sized && (layout.alignRows || layout.pages)) {
      return UsageError(std::string(layout.pages ? "--pages" : "--align-rows") +
                        " needs the picture's size, and " + inputPath + " does not give it");
    }
  }
  if (source.width == 0 || source.height == 0) {
    return Failure(std::string(inputPath) + ": holds no pixels");
  }
  return Convert(options, layout, picture, source);
}

}  // namespace

int RunMemoryFileProgram(int argc, const char* const* argv) {
  HandleOutputSignals();
  Options options;
  if (const int status = ParseCommandLine(argc, argv, options); status != 0) return status;
  if (options.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (options.version) {
    std::printf("rastrom-mem %s\n", RASTROM_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  try {
    return WriteMemoryFile(options);
  } catch (const std::bad_alloc&) {
    return Failure("out of memory");
  }
}

}  // namespace rastrom
