// Fuzz target over the picture input: the whole input is a file of any kind (BMP, PNG,
// JPEG, COE, .mem, .mif, or a refused one), read as the companion programs read it. The
// last byte chooses the background and whether a BMP file's alpha is used, and whether a
// PNG file's chunk CRCs are put right first, so that mutations reach past the checksums.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "picture_input.h"

namespace {

using rastrom::PictureInput;

std::uint32_t Crc(const std::uint8_t* p, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// Rewrites the CRC of every whole chunk after the PNG signature.
void FixPngCrcs(std::uint8_t* file, std::size_t size) {
  std::size_t at = 8;
  while (size - at >= 12) {
    const std::uint32_t length = static_cast<std::uint32_t>(file[at]) << 24 |
                                 static_cast<std::uint32_t>(file[at + 1]) << 16 |
                                 static_cast<std::uint32_t>(file[at + 2]) << 8 | file[at + 3];
    if (length > size - at - 12) return;
    const std::uint32_t crc = Crc(file + at + 4, length + 4);
    for (int i = 0; i < 4; ++i)
      file[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    at += 12 + length;
  }
}

// Reads the picture's rows in `order` and returns them whole, checking every band, or
// returns the refusal. Only PNG and JPEG files are decoded as their rows are read, so only
// they may be refused here; the bands before the fault are handed out in order.
std::string AllRows(const PictureInput& input, rastrom::RowOrder order, std::string& pixels) {
  const std::size_t rowBytes = 4 * static_cast<std::size_t>(input.width);
  const bool topDown = order == rastrom::RowOrder::kTopDown;
  pixels.assign(rowBytes * static_cast<std::size_t>(input.height), '\0');
  std::int32_t next = topDown ? 0 : input.height, rows = 0;
  const std::string failed = input.ReadRows(
      order, [&](std::int32_t first, std::int32_t count, std::span<const std::uint8_t> band) {
        FUZZ_CHECK(count > 0 && band.size() == rowBytes * std::size_t(count));
        FUZZ_CHECK(topDown ? first == next : first + count == next);
        for (std::size_t i = 3; i < band.size(); i += 4) FUZZ_CHECK(band[i] == 0);
        std::copy(band.begin(), band.end(), pixels.begin() + static_cast<std::ptrdiff_t>(rowBytes * first));
        next = topDown ? first + count : first;
        rows += count;
        return true;
      });
  if (!failed.empty()) {
    FUZZ_CHECK((input.kind == PictureInput::Kind::kPng && failed.rfind("is a PNG picture but ", 0) == 0) ||
               (input.kind == PictureInput::Kind::kJpeg && failed.rfind("is a JPEG picture but ", 0) == 0));
    return failed;
  }
  FUZZ_CHECK(rows == input.height);
  return failed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const unsigned steer = size > 0 ? data[size - 1] : 0;
  // An exactly sized heap copy: AddressSanitizer then reports a read one past the end.
  std::vector<std::uint8_t> copy(data, data + size);
  if (size >= 8 && std::memcmp(data, "\x89PNG", 4) == 0 && (steer & 1))
    FixPngCrcs(copy.data(), size);
  const std::span<const std::uint8_t> file(copy.data(), size);

  rastrom::PictureOptions options;
  options.backgroundGiven = (steer & 2) != 0;
  options.background = (steer & 4) ? 0xFFFFFF : 0x000000;
  PictureInput input;
  input.width = -7;
  const std::string failed =
      rastrom::ReadPictureBytes("input", file, options, input, rastrom::fuzz::kMaxPixelBytes);
  if (!failed.empty()) {
    FUZZ_CHECK(failed.rfind("input: ", 0) == 0);
    FUZZ_CHECK(input.width == -7);  // a refusal leaves the input alone
    return 0;
  }
  const bool memory = input.kind == PictureInput::Kind::kCoe ||
                      input.kind == PictureInput::Kind::kMem ||
                      input.kind == PictureInput::Kind::kMif;
  if (memory) {
    FUZZ_CHECK(!input.rows && input.width == 0 && input.height == 0);
    return 0;
  }
  FUZZ_CHECK(input.rows && input.width >= 1 && input.width <= 65535 && input.height >= 1 &&
             input.height <= 65535);
  FUZZ_CHECK(std::size_t{4} * std::size_t(input.width) * std::size_t(input.height) <=
             rastrom::fuzz::kMaxPixelBytes);
  // Band by band from the top, or whole from the bottom: the same pixels, or the same refusal.
  std::string pixels, whole;
  const std::string refused = AllRows(input, rastrom::RowOrder::kTopDown, pixels);
  FUZZ_CHECK(AllRows(input, rastrom::RowOrder::kBottomUp, whole) == refused);
  if (!refused.empty()) return 0;
  FUZZ_CHECK(whole == pixels);

  // A lighter background never darkens a pixel: transparency is composited, not guessed.
  if (input.kind == PictureInput::Kind::kPng && options.background == 0) {
    options.background = 0xFFFFFF;
    PictureInput light;
    FUZZ_CHECK(
        rastrom::ReadPictureBytes("input", file, options, light, rastrom::fuzz::kMaxPixelBytes)
            .empty());
    std::string lighter;
    FUZZ_CHECK(AllRows(light, rastrom::RowOrder::kTopDown, lighter).empty());
    FUZZ_CHECK(lighter.size() == pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      FUZZ_CHECK(static_cast<std::uint8_t>(lighter[i]) >= static_cast<std::uint8_t>(pixels[i]));
    }
  }
  return 0;
}
