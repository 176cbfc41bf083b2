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

DecodedPicture Failed(DecodedPicture& result, int code) {
  result.pixels.clear();
  result.pixels.shrink_to_fit();
  result.error =
      code == SPNG_IO_EOF || code == SPNG_EOF ? PictureError::kTruncated : PictureError::kCorrupt;
  result.detail = spng_strerror(code);
  return std::move(result);
}

bool HasEndChunk(std::span<const std::uint8_t> file) {
  static constexpr std::uint8_t kEnd[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return std::search(file.begin(), file.end(), std::begin(kEnd), std::end(kEnd)) != file.end();
}

}  // namespace

bool CanDecodePng() { return true; }

DecodedPicture DecodePng(std::span<const std::uint8_t> file, std::uint32_t background,
                         std::size_t maxBytes) {
  DecodedPicture result;
  const std::unique_ptr<spng_ctx, ContextFree> context(spng_ctx_new(0));
  if (!context) throw std::bad_alloc();
  spng_ctx* ctx = context.get();
  int code = spng_set_png_buffer(ctx, file.data(), file.size());
  if (code == 0) code = spng_set_chunk_limits(ctx, kChunkLimit, kCacheLimit);
  spng_ihdr ihdr{};
  if (code == 0) code = spng_get_ihdr(ctx, &ihdr);
  if (code != 0) return Failed(result, code);

  // The size, before any pixel memory is taken.
  result.width = ihdr.width;
  result.height = ihdr.height;
  if (!PictureFits(ihdr.width, ihdr.height, maxBytes)) {
    result.error = PictureError::kTooLarge;
    return result;
  }
  std::size_t size = 0;
  code = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
  if (code != 0) return Failed(result, code);
  if (size != std::size_t{4} * ihdr.width * ihdr.height) return Failed(result, SPNG_EOVERFLOW);
  result.pixels.resize(size);
  // Colour values as stored: transparency applied, no gamma; 16-bit channels to 8 bits.
  code = spng_decode_image(ctx, result.pixels.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
  // The chunks after the pixels up to IEND, so a file cut anywhere is refused; the
  // library does not insist on the end chunk's CRC, so its 12 bytes are looked for whole.
  if (code == 0) code = spng_decode_chunks(ctx);
  if (code == 0 && !HasEndChunk(file)) code = SPNG_IO_EOF;
  if (code != 0) return Failed(result, code);
  CompositeOver(result.pixels, true, background);
  return result;
}

#elif !defined(_WIN32)

bool CanDecodePng() { return false; }

DecodedPicture DecodePng(std::span<const std::uint8_t>, std::uint32_t, std::size_t) {
  DecodedPicture result;
  result.error = PictureError::kNotBuilt;
  return result;
}

#endif

}  // namespace rastrom
