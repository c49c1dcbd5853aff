// A 200-word paragraph at 48 pixels rendered into an alpha bitmap by the text
// producer, beside pango-cairo rendering the same paragraph in the same face
// into an A8 surface, in the same run. Cold: layout, shaping and outlines
// from the font each time (ours: a live vector text; pango: a new font
// map). Warm: the laid-out text drawn again (ours: the cached vector text
// with its outlines; pango: the same layout). Compare each pair's times.
#include <benchmark/benchmark.h>
#include <pango/pangocairo.h>

#include <string>
#include <vector>

#include "VoRav/Text/vxGlyphCache.h"
#include "VoRav/Text/vxTextProducer2.h"
#include "VoRav/Win32/Text/winTextVectorizer.h"

namespace {

constexpr int kLineWords = 10;
constexpr float kPoints = 36;  // 48 pixels at 96 pixels per inch

const std::vector<std::u16string>& Lines() {
  static const std::vector<std::u16string> lines = [] {
    const char16_t* words[] = {u"slideshow", u"captions", u"render", u"quickly", u"with", u"every", u"glyph",
                               u"outline", u"filled", u"smoothly", u"across", u"the", u"whole", u"paragraph",
                               u"of", u"text", u"and", u"a", u"few", u"numbers", u"like", u"2024"};
    std::vector<std::u16string> out;
    std::u16string line;
    for (int i = 0; i < 200; ++i) {
      if (!line.empty()) line += u' ';
      line += words[(i * 7) % 22];
      if ((i + 1) % kLineWords == 0) out.push_back(line), line.clear();
    }
    return out;
  }();
  return lines;
}

std::string Utf8Paragraph() {
  std::string s;
  for (const std::u16string& line : Lines()) {
    if (!s.empty()) s += '\n';
    for (char16_t c : line) s += char(c);
  }
  return s;
}

kav::TFontDesc Font() {
  kav::TFontDesc d;
  kav::FontDescSetAll(d, u"Liberation Sans", kPoints, 0, kav::TRGBTriple{255, 255, 255}, kav::TRGBTriple{}, true);
  return d;
}

double PangoRender(PangoLayout* layout) {
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, w + 2, h + 2);
  cairo_t* cr = cairo_create(surface);
  cairo_move_to(cr, 1, 1);
  pango_cairo_show_layout(cr, layout);
  cairo_surface_flush(surface);
  const double first = cairo_image_surface_get_data(surface)[0];
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return first;
}

PangoLayout* NewLayout(PangoFontMap* map, const std::string& text) {
  PangoContext* context = pango_font_map_create_context(map);
  PangoLayout* layout = pango_layout_new(context);
  PangoFontDescription* desc = pango_font_description_from_string("Liberation Sans");
  pango_font_description_set_absolute_size(desc, 48 * PANGO_SCALE);
  pango_layout_set_font_description(layout, desc);
  pango_layout_set_text(layout, text.c_str(), -1);
  pango_font_description_free(desc);
  g_object_unref(context);
  return layout;
}

void PangoCold(benchmark::State& state) {
  const std::string text = Utf8Paragraph();
  for (auto _ : state) {
    PangoFontMap* map = pango_cairo_font_map_new();
    PangoLayout* layout = NewLayout(map, text);
    benchmark::DoNotOptimize(PangoRender(layout));
    g_object_unref(layout);
    g_object_unref(map);
  }
}

void PangoWarm(benchmark::State& state) {
  const std::string text = Utf8Paragraph();
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoLayout* layout = NewLayout(map, text);
  PangoRender(layout);
  for (auto _ : state) benchmark::DoNotOptimize(PangoRender(layout));
  g_object_unref(layout);
  g_object_unref(map);
}

void ProducerCold(benchmark::State& state) {
  kav::InstallWinVectorizer();
  for (auto _ : state) {
    kav::Ref<kav::TVectorText> text = kav::NewSimpleVectorText(Font(), Lines());
    kav::Ref<kav::TTextProducer> p = kav::MakeRef<kav::TTextProducer>();
    p->SetSource(text.get(), false);
    benchmark::DoNotOptimize(p->ProduceText(0xFFFFFFFF, kav::kTransparentColor, 1).get());
  }
}

void ProducerWarm(benchmark::State& state) {
  kav::InstallWinVectorizer();
  kav::Ref<kav::TCachedVectorText> text = kav::BuildCachedVectorText(Font(), Lines());
  kav::Ref<kav::TTextProducer> p = kav::MakeRef<kav::TTextProducer>();
  p->SetSource(text.get(), false);
  for (auto _ : state) benchmark::DoNotOptimize(p->ProduceText(0xFFFFFFFF, kav::kTransparentColor, 1).get());
}

}  // namespace

BENCHMARK(PangoCold)->Unit(benchmark::kMillisecond);
BENCHMARK(ProducerCold)->Unit(benchmark::kMillisecond);
BENCHMARK(PangoWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(ProducerWarm)->Unit(benchmark::kMillisecond);
