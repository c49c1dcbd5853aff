// GDI-text subset of our own: fonts, metrics, glyph coverage, character
// placement (bidirectional reordering and shaping), glyph outlines, font
// enumeration and glyph-run output into 32-bit pixel buffers.
//
// Backed by fontconfig (face lookup, enumeration, the show's private fonts),
// FreeType (metrics, ABC widths, coverage, outlines, glyph images), FriBidi
// (embedding levels and visual order) and HarfBuzz (shaping). Windows face
// names that shows use map to metric-compatible free faces first.
//
// Units are pixels at 96 pixels per inch unless said otherwise. Every call
// may be made from any thread; fonts are shared, immutable handles.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/SysObj2.h"

namespace kav {
// No usable scalable font on the system (none installed, or only damaged
// ones): raised by CreateFont, so that callers can draw without text or
// tell the viewer.
KAV_DECLARE_EXCEPTION(ENoFontError, Exception);
}  // namespace kav

namespace kav::ptext {

// The screen's vertical pixels per inch.
constexpr int32_t kScreenPixelsPerInch = 96;

// A font request: a negative height is the em height in pixels, a positive
// one the cell height (ascent + descent), 0 a default of 16 pixels.
struct TLogFont {
  std::u16string FaceName;
  int32_t Height = 0;
  int32_t Weight = 0;  // 700 and above is bold
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
};

struct TFaceEntry;  // a shared font file face (internal)

// A realised font: a face at an em size. Never null from CreateFont: a face
// that is not installed is replaced by fontconfig's best match; with no
// usable face at all CreateFont raises ENoFontError. Immutable.
class TPFont : public TRefObject {
 public:
  TPFont(TFaceEntry* face, int32_t em, const TLogFont& request) : face_(face), em_(em), request_(request) {}
  TFaceEntry* Face() const noexcept { return face_; }
  int32_t Em() const noexcept { return em_; }
  const TLogFont& Request() const noexcept { return request_; }

 private:
  TFaceEntry* face_;  // lives as long as the process
  int32_t em_;
  TLogFont request_;
};
using PFont = Ref<TPFont>;
PFont CreateFont(const TLogFont& request);

// True when `face` names an installed family, directly or through the
// table of Windows names (Arial, Tahoma, Mangal...).
bool FontFamilyInstalled(std::u16string_view face);
// The family that stands for `face` after the Windows-name table (the face
// itself when it has no entry).
std::u16string MapWindowsFace(std::u16string_view face);
// An installed family that has a glyph for `ch`, preferring one of the
// requested style; empty when none has it.
std::u16string FamilyCoveringChar(char32_t ch, bool bold, bool italic);
// Adds a font file (from a show) to this process's private font set; it is
// never installed for other programs. False when fontconfig refuses it.
bool AddPrivateFontFile(const std::string& utf8_path);

struct TTextMetricsRec {
  int32_t Ascent = 0;
  int32_t Descent = 0;
  int32_t Height = 0;  // Ascent + Descent
  int32_t InternalLeading = 0;
  int32_t AveCharWidth = 0;
  int32_t Weight = 0;
  // The character whose glyph stands for a missing one: U+FFFF, which no
  // font maps, so its glyph is the font's missing glyph (0).
  char16_t DefaultChar = 0xFFFF;
  // Bit 0 set for variable pitch (as TMPF_FIXED_PITCH), bit 1 vector, bit 2
  // TrueType (TMPF_TRUETYPE): every font served here is a scalable outline.
  uint8_t PitchAndFamily = 0;
};
TTextMetricsRec GetTextMetrics(TPFont* font);

// Outline metrics in pixels, positions measured up from the baseline.
struct TOutlineMetricsRec {
  int32_t UnderscorePosition = 0;
  int32_t UnderscoreSize = 0;
  int32_t StrikeoutPosition = 0;
  int32_t StrikeoutSize = 0;
};
// False for a font without outline metrics (never for the fonts served).
bool GetOutlineTextMetrics(TPFont* font, TOutlineMetricsRec& out);

struct TABC {
  int32_t A = 0;
  int32_t B = 0;
  int32_t C = 0;
};
// ABC widths of `count` glyph indices (unhinted, rounded to pixels).
bool GetCharABCWidthsI(TPFont* font, const uint16_t* glyphs, int32_t count, TABC* out);
// ABC widths of one character (its glyph in the font's character map).
TABC GetCharABCWidths(TPFont* font, char32_t ch);
// Glyph index of each code unit (a surrogate pair gives its glyph on the
// high unit and 0xFFFF on the low one); 0xFFFF marks a missing glyph.
void GetGlyphIndices(TPFont* font, std::u16string_view text, uint16_t* out);
// Width of the shaped text (sum of the advances).
int32_t GetTextExtent(TPFont* font, std::u16string_view text);

// Characters of the basic plane with a glyph in the font, as ranges (first,
// count). False when the answer is not available.
struct TUnicodeRange {
  char16_t First;
  uint16_t Count;
};
bool GetFontUnicodeRanges(TPFont* font, std::vector<TUnicodeRange>& out);

// Character classes of placement.
enum : uint8_t {
  gcpLatin = 1,
  gcpRightToLeft = 2,  // Hebrew, Arabic
  gcpNeutral = 3,
  gcpLocalNumber = 4,
  gcpLatinNumber = 5,
  gcpLatinNumericTerminator = 6,
  gcpLatinNumericSeparator = 7,
  gcpNumericSeparator = 8,
};

// Placement of a line: glyphs in visual order (left to right).
struct TPlacement {
  std::vector<uint16_t> Glyphs;   // visual order
  std::vector<int32_t> Dx;        // advance of each glyph
  std::vector<int32_t> OffsetX;   // offset of each glyph from its pen position
  std::vector<int32_t> OffsetY;   // (y grows downwards)
  // Per code unit: the visual index of the leftmost glyph of the unit's
  // cluster (units of one cluster share it).
  std::vector<int32_t> Order;
  std::vector<uint8_t> Class;     // per code unit, gcp... classes
  std::vector<uint8_t> Levels;    // per code unit, resolved embedding level
  // Per visual position, the code unit shown there (the unit order of the
  // bidirectional algorithm's reordering of the line).
  std::vector<int32_t> VisualToLogical;
  int32_t GlyphCount = 0;
};

// Flags of placement (the subset of the GCP_ flags that changes anything).
enum : uint32_t { gcpReorder = 0x0002 };
// Places a line: bidirectional levels (paragraph level `base_level`, 0 or
// 1, explicit embedding and override characters honoured), visual order
// (without gcpReorder the units stay in logical order at level 0), then
// shaping with ligatures, contextual forms, kerning and mark positioning.
// Missing glyphs are glyph 0. False only for text longer than 1,000,000
// units.
bool GetCharacterPlacement(TPFont* font, std::u16string_view text, uint32_t flags, TPlacement& out,
                           int32_t base_level = 0);
// Places a piece of a line whose embedding levels were resolved over the
// whole line (one level per code unit, as TPlacement::Levels gives them):
// the units are put in visual order by those levels alone (rule L2, no
// level is reset at the piece's ends) and shaped. Null levels place the
// text as a line of its own.
bool GetCharacterPlacementAtLevels(TPFont* font, std::u16string_view text, const uint8_t* levels, TPlacement& out);

// A glyph outline in the shape of GDI's native outline: closed polygons of
// curve records, 16.16 fixed-point coordinates, y growing downwards,
// unhinted, at the font's pixel size.
struct TFixedPoint {
  int32_t X;  // 16.16
  int32_t Y;
};
enum : uint16_t { tprimLine = 1, tprimQSpline = 2, tprimCSpline = 3 };
struct TCurveRecord {
  uint16_t Type;
  // Line: points; quadratic spline: control points, the last one on the
  // curve (implied midpoints between the others); cubic: groups of three.
  std::vector<TFixedPoint> Points;
};
struct TPolygonRecord {
  uint32_t Type = 24;  // TT_POLYGON_TYPE
  TFixedPoint Start;
  std::vector<TCurveRecord> Curves;
};
// False when the glyph cannot be loaded; a blank glyph answers true with no
// polygons.
bool GetGlyphOutline(TPFont* font, uint16_t glyph, std::vector<TPolygonRecord>& out);

struct TFontFamilyInfo {
  std::u16string FaceName;
  bool TrueType = true;
  bool FixedPitch = false;
};
// Every installed family (and the private fonts), each once.
std::vector<TFontFamilyInfo> EnumFontFamilies();

// A 32-bit target (blue, green, red, alpha bytes in memory).
struct TTextTarget {
  uint8_t* Bits = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Stride = 0;  // bytes per row
};
// Draws glyphs with anti-aliasing in `color` (0xAARRGGBB; its alpha is
// ignored) over the target, clipped to [clip_left, clip_right) x
// [clip_top, clip_bottom) and to the target. `x`, `y` is the pen position on
// the baseline. Offsets may be null. Underline and strike-out of the font
// are drawn across the run. The target's alpha becomes 255 where drawn.
void ExtTextOutGlyphs(const TTextTarget& target, TPFont* font, int32_t x, int32_t y, int32_t clip_left,
                      int32_t clip_top, int32_t clip_right, int32_t clip_bottom, const uint16_t* glyphs,
                      const int32_t* dx, const int32_t* offset_x, const int32_t* offset_y, int32_t count,
                      uint32_t color);

// The font file and face index chosen for a font (for tests and tools).
std::string FontFilePath(TPFont* font, int32_t* face_index = nullptr);
// The font's em height in pixels.
int32_t FontEmPixels(TPFont* font);

}  // namespace kav::ptext
