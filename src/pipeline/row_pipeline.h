// Reduction of a picture's rows to pixel values on threads of its own: while they reduce
// one band of rows, the calling thread reads the next band and writes the values of the one
// before. Error diffusion is a chain of steps from pixel to pixel that one thread must run
// in order, a thread for each strip of the rows; everything else moves off those threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// Whether this build can run a second thread: MinGW's win32 thread model has no std::thread.
#if defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define RASTROM_THREADS 0
#else
#define RASTROM_THREADS 1
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

#include "pixel_format.h"

namespace rastrom {

inline constexpr bool kThreadsAvailable = RASTROM_THREADS != 0;

// Whether a picture of `width` x `height` pixels is worth a second thread: a million pixels
// or more, where the reduction takes tens of milliseconds and the thread's start little.
bool WorthASecondThread(std::uint64_t width, std::uint64_t height);

// Feeds rows of pixels (four bytes each: blue, green, red, unused), from the top row down,
// through `reducer`, and hands each row's values to `put` in the same order, on the calling
// thread. With `threaded`, the reducer runs on a thread of its own, bands of `bandRows` rows
// at a time (0: about 256 KiB of pixels); a reducer that splits its work leaves the
// second half (RowReducer::PackRow) to the calling thread, and codes each of its strips
// (RowReducer::CodeStrip) on a thread of its own. Without `threaded`, or where
// kThreadsAvailable is false, every row is reduced and put at once. Either way `put` sees
// the same values.
class RowPipeline {
 public:
  using PutRow = std::function<bool(std::span<const std::uint32_t> values)>;

  RowPipeline(RowReducer& reducer, std::size_t width, PutRow put, bool threaded, std::size_t bandRows = 0);
  // Stops the thread; rows not yet put are dropped.
  ~RowPipeline();
  RowPipeline(const RowPipeline&) = delete;
  RowPipeline& operator=(const RowPipeline&) = delete;

  // Takes `rows`: whole rows of width x 4 bytes, copied before it returns. Returns false
  // once `put` has returned false: nothing more is reduced.
  bool Put(std::span<const std::uint8_t> rows);
  // Reduces and puts every row still held. Returns false if `put` returned false.
  bool Finish();

 private:
  // A band of rows and what the reducing thread made of them. Its owner is the calling
  // thread while it fills the band or puts its values, the reducing thread in between; the
  // hand-over is counted under mutex_.
  struct Band {
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint32_t> values;   // of a reducer that does not split
    std::vector<std::uint8_t> codes;     // of one that does: CodeRow's codes
    std::size_t rows = 0;
  };
  static constexpr std::size_t kBands = 3;

  void Reduce(Band& band, std::size_t strip);
  // The loop of the thread that codes strip `strip` (or reduces whole rows) band by band.
  void Run(std::size_t strip);
  // Hands the band being filled to the reducing thread.
  void Submit();
  // Puts the values of every band reduced so far; with `waitForOne`, waits for one at least.
  bool PutReduced(bool waitForOne);
  void Stop();

  RowReducer& reducer_;
  std::size_t width_;
  PutRow put_;
  bool threaded_;
  std::size_t codes_;  // the reducer's CodesPerPixel()
  std::size_t strips_;  // the reducer's Strips() where it splits, else 1: a thread each
  bool ok_ = true;
  std::size_t bandRows_ = 0;
  std::vector<std::uint32_t> values_;  // a row's values, put from this thread
  Band bands_[kBands];
  // Bands handed over, reduced (every strip of them) and put, counted from the first: band
  // i lives in bands_[i % kBands]. The band being filled is bands_[submitted_ % kBands].
  std::size_t submitted_ = 0, reduced_ = 0, written_ = 0;
  std::vector<std::size_t> stripReduced_;  // bands reduced, strip by strip
  bool stop_ = false;
#if RASTROM_THREADS
  std::mutex mutex_;
  std::condition_variable changed_;  // a band handed over or reduced, or the stop
  std::vector<std::thread> threads_;
#endif
};

}  // namespace rastrom
