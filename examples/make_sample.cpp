// Writes the sample image: a 62 x 32 BMP at 24 bits per pixel, rows stored bottom-up.
// Top half: eight colour bars (white, yellow, cyan, green, magenta, red, blue, black).
// Bottom half: a hue sweep from left to right that darkens towards the bottom.
// The output is deterministic, and its colours stay distinct under the 3-3-2 reduction.
//
// Usage: make_sample [output path]   (default: sample.bmp)
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 62;  // 186 bytes of pixels a row, padded to 188
constexpr int kHeight = 32;

struct Rgb { int r, g, b; };

Rgb PixelAt(int x, int y) {
  if (y < kHeight / 2) {
    static const Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                 {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    return kBars[x * 8 / kWidth];
  }
  // Hue in six segments of 256 steps across the width; brightness falls row by row.
  const int hue = x * (6 * 256 - 1) / (kWidth - 1);
  const int up = hue % 256, down = 255 - up;
  static const int kSegments[6][3] = {{255, 1, 0}, {-1, 255, 0}, {0, 255, 1},
                                      {0, -1, 255}, {1, 0, 255}, {255, 0, -1}};
  int c[3];  // 1 stands for the rising ramp, -1 for the falling one
  for (int i = 0; i < 3; ++i) {
    const int s = kSegments[hue / 256][i];
    c[i] = s == 1 ? up : s == -1 ? down : s;
  }
  const int level = 256 - (y - kHeight / 2) * 12;  // 256 on the first row, 76 on the last
  return {c[0] * level / 256, c[1] * level / 256, c[2] * level / 256};
}

// Appends v as n little-endian bytes.
void Put(std::vector<std::uint8_t>& out, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "sample.bmp";
  const std::uint32_t stride = (kWidth * 3 + 3) / 4 * 4;
  const std::uint32_t pixelBytes = stride * kHeight;

  std::vector<std::uint8_t> bmp = {'B', 'M'};
  // File header (size, reserved, pixel offset), then a 40-byte BITMAPINFOHEADER: width,
  // height (positive: bottom row first), planes, bits, BI_RGB, image size, 72 dpi both
  // ways, colours used and important.
  const std::uint32_t fields[][2] = {
      {14 + 40 + pixelBytes, 4}, {0, 4}, {14 + 40, 4}, {40, 4}, {kWidth, 4}, {kHeight, 4},
      {1, 2}, {24, 2}, {0, 4}, {pixelBytes, 4}, {2835, 4}, {2835, 4}, {0, 4}, {0, 4}};
  for (const auto& f : fields) Put(bmp, f[0], static_cast<int>(f[1]));
  for (int y = kHeight - 1; y >= 0; --y) {
    for (int x = 0; x < kWidth; ++x) {
      const Rgb p = PixelAt(x, y);
      Put(bmp, static_cast<std::uint32_t>(p.b | p.g << 8 | p.r << 16), 3);
    }
    bmp.resize(bmp.size() + (stride - kWidth * 3), 0);
  }

  std::FILE* f = std::fopen(path, "wb");
  const bool ok = f != nullptr && std::fwrite(bmp.data(), 1, bmp.size(), f) == bmp.size();
  if (f == nullptr || std::fclose(f) != 0 || !ok) {
    std::perror(path);
    return 1;
  }
  return 0;
}
