// The driver and the loader over a hand-written fake of the platform's image calls, for the
// bitmaps the project's own loader never produces: other depths, a failing description, a
// failing bit copy, a byte count out of range.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform.h"
#include "run.h"

namespace {

struct FakeBitmap {
  BITMAP record{};
  bool describe = true;  // GetObjectA succeeds
  bool copy = true;      // GetBitmapBits succeeds
  int deleted = 0;
};
FakeBitmap fake;

}  // namespace

HANDLE LoadImageA(HINSTANCE, const char*, UINT, int, int, UINT) { return &fake; }
int GetObjectA(HANDLE, int size, LPVOID buffer) {
  if (!fake.describe || size < static_cast<int>(sizeof(BITMAP))) return 0;
  std::memcpy(buffer, &fake.record, sizeof(BITMAP));
  return sizeof(BITMAP);
}
LONG GetBitmapBits(HBITMAP, LONG bytes, LPVOID bits) {
  if (!fake.copy) return 0;
  std::memset(bits, 0xFF, static_cast<std::size_t>(bytes));
  return bytes;
}
BOOL DeleteObject(HGDIOBJ) {
  ++fake.deleted;
  return 1;
}

namespace {

namespace fs = std::filesystem;

std::string RunWithOutput(const std::string& output) {
  const char* argv[] = {"rastrom", "in.bmp", output.c_str()};
  testing::internal::CaptureStdout();
  EXPECT_EQ(rastrom::RunConverter(3, argv), 0);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

BITMAP Record(LONG width, LONG height, WORD planes, WORD bits) {
  BITMAP record{};
  record.bmWidth = width;
  record.bmHeight = height;
  record.bmWidthBytes = (width * bits + 15) / 16 * 2;
  record.bmPlanes = planes;
  record.bmBitsPixel = bits;
  return record;
}

const std::string kHead =
    "\nrastrom converter, VER: 1.0\nSource file: in.bmp\nOutput file: ";

TEST(FakePlatform, EachOutcomeHasItsTranscriptAndReleasesTheBitmap) {
  const fs::path out = fs::temp_directory_path() / ("rastrom-fake-" + std::to_string(getpid()) + ".coe");
  const std::string loadFailed =
      "Loading image...\nError: Failed to load image!\nError!\nProgram exits with errors!\n";
  const struct {
    const char* name;
    BITMAP record;
    bool describe, copy;
    std::string after;  // the transcript after the two path lines
    bool written;
  } cases[] = {
      {"16 bits per pixel", Record(3, 2, 1, 16), true, true,
       "Loading image...\nImage loaded\nImage height  \t\t: 2\nImage width  \t\t: 3\n"
       "Image WidthBytes  \t: 6\nImage Planes  \t\t: 1\nImage Bits per Pixel  \t: 16\n"
       "Error: Image format (Planes: 1, Bpp: 16) is not supported.\nProgram exits with errors!\n",
       false},
      {"monochrome", Record(8, 1, 1, 1), true, true,
       "Loading image...\nImage loaded\nImage height  \t\t: 1\nImage width  \t\t: 8\n"
       "Image WidthBytes  \t: 2\nImage Planes  \t\t: 1\nImage Bits per Pixel  \t: 1\n"
       "Error: Image format (Planes: 1, Bpp: 1) is not supported.\nProgram exits with errors!\n",
       false},
      {"two planes", Record(1, 1, 2, 32), true, true,
       "Loading image...\nImage loaded\nImage height  \t\t: 1\nImage width  \t\t: 1\n"
       "Image WidthBytes  \t: 4\nImage Planes  \t\t: 2\nImage Bits per Pixel  \t: 32\n"
       "Error: Image format (Planes: 2, Bpp: 32) is not supported.\nProgram exits with errors!\n",
       false},
      {"no description", Record(1, 1, 1, 32), false, true,
       "Loading image...\nError: Failed to attach image handle!\nError!\nProgram exits with errors!\n",
       false},
      {"failed bit copy", Record(1, 1, 1, 32), true, false, loadFailed, false},
      {"byte count past 32 bits", Record(32768, 32768, 1, 32), true, true, loadFailed, false},
      {"negative height", Record(4, -4, 1, 32), true, true, loadFailed, false},
      // The byte count comes out positive, so only the signs themselves can refuse it.
      {"negative width and height", Record(-4, -4, 1, 32), true, true, loadFailed, false},
      {"one white pixel", Record(1, 1, 1, 32), true, true,
       "Loading image...\nImage loaded\nImage height  \t\t: 1\nImage width  \t\t: 1\n"
       "Image WidthBytes  \t: 4\nImage Planes  \t\t: 1\nImage Bits per Pixel  \t: 32\n"
       "Output file has been written.\nProgram completed successfully!\n",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(out);
    fake = FakeBitmap{c.record, c.describe, c.copy, 0};
    EXPECT_EQ(RunWithOutput(out.string()), kHead + out.string() + "\n" + c.after);
    EXPECT_EQ(fake.deleted, 1);
    EXPECT_EQ(fs::exists(out), c.written);
  }
  fs::remove(out);
}

}  // namespace
