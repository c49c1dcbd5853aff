// Font lookup through fontconfig and the shared FreeType and HarfBuzz faces.
#include "platform/text/PTextFaces.h"

#include <fontconfig/fontconfig.h>
#include <hb-ft.h>
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <map>
#include <memory>
#include <set>

namespace kav::ptext {
namespace {

std::mutex g_lock;  // fontconfig, the FreeType library and the caches below
FT_Library g_ft = nullptr;
std::map<std::string, std::unique_ptr<TFaceEntry>> g_faces;  // "path#index"
std::map<std::u16string, TFaceEntry*> g_lookups;             // "key|bold|italic"
// Families found by coverage, by character and style (the search is slow;
// a text of many characters no face has asks again and again).
std::map<uint64_t, std::u16string> g_coverers;
constexpr size_t kMaxCoverers = 1 << 16;

// Frees the faces and the libraries' own state when the process ends, so
// leak checkers see only real leaks. Declared after the caches: destroyed
// before them.
struct TShutdown {
  ~TShutdown() {
    std::lock_guard<std::mutex> hold(g_lock);
    g_lookups.clear();
    g_coverers.clear();
    g_faces.clear();
    if (g_ft) FT_Done_FreeType(g_ft);
    g_ft = nullptr;
    FcFini();
  }
} g_shutdown;

// Windows faces that shows use, and the free faces installed in their place
// (metric-compatible where one exists; by script for the fallback faces).
struct TAlias {
  const char16_t* windows;
  const char16_t* free;
};
constexpr TAlias kAliases[] = {
    {u"arial", u"Liberation Sans"},
    {u"helvetica", u"Liberation Sans"},
    {u"arial narrow", u"Liberation Sans Narrow"},
    {u"times new roman", u"Liberation Serif"},
    {u"times", u"Liberation Serif"},
    {u"courier new", u"Liberation Mono"},
    {u"courier", u"Liberation Mono"},
    {u"tahoma", u"DejaVu Sans"},
    {u"verdana", u"DejaVu Sans"},
    {u"segoe ui", u"Noto Sans"},
    {u"ms sans serif", u"DejaVu Sans"},
    {u"microsoft sans serif", u"DejaVu Sans"},
    {u"ms shell dlg", u"DejaVu Sans"},
    {u"ms shell dlg 2", u"DejaVu Sans"},
    {u"wingdings", u"DejaVu Sans"},
    {u"kartika", u"Noto Sans Malayalam"},
    {u"vrinda", u"Noto Sans Bengali"},
    {u"mv boli", u"Noto Sans Thaana"},
    {u"gautami", u"Noto Sans Telugu"},
    {u"tunga", u"Noto Sans Kannada"},
    {u"shruti", u"Noto Sans Gujarati"},
    {u"raavi", u"Noto Sans Gurmukhi"},
    {u"sylfaen", u"Noto Sans Armenian"},
    {u"estrangelo edessa", u"Noto Sans Syriac"},
    {u"latha", u"Noto Sans Tamil"},
    {u"mangal", u"Noto Sans Devanagari"},
    {u"ms gothic", u"Noto Sans CJK JP"},
    {u"ms mincho", u"Noto Serif CJK JP"},
    {u"simsun", u"Noto Sans CJK SC"},
    {u"mingliu", u"Noto Sans CJK TC"},
    {u"gulim", u"Noto Sans CJK KR"},
};

std::u16string Lower(std::u16string_view s) {
  std::u16string r(s);
  for (char16_t& c : r)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  return r;
}

void InitLocked() {
  if (g_ft) return;
  FcInit();
  if (FT_Init_FreeType(&g_ft) != 0) g_ft = nullptr;
}

TFaceEntry* OpenFaceLocked(const std::string& path, int32_t index) {
  const std::string key = path + "#" + std::to_string(index);
  auto it = g_faces.find(key);
  if (it != g_faces.end()) return it->second.get();
  if (!g_ft) return nullptr;
  FT_Face ft = nullptr;
  if (FT_New_Face(g_ft, path.c_str(), index, &ft) != 0 || !ft) return nullptr;
  if (!FT_IS_SCALABLE(ft) || FT_Select_Charmap(ft, FT_ENCODING_UNICODE) != 0) {
    FT_Done_Face(ft);
    return nullptr;
  }
  auto e = std::make_unique<TFaceEntry>();
  e->path = path;
  e->index = index;
  e->ft = ft;
  hb_blob_t* blob = hb_blob_create_from_file(path.c_str());
  e->hb_face = hb_face_create(blob, unsigned(index));
  hb_blob_destroy(blob);
  e->hb_font = hb_font_create(e->hb_face);
  e->units_per_em = ft->units_per_EM > 0 ? ft->units_per_EM : 1000;
  const TT_OS2* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
  const TT_Postscript* post = static_cast<TT_Postscript*>(FT_Get_Sfnt_Table(ft, FT_SFNT_POST));
  if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
    e->win_ascent = os2->usWinAscent;
    e->win_descent = os2->usWinDescent;
    e->strikeout_position = os2->yStrikeoutPosition;
    e->strikeout_size = os2->yStrikeoutSize;
    e->weight = os2->usWeightClass;
  } else {
    e->win_ascent = ft->ascender;
    e->win_descent = -ft->descender;
  }
  e->underline_position = post ? post->underlinePosition : ft->underline_position;
  e->underline_thickness = post ? post->underlineThickness : ft->underline_thickness;
  if (e->underline_thickness <= 0) e->underline_thickness = e->units_per_em / 20;
  if (e->strikeout_size <= 0) e->strikeout_size = e->underline_thickness;
  if (e->strikeout_position <= 0) e->strikeout_position = e->win_ascent * 3 / 10;
  e->fixed_pitch = FT_IS_FIXED_WIDTH(ft) || (post && post->isFixedPitch);
  TFaceEntry* raw = e.get();
  g_faces.emplace(key, std::move(e));
  return raw;
}

// A pattern asking for a scalable face of the style; the caller adds what
// it looks for and then runs Substitute.
FcPattern* NewStylePattern(bool bold, bool italic) {
  FcPattern* pat = FcPatternCreate();
  FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  return pat;
}

void Substitute(FcPattern* pat) {
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
}

// fontconfig's best match for a family and style.
TFaceEntry* LookupLocked(std::u16string_view face, bool bold, bool italic) {
  const std::u16string family = MapWindowsFace(face);
  std::u16string key = Lower(family);
  key += bold ? u"|b" : u"|";
  key += italic ? u"|i" : u"|";
  auto it = g_lookups.find(key);
  if (it != g_lookups.end()) return it->second;
  FcPattern* pat = NewStylePattern(bold, italic);
  const std::string fam8 = ToUtf8(family);
  if (!fam8.empty()) FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(fam8.c_str()));
  Substitute(pat);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  TFaceEntry* entry = nullptr;
  if (match) {
    FcChar8* file = nullptr;
    int index = 0;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
      FcPatternGetInteger(match, FC_INDEX, 0, &index);
      entry = OpenFaceLocked(reinterpret_cast<const char*>(file), index);
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pat);
  g_lookups.emplace(key, entry);
  return entry;
}

}  // namespace

TFaceEntry::~TFaceEntry() {
  if (hb_font) hb_font_destroy(hb_font);
  if (hb_face) hb_face_destroy(hb_face);
  if (ft) FT_Done_Face(ft);
}

void TFaceEntry::SetSize(int32_t em) {
  if (em == current_em) return;
  FT_Set_Pixel_Sizes(ft, 0, FT_UInt(em));
  hb_font_set_scale(hb_font, em * 64, em * 64);
  current_em = em;
}

int32_t Scale(const TFaceEntry* face, int32_t units, int32_t em) {
  return int32_t(std::lround(double(units) * em / face->units_per_em));
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t b = uint8_t(text[i]);
    char32_t c;
    int extra;
    if (b < 0x80) c = b, extra = 0;
    else if ((b & 0xE0) == 0xC0) c = b & 0x1F, extra = 1;
    else if ((b & 0xF0) == 0xE0) c = b & 0x0F, extra = 2;
    else if ((b & 0xF8) == 0xF0) c = b & 0x07, extra = 3;
    else c = 0xFFFD, extra = 0;
    ++i;
    for (int k = 0; k < extra; ++k, ++i) {
      if (i >= text.size() || (uint8_t(text[i]) & 0xC0) != 0x80) {
        c = 0xFFFD;
        break;
      }
      c = (c << 6) | (uint8_t(text[i]) & 0x3F);
    }
    if (c >= 0x10000 && c <= 0x10FFFF) {
      out += char16_t(0xD800 + ((c - 0x10000) >> 10));
      out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += char16_t(c > 0x10FFFF ? 0xFFFD : c);
    }
  }
  return out;
}

std::u16string MapWindowsFace(std::u16string_view face) {
  const std::u16string low = Lower(face);
  for (const TAlias& a : kAliases)
    if (low == a.windows) return a.free;
  return std::u16string(face);
}

PFont CreateFont(const TLogFont& request) {
  TFaceEntry* face;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    InitLocked();
    face = LookupLocked(request.FaceName, request.Weight >= 700, request.Italic);
    if (!face) face = LookupLocked(u"DejaVu Sans", false, false);
    if (!face) face = LookupLocked(u"", false, false);
  }
  if (!face) throw ENoFontError("no scalable font is installed");
  int32_t em;
  if (request.Height < 0) em = -request.Height;
  else if (request.Height == 0) em = 16;
  else em = std::max(1, int32_t(std::lround(double(request.Height) * face->units_per_em /
                                             std::max(1, face->win_ascent + face->win_descent))));
  em = std::clamp(em, 1, 4096);  // FreeType's limit on pixel sizes is far above what text needs
  return MakeRef<TPFont>(face, em, request);
}

bool FontFamilyInstalled(std::u16string_view face) {
  const std::string fam8 = ToUtf8(MapWindowsFace(face));
  if (fam8.empty()) return false;
  std::lock_guard<std::mutex> hold(g_lock);
  InitLocked();
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(fam8.c_str()));
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* set = FcFontList(nullptr, pat, os);
  const bool found = set && set->nfont > 0;
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  return found;
}

std::u16string FamilyCoveringChar(char32_t ch, bool bold, bool italic) {
  std::lock_guard<std::mutex> hold(g_lock);
  InitLocked();
  const uint64_t key = (uint64_t(ch) << 2) | (bold ? 1 : 0) | (italic ? 2 : 0);
  auto known = g_coverers.find(key);
  if (known != g_coverers.end()) return known->second;
  FcPattern* pat = NewStylePattern(bold, italic);
  FcCharSet* cs = FcCharSetCreate();
  FcCharSetAddChar(cs, ch);
  FcPatternAddCharSet(pat, FC_CHARSET, cs);
  Substitute(pat);
  FcResult result = FcResultNoMatch;
  FcFontSet* sorted = FcFontSort(nullptr, pat, FcFalse, nullptr, &result);
  std::u16string family;
  for (int i = 0; sorted && i < sorted->nfont && family.empty(); ++i) {
    FcCharSet* fcs = nullptr;
    FcChar8* fam = nullptr;
    FcBool scalable = FcFalse;
    if (FcPatternGetCharSet(sorted->fonts[i], FC_CHARSET, 0, &fcs) == FcResultMatch && FcCharSetHasChar(fcs, ch) &&
        FcPatternGetBool(sorted->fonts[i], FC_SCALABLE, 0, &scalable) == FcResultMatch && scalable &&
        FcPatternGetString(sorted->fonts[i], FC_FAMILY, 0, &fam) == FcResultMatch)
      family = FromUtf8(reinterpret_cast<const char*>(fam));
  }
  if (sorted) FcFontSetDestroy(sorted);
  FcCharSetDestroy(cs);
  FcPatternDestroy(pat);
  if (g_coverers.size() >= kMaxCoverers) g_coverers.clear();
  g_coverers.emplace(key, family);
  return family;
}

bool AddPrivateFontFile(const std::string& utf8_path) {
  std::lock_guard<std::mutex> hold(g_lock);
  InitLocked();
  const bool ok = FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(utf8_path.c_str())) == FcTrue;
  if (ok) {
    // A new family may now match better.
    g_lookups.clear();
    g_coverers.clear();
  }
  return ok;
}

std::vector<TFontFamilyInfo> EnumFontFamilies() {
  std::vector<TFontFamilyInfo> out;
  std::lock_guard<std::mutex> hold(g_lock);
  InitLocked();
  FcPattern* pat = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, FC_SPACING, FC_SCALABLE, nullptr);
  FcFontSet* set = FcFontList(nullptr, pat, os);
  std::set<std::u16string> seen;
  for (int i = 0; set && i < set->nfont; ++i) {
    FcChar8* fam = nullptr;
    if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &fam) != FcResultMatch) continue;
    TFontFamilyInfo info;
    info.FaceName = FromUtf8(reinterpret_cast<const char*>(fam));
    if (!seen.insert(Lower(info.FaceName)).second) continue;
    int spacing = FC_PROPORTIONAL;
    FcPatternGetInteger(set->fonts[i], FC_SPACING, 0, &spacing);
    FcBool scalable = FcTrue;
    FcPatternGetBool(set->fonts[i], FC_SCALABLE, 0, &scalable);
    info.FixedPitch = spacing == FC_MONO || spacing == FC_CHARCELL;
    info.TrueType = scalable == FcTrue;
    out.push_back(std::move(info));
  }
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(os);
  FcPatternDestroy(pat);
  return out;
}

std::string FontFilePath(TPFont* font, int32_t* face_index) {
  if (face_index) *face_index = font->Face()->index;
  return font->Face()->path;
}

int32_t FontEmPixels(TPFont* font) { return font->Em(); }

}  // namespace kav::ptext
