// Mixed right-to-left and left-to-right lines against Pango as an outside
// reference: the same text in the same fonts at the same sizes must give the
// same visual order of glyph clusters and the same word positions.
#include <gtest/gtest.h>
#include <pango/pangoft2.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "GrayPng.h"
#include "VoRav/Win32/Text/winFontUtils.h"
#include "VoRav/Win32/Text/winTextElement.h"
#include "platform/text/PTextFaces.h"

namespace kav {
namespace {

// One glyph cluster as drawn: the first character (UTF-16 index) it shows,
// its left pen x and its advance, in pixels.
struct TCluster {
  int32_t Char;
  double X;
  double Width;
};

TFontDesc Font(const char16_t* face, float points) {
  TFontDesc d;
  FontDescSetAll(d, face, points, 0, TRGBTriple{255, 255, 255}, TRGBTriple{0, 0, 0}, true);
  return d;
}

// UTF-16 index of every UTF-8 byte offset of `text`.
std::vector<int32_t> UnitOfByte(const std::u16string& text, const std::string& utf8) {
  std::vector<int32_t> unit(utf8.size() + 1, int32_t(text.size()));
  size_t b = 0;
  for (size_t u = 0; u < text.size(); ++u) {
    const char16_t c = text[u];
    size_t bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    if (c >= 0xD800 && c < 0xDC00 && u + 1 < text.size()) bytes = 4;
    for (size_t k = 0; k < bytes && b + k < utf8.size(); ++k) unit[b + k] = int32_t(u);
    b += bytes;
    if (bytes == 4) ++u;
  }
  return unit;
}

// The clusters of our element, in drawing order.
std::vector<TCluster> OurClusters(TWinTextElement* e) {
  std::vector<TCluster> out;
  for (int32_t g = 0; g < e->GlyphCount(); ++g) {
    int32_t first = -1;
    for (int32_t k = 0; k < e->Length() && first < 0; ++k)
      if (e->GlyphOfChar(k) == g) first = k;
    TGlyphRecord r;
    e->GetGlyph(g, r);
    int32_t dx = 0;
    if (g + 1 < e->GlyphCount()) {
      TGlyphRecord next;
      e->GetGlyph(g + 1, next);
      dx = next.PenX - r.PenX;
    } else {
      dx = e->Width() - r.PenX;
    }
    if (first < 0) {  // a further glyph of the cluster before
      if (!out.empty()) out.back().Width += dx;
      continue;
    }
    out.push_back({first, double(r.PenX), double(dx)});
  }
  return out;
}

// Pango's clusters of the same text, each run in the face and pixel size
// that our element gave it; a left-to-right paragraph, as our elements have.
// Pango runs in a child process: it keeps fontconfig's caches in use after
// its font map is gone, which the end of our process would trip over.
std::vector<TCluster> PangoClusters(TWinTextElement* e) {
  const std::u16string& text = e->Text();
  const std::string utf8 = ptext::ToUtf8(text);
  const std::vector<int32_t> unit = UnitOfByte(text, utf8);
  std::vector<int32_t> byte_of_unit(text.size() + 1, int32_t(utf8.size()));
  for (size_t b = utf8.size(); b-- > 0;) byte_of_unit[size_t(unit[b])] = int32_t(b);
  struct TSpan {
    std::string Family;
    int Pixels;
    guint Start, End;
  };
  std::vector<TSpan> spans;
  for (const TTextRun& run : e->Runs())
    spans.push_back({ptext::ToUtf8(ptext::MapWindowsFace(run.Font.FaceName)),
                     ptext::FontEmPixels(CreateFontHandle(run.Font).get()), guint(byte_of_unit[size_t(run.Start)]),
                     guint(byte_of_unit[size_t(run.Start + run.Count)])});

  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    PangoFontMap* map = pango_ft2_font_map_new();
    pango_ft2_font_map_set_resolution(PANGO_FT2_FONT_MAP(map), 96, 96);
    PangoContext* ctx = pango_font_map_create_context(map);
    pango_context_set_base_dir(ctx, PANGO_DIRECTION_LTR);
    PangoLayout* layout = pango_layout_new(ctx);
    pango_layout_set_auto_dir(layout, FALSE);
    pango_layout_set_text(layout, utf8.c_str(), int(utf8.size()));
    PangoAttrList* attrs = pango_attr_list_new();
    for (const TSpan& sp : spans) {
      PangoAttribute* f = pango_attr_family_new(sp.Family.c_str());
      PangoAttribute* s = pango_attr_size_new_absolute(sp.Pixels * PANGO_SCALE);
      for (PangoAttribute* a : {f, s}) {
        a->start_index = sp.Start;
        a->end_index = sp.End;
        pango_attr_list_change(attrs, a);
      }
    }
    pango_layout_set_attributes(layout, attrs);
    std::vector<TCluster> out;
    PangoLayoutLine* line = pango_layout_get_line_readonly(layout, 0);
    double x = 0;
    for (GSList* l = line ? line->runs : nullptr; l; l = l->next) {
      auto* run = static_cast<PangoGlyphItem*>(l->data);
      const PangoGlyphString* gs = run->glyphs;
      for (int g = 0; g < gs->num_glyphs; ++g) {
        const double w = double(gs->glyphs[g].geometry.width) / PANGO_SCALE;
        const int32_t ch = unit[size_t(run->item->offset + gs->log_clusters[g])];
        if (!out.empty() && out.back().Char == ch && !gs->glyphs[g].attr.is_cluster_start)
          out.back().Width += w;
        else
          out.push_back({ch, x, w});
        x += w;
      }
    }
    const char* p = reinterpret_cast<const char*>(out.data());
    size_t left = out.size() * sizeof(TCluster);
    while (left > 0) {
      const ssize_t n = write(fds[1], p, left);
      if (n <= 0) _exit(1);
      p += n;
      left -= size_t(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::vector<char> bytes;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  close(fds[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  std::vector<TCluster> out(bytes.size() / sizeof(TCluster));
  if (child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(TCluster));
  else
    out.clear();
  return out;
}

std::string Describe(const std::vector<TCluster>& cs) {
  std::string s;
  for (const TCluster& c : cs) s += std::to_string(c.Char) + "@" + std::to_string(int(std::lround(c.X))) + " ";
  return s;
}

// Left and right edges of each word (a run of characters other than
// blanks, in logical order).
std::vector<std::pair<double, double>> WordEdges(const std::u16string& text, const std::vector<TCluster>& cs) {
  std::vector<std::pair<double, double>> words;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == u' ') {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < text.size() && text[j] != u' ') ++j;
    double left = 1e9, right = -1e9;
    for (const TCluster& c : cs)
      if (c.Char >= int32_t(i) && c.Char < int32_t(j) && c.Width > 0) {
        left = std::min(left, c.X);
        right = std::max(right, c.X + c.Width);
      }
    words.push_back({left, right});
    i = j;
  }
  return words;
}

Ref<TWinTextElement> Element(const std::u16string& text, const TFontDesc& font) {
  Ref<TWinTextElement> e = MakeRef<TWinTextElement>(font, tdNone);
  e->InsertText(0, text, int32_t(text.size()), 0);
  return e;
}

// Draws the element for a look by eye (KAV_DUMP_DIR).
void Dump(TWinTextElement* e, const std::string& name) {
  const char* dir = std::getenv("KAV_DUMP_DIR");
  if (!dir) return;
  TTextMetrics m;
  e->GetFontMetrics(m);
  const int32_t w = e->Width() + 8, h = m.Height + 8;
  std::vector<uint32_t> px(size_t(w) * size_t(h), 0xFF000000u);
  ptext::TTextTarget t{reinterpret_cast<uint8_t*>(px.data()), w, h, w * 4};
  e->DrawToDC(TPoint{4, 4}, TRect{0, 0, w, h}, t);
  test::TGrayImage g{w, h, {}};
  for (uint32_t p : px) g.Pixels.push_back(uint8_t(p & 0xFF));
  test::WriteGrayPng(std::string(dir) + "/" + name + ".png", g);
}

TEST(BidiLine, MixedLinesMatchPango) {
  const std::u16string lines[] = {
      u"abc \u05E9\u05DC\u05D5\u05DD 123 def",
      u"price: \u200F100 \u20AA \u05E9\u05E7\u05DC",
      u"\u05E9\u05DC\u05D5\u05DD 2024 \u05E2\u05D5\u05DC\u05DD",
      u"on 12.05.2024 \u05D1\u05E9\u05E2\u05D4 10:30 ok",
      u"\u0645\u0631\u062D\u0628\u0627 1,250 \u062F\u0631\u0647\u0645 now",
  };
  const char16_t* faces[] = {u"Arial", u"DejaVu Sans", u"Noto Sans Hebrew"};
  int n = 0;
  for (const char16_t* face : faces) {
    for (const std::u16string& text : lines) {
      SCOPED_TRACE(ptext::ToUtf8(face) + ": " + ptext::ToUtf8(text));
      Ref<TWinTextElement> e = Element(text, Font(face, 27));  // 36 pixels
      Dump(e.get(), "bidi_" + std::to_string(n++));
      const std::vector<TCluster> ours = OurClusters(e.get()), theirs = PangoClusters(e.get());
      ASSERT_FALSE(theirs.empty());
      std::vector<int32_t> a, b;
      for (const TCluster& c : ours) a.push_back(c.Char);
      for (const TCluster& c : theirs) b.push_back(c.Char);
      EXPECT_EQ(a, b) << "ours:  " << Describe(ours) << "\npango: " << Describe(theirs);
      // Word edges within two pixels: both round each advance to whole
      // pixels, so the sums drift apart by a pixel at most on these lines;
      // a blank on the wrong side of a word moves it by ten.
      const auto wa = WordEdges(text, ours), wb = WordEdges(text, theirs);
      ASSERT_EQ(wa.size(), wb.size());
      const double tol = 2.0;
      for (size_t i = 0; i < wa.size(); ++i) {
        EXPECT_NEAR(wa[i].first, wb[i].first, tol) << "word " << i;
        EXPECT_NEAR(wa[i].second, wb[i].second, tol) << "word " << i;
      }
    }
  }
}

}  // namespace
}  // namespace kav
