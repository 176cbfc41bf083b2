// Writes the fuzzers' seed corpus: small BMP files of every accepted format and
// compression, in both row orders, and one file for each kind of refusal.
//
//   make_seeds DIRECTORY
//
// File names say what each file is: "ok-..." decodes, "bad-..." is refused.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bmp_builder.h"
#include "png_builder.h"

namespace {

using namespace rastrom::test;

// One BMP file, described field by field; Build() lays it out.
struct Bmp {
  std::uint32_t headerSize = 40;  // 12 core, 16/64 OS/2 2.x, 40 info, 52/56 V2/V3, 108/124 V4/V5
  std::int32_t width = 1;
  std::int32_t height = 1;        // negative: rows stored top-down
  std::uint16_t planes = 1;
  std::uint16_t bitsPerPixel = 24;
  std::uint32_t compression = 0;
  std::uint32_t imageSize = 0;
  std::uint32_t coloursUsed = 0;
  std::vector<std::uint32_t> masks;    // after a 40-byte header, or inside V2 and later ones
  std::vector<std::uint32_t> palette;  // 0xRRGGBB
  Bytes pixels;                        // the stored rows, or the RLE stream
  std::int64_t dataOffset = -1;        // -1: right after the palette
  std::size_t gap = 0;                 // bytes between the palette and the pixels

  Bytes Build() const {
    Bytes info;
    AppendLe32(info, headerSize);
    if (headerSize == 12) {
      AppendLe16(info, static_cast<std::uint32_t>(width));
      AppendLe16(info, static_cast<std::uint32_t>(height));
    } else {
      AppendLe32(info, static_cast<std::uint32_t>(width));
      AppendLe32(info, static_cast<std::uint32_t>(height));
    }
    AppendLe16(info, planes);
    AppendLe16(info, bitsPerPixel);
    if (headerSize >= 40) {
      AppendLe32(info, compression);
      AppendLe32(info, imageSize);
      AppendLe32(info, 2835);  // 72 dpi
      AppendLe32(info, 2835);
      AppendLe32(info, coloursUsed);
      AppendLe32(info, 0);
    }
    // Masks live inside V2 and later headers; a 40-byte header is followed by them.
    if (headerSize > 40 && headerSize != 64) {
      for (std::size_t i = 0; i < masks.size() && info.size() + 4 <= headerSize; ++i) {
        AppendLe32(info, masks[i]);
      }
    }
    info.resize(headerSize, 0);
    if (headerSize == 40) {
      for (std::uint32_t m : masks) AppendLe32(info, m);
    }
    for (std::uint32_t c : palette) {
      info.push_back(static_cast<std::uint8_t>(c));
      info.push_back(static_cast<std::uint8_t>(c >> 8));
      info.push_back(static_cast<std::uint8_t>(c >> 16));
      if (headerSize != 12) info.push_back(0);
    }
    info.resize(info.size() + gap, 0);

    Bytes file = {'B', 'M'};
    const std::size_t offset = 14 + info.size();
    AppendLe32(file, static_cast<std::uint32_t>(offset + pixels.size()));
    AppendLe32(file, 0);
    AppendLe32(file, dataOffset < 0 ? static_cast<std::uint32_t>(offset)
                               : static_cast<std::uint32_t>(dataOffset));
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
  }
};

std::vector<std::uint32_t> Palette(int entries) {
  std::vector<std::uint32_t> p;
  for (int i = 0; i < entries; ++i) {
    p.push_back(static_cast<std::uint32_t>(((i * 37) & 255) << 16 | ((i * 91) & 255) << 8 |
                                           ((255 - i) & 255)));
  }
  return p;
}

Bytes PaletteImage(std::uint32_t headerSize, int bpp, int width, int height, int entries) {
  Bmp bmp;
  bmp.headerSize = headerSize;
  bmp.width = width;
  bmp.height = height;
  bmp.bitsPerPixel = static_cast<std::uint16_t>(bpp);
  bmp.palette = Palette(entries);
  if (headerSize >= 40 && entries != (1 << bpp)) bmp.coloursUsed = static_cast<std::uint32_t>(entries);
  bmp.pixels = StoreRows(width, height, bpp, [](int x, int y) { return std::uint32_t(x * 3 + y * 5); });
  return bmp.Build();
}

Bytes MaskedImage(std::uint32_t headerSize, int bpp, int height, std::uint32_t compression,
                  std::vector<std::uint32_t> masks) {
  Bmp bmp;
  bmp.headerSize = headerSize;
  bmp.width = 5;
  bmp.height = height;
  bmp.bitsPerPixel = static_cast<std::uint16_t>(bpp);
  bmp.compression = compression;
  bmp.masks = std::move(masks);
  bmp.pixels = StoreRows(5, height, bpp, [](int x, int y) {
    return static_cast<std::uint32_t>(0x9E3779B9u * static_cast<std::uint32_t>(x + 7 * y + 1));
  });
  return bmp.Build();
}

Bytes DirectImage(int bpp, int width, int height) {
  Bmp bmp;
  bmp.width = width;
  bmp.height = height;
  bmp.bitsPerPixel = static_cast<std::uint16_t>(bpp);
  bmp.pixels = StoreRows(width, height, bpp, [](int x, int y) {
    return static_cast<std::uint32_t>(x * 40 | (y * 60) << 8 | (x * y * 30) << 16);
  });
  return bmp.Build();
}

// An RLE file: 8 or 4 bits, a 16-entry palette, the given stream.
Bytes RleImage(int bpp, int width, int height, Bytes stream, std::uint32_t headerSize = 40) {
  Bmp bmp;
  bmp.headerSize = headerSize;
  bmp.width = width;
  bmp.height = height;
  bmp.bitsPerPixel = static_cast<std::uint16_t>(bpp);
  bmp.compression = bpp == 8 ? 1 : 2;
  bmp.coloursUsed = 16;
  bmp.palette = Palette(16);
  bmp.imageSize = static_cast<std::uint32_t>(stream.size());
  bmp.pixels = std::move(stream);
  return bmp.Build();
}

// Every escape once: runs, an even and an odd literal, a delta, end of line, end of bitmap.
const Bytes kRleEscapes = {
    3, 1, 2, 2,                     // runs
    0, 0,                           // end of line
    0, 3, 4, 5, 6, 0,               // odd literal, padded
    0, 4, 7, 8, 9, 10,              // even literal
    0, 2, 1, 1,                     // delta
    9, 11,                          // a run past the right edge: clipped
    0, 0, 2, 12, 0, 1};             // end of line, run, end of bitmap

void Write(const std::filesystem::path& dir, const std::string& name, const Bytes& bytes) {
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::filesystem::path dir(argv[1]);
  std::filesystem::create_directories(dir);
  int count = 0;
  auto put = [&](const std::string& name, const Bytes& bytes) {
    Write(dir, name, bytes);
    ++count;
  };

  // Palette images in every depth and both row orders; odd widths need row padding.
  for (int bpp : {1, 2, 4, 8}) {
    const std::string b = std::to_string(bpp);
    put("ok-pal" + b + "-bottomup.bmp", PaletteImage(40, bpp, 7, 3, 1 << bpp));
    put("ok-pal" + b + "-topdown.bmp", PaletteImage(40, bpp, 7, -3, 1 << bpp));
    put("ok-pal" + b + "-core.bmp", PaletteImage(12, bpp, 9, 2, 1 << bpp));
  }
  // A short palette: indices past its entries are black.
  put("ok-pal4-short-palette.bmp", PaletteImage(40, 4, 6, 2, 3));
  put("ok-pal8-short-palette.bmp", PaletteImage(40, 8, 5, 4, 2));
  put("ok-pal8-os2-16.bmp", PaletteImage(16, 8, 3, 3, 256));
  put("ok-pal8-os2-64.bmp", PaletteImage(64, 8, 3, -3, 256));
  put("ok-pal1-v5.bmp", PaletteImage(124, 1, 33, 2, 2));

  // Direct colour, both row orders, widths that need padding.
  for (int bpp : {16, 24, 32}) {
    const std::string b = std::to_string(bpp);
    put("ok-rgb" + b + "-bottomup.bmp", DirectImage(bpp, 5, 3));
    put("ok-rgb" + b + "-topdown.bmp", DirectImage(bpp, 5, -3));
  }
  {
    Bmp core;
    core.headerSize = 12;
    core.width = 3;
    core.height = 2;
    core.pixels = StoreRows(3, 2, 24, [](int x, int y) { return std::uint32_t(0x102030 * (x + y)); });
    put("ok-rgb24-core.bmp", core.Build());
  }

  // Masks: after a 40-byte header, inside V2 to V5, with alpha, empty, wide and non-contiguous.
  put("ok-bitfields16-565.bmp", MaskedImage(40, 16, 3, 3, {0xF800, 0x07E0, 0x001F}));
  put("ok-bitfields16-565-topdown.bmp", MaskedImage(40, 16, -3, 3, {0xF800, 0x07E0, 0x001F}));
  put("ok-alphabitfields16-4444.bmp", MaskedImage(40, 16, 2, 6, {0x0F00, 0x00F0, 0x000F, 0xF000}));
  put("ok-bitfields32-v2.bmp", MaskedImage(52, 32, 2, 3, {0xFF0000, 0xFF00, 0xFF}));
  put("ok-bitfields16-v3-alpha.bmp", MaskedImage(56, 16, 2, 3, {0x7C00, 0x03E0, 0x001F, 0x8000}));
  put("ok-bitfields32-v4-101010.bmp", MaskedImage(108, 32, 2, 3, {0x3FF00000, 0x000FFC00, 0x3FF}));
  put("ok-bitfields32-v5-topdown.bmp", MaskedImage(124, 32, -2, 3, {0xFF, 0xFF00, 0xFF0000}));
  put("ok-bitfields32-zero-mask.bmp", MaskedImage(40, 32, 2, 3, {0xFF0000, 0, 0xFF}));
  put("ok-bitfields32-noncontiguous.bmp", MaskedImage(40, 32, 2, 3, {0xF0F000, 0x0F0F, 0x3}));
  put("ok-bitfields16-1bit.bmp", MaskedImage(40, 16, 2, 3, {0x8000, 0x3, 0x7C}));

  // RLE: every escape, clipping, a delta past the top, a stream that just ends.
  put("ok-rle8.bmp", RleImage(8, 6, 4, kRleEscapes));
  put("ok-rle4.bmp", RleImage(4, 6, 4, kRleEscapes));
  put("ok-rle8-os2-64.bmp", RleImage(8, 6, 4, kRleEscapes, 64));
  put("ok-rle8-delta-past-top.bmp", RleImage(8, 4, 2, {2, 3, 0, 2, 1, 5, 2, 4}));
  put("ok-rle4-no-end.bmp", RleImage(4, 5, 3, {5, 0x12, 0, 5, 0x34, 0x56, 0x70}));
  put("ok-rle8-literal-past-end.bmp", RleImage(8, 8, 2, {0, 6, 1, 2}));
  put("ok-rle8-large.bmp", RleImage(8, 1500, 1000, {255, 3, 0, 2, 200, 250, 255, 4, 0, 1}));
  {
    // The image-size field is shorter than the stream: the rest is ignored.
    Bytes bytes = RleImage(8, 4, 2, {4, 1, 0, 0, 4, 2, 0, 1});
    bytes[34] = 4;
    put("ok-rle8-image-size-short.bmp", bytes);
  }

  // Layout: a gap before the pixels, planes other than 1, a palette in a 24-bit file,
  // the last row without its padding.
  {
    Bmp bmp;
    bmp.width = 3;
    bmp.height = 2;
    bmp.gap = 10;
    bmp.pixels = StoreRows(3, 2, 24, [](int x, int y) { return std::uint32_t(x * 0x404040 + y); });
    put("ok-gap-before-pixels.bmp", bmp.Build());
    bmp.gap = 0;
    bmp.planes = 3;
    put("ok-planes-3.bmp", bmp.Build());
    bmp.planes = 1;
    bmp.coloursUsed = 2;
    bmp.palette = Palette(2);
    put("ok-rgb24-with-palette.bmp", bmp.Build());
    Bytes unpadded = DirectImage(24, 5, 2);
    unpadded.resize(unpadded.size() - 1);
    put("ok-last-row-unpadded.bmp", unpadded);
  }
  {
    Bmp bmp;
    bmp.width = 2;
    bmp.height = 2;
    bmp.bitsPerPixel = 8;
    bmp.palette = Palette(256);
    bmp.dataOffset = 0;  // 0: right after the palette
    bmp.pixels = StoreRows(2, 2, 8, [](int x, int y) { return std::uint32_t(x + 2 * y); });
    put("ok-offset-zero.bmp", bmp.Build());
  }

  // Refusals, one of each kind.
  const Bytes good = DirectImage(24, 3, 2);
  auto changed = [&](std::size_t at, std::vector<std::uint8_t> values) {
    Bytes bytes = good;
    for (std::size_t i = 0; i < values.size(); ++i) bytes[at + i] = values[i];
    return bytes;
  };
  put("bad-empty.bmp", {});
  put("bad-signature.bmp", changed(0, {'B', 'A'}));
  put("bad-header-cut.bmp", Bytes(good.begin(), good.begin() + 30));
  put("bad-header-size-20.bmp", changed(14, {20}));
  put("bad-header-size-0.bmp", changed(14, {0}));
  put("bad-width-0.bmp", changed(18, {0, 0, 0, 0}));
  put("bad-width-negative.bmp", changed(18, {0xFD, 0xFF, 0xFF, 0xFF}));
  put("bad-width-65536.bmp", changed(18, {0, 0, 1, 0}));
  put("bad-height-0.bmp", changed(22, {0, 0, 0, 0}));
  put("bad-height-int32-min.bmp", changed(22, {0, 0, 0, 0x80}));
  put("bad-height-minus-65536.bmp", changed(22, {0, 0, 0xFF, 0xFF}));
  put("bad-planes-0.bmp", changed(26, {0, 0}));
  put("bad-bpp-0.bmp", changed(28, {0}));
  put("bad-bpp-3.bmp", changed(28, {3}));
  put("bad-bpp-64.bmp", changed(28, {64}));
  put("bad-compression-jpeg.bmp", changed(30, {4}));
  put("bad-compression-png.bmp", changed(30, {5}));
  put("bad-compression-unknown.bmp", changed(30, {9}));
  put("bad-bitfields-24.bmp", changed(30, {3}));
  put("bad-offset-into-headers.bmp", changed(10, {20}));
  put("bad-offset-past-end.bmp", changed(10, {0xFF, 0xFF}));
  put("bad-pixels-cut.bmp", Bytes(good.begin(), good.end() - 4));
  put("bad-too-large.bmp", RleImage(8, 40000, 40000, {0, 1}));
  put("bad-rle8-topdown.bmp", RleImage(8, 4, -2, {4, 1, 0, 1}));
  put("bad-rle8-on-4-bits.bmp", [] {
    Bytes b = RleImage(4, 4, 2, {4, 1, 0, 1});
    b[30] = 1;
    return b;
  }());
  put("bad-rle4-on-8-bits.bmp", [] {
    Bytes b = RleImage(8, 4, 2, {4, 1, 0, 1});
    b[30] = 2;
    return b;
  }());
  put("bad-os2-huffman.bmp", [] {
    Bytes b = PaletteImage(64, 1, 8, 2, 2);
    b[30] = 3;
    return b;
  }());
  put("bad-os2-rle24.bmp", [] {
    Bytes b = PaletteImage(64, 8, 2, 2, 256);
    b[30] = 4;
    return b;
  }());
  put("bad-palette-cut.bmp", [] {
    Bytes b = PaletteImage(40, 8, 2, 2, 256);
    b.resize(54 + 100);
    b[10] = 0;  // pixels right after the palette, which the file no longer holds
    b[11] = 0;
    return b;
  }());
  put("bad-masks-cut.bmp", [] {
    Bytes b = MaskedImage(40, 32, 1, 3, {0xFF0000, 0xFF00, 0xFF});
    b.resize(60);
    return b;
  }());

  // PNG files (for the picture input's target): each colour type and depth, 3 x 2, one
  // interlaced, one with a palette's alpha and one with a colour key.
  const std::vector<std::vector<unsigned>> rows = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
                                                   {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}};
  const int channels[] = {1, 0, 3, 1, 2, 0, 4};
  for (const auto& [type, depths] : std::vector<std::pair<int, std::vector<int>>>{
           {kPngGrey, {1, 2, 4, 8, 16}}, {kPngRgb, {8, 16}}, {kPngPalette, {1, 2, 4, 8}},
           {kPngGreyAlpha, {8, 16}}, {kPngRgba, {8, 16}}}) {
    for (const int depth : depths) {
      std::vector<std::vector<unsigned>> samples;
      for (const auto& row : rows) samples.emplace_back(row.begin(), row.begin() + 3 * channels[type]);
      PngBuilder png(3, 2, depth, type);
      if (type == kPngPalette) png.Chunk("PLTE", PngBytes(48, 0x5A));
      put("ok-png-type" + std::to_string(type) + "-depth" + std::to_string(depth) + ".png",
          png.Rows(depth, samples).Build());
    }
  }
  put("ok-png-interlaced.png", PngBuilder(1, 1, 8, kPngRgb, 1).Rows(8, {{1, 2, 3}}).Build());
  put("ok-png-palette-alpha.png", PngBuilder(2, 1, 8, kPngPalette)
                                      .Chunk("PLTE", {1, 2, 3, 4, 5, 6}).Chunk("tRNS", {0})
                                      .Rows(8, {{0, 1}}).Build());
  put("ok-png-rgb-key.png", PngBuilder(2, 1, 16, kPngRgb).Chunk("tRNS", {0, 1, 0, 2, 0, 3})
                                .Rows(16, {{1, 2, 3, 4, 5, 6}}).Build());

  // Memory texts that describe themselves, as rastrom-mem writes them.
  const auto text = [](const std::string& t) { return Bytes(t.begin(), t.end()); };
  put("ok-rgb444.mem", text("// tiny.bmp: 3 x 2 pixels of 4-4-4 RGB, 1 to a word; depth 6, width 12\n"
                            "F00\n0F0\n00F\nFFF\n000\nF00\n"));
  put("ok-rgb565.mif", text("-- tiny.bmp: 2 x 1 pixels of 5-6-5 RGB, 1 to a word; depth 2, width 16\n"
                            "WIDTH=16;\nDEPTH=2;\nADDRESS_RADIX=HEX;\nDATA_RADIX=HEX;\n"
                            "CONTENT BEGIN\n0 : F800;\n1 : 07E0;\nEND;\n"));

  std::printf("wrote %d seed files to %s\n", count, dir.c_str());
  return 0;
}
