// Theme services: one theme handle per element class, opened on first use
// while visual styles are on, the toolkit's element codes mapped to theme
// parts and states, and drawing wrappers that check the binding's entries
// before calling them.
#pragma once

#include <cstdint>

#include "VoRav/Composite/winUxTheme.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/wpTypes.h"

namespace kav {

struct TMessageRecord;

// Element classes (index into the services' handles).
enum TThemedElement : int32_t {
  teButton, teClock, teComboBox, teEdit, teExplorerBar, teHeader, teListView, teMenu, tePage, teProgress,
  teRebar, teScrollBar, teSpin, teStartPanel, teStatus, teTab, teTaskBand, teTaskBar, teToolBar, teToolTip,
  teTrackBar, teTrayNotify, teTreeview, teWindow, teElementCount,
};

// The theme class name of an element class ("" outside the table).
const char16_t* ThemeClassName(int32_t element);

struct TThemedElementDetails {
  int32_t Element = 0;
  int32_t Part = 0;
  int32_t State = 0;
  friend bool operator==(const TThemedElementDetails&, const TThemedElementDetails&) = default;
};

// An element code of a class to its part and state.
TThemedElementDetails ThemeElementDetails(int32_t element, int32_t code);

class TThemeServices {
 public:
  // Asserts that the application object exists; subscribes to its window's
  // WM_THEMECHANGED.
  TThemeServices();
  ~TThemeServices();
  TThemeServices(const TThemeServices&) = delete;
  TThemeServices& operator=(const TThemeServices&) = delete;

  bool ComCtl6() const { return comctl6_; }
  bool UxThemeBound() const { return uxtheme_bound_; }
  bool ThemesEnabled() const;
  // The handle of the class, opened on first use; 0 when themes are off or
  // the open failed (tried again on the next call).
  uxtheme::HTHEME GetTheme(int32_t element);
  // What the application window's theme change calls.
  TDelegate<void(TThemeServices* services)> OnThemeChange;
  // Closes every open handle (they are opened again on use).
  void CloseThemes();

 private:
  void ThemeChangedMessage(win::HWND window, TMessageRecord& msg, bool& handled);

  const void* app_key_ = nullptr;  // the application whose window's messages are hooked
  bool comctl6_ = false;
  bool uxtheme_bound_ = false;
  uxtheme::HTHEME themes_[teElementCount] = {};
};

// The single services object, made on first use.
TThemeServices* ThemeServices();
// Module finalisation: frees the services object.
void FinalizeThemeServices();

// Drawing through the handle of the details' class; E_FAIL when the class
// has no handle or the entry is missing.
uxtheme::HRESULT ThemeDrawBackground(const TThemedElementDetails& details, uxtheme::HDC dc, const TRect& rect,
                                     const TRect* clip);
uxtheme::HRESULT ThemeDrawBackgroundNoClip(const TThemedElementDetails& details, uxtheme::HDC dc, const TRect& rect);
uxtheme::HRESULT ThemeCallEntry(const TThemedElementDetails& details, uxtheme::HDC dc, const TRect& bounds,
                                TRect& content);
uxtheme::HRESULT ThemeGetPartSize(const TThemedElementDetails& details, uxtheme::HDC dc, const TRect* rect,
                                  int32_t kind, TSize& size);
// Whether the class's theme defines the part (false when it cannot be asked).
bool ThemeIsPartDefined(const TThemedElementDetails& details);
// An integer property of a part; false when it cannot be read.
bool ThemeGetInt(const TThemedElementDetails& details, int32_t property, int32_t& value);

}  // namespace kav
