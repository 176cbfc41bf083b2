#include "bmp_decode.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

// SSE2 is part of every x86-64 processor, so it needs no check at run time.
#if defined(__SSE2__) || defined(_M_X64)
#define RASTROM_SSE2 1
#include <emmintrin.h>
#endif

namespace rastrom {

const char* BmpErrorText(BmpError error) {
  switch (error) {
    case BmpError::kNone: return "no error";
    case BmpError::kNotBmp: return "not a BMP file";
    case BmpError::kTruncated: return "truncated file";
    case BmpError::kBadHeader: return "bad header";
    case BmpError::kBadDimensions: return "bad width or height";
    case BmpError::kTooLarge: return "image too large";
    case BmpError::kBadPlanes: return "zero planes";
    case BmpError::kUnsupportedDepth: return "unsupported bits per pixel";
    case BmpError::kUnsupportedCompression: return "unsupported compression";
    case BmpError::kTopDownRle: return "RLE with top-down rows";
  }
  return "unknown error";
}

namespace {

// Little-endian reads at absolute offsets that refuse to go past the end of the bytes.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Has(std::size_t offset, std::size_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }
  bool U16(std::size_t offset, std::uint16_t& value) const {
    if (!Has(offset, 2)) return false;
    value = static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
    return true;
  }
  bool U32(std::size_t offset, std::uint32_t& value) const {
    if (!Has(offset, 4)) return false;
    value = static_cast<std::uint32_t>(bytes_[offset]) |
            static_cast<std::uint32_t>(bytes_[offset + 1]) << 8 |
            static_cast<std::uint32_t>(bytes_[offset + 2]) << 16 |
            static_cast<std::uint32_t>(bytes_[offset + 3]) << 24;
    return true;
  }
  bool I32(std::size_t offset, std::int32_t& value) const {
    std::uint32_t raw = 0;
    if (!U32(offset, raw)) return false;
    value = static_cast<std::int32_t>(raw);
    return true;
  }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
};

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kMaxDimension = 65535;

// Compression codes of the info header.
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;  // OS/2 2.x: Huffman 1D
constexpr std::uint32_t kBiJpeg = 4;       // OS/2 2.x: 24-bit RLE
constexpr std::uint32_t kBiAlphaBitfields = 6;

bool IsOs2v2(std::uint32_t headerSize) { return headerSize == 16 || headerSize == 64; }

BmpError ReadDimensions(const ByteReader& in, std::uint32_t headerSize, BmpHeader& header,
                        std::uint16_t& planes) {
  std::int64_t width = 0;
  std::int64_t height = 0;
  if (headerSize == 12) {
    // The core header has unsigned 16-bit dimensions and always stores rows bottom-up.
    std::uint16_t w = 0, h = 0;
    in.U16(18, w);
    in.U16(20, h);
    in.U16(22, planes);
    in.U16(24, header.bitsPerPixel);
    width = w;
    height = h;
  } else {
    std::int32_t w = 0, h = 0;
    in.I32(18, w);
    in.I32(22, h);
    in.U16(26, planes);
    in.U16(28, header.bitsPerPixel);
    width = w;
    height = h;
  }
  // A negative height means the rows are stored top-down.
  header.topDown = height < 0;
  if (height < 0) height = -height;
  if (width < 1 || width > kMaxDimension || height < 1 || height > kMaxDimension) {
    return BmpError::kBadDimensions;
  }
  // Both are at most 65535, so the product cannot overflow 64 bits.
  if (4 * width * height > std::numeric_limits<std::int32_t>::max()) return BmpError::kTooLarge;
  header.width = static_cast<std::int32_t>(width);
  header.height = static_cast<std::int32_t>(height);
  return BmpError::kNone;
}

// Chooses how the pixels are stored from the bit count and the compression code.
BmpError ChooseFormat(std::uint32_t headerSize, std::uint32_t compression, BmpHeader& header) {
  const std::uint16_t bpp = header.bitsPerPixel;
  if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    return BmpError::kUnsupportedDepth;
  }
  // OS/2 2.x reuses codes 3 and 4 for Huffman 1D and 24-bit RLE, neither supported.
  if (IsOs2v2(headerSize) && (compression == kBiBitfields || compression == kBiJpeg)) {
    return BmpError::kUnsupportedCompression;
  }
  switch (compression) {
    case kBiRgb:
      header.format = bpp <= 8    ? BmpPixelFormat::kPalette
                      : bpp == 24 ? BmpPixelFormat::kBgr24
                      : bpp == 32 ? BmpPixelFormat::kBgrx32
                                  : BmpPixelFormat::kMasked;
      if (bpp == 16) {
        // Plain 16-bit pixels are 5-5-5 with the top bit unused.
        header.masks[0] = 0x7C00;
        header.masks[1] = 0x03E0;
        header.masks[2] = 0x001F;
      }
      return BmpError::kNone;
    case kBiRle8:
    case kBiRle4:
      if (bpp != (compression == kBiRle8 ? 8 : 4)) return BmpError::kUnsupportedCompression;
      if (header.topDown) return BmpError::kTopDownRle;
      header.format = compression == kBiRle8 ? BmpPixelFormat::kRle8 : BmpPixelFormat::kRle4;
      return BmpError::kNone;
    case kBiBitfields:
    case kBiAlphaBitfields:
      // The alpha mask of ALPHABITFIELDS is ignored, so both read the same way.
      if (bpp != 16 && bpp != 32) return BmpError::kUnsupportedCompression;
      header.format = BmpPixelFormat::kMasked;
      return BmpError::kNone;
    default:
      return BmpError::kUnsupportedCompression;  // JPEG, PNG and anything unknown
  }
}

}  // namespace

BmpError ParseBmpHeader(std::span<const std::uint8_t> file, BmpHeader& header) {
  return ParseBmpHeader(file.first(file.size() < kBmpHeadBytes ? file.size() : kBmpHeadBytes),
                        file.size(), header);
}

BmpError ParseBmpHeader(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                        BmpHeader& header) {
  header = BmpHeader{};
  // Every read of the headers, masks and palette lies within kBmpHeadBytes, so with the
  // whole head at hand a read past its end is a read past the end of the file.
  if (head.size() > fileSize || head.size() < std::min<std::uint64_t>(fileSize, kBmpHeadBytes)) {
    return BmpError::kTruncated;
  }
  const ByteReader in(head);
  if (head.size() >= 2 && (head[0] != 'B' || head[1] != 'M')) return BmpError::kNotBmp;

  std::uint32_t dataOffset = 0;
  std::uint32_t headerSize = 0;
  if (!in.U32(10, dataOffset) || !in.U32(14, headerSize)) return BmpError::kTruncated;
  switch (headerSize) {
    case 12: case 16: case 40: case 52: case 56: case 64: case 108: case 124: break;
    default: return BmpError::kBadHeader;
  }
  if (!in.Has(kFileHeaderSize, headerSize)) return BmpError::kTruncated;

  std::uint16_t planes = 0;
  if (BmpError e = ReadDimensions(in, headerSize, header, planes); e != BmpError::kNone) return e;
  // Planes other than 1 are tolerated, as the platform does; only 0 is refused.
  if (planes == 0) return BmpError::kBadPlanes;

  std::uint32_t compression = kBiRgb;
  std::uint32_t imageSize = 0;
  std::uint32_t coloursUsed = 0;
  if (headerSize >= 40) {
    in.U32(30, compression);
    in.U32(34, imageSize);
    in.U32(46, coloursUsed);
  }
  if (BmpError e = ChooseFormat(headerSize, compression, header); e != BmpError::kNone) return e;

  std::size_t headersEnd = kFileHeaderSize + headerSize;
  if (header.format == BmpPixelFormat::kMasked && compression != kBiRgb) {
    // Every header that carries masks has them at offset 54: inside V2 and later headers,
    // right after a 40-byte one (which is then followed by 3 or 4 of them).
    for (int c = 0; c < 3; ++c) {
      if (!in.U32(54 + 4 * c, header.masks[c])) return BmpError::kTruncated;
    }
    if (headerSize == 40) headersEnd += compression == kBiAlphaBitfields ? 16 : 12;
  }

  // The palette: the core header's has 3-byte entries, always 2^bpp of them; the others
  // have `colours used` 4-byte entries (0 meaning 2^bpp), of which at most 2^bpp are read.
  std::uint64_t paletteBytes = 0;
  if (header.bitsPerPixel <= 8) {
    const std::uint32_t maxEntries = 1u << header.bitsPerPixel;
    if (headerSize == 12) {
      header.paletteSize = maxEntries;
    } else {
      header.paletteSize = coloursUsed == 0 || coloursUsed > maxEntries ? maxEntries : coloursUsed;
    }
    const std::size_t entrySize = headerSize == 12 ? 3 : 4;
    paletteBytes = std::uint64_t{header.paletteSize} * entrySize;
    if (!in.Has(headersEnd, paletteBytes)) return BmpError::kTruncated;
    for (std::uint32_t i = 0; i < header.paletteSize; ++i) {
      const std::size_t at = headersEnd + i * entrySize;
      header.palette[i] = static_cast<std::uint32_t>(head[at]) |
                          static_cast<std::uint32_t>(head[at + 1]) << 8 |
                          static_cast<std::uint32_t>(head[at + 2]) << 16;
    }
  } else {
    // A palette in a 16-, 24- or 32-bit file is skipped; it only moves the default offset.
    paletteBytes = std::uint64_t{coloursUsed} * 4;
  }

  std::uint64_t pixelOffset = dataOffset;
  if (dataOffset == 0) {
    pixelOffset = headersEnd + paletteBytes;
  } else if (dataOffset < kFileHeaderSize + headerSize) {
    return BmpError::kBadHeader;
  }
  if (pixelOffset > fileSize) return BmpError::kTruncated;
  header.pixelOffset = static_cast<std::size_t>(pixelOffset);
  const std::uint64_t available = fileSize - pixelOffset;

  if (header.format == BmpPixelFormat::kRle8 || header.format == BmpPixelFormat::kRle4) {
    // The coded stream is the image-size field's bytes, or the rest of the file when the
    // field is 0 or runs past the end.
    const std::uint64_t coded = imageSize == 0 || imageSize > available ? available : imageSize;
    if (coded > std::numeric_limits<std::size_t>::max()) return BmpError::kTooLarge;
    header.pixelBytes = static_cast<std::size_t>(coded);
    return BmpError::kNone;
  }

  // Uncompressed rows are padded to 4 bytes; the last row may omit its padding.
  const std::uint64_t rowBits = std::uint64_t{header.bitsPerPixel} * std::uint64_t(header.width);
  const std::uint64_t stride = (rowBits + 31) / 32 * 4;
  const std::uint64_t needed = stride * std::uint64_t(header.height - 1) + (rowBits + 7) / 8;
  if (needed > available) return BmpError::kTruncated;
  header.pixelBytes = static_cast<std::size_t>(needed);
  return BmpError::kNone;
}

namespace {

void PutPixel(std::uint8_t* out, std::uint32_t bgr) {
  out[0] = static_cast<std::uint8_t>(bgr);
  out[1] = static_cast<std::uint8_t>(bgr >> 8);
  out[2] = static_cast<std::uint8_t>(bgr >> 16);
  out[3] = 0;
}

// How one channel is cut out of a masked pixel: the lowest run of set bits of its mask.
struct Channel {
  int shift = 0;
  int length = 0;  // 0 for an empty mask: the channel is always 0

  explicit Channel(std::uint32_t mask) {
    if (mask == 0) return;
    shift = std::countr_zero(mask);
    length = std::countr_one(mask >> shift);
  }
  // Widens the channel's bits to 8 as the platform does: the top 8 bits of a wide channel,
  // otherwise one round of bit replication (5 and 6 bits reach 255, 2 bits peak at 240).
  std::uint8_t Widen(std::uint32_t pixel) const {
    if (length == 0) return 0;
    const std::uint32_t x =
        static_cast<std::uint32_t>((pixel >> shift) & ((std::uint64_t{1} << length) - 1));
    if (length >= 8) return static_cast<std::uint8_t>(x >> (length - 8));
    const std::uint32_t t = x << (8 - length);
    return static_cast<std::uint8_t>(t | (t >> length));
  }
};

// Widens a row of 3-byte pixels to 4 bytes, the fourth 0. Images are mostly 24-bit, so
// this is the hot loop of a load: four pixels (12 bytes, never more than the row holds)
// are read as three words and written as two.
void ExpandBgr24Row(const std::uint8_t* src, std::uint8_t* dst, std::size_t width) {
  std::size_t x = 0;
#ifdef RASTROM_SSE2
  // Four pixels from one 16-byte read that stays inside the row: pixel k moves up k bytes
  // into its own 4-byte lane, and the rest of the lane is cleared.
  const __m128i lane0 = _mm_set_epi32(0, 0, 0, 0xFFFFFF);
  const __m128i lane1 = _mm_set_epi32(0, 0, 0xFFFFFF, 0);
  const __m128i lane2 = _mm_set_epi32(0, 0xFFFFFF, 0, 0);
  const __m128i lane3 = _mm_set_epi32(0xFFFFFF, 0, 0, 0);
  for (; 3 * x + 16 <= 3 * width; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
    const __m128i pixels = _mm_or_si128(
        _mm_or_si128(_mm_and_si128(v, lane0), _mm_and_si128(_mm_slli_si128(v, 1), lane1)),
        _mm_or_si128(_mm_and_si128(_mm_slli_si128(v, 2), lane2),
                     _mm_and_si128(_mm_slli_si128(v, 3), lane3)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), pixels);
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    for (; x + 4 <= width; x += 4) {
      std::uint32_t a, b, c;  // B0 G0 R0 B1 | G1 R1 B2 G2 | R2 B3 G3 R3, lowest byte first
      std::memcpy(&a, src + 3 * x, 4);
      std::memcpy(&b, src + 3 * x + 4, 4);
      std::memcpy(&c, src + 3 * x + 8, 4);
      const std::uint64_t p0 = a & 0xFFFFFFu;
      const std::uint64_t p1 = a >> 24 | (b & 0xFFFFu) << 8;
      const std::uint64_t p2 = b >> 16 | (c & 0xFFu) << 16;
      const std::uint64_t p3 = c >> 8;
      const std::uint64_t front = p0 | p1 << 32;
      const std::uint64_t back = p2 | p3 << 32;
      std::memcpy(dst + 4 * x, &front, 8);
      std::memcpy(dst + 4 * x + 8, &back, 8);
    }
  }
  for (; x < width; ++x) {
    dst[4 * x] = src[3 * x];
    dst[4 * x + 1] = src[3 * x + 1];
    dst[4 * x + 2] = src[3 * x + 2];
    dst[4 * x + 3] = 0;
  }
}

// Copies a row of 4-byte pixels with the fourth byte set to 0.
void ClearFourthBytes(const std::uint8_t* src, std::uint8_t* dst, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) {
    std::memcpy(dst + 4 * x, src + 4 * x, 3);
    dst[4 * x + 3] = 0;
  }
}

void DecodeRows(std::span<const std::uint8_t> data, const BmpHeader& header, std::uint8_t* out) {
  const std::size_t width = static_cast<std::size_t>(header.width);
  const std::size_t height = static_cast<std::size_t>(header.height);
  const std::size_t rowBits = width * header.bitsPerPixel;
  const std::size_t stride = (rowBits + 31) / 32 * 4;
  const Channel red(header.masks[0]), green(header.masks[1]), blue(header.masks[2]);
  const unsigned bpp = header.bitsPerPixel;

  for (std::size_t r = 0; r < height; ++r) {
    // Rows are stored bottom-up unless the height is negative.
    const std::size_t y = header.topDown ? r : height - 1 - r;
    const std::uint8_t* src = data.data() + r * stride;
    std::uint8_t* dst = out + y * width * 4;
    switch (header.format) {
      case BmpPixelFormat::kPalette: {
        // Indices are packed most significant bits first.
        const unsigned perByte = 8 / bpp;
        const unsigned indexMask = (1u << bpp) - 1;
        for (std::size_t x = 0; x < width; ++x) {
          const unsigned shift = 8 - bpp * (1 + static_cast<unsigned>(x % perByte));
          const unsigned index = (src[x / perByte] >> shift) & indexMask;
          PutPixel(dst + 4 * x, header.palette[index]);
        }
        break;
      }
      case BmpPixelFormat::kBgr24:
        ExpandBgr24Row(src, dst, width);
        break;
      case BmpPixelFormat::kBgrx32:
        ClearFourthBytes(src, dst, width);
        break;
      case BmpPixelFormat::kMasked:
        for (std::size_t x = 0; x < width; ++x) {
          std::uint32_t pixel = 0;
          if (bpp == 16) {
            pixel = static_cast<std::uint32_t>(src[2 * x] | src[2 * x + 1] << 8);
          } else {
            const std::uint8_t* p = src + 4 * x;
            pixel = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                    static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
          }
          dst[4 * x] = blue.Widen(pixel);
          dst[4 * x + 1] = green.Widen(pixel);
          dst[4 * x + 2] = red.Widen(pixel);
          dst[4 * x + 3] = 0;
        }
        break;
      case BmpPixelFormat::kRle8:
      case BmpPixelFormat::kRle4:
        break;  // not row data
    }
  }
}

// Run-length coded indices (RLE8, or RLE4 with two indices a byte, high nibble first).
// Decoding starts at the bottom-left pixel; pixels the stream never sets stay black, not
// palette entry 0. Every move is checked against the image: pixels right of the last
// column are dropped, and a move above the top row or the end of the data stops decoding.
void DecodeRle(std::span<const std::uint8_t> data, const BmpHeader& header, std::uint8_t* out) {
  const bool rle4 = header.format == BmpPixelFormat::kRle4;
  const std::size_t width = static_cast<std::size_t>(header.width);
  const std::size_t height = static_cast<std::size_t>(header.height);
  std::memset(out, 0, width * height * 4);

  std::size_t x = 0;
  std::size_t y = 0;  // counted from the bottom row
  std::size_t pos = 0;
  auto put = [&](unsigned index) {
    if (x < width) PutPixel(out + ((height - 1 - y) * width + x) * 4, header.palette[index]);
    ++x;
  };
  while (data.size() - pos >= 2) {
    const unsigned count = data[pos];
    const unsigned code = data[pos + 1];
    pos += 2;
    if (count > 0) {  // a run of one index, or two alternating nibbles
      for (unsigned i = 0; i < count && x < width; ++i) {
        put(rle4 ? (i % 2 == 0 ? code >> 4 : code & 15) : code);
      }
      continue;
    }
    if (code == 0) {  // end of line
      x = 0;
      if (++y >= height) return;
    } else if (code == 1) {  // end of bitmap
      return;
    } else if (code == 2) {  // move right dx and up dy
      if (data.size() - pos < 2) return;
      const std::size_t dx = data[pos];
      const std::size_t dy = data[pos + 1];
      pos += 2;
      x = x + dx < width ? x + dx : width;
      y += dy;
      if (y >= height) return;
    } else {  // `code` literal indices, padded to an even number of bytes
      const std::size_t bytes = rle4 ? (code + 1) / 2 : code;
      if (data.size() - pos < bytes) return;
      for (unsigned i = 0; i < code && x < width; ++i) {
        const unsigned byte = data[pos + (rle4 ? i / 2 : i)];
        put(rle4 ? (i % 2 == 0 ? byte >> 4 : byte & 15) : byte);
      }
      pos += bytes + (bytes & 1);
      if (pos > data.size()) return;
    }
  }
}

}  // namespace

void DecodeBmpPixels(std::span<const std::uint8_t> file, const BmpHeader& header,
                     std::span<std::uint8_t> out) {
  const std::size_t expected =
      std::size_t{4} * static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);
  // A header that did not come from ParseBmpHeader, or a wrong buffer, is a caller's bug.
  if (out.size() != expected || header.pixelOffset > file.size() ||
      header.pixelBytes > file.size() - header.pixelOffset) {
    std::abort();
  }
  const auto data = file.subspan(header.pixelOffset, header.pixelBytes);
  if (header.format == BmpPixelFormat::kRle8 || header.format == BmpPixelFormat::kRle4) {
    DecodeRle(data, header, out.data());
  } else {
    DecodeRows(data, header, out.data());
  }
}

DecodedBmp DecodeBmp(std::span<const std::uint8_t> file) {
  DecodedBmp result;
  BmpHeader header;
  result.error = ParseBmpHeader(file, header);
  if (result.error != BmpError::kNone) return result;
  result.width = header.width;
  result.height = header.height;
  result.pixels.resize(std::size_t{4} * static_cast<std::size_t>(header.width) *
                       static_cast<std::size_t>(header.height));
  DecodeBmpPixels(file, header, result.pixels);
  return result;
}

}  // namespace rastrom
