// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace rastrom::fuzz {

// The largest decoded image a fuzz target decodes: 32 MiB of pixels. A valid RLE header
// may declare up to 2 GiB of pixels in a few bytes, and the decoder must accept it; the
// targets still parse such a header, but do not allocate and clear the buffer, so that
// the fuzzer's memory limit catches a real blow-up rather than a legitimate large image.
inline constexpr std::size_t kMaxPixelBytes = std::size_t{32} << 20;

// A broken invariant: say which and abort, so that the fuzzer and the replay test fail.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace rastrom::fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::rastrom::fuzz::Fail(#condition, __FILE__, __LINE__))
