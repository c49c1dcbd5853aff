// Theme services over the visual-styles binding.
#include "VoRav/Composite/winThemes2.h"

#include <iterator>

#include "VoRav/Application2/vxApplication.h"
#include "VoRav/Application2/winHooks.h"
#include "VoRav/Application2/winWndAPI.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr uint32_t kThemeChanged = 794;  // WM_THEMECHANGED

const char16_t* const kClassNames[teElementCount] = {
    u"button", u"clock", u"combobox", u"edit", u"explorerbar", u"header", u"listview", u"menu",
    u"page", u"progress", u"rebar", u"scrollbar", u"spin", u"startpanel", u"status", u"tab",
    u"taskband", u"taskbar", u"toolbar", u"tooltip", u"trackbar", u"traynotify", u"treeview", u"window"};

// One group of element codes: first and last code, part, and the code that
// counts as state 1.
struct TGroup {
  int32_t first, last, part, base;
};

constexpr TGroup kButtonGroups[] = {{2, 7, 1, 2}, {8, 15, 2, 8}, {16, 27, 3, 16}, {28, 29, 4, 28}, {30, 30, 5, 30}};
constexpr TGroup kComboGroups[] = {{2, 5, 1, 2}};
constexpr TGroup kEditGroups[] = {{2, 8, 1, 2}, {9, 9, 2, 9}};
constexpr TGroup kListViewGroups[] = {{2, 6, 1, 2}, {7, 7, 2, 7}, {8, 8, 3, 8}, {9, 9, 4, 9}, {10, 10, 5, 10}};
constexpr TGroup kScrollGroups[] = {{2, 17, 1, 2},   {18, 22, 2, 18}, {23, 27, 3, 23}, {28, 32, 4, 28},
                                    {33, 37, 5, 33}, {38, 42, 6, 38}, {43, 47, 7, 43}, {48, 52, 8, 48},
                                    {53, 57, 9, 53}, {58, 59, 10, 58}, {60, 63, 1, 44}};
constexpr TGroup kSpinGroups[] = {{2, 5, 1, 2}, {6, 9, 2, 6}, {10, 13, 3, 10}, {14, 17, 4, 14}};
constexpr TGroup kTabGroups[] = {{2, 6, 1, 2},    {7, 11, 2, 7},   {12, 16, 3, 12}, {17, 21, 4, 17},
                                 {22, 26, 5, 22}, {27, 31, 6, 27}, {32, 36, 7, 32}, {37, 41, 8, 37},
                                 {42, 42, 9, 42}, {43, 43, 10, 43}};
constexpr TGroup kToolbarGroups[] = {{2, 7, 1, 2},    {8, 13, 2, 8},   {14, 19, 3, 14},
                                     {20, 25, 4, 20}, {26, 31, 5, 26}, {32, 37, 6, 32}};

template <size_t N>
bool FindGroup(const TGroup (&groups)[N], int32_t code, TThemedElementDetails& d) {
  for (const TGroup& g : groups)
    if (code >= g.first && code <= g.last) {
      d.Part = g.part;
      d.State = code - g.base + 1;
      return true;
    }
  return false;
}

TThemeServices* g_services = nullptr;

template <class F>
F Entry(TUxEntry e) {
  return reinterpret_cast<F>(UxEntry(e));
}

}  // namespace

const char16_t* ThemeClassName(int32_t element) {
  return element >= 0 && element < teElementCount ? kClassNames[element] : u"";
}

TThemedElementDetails ThemeElementDetails(int32_t element, int32_t code) {
  TThemedElementDetails d{element, 0, code + 1};
  bool found = false;
  switch (element) {
    case teButton: found = FindGroup(kButtonGroups, code, d); break;
    case teComboBox: found = FindGroup(kComboGroups, code, d); break;
    case teEdit: found = FindGroup(kEditGroups, code, d); break;
    case teListView: found = FindGroup(kListViewGroups, code, d); break;
    case teScrollBar: found = FindGroup(kScrollGroups, code, d); break;
    case teSpin: found = FindGroup(kSpinGroups, code, d); break;
    case teTab: found = FindGroup(kTabGroups, code, d); break;
    case teToolBar: found = FindGroup(kToolbarGroups, code, d); break;
    default: break;
  }
  if (!found) d.Part = 0, d.State = code + 1;
  return d;
}

TThemeServices::TThemeServices() {
  // Checked before the binding is entered, so that a failed creation leaves
  // no use of the library behind.
  KAV_ASSERT(Application() != nullptr);
  const TUxThemeLibrary& lib = UxThemeLibrary();
  // The common controls' version comes from the library description: there
  // is no "comctl32.dll" file to read it from.
  const uint32_t version = lib.CommonControlsVersion ? lib.CommonControlsVersion() : 0;
  comctl6_ = version >= 0x60000;
  if (comctl6_) uxtheme_bound_ = LoadUxTheme();
  const uint32_t ids[] = {kThemeChanged};
  app_key_ = Application();
  AddAppMessageHandler(app_key_, ids, TMessageHookHandler::Bind<&TThemeServices::ThemeChangedMessage>(this));
}

TThemeServices::~TThemeServices() {
  const uint32_t ids[] = {kThemeChanged};
  RemoveAppMessageHandler(app_key_, ids, TMessageHookHandler::Bind<&TThemeServices::ThemeChangedMessage>(this));
  CloseThemes();
  // Only a binding this object entered is left.
  if (comctl6_) FreeUxTheme();
}

void TThemeServices::CloseThemes() {
  // Without the entry the handles are dropped, not closed through nil.
  auto close = Entry<uxtheme::PFN_CloseThemeData>(uxCloseThemeData);
  for (uxtheme::HTHEME& h : themes_) {
    if (h != 0 && close) close(h);
    h = 0;
  }
}

bool TThemeServices::ThemesEnabled() const { return comctl6_ && uxtheme_bound_ && UxThemeLoaded(); }

uxtheme::HTHEME TThemeServices::GetTheme(int32_t element) {
  if (element < 0 || element >= teElementCount) return 0;
  // A handle opened while themes were on is not handed out once they are off.
  if (!ThemesEnabled()) return 0;
  if (themes_[element] == 0) {
    auto open = Entry<uxtheme::PFN_OpenThemeData>(uxOpenThemeData);
    if (open) themes_[element] = open(0, kClassNames[element]);
  }
  return themes_[element];
}

void TThemeServices::ThemeChangedMessage(win::HWND /*window*/, TMessageRecord& /*msg*/, bool& /*handled*/) {
  // Handles of the old theme are stale: they are closed and opened again on
  // their next use.
  CloseThemes();
  if (OnThemeChange) OnThemeChange(this);
}

TThemeServices* ThemeServices() {
  if (!g_services) g_services = new TThemeServices;
  return g_services;
}

void FinalizeThemeServices() {
  delete g_services;
  g_services = nullptr;
}

// Each wrapper checks its entry: a library without it answers a failure
// instead of a call through a nil pointer.
namespace {
uxtheme::HTHEME HandleOf(const TThemedElementDetails& d) { return ThemeServices()->GetTheme(d.Element); }
}  // namespace

uxtheme::HRESULT ThemeDrawBackground(const TThemedElementDetails& details, uxtheme::HDC dc, const TRect& rect,
                                     const TRect* clip) {
  const uxtheme::HTHEME h = HandleOf(details);
  auto draw = Entry<uxtheme::PFN_DrawThemeBackground>(uxDrawThemeBackground);
  if (!h || !draw) return uxtheme::E_FAIL;
  return draw(h, dc, details.Part, details.State, &rect, clip);
}

uxtheme::HRESULT ThemeDrawBackgroundNoClip(const TThemedElementDetails& details, uxtheme::HDC dc, const TRect& rect) {
  return ThemeDrawBackground(details, dc, rect, nullptr);
}

uxtheme::HRESULT ThemeCallEntry(const TThemedElementDetails& details, uxtheme::HDC dc, const TRect& bounds,
                                TRect& content) {
  const uxtheme::HTHEME h = HandleOf(details);
  auto get = Entry<uxtheme::PFN_GetThemeBackgroundContentRect>(uxGetThemeBackgroundContentRect);
  if (!h || !get) return uxtheme::E_FAIL;
  return get(h, dc, details.Part, details.State, &bounds, &content);
}

uxtheme::HRESULT ThemeGetPartSize(const TThemedElementDetails& details, uxtheme::HDC dc, const TRect* rect,
                                  int32_t kind, TSize& size) {
  const uxtheme::HTHEME h = HandleOf(details);
  auto get = Entry<uxtheme::PFN_GetThemePartSize>(uxGetThemePartSize);
  if (!h || !get) return uxtheme::E_FAIL;
  return get(h, dc, details.Part, details.State, rect, kind, &size);
}

bool ThemeIsPartDefined(const TThemedElementDetails& details) {
  const uxtheme::HTHEME h = HandleOf(details);
  auto defined = Entry<uxtheme::PFN_IsThemePartDefined>(uxIsThemePartDefined);
  return h && defined && defined(h, details.Part, details.State) != 0;
}

bool ThemeGetInt(const TThemedElementDetails& details, int32_t property, int32_t& value) {
  const uxtheme::HTHEME h = HandleOf(details);
  auto get = Entry<uxtheme::PFN_GetThemeInt>(uxGetThemeInt);
  return h && get && get(h, details.Part, details.State, property, &value) == uxtheme::S_OK;
}

}  // namespace kav
