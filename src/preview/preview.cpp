#include "preview.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bmp_encode.h"
#include "output_file.h"
#include "picture_input.h"

namespace rastrom {

namespace {

constexpr const char* kProgram = "rastrom-preview";

constexpr const char* kUsage =
    "Usage: rastrom-preview <coe file> <width>[x<height>] <output bmp>\n"
    "       rastrom-preview <bmp file> <output bmp>\n"
    "\n"
    "Shows what a 32-bit memory of 3-3-2 pixels holds, as an 8-bit BMP picture.\n"
    "\n"
    "  <coe file>        a COE file of 32-bit words, four pixels each, the first pixel in\n"
    "                    the top byte, rows from the top-left, as rastrom writes it\n"
    "  <width>           pixels in a row; the height is what the words fill\n"
    "  <width>x<height>  the picture's size; the file must hold exactly the words it\n"
    "                    needs, width x height / 4 rounded up\n"
    "  <bmp file>        a picture: a BMP, PNG or JPEG file (told by its content), shown\n"
    "                    as rastrom reduces it to 3-3-2 colour\n"
    "  <output bmp>      the picture to write; written completely or not at all\n"
    "  --background RRGGBB\n"
    "                    the colour under a picture's transparent parts, in hex (default\n"
    "                    000000); a BMP file's alpha channel is used only when it is given\n"
    "\n"
    "Example: rastrom-preview logo.coe 640x480 logo-preview.bmp\n"
    "\n"
    "Exit status: 0 when the picture is written, 1 on a failure, 2 on a usage error.\n";

// The picture's size from the command line; height 0 when only the width was given.
struct Size {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
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

// Works out the picture's size from the input and the size asked for. Returns an empty
// string, or why the input cannot have that size.
std::string PictureSize(const char* path, const PictureInput& input,
                        const std::vector<std::uint8_t>& pixels, const Size& asked, Size& size) {
  if (input.kind != PictureInput::Kind::kCoe) {
    size.width = static_cast<std::uint64_t>(input.width);
    size.height = static_cast<std::uint64_t>(input.height);
    return {};
  }
  const std::uint64_t words = input.words.size();
  size.width = asked.width;
  if (asked.height == 0) {
    // The rows the words fill; the last one may end in padding, shown black.
    size.height = (pixels.size() + asked.width - 1) / asked.width;
    return {};
  }
  size.height = asked.height;
  // Both sides are below 2^31, so neither the product nor the rounding can overflow.
  const std::uint64_t needed = (asked.width * asked.height + 3) / 4;
  if (needed != words) {
    return std::string(path) + " holds " + Decimal(words) + (words == 1 ? " word" : " words") +
           "; " + Decimal(asked.width) + " x " + Decimal(asked.height) + " pixels need " +
           Decimal(needed);
  }
  return {};
}

int WritePicture(const char* output, const std::vector<std::uint8_t>& bmp) {
  OutputFile file;
  if (const int error = file.Open(output); error != 0) {
    return Fail(std::string("cannot write ") + output + ": " + std::strerror(error));
  }
  file.Reserve(static_cast<std::int64_t>(bmp.size()));
  file.Write(bmp.data(), bmp.size());
  if (const int error = file.Commit(); error != 0) {
    return Fail(std::string("cannot write ") + output + ": " + std::strerror(error));
  }
  return 0;
}

int Run(int argc, const char* const* argv) {
  std::vector<const char*> operands;
  PictureOptions picture;
  picture.program = kProgram;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (options && std::strcmp(argument, "--") == 0) {
      options = false;
    } else if (options && argument[0] == '-' && argument[1] != '\0') {
      if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
      }
      if (std::strncmp(argument, "--background", 12) == 0 &&
          (argument[12] == '\0' || argument[12] == '=')) {
        const char* value =
            argument[12] == '=' ? argument + 13 : (i + 1 < argc ? argv[++i] : nullptr);
        if (value == nullptr) {
          return UsageError("--background needs a colour RRGGBB, such as FFFFFF");
        }
        if (!ParseBackground(value, picture.background)) {
          return UsageError(
              std::string("--background takes a colour RRGGBB in hex, such as FFFFFF, not '") +
              value + "'");
        }
        picture.backgroundGiven = true;
        continue;
      }
      if (std::strcmp(argument, "--version") == 0) {
        std::printf("%s %s\n", kProgram, RASTROM_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
      }
      return UsageError(std::string("unknown option '") + argument + "'");
    } else {
      operands.push_back(argument);
    }
  }
  if (operands.size() < 2) return UsageError("missing operands");
  if (operands.size() > 3) return UsageError("too many operands");

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
  if (std::string failed = ReadPictureInput(source, picture, input); !failed.empty()) {
    return Fail(failed);
  }
  if (input.kind != PictureInput::Kind::kCoe && operands.size() == 3) {
    return UsageError(std::string(source) + " is a " + KindName(input.kind) +
                      " and its size comes from the image; give no size");
  }
  if (input.kind == PictureInput::Kind::kCoe && operands.size() == 2) {
    return UsageError(std::string(source) +
                      " is a COE file; give the picture's <width> or <width>x<height>");
  }

  std::vector<std::uint8_t> pixels;
  if (std::string failed = ReadPixels332(source, input, pixels); !failed.empty()) {
    return Fail(failed);
  }
  Size size;
  if (std::string failed = PictureSize(source, input, pixels, asked, size); !failed.empty()) {
    return Fail(failed);
  }
  if (Bmp332FileSize(size.width, size.height) == 0) {
    return Fail("a picture of " + Decimal(size.width) + " x " + Decimal(size.height) +
                " pixels is too large for a BMP file");
  }
  const std::vector<std::uint8_t> bmp = EncodeBmp332(size.width, size.height, pixels);
  std::vector<std::uint8_t>().swap(pixels);
  return WritePicture(output, bmp);
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
