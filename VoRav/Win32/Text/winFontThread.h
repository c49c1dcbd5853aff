// The font thread: enumerates the installed font families in the
// background, publishes them as a sorted list, then lays a sample out once
// per font so the font substitution caches are warm.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxMonitors.h"
#include "VoRav/vxStrings.h"

namespace kav {

class TFontInfo : public TRefObject {
 public:
  std::u16string FaceName;
  bool Scalable = false;
  bool FixedPitch = false;
};

class TFontThread : public TActiveMonitor {
 public:
  TFontThread();
  // The face names, sorted without regard to case, each with its TFontInfo
  // as object; read it only while holding the monitor (Enter / Leave).
  // Empty until the enumeration is published.
  TStringList* FontList() noexcept { return list_.get(); }
  // Requests the end, then waits until the worker has returned.
  virtual void TerminateAndWait();

 protected:
  void Dispose() override;
  // Replaces the published list by `fonts` (under the monitor).
  void SetFontList(TStringList* fonts);

 private:
  Ref<TStringList> list_;
};

class TWinFontThread : public TFontThread {
 public:
  // Starts the worker at once.
  TWinFontThread();

 private:
  void LoadFonts(void* param);
};

using TCreateFontThreadProc = Ref<TFontThread> (*)();
// The hook that makes the font thread (a TWinFontThread by default).
Ref<TFontThread> CreateFontThread();
void SetCreateFontThreadHook(TCreateFontThreadProc proc);

// The size in points at which `font`'s face is `pixels` high; 0 when the
// face measures no height or `pixels` is not above 0.
float SizeForPixelHeight(const TFontDesc& font, int32_t pixels);

}  // namespace kav
