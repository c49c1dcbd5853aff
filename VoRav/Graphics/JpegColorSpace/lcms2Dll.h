// The Little CMS 2 binding: the system's liblcms2 loaded at run time and its
// nine entry points bound by name. When the library or any entry point is
// missing nothing is bound (Loaded() is false) and pictures pass unchanged.
//
// The types come from Little CMS's own header; the library is never linked.
#pragma once

#include <lcms2.h>

#include <string>

#include "VoRav/SysObj2.h"
#include "VoRav/Win32/winAPI0.h"

namespace kav {

class TLcmsDll : public TRefObject {
 public:
  // Loads the library (a plain system name or an absolute path) and binds
  // the entry points. Also sets the library's adaptation state to 0 once for
  // the whole run (the conversions never use another).
  explicit TLcmsDll(const std::u16string& name);

  // The library that was loaded; empty when none is.
  const std::u16string& Path() const noexcept { return path_; }
  TLibHandle Module() const noexcept { return module_; }
  bool Loaded() const noexcept { return module_ != nullptr; }

  // Non-null exactly when Loaded().
  decltype(&::cmsGetColorSpace) cmsGetColorSpace = nullptr;
  decltype(&::cmsGetDeviceClass) cmsGetDeviceClass = nullptr;
  decltype(&::cmsGetProfileInfo) cmsGetProfileInfo = nullptr;
  decltype(&::cmsCloseProfile) cmsCloseProfile = nullptr;
  decltype(&::cmsOpenProfileFromMem) cmsOpenProfileFromMem = nullptr;
  decltype(&::cmsSetAdaptationState) cmsSetAdaptationState = nullptr;
  decltype(&::cmsCreateTransform) cmsCreateTransform = nullptr;
  decltype(&::cmsDoTransform) cmsDoTransform = nullptr;
  decltype(&::cmsDeleteTransform) cmsDeleteTransform = nullptr;

 protected:
  void Dispose() override;

 private:
  void Unbind();
  std::u16string path_;
  TLibHandle module_ = nullptr;
};

// The shared binding, made on first use; a new reference. With `reload`, a
// binding whose library is not loaded is dropped and made again. Any thread.
Ref<TLcmsDll> GetLcmsDll(bool reload = false);

// Start-up may name a copy of the colour library taken out of a show. Such a
// library is never loaded: the call only notes on the debug output that the
// show's copy is ignored and the system's library is used.
void SetLcmsLibraryPath(const std::u16string& path);

// For tests only: loads `name` (an absolute path or a plain system name)
// instead of the system library from now on; empty restores the system
// library. Drops the shared binding so the next GetLcmsDll loads afresh.
void SetLcmsLibraryNameForTests(const std::u16string& name);

}  // namespace kav
