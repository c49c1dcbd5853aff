// The visual-styles module: the entry points of "uxtheme.dll" offered by name
// and a style of the program's own drawn with the vector rasterizer.
//
// The toolkit binds the module the way it would bind the system library:
// it looks each entry up by name (GetEntry, for GetProcAddress) and calls
// through the pointer; names the module does not offer answer null. A device
// context is the bitmap drawn into ("A8R8G8B8" or "R8G8B8" rows); parts are
// composited onto it, straight alpha, inside the rectangle and the clip.
//
// Theme handles are numbers in a registry that are never reused: a closed or
// unknown handle is refused (E_HANDLE, or 0 / false), never followed.
// Sizes scale with the resolution the handle was opened for (the screen's
// for OpenThemeData), so the style draws sharply at any scale.
//
// The style is on unless the environment variable KAV_VISUAL_STYLES is "0",
// "off" or "classic" (IsAppThemed then answers false and the toolkit draws
// its classic look). Thread-safe.
#pragma once

#include <cstdint>
#include <string_view>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/wpTypes.h"
#include "platform/window/WinApi.h"

namespace kav::uxtheme {

using HTHEME = uintptr_t;
using HDC = TSysBitmap*;
using HRESULT = int32_t;
using BOOL = int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_HANDLE = static_cast<HRESULT>(0x80070006u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

// Size kinds of GetThemePartSize.
enum : int32_t { TS_MIN = 0, TS_TRUE = 1, TS_DRAW = 2 };
// Properties answered by GetThemeColor and GetThemeInt.
enum : int32_t {
  TMT_BORDERCOLOR = 3801,
  TMT_FILLCOLOR = 3802,
  TMT_TEXTCOLOR = 3803,
  TMT_PROGRESSCHUNKSIZE = 2411,
  TMT_PROGRESSSPACESIZE = 2412,
};

// The environment variable that turns the style off.
inline constexpr const char* kStyleVariable = "KAV_VISUAL_STYLES";

// Entry prototypes, by the name they are looked up with.
using PFN_OpenThemeData = HTHEME (*)(win::HWND window, const char16_t* class_list);
using PFN_OpenThemeDataForDpi = HTHEME (*)(win::HWND window, const char16_t* class_list, uint32_t dpi);
using PFN_CloseThemeData = HRESULT (*)(HTHEME theme);
using PFN_DrawThemeBackground = HRESULT (*)(HTHEME theme, HDC dc, int32_t part, int32_t state, const TRect* rect,
                                            const TRect* clip);
using PFN_GetThemeBackgroundContentRect = HRESULT (*)(HTHEME theme, HDC dc, int32_t part, int32_t state,
                                                      const TRect* bounds, TRect* content);
using PFN_GetThemeBackgroundExtent = HRESULT (*)(HTHEME theme, HDC dc, int32_t part, int32_t state,
                                                 const TRect* content, TRect* extent);
using PFN_GetThemePartSize = HRESULT (*)(HTHEME theme, HDC dc, int32_t part, int32_t state, const TRect* rect,
                                         int32_t kind, TSize* size);
using PFN_IsThemePartDefined = BOOL (*)(HTHEME theme, int32_t part, int32_t state);
using PFN_IsThemeBackgroundPartiallyTransparent = BOOL (*)(HTHEME theme, int32_t part, int32_t state);
using PFN_GetThemeColor = HRESULT (*)(HTHEME theme, int32_t part, int32_t state, int32_t property, uint32_t* color);
using PFN_GetThemeInt = HRESULT (*)(HTHEME theme, int32_t part, int32_t state, int32_t property, int32_t* value);
using PFN_GetThemeSysColor = uint32_t (*)(HTHEME theme, int32_t index);
using PFN_IsThemeActive = BOOL (*)();
using PFN_IsAppThemed = BOOL (*)();

// The entry of that name, or null for one the module does not offer.
void* GetEntry(std::string_view name);
// The version the common controls answer: 6.0 (major in the high 16 bits),
// since the toolkit's controls are the program's own.
uint32_t CommonControlsVersion();
// Whether the style is on (the environment variable above).
bool StyleEnabled();
// Theme handles open now (for tests).
int32_t OpenThemeCount();

// The entries, also callable directly.
HTHEME OpenThemeData(win::HWND window, const char16_t* class_list);
HTHEME OpenThemeDataForDpi(win::HWND window, const char16_t* class_list, uint32_t dpi);
HRESULT CloseThemeData(HTHEME theme);
HRESULT DrawThemeBackground(HTHEME theme, HDC dc, int32_t part, int32_t state, const TRect* rect, const TRect* clip);
HRESULT GetThemeBackgroundContentRect(HTHEME theme, HDC dc, int32_t part, int32_t state, const TRect* bounds,
                                      TRect* content);
HRESULT GetThemeBackgroundExtent(HTHEME theme, HDC dc, int32_t part, int32_t state, const TRect* content,
                                 TRect* extent);
HRESULT GetThemePartSize(HTHEME theme, HDC dc, int32_t part, int32_t state, const TRect* rect, int32_t kind,
                         TSize* size);
BOOL IsThemePartDefined(HTHEME theme, int32_t part, int32_t state);
BOOL IsThemeBackgroundPartiallyTransparent(HTHEME theme, int32_t part, int32_t state);
HRESULT GetThemeColor(HTHEME theme, int32_t part, int32_t state, int32_t property, uint32_t* color);
HRESULT GetThemeInt(HTHEME theme, int32_t part, int32_t state, int32_t property, int32_t* value);
uint32_t GetThemeSysColor(HTHEME theme, int32_t index);
BOOL IsThemeActive();
BOOL IsAppThemed();

}  // namespace kav::uxtheme
