// Times zlib's inflate of a PNG file's pixel stream (its IDAT chunks joined) alone, with
// nothing else of decoding: the least any PNG decoder built on zlib spends on the file.
// Prints the median of `runs` inflations in seconds.
//
//   rastrom_bench_inflate picture.png [runs]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: rastrom_bench_inflate picture.png [runs]\n");
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::uint8_t> stream;
  std::uint64_t width = 0, height = 0, channels = 0;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::uint64_t length = Be32(&file[at]);
    if (length > file.size() - at - 12) break;
    const std::uint8_t* data = &file[at + 8];
    if (std::memcmp(&file[at + 4], "IHDR", 4) == 0 && length >= 13) {
      width = Be32(data);
      height = Be32(data + 4);
      static const int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
      channels = data[9] <= 6 ? kChannels[data[9]] : 0;
      if (data[8] != 8) channels = 0;  // the bound below is for 8-bit channels
    }
    if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) stream.insert(stream.end(), data, data + length);
    at += 12 + length;
  }
  if (stream.empty() || channels == 0 || width > 65535 || height > 65535) {
    std::fprintf(stderr, "%s: not a PNG of 8-bit channels with pixels\n", argv[1]);
    return 1;
  }
  std::vector<std::uint8_t> out(height * (1 + width * channels));
  std::vector<double> seconds;
  for (int r = 0; r < runs; ++r) {
    uLongf size = out.size();
    const auto start = std::chrono::steady_clock::now();
    const int status = uncompress(out.data(), &size, stream.data(), stream.size());
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (status != Z_OK || size != out.size()) {
      std::fprintf(stderr, "%s: the pixel stream does not inflate to its rows\n", argv[1]);
      return 1;
    }
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.4f\n", seconds[seconds.size() / 2]);
  return 0;
}
