// Character placement: FriBidi resolves the embedding levels and the visual
// order of the line, HarfBuzz shapes each run of one level and one script,
// and the runs are laid out left to right in visual order.
#include <fribidi.h>

#include <algorithm>
#include <cmath>

#include "platform/text/PTextFaces.h"
#include "VoRav/wpThreads2.h"

namespace kav::ptext {
namespace {

constexpr size_t kMaxPlacementUnits = 1000000;

uint8_t ClassOf(FriBidiCharType t) {
  switch (t) {
    case FRIBIDI_TYPE_LTR: return gcpLatin;
    case FRIBIDI_TYPE_RTL:
    case FRIBIDI_TYPE_AL: return gcpRightToLeft;
    case FRIBIDI_TYPE_EN: return gcpLatinNumber;
    case FRIBIDI_TYPE_AN: return gcpLocalNumber;
    case FRIBIDI_TYPE_ET: return gcpLatinNumericTerminator;
    case FRIBIDI_TYPE_ES: return gcpLatinNumericSeparator;
    case FRIBIDI_TYPE_CS: return gcpNumericSeparator;
    default: return gcpNeutral;
  }
}

struct TRun {
  int32_t cp_first;  // code points [cp_first, cp_end)
  int32_t cp_end;
  int32_t visual_key;  // smallest visual position of its code points
  FriBidiLevel level;
  hb_script_t script;
};

// Rule L2 alone: from the highest level down to the lowest odd one, every
// sequence at that level or above is reversed.
void ReorderByLevels(const std::vector<FriBidiLevel>& levels, std::vector<FriBidiStrIndex>& map) {
  const int32_t m = int32_t(levels.size());
  int32_t high = 0, low_odd = 1000;
  for (FriBidiLevel l : levels) {
    high = std::max<int32_t>(high, l);
    if (l & 1) low_odd = std::min<int32_t>(low_odd, l);
  }
  for (int32_t level = high; level >= low_odd; --level) {
    for (int32_t i = 0; i < m;) {
      if (levels[size_t(map[size_t(i)])] < level) {
        ++i;
        continue;
      }
      int32_t j = i;
      while (j < m && levels[size_t(map[size_t(j)])] >= level) ++j;
      std::reverse(map.begin() + i, map.begin() + j);
      i = j;
    }
  }
}

// Placement with the levels resolved here (unit_levels null) or given.
bool Place(TPFont* font, std::u16string_view text, uint32_t flags, TPlacement& out, int32_t base_level,
           const uint8_t* unit_levels) {
  out = TPlacement();
  const size_t n = text.size();
  if (n > kMaxPlacementUnits) return false;
  // A thread asked to stop places nothing: the layouts that ask look at the
  // same flag and give up (shaping a long text takes a good part of a second).
  if (n > 0 && CurrentThreadStopRequested()) return false;
  out.Order.assign(n, 0);
  out.Class.assign(n, gcpNeutral);
  out.Levels.assign(n, 0);
  out.VisualToLogical.resize(n);
  if (n == 0) return true;

  // Code points and the unit each starts at.
  std::vector<FriBidiChar> cps;
  std::vector<int32_t> unit_of;
  cps.reserve(n);
  unit_of.reserve(n + 1);
  for (size_t i = 0; i < n; ++i) {
    char32_t c = text[i];
    unit_of.push_back(int32_t(i));
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    cps.push_back(c);
  }
  const int32_t m = int32_t(cps.size());
  unit_of.push_back(int32_t(n));

  std::vector<FriBidiCharType> types(m);
  std::vector<FriBidiLevel> levels(m, 0);
  std::vector<FriBidiStrIndex> map(m);
  for (int32_t i = 0; i < m; ++i) map[i] = i;
  fribidi_get_bidi_types(cps.data(), m, types.data());
  if (unit_levels) {
    for (int32_t i = 0; i < m; ++i)
      levels[size_t(i)] = FriBidiLevel(std::min<uint8_t>(unit_levels[unit_of[size_t(i)]], 126));
    ReorderByLevels(levels, map);
  } else if (flags & gcpReorder) {
    std::vector<FriBidiBracketType> brackets(m);
    fribidi_get_bracket_types(cps.data(), m, types.data(), brackets.data());
    FriBidiParType dir = (base_level & 1) ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
    if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), m, &dir, levels.data()) == 0) {
      std::fill(levels.begin(), levels.end(), 0);
    } else {
      // Resets trailing blanks (rule L1) and reorders (rule L2).
      if (fribidi_reorder_line(0, types.data(), m, 0, dir, levels.data(), nullptr, map.data()) == 0)
        for (int32_t i = 0; i < m; ++i) map[i] = i;
    }
  }
  std::vector<int32_t> visual_of(m);
  for (int32_t v = 0; v < m; ++v) visual_of[map[v]] = v;

  int32_t pos = 0;
  for (int32_t v = 0; v < m; ++v) {
    for (int32_t u = unit_of[map[v]]; u < unit_of[map[v] + 1]; ++u) out.VisualToLogical[pos++] = u;
  }
  for (int32_t i = 0; i < m; ++i) {
    for (int32_t u = unit_of[i]; u < unit_of[i + 1]; ++u) {
      out.Levels[u] = uint8_t(levels[i]);
      out.Class[u] = ClassOf(types[i]);
    }
  }

  // Runs of one level and one script; characters of the common and
  // inherited scripts join the run around them.
  hb_unicode_funcs_t* uf = hb_unicode_funcs_get_default();
  std::vector<hb_script_t> scripts(m);
  hb_script_t last = HB_SCRIPT_INVALID;
  for (int32_t i = 0; i < m; ++i) {
    const hb_script_t s = hb_unicode_script(uf, cps[i]);
    if (s != HB_SCRIPT_COMMON && s != HB_SCRIPT_INHERITED && s != HB_SCRIPT_UNKNOWN) last = s;
    scripts[i] = (s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN) ? last : s;
  }
  hb_script_t next = HB_SCRIPT_INVALID;
  for (int32_t i = m - 1; i >= 0; --i) {
    if (scripts[i] == HB_SCRIPT_INVALID) scripts[i] = next;
    else next = scripts[i];
  }
  std::vector<TRun> runs;
  for (int32_t i = 0; i < m; ++i) {
    if (runs.empty() || runs.back().level != levels[i] || runs.back().script != scripts[i]) {
      runs.push_back({i, i + 1, visual_of[i], levels[i], scripts[i]});
    } else {
      runs.back().cp_end = i + 1;
      runs.back().visual_key = std::min(runs.back().visual_key, visual_of[i]);
    }
  }
  std::stable_sort(runs.begin(), runs.end(), [](const TRun& a, const TRun& b) { return a.visual_key < b.visual_key; });

  TFaceEntry* f = font->Face();
  std::lock_guard<std::mutex> hold(f->lock);
  // The face may have been another thread's for as long.
  if (CurrentThreadStopRequested()) {
    out = TPlacement();
    return false;
  }
  f->SetSize(font->Em());
  hb_buffer_t* buf = hb_buffer_create();
  std::vector<int32_t> first_glyph(n, -1);
  for (const TRun& r : runs) {
    hb_buffer_clear_contents(buf);
    const int32_t u0 = unit_of[r.cp_first], u1 = unit_of[r.cp_end];
    hb_buffer_add_utf16(buf, reinterpret_cast<const uint16_t*>(text.data()), int(n), unsigned(u0), u1 - u0);
    hb_buffer_set_direction(buf, (r.level & 1) ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(buf, r.script == HB_SCRIPT_INVALID ? HB_SCRIPT_COMMON : r.script);
    hb_buffer_set_language(buf, hb_language_get_default());
    hb_shape(f->hb_font, buf, nullptr, 0);
    unsigned count = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf, &count);
    const hb_glyph_position_t* gp = hb_buffer_get_glyph_positions(buf, &count);
    for (unsigned g = 0; g < count; ++g) {
      const int32_t index = int32_t(out.Glyphs.size());
      out.Glyphs.push_back(info[g].codepoint <= 0xFFFF ? uint16_t(info[g].codepoint) : 0);
      out.Dx.push_back(int32_t(std::lround(gp[g].x_advance / 64.0)));
      out.OffsetX.push_back(int32_t(std::lround(gp[g].x_offset / 64.0)));
      out.OffsetY.push_back(int32_t(std::lround(-gp[g].y_offset / 64.0)));
      const uint32_t cl = info[g].cluster;
      if (cl < n && (first_glyph[cl] < 0 || index < first_glyph[cl])) first_glyph[cl] = index;
    }
    // Units without a glyph of their own belong to the cluster before them.
    int32_t current = first_glyph[u0] >= 0 ? first_glyph[u0] : int32_t(out.Glyphs.size());
    for (int32_t u = u0; u < u1; ++u) {
      if (first_glyph[u] >= 0) current = first_glyph[u];
      out.Order[u] = current;
    }
  }
  hb_buffer_destroy(buf);
  out.GlyphCount = int32_t(out.Glyphs.size());
  return true;
}

}  // namespace

bool GetCharacterPlacement(TPFont* font, std::u16string_view text, uint32_t flags, TPlacement& out,
                           int32_t base_level) {
  return Place(font, text, flags, out, base_level, nullptr);
}

bool GetCharacterPlacementAtLevels(TPFont* font, std::u16string_view text, const uint8_t* levels, TPlacement& out) {
  if (!levels) return GetCharacterPlacement(font, text, gcpReorder, out);
  return Place(font, text, gcpReorder, out, 0, levels);
}

int32_t GetTextExtent(TPFont* font, std::u16string_view text) {
  TPlacement p;
  if (!GetCharacterPlacement(font, text, gcpReorder, p)) return 0;
  int32_t w = 0;
  for (int32_t d : p.Dx) w += d;
  return w;
}

}  // namespace kav::ptext
