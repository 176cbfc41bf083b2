// Obtains the source image from the platform as a display-compatible bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "pixel_buffer.h"
#include "platform.h"

namespace rastrom {

// Why a load failed.
enum class LoadError {
  kNone = 0,
  kNotLoaded,       // the platform could not load the file, or its bits could not be copied
  kNoDescription,   // the platform gave no description of the loaded bitmap
};

// Loads the BMP file at path through the platform, printing nothing. On kNone, pixels and
// bitmap are filled; otherwise both are untouched. The pixels are those of the platform's
// bitmap, in whatever format it loaded (the caller checks bmPlanes and bmBitsPixel).
LoadError LoadBitmapPixels(std::string path, PixelBuffer& pixels, BITMAP& bitmap);

// Loads the BMP file at path, prints "Loading image..." and then "Image loaded" or the
// reason for failing. Returns 0 with pixels and bitmap filled, or 1 with both untouched.
int LoadSourceImage(std::string path, PixelBuffer& pixels, BITMAP& bitmap);

// A loaded picture's pixels in the layout of a PixelBuffer (rows from the top, 4 bytes a
// pixel), handed out a band of whole rows at a time, so that a large picture is never in
// memory whole: each band is decoded from the file when it is asked for. Where the platform
// can only copy the whole bits (Windows), they are held whole and handed out as one band.
// Move-only; owns the platform bitmap while rows remain to be read.
class PixelRows {
 public:
  PixelRows();
  ~PixelRows();
  PixelRows(PixelRows&& other) noexcept;
  PixelRows& operator=(PixelRows&& other) noexcept;

  // The whole picture's byte count, 4 x width x height.
  std::int32_t byteCount() const { return byteCount_; }

  std::int32_t width() const;
  std::int32_t height() const;

  // Points `band` at the next rows' bytes, valid until the next call; after the last row,
  // at nothing. Returns false, with `band` empty, when the rows cannot be had: the source
  // no longer holds them (it has shrunk, or a read failed). A failure is final.
  bool NextBand(std::span<const std::uint8_t>& band);

  // Points `band` at rows [firstRow, firstRow + rowCount), counted from the top, in any
  // order of calls; at most BandRows(width()) rows. Returns false, with `band` empty, when
  // they cannot be had or lie outside the picture.
  bool ReadBand(std::int32_t firstRow, std::int32_t rowCount, std::span<const std::uint8_t>& band);

  // The rows in a band of a picture `width` pixels wide: as many as fit in about 128 KiB,
  // which stays in the processor's cache while it is converted, and at least one.
  static std::int32_t BandRows(std::int32_t width);

 private:
  friend LoadError LoadBitmapRows(std::string path, PixelRows& pixels, BITMAP& bitmap, bool readFirstBand);
  struct Source;
  std::unique_ptr<Source> source_;
  std::int32_t byteCount_ = 0;
};

// As LoadBitmapPixels, for a picture read a band at a time. The first band is read here, so
// a source that no longer holds its pixels is a failed load; unless `readFirstBand` is false,
// for a caller that may read the rows another way and reports a failed ReadBand itself.
LoadError LoadBitmapRows(std::string path, PixelRows& pixels, BITMAP& bitmap, bool readFirstBand = true);

// As LoadSourceImage, for a picture read a band at a time: prints the same lines and returns
// 0 with pixels and bitmap filled, or 1 with both untouched.
int LoadSourceImage(std::string path, PixelRows& pixels, BITMAP& bitmap);

}  // namespace rastrom
