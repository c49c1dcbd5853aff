// The entries of the visual-styles module: the handle registry, the entry
// table by name, part sizes and rectangles, and drawing onto a device
// context through a bitmap of the visible area.
#include "platform/theme/UxTheme.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "platform/theme/UxThemePaint.h"

namespace kav::uxtheme {

using namespace detail;

namespace {

// Sixteen times the standard resolution at most.
constexpr int32_t kMaxDpi = 96 * 16;

struct THandle {
  int32_t cls = -1;
  uint32_t dpi = 96;
};

struct TRegistry {
  std::mutex lock;
  std::map<HTHEME, THandle> open;
  HTHEME last = 0x10000;  // handles are never reused
};

TRegistry& Registry() {
  static TRegistry* r = new TRegistry;  // lives to the end of the process
  return *r;
}

bool Find(HTHEME theme, THandle& out) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.open.find(theme);
  if (it == r.open.end()) return false;
  out = it->second;
  return true;
}

// The part's state with 0 standing for the first; false when the class does
// not draw that part in that state.
bool CheckState(const THandle& h, int32_t part, int32_t& state) {
  const int32_t n = StateCount(h.cls, part);
  if (n == 0) return false;
  if (state == 0) state = 1;
  return state >= 1 && state <= n;
}

float Scale(const THandle& h) { return float(h.dpi) / 96.0f; }

int32_t Scaled(float v, float scale) {
  if (v <= 0) return 0;
  return std::max(1, int32_t(std::nearbyint(v * scale)));
}

TRect Intersect(const TRect& a, const TRect& b) {
  return TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
}

HTHEME Open(const char16_t* class_list, uint32_t dpi) {
  if (!class_list || dpi == 0 || dpi > uint32_t(kMaxDpi)) return 0;
  // A list of names separated by semicolons: the first the style knows.
  std::u16string_view list(class_list);
  int32_t cls = -1;
  while (cls < 0 && !list.empty()) {
    const size_t end = std::min(list.find(u';'), list.size());
    cls = ClassFromName(list.substr(0, end));
    list = end < list.size() ? list.substr(end + 1) : std::u16string_view();
  }
  if (cls < 0) return 0;
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  const HTHEME h = ++r.last;
  r.open[h] = THandle{cls, dpi};
  return h;
}

}  // namespace

bool StyleEnabled() {
  const char* v = std::getenv(kStyleVariable);
  if (!v) return true;
  const std::string s(v);
  return !(s == "0" || s == "off" || s == "OFF" || s == "classic");
}

uint32_t CommonControlsVersion() { return 0x60000; }

int32_t OpenThemeCount() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  return int32_t(r.open.size());
}

HTHEME OpenThemeData(win::HWND /*window*/, const char16_t* class_list) {
  int32_t dx = 96, dy = 96;
  win::GetScreenDpi(dx, dy);
  return Open(class_list, uint32_t(std::clamp(dy, 1, kMaxDpi)));
}

HTHEME OpenThemeDataForDpi(win::HWND /*window*/, const char16_t* class_list, uint32_t dpi) {
  return Open(class_list, dpi);
}

HRESULT CloseThemeData(HTHEME theme) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  return r.open.erase(theme) ? S_OK : E_HANDLE;
}

HRESULT DrawThemeBackground(HTHEME theme, HDC dc, int32_t part, int32_t state, const TRect* rect,
                            const TRect* clip) {
  THandle h;
  if (!Find(theme, h)) return E_HANDLE;
  if (!dc || !rect) return E_POINTER;
  if (!CheckState(h, part, state)) return E_INVALIDARG;
  const int32_t bpp = dc->BytesPerPixel();
  if (bpp != 3 && bpp != 4) return E_INVALIDARG;
  if (rect->IsEmpty()) return S_OK;
  // Only the visible area is painted: the rectangle within the clip and the
  // bitmap, so a huge rectangle costs no more than the target.
  TRect vis = Intersect(*rect, TRect{0, 0, dc->Width(), dc->Height()});
  if (clip) vis = Intersect(vis, *clip);
  if (vis.IsEmpty()) return S_OK;
  Ref<TRasterHelper> r = MakeRef<TRasterHelper>();
  r->BeginPaint(vis.Width(), vis.Height(), 0);
  const float w = float(int64_t(rect->Right) - rect->Left), hgt = float(int64_t(rect->Bottom) - rect->Top);
  PaintPart(*r, h.cls, part, state, w, hgt, Scale(h), float(int64_t(rect->Left) - vis.Left),
            float(int64_t(rect->Top) - vis.Top));
  Ref<TDirectBitmap> picture = r->EndPaint();
  Ref<TSysDirectWrapper> source = MakeRef<TSysDirectWrapper>(picture.get(), false);
  if (bpp == 4)
    AlphaCompositeRect32Int(dc, source.get(), vis, TPoint{0, 0});
  else
    AlphaBlendRect32On24(dc, source.get(), vis, TPoint{0, 0});
  return S_OK;
}

HRESULT GetThemeBackgroundContentRect(HTHEME theme, HDC /*dc*/, int32_t part, int32_t state, const TRect* bounds,
                                      TRect* content) {
  THandle h;
  if (!Find(theme, h)) return E_HANDLE;
  if (!bounds || !content) return E_POINTER;
  if (!CheckState(h, part, state)) return E_INVALIDARG;
  const int32_t m = Scaled(ContentMargin(h.cls, part), Scale(h));
  *content = TRect{bounds->Left + m, bounds->Top + m, bounds->Right - m, bounds->Bottom - m};
  // A rectangle too small for the margins gives an empty one at its centre.
  if (content->Right < content->Left) content->Left = content->Right = bounds->Left + bounds->Width() / 2;
  if (content->Bottom < content->Top) content->Top = content->Bottom = bounds->Top + bounds->Height() / 2;
  return S_OK;
}

HRESULT GetThemeBackgroundExtent(HTHEME theme, HDC /*dc*/, int32_t part, int32_t state, const TRect* content,
                                 TRect* extent) {
  THandle h;
  if (!Find(theme, h)) return E_HANDLE;
  if (!content || !extent) return E_POINTER;
  if (!CheckState(h, part, state)) return E_INVALIDARG;
  const int32_t m = Scaled(ContentMargin(h.cls, part), Scale(h));
  *extent = TRect{content->Left - m, content->Top - m, content->Right + m, content->Bottom + m};
  return S_OK;
}

HRESULT GetThemePartSize(HTHEME theme, HDC /*dc*/, int32_t part, int32_t state, const TRect* rect, int32_t kind,
                         TSize* size) {
  THandle h;
  if (!Find(theme, h)) return E_HANDLE;
  if (!size) return E_POINTER;
  if (!CheckState(h, part, state) || kind < TS_MIN || kind > TS_DRAW) return E_INVALIDARG;
  const float s = Scale(h);
  const TSize design = DesignSize(h.cls, part);
  if (kind == TS_DRAW && rect) {
    // The part stretches to the rectangle; glyph parts keep their size.
    *size = TSize{rect->Width(), rect->Height()};
    return S_OK;
  }
  if (kind == TS_MIN) {
    const int32_t m = 2 * Scaled(ContentMargin(h.cls, part), s);
    *size = TSize{std::min(Scaled(float(design.cx), s), std::max(m, 1)),
                  std::min(Scaled(float(design.cy), s), std::max(m, 1))};
    return S_OK;
  }
  *size = TSize{Scaled(float(design.cx), s), Scaled(float(design.cy), s)};
  return S_OK;
}

BOOL IsThemePartDefined(HTHEME theme, int32_t part, int32_t state) {
  THandle h;
  return Find(theme, h) && CheckState(h, part, state);
}

BOOL IsThemeBackgroundPartiallyTransparent(HTHEME theme, int32_t part, int32_t state) {
  THandle h;
  return Find(theme, h) && CheckState(h, part, state) && PartiallyTransparent(h.cls, part);
}

HRESULT GetThemeColor(HTHEME theme, int32_t part, int32_t state, int32_t property, uint32_t* color) {
  THandle h;
  if (!Find(theme, h)) return E_HANDLE;
  if (!color) return E_POINTER;
  if (!CheckState(h, part, state)) return E_INVALIDARG;
  TColor32 c = 0;
  if (!PartColor(h.cls, part, state, property, c)) return E_INVALIDARG;
  *color = uint32_t(ColorRed(c)) | uint32_t(ColorGreen(c)) << 8 | uint32_t(ColorBlue(c)) << 16;
  return S_OK;
}

HRESULT GetThemeInt(HTHEME theme, int32_t part, int32_t state, int32_t property, int32_t* value) {
  THandle h;
  if (!Find(theme, h)) return E_HANDLE;
  if (!value) return E_POINTER;
  if (!CheckState(h, part, state)) return E_INVALIDARG;
  if (h.cls == kProgress && (part == 3 || part == 4)) {
    if (property == TMT_PROGRESSCHUNKSIZE) return *value = Scaled(6, Scale(h)), S_OK;
    if (property == TMT_PROGRESSSPACESIZE) return *value = Scaled(2, Scale(h)), S_OK;
  }
  return E_INVALIDARG;
}

uint32_t GetThemeSysColor(HTHEME /*theme*/, int32_t index) { return win::GetSysColor(index); }

BOOL IsThemeActive() { return 1; }

BOOL IsAppThemed() { return StyleEnabled() ? 1 : 0; }

void* GetEntry(std::string_view name) {
  struct TEntry {
    const char* name;
    void* entry;
  };
  static const TEntry kEntries[] = {
      {"OpenThemeData", reinterpret_cast<void*>(&OpenThemeData)},
      {"OpenThemeDataForDpi", reinterpret_cast<void*>(&OpenThemeDataForDpi)},
      {"CloseThemeData", reinterpret_cast<void*>(&CloseThemeData)},
      {"DrawThemeBackground", reinterpret_cast<void*>(&DrawThemeBackground)},
      {"GetThemeBackgroundContentRect", reinterpret_cast<void*>(&GetThemeBackgroundContentRect)},
      {"GetThemeBackgroundExtent", reinterpret_cast<void*>(&GetThemeBackgroundExtent)},
      {"GetThemePartSize", reinterpret_cast<void*>(&GetThemePartSize)},
      {"IsThemePartDefined", reinterpret_cast<void*>(&IsThemePartDefined)},
      {"IsThemeBackgroundPartiallyTransparent", reinterpret_cast<void*>(&IsThemeBackgroundPartiallyTransparent)},
      {"GetThemeColor", reinterpret_cast<void*>(&GetThemeColor)},
      {"GetThemeInt", reinterpret_cast<void*>(&GetThemeInt)},
      {"GetThemeSysColor", reinterpret_cast<void*>(&GetThemeSysColor)},
      {"IsThemeActive", reinterpret_cast<void*>(&IsThemeActive)},
      {"IsAppThemed", reinterpret_cast<void*>(&IsAppThemed)},
  };
  for (const TEntry& e : kEntries)
    if (name == e.name) return e.entry;
  return nullptr;
}

}  // namespace kav::uxtheme
