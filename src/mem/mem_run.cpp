#include "mem_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "memory_file.h"
#include "output_file.h"
#include "picture_input.h"

namespace rastrom {

namespace {

constexpr const char* kUsage =
    "Usage: rastrom-mem [--word 8|16|32] [--format mem|mif] <input> <output>\n";

constexpr const char* kHelp =
    "\n"
    "Writes a picture's memory as a .mem file (Verilog $readmemh, the vendors' memory macros,\n"
    "Yosys) or a .mif file (Quartus). The input is a BMP, PNG or JPEG picture, reduced to\n"
    "3-3-2 RGB as rastrom reduces it, or a COE file of 32-bit words, whose bytes are taken\n"
    "as pixels. The kind is told by the file's content, not its name.\n"
    "\n"
    "Options (before the file names):\n"
    "  --word 8|16|32    bits in a memory word: 1, 2 or 4 pixels, the first in the most\n"
    "                    significant byte (default 32)\n"
    "  --format mem|mif  the output's format (default: from the output's extension)\n"
    "  --background RRGGBB\n"
    "                    the colour under a picture's transparent parts, in hex (default\n"
    "                    000000); a BMP file's alpha channel is used only when it is given\n"
    "  --help            print this help and exit\n"
    "\n"
    "Example: rastrom-mem --word 16 --background FFFFFF logo.png logo.mem\n";

struct Options {
  unsigned wordBits = 32;
  std::optional<MemoryFormat> format;
  PictureOptions picture;
  std::vector<const char*> files;
  bool help = false;
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
    // "--word 16" or "--word=16", and the same for --format.
    std::string_view name = arg, value;
    bool hasValue = false;
    if (const auto equals = arg.find('='); equals != std::string_view::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      hasValue = true;
    }
    if (name != "--word" && name != "--format" && name != "--background") {
      return UsageError("unknown option '" + std::string(arg) + "'");
    }
    if (!hasValue) {
      if (i + 1 == argc) {
        return UsageError(std::string(name) + " needs a value: " +
                          (name == "--word"     ? "8, 16 or 32"
                           : name == "--format" ? "mem or mif"
                                                : "a colour RRGGBB, such as FFFFFF"));
      }
      value = argv[++i];
    }
    if (name == "--word") {
      if (value != "8" && value != "16" && value != "32") {
        return UsageError("--word takes 8, 16 or 32, not '" + std::string(value) + "'");
      }
      options.wordBits = static_cast<unsigned>(std::stoul(std::string(value)));
    } else if (name == "--background") {
      if (!ParseBackground(value, options.picture.background)) {
        return UsageError("--background takes a colour RRGGBB in hex, such as FFFFFF, not '" +
                          std::string(value) + "'");
      }
      options.picture.backgroundGiven = true;
    } else {
      options.format = FormatNamed(value);
      if (!options.format) {
        return UsageError("--format takes mem or mif, not '" + std::string(value) + "'");
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
  if (!options.format) {
    options.format = FormatOfPath(options.files[1]);
    if (!options.format) {
      return UsageError("cannot tell the format of '" + std::string(options.files[1]) +
                        "': name it .mem or .mif, or give --format mem|mif");
    }
  }
  return 0;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "rastrom-mem: %s\n", message.c_str());
  return 1;
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
  std::vector<std::uint8_t> pixels;
  if (const std::string failed = ReadPixels332(inputPath, picture, pixels); !failed.empty()) {
    return Failure(failed);
  }
  if (pixels.empty()) return Failure(std::string(inputPath) + ": holds no pixels");

  MemoryFileLayout layout;
  layout.format = *options.format;
  layout.wordBits = options.wordBits;
  layout.source = BaseName(inputPath);
  layout.width = picture.width;
  layout.height = picture.height;

  OutputFile output;
  if (const int error = output.Open(outputPath); error != 0) {
    return Failure(std::string(outputPath) + ": cannot be written (" + std::strerror(error) + ")");
  }
  output.Reserve(static_cast<std::int64_t>(MemoryFileSize(layout, pixels.size())));
  const bool formatted = FormatMemoryFile(layout, pixels, [&](std::string_view text) {
    return output.Write(text.data(), text.size());
  });
  // Formatting stops only at a failed write (the width has been checked), which Commit
  // reports; an unfinished output is discarded when `output` goes out of scope.
  if (const int error = formatted || output.error() != 0 ? output.Commit() : EIO; error != 0) {
    return Failure(std::string(outputPath) + ": cannot be written (" + std::strerror(error) + ")");
  }
  return 0;
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
  try {
    return WriteMemoryFile(options);
  } catch (const std::bad_alloc&) {
    return Failure("out of memory");
  }
}

}  // namespace rastrom
