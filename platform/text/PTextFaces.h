// Internal to platform/text: shared font files, realised fonts and the
// conversions at the library boundary.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include <hb.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/text/PlatformText.h"

namespace kav::ptext {

// One font file face, shared by every font made from it. FreeType faces
// are not thread-safe: every use takes `lock` and sets the size it needs.
struct TFaceEntry {
  std::mutex lock;
  std::string path;
  int32_t index = 0;
  FT_Face ft = nullptr;
  hb_face_t* hb_face = nullptr;
  hb_font_t* hb_font = nullptr;
  int32_t current_em = 0;  // pixel size set on `ft` and `hb_font`
  int32_t units_per_em = 1000;
  int32_t win_ascent = 0;  // font units
  int32_t win_descent = 0;
  int32_t underline_position = 0;
  int32_t underline_thickness = 0;
  int32_t strikeout_position = 0;
  int32_t strikeout_size = 0;
  int32_t weight = 400;
  bool fixed_pitch = false;
  bool ranges_built = false;
  std::vector<TUnicodeRange> ranges;

  ~TFaceEntry();
  // Sets the em size (the caller holds `lock`).
  void SetSize(int32_t em);
};

}  // namespace kav::ptext

namespace kav {
namespace ptext {

// Standard UTF-8 (four-byte sequences above U+FFFF) at the library boundary.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);
// Font units to pixels at `em`, rounded to nearest.
int32_t Scale(const TFaceEntry* face, int32_t units, int32_t em);

}  // namespace ptext
}  // namespace kav
