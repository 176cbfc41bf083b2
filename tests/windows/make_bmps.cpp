// Writes a set of small BMP files, one for each variant the loader accepts, so that the
// pixels of the Windows build (the platform's own loader) can be compared with the native
// build's. Standard library only, with the little-endian and row helpers of
// tests/bmp_builder.h (compile with -I tests).
//
// Usage: make_bmps <output directory>
// Prints the name of every file written, one a line.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bmp_builder.h"

namespace {

using namespace rastrom::test;

struct Rgb {
  std::uint8_t r, g, b;
};

// A colourful picture whose channels vary in their top bits, which the 3-3-2 reduction keeps:
// a swapped channel, a mirrored row or a shifted column changes the COE file.
Rgb Picture(int x, int y) {
  return {static_cast<std::uint8_t>(x * 53 + y * 17 + 11),
          static_cast<std::uint8_t>(x * 29 + y * 71 + 90),
          static_cast<std::uint8_t>((x * 131) ^ (y * 37 + 200))};
}

// A palette of n colours, entry 0 not black (so "unset" and "index 0" look different).
std::vector<Rgb> Palette(int n) {
  std::vector<Rgb> colours;
  for (int i = 0; i < n; ++i) {
    colours.push_back({static_cast<std::uint8_t>(255 - i * 37), static_cast<std::uint8_t>(i * 91 + 64),
                       static_cast<std::uint8_t>(i * 59 + 128)});
  }
  return colours;
}

enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3 };

struct Image {
  std::uint32_t headerSize = 40;  // 12 core, 40 info, 52 V2, 56 V3, 64 OS/2 2.x, 108 V4, 124 V5
  int width = 0;
  int height = 0;  // negative: rows stored top to bottom
  std::uint16_t bitsPerPixel = 24;
  std::uint32_t compression = kRgb;
  std::vector<Rgb> palette;       // written as is; colours used = its size (0 for 2^bpp)
  bool paletteCountZero = false;  // write "colours used" as 0 for a full palette
  std::uint32_t masks[3] = {};    // red, green, blue for bitfields
  Bytes pixels;                   // the pixel data as stored (rows or RLE stream)
};

Bytes Assemble(const Image& image) {
  const bool core = image.headerSize == 12;
  const bool masksAfterHeader = image.headerSize == 40 && image.compression == kBitfields;
  const std::uint32_t paletteBytes =
      static_cast<std::uint32_t>(image.palette.size()) * (core ? 3 : 4);
  const std::uint32_t offset =
      14 + image.headerSize + (masksAfterHeader ? 12 : 0) + paletteBytes;

  Bytes b{'B', 'M'};
  AppendLe32(b, offset + static_cast<std::uint32_t>(image.pixels.size()));
  AppendLe32(b, 0);
  AppendLe32(b, offset);

  AppendLe32(b, image.headerSize);
  if (core) {
    AppendLe16(b, static_cast<std::uint32_t>(image.width));
    AppendLe16(b, static_cast<std::uint32_t>(image.height));
    AppendLe16(b, 1);
    AppendLe16(b, image.bitsPerPixel);
  } else {
    AppendLe32(b, static_cast<std::uint32_t>(image.width));
    AppendLe32(b, static_cast<std::uint32_t>(image.height));
    AppendLe16(b, 1);
    AppendLe16(b, image.bitsPerPixel);
    AppendLe32(b, image.compression);
    AppendLe32(b, static_cast<std::uint32_t>(image.pixels.size()));
    AppendLe32(b, 2835);  // 72 dpi
    AppendLe32(b, 2835);
    AppendLe32(b, image.paletteCountZero ? 0 : static_cast<std::uint32_t>(image.palette.size()));
    AppendLe32(b, 0);
    if (image.headerSize >= 52) {  // V2 and later keep the masks inside the header
      for (std::uint32_t mask : image.masks) AppendLe32(b, image.compression == kBitfields ? mask : 0);
    }
    if (image.headerSize >= 56) AppendLe32(b, 0);  // alpha mask
    if (image.headerSize == 64) {  // OS/2 2.x: units, reserved, recording, rendering, ...
      while (b.size() < 14 + 64) b.push_back(0);
    }
    if (image.headerSize >= 108) {
      AppendLe32(b, 0x73524742);  // colour space 'sRGB'
      while (b.size() < 14 + 108) b.push_back(0);  // end points and gamma, unused for sRGB
    }
    if (image.headerSize == 124) {
      AppendLe32(b, 4);  // intent: LCS_GM_IMAGES
      AppendLe32(b, 0);  // no profile
      AppendLe32(b, 0);
      AppendLe32(b, 0);
    }
    if (masksAfterHeader) {
      for (std::uint32_t mask : image.masks) AppendLe32(b, mask);
    }
  }
  for (const Rgb& c : image.palette) {
    b.push_back(c.b);
    b.push_back(c.g);
    b.push_back(c.r);
    if (!core) b.push_back(0);
  }
  b.insert(b.end(), image.pixels.begin(), image.pixels.end());
  return b;
}

int PaletteIndex(int x, int y, int colours) { return (x * 3 + y * 5 + x * y) % colours; }

std::uint32_t Pack24(int x, int y) {
  const Rgb c = Picture(x, y);
  return std::uint32_t{c.b} | std::uint32_t{c.g} << 8 | std::uint32_t{c.r} << 16;
}

// Places each channel's top bits in its mask (the masks must be contiguous).
std::uint32_t PackMasked(Rgb c, const std::uint32_t (&masks)[3], std::uint32_t extra) {
  const std::uint8_t channel[3] = {c.r, c.g, c.b};
  std::uint32_t v = extra;
  for (int i = 0; i < 3; ++i) {
    std::uint32_t mask = masks[i];
    if (mask == 0) continue;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    int length = 0;
    while (((mask >> (shift + length)) & 1) != 0) ++length;
    const std::uint32_t value =
        length >= 8 ? std::uint32_t{channel[i]} << (length - 8) : std::uint32_t{channel[i]} >> (8 - length);
    v |= (value << shift) & mask;
  }
  return v;
}

// Run-length codes one row of indices: runs of 2 or more as pairs, other stretches as
// literal runs (3 or more) or single pairs. Four-bit indices pack two to a byte.
void EncodeRleRow(Bytes& out, const std::vector<int>& row, bool fourBit) {
  std::size_t x = 0;
  while (x < row.size()) {
    std::size_t run = 1;
    while (x + run < row.size() && row[x + run] == row[x] && run < 255) ++run;
    if (run >= 2) {
      out.push_back(static_cast<std::uint8_t>(run));
      out.push_back(static_cast<std::uint8_t>(fourBit ? row[x] << 4 | row[x] : row[x]));
      x += run;
      continue;
    }
    std::size_t end = x + 1;  // literal until a run of two starts
    while (end < row.size() && end - x < 255 && !(end + 1 < row.size() && row[end] == row[end + 1])) ++end;
    const std::size_t count = end - x;
    if (count < 3) {
      for (std::size_t i = x; i < end; ++i) {
        out.push_back(1);
        out.push_back(static_cast<std::uint8_t>(fourBit ? row[i] << 4 : row[i]));
      }
    } else {
      out.push_back(0);
      out.push_back(static_cast<std::uint8_t>(count));
      std::size_t bytes = 0;
      for (std::size_t i = x; i < end; i += fourBit ? 2 : 1, ++bytes) {
        if (fourBit) {
          const int low = i + 1 < end ? row[i + 1] : 0;
          out.push_back(static_cast<std::uint8_t>(row[i] << 4 | low));
        } else {
          out.push_back(static_cast<std::uint8_t>(row[i]));
        }
      }
      if (bytes % 2 != 0) out.push_back(0);
    }
    x = end;
  }
}

// An RLE picture: runs, literals, line ends; with `moves`, also a delta that skips pixels
// and an early end of bitmap that leaves the top rows unset.
Bytes EncodeRle(int width, int height, int colours, bool fourBit, bool moves) {
  Bytes out;
  for (int stored = 0; stored < height; ++stored) {
    const int y = height - 1 - stored;
    std::vector<int> row;
    for (int x = 0; x < width; ++x) row.push_back(x < width / 2 ? (x / 4 + y) % colours : PaletteIndex(x, y, colours));
    if (moves && stored == 1) {
      // Three pixels, then move right 4 and up 1: the rest of this row stays unset.
      EncodeRleRow(out, std::vector<int>(row.begin(), row.begin() + 3), fourBit);
      out.insert(out.end(), {0, 2, 4, 1});
      // Now at x = 7 on the next row up; fill it to the end and close the line.
      ++stored;
      const int y2 = height - 1 - stored;
      std::vector<int> rest;
      for (int x = 7; x < width; ++x) rest.push_back(PaletteIndex(x, y2, colours));
      EncodeRleRow(out, rest, fourBit);
      out.insert(out.end(), {0, 0});
      continue;
    }
    if (moves && stored == height - 2) break;  // the top two rows are never set
    EncodeRleRow(out, row, fourBit);
    out.insert(out.end(), {0, 0});
  }
  out.insert(out.end(), {0, 1});
  return out;
}

struct Output {
  std::filesystem::path dir;
  bool ok = true;
  void Write(const std::string& name, const Image& image) {
    const Bytes bytes = Assemble(image);
    std::ofstream file(dir / name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
      std::fprintf(stderr, "make_bmps: cannot write %s\n", (dir / name).string().c_str());
      ok = false;
      return;
    }
    std::printf("%s\n", name.c_str());
  }
};

Image Paletted(int width, int height, std::uint16_t bits, int colours, std::uint32_t headerSize = 40) {
  Image image;
  image.headerSize = headerSize;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = bits;
  const int full = 1 << bits;
  image.palette = Palette(headerSize == 12 ? full : colours);
  image.pixels = StoreRows(width, height, bits, [&](int x, int y) {
    return static_cast<std::uint32_t>(PaletteIndex(x, y, full));
  });
  return image;
}

Image Direct(int width, int height, std::uint16_t bits, std::uint32_t headerSize = 40) {
  Image image;
  image.headerSize = headerSize;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = bits;
  image.pixels = StoreRows(width, height, bits, [&](int x, int y) {
    if (bits == 16) {  // 5-5-5 with the unused top bit set on odd columns
      const Rgb c = Picture(x, y);
      return std::uint32_t{(x & 1u) << 15} | std::uint32_t(c.r >> 3) << 10 |
             std::uint32_t(c.g >> 3) << 5 | std::uint32_t(c.b >> 3);
    }
    return Pack24(x, y) | (bits == 32 ? std::uint32_t(x * 7 + y) << 24 : 0);
  });
  return image;
}

Image Masked(int width, int height, std::uint16_t bits, std::uint32_t r, std::uint32_t g,
             std::uint32_t b, std::uint32_t headerSize = 40) {
  Image image;
  image.headerSize = headerSize;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = bits;
  image.compression = kBitfields;
  image.masks[0] = r;
  image.masks[1] = g;
  image.masks[2] = b;
  image.pixels = StoreRows(width, height, bits, [&](int x, int y) {
    return PackMasked(Picture(x, y), image.masks, 0);
  });
  return image;
}

Image Rle(int width, int height, bool fourBit, bool moves) {
  Image image;
  image.width = width;
  image.height = height;
  image.bitsPerPixel = fourBit ? 4 : 8;
  image.compression = fourBit ? kRle4 : kRle8;
  image.palette = Palette(fourBit ? 16 : 40);
  image.pixels = EncodeRle(width, height, fourBit ? 16 : 40, fourBit, moves);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_bmps <output directory>\n");
    return 2;
  }
  Output out{argv[1]};
  std::error_code error;
  std::filesystem::create_directories(out.dir, error);

  // Row padding: every width from 1 to 9 at each uncompressed depth, in both row orders.
  for (int width = 1; width <= 9; ++width) {
    const std::string w = std::to_string(width);
    out.Write("pal1-w" + w + ".bmp", Paletted(width, 3, 1, 2));
    out.Write("pal4-w" + w + ".bmp", Paletted(width, 3, 4, 16));
    out.Write("pal8-w" + w + ".bmp", Paletted(width, 3, 8, 256));
    out.Write("rgb16-w" + w + ".bmp", Direct(width, 3, 16));
    out.Write("rgb24-w" + w + ".bmp", Direct(width, 3, 24));
    out.Write("rgb32-w" + w + ".bmp", Direct(width, 3, 32));
  }
  out.Write("pal1-topdown.bmp", Paletted(13, -5, 1, 2));
  out.Write("pal4-topdown.bmp", Paletted(13, -5, 4, 16));
  out.Write("pal8-topdown.bmp", Paletted(13, -5, 8, 256));
  out.Write("rgb16-topdown.bmp", Direct(13, -5, 16));
  out.Write("rgb24-topdown.bmp", Direct(13, -5, 24));
  out.Write("rgb32-topdown.bmp", Direct(13, -5, 32));

  // Palettes: a short one (indices past it), "colours used" 0, black-then-white and the reverse.
  out.Write("pal8-short.bmp", Paletted(23, 7, 8, 100));
  out.Write("pal4-short.bmp", Paletted(23, 7, 4, 5));
  {
    Image image = Paletted(23, 7, 8, 256);
    image.paletteCountZero = true;
    out.Write("pal8-count0.bmp", image);
  }
  {
    Image image = Paletted(19, 6, 1, 2);
    image.palette = {{0, 0, 0}, {255, 255, 255}};
    out.Write("pal1-black-white.bmp", image);
    image.palette = {{255, 255, 255}, {0, 0, 0}};
    out.Write("pal1-white-black.bmp", image);
  }
  out.Write("pal2.bmp", Paletted(11, 5, 2, 4));

  // Masks: 5-6-5, 4-4-4, channels of 2 bits (widened by bit replication), 8-8-8 in
  // another order and 10-10-10.
  out.Write("rgb16-565.bmp", Masked(21, 6, 16, 0xF800, 0x07E0, 0x001F));
  out.Write("rgb16-555bf.bmp", Masked(21, 6, 16, 0x7C00, 0x03E0, 0x001F));
  out.Write("rgb16-444.bmp", Masked(21, 6, 16, 0x0F00, 0x00F0, 0x000F));
  out.Write("rgb16-232.bmp", Masked(21, 6, 16, 0x0060, 0x001C, 0x0003));
  out.Write("rgb32-bgr-masks.bmp", Masked(21, 6, 32, 0x000000FF, 0x0000FF00, 0x00FF0000));
  out.Write("rgb32-101010.bmp", Masked(21, 6, 32, 0x3FF00000, 0x000FFC00, 0x000003FF));
  out.Write("rgb16-565-topdown.bmp", Masked(21, -6, 16, 0xF800, 0x07E0, 0x001F));

  // Run-length coding: plain, and with a delta move and an early end.
  out.Write("rle8.bmp", Rle(37, 9, false, false));
  out.Write("rle4.bmp", Rle(37, 9, true, false));
  out.Write("rle8-moves.bmp", Rle(37, 9, false, true));
  out.Write("rle4-moves.bmp", Rle(37, 9, true, true));

  // Header forms: core (OS/2 1.x), V2, V3, V4, V5, OS/2 2.x.
  out.Write("core-pal1.bmp", Paletted(17, 5, 1, 2, 12));
  out.Write("core-pal4.bmp", Paletted(17, 5, 4, 16, 12));
  out.Write("core-pal8.bmp", Paletted(17, 5, 8, 256, 12));
  out.Write("core-rgb24.bmp", Direct(17, 5, 24, 12));
  out.Write("v2-rgb16-565.bmp", Masked(17, 5, 16, 0xF800, 0x07E0, 0x001F, 52));
  out.Write("v3-rgb32-bf.bmp", Masked(17, 5, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 56));
  out.Write("v4-rgb24.bmp", Direct(17, 5, 24, 108));
  out.Write("v4-rgb16-565.bmp", Masked(17, 5, 16, 0xF800, 0x07E0, 0x001F, 108));
  out.Write("v5-pal8.bmp", Paletted(17, 5, 8, 256, 124));
  out.Write("v5-rgb32.bmp", Direct(17, 5, 32, 124));
  out.Write("os2v2-pal8.bmp", Paletted(17, 5, 8, 256, 64));

  // A larger picture than the rest, wider than one word of pixels per row.
  out.Write("rgb24-large.bmp", Direct(203, 61, 24));
  return out.ok ? 0 : 1;
}
