// Assembles BMP file bytes in code, so that each test case reads as the file it describes:
//
//   Bytes file = BmpBuilder().Header(40).Bpp(4).Size(3, -2).Palette({...}).Rows({...}).Build();
//
// The builder writes whatever it is told, valid or not; it only does the bookkeeping
// (field offsets, row padding, the pixel offset and the file size).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace rastrom::test {

using Bytes = std::vector<std::uint8_t>;

// Compression values of the info header.
inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;  // OS/2 2.x: Huffman 1D
inline constexpr std::uint32_t kBiJpeg = 4;       // OS/2 2.x: RLE24
inline constexpr std::uint32_t kBiPng = 5;
inline constexpr std::uint32_t kBiAlphaBitfields = 6;

// Writes value little-endian into bytes at offset, over `size` bytes (1 to 4).
inline void PutLe(Bytes& bytes, std::size_t offset, std::uint32_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// Returns value as `size` little-endian bytes.
inline Bytes Le(std::uint32_t value, std::size_t size) {
  Bytes bytes(size);
  PutLe(bytes, 0, value, size);
  return bytes;
}

// Appends value little-endian to bytes, as 16 or 32 bits.
inline void AppendLe16(Bytes& bytes, std::uint32_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value));
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}
inline void AppendLe32(Bytes& bytes, std::uint32_t value) {
  AppendLe16(bytes, value & 0xFFFF);
  AppendLe16(bytes, value >> 16);
}

// Returns a copy of file with a 32-bit field at offset replaced.
inline Bytes WithLe32(Bytes file, std::size_t offset, std::uint32_t value) {
  PutLe(file, offset, value, 4);
  return file;
}

// Uncompressed rows of `bitsPerPixel`-bit values, each padded to 4 bytes, stored bottom
// row first, or top row first when height is negative; value(x, y) gives a pixel's value
// with y counted from the top. Values under 8 bits are cut to their width and packed from
// the high bits of a byte; wider ones are stored little-endian.
inline Bytes StoreRows(int width, int height, int bitsPerPixel,
                       const std::function<std::uint32_t(int, int)>& value) {
  const int rows = height < 0 ? -height : height;
  const std::size_t stride = (static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32 * 4;
  Bytes out;
  for (int r = 0; r < rows; ++r) {
    const int y = height < 0 ? r : rows - 1 - r;
    Bytes row(stride, 0);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = value(x, y);
      if (bitsPerPixel < 8) {
        const int bit = x * bitsPerPixel;
        row[bit / 8] = static_cast<std::uint8_t>(
            row[bit / 8] | (v & ((1u << bitsPerPixel) - 1)) << (8 - bitsPerPixel - bit % 8));
      } else {
        for (int b = 0; b < bitsPerPixel / 8; ++b) {
          row[x * bitsPerPixel / 8 + b] = static_cast<std::uint8_t>(v >> (8 * b));
        }
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

class BmpBuilder {
 public:
  // Info header size: 12 (core), 16 or 64 (OS/2 2.x), 40, 52, 56, 108 or 124.
  BmpBuilder& Header(std::uint32_t size) { return Set(infoSize_, size); }
  // A negative height means top-down rows; a core header stores both as unsigned 16 bits.
  BmpBuilder& Size(std::int32_t width, std::int32_t height) {
    width_ = width;
    height_ = height;
    return *this;
  }
  BmpBuilder& Bpp(std::uint16_t bits) { return Set(bpp_, bits); }
  BmpBuilder& Planes(std::uint16_t planes) { return Set(planes_, planes); }
  BmpBuilder& Compression(std::uint32_t compression) { return Set(compression_, compression); }
  BmpBuilder& ImageSize(std::uint32_t bytes) { return Set(imageSize_, bytes); }
  BmpBuilder& ColoursUsed(std::uint32_t count) { return Set(coloursUsed_, count); }
  // Entries as 0xAARRGGBB; AA lands in the reserved byte, and is dropped by a core header
  // whose entries are three bytes.
  BmpBuilder& Palette(std::vector<std::uint32_t> entries) {
    return Set(palette_, std::move(entries));
  }
  // R, G, B (and A) masks: inside V2 and later headers at +40, otherwise right after the header.
  BmpBuilder& Masks(std::vector<std::uint32_t> masks) { return Set(masks_, std::move(masks)); }
  // Rows in file order, without padding: each is padded with zeros to a multiple of 4 bytes.
  BmpBuilder& Rows(const std::vector<Bytes>& rows) {
    pixels_.clear();
    for (const Bytes& row : rows) {
      pixels_.insert(pixels_.end(), row.begin(), row.end());
      pixels_.resize(pixels_.size() + (4 - row.size() % 4) % 4, 0);
    }
    return *this;
  }
  // Pixel data exactly as given, such as an RLE stream.
  BmpBuilder& Data(Bytes data) { return Set(pixels_, std::move(data)); }
  // Filler bytes between the palette and the pixel data.
  BmpBuilder& Gap(std::size_t count, std::uint8_t filler) {
    gap_ = Bytes(count, filler);
    return *this;
  }
  // Writes this pixel offset instead of the real one (0, or a wrong one).
  BmpBuilder& PixelOffset(std::uint32_t offset) { return Set(offsetOverride_, offset); }

  Bytes Build() const {
    const bool core = infoSize_ == 12;
    const bool masksInside =
        infoSize_ == 52 || infoSize_ == 56 || infoSize_ == 108 || infoSize_ == 124;

    Bytes info(core ? 12 : std::max<std::uint32_t>(infoSize_, 16), 0);
    PutLe(info, 0, infoSize_, 4);
    if (core) {
      PutLe(info, 4, static_cast<std::uint32_t>(width_), 2);
      PutLe(info, 6, static_cast<std::uint32_t>(height_), 2);
      PutLe(info, 8, planes_, 2);
      PutLe(info, 10, bpp_, 2);
    } else {
      PutLe(info, 4, static_cast<std::uint32_t>(width_), 4);
      PutLe(info, 8, static_cast<std::uint32_t>(height_), 4);
      PutLe(info, 12, planes_, 2);
      PutLe(info, 14, bpp_, 2);
    }
    if (infoSize_ >= 40) {
      PutLe(info, 16, compression_, 4);
      PutLe(info, 20, imageSize_, 4);
      PutLe(info, 32, coloursUsed_, 4);
    }
    Bytes extraMasks;
    for (std::size_t i = 0; i < masks_.size(); ++i) {
      if (masksInside && 40 + 4 * i + 4 <= infoSize_) {
        PutLe(info, 40 + 4 * i, masks_[i], 4);
      } else if (!masksInside) {
        const Bytes mask = Le(masks_[i], 4);
        extraMasks.insert(extraMasks.end(), mask.begin(), mask.end());
      }
    }
    Bytes palette;
    for (std::uint32_t entry : palette_) {
      const Bytes bytes = Le(entry, core ? 3 : 4);
      palette.insert(palette.end(), bytes.begin(), bytes.end());
    }

    Bytes file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    file.reserve(file.size() + info.size() + extraMasks.size() + palette.size() + gap_.size() +
                 pixels_.size());
    const auto append = [&file](const Bytes& part) {
      file.insert(file.end(), part.begin(), part.end());
    };
    append(info);
    append(extraMasks);
    append(palette);
    append(gap_);
    const std::size_t pixelOffset = file.size();
    append(pixels_);
    PutLe(file, 2, static_cast<std::uint32_t>(file.size()), 4);
    PutLe(file, 10, offsetOverride_.value_or(static_cast<std::uint32_t>(pixelOffset)), 4);
    return file;
  }

 private:
  template <typename T, typename V>
  BmpBuilder& Set(T& field, V&& value) {
    field = std::forward<V>(value);
    return *this;
  }

  std::uint32_t infoSize_ = 40;
  std::int32_t width_ = 1;
  std::int32_t height_ = 1;
  std::uint16_t bpp_ = 24;
  std::uint16_t planes_ = 1;
  std::uint32_t compression_ = kBiRgb;
  std::uint32_t imageSize_ = 0;
  std::uint32_t coloursUsed_ = 0;
  std::vector<std::uint32_t> palette_;
  std::vector<std::uint32_t> masks_;
  Bytes gap_;
  Bytes pixels_;
  std::optional<std::uint32_t> offsetOverride_;
};

}  // namespace rastrom::test
