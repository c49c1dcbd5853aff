// The visual-styles library binding.
#include "VoRav/Composite/winUxTheme.h"

#include <mutex>

namespace kav {

const char* const kUxEntryNames[uxEntryCount] = {
    "OpenThemeData", "CloseThemeData", "DrawThemeBackground", "DrawThemeText", "GetThemeBackgroundContentRect",
    "GetThemeBackgroundExtent", "GetThemePartSize", "GetThemeTextExtent", "GetThemeTextMetrics",
    "GetThemeBackgroundRegion", "HitTestThemeBackground", "DrawThemeEdge", "DrawThemeIcon", "IsThemePartDefined",
    "IsThemeBackgroundPartiallyTransparent", "GetThemeColor", "GetThemeMetric", "GetThemeString", "GetThemeBool",
    "GetThemeInt", "GetThemeEnumValue", "GetThemePosition", "GetThemeFont", "GetThemeRect", "GetThemeMargins",
    "GetThemeIntList", "GetThemePropertyOrigin", "SetWindowTheme", "GetThemeFilename", "GetThemeSysColor",
    "GetThemeSysColorBrush", "GetThemeSysBool", "GetThemeSysSize", "GetThemeSysFont", "GetThemeSysString",
    "GetThemeSysInt", "IsThemeActive", "IsAppThemed", "GetWindowTheme", "EnableThemeDialogTexture",
    "IsThemeDialogTextureEnabled", "GetThemeAppProperties", "SetThemeAppProperties", "GetCurrentThemeName",
    "GetThemeDocumentationProperty", "DrawThemeParentBackground", "EnableTheming"};

namespace {

// The program's own module stands for the system library: it is always there.
bool ModuleLoad() { return true; }
void* ModuleGetProc(const char* name) { return uxtheme::GetEntry(name ? name : ""); }
void ModuleFree() {}

const TUxThemeLibrary kModule = {&ModuleLoad, &ModuleGetProc, &ModuleFree, &uxtheme::CommonControlsVersion};

struct TBinding {
  std::recursive_mutex lock;
  const TUxThemeLibrary* library = &kModule;
  int32_t uses = 0;
  bool loaded = false;
  void* entries[uxEntryCount] = {};
};

TBinding& Binding() {
  static TBinding* b = new TBinding;  // used until the end of the process
  return *b;
}

}  // namespace

const TUxThemeLibrary* SetUxThemeLibrary(const TUxThemeLibrary* library) {
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> g(b.lock);
  const TUxThemeLibrary* old = b.library;
  if (!b.loaded) b.library = library ? library : &kModule;
  return old;
}

const TUxThemeLibrary& UxThemeLibrary() {
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> g(b.lock);
  return *b.library;
}

bool LoadUxTheme() {
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> g(b.lock);
  ++b.uses;
  if (!b.loaded && b.library->Load && b.library->Load()) {
    b.loaded = true;
    for (int32_t i = 0; i < uxEntryCount; ++i)
      b.entries[i] = b.library->GetProc ? b.library->GetProc(kUxEntryNames[i]) : nullptr;
  }
  return b.loaded;
}

void FreeUxTheme() {
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> g(b.lock);
  if (b.uses > 0) --b.uses;
  if (b.uses == 0 && b.loaded) {
    if (b.library->Free) b.library->Free();
    b.loaded = false;
    for (void*& e : b.entries) e = nullptr;
  }
}

bool UxThemeLoaded() {
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> g(b.lock);
  if (b.uses <= 0) return false;
  // A library without these entries counts as not themed rather than being
  // called through a nil pointer.
  auto app_themed = reinterpret_cast<uxtheme::PFN_IsAppThemed>(b.entries[uxIsAppThemed]);
  auto active = reinterpret_cast<uxtheme::PFN_IsThemeActive>(b.entries[uxIsThemeActive]);
  return app_themed && active && app_themed() != 0 && active() != 0;
}

int32_t UxThemeUseCount() {
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> g(b.lock);
  return b.uses;
}

bool UxThemeLibraryLoaded() {
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> g(b.lock);
  return b.loaded;
}

void* UxEntry(TUxEntry entry) {
  if (entry < 0 || entry >= uxEntryCount) return nullptr;
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> g(b.lock);
  return b.entries[entry];
}

void FinalizeUxTheme() {
  TBinding& b = Binding();
  std::lock_guard<std::recursive_mutex> g(b.lock);
  while (b.uses > 0) FreeUxTheme();
}

}  // namespace kav
