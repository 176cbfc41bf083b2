// Reduces a BMP picture to a display format's codes, with or without dithering, and writes
// what the display would show (each code widened to 8 bits) as a 24-bit BMP. A stand-in
// for the programs while measuring the quality and speed of the dithering alone.
//
// Usage: rastrom_bench_dither <none|floyd-steinberg|ordered> <rgbXYZ|grayN|mono> in.bmp out.bmp
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bmp_decode.h"
#include "dither.h"

namespace {

bool ParseFormat(std::string_view text, rastrom::ChannelBits& bits) {
  auto digit = [](char c) { return c >= '1' && c <= '8' ? c - '0' : 0; };
  if (text == "mono") {
    bits = rastrom::ChannelBits::Grey(1);
  } else if (text.size() == 5 && text.substr(0, 4) == "gray") {
    bits = rastrom::ChannelBits::Grey(digit(text[4]));
  } else if (text.size() == 6 && text.substr(0, 3) == "rgb") {
    bits = rastrom::ChannelBits::Rgb(digit(text[3]), digit(text[4]), digit(text[5]));
  } else {
    return false;
  }
  return bits.valid();
}

void Put(std::vector<std::uint8_t>& out, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  rastrom::DitherMethod method{};
  rastrom::ChannelBits bits;
  if (argc != 5 || !rastrom::ParseDitherMethod(argv[1], method) || !ParseFormat(argv[2], bits)) {
    std::fprintf(stderr, "usage: rastrom_bench_dither <none|floyd-steinberg|ordered> "
                         "<rgbXYZ|grayN|mono> in.bmp out.bmp\n");
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

  rastrom::RowDitherer ditherer(method, bits, width);
  std::vector<std::uint8_t> codes(ditherer.codesPerRow());
  std::vector<std::uint8_t> line(stride, 0);
  for (std::size_t y = 0; y < height; ++y) {
    ditherer.ReduceRow({bmp.pixels.data() + 4 * width * y, 4 * width}, codes);
    for (std::size_t x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int k = bits.grey ? 0 : c;  // red, green, blue
        const std::uint8_t wide = rastrom::WidenCode(codes[x * bits.count() + k], bits.bits[k]);
        line[3 * x + 2 - c] = wide;  // stored blue, green, red
      }
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
