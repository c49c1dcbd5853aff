#include "KavLib2/KavClasses/KavShowColor.h"

#include <atomic>
#include <mutex>

#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavViewer/KavPackedSource.h"
#include "VoRav/Graphics/JpegColorSpace/lcms2Dll.h"
#include "VoRav/Graphics/JpegColorSpace/vxScreenProfile.h"
#include "VoRav/Graphics/JpegColorSpace/vxViewerColorTransform.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxLog.h"

namespace kav {

namespace {

struct TColorOptions {
  std::mutex lock;
  bool disabled = false;
  Ref<TColorProfile> forced;
  std::u16string auto_name;
  TColorLibraryHook hook = &LoadLcms2FromShow;
};

TColorOptions& Options() {
  static TColorOptions* options = new TColorOptions;
  return *options;
}

std::atomic<bool> g_applied{false};

bool TablesAvailable() {
  if (g_applied.load()) return false;
  Ref<TKavShowLocator> current = CurrentShowLocator();
  return current && current->IsPacked();
}

Ref<TBitmap> LoadTable(const std::u16string& file_name) {
  Ref<TKavShowLocator> current = CurrentShowLocator();
  if (!current) return nullptr;
  try {
    Ref<TStream> stream = current->Accessor()->OpenFile(file_name);
    if (!stream) return nullptr;
    Ref<TImage> image = LoadImage(stream.get(), u".VXGFX", false);
    return image ? image->GetBitmap() : nullptr;
  } catch (const Exception&) {
    return nullptr;
  }
}

// The profile a show's value names; nil when none can be made.
Ref<TColorProfile> NamedProfile(TKavShowLocator* locator, const std::u16string& value) {
  for (const char16_t* name : {u"sRGB", u"AdobeRGB", u"DuvazURI"})
    if (CompareWideStr(value, name, true) == 0) return Ref<TColorProfile>(GetStandardColorProfile(name));
  if (value.empty()) return nullptr;
  try {
    Ref<TStream> stream = locator->Accessor()->OpenFile(value);
    std::vector<uint8_t> bytes;
    if (!stream || !ReadProfileStream(stream.get(), bytes)) return nullptr;
    return ColorProfileFromBytes(bytes, value);
  } catch (const Exception&) {
    return nullptr;
  }
}

}  // namespace

bool ColorManagementApplied() { return g_applied.load(); }

void SetColorManagementDisabled(bool disabled) {
  std::lock_guard<std::mutex> hold(Options().lock);
  Options().disabled = disabled;
}

void SetForcedColorProfile(Ref<TColorProfile> profile) {
  std::lock_guard<std::mutex> hold(Options().lock);
  Options().forced = std::move(profile);
}

void SetAutoProfileName(const std::u16string& name) {
  std::lock_guard<std::mutex> hold(Options().lock);
  Options().auto_name = name;
}

void SetColorLibraryHook(TColorLibraryHook hook) {
  std::lock_guard<std::mutex> hold(Options().lock);
  Options().hook = hook;
}

bool LoadLcms2FromShow(TKavShowLocator* locator) {
  if (locator) {
    int64_t position = 0, size = 0;
    int32_t method = 0;
    auto* packed = dynamic_cast<TPackedFileSource*>(locator->Accessor()->Source());
    if (packed && packed->Unpack()->GetEntry(u"lcms2.dll", position, method, size))
      LogLine(u"The show carries lcms2.dll; that copy is ignored and the system's Little CMS 2 is used");
  }
  return GetLcmsDll()->Loaded();
}

void ApplyColorManagement(TKavShowLocator* locator) {
  g_applied = false;
  ColorManagementOff = 0;
  const std::u16string value = IniReadString(locator->Ini(), u"Main", u"ColorManagement", u"");
  bool disabled;
  Ref<TColorProfile> forced;
  std::u16string auto_name;
  TColorLibraryHook hook;
  {
    std::lock_guard<std::mutex> hold(Options().lock);
    disabled = Options().disabled;
    forced = Options().forced;
    auto_name = Options().auto_name;
    hook = Options().hook;
  }
  if (disabled || value.empty()) {
    ColorManagementOff = 1;
    return;
  }
  if (value == u"*" && !forced) {
    SetCurrentColorProfile(GetStandardColorProfile(u"DuvazURI"), false);
    return;
  }
  if (!hook || !hook(locator)) return;
  if (forced) {
    SetCurrentColorProfile(forced.get(), false);
  } else {
    Ref<TColorProfile> profile = NamedProfile(locator, value == u"?" ? auto_name : value);
    if (!profile) {
      LogLine(u"The show's colour profile \"" + value + u"\" could not be read; the display profile stays");
      return;
    }
    SetCurrentColorProfile(profile.release(), true);
  }
  g_applied = true;
}

void InstallShowColorHooks() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetViewerTableSource(&TablesAvailable, &LoadTable);
    InstallViewerColorTransform();
  });
}

}  // namespace kav
