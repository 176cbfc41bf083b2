// The reduction on a second thread over pictures built in the tests: the values put are
// those of the reducer run row by row, whatever the bands and the pieces the rows come in,
// and a failed put stops it.
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

constexpr std::size_t kWidth = 37, kHeight = 53;

std::vector<std::uint8_t> Noise() {
  std::vector<std::uint8_t> bytes(4 * kWidth * kHeight);
  std::uint32_t seed = 99;
  for (std::uint8_t& b : bytes) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return bytes;
}

// The values of every row, reduced one after the other on this thread.
std::vector<std::uint32_t> RowByRow(DitherMethod method, const PixelFormat& format,
                                    const std::vector<std::uint8_t>& pixels) {
  const std::unique_ptr<RowReducer> reducer = MakeRowReducer(method, format, kWidth);
  std::vector<std::uint32_t> values(kWidth * kHeight);
  for (std::size_t y = 0; y < kHeight; ++y) {
    reducer->ReduceRow(std::span(pixels).subspan(4 * kWidth * y, 4 * kWidth),
                       std::span(values).subspan(kWidth * y, kWidth));
  }
  return values;
}

// Error diffusion splits its work between the threads, ordered dithering does not; bands
// of one row, of a few (the last band short) and of the default size; the rows handed over
// one at a time, in pieces across the bands, or all at once.
TEST(RowPipeline, PutsTheValuesOfTheRowsInOrder) {
  const std::vector<std::uint8_t> pixels = Noise();
  struct Case { DitherMethod method; const char* format; };
  const Case cases[] = {{DitherMethod::kFloydSteinberg, "rgb332"},
                        {DitherMethod::kFloydSteinberg, "gray4"},
                        {DitherMethod::kOrdered, "rgb444"}};
  for (const Case& c : cases) {
    const PixelFormat format = *ParsePixelFormat(c.format);
    const std::vector<std::uint32_t> expected = RowByRow(c.method, format, pixels);
    for (bool threaded : {false, true}) {
      for (std::size_t bandRows : {1, 4, 0}) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, kHeight}) {
          const std::unique_ptr<RowReducer> reducer = MakeRowReducer(c.method, format, kWidth);
          std::vector<std::uint32_t> put;
          RowPipeline pipeline(*reducer, kWidth, [&](std::span<const std::uint32_t> row) {
            EXPECT_EQ(row.size(), kWidth);
            put.insert(put.end(), row.begin(), row.end());
            return true;
          }, threaded, bandRows);
          for (std::size_t y = 0; y < kHeight; y += piece) {
            const std::size_t rows = std::min(piece, kHeight - y);
            ASSERT_TRUE(pipeline.Put(std::span(pixels).subspan(4 * kWidth * y, 4 * kWidth * rows)));
          }
          ASSERT_TRUE(pipeline.Finish());
          EXPECT_EQ(put, expected) << c.format << " threaded " << threaded << " band " << bandRows
                                   << " piece " << piece;
        }
      }
    }
  }
}

// Rows wide enough to be diffused as two strips, each on a thread of its own: the values
// are those of the reducer run row by row, and a failed put stops it.
TEST(RowPipeline, PutsTheValuesOfTwoStripsInOrder) {
  constexpr std::size_t kWide = kTwoStripWidth + 3, kRows = 11;
  std::vector<std::uint8_t> pixels(4 * kWide * kRows);
  std::uint32_t seed = 5;
  for (std::uint8_t& b : pixels) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  for (const char* name : {"rgb565", "gray3"}) {
    const PixelFormat format = *ParsePixelFormat(name);
    const std::unique_ptr<RowReducer> alone = MakeRowReducer(DitherMethod::kFloydSteinberg, format, kWide);
    std::vector<std::uint32_t> expected(kWide * kRows);
    for (std::size_t y = 0; y < kRows; ++y) {
      alone->ReduceRow(std::span(pixels).subspan(4 * kWide * y, 4 * kWide), std::span(expected).subspan(kWide * y, kWide));
    }
    const std::unique_ptr<RowReducer> reducer = MakeRowReducer(DitherMethod::kFloydSteinberg, format, kWide);
    ASSERT_EQ(reducer->Strips(), 2u);
    std::vector<std::uint32_t> put;
    RowPipeline pipeline(*reducer, kWide, [&](std::span<const std::uint32_t> row) {
      put.insert(put.end(), row.begin(), row.end());
      return true;
    }, true, 3);
    ASSERT_TRUE(pipeline.Put(pixels));
    ASSERT_TRUE(pipeline.Finish());
    EXPECT_EQ(put, expected) << name;
  }
  // A put that fails stops both threads: nothing is put after it.
  const std::unique_ptr<RowReducer> reducer =
      MakeRowReducer(DitherMethod::kFloydSteinberg, *ParsePixelFormat("rgb332"), kWide);
  std::size_t calls = 0;
  RowPipeline pipeline(*reducer, kWide, [&](std::span<const std::uint32_t>) { return calls++ < 4; }, true, 2);
  EXPECT_FALSE(pipeline.Put(pixels) && pipeline.Finish());
  EXPECT_EQ(calls, 5u);
}

// A put that fails (a full disk) stops the reduction: nothing is put after it, Put and
// Finish say so, and the thread ends with the pipeline, rows still in its hands or not.
TEST(RowPipeline, StopsAtAFailedPut) {
  const std::vector<std::uint8_t> pixels = Noise();
  for (bool threaded : {false, true}) {
    for (std::size_t failAt : {std::size_t{0}, std::size_t{5}, kHeight - 1}) {
      const std::unique_ptr<RowReducer> reducer =
          MakeRowReducer(DitherMethod::kFloydSteinberg, *ParsePixelFormat("rgb565"), kWidth);
      std::size_t calls = 0;
      RowPipeline pipeline(*reducer, kWidth, [&](std::span<const std::uint32_t>) { return calls++ < failAt; },
                           threaded, 2);
      bool ok = true;
      for (std::size_t y = 0; y < kHeight && ok; ++y) {
        ok = pipeline.Put(std::span(pixels).subspan(4 * kWidth * y, 4 * kWidth));
      }
      EXPECT_FALSE(ok && pipeline.Finish()) << threaded << " " << failAt;
      EXPECT_EQ(calls, failAt + 1) << threaded << " " << failAt;
    }
  }
  // Dropped unfinished, with bands still queued for the thread.
  const std::unique_ptr<RowReducer> reducer =
      MakeRowReducer(DitherMethod::kFloydSteinberg, *ParsePixelFormat("rgb332"), kWidth);
  RowPipeline pipeline(*reducer, kWidth, [](std::span<const std::uint32_t>) { return true; }, true, 1);
  EXPECT_TRUE(pipeline.Put(std::span(pixels).first(4 * kWidth * 5)));
}

}  // namespace
}  // namespace rastrom
