#include "VoRav/Win32/Text/winFontThread.h"

#include <atomic>

#include "VoRav/Win32/Text/winFontUtils.h"
#include "VoRav/Win32/Text/winTextElement.h"
#include "platform/text/PlatformText.h"

namespace kav {
namespace {

void ReleaseInfo(void* object) {
  if (object) RefRelease(static_cast<TFontInfo*>(object));
}

std::atomic<TCreateFontThreadProc> g_hook{nullptr};

int32_t HeightAt(const TFontDesc& font, float size) {
  TFontDesc d = font;
  d.Size = size;
  return GetTextMetricsOf(CreateFontHandle(d).get()).Height;
}

}  // namespace

TFontThread::TFontThread() = default;

void TFontThread::Dispose() {
  if (list_) {
    for (int32_t i = 0; i < list_->Count(); ++i) ReleaseInfo(list_->GetObject(i));
    list_->Clear();
    list_ = nullptr;
  }
  TActiveMonitor::Dispose();
}

void TFontThread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

void TFontThread::SetFontList(TStringList* fonts) {
  Lock();
  if (!list_) {
    list_ = MakeRef<TStringList>();
    list_->SetIgnoreCase(true);
  }
  for (int32_t i = 0; i < list_->Count(); ++i) ReleaseInfo(list_->GetObject(i));
  list_->Clear();
  for (int32_t i = 0; i < fonts->Count(); ++i) {
    auto* info = static_cast<TFontInfo*>(fonts->GetObject(i));
    if (info) RefAddRef(info);
    list_->AddObject(fonts->GetString(i), info);
  }
  Leave();
}

TWinFontThread::TWinFontThread() {
  Run(TActiveProc::Bind<&TWinFontThread::LoadFonts>(this), nullptr, false);
}

void TWinFontThread::LoadFonts(void*) {
  Ref<TStringList> fonts = MakeRef<TStringList>();
  fonts->SetIgnoreCase(true);
  fonts->SetSorted(true);
  for (const ptext::TFontFamilyInfo& f : ptext::EnumFontFamilies()) {
    if (f.FaceName.empty() || f.FaceName[0] == u'@') continue;
    int32_t index;
    if (fonts->Find(f.FaceName, index)) continue;
    Ref<TFontInfo> info = MakeRef<TFontInfo>();
    info->FaceName = f.FaceName;
    info->Scalable = f.TrueType || !f.FixedPitch;
    info->FixedPitch = f.FixedPitch;
    fonts->AddObject(f.FaceName, info.get());
    RefAddRef(info.get());  // the list's reference
  }
  fonts->SetSorted(false);
  SetFontList(fonts.get());
  // Warm-up: one sample per font fills the substitution caches.
  for (int32_t i = 0; i < fonts->Count() && !TerminateRequested(); ++i) {
    TFontDesc d;
    FontDescSetAll(d, fonts->GetString(i), 10.0f, 0, TRGBTriple{255, 255, 255}, TRGBTriple{0, 0, 0}, true);
    d.Size = SizeForPixelHeight(d, 22);
    if (!(d.Size > 0)) continue;
    Ref<TWinTextElement> sample = MakeRef<TWinTextElement>(d, tdNone);
    sample->InsertText(0, u"Sample", 6, 0);
  }
  for (int32_t i = 0; i < fonts->Count(); ++i) ReleaseInfo(fonts->GetObject(i));
  fonts->Clear();
}

Ref<TFontThread> CreateFontThread() {
  TCreateFontThreadProc hook = g_hook.load();
  if (hook) return hook();
  return MakeRef<TWinFontThread>();
}

void SetCreateFontThreadHook(TCreateFontThreadProc proc) { g_hook = proc; }

float SizeForPixelHeight(const TFontDesc& font, int32_t pixels) {
  // A face that measures no height, or no pixels asked for, used to divide
  // by zero; it answers 0.
  if (pixels <= 0) return 0;
  int32_t h = HeightAt(font, font.Size);
  if (h == 0) h = HeightAt(font, font.Size);
  if (h == 0) return 0;
  float size = font.Size * float(pixels) / float(h);
  const int32_t h2 = HeightAt(font, size);
  if (pixels < h2) size += float(pixels - h2) / float(pixels);
  return size;
}

}  // namespace kav
