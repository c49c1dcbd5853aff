// Runs HarfBuzz's own hb-shape on a font file, for tests that compare
// placement with it.
#pragma once

#include <array>
#include <cstdio>
#include <string>

namespace kav::test {

// hb-shape's glyph list (the text between its brackets, glyphs by number,
// no clusters) for UTF-8 `text` at `em` pixels given as 64 times that size,
// so positions and advances come in 1/64 pixel; empty when it fails.
// hb-shape reads its text argument in the locale's charset: it runs in a
// UTF-8 locale of its own, so the C locale of a test run loses no letter.
inline std::string RunHbShape(const std::string& file, int index, int em, const std::string& text) {
  const std::string cmd = "LC_ALL=C.UTF-8 hb-shape --no-glyph-names --no-clusters --face-index=" +
                          std::to_string(index) + " --font-size=" + std::to_string(em * 64) + " '" + file + "' '" +
                          text + "' 2>/dev/null";
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return {};
  std::string out;
  std::array<char, 4096> buf;
  size_t got;
  while ((got = fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), got);
  pclose(pipe);
  const size_t open = out.find('['), close = out.find(']');
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  return out.substr(open + 1, close - open - 1);
}

}  // namespace kav::test
