// The reduction on threads of its own over pictures built in the tests: the values put are
// those of the reducer run row by row, whatever the bands and the pieces the rows come in,
// on rows narrow enough for one strip of error diffusion and wide enough for two; a failed
// put stops it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "dither.h"
#include "row_pipeline.h"

namespace rastrom {
namespace {

struct Size {
  std::size_t width, height;
};
constexpr Size kSizes[] = {{37, 53}, {kTwoStripWidth + 3, 11}};

std::vector<std::uint8_t> Noise(Size size) {
  std::vector<std::uint8_t> bytes(4 * size.width * size.height);
  std::uint32_t seed = 99;
  for (std::uint8_t& b : bytes) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return bytes;
}

// The values of every row, reduced one after the other on this thread.
std::vector<std::uint32_t> RowByRow(DitherMethod method, const PixelFormat& format, Size size,
                                    const std::vector<std::uint8_t>& pixels) {
  const std::unique_ptr<RowReducer> reducer = MakeRowReducer(method, format, size.width);
  std::vector<std::uint32_t> values(size.width * size.height);
  for (std::size_t y = 0; y < size.height; ++y) {
    reducer->ReduceRow(std::span(pixels).subspan(4 * size.width * y, 4 * size.width),
                       std::span(values).subspan(size.width * y, size.width));
  }
  return values;
}

// Error diffusion splits its work between the threads, ordered dithering does not; bands
// of one row, of a few (the last band short) and of the default size; the rows handed over
// one at a time, in pieces across the bands, or all at once.
TEST(RowPipeline, PutsTheValuesOfTheRowsInOrder) {
  struct Case { DitherMethod method; const char* format; };
  const Case cases[] = {{DitherMethod::kFloydSteinberg, "rgb332"},
                        {DitherMethod::kFloydSteinberg, "gray4"},
                        {DitherMethod::kOrdered, "rgb444"}};
  for (const Size size : kSizes) {
    const std::vector<std::uint8_t> pixels = Noise(size);
    const std::size_t rowBytes = 4 * size.width;
    for (const Case& c : cases) {
      const PixelFormat format = *ParsePixelFormat(c.format);
      const std::vector<std::uint32_t> expected = RowByRow(c.method, format, size, pixels);
      for (bool threaded : {false, true}) {
        for (std::size_t bandRows : {1, 4, 0}) {
          for (std::size_t piece : {std::size_t{1}, std::size_t{7}, size.height}) {
            const std::unique_ptr<RowReducer> reducer = MakeRowReducer(c.method, format, size.width);
            std::vector<std::uint32_t> put;
            RowPipeline pipeline(*reducer, size.width, [&](std::span<const std::uint32_t> row) {
              EXPECT_EQ(row.size(), size.width);
              put.insert(put.end(), row.begin(), row.end());
              return true;
            }, threaded, bandRows);
            for (std::size_t y = 0; y < size.height; y += piece) {
              const std::size_t rows = std::min(piece, size.height - y);
              ASSERT_TRUE(pipeline.Put(std::span(pixels).subspan(rowBytes * y, rowBytes * rows)));
            }
            ASSERT_TRUE(pipeline.Finish());
            EXPECT_EQ(put, expected) << c.format << " width " << size.width << " threaded " << threaded
                                     << " band " << bandRows << " piece " << piece;
          }
        }
      }
    }
  }
}

// A put that fails (a full disk) stops the reduction: nothing is put after it, Put and
// Finish say so, and the threads end with the pipeline, rows still in their hands or not.
TEST(RowPipeline, StopsAtAFailedPut) {
  for (const Size size : kSizes) {
    const std::vector<std::uint8_t> pixels = Noise(size);
    const std::size_t rowBytes = 4 * size.width;
    for (bool threaded : {false, true}) {
      for (std::size_t failAt : {std::size_t{0}, std::size_t{5}, size.height - 1}) {
        const std::unique_ptr<RowReducer> reducer =
            MakeRowReducer(DitherMethod::kFloydSteinberg, *ParsePixelFormat("rgb565"), size.width);
        std::size_t calls = 0;
        RowPipeline pipeline(*reducer, size.width, [&](std::span<const std::uint32_t>) { return calls++ < failAt; },
                             threaded, 2);
        bool ok = true;
        for (std::size_t y = 0; y < size.height && ok; ++y) ok = pipeline.Put(std::span(pixels).subspan(rowBytes * y, rowBytes));
        EXPECT_FALSE(ok && pipeline.Finish()) << threaded << " " << failAt;
        EXPECT_EQ(calls, failAt + 1) << threaded << " " << failAt;
      }
    }
    // Dropped unfinished, with bands still queued for the threads.
    const std::unique_ptr<RowReducer> reducer =
        MakeRowReducer(DitherMethod::kFloydSteinberg, *ParsePixelFormat("rgb332"), size.width);
    RowPipeline pipeline(*reducer, size.width, [](std::span<const std::uint32_t>) { return true; }, true, 1);
    EXPECT_TRUE(pipeline.Put(std::span(pixels).first(rowBytes * 5)));
  }
}

}  // namespace
}  // namespace rastrom
