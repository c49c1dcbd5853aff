#include "VoRav/Graphics/JpegColorSpace/lcms2Dll.h"

#include <mutex>

#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

constexpr char16_t kSystemLibrary[] = u"liblcms2.so.2";

struct TDllState {
  std::mutex lock;
  Ref<TLcmsDll> dll;
  std::u16string name = kSystemLibrary;
};

TDllState& DllState() {
  static TDllState state;
  return state;
}

template <class F>
bool Bind(TLibHandle module, F& slot, const char* name) {
  slot = reinterpret_cast<F>(GetProcAddressEx(module, name));
  return slot != nullptr;
}

}  // namespace

TLcmsDll::TLcmsDll(const std::u16string& name) {
  module_ = SafeLoadLibrary(name);
  if (!module_) {
    DebugOutput("Colour library not found: " + UTF8Encode(name) + "; pictures are shown unconverted");
    return;
  }
  path_ = name;
  const bool all = Bind(module_, cmsGetColorSpace, "cmsGetColorSpace") &&
                   Bind(module_, cmsGetDeviceClass, "cmsGetDeviceClass") &&
                   Bind(module_, cmsGetProfileInfo, "cmsGetProfileInfo") &&
                   Bind(module_, cmsCloseProfile, "cmsCloseProfile") &&
                   Bind(module_, cmsOpenProfileFromMem, "cmsOpenProfileFromMem") &&
                   Bind(module_, cmsSetAdaptationState, "cmsSetAdaptationState") &&
                   Bind(module_, cmsCreateTransform, "cmsCreateTransform") &&
                   Bind(module_, cmsDoTransform, "cmsDoTransform") &&
                   Bind(module_, cmsDeleteTransform, "cmsDeleteTransform");
  if (!all) {
    DebugOutput("Colour library incomplete: " + UTF8Encode(name) + "; pictures are shown unconverted");
    Unbind();
    return;
  }
  cmsSetAdaptationState(0.0);
}

void TLcmsDll::Unbind() {
  cmsGetColorSpace = nullptr;
  cmsGetDeviceClass = nullptr;
  cmsGetProfileInfo = nullptr;
  cmsCloseProfile = nullptr;
  cmsOpenProfileFromMem = nullptr;
  cmsSetAdaptationState = nullptr;
  cmsCreateTransform = nullptr;
  cmsDoTransform = nullptr;
  cmsDeleteTransform = nullptr;
  FreeLibraryHandle(module_);
  module_ = nullptr;
  path_.clear();
}

void TLcmsDll::Dispose() {
  Unbind();
  TRefObject::Dispose();
}

Ref<TLcmsDll> GetLcmsDll(bool reload) {
  TDllState& s = DllState();
  Ref<TLcmsDll> old;  // released after the lock is left
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.dll && (s.dll->Loaded() || !reload)) return s.dll;
  old = std::move(s.dll);
  s.dll = MakeRef<TLcmsDll>(s.name);
  return s.dll;
}

void SetLcmsLibraryPath(const std::u16string& path) {
  DebugOutput("Colour library from the show ignored (" + UTF8Encode(path) + "); the system's " +
              UTF8Encode(kSystemLibrary) + " is used");
}

void SetLcmsLibraryNameForTests(const std::u16string& name) {
  TDllState& s = DllState();
  Ref<TLcmsDll> old;
  std::lock_guard<std::mutex> guard(s.lock);
  s.name = name.empty() ? std::u16string(kSystemLibrary) : name;
  old = std::move(s.dll);
}

}  // namespace kav
