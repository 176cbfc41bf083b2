// Assembles PNG file bytes in code, so that each case reads as the file it describes:
//
//   Bytes file = PngBuilder(2, 1, 8, kPngRgb).Rows(8, {{255, 0, 0, 0, 0, 255}}).Build();
//
// The pixel rows are stored in uncompressed deflate blocks, so no compressor is needed.
// The builder writes whatever it is told; it only does the bookkeeping (chunk lengths and
// CRCs, the zlib wrapper and its checksum).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace rastrom::test {

using PngBytes = std::vector<std::uint8_t>;

// Colour types of the header.
inline constexpr int kPngGrey = 0;
inline constexpr int kPngRgb = 2;
inline constexpr int kPngPalette = 3;
inline constexpr int kPngGreyAlpha = 4;
inline constexpr int kPngRgba = 6;

inline std::uint32_t PngCrc(const std::uint8_t* p, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

inline void AppendBe32(PngBytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

inline PngBytes PngChunk(std::string_view type, const PngBytes& data) {
  PngBytes out;
  AppendBe32(out, static_cast<std::uint32_t>(data.size()));
  PngBytes body(type.begin(), type.end());
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  AppendBe32(out, PngCrc(body.data(), body.size()));
  return out;
}

// Rows of samples (each channel one sample) at `depth` bits, each row led by filter 0;
// samples under 8 bits are packed from the high bits of a byte, 16-bit ones big-endian.
inline PngBytes PngRows(int depth, const std::vector<std::vector<unsigned>>& rows) {
  PngBytes out;
  for (const auto& row : rows) {
    out.push_back(0);
    if (depth >= 8) {
      for (unsigned s : row) {
        if (depth == 16) out.push_back(static_cast<std::uint8_t>(s >> 8));
        out.push_back(static_cast<std::uint8_t>(s));
      }
      continue;
    }
    unsigned byte = 0, used = 0;
    for (unsigned s : row) {
      byte |= (s & ((1u << depth) - 1)) << (8 - depth - used);
      used += static_cast<unsigned>(depth);
      if (used == 8) {
        out.push_back(static_cast<std::uint8_t>(byte));
        byte = used = 0;
      }
    }
    if (used > 0) out.push_back(static_cast<std::uint8_t>(byte));
  }
  return out;
}

// A zlib stream of stored blocks holding `data`.
inline PngBytes StoredZlib(const PngBytes& data) {
  PngBytes out{0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t n = data.size() - at < 65535 ? data.size() - at : 65535;
    out.push_back(at + n == data.size() ? 1 : 0);
    out.push_back(static_cast<std::uint8_t>(n));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(~n));
    out.push_back(static_cast<std::uint8_t>(~n >> 8));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < data.size());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t c : data) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  AppendBe32(out, b << 16 | a);
  return out;
}

class PngBuilder {
 public:
  PngBuilder(std::uint32_t width, std::uint32_t height, int depth, int colourType,
             int interlace = 0) {
    AppendBe32(header_, width);
    AppendBe32(header_, height);
    header_.insert(header_.end(),
                   {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colourType), 0, 0,
                    static_cast<std::uint8_t>(interlace)});
  }
  // A chunk between the header and the pixels, such as PLTE or tRNS.
  PngBuilder& Chunk(std::string_view type, const PngBytes& data) {
    const PngBytes chunk = PngChunk(type, data);
    extra_.insert(extra_.end(), chunk.begin(), chunk.end());
    return *this;
  }
  // The pixel rows, as PngRows makes them.
  PngBuilder& Rows(int depth, const std::vector<std::vector<unsigned>>& rows) {
    data_ = StoredZlib(PngRows(depth, rows));
    return *this;
  }
  PngBytes Build() const {
    PngBytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const PngBytes& chunk :
         {PngChunk("IHDR", header_), extra_, PngChunk("IDAT", data_), PngChunk("IEND", {})}) {
      out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
  }

 private:
  PngBytes header_;
  PngBytes extra_;
  PngBytes data_;
};

}  // namespace rastrom::test
