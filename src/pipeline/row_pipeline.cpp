#include "row_pipeline.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace rastrom {

bool WorthASecondThread(std::uint64_t width, std::uint64_t height) {
  return kThreadsAvailable && width > 0 && height >= (std::uint64_t{1} << 20) / width;
}

RowPipeline::RowPipeline(RowReducer& reducer, std::size_t width, PutRow put, bool threaded, std::size_t bandRows)
    : reducer_(reducer),
      width_(width),
      put_(std::move(put)),
      threaded_(threaded && kThreadsAvailable),
      codes_(reducer.CodesPerPixel()),
      strips_(codes_ > 0 ? std::max<std::size_t>(reducer.Strips(), 1) : 1),
      values_(width),
      stripReduced_(strips_, 0) {
  if (!threaded_) return;
  const std::size_t rowBytes = 4 * std::max<std::size_t>(width_, 1);
  bandRows_ = bandRows > 0 ? bandRows : std::max<std::size_t>(1, (std::size_t{1} << 18) / rowBytes);
  for (Band& band : bands_) {
    band.pixels.resize(bandRows_ * 4 * width_);
    if (codes_ > 0) {
      band.codes.resize(bandRows_ * width_ * codes_);
    } else {
      band.values.resize(bandRows_ * width_);
    }
  }
#if RASTROM_THREADS
  try {
    for (std::size_t strip = 0; strip < strips_; ++strip) threads_.emplace_back([this, strip] { Run(strip); });
  } catch (const std::system_error&) {
    Stop();
    threaded_ = false;  // no thread to be had: the rows are reduced here
  }
#endif
}

RowPipeline::~RowPipeline() { Stop(); }

void RowPipeline::Reduce(Band& band, std::size_t strip) {
  for (std::size_t r = 0; r < band.rows; ++r) {
    const auto pixels = std::span<const std::uint8_t>(band.pixels).subspan(r * 4 * width_, 4 * width_);
    if (codes_ > 0) {
      reducer_.CodeStrip(strip, pixels,
                         std::span<std::uint8_t>(band.codes).subspan(r * width_ * codes_, width_ * codes_));
    } else {
      reducer_.ReduceRow(pixels, std::span<std::uint32_t>(band.values).subspan(r * width_, width_));
    }
  }
}

bool RowPipeline::Put(std::span<const std::uint8_t> rows) {
  const std::size_t rowBytes = 4 * width_;
  const std::size_t count = rowBytes == 0 ? 0 : rows.size() / rowBytes;
  if (!threaded_) {
    for (std::size_t r = 0; r < count && ok_; ++r) {
      reducer_.ReduceRow(rows.subspan(r * rowBytes, rowBytes), values_);
      ok_ = put_(values_);
    }
    return ok_;
  }
  for (std::size_t r = 0; r < count && ok_;) {
    Band& band = bands_[submitted_ % kBands];
    const std::size_t n = std::min(count - r, bandRows_ - band.rows);
    std::memcpy(band.pixels.data() + band.rows * rowBytes, rows.data() + r * rowBytes, n * rowBytes);
    band.rows += n;
    r += n;
    if (band.rows == bandRows_) Submit();
  }
  return ok_;
}

bool RowPipeline::Finish() {
  if (!threaded_) return ok_;
  if (ok_ && bands_[submitted_ % kBands].rows > 0) Submit();
  while (ok_ && written_ < submitted_) PutReduced(true);
  Stop();
  return ok_;
}

void RowPipeline::Submit() {
#if RASTROM_THREADS
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++submitted_;
  }
  changed_.notify_all();
#endif
  // The next band to fill must be put first.
  PutReduced(submitted_ - written_ == kBands);
}

bool RowPipeline::PutReduced(bool waitForOne) {
#if RASTROM_THREADS
  std::size_t reduced;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (waitForOne) changed_.wait(lock, [this] { return reduced_ > written_; });
    reduced = reduced_;
  }
  for (; written_ < reduced && ok_; ++written_) {
    Band& band = bands_[written_ % kBands];
    for (std::size_t r = 0; r < band.rows && ok_; ++r) {
      if (codes_ > 0) {
        reducer_.PackRow(std::span<const std::uint8_t>(band.codes).subspan(r * width_ * codes_, width_ * codes_),
                         values_);
        ok_ = put_(values_);
      } else {
        ok_ = put_(std::span<const std::uint32_t>(band.values).subspan(r * width_, width_));
      }
    }
    band.rows = 0;
  }
#else
  (void)waitForOne;
#endif
  return ok_;
}

void RowPipeline::Run(std::size_t strip) {
#if RASTROM_THREADS
  std::size_t& done = stripReduced_[strip];
  for (;;) {
    std::size_t next;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || done < submitted_; });
      if (stop_) return;
      next = done;
    }
    Reduce(bands_[next % kBands], strip);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++done;
      reduced_ = *std::min_element(stripReduced_.begin(), stripReduced_.end());
    }
    changed_.notify_all();
  }
#else
  (void)strip;
#endif
}

void RowPipeline::Stop() {
#if RASTROM_THREADS
  if (threads_.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
#endif
}

}  // namespace rastrom
