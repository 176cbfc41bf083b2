#include "bmp_rows.h"

#include <algorithm>
#include <optional>

namespace rastrom {

namespace {

constexpr std::uint64_t kFileHeaderBytes = 14;
constexpr std::uint64_t kInfoHeaderBytes = 40;
constexpr std::uint64_t kPaletteBytes = 256 * 4;
constexpr std::uint64_t kMaxSide = 0x7FFFFFFF;      // width and height are signed 32-bit fields
constexpr std::uint64_t kMaxFileBytes = 0xFFFFFFFF;  // the file size is an unsigned 32-bit field
constexpr std::uint32_t kPixelsPerMetre = 2835;     // 72 dots per inch

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

std::uint64_t PixelOffset(const PixelFormat& format) {
  return kFileHeaderBytes + kInfoHeaderBytes + (PalettedPreview(format) ? kPaletteBytes : 0);
}

}  // namespace

bool PalettedPreview(const PixelFormat& format) { return PixelBits(format) <= 8; }

std::uint64_t PreviewRowBytes(const PixelFormat& format, std::uint64_t width) {
  const std::uint64_t bytes = width * (PalettedPreview(format) ? 1 : 3);
  return (bytes + 3) / 4 * 4;
}

std::uint64_t PreviewFileSize(const PixelFormat& format, std::uint64_t width, std::uint64_t height) {
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return 0;
  const std::uint64_t stride = PreviewRowBytes(format, width);  // below 2^33: no overflow below
  const std::uint64_t offset = PixelOffset(format);
  if (height > (kMaxFileBytes - offset) / stride) return 0;
  return offset + stride * height;
}

std::string PreviewHeader(const PixelFormat& format, std::uint64_t width, std::uint64_t height,
                          bool topDown) {
  const std::uint64_t fileBytes = PreviewFileSize(format, width, height);
  const bool paletted = PalettedPreview(format);
  std::string out;
  // File header: signature, file size, two reserved words, where the rows start.
  out += "BM";
  Put32(out, static_cast<std::uint32_t>(fileBytes));
  Put32(out, 0);
  Put32(out, static_cast<std::uint32_t>(PixelOffset(format)));
  // Info header: a positive height means the rows are stored bottom-up, a negative one
  // top-down.
  Put32(out, static_cast<std::uint32_t>(kInfoHeaderBytes));
  Put32(out, static_cast<std::uint32_t>(width));
  Put32(out, topDown ? static_cast<std::uint32_t>(0 - height) : static_cast<std::uint32_t>(height));
  Put16(out, 1);                 // planes
  Put16(out, paletted ? 8 : 24);  // bits per pixel
  Put32(out, 0);                 // BI_RGB: no compression
  Put32(out, static_cast<std::uint32_t>(PreviewRowBytes(format, width) * height));
  Put32(out, kPixelsPerMetre);
  Put32(out, kPixelsPerMetre);
  Put32(out, paletted ? 256 : 0);  // palette entries
  Put32(out, 0);                   // all of them matter
  if (paletted) {
    const std::uint32_t values = std::uint32_t{1} << PixelBits(format);
    for (std::uint32_t v = 0; v < 256; ++v) {
      const Rgb8 c = v < values ? ShowPixel(format, v) : Rgb8{0, 0, 0};
      out += static_cast<char>(c.blue);
      out += static_cast<char>(c.green);
      out += static_cast<char>(c.red);
      out += '\0';
    }
  }
  return out;
}

void PreviewRow(const PixelFormat& format, std::span<const std::uint32_t> values,
                std::span<std::uint8_t> row) {
  if (PalettedPreview(format)) {
    const std::size_t count = std::min(values.size(), row.size());
    const std::uint32_t* value = values.data();
    std::uint8_t* out = row.data();
    for (std::size_t x = 0; x < count; ++x) out[x] = static_cast<std::uint8_t>(value[x]);
    std::fill(row.begin() + static_cast<std::ptrdiff_t>(count), row.end(), std::uint8_t{0});
    return;
  }
  // A value of more than 8 bits is a colour: each channel is found by its bits alone, so
  // its shown byte comes from a table of the channel's codes, made from ShowPixel (the one
  // definition of a shown colour) when the format changes.
  const unsigned blueBits = BlueBits(format), greenBits = GreenBits(format), redBits = RedBits(format);
  const unsigned blueShift = format.kind == PixelFormat::Kind::kBgr ? PixelBits(format) - blueBits : 0;
  const unsigned redShift = format.kind == PixelFormat::Kind::kBgr ? 0 : PixelBits(format) - redBits;
  const unsigned greenShift = format.kind == PixelFormat::Kind::kBgr ? redBits : blueBits;
  struct Tables {
    PixelFormat format;
    std::uint8_t blue[256], green[256], red[256];
  };
  thread_local std::optional<Tables> tables;
  if (!tables || tables->format != format) {
    tables.emplace();
    tables->format = format;
    for (std::uint32_t c = 0; c < 256; ++c) {
      tables->blue[c] = ShowPixel(format, (c & ((1u << blueBits) - 1)) << blueShift).blue;
      tables->green[c] = ShowPixel(format, (c & ((1u << greenBits) - 1)) << greenShift).green;
      tables->red[c] = ShowPixel(format, (c & ((1u << redBits) - 1)) << redShift).red;
    }
  }
  const std::uint8_t* blue = tables->blue;
  const std::uint8_t* green = tables->green;
  const std::uint8_t* red = tables->red;
  const std::size_t count = std::min(values.size(), row.size() / 3);
  std::uint8_t* out = row.data();
  for (std::size_t x = 0; x < count; ++x, out += 3) {
    const std::uint32_t v = values[x];
    out[0] = blue[(v >> blueShift) & 0xFF];
    out[1] = green[(v >> greenShift) & 0xFF];
    out[2] = red[(v >> redShift) & 0xFF];
  }
  std::fill(row.begin() + static_cast<std::ptrdiff_t>(3 * count), row.end(), std::uint8_t{0});
}

}  // namespace rastrom
