// The PNG and JPEG decoders over bytes assembled in the tests: every colour type at the
// edges of its bit depth, transparency over a background, the size limit before any
// pixel memory, and cut files refused. JPEG files are made by the JPEG library itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bmp_builder.h"
#include "picture_decode.h"
#include "png_builder.h"

#ifdef RASTROM_TEST_JPEG
#include <cstdio>

#include <jpeglib.h>
#endif

namespace {

using rastrom::DecodedPicture;
using rastrom::PictureError;
using namespace rastrom::test;
using Colours = std::vector<std::uint32_t>;  // 0xRRGGBB, from the top-left

// The decoded pixels as colours, checking that the fourth byte of each is 0.
Colours ColoursOf(const DecodedPicture& picture) {
  Colours colours;
  for (std::size_t i = 0; i + 4 <= picture.pixels.size(); i += 4) {
    EXPECT_EQ(picture.pixels[i + 3], 0) << "pixel " << i / 4;
    colours.push_back(static_cast<std::uint32_t>(picture.pixels[i]) |
                      static_cast<std::uint32_t>(picture.pixels[i + 1]) << 8 |
                      static_cast<std::uint32_t>(picture.pixels[i + 2]) << 16);
  }
  return colours;
}

PngBytes Plte(const Colours& colours) {
  PngBytes out;
  for (std::uint32_t c : colours) {
    out.insert(out.end(), {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                           static_cast<std::uint8_t>(c)});
  }
  return out;
}

// 16 greys, entry i being i x 0x111111.
Colours Grey16() {
  Colours colours;
  for (std::uint32_t i = 0; i < 16; ++i) colours.push_back(i * 0x111111);
  return colours;
}

struct PngCase {
  const char* name;
  PngBytes file;
  std::uint32_t background;
  Colours expected;  // one row
};

class PngColourTypes : public testing::TestWithParam<PngCase> {};

TEST_P(PngColourTypes, DecodesTheStoredValues) {
  if (!rastrom::CanDecodePng()) GTEST_SKIP() << "built without a PNG decoder";
  const DecodedPicture picture = rastrom::DecodePng(GetParam().file, GetParam().background);
  ASSERT_EQ(picture.error, PictureError::kNone) << picture.detail;
  EXPECT_EQ(picture.width, GetParam().expected.size());
  EXPECT_EQ(picture.height, 1u);
  EXPECT_EQ(ColoursOf(picture), GetParam().expected);
}

constexpr std::uint32_t kGreenBg = 0x00FF00;

INSTANTIATE_TEST_SUITE_P(
    Decode, PngColourTypes,
    testing::Values(
        // Grey below 8 bits is widened so that the top value is white.
        PngCase{"Grey1", PngBuilder(2, 1, 1, kPngGrey).Rows(1, {{0, 1}}).Build(), 0,
                {0x000000, 0xFFFFFF}},
        PngCase{"Grey2", PngBuilder(4, 1, 2, kPngGrey).Rows(2, {{0, 1, 2, 3}}).Build(), 0,
                {0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF}},
        PngCase{"Grey4", PngBuilder(3, 1, 4, kPngGrey).Rows(4, {{0, 7, 15}}).Build(), 0,
                {0x000000, 0x777777, 0xFFFFFF}},
        PngCase{"Grey8", PngBuilder(2, 1, 8, kPngGrey).Rows(8, {{0x12, 0xFE}}).Build(), 0,
                {0x121212, 0xFEFEFE}},
        // 16-bit channels keep their top byte, never rounded up.
        PngCase{"Grey16", PngBuilder(2, 1, 16, kPngGrey).Rows(16, {{0xABFF, 0x0080}}).Build(), 0,
                {0xABABAB, 0x000000}},
        PngCase{"Palette1",
                PngBuilder(2, 1, 1, kPngPalette).Chunk("PLTE", Plte({0x102030, 0xA0B0C0}))
                    .Rows(1, {{1, 0}}).Build(), 0, {0xA0B0C0, 0x102030}},
        PngCase{"Palette2",
                PngBuilder(3, 1, 2, kPngPalette).Chunk("PLTE", Plte({1, 2, 3, 0xFFEEDD}))
                    .Rows(2, {{3, 0, 2}}).Build(), 0, {0xFFEEDD, 1, 3}},
        PngCase{"Palette4", PngBuilder(2, 1, 4, kPngPalette).Chunk("PLTE", Plte(Grey16()))
                                .Rows(4, {{15, 1}}).Build(), 0, {0xFFFFFF, 0x111111}},
        PngCase{"Palette8WithAlphaTable",
                PngBuilder(3, 1, 8, kPngPalette).Chunk("PLTE", Plte({0xFF0000, 0x0000FF, 0xFFFFFF}))
                    .Chunk("tRNS", {0, 128}).Rows(8, {{0, 1, 2}}).Build(),
                kGreenBg, {0x00FF00, 0x007F80, 0xFFFFFF}},  // entries past the table are opaque
        PngCase{"Rgb8", PngBuilder(2, 1, 8, kPngRgb).Rows(8, {{1, 2, 3, 0xFD, 0xFE, 0xFF}}).Build(),
                0, {0x010203, 0xFDFEFF}},
        PngCase{"Rgb16", PngBuilder(1, 1, 16, kPngRgb).Rows(16, {{0x12FF, 0x3400, 0xFF80}}).Build(),
                0, {0x1234FF}},
        PngCase{"GreyAlpha8",
                PngBuilder(3, 1, 8, kPngGreyAlpha).Rows(8, {{0xFF, 0, 0xFF, 255, 0xFF, 1}}).Build(),
                0x000000, {0x000000, 0xFFFFFF, 0x010101}},
        PngCase{"GreyAlpha16", PngBuilder(2, 1, 16, kPngGreyAlpha)
                                   .Rows(16, {{0xFFFF, 0x00FF, 0x8000, 0xFFFF}}).Build(),
                kGreenBg, {0x00FF00, 0x808080}},
        PngCase{"Rgba8OverABackground",
                PngBuilder(4, 1, 8, kPngRgba)
                    .Rows(8, {{255, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 128, 10, 20, 30, 255}})
                    .Build(),
                0x202020, {0x202020, 0xFF0000, 0x101090, 0x0A141E}},
        PngCase{"Rgba16", PngBuilder(1, 1, 16, kPngRgba).Rows(16, {{0xFFFF, 0, 0, 0x8000}}).Build(),
                0x0000FF, {0x80007F}},
        // Colour keys match the whole stored sample, before it is cut to 8 bits.
        PngCase{"GreyKey16", PngBuilder(2, 1, 16, kPngGrey).Chunk("tRNS", {0x12, 0x34})
                                 .Rows(16, {{0x1234, 0x12FF}}).Build(),
                kGreenBg, {0x00FF00, 0x121212}},
        PngCase{"GreyKey2", PngBuilder(2, 1, 2, kPngGrey).Chunk("tRNS", {0, 1})
                                .Rows(2, {{1, 2}}).Build(), kGreenBg, {0x00FF00, 0xAAAAAA}},
        PngCase{"RgbKey8", PngBuilder(2, 1, 8, kPngRgb).Chunk("tRNS", {0, 1, 0, 2, 0, 3})
                               .Rows(8, {{1, 2, 3, 1, 2, 4}}).Build(),
                kGreenBg, {0x00FF00, 0x010204}}),
    [](const testing::TestParamInfo<PngCase>& info) { return std::string(info.param.name); });

TEST(PictureFits, HoldsTheSidesAndTheByteLimit) {
  struct Row { std::uint64_t width, height; std::size_t max; bool fits; };
  for (const Row& row : {Row{65535, 1, rastrom::kMaxPictureBytes, true},
                         Row{65536, 1, rastrom::kMaxPictureBytes, false},
                         Row{1, 65536, rastrom::kMaxPictureBytes, false},
                         Row{0, 1, rastrom::kMaxPictureBytes, false},
                         Row{32767, 16384, rastrom::kMaxPictureBytes, true},   // 2 GiB - 256 KiB
                         Row{32768, 16384, rastrom::kMaxPictureBytes, false},  // 2 GiB exactly
                         Row{30000, 30000, rastrom::kMaxPictureBytes, false},
                         Row{100, 100, 40000, true}, Row{100, 100, 39999, false}}) {
    EXPECT_EQ(rastrom::PictureFits(row.width, row.height, row.max), row.fits)
        << row.width << " x " << row.height << " within " << row.max;
  }
}

TEST(PngDecode, RefusesALargeHeaderBeforeReadingPixels) {
  if (!rastrom::CanDecodePng()) GTEST_SKIP() << "built without a PNG decoder";
  // A header with no pixel data after it: refused for its size, never as cut short.
  for (const std::uint32_t side : {100000u, 30000u}) {
    const PngBytes file = PngBuilder(side, side, 8, kPngRgba).Build();
    const DecodedPicture picture = rastrom::DecodePng(file, 0);
    EXPECT_EQ(picture.error, PictureError::kTooLarge) << side;
    EXPECT_EQ(picture.width, side);
    EXPECT_EQ(picture.height, side);
    EXPECT_TRUE(picture.pixels.empty());
  }
}

TEST(PngDecode, RefusesEveryCutOfAFile) {
  if (!rastrom::CanDecodePng()) GTEST_SKIP() << "built without a PNG decoder";
  const PngBytes file = PngBuilder(3, 2, 8, kPngRgb)
                            .Rows(8, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 8, 7, 6, 5, 4, 3, 2, 1}})
                            .Build();
  ASSERT_EQ(rastrom::DecodePng(file, 0).error, PictureError::kNone);
  for (std::size_t n = 0; n < file.size(); ++n) {
    const PngBytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
    const DecodedPicture picture = rastrom::DecodePng(cut, 0);
    EXPECT_NE(picture.error, PictureError::kNone) << "cut to " << n << " bytes";
    EXPECT_TRUE(picture.pixels.empty());
  }
}

// Rows handed out a band at a time (256 KiB: 65 rows of 1000 pixels) join into the whole
// picture, in order, for heights around a band. A file cut inside its pixel data hands out
// the bands before the cut and then fails; a sink that stops ends the decoding, no error.
TEST(PngDecode, RowsInBandsAreTheWholePicture) {
  if (!rastrom::CanDecodePng()) GTEST_SKIP() << "built without a PNG decoder";
  auto picture = [](std::uint32_t height) {
    std::vector<std::vector<unsigned>> rows(height, std::vector<unsigned>(3000));
    for (std::uint32_t y = 0; y < height; ++y) {
      for (unsigned i = 0; i < 3000; ++i) rows[y][i] = (i * 7 + y * 13) & 0xFF;
    }
    return PngBuilder(1000, height, 8, kPngRgb).Rows(8, rows).Build();
  };
  // Every band of `file` in order, joined; `stopAfter` bands at most.
  auto bands = [](const PngBytes& file, std::size_t stopAfter, std::vector<std::uint8_t>& joined) {
    std::size_t count = 0;
    const DecodedPicture result = rastrom::DecodePngRows(
        file, 0, rastrom::kMaxPictureBytes,
        [&](std::uint32_t first, std::uint32_t rows, std::span<const std::uint8_t> pixels) {
          EXPECT_EQ(first, joined.size() / 4000);
          EXPECT_TRUE(rows >= 1 && rows <= 65);
          EXPECT_EQ(pixels.size(), 4000u * rows);
          joined.insert(joined.end(), pixels.begin(), pixels.end());
          return ++count < stopAfter;
        });
    EXPECT_TRUE(result.pixels.empty());
    return std::make_pair(result.error, count);
  };
  for (const std::uint32_t height : {1u, 64u, 65u, 66u, 131u}) {
    SCOPED_TRACE(height);
    const PngBytes file = picture(height);
    const DecodedPicture whole = rastrom::DecodePng(file, 0);
    ASSERT_EQ(whole.error, PictureError::kNone);
    std::vector<std::uint8_t> joined;
    EXPECT_EQ(bands(file, 1000, joined), std::make_pair(PictureError::kNone, std::size_t{(height + 64) / 65}));
    EXPECT_TRUE(joined == whole.pixels);
    joined.clear();
    EXPECT_EQ(bands(file, 1, joined), std::make_pair(PictureError::kNone, std::size_t{1}));
  }
  // The fifth stored block of the pixel data (from byte 2 + 4 x 65540 of the stream, which
  // starts at 41) has a broken length: the 87 rows before it are whole, one band.
  PngBytes file = picture(200);
  const std::vector<std::uint8_t> whole = rastrom::DecodePng(file, 0).pixels;
  file[41 + 2 + 4 * 65540 + 3] ^= 1;
  std::vector<std::uint8_t> joined;
  const auto [error, count] = bands(file, 1000, joined);
  EXPECT_EQ(error, PictureError::kCorrupt);
  EXPECT_EQ(count, 1u);
  EXPECT_TRUE(std::equal(joined.begin(), joined.end(), whole.begin()));
}

TEST(CompositeOver, RoundsEachChannelToTheNearest) {
  // Red 200 at alpha 100 over 50: (200 x 100 + 50 x 155) / 255 = 109.3 -> 109 (0x6D);
  // blue 255 over 200: 222.07 -> 222 (0xDE); green 0 over 100: 60.8 -> 61 (0x3D).
  std::vector<std::uint8_t> rgba{200, 0, 255, 100, 1, 2, 3, 255, 9, 9, 9, 0};
  rastrom::CompositeOver(rgba, true, 0x3264C8);
  EXPECT_EQ(rgba,
            (std::vector<std::uint8_t>{0xDE, 0x3D, 0x6D, 0, 3, 2, 1, 0, 0xC8, 0x64, 0x32, 0}));
}

TEST(BmpAlpha, CompositesOnlyAFileWithAnAlphaMask) {
  // 2 x 1 at 32 bits: the first pixel half transparent red, the second opaque blue.
  const Bytes rows =
      StoreRows(2, 1, 32, [](int x, int) { return x == 0 ? 0x80FF0000u : 0xFF0000FFu; });
  const Bytes withAlpha = BmpBuilder().Header(56).Bpp(32).Size(2, 1).Compression(kBiBitfields)
                              .Masks({0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000})
                              .Data(rows).Build();
  const Bytes noAlpha = BmpBuilder().Header(56).Bpp(32).Size(2, 1).Compression(kBiBitfields)
                            .Masks({0x00FF0000, 0x0000FF00, 0x000000FF, 0}).Data(rows).Build();
  const Bytes zeroAlpha = BmpBuilder().Header(56).Bpp(32).Size(2, 1).Compression(kBiBitfields)
                              .Masks({0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000})
                              .Data(StoreRows(2, 1, 32, [](int, int) { return 0x00FF0000u; }))
                              .Build();
  const std::vector<std::uint8_t> decoded{0, 0, 255, 0, 255, 0, 0, 0};
  std::vector<std::uint8_t> pixels = decoded;
  EXPECT_TRUE(rastrom::CompositeBmpAlpha(withAlpha, 0x00FF00, pixels));
  EXPECT_EQ(pixels, (std::vector<std::uint8_t>{0, 0x7F, 0x80, 0, 255, 0, 0, 0}));
  for (const Bytes* file : {&noAlpha, &zeroAlpha}) {
    pixels = decoded;
    EXPECT_FALSE(rastrom::CompositeBmpAlpha(*file, 0x00FF00, pixels));
    EXPECT_EQ(pixels, decoded);
  }
}

#ifdef RASTROM_TEST_JPEG

// A JPEG of `width` x `height` pixels of one colour (0xRRGGBB), made by the JPEG library.
PngBytes MakeJpeg(int width, int height, std::uint32_t colour, J_COLOR_SPACE space,
                  bool progressive) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = space == JCS_GRAYSCALE ? 1 : space == JCS_CMYK ? 4 : 3;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row;
  for (int x = 0; x < width; ++x) {
    if (space == JCS_GRAYSCALE) {
      row.push_back(static_cast<unsigned char>(colour));
    } else {
      row.insert(row.end(), {static_cast<unsigned char>(colour >> 16),
                             static_cast<unsigned char>(colour >> 8),
                             static_cast<unsigned char>(colour)});
      if (space == JCS_CMYK) row.push_back(0);
    }
  }
  for (int y = 0; y < height; ++y) {
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&info, &pointer, 1);
  }
  jpeg_finish_compress(&info);
  PngBytes file(out, out + size);
  jpeg_destroy_compress(&info);
  std::free(out);
  return file;
}

TEST(JpegDecode, DecodesGreyAsGreyAndRefusesCmykCutFilesAndALargeHeader) {
  // (Exact colours are checked against an independent decoder in independent_decode.py.)
  const DecodedPicture grey = rastrom::DecodeJpeg(MakeJpeg(17, 9, 0x5A, JCS_GRAYSCALE, true));
  ASSERT_EQ(grey.error, PictureError::kNone) << grey.detail;
  EXPECT_EQ(ColoursOf(grey), Colours(17 * 9, 0x5A5A5A));  // quality 100, one grey: exact
  EXPECT_EQ(rastrom::DecodeJpeg(MakeJpeg(8, 8, 0x112233, JCS_CMYK, false)).error,
            PictureError::kUnsupported);
  const PngBytes file = MakeJpeg(16, 16, 0x336699, JCS_RGB, true);
  for (std::size_t n = 0; n < file.size(); n += 7) {
    const PngBytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_NE(rastrom::DecodeJpeg(cut).error, PictureError::kNone) << "cut to " << n << " bytes";
  }
  // The frame header (SOF2) rewritten to 30000 x 30000: refused before any pixel is decoded.
  PngBytes large = file;
  for (std::size_t i = 0; i + 8 < large.size(); ++i) {
    if (large[i] == 0xFF && large[i + 1] == 0xC2) {
      large[i + 5] = large[i + 7] = 30000 >> 8;
      large[i + 6] = large[i + 8] = 30000 & 255;
      break;
    }
  }
  const DecodedPicture picture = rastrom::DecodeJpeg(large);
  EXPECT_EQ(picture.error, PictureError::kTooLarge);
  EXPECT_EQ(picture.width, 30000u);
}

#endif

}  // namespace
