// PNG through libspng, or a stand-in that says the build has none.
#include "picture_decode.h"

#ifdef RASTROM_HAVE_SPNG
#include <spng.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#endif

namespace rastrom {

#ifdef RASTROM_HAVE_SPNG

namespace {

struct ContextFree {
  void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

// Ancillary chunks are not used; these bound what the library keeps of them.
constexpr std::size_t kChunkLimit = std::size_t{16} << 20;
constexpr std::size_t kCacheLimit = std::size_t{64} << 20;

// The rows handed out together: about 256 KiB of pixels.
constexpr std::size_t kBandBytes = std::size_t{256} << 10;

void SetError(DecodedPicture& result, int code) {
  result.error =
      code == SPNG_IO_EOF || code == SPNG_EOF ? PictureError::kTruncated : PictureError::kCorrupt;
  result.detail = spng_strerror(code);
}

bool HasEndChunk(std::span<const std::uint8_t> file) {
  static constexpr std::uint8_t kEnd[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return std::search(file.begin(), file.end(), std::begin(kEnd), std::end(kEnd)) != file.end();
}

using Context = std::unique_ptr<spng_ctx, ContextFree>;

// A context over the file with its header read and its size checked, before any pixel
// memory is taken; null, with the error in `result`, when the header is refused.
Context Open(std::span<const std::uint8_t> file, std::size_t maxBytes, DecodedPicture& result,
             spng_ihdr& ihdr) {
  Context context(spng_ctx_new(0));
  if (!context) throw std::bad_alloc();
  spng_ctx* ctx = context.get();
  int code = spng_set_png_buffer(ctx, file.data(), file.size());
  if (code == 0) code = spng_set_chunk_limits(ctx, kChunkLimit, kCacheLimit);
  if (code == 0) code = spng_get_ihdr(ctx, &ihdr);
  if (code != 0) {
    SetError(result, code);
    return nullptr;
  }
  result.width = ihdr.width;
  result.height = ihdr.height;
  if (!PictureFits(ihdr.width, ihdr.height, maxBytes)) {
    result.error = PictureError::kTooLarge;
    return nullptr;
  }
  std::size_t size = 0;
  code = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
  if (code == 0 && size != std::size_t{4} * ihdr.width * ihdr.height) code = SPNG_EOVERFLOW;
  if (code != 0) {
    SetError(result, code);
    return nullptr;
  }
  return context;
}

// The chunks after the pixels up to IEND, so a file cut anywhere is refused; the library
// does not insist on the end chunk's CRC, so its 12 bytes are looked for whole.
int Finish(spng_ctx* ctx, std::span<const std::uint8_t> file) {
  int code = spng_decode_chunks(ctx);
  if (code == 0 && !HasEndChunk(file)) code = SPNG_IO_EOF;
  return code;
}

}  // namespace

bool CanDecodePng() { return true; }

DecodedPicture ReadPngHeader(std::span<const std::uint8_t> file, std::size_t maxBytes) {
  DecodedPicture result;
  spng_ihdr ihdr{};
  Open(file, maxBytes, result, ihdr);
  return result;
}

DecodedPicture DecodePngRows(std::span<const std::uint8_t> file, std::uint32_t background,
                             std::size_t maxBytes, const DecodedRowSink& sink) {
  DecodedPicture result;
  spng_ihdr ihdr{};
  const Context context = Open(file, maxBytes, result, ihdr);
  if (!context) return result;
  spng_ctx* ctx = context.get();
  const std::size_t rowBytes = std::size_t{4} * ihdr.width;
  const auto bandRows = static_cast<std::uint32_t>(
      std::clamp<std::size_t>(kBandBytes / rowBytes, 1, ihdr.height));
  // Colour values as stored: transparency applied, no gamma; 16-bit channels to 8 bits.
  if (ihdr.interlace_method != 0) {
    // The passes of an interlaced picture cover all of it before any row is whole.
    std::vector<std::uint8_t> pixels(rowBytes * ihdr.height);
    int code = spng_decode_image(ctx, pixels.data(), pixels.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    if (code == 0) code = Finish(ctx, file);
    if (code != 0) {
      SetError(result, code);
      return result;
    }
    CompositeOver(pixels, true, background);
    for (std::uint32_t first = 0; first < ihdr.height; first += bandRows) {
      const std::uint32_t count = std::min(bandRows, ihdr.height - first);
      if (!sink(first, count, std::span(pixels).subspan(first * rowBytes, count * rowBytes))) break;
    }
    return result;
  }
  // Row by row into one band, which is handed out whenever it is full.
  std::vector<std::uint8_t> band(rowBytes * bandRows);
  int code = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
  for (std::uint32_t row = 0; code == 0 && row < ihdr.height; ++row) {
    const std::uint32_t inBand = row % bandRows;
    code = spng_decode_row(ctx, band.data() + inBand * rowBytes, rowBytes);
    if (code == SPNG_EOI && row + 1 == ihdr.height) code = 0;  // the last row says so
    if (code != 0) break;
    if (inBand + 1 == bandRows || row + 1 == ihdr.height) {
      const std::span<std::uint8_t> rows(band.data(), (inBand + 1) * rowBytes);
      CompositeOver(rows, true, background);
      if (!sink(row - inBand, inBand + 1, rows)) return result;
    }
  }
  if (code == 0) code = Finish(ctx, file);
  if (code != 0) SetError(result, code);
  return result;
}

#elif !defined(_WIN32)

bool CanDecodePng() { return false; }

DecodedPicture ReadPngHeader(std::span<const std::uint8_t>, std::size_t) {
  DecodedPicture result;
  result.error = PictureError::kNotBuilt;
  return result;
}

DecodedPicture DecodePngRows(std::span<const std::uint8_t> file, std::uint32_t, std::size_t maxBytes,
                             const DecodedRowSink&) {
  return ReadPngHeader(file, maxBytes);
}

#endif

}  // namespace rastrom
