// Writes a deterministic 24-bit BMP for the benchmark: every run with the same size
// gives the same bytes. The picture is smooth gradients crossed with a hashed noise, so
// the 3-3-2 bytes of neighbouring pixels differ and no output line repeats for long. With
// --photo it looks like a photograph instead: a sky fading into a horizon, a sun with a soft
// edge and darker ground, all with a little sensor noise.
//
// Usage: rastrom_bench_bmp <width> <height> <output path> [--top-down] [--photo]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Appends v as n little-endian bytes.
void Put(std::vector<std::uint8_t>& out, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t Hash(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

// One pixel (blue, green, red) of the photograph-like picture at column x, row y (from the
// top) of a width x height picture.
void PhotoPixel(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
                std::uint8_t* bgr) {
  const double u = double(x) / width;
  const double v = double(y) / height;
  double r, g, b;
  if (v < 0.6) {  // sky: deep blue above, pale at the horizon
    r = 60 + 150 * v;
    g = 110 + 120 * v;
    b = 200 + 50 * v;
  } else {  // ground: green-brown, darker towards the bottom
    r = 110 - 60 * (v - 0.6);
    g = 130 - 80 * (v - 0.6) + 20 * u;
    b = 60 - 40 * (v - 0.6);
  }
  const double dx = u - 0.7, dy = (v - 0.25) * height / width;
  const double d = dx * dx + dy * dy;
  if (d < 0.01) {  // the sun, its edge blended over 20 % of its radius
    const double t = d < 0.0064 ? 1.0 : (0.01 - d) / 0.0036;
    r += (255 - r) * t;
    g += (240 - g) * t;
    b += (180 - b) * t;
  }
  const std::uint32_t noise = Hash(y * 65536u + x);
  const double channel[3] = {b, g, r};
  for (int c = 0; c < 3; ++c) {
    const double value = channel[c] + double(noise >> (8 * c) & 15) - 7.5;
    bgr[c] = static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
  }
}

long ParseDimension(const char* text) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  return *end == '\0' && v >= 1 && v <= 65535 ? v : 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool topDown = false, photo = false, badOption = false;
  for (int i = 4; i < argc; ++i) {
    if (std::strcmp(argv[i], "--top-down") == 0) {
      topDown = true;
    } else if (std::strcmp(argv[i], "--photo") == 0) {
      photo = true;
    } else {
      badOption = true;
    }
  }
  const long width = argc >= 4 ? ParseDimension(argv[1]) : 0;
  const long height = argc >= 4 ? ParseDimension(argv[2]) : 0;
  if (argc < 4 || badOption || width == 0 || height == 0 ||
      4 * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > 0x7FFFFFFFu) {
    std::fprintf(stderr, "usage: rastrom_bench_bmp <width> <height> <output.bmp> [--top-down] [--photo]\n"
                         "  (1..65535 each, 4 x width x height below 2^31)\n");
    return 2;
  }
  const std::uint32_t stride = static_cast<std::uint32_t>((width * 3 + 3) / 4 * 4);
  const std::uint32_t pixelBytes = stride * static_cast<std::uint32_t>(height);

  std::vector<std::uint8_t> head = {'B', 'M'};
  Put(head, 54 + pixelBytes, 4);  // file size
  Put(head, 0, 4);                // reserved
  Put(head, 54, 4);               // pixel data offset
  Put(head, 40, 4);               // BITMAPINFOHEADER
  Put(head, static_cast<std::uint32_t>(width), 4);
  Put(head, static_cast<std::uint32_t>(topDown ? -height : height), 4);
  Put(head, 1, 2);   // planes
  Put(head, 24, 2);  // bits per pixel
  Put(head, 0, 4);   // BI_RGB
  Put(head, pixelBytes, 4);
  Put(head, 2835, 4);  // 72 dpi
  Put(head, 2835, 4);
  Put(head, 0, 4);
  Put(head, 0, 4);

  std::FILE* file = std::fopen(argv[3], "wb");
  if (file == nullptr) {
    std::perror(argv[3]);
    return 1;
  }
  std::fwrite(head.data(), 1, head.size(), file);
  std::vector<std::uint8_t> row(stride, 0);
  for (long r = 0; r < height; ++r) {
    // Picture row y, counted from the top, whichever order the rows are stored in.
    const auto y = static_cast<std::uint32_t>(topDown ? r : height - 1 - r);
    for (long c = 0; c < width; ++c) {
      if (photo) {
        PhotoPixel(static_cast<std::uint32_t>(c), y, static_cast<std::uint32_t>(width),
                   static_cast<std::uint32_t>(height), &row[3 * c]);
        continue;
      }
      const auto x = static_cast<std::uint32_t>(c);
      const std::uint32_t noise = Hash(y * 65536u + x);
      const std::uint32_t across = x * 255 / static_cast<std::uint32_t>(width);
      const std::uint32_t down = y * 255 / static_cast<std::uint32_t>(height);
      row[3 * c] = static_cast<std::uint8_t>(across ^ (noise & 0x3F));
      row[3 * c + 1] = static_cast<std::uint8_t>(down ^ (noise >> 8 & 0x3F));
      row[3 * c + 2] = static_cast<std::uint8_t>((x + y) ^ noise >> 16);
    }
    std::fwrite(row.data(), 1, row.size(), file);
  }
  if (std::fclose(file) != 0) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
