// Reading COE files as the format allows them, not only as rastrom writes them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rastrom {

struct CoeContents {
  std::vector<std::uint32_t> words;  // the vector's values in order
  unsigned radix = 0;                // 2, 10 or 16
  std::string error;                 // empty when read; else one line naming the line number
};

// Parses the text of a COE file of 32-bit words: MEMORY_INITIALIZATION_RADIX and
// MEMORY_INITIALIZATION_VECTOR. Malformed text yields an error, never a crash; memory and
// time are bounded by the length of the text.
CoeContents ReadCoe(std::span<const std::uint8_t> text);

}  // namespace rastrom
