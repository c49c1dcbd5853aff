// The whole rest of a stream as bytes in a string ("" for no stream), for
// tests that check what a file source opened.
#pragma once

#include <string>
#include <vector>

#include "VoRav/vxStream.h"

namespace kav::test {

inline std::string ReadText(TStream* s) {
  std::string out;
  if (!s) return out;
  std::vector<uint8_t> block(1000);
  while (int64_t n = s->Read(block, int64_t(block.size()))) out.append(block.begin(), block.begin() + n);
  return out;
}

}  // namespace kav::test
