// Reduces a BMP picture to a display format's codes, with or without dithering, and writes
// what the display would show (each code widened to 8 bits) as a 24-bit BMP. A stand-in
// for the programs while measuring the quality and speed of the dithering alone.
//
// Usage: rastrom_bench_dither <none|floyd-steinberg|ordered> <pixel format> in.bmp out.bmp
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "bmp_decode.h"
#include "dither.h"

namespace {

void Put(std::vector<std::uint8_t>& out, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  rastrom::DitherMethod method{};
  const std::optional<rastrom::PixelFormat> format =
      argc == 5 ? rastrom::ParsePixelFormat(argv[2]) : std::nullopt;
  if (argc != 5 || !rastrom::ParseDitherMethod(argv[1], method) || !format) {
    std::fprintf(stderr, "usage: rastrom_bench_dither <none|floyd-steinberg|ordered> "
                         "<rgbXYZ|bgrXYZ|grayN|mono> in.bmp out.bmp\n");
    return 2;
  }
  std::vector<std::uint8_t> file;
  if (std::FILE* in = std::fopen(argv[3], "rb")) {
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
      file.insert(file.end(), buffer, buffer + n);
    }
    std::fclose(in);
  }
  const rastrom::DecodedBmp bmp = rastrom::DecodeBmp(file);
  if (bmp.error != rastrom::BmpError::kNone) {
    std::fprintf(stderr, "%s: %s\n", argv[3], rastrom::BmpErrorText(bmp.error));
    return 1;
  }
  const auto width = static_cast<std::size_t>(bmp.width);
  const auto height = static_cast<std::size_t>(bmp.height);
  const std::size_t stride = (3 * width + 3) / 4 * 4;

  std::vector<std::uint8_t> out = {'B', 'M'};
  Put(out, static_cast<std::uint32_t>(54 + stride * height), 4);
  Put(out, 0, 4);
  Put(out, 54, 4);
  Put(out, 40, 4);
  Put(out, static_cast<std::uint32_t>(width), 4);
  Put(out, static_cast<std::uint32_t>(-bmp.height), 4);  // rows from the top
  Put(out, 1, 2);
  Put(out, 24, 2);
  for (int i = 0; i < 6; ++i) Put(out, 0, 4);

  const std::unique_ptr<rastrom::RowReducer> reducer = rastrom::MakeRowReducer(method, *format, width);
  std::vector<std::uint32_t> values(width);
  std::vector<std::uint8_t> line(stride, 0);
  for (std::size_t y = 0; y < height; ++y) {
    reducer->ReduceRow({bmp.pixels.data() + 4 * width * y, 4 * width}, values);
    for (std::size_t x = 0; x < width; ++x) {
      const rastrom::Rgb8 shown = rastrom::ShowPixel(*format, values[x]);
      line[3 * x] = shown.blue;
      line[3 * x + 1] = shown.green;
      line[3 * x + 2] = shown.red;
    }
    out.insert(out.end(), line.begin(), line.end());
  }
  std::FILE* file_out = std::fopen(argv[4], "wb");
  if (file_out == nullptr || std::fwrite(out.data(), 1, out.size(), file_out) != out.size() ||
      std::fclose(file_out) != 0) {
    std::perror(argv[4]);
    return 1;
  }
  return 0;
}
