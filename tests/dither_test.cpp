// The dithering module over pictures built in the tests: light kept on flat patches, error
// kept near where it arose, `none` equal to the converter's top bits, the same codes on
// every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "coe_writer.h"
#include "dither.h"

namespace rastrom {
namespace {

struct Picture {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<std::uint8_t> bytes;  // blue, green, red, unused

  Picture(std::size_t w, std::size_t h) : width(w), height(h), bytes(4 * w * h, 0) {}
  void Set(std::size_t x, std::size_t y, int red, int green, int blue) {
    std::uint8_t* p = &bytes[4 * (y * width + x)];
    p[0] = static_cast<std::uint8_t>(blue);
    p[1] = static_cast<std::uint8_t>(green);
    p[2] = static_cast<std::uint8_t>(red);
  }
};

std::vector<std::uint8_t> Reduce(DitherMethod method, const PixelFormat& format, const Picture& picture) {
  RowDitherer ditherer(method, format, picture.width);
  std::vector<std::uint8_t> codes(ditherer.codesPerRow() * picture.height);
  for (std::size_t y = 0; y < picture.height; ++y) {
    ditherer.ReduceRow({&picture.bytes[4 * picture.width * y], 4 * picture.width},
                       {&codes[ditherer.codesPerRow() * y], ditherer.codesPerRow()});
  }
  return codes;
}

double Linear(int value) {
  const double c = value / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

struct Format {
  const char* name;
  PixelFormat format;
  int channels;  // 3, or 1 for grey
  unsigned bits[3];  // red, green, blue; grey in bits[0]

  explicit Format(const char* n) : name(n), format(*ParsePixelFormat(n)) {
    channels = IsGray(format) ? 1 : 3;
    bits[0] = RedBits(format);
    bits[1] = GreenBits(format);
    bits[2] = BlueBits(format);
  }
};
const Format kFormats[] = {Format("rgb111"), Format("rgb332"), Format("bgr444"), Format("rgb565"),
                           Format("rgb728"), Format("mono"),   Format("gray4"),  Format("gray7")};

// A flat patch of any colour shows, on average, the light of that colour: each channel's
// mean level in linear light is within a small tolerance of the patch's own light.
TEST(RowDitherer, FlatPatchKeepsItsAverageLight) {
  const int colours[][3] = {{0, 0, 0},     {1, 1, 1},       {17, 17, 17},  {64, 64, 64},
                            {128, 128, 128}, {200, 200, 200}, {254, 254, 254}, {255, 255, 255},
                            {255, 0, 0},   {12, 200, 90},   {250, 5, 128}, {1, 2, 3},
                            {90, 90, 255}, {0, 255, 255}};
  struct Size { std::size_t width, height; };
  for (const Format& format : kFormats) {
    for (DitherMethod method : {DitherMethod::kFloydSteinberg, DitherMethod::kOrdered}) {
      // A narrow column only for error diffusion: it must not lose the error at its sides.
      for (Size size : {Size{64, 64}, Size{1, 256}, Size{3, 100}}) {
        if (method == DitherMethod::kOrdered && size.width < 8) continue;
        for (const auto& colour : colours) {
          Picture patch(size.width, size.height);
          for (std::size_t i = 0; i < size.width * size.height; ++i) {
            patch.Set(i % size.width, i / size.width, colour[0], colour[1], colour[2]);
          }
          const std::vector<std::uint8_t> codes = Reduce(method, format.format, patch);
          const int channels = format.channels;
          for (int c = 0; c < channels; ++c) {
            const int input = IsGray(format.format) ? Luma(colour[0], colour[1], colour[2]) : colour[c];
            double sum = 0;
            for (std::size_t i = c; i < codes.size(); i += channels) {
              sum += Linear(WidenCode(codes[i], format.bits[c]));
            }
            // Ordered thresholds come in 64 ranks, so the share of the upper level is off by
            // up to 1/128 of the gap between the levels; diffusion does better.
            double gap = 0;
            for (unsigned code = 1; code < (1u << format.bits[c]); ++code) {
              gap = std::max(gap, Linear(WidenCode(code, format.bits[c])) -
                                      Linear(WidenCode(code - 1, format.bits[c])));
            }
            const double mean = sum / double(size.width * size.height);
            EXPECT_NEAR(mean, Linear(input), gap / 128 + 0.0005)
                << format.name << " " << DitherMethodName(method) << " " << size.width << "x"
                << size.height << " channel " << c << " of " << colour[0] << "," << colour[1]
                << "," << colour[2];
          }
        }
      }
    }
  }
}

// Error stays near where it arose: a mid-coloured patch on the left edge of a field of a
// saturated colour, which every format shows exactly. The field comes out exact above the
// patch and a few pixels away from it; nothing travels along the rows or around the edges.
TEST(RowDitherer, ErrorStaysNearThePatchInASaturatedField) {
  const int fields[][3] = {{255, 0, 255}, {0, 255, 0}, {255, 255, 255}, {0, 0, 0}, {255, 255, 0}};
  const int patches[][3] = {{128, 60, 200}, {30, 30, 30}, {240, 250, 10}};
  constexpr std::size_t kWidth = 40, kHeight = 36, kTop = 10, kBottom = 22, kRight = 12;
  constexpr std::size_t kReach = 3;  // how far the error of the patch may show
  for (const Format& format : kFormats) {
    for (DitherMethod method : {DitherMethod::kFloydSteinberg, DitherMethod::kOrdered}) {
      for (const auto& field : fields) {
        const int fieldLuma = Luma(field[0], field[1], field[2]);
        if (IsGray(format.format) && fieldLuma != 0 && fieldLuma != 255) continue;  // no exact grey
        for (const auto& patchColour : patches) {
          Picture picture(kWidth, kHeight);
          for (std::size_t y = 0; y < kHeight; ++y) {
            for (std::size_t x = 0; x < kWidth; ++x) {
              const bool inPatch = y >= kTop && y < kBottom && x < kRight;
              const auto& c = inPatch ? patchColour : field;
              picture.Set(x, y, c[0], c[1], c[2]);
            }
          }
          const std::vector<std::uint8_t> codes = Reduce(method, format.format, picture);
          const int channels = format.channels;
          std::size_t farthest = 0;
          for (std::size_t y = 0; y < kHeight; ++y) {
            for (std::size_t x = 0; x < kWidth; ++x) {
              if (y >= kTop && y < kBottom && x < kRight) continue;
              for (int c = 0; c < channels; ++c) {
                const int input = IsGray(format.format) ? fieldLuma : field[c];
                const int exact = input >> (8 - format.bits[c]);  // 0 or all ones
                if (codes[(y * kWidth + x) * channels + c] == exact) continue;
                const std::size_t dx = x >= kRight ? x - kRight + 1 : 0;
                const std::size_t dy = y < kTop ? kTop - y : y >= kBottom ? y - kBottom + 1 : 0;
                farthest = std::max(farthest, std::max(dx, dy));
                EXPECT_GE(y, kTop) << "above the patch";
              }
            }
          }
          EXPECT_LE(farthest, kReach) << format.name << " " << DitherMethodName(method)
                                      << " field " << field[0] << "," << field[1] << ","
                                      << field[2] << " patch " << patchColour[0];
        }
      }
    }
  }
}

// `none` is the reduction the programs have always made: the top bits of each channel (of
// the luma for grey), and for 3-3-2 exactly the converter's bytes. A channel of 8 bits is
// passed through by every method, in the format's order.
TEST(RowDitherer, NoneKeepsTheTopBitsAndEightBitsPassThrough) {
  Picture picture(256, 3);
  for (int i = 0; i < 256; ++i) {
    picture.Set(i, 0, i, (i * 37 + 11) & 255, 255 - i);
    picture.Set(i, 1, (i * 101) & 255, i, (i * 13 + 7) & 255);
    picture.Set(i, 2, 255 - i, (i * 59) & 255, i);
  }
  std::vector<std::uint8_t> converter(256 * 3);
  ReducePixels332(picture.bytes.data(), 256 * 3, converter.data());
  const std::vector<std::uint8_t> codes332 = Reduce(DitherMethod::kNone, kRgb332, picture);
  for (std::size_t i = 0; i < converter.size(); ++i) {
    EXPECT_EQ(codes332[3 * i] << 5 | codes332[3 * i + 1] << 2 | codes332[3 * i + 2], converter[i])
        << "pixel " << i;
  }
  for (const Format& format : kFormats) {
    const std::vector<std::uint8_t> codes = Reduce(DitherMethod::kNone, format.format, picture);
    for (std::size_t i = 0; i < 256 * 3; ++i) {
      const std::uint8_t* p = &picture.bytes[4 * i];
      const int rgb[3] = {p[2], p[1], p[0]};
      for (int c = 0; c < format.channels; ++c) {
        const int input = IsGray(format.format) ? Luma(rgb[0], rgb[1], rgb[2]) : rgb[c];
        ASSERT_EQ(codes[i * format.channels + c], input >> (8 - format.bits[c]))
            << format.name << " pixel " << i << " channel " << c;
      }
    }
  }
  for (DitherMethod method : {DitherMethod::kFloydSteinberg, DitherMethod::kOrdered}) {
    for (const char* name : {"rgb888", "bgr888", "gray8"}) {
      const PixelFormat format = *ParsePixelFormat(name);
      TopBitsReducer top(format);
      DitherReducer dithered(method, format, 256);
      std::vector<std::uint32_t> want(256), got(256);
      for (std::size_t y = 0; y < 3; ++y) {
        const std::span<const std::uint8_t> row(&picture.bytes[4 * 256 * y], 4 * 256);
        top.ReduceRow(row, want);
        dithered.ReduceRow(row, got);
        EXPECT_EQ(got, want) << DitherMethodName(method) << " " << name << " row " << y;
      }
    }
  }
}

// The pixel values hold the codes where the format packs them.
TEST(DitherReducer, PacksTheCodesInTheFormatsOrder) {
  Picture picture(37, 2);
  for (std::size_t x = 0; x < 37; ++x) {
    picture.Set(x, 0, int(x * 7), int(255 - x * 5), int(x * 3 + 40));
    picture.Set(x, 1, int(x * 2 + 100), int(x * 6), int(250 - x));
  }
  for (const char* name : {"bgr233", "rgb565", "rgb181", "gray3"}) {
    const Format f(name);
    const std::vector<std::uint8_t> codes = Reduce(DitherMethod::kFloydSteinberg, f.format, picture);
    DitherReducer reducer(DitherMethod::kFloydSteinberg, f.format, 37);
    std::vector<std::uint32_t> values(37);
    for (std::size_t y = 0; y < 2; ++y) {
      reducer.ReduceRow({&picture.bytes[4 * 37 * y], 4 * 37}, values);
      for (std::size_t x = 0; x < 37; ++x) {
        const std::uint8_t* c = &codes[(y * 37 + x) * f.channels];
        EXPECT_EQ(values[x], f.channels == 1 ? PackGray(f.format, c[0]) : PackCodes(f.format, c[0], c[1], c[2]))
            << name << " pixel " << x << " row " << y;
      }
    }
  }
}

// Rows of kTwoStripWidth pixels or more are diffused as two strips, the left and the right
// half, each exactly as a picture of its own: the values equal those of two ditherers, one
// for each half, packed; narrower rows as one. The last row is shorter, by one pixel or by
// more than the right half. Coding the strips one by one (as threads do) gives the same.
TEST(DitherReducer, DiffusesWideRowsAsTwoStrips) {
  for (const char* name : {"rgb332", "gray4"}) {
    const Format f(name);
    for (std::size_t width : {kTwoStripWidth - 1, kTwoStripWidth, kTwoStripWidth + 1, 2 * kTwoStripWidth + 5}) {
      for (std::size_t shortBy : {std::size_t{1}, width / 2 + 3}) {
        constexpr std::size_t kHeight = 5;
        Picture picture(width, kHeight);
        std::uint32_t seed = 3;
        for (std::size_t i = 0; i < width * kHeight; ++i) {
          seed = seed * 1664525u + 1013904223u;
          picture.Set(i % width, i / width, int(seed >> 24), int(seed >> 16 & 255), int(i % 251));
        }
        const std::size_t left = width >= kTwoStripWidth ? width / 2 : width;
        RowDitherer halves[2] = {RowDitherer(DitherMethod::kFloydSteinberg, f.format, left),
                                 RowDitherer(DitherMethod::kFloydSteinberg, f.format, width - left)};
        DitherReducer reducer(DitherMethod::kFloydSteinberg, f.format, width);
        DitherReducer byStrips(DitherMethod::kFloydSteinberg, f.format, width);
        ASSERT_EQ(reducer.Strips(), width >= kTwoStripWidth ? 2u : 1u);
        std::vector<std::uint8_t> codes(width * std::size_t(f.channels)), stripCodes(codes.size());
        std::vector<std::uint32_t> values(width), packed(width);
        for (std::size_t y = 0; y < kHeight; ++y) {
          const std::size_t n = y + 1 == kHeight ? width - shortBy : width;
          const std::span<const std::uint8_t> row(&picture.bytes[4 * width * y], 4 * n);
          for (std::size_t h = 0; h < 2; ++h) {
            const std::size_t first = h == 0 ? 0 : std::min(left, n);
            const std::size_t end = h == 0 ? std::min(left, n) : n;
            halves[h].ReduceRow(row.subspan(4 * first, 4 * (end - first)),
                                std::span(codes).subspan(first * f.channels, (end - first) * f.channels));
          }
          reducer.ReduceRow(row, std::span(values).first(n));
          for (std::size_t strip = reducer.Strips(); strip-- > 0;) {
            byStrips.CodeStrip(strip, row, std::span(stripCodes).first(n * f.channels));
          }
          byStrips.PackRow(std::span(stripCodes).first(n * f.channels), std::span(packed).first(n));
          for (std::size_t x = 0; x < n; ++x) {
            const std::uint8_t* c = &codes[x * f.channels];
            ASSERT_EQ(values[x], f.channels == 1 ? PackGray(f.format, c[0]) : PackCodes(f.format, c[0], c[1], c[2]))
                << name << " width " << width << " row " << y << " pixel " << x;
            ASSERT_EQ(packed[x], values[x]) << name << " width " << width << " row " << y << " pixel " << x;
          }
        }
      }
    }
  }
}

// The codes depend on the picture alone: the same on every run, in a fresh or a reused
// ditherer, and on every platform (the sums below were taken from this build; the integer
// arithmetic must give them everywhere).
TEST(RowDitherer, GivesTheSameCodesOnEveryRun) {
  Picture picture(61, 47);
  std::uint32_t seed = 12345;
  for (std::size_t y = 0; y < picture.height; ++y) {
    for (std::size_t x = 0; x < picture.width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 28);
      picture.Set(x, y, (int(x) * 4 + noise) & 255, (int(y) * 5 + noise) & 255, (int(x + y) * 2) & 255);
    }
  }
  auto fnv = [](const std::vector<std::uint8_t>& bytes) {
    std::uint32_t h = 2166136261u;
    for (std::uint8_t b : bytes) h = (h ^ b) * 16777619u;
    return h;
  };
  struct Case { DitherMethod method; const char* format; std::uint32_t sum; };
  const Case cases[] = {
      {DitherMethod::kFloydSteinberg, "rgb332", 1051303559u},
      {DitherMethod::kFloydSteinberg, "rgb565", 1319978780u},
      {DitherMethod::kFloydSteinberg, "mono", 1211701340u},
      {DitherMethod::kOrdered, "rgb444", 3917722453u},
      {DitherMethod::kOrdered, "gray4", 2646473282u},
  };
  for (const Case& c : cases) {
    const PixelFormat format = *ParsePixelFormat(c.format);
    const std::vector<std::uint8_t> first = Reduce(c.method, format, picture);
    EXPECT_EQ(Reduce(c.method, format, picture), first);
    EXPECT_EQ(fnv(first), c.sum) << DitherMethodName(c.method) << " " << c.format;
  }
}

// The error diffusion's words pinned for pictures that stress it: noise over the whole
// range (the largest errors), a smooth gradient, saturated stripes, and rows of 1 to 3
// pixels, where the shares meant for the sides fall on the ends. Both outputs are summed,
// the codes and the packed values, and a last row shorter than the others (the slices of a
// memory of unknown size end so). Any change of a single word changes a sum.
TEST(RowDitherer, DiffusionWordsStayPinned) {
  auto fnv = [](std::uint32_t h, std::uint32_t word) {
    for (int i = 0; i < 4; ++i) h = (h ^ ((word >> (8 * i)) & 0xFF)) * 16777619u;
    return h;
  };
  auto colour = [](int kind, std::size_t x, std::size_t y, std::uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    const std::uint32_t n = seed >> 8;
    switch (kind) {
      case 0: return std::array<int, 3>{int(n & 255), int(n >> 8 & 255), int(n >> 16 & 255)};
      case 1: return std::array<int, 3>{int(x * 3 % 256), int((x + y) % 256), int(255 - y * 2 % 256)};
      default: return std::array<int, 3>{(x / 5 + y) % 3 ? 255 : 0, int(n & 1) * 255, (x * 53 + y) % 256 < 20 ? 250 : 3};
    }
  };
  struct Case { const char* format; std::size_t width; std::uint32_t codes, values; };
  const Case cases[] = {
      {"rgb332", 203, 2375743171u, 473765542u},  {"bgr233", 203, 2375743171u, 2088826052u},
      {"rgb444", 203, 1546630540u, 722780408u},  {"rgb565", 203, 330515054u, 752547765u},
      {"rgb111", 203, 3039159045u, 1762242768u}, {"rgb728", 203, 2795051494u, 803322760u},
      {"rgb888", 203, 1246231953u, 913853771u},  {"mono", 203, 852901973u, 852901973u},
      {"gray4", 203, 2900778056u, 2900778056u},  {"gray7", 203, 523648236u, 523648236u},
      {"rgb332", 1, 2235317926u, 1634920453u},   {"rgb332", 2, 3773908407u, 2654221090u},
      {"mono", 3, 4255546869u, 4255546869u},     {"gray4", 1, 4144953208u, 4144953208u},
  };
  constexpr std::size_t kHeight = 3 * 29;  // each kind of picture in a band of rows
  // Both builds of the loops, where the processor runs the one for AVX2 too.
  for (const bool narrow : {false, true}) {
    gDitherNarrowOnly = narrow;
    for (const Case& c : cases) {
      const Format f(c.format);
      Picture picture(c.width, kHeight);
      std::uint32_t seed = 7;
      for (std::size_t y = 0; y < kHeight; ++y) {
        for (std::size_t x = 0; x < c.width; ++x) {
          const auto rgb = colour(int(y / 29), x, y, seed);
          picture.Set(x, y, rgb[0], rgb[1], rgb[2]);
        }
      }
      RowDitherer ditherer(DitherMethod::kFloydSteinberg, f.format, c.width);
      DitherReducer reducer(DitherMethod::kFloydSteinberg, f.format, c.width);
      std::vector<std::uint8_t> codes(ditherer.codesPerRow());
      std::vector<std::uint32_t> values(c.width);
      std::uint32_t codeSum = 2166136261u, valueSum = 2166136261u;
      for (std::size_t y = 0; y < kHeight; ++y) {
        // The last row is one pixel shorter, where the picture has more than one.
        const std::size_t n = y + 1 == kHeight && c.width > 1 ? c.width - 1 : c.width;
        const std::span<const std::uint8_t> row(&picture.bytes[4 * c.width * y], 4 * n);
        ditherer.ReduceRow(row, codes);
        reducer.ReduceRow(row, values);
        for (std::size_t i = 0; i < n * std::size_t(f.channels); ++i) codeSum = fnv(codeSum, codes[i]);
        for (std::size_t x = 0; x < n; ++x) valueSum = fnv(valueSum, values[x]);
      }
      EXPECT_EQ(codeSum, c.codes) << c.format << " " << c.width << (narrow ? " narrow" : "");
      EXPECT_EQ(valueSum, c.values) << c.format << " " << c.width << (narrow ? " narrow" : "");
    }
  }
  gDitherNarrowOnly = false;
}

}  // namespace
}  // namespace rastrom
