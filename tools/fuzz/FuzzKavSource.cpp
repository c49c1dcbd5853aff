// Fuzz entry points of the show's transitions and timing: the effect
// manager and the show source over a project text.
#include <algorithm>
#include <cmath>
#include <span>

#include "KavLib2/Effects/KavEffManager.h"
#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "VoRav/vxMemoryStream.h"
#include "tools/fuzz/FuzzCheck.h"
#include "tools/fuzz/FuzzTargets.h"

namespace kav {

namespace {

// Bounds one input's work: slides and variants past these are not queried.
constexpr int32_t kQueriedSlides = 256;
constexpr int32_t kQueriedVariants = 32;

void QueryEffect(TEffectProp* e, TIniList* scratch) {
  if (!e) return;
  FuzzCheck(e->GetTime() >= 0, "FuzzEffManager", "negative effect time");
  e->GetRefName();
  e->GetDefaults();
  e->GetCheckState();
  e->KeyList();
  e->ReadText(u"time");
  const int32_t variants = e->CountVariants();
  FuzzCheck(variants >= 0 && variants <= kMaxEffectVariants, "FuzzEffManager", "variant count out of range");
  for (int32_t v = 0; v < std::min(variants, kQueriedVariants); ++v) {
    e->IsVariantAvailable(v);
    if (e->FindSlideSection(v)) e->CopyToSection(v);
  }
  e->WriteBackground(scratch);
}

}  // namespace

Ref<TIniFile> FuzzProjectIni(const uint8_t* data, size_t size) {
  auto stream = MakeRef<TMemoryStream>();
  stream->WriteBytes(std::span<const uint8_t>(data, size));
  stream->SetPosition(0);
  auto ini = MakeRef<TIniFile>();
  if (!ini->LoadFrom(stream.get())) return nullptr;
  return ini;
}

int FuzzEffManager(const uint8_t* data, size_t size) {
  const TFuzzSlidesLimit limit;
  Ref<TIniFile> ini = FuzzProjectIni(data, size);
  if (!ini) return 0;
  try {
    auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
    auto scratch = MakeRef<TIniSection>();
    const int32_t slides = m->SlidesCount();
    FuzzCheck(slides >= 0 && slides <= kMaxEffectSlides, "FuzzEffManager", "slide count out of range");
    m->TimeOfEffect();
    m->CountChecked();
    for (int32_t i = 0; i < m->Count(); ++i) {
      TEffectProp* e = m->GetEffectProp(i);
      QueryEffect(e, scratch.get());
      if (e) m->FindEffect(e->GetRefName());
    }
    for (int32_t n = 0; n < std::min(slides, kQueriedSlides); ++n) {
      QueryEffect(m->GetEffectByIndex(n), scratch.get());
      m->GetEffectTime(n);
    }
    FuzzCheck(!m->GetEffectByIndex(slides) && !m->GetEffectByIndex(-1), "FuzzEffManager", "effect outside the slides");
    // Without standard entries, and after the first library effect is gone.
    m->SetStandardEntries(false);
    if (m->Count() > 0) m->Delete(m->GetEffectProp(0));
    m->Clear();
    for (int32_t n = 0; n < std::min(slides, kQueriedSlides); ++n) m->GetEffectTime(n);
  } catch (const Exception&) {
  }
  return 0;
}

int FuzzKavSource(const uint8_t* data, size_t size) {
  const TFuzzSlidesLimit limit;
  Ref<TIniFile> ini = FuzzProjectIni(data, size);
  if (!ini) return 0;
  try {
    // A project folder that does not exist: nothing of the machine is read.
    auto files = MakeRef<TMappedFileSource>(u"/nonexistent/kav-fuzz");
    files->LoadFileMap(ini->FindSection(u"FileMap"));
    files->LoadMappings(ini->FindSection(u"RotationState"));
    auto accessor = MakeRef<TFileAccessor>(files.get());
    TKavSourceSetup setup;
    setup.RandomSeed = 7;
    setup.ProgramFile = size % 2 ? u"/opt/kav/show.scr" : u"/opt/kav/player";
    auto s = MakeRef<TKavSource>(accessor.get(), ini.get(), setup);
    s->SetReproducibleEffects(size % 3 == 0, 11);
    const int32_t count = s->SlideCount();
    const double duration = s->Duration();
    TSlideTiming t;
    std::u16string app;
    for (int32_t i = -2; i < std::min(count, kQueriedSlides) + 2; ++i) {
      s->GetSlideTiming(i, t);
      double pause = 0, time = 0;
      float smoothline = 0;
      s->GetEffectTime(i);
      s->GetEndAction(i, pause);
      s->GetRunApp(i, app);
      s->GetSlideEffect(i, time, smoothline);
      // A time inside a slide finds a slide holding it, and no earlier one.
      if (i < 0 || i >= count || !(duration > 0)) continue;
      const double at = t.Begin + (t.End - t.Begin) / 2;
      if (!(at > 0)) continue;
      const int32_t found = s->SlideIndexAtTime(at);
      FuzzCheck(found >= 0 && found <= i, "FuzzKavSource", "slide at a time inside slide i is after i");
      s->GetSlideTiming(found, t);
      FuzzCheck(t.Begin <= at && at <= t.End, "FuzzKavSource", "slide at a time does not hold it");
      if (found > 0) {
        s->GetSlideTiming(found - 1, t);
        FuzzCheck(t.End < at, "FuzzKavSource", "an earlier slide holds the time");
      }
    }
    for (double at : {-1.0, 0.0, 0.5, duration / 3, duration, duration * 2.5, 1e15, double(NAN), double(INFINITY)})
      s->SlideIndexAtTime(at);
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace kav
