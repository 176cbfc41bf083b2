// The BMP Suite corpus: every file gets the outcome bmpsuite/expected.tsv gives it, and
// every decoded file matches its pixels in bmpsuite/expected/ byte for byte. The corpus is
// read from the shared directory at test time; without it the tests skip.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bmp_decode.h"

namespace rastrom {
namespace {

namespace fs = std::filesystem;

const fs::path kSuite = fs::path(RASTROM_SHARED_DIR) / "bmpsuite";

struct Expected {
  std::string file;     // relative to the suite, such as "g/pal8.bmp"
  std::string outcome;  // "decode" or "refuse"
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string pixelsOrReason;  // a .bgr0 file under expected/, or why the file is refused
};

std::optional<std::vector<std::uint8_t>> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

// Reads expected.tsv: a header line, then one tab-separated line per file.
std::vector<Expected> ReadExpected() {
  std::vector<Expected> rows;
  std::ifstream in(kSuite / "expected.tsv");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    Expected row;
    std::string width, height;
    std::getline(fields, row.file, '\t');
    std::getline(fields, row.outcome, '\t');
    std::getline(fields, width, '\t');
    std::getline(fields, height, '\t');
    std::getline(fields, row.pixelsOrReason);
    if (row.outcome == "decode") {
      row.width = std::stoi(width);
      row.height = std::stoi(height);
    }
    rows.push_back(row);
  }
  return rows;
}

class BmpSuite : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSuite / "expected.tsv")) {
      GTEST_SKIP() << "No BMP Suite corpus at " << kSuite
                   << " (configure with -DRASTROM_SHARED_DIR=<directory holding bmpsuite/>)";
    }
    rows_ = ReadExpected();
    ASSERT_FALSE(rows_.empty()) << "expected.tsv lists no files";
  }
  std::vector<Expected> rows_;
};

TEST_F(BmpSuite, RefusesTheFilesExpectedToBeRefused) {
  int checked = 0;
  for (const Expected& row : rows_) {
    if (row.outcome != "refuse") continue;
    const auto file = ReadBytes(kSuite / row.file);
    if (!file) {
      ADD_FAILURE() << row.file << ": cannot read the file";
      continue;
    }
    const DecodedBmp decoded = DecodeBmp(*file);
    EXPECT_NE(decoded.error, BmpError::kNone)
        << row.file << ": decoded " << decoded.width << " x " << decoded.height
        << ", but should be refused (" << row.pixelsOrReason << ")";
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST_F(BmpSuite, DecodesEveryOtherFileToItsExactPixels) {
  int checked = 0;
  for (const Expected& row : rows_) {
    if (row.outcome != "decode") continue;
    const auto file = ReadBytes(kSuite / row.file);
    const auto expected = ReadBytes(kSuite / "expected" / row.pixelsOrReason);
    if (!file || !expected) {
      ADD_FAILURE() << row.file << ": cannot read the file or its expected pixels";
      continue;
    }
    ++checked;
    const DecodedBmp decoded = DecodeBmp(*file);
    if (decoded.error != BmpError::kNone) {
      ADD_FAILURE() << row.file << ": refused (" << BmpErrorText(decoded.error) << "), expected "
                    << row.width << " x " << row.height;
      continue;
    }
    if (decoded.width != row.width || decoded.height != row.height) {
      ADD_FAILURE() << row.file << ": decoded " << decoded.width << " x " << decoded.height
                    << ", expected " << row.width << " x " << row.height;
      continue;
    }
    if (decoded.pixels == *expected) continue;
    std::size_t at = 0;
    while (at < decoded.pixels.size() && at < expected->size() &&
           decoded.pixels[at] == (*expected)[at])
      ++at;
    const std::size_t pixel = at / 4;
    ADD_FAILURE() << row.file << ": pixels differ first at byte " << at << " (x "
                  << pixel % static_cast<std::size_t>(row.width) << ", y "
                  << pixel / static_cast<std::size_t>(row.width) << " from the top): got "
                  << (at < decoded.pixels.size() ? int{decoded.pixels[at]} : -1) << ", expected "
                  << (at < expected->size() ? int{(*expected)[at]} : -1) << "; sizes "
                  << decoded.pixels.size() << " and " << expected->size();
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace rastrom
