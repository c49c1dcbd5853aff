// A 200-word paragraph at 48 pixels rendered into an alpha bitmap by the text
// producer, beside pango-cairo rendering the same paragraph in the same face
// into an A8 surface, in the same run. Cold: layout, shaping and outlines
// from the font each time (ours: a live vector text; pango: a new font
// map). Warm: the laid-out text drawn again (ours: the cached vector text
// with its outlines; pango: the same layout). Compare each pair's times;
// BM_TextSummary times both sides in alternating rounds and reports the
// median ratio of each pair to pango.
#include <benchmark/benchmark.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <chrono>
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

void PangoColdOnce(const std::string& text) {
  PangoFontMap* map = pango_cairo_font_map_new();
  PangoLayout* layout = NewLayout(map, text);
  benchmark::DoNotOptimize(PangoRender(layout));
  g_object_unref(layout);
  g_object_unref(map);
}

void ProducerColdOnce() {
  kav::Ref<kav::TVectorText> text = kav::NewSimpleVectorText(Font(), Lines());
  kav::Ref<kav::TTextProducer> p = kav::MakeRef<kav::TTextProducer>();
  p->SetSource(text.get(), false);
  benchmark::DoNotOptimize(p->ProduceText(0xFFFFFFFF, kav::kTransparentColor, 1).get());
}

void PangoCold(benchmark::State& state) {
  const std::string text = Utf8Paragraph();
  for (auto _ : state) PangoColdOnce(text);
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
  for (auto _ : state) ProducerColdOnce();
}

void ProducerWarm(benchmark::State& state) {
  kav::InstallWinVectorizer();
  kav::Ref<kav::TCachedVectorText> text = kav::BuildCachedVectorText(Font(), Lines());
  kav::Ref<kav::TTextProducer> p = kav::MakeRef<kav::TTextProducer>();
  p->SetSource(text.get(), false);
  for (auto _ : state) benchmark::DoNotOptimize(p->ProduceText(0xFFFFFFFF, kav::kTransparentColor, 1).get());
}

// Seconds per call of `f`, over `reps` calls.
template <class F>
double SecondsPerCall(F&& f, int reps) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < reps; ++i) f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / reps;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The cold paragraph, ours and pango's, timed one after the other in each of
// several rounds (wall clock: pango does part of its work on other threads),
// so that a change of load on the machine falls on both sides alike; the
// median of the rounds' ratios is reported. The process's first, coldest
// paragraph (fonts opened) is reported on its own.
void BM_TextSummary(benchmark::State& state) {
  kav::InstallWinVectorizer();
  const std::string text = Utf8Paragraph();
  for (auto _ : state) {
    state.counters["first_ms"] = SecondsPerCall([] { ProducerColdOnce(); }, 1) * 1e3;
    state.counters["pango_first_ms"] = SecondsPerCall([&] { PangoColdOnce(text); }, 1) * 1e3;
    std::vector<double> ratios, ours, theirs;
    for (int r = 0; r < 15; ++r) {
      ours.push_back(SecondsPerCall([] { ProducerColdOnce(); }, 10));
      theirs.push_back(SecondsPerCall([&] { PangoColdOnce(text); }, 10));
      ratios.push_back(ours.back() / theirs.back());
    }
    state.counters["cold_x_pango"] = Median(ratios);
    state.counters["cold_ms"] = Median(ours) * 1e3;
    state.counters["pango_cold_ms"] = Median(theirs) * 1e3;
  }
}

}  // namespace

BENCHMARK(PangoCold)->Unit(benchmark::kMillisecond);
BENCHMARK(ProducerCold)->Unit(benchmark::kMillisecond);
BENCHMARK(PangoWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(ProducerWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextSummary)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
