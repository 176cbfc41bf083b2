#include "run.h"

#include <cstdio>
#include <cstring>

#include "coe_writer.h"
#include "loader.h"
#include "output_file.h"

namespace rastrom {

namespace {

constexpr const char* kVersion = "1.0";
constexpr const char* kDefaultOutput = "./default_output.coe";
// Compared byte for byte: "Help" or "-h" is an ordinary source path.
constexpr const char* kHelpKeywords[] = {"USAGE", "usage", "HELP", "help", "?"};

bool IsHelpKeyword(const char* argument) {
  for (const char* keyword : kHelpKeywords) {
    if (std::strcmp(argument, keyword) == 0) return true;
  }
  return false;
}

int ExitWithErrors() {
  std::printf("Program exits with errors!\n");
  return 0;
}

}  // namespace

int RunConverter(int argc, const char* const* argv) {
  HandleOutputSignals();
  std::printf("\n");
  std::printf("rastrom converter, VER: %s\n", kVersion);

  if (argc < 2 || argc > 3) {
    std::printf("\n");
    std::printf("Command line argument syntax error.\n");
    std::printf("Type 'rastrom ?' for correct argument syntax.\n");
    std::printf("Aborting rastrom.\n");
    return 0;
  }
  if (IsHelpKeyword(argv[1])) {
    std::printf("\n");
    std::printf("Command line syntax: rastrom <source bmp file> <output coe file>\n");
    std::printf("Example: rastrom c:/input.bmp c:/output.coe\n");
    std::printf("\n");
    return 0;
  }

  const char* source = argv[1];
  const char* output = argc == 3 ? argv[2] : kDefaultOutput;
  std::printf("Source file: %s\n", source);
  std::printf("Output file: %s\n", output);

  // The pixels are read from the source a band at a time as the writer converts them.
  PixelRows pixels;
  BITMAP bitmap{};
  if (LoadSourceImage(source, pixels, bitmap) == 1) {
    std::printf("Error!\n");
    return ExitWithErrors();
  }

  const unsigned planes = bitmap.bmPlanes;
  const unsigned bitsPerPixel = bitmap.bmBitsPixel;
  std::printf("Image height  \t\t: %d\n", static_cast<int>(bitmap.bmHeight));
  std::printf("Image width  \t\t: %d\n", static_cast<int>(bitmap.bmWidth));
  std::printf("Image WidthBytes  \t: %d\n", static_cast<int>(bitmap.bmWidthBytes));
  std::printf("Image Planes  \t\t: %u\n", planes);
  std::printf("Image Bits per Pixel  \t: %u\n", bitsPerPixel);

  if (planes != 1 || bitsPerPixel != 32) {
    std::printf("Error: Image format (Planes: %u, Bpp: %u) is not supported.\n", planes,
                bitsPerPixel);
    return ExitWithErrors();
  }

  // Writing the COE over the picture it came from would destroy the picture; the test is
  // by identity, so "./logo.bmp", a link or a second hard link are caught too.
  if (IsSameFile(source, output)) {
    std::printf("Error: Output file is the Source file: %s\n", output);
    std::printf("Error: Output Data failed!\n");
    return ExitWithErrors();
  }
  const auto nextBand = [&pixels](std::span<const std::uint8_t>& band) {
    return pixels.NextBand(band);
  };
  if (WriteCoeFile(output, nextBand, pixels.byteCount()) == 1) {
    std::printf("Error: Output Data failed!\n");
    return ExitWithErrors();
  }
  pixels = PixelRows();
  std::printf("Program completed successfully!\n");
  return 0;
}

}  // namespace rastrom
