// The binding of the visual-styles library ("uxtheme.dll") by name: a use
// count, and one pointer per entry point, looked up when the library is
// loaded and cleared when the last user lets it go. A missing entry stays
// nil; the wrappers of winThemes2 check every pointer before calling it.
// The count and the pointers are guarded by one critical section.
#pragma once

#include <cstdint>

#include "platform/theme/UxTheme.h"

namespace kav {

// The entry points in binding order.
enum TUxEntry : int32_t {
  uxOpenThemeData,
  uxCloseThemeData,
  uxDrawThemeBackground,
  uxDrawThemeText,
  uxGetThemeBackgroundContentRect,
  uxGetThemeBackgroundExtent,
  uxGetThemePartSize,
  uxGetThemeTextExtent,
  uxGetThemeTextMetrics,
  uxGetThemeBackgroundRegion,
  uxHitTestThemeBackground,
  uxDrawThemeEdge,
  uxDrawThemeIcon,
  uxIsThemePartDefined,
  uxIsThemeBackgroundPartiallyTransparent,
  uxGetThemeColor,
  uxGetThemeMetric,
  uxGetThemeString,
  uxGetThemeBool,
  uxGetThemeInt,
  uxGetThemeEnumValue,
  uxGetThemePosition,
  uxGetThemeFont,
  uxGetThemeRect,
  uxGetThemeMargins,
  uxGetThemeIntList,
  uxGetThemePropertyOrigin,
  uxSetWindowTheme,
  uxGetThemeFilename,
  uxGetThemeSysColor,
  uxGetThemeSysColorBrush,
  uxGetThemeSysBool,
  uxGetThemeSysSize,
  uxGetThemeSysFont,
  uxGetThemeSysString,
  uxGetThemeSysInt,
  uxIsThemeActive,
  uxIsAppThemed,
  uxGetWindowTheme,
  uxEnableThemeDialogTexture,
  uxIsThemeDialogTextureEnabled,
  uxGetThemeAppProperties,
  uxSetThemeAppProperties,
  uxGetCurrentThemeName,
  uxGetThemeDocumentationProperty,
  uxDrawThemeParentBackground,
  uxEnableTheming,
  uxEntryCount,
};

// The entry names, in binding order.
extern const char* const kUxEntryNames[uxEntryCount];

// What the binding loads: the library, its entries by name and its release,
// and the version of the common controls. The default is the program's
// visual-styles module (platform/theme); tests put in their own.
struct TUxThemeLibrary {
  bool (*Load)();
  void* (*GetProc)(const char* name);
  void (*Free)();
  uint32_t (*CommonControlsVersion)();
};
// Installs a library description (nil: the default) and answers the one in
// force before. Only while the library is not loaded.
const TUxThemeLibrary* SetUxThemeLibrary(const TUxThemeLibrary* library);
const TUxThemeLibrary& UxThemeLibrary();

// Enters: raises the use count and loads the library when it is not loaded;
// answers whether it is loaded.
bool LoadUxTheme();
// Leaves: lowers the use count (never below 0) and frees the library and
// clears every pointer when it reaches 0.
void FreeUxTheme();
// The use count is positive and the application and the system theme are
// on (false, not a crash, when either entry is missing).
bool UxThemeLoaded();
int32_t UxThemeUseCount();
// Whether the library is loaded now.
bool UxThemeLibraryLoaded();
// The pointer of an entry now (nil when not loaded or missing).
void* UxEntry(TUxEntry entry);
// Module finalisation: leaves until the count is 0.
void FinalizeUxTheme();

}  // namespace kav
