#include "KavLib2/NavPanel/KavNavBar.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysHSLAdjust.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpLoadCallBack.h"

namespace kav {

namespace {

bool SameText(std::u16string_view a, std::u16string_view b) { return NavLower(a) == NavLower(b); }

std::u16string Dec(int32_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

bool Meets(const TRect& a, const TRect& b) {
  return std::max(a.Left, b.Left) < std::min(a.Right, b.Right) &&
         std::max(a.Top, b.Top) < std::min(a.Bottom, b.Bottom);
}

TRect Intersect(const TRect& a, const TRect& b) {
  return TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
}

bool PointIn(const TRect& r, int32_t x, int32_t y) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; }

TNavBarFactory& FactoryHead();

Ref<TCustomNavBar> CreateButtonBar(const std::u16string&) { return MakeRef<TNavBar>(); }

TNavBarFactory& FactoryHead() {
  static TNavBarFactory head = &CreateButtonBar;
  return head;
}

const std::u16string_view kActionNames[] = {u"home", u"backward", u"forward", u"pause", u"print", u"help", u"exit"};

}  // namespace

int32_t NavRound(double v) {
  if (!std::isfinite(v)) return 0;
  return int32_t(std::nearbyint(std::clamp(v, -1e9, 1e9)));
}

std::u16string NavLower(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  return r;
}

int32_t TCustomNavBar::IndexOfObjectName(std::u16string_view name) const {
  for (size_t i = 0; i < ObjectNames.size(); ++i)
    if (SameText(ObjectNames[i], name)) return int32_t(i);
  return -1;
}

void TCustomNavBar::SetItems(const std::vector<int32_t>& items, int32_t count) {
  const size_t n = size_t(std::clamp<int64_t>(count, 0, int64_t(items.size())));
  Items.assign(items.begin(), items.begin() + ptrdiff_t(n));
}

Ref<TCustomNavBar> CreateNavBar(const std::u16string& type) { return FactoryHead()(type); }

TNavBarFactory PushNavBarFactory(TNavBarFactory factory) {
  TNavBarFactory old = FactoryHead();
  FactoryHead() = factory;
  return old;
}

std::vector<std::u16string> SplitNavValue(std::u16string_view value) {
  std::vector<std::u16string> parts;
  std::u16string cur;
  bool quoted = false;
  auto trim = [](std::u16string s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == u' ' || s[a] == u'\t')) ++a;
    while (b > a && (s[b - 1] == u' ' || s[b - 1] == u'\t')) --b;
    return s.substr(a, b - a);
  };
  if (value.empty()) return parts;
  for (char16_t c : value) {
    if (c == u'"') quoted = !quoted;
    if (c == u',' && !quoted) {
      parts.push_back(trim(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(trim(cur));
  return parts;
}

int32_t NavValueInt(std::u16string_view text, int32_t def) {
  size_t i = 0;
  bool neg = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) neg = text[i++] == u'-';
  if (i >= text.size()) return def;
  int64_t v = 0;
  constexpr int64_t kCap = int64_t(kNavMaxBarSide) * 4;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return def;
    v = std::min<int64_t>(v * 10 + (text[i] - u'0'), kCap);
  }
  return int32_t(neg ? -v : v);
}

TRect ParseNavBounds(const std::vector<std::u16string>& values) {
  if (values.size() != 4) {
    const std::string n = std::to_string(values.size());
    KAV_ASSERT_FAIL(
        "Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. But KAV found only " + n +
        " values.");
  }
  const int32_t l = NavValueInt(values[0], 0), t = NavValueInt(values[1], 0);
  const int32_t w = std::clamp(NavValueInt(values[2], 0), 0, kNavMaxBarSide);
  const int32_t h = std::clamp(NavValueInt(values[3], 0), 0, kNavMaxBarSide);
  return TRect{l, t, l + w, t + h};
}

// ---- Picture cache ----

TSysBitmap* TBmpCacheItem::GetPicture(TRect& bounds, bool grey, bool disabled) {
  if (!Bitmap || (!grey && !disabled)) return Bitmap.get();
  const std::string key = std::to_string(bounds.Left) + "," + std::to_string(bounds.Top) + "," +
                          std::to_string(bounds.Right) + "," + std::to_string(bounds.Bottom) +
                          (disabled ? "d" : "g");
  auto it = derived_.find(key);
  const TRect own{0, 0, bounds.Width(), bounds.Height()};
  if (it == derived_.end()) {
    Ref<TSysBitmap> copy;
    if (!own.IsEmpty() && BitmapSizeAllowed(own.Right, own.Bottom, 4)) {
      copy = CreateSysBitmap(own.Right, own.Bottom, StdFormats().A8R8G8B8);
      copy->FillRect(own, 0);
      copy->CopyRect(own, Bitmap.get(), 0, TPoint{bounds.Left, bounds.Top});
      if (disabled) GrayscaleDimBitmap(copy.get());
      else GrayscaleBitmap(copy.get());
    }
    it = derived_.emplace(key, copy).first;
  }
  bounds = own;
  return it->second.get();
}

TBmpCacheItem* TBmpCache::GetItem(const std::u16string& name) {
  const std::u16string key = NavLower(name);
  auto it = items_.find(key);
  if (it != items_.end()) return it->second.get();
  KAV_ASSERT(bar_->On.LoadImage);
  auto item = MakeRef<TBmpCacheItem>();
  TBmpCacheItem* raw = item.get();
  items_.emplace(key, item);
  if (!name.empty()) {
    std::u16string path = name;
    // Skin names are show input: they stay inside the skin's folder.
    if (!folder_.empty() && !SafePathCombine(folder_, name, path)) {
      LogLine(u"Navigation skin picture refused (leaves the skin folder): " + name);
      return raw;
    }
    if (folder_.empty() && !IsSafeRelativeName(name)) {
      LogLine(u"Navigation skin picture refused (leaves the skin folder): " + name);
      return raw;
    }
    bar_->On.LoadImage(bar_, path, raw->Bitmap);
  }
  return raw;
}

// ---- Button bar ----

TNavBar::TNavBar() = default;

void TNavBar::Dispose() {
  BarBitmap = nullptr;
  CornerBitmap = nullptr;
  cells_.clear();
  objects_.clear();
  cache_ = nullptr;
  doc_ = nullptr;
  TCustomNavBar::Dispose();
}

TNavBar::TCell* TNavBar::CellAt(int32_t column, int32_t row) {
  if (column < 1 || column > columns_ || row < 1 || row > rows_) return nullptr;
  return &cells_[size_t((row - 1) * columns_ + (column - 1))];
}

const TNavBar::TCell* TNavBar::Cell(int32_t column, int32_t row) const {
  return const_cast<TNavBar*>(this)->CellAt(column, row);
}

void TNavBar::LoadSkin(Ref<TIniFile> doc, const std::u16string& folder) {
  doc_ = doc;
  folder_ = folder;
  skin_loaded_ = false;
  cache_ = MakeRef<TBmpCache>(this, folder);
  CallLoadCallback(this);
  ObjectNames.clear();
  TIniFile* d = doc_.get();
  if (TSectionList* sections = d ? d->Sections() : nullptr) {
    for (int32_t i = 0; i < sections->Count(); ++i) {
      TIniList* s = sections->GetSection(i);
      if (!s) continue;
      std::u16string name = s->GetName();
      while (!name.empty() && (name.front() == u' ' || name.front() == u'\t')) name.erase(0, 1);
      while (!name.empty() && (name.back() == u' ' || name.back() == u'\t')) name.pop_back();
      if (name.size() < 7 || NavLower(name.substr(0, 7)) != u"action-") continue;
      const std::u16string rest = NavLower(name.substr(7));
      for (auto a : kActionNames)
        if (rest == a) {
          ObjectNames.push_back(rest);
          break;
        }
    }
  }
  columns_ = std::clamp(IniReadInteger(d, u"Common", u"ColsCount", 0), 0, kNavMaxGrid);
  rows_ = std::clamp(IniReadInteger(d, u"Common", u"RowsCount", 0), 0, kNavMaxGrid);
  left_ = std::clamp(IniReadInteger(d, u"CellWithObjects", u"LeftOffset", 0), 0, kNavMaxBarSide);
  top_ = std::clamp(IniReadInteger(d, u"CellWithObjects", u"TopOffset", 0), 0, kNavMaxBarSide);
  right_ = std::clamp(IniReadInteger(d, u"CellWithObjects", u"RightOffset", 0), 0, kNavMaxBarSide);
  bottom_ = std::clamp(IniReadInteger(d, u"CellWithObjects", u"BottomOffset", 0), 0, kNavMaxBarSide);
  const auto cell = SplitNavValue(IniReadString(d, u"CellWithObjects", u"Cell", u""));
  KAV_ASSERT_MSG(cell.size() == 2, "Incorrect number of parameters in field \"Cell\"");
  object_column_ = NavValueInt(cell[0], 1);
  object_row_ = NavValueInt(cell[1], 1);
  CallLoadCallback(this);
  cells_.assign(size_t(columns_ * rows_), TCell{});
  for (int32_t c = 1; c <= columns_; ++c)
    for (int32_t r = 1; r <= rows_; ++r) {
      const std::u16string section = u"Cell(" + Dec(c) + u":" + Dec(r) + u")";
      const auto b = SplitNavValue(IniReadString(d, section, u"Bounds", u""));
      if (b.size() != 4) {
        const std::string text = "Incorrect number of parameters in field \"Bounds\" in [Cell(" +
                                 std::to_string(c) + ":" + std::to_string(r) + ")]";
        KAV_ASSERT_FAIL(text);
      }
      TCell* cellp = CellAt(c, r);
      cellp->Picture.Bounds = ParseNavBounds(b);
      cellp->Picture.Bitmap = cache_->GetItem(IniReadString(d, section, u"flnm_Texture", u""))->Bitmap.get();
      cellp->Width = cellp->Picture.Bounds.Width();
      cellp->Height = cellp->Picture.Bounds.Height();
    }
  CallLoadCallback(this);
  skin_loaded_ = true;
}

void TNavBar::SetItems(const std::vector<int32_t>& items, int32_t count) {
  TCustomNavBar::SetItems(items, count);
  if (!skin_loaded_) return;
  TIniFile* d = doc_.get();
  const int32_t wanted = std::clamp(IniReadInteger(d, u"Objects", u"Count", 0), 0, kNavMaxObjects);
  const int32_t n = std::min<int32_t>(wanted, int32_t(Items.size()));
  objects_.assign(size_t(n), TObject{});
  static const char16_t* kStates[4] = {u"Normal", u"Hover", u"Pressed", u"Disabled"};
  for (int32_t i = 0; i < n; ++i) {
    TObject& o = objects_[size_t(i)];
    const std::u16string os = u"Object" + Dec(i + 1);
    const int32_t item = Items[size_t(i)];
    const std::u16string name =
        item >= 0 && size_t(item) < ObjectNames.size() ? ObjectNames[size_t(item)] : std::u16string();
    const std::u16string as = u"Action-" + name;
    o.ShiftPressed = std::clamp(IniReadInteger(d, os, u"ShiftPressed", 0), -kNavMaxBarSide, kNavMaxBarSide);
    o.GrayNormal = IniReadBool(d, os, u"GrayNormal", false);
    o.GrayDisabled = IniReadBool(d, os, u"GrayDisabled", false);
    o.Space = std::clamp(IniReadInteger(d, os, u"Space", 0), 0, kNavMaxBarSide);
    auto picture = [&](const std::u16string& bounds_key, const std::u16string& file_key, const std::u16string& def_bounds,
                       const std::u16string& def_file, int state, TPicture& out, std::u16string* bounds_text,
                       std::u16string* file_text) {
      const std::u16string bt = IniReadString(d, as, bounds_key, def_bounds);
      const std::u16string ft = IniReadString(d, as, file_key, def_file);
      if (bounds_text) *bounds_text = bt;
      if (file_text) *file_text = ft;
      out.Bounds = ParseNavBounds(SplitNavValue(bt));
      const bool grey = state == 0 && o.GrayNormal;
      const bool dim = state == 3 && o.GrayDisabled;
      out.Bitmap = cache_->GetItem(ft)->GetPicture(out.Bounds, grey && !dim, dim);
    };
    std::u16string nb, nf, bb, bf;
    for (int s = 0; s < 4; ++s) {
      const std::u16string st = kStates[s];
      picture(u"BtnTexture" + st + u"Bounds", u"flnm_BtnTexture" + st, nb, nf, s, o.Button[s], s == 0 ? &nb : nullptr,
              s == 0 ? &nf : nullptr);
    }
    const std::u16string play0 = IniReadString(d, as, u"flnm_BtnTextureNormalPlay", u"");
    o.HasPlay = !play0.empty();
    if (o.HasPlay) {
      for (int s = 0; s < 4; ++s) {
        const std::u16string st = kStates[s];
        const std::u16string file = s == 0 ? play0 : IniReadString(d, as, u"flnm_BtnTexture" + st + u"Play", play0);
        const std::u16string bt = IniReadString(d, as, u"BtnTexture" + st + u"Bounds", nb);
        o.PlayButton[s].Bounds = ParseNavBounds(SplitNavValue(bt));
        o.PlayButton[s].Bitmap = cache_->GetItem(file)->GetPicture(o.PlayButton[s].Bounds,
                                                                  s == 0 && o.GrayNormal, s == 3 && o.GrayDisabled);
      }
    }
    for (int s = 0; s < 4; ++s) {
      const std::u16string st = kStates[s];
      picture(u"BgTexture" + st + u"Bounds", u"flnm_BgTexture" + st, bb, bf, -1, o.Background[s],
              s == 0 ? &bb : nullptr, s == 0 ? &bf : nullptr);
    }
    // The box takes the size of the normal background's bounds (before any
    // grey copy changed them, which backgrounds never have).
    o.Width = o.Background[0].Bounds.Width();
    o.Height = o.Background[0].Bounds.Height();
  }
  Layout();
  dirty_ = TRect{0, 0, bar_width_, bar_height_};
  Redraw();
}

void TNavBar::Layout() {
  bar_width_ = 0;
  bar_height_ = 0;
  // A grid with no rows or no columns has no first row or column to sum.
  if (columns_ == 0 || rows_ == 0) return;
  TCell* oc = CellAt(object_column_, object_row_);
  if (oc) {
    int32_t w = left_ + right_, h = top_ + bottom_;
    if (!objects_.empty()) {
      for (const auto& o : objects_) w += o.Width + o.Space;
      h += objects_[0].Height;
      for (int32_t r = 1; r <= rows_; ++r) CellAt(object_column_, r)->Width = w;
      for (int32_t c = 1; c <= columns_; ++c) CellAt(c, object_row_)->Height = h;
    } else {
      oc->Width = w;
      oc->Height = h;
    }
  }
  for (int32_t r = 1; r <= rows_; ++r) {
    int32_t x = 0;
    for (int32_t c = 1; c <= columns_; ++c) {
      CellAt(c, r)->X = x;
      x += CellAt(c, 1)->Width;
    }
  }
  for (int32_t c = 1; c <= columns_; ++c) {
    int32_t y = 0;
    for (int32_t r = 1; r <= rows_; ++r) {
      CellAt(c, r)->Y = y;
      y += CellAt(1, r)->Height;
    }
  }
  if (oc) {
    int32_t x = oc->X + left_;
    for (auto& o : objects_) {
      o.X = x;
      o.Y = oc->Y + top_;
      x += o.Width + o.Space;
    }
  }
  for (int32_t c = 1; c <= columns_; ++c) bar_width_ += CellAt(c, 1)->Width;
  for (int32_t r = 1; r <= rows_; ++r) bar_height_ += CellAt(1, r)->Height;
}

void TNavBar::AddDirty(const TRect& r) {
  if (r.IsEmpty()) return;
  if (dirty_.IsEmpty()) dirty_ = r;
  else dirty_ = TRect{std::min(dirty_.Left, r.Left), std::min(dirty_.Top, r.Top), std::max(dirty_.Right, r.Right),
                      std::max(dirty_.Bottom, r.Bottom)};
}

void TNavBar::Redraw() {
  if (!skin_loaded_ || dirty_.IsEmpty() || columns_ == 0 || rows_ == 0) return;
  if (!BarBitmap || BarBitmap->Width() != bar_width_ || BarBitmap->Height() != bar_height_) {
    // A skin whose grid sums to nothing or to more than a bar may hold makes
    // no picture (and so no panel) instead of a huge or empty bitmap.
    if (bar_width_ <= 0 || bar_height_ <= 0 || bar_width_ > kNavMaxBarSide || bar_height_ > kNavMaxBarSide ||
        !BitmapSizeAllowed(bar_width_, bar_height_, 4)) {
      LogLine(u"Navigation bar refused: size " + Dec(bar_width_) + u" x " + Dec(bar_height_));
      BarBitmap = nullptr;
      dirty_ = TRect{};
      return;
    }
    BarBitmap = CreateSysBitmap(bar_width_, bar_height_, StdFormats().A8R8G8B8);
    BarBitmap->FillRect(TRect{0, 0, bar_width_, bar_height_}, 0);
    dirty_ = TRect{0, 0, bar_width_, bar_height_};
  }
  TSysBitmap* bmp = BarBitmap.get();
  dirty_ = Intersect(dirty_, TRect{0, 0, bar_width_, bar_height_});
  FillAlphaRect(bmp, dirty_, 0);
  CallLoadCallback(this);
  if (ShowBackground) {
    for (int32_t c = 1; c <= columns_; ++c)
      for (int32_t r = 1; r <= rows_; ++r) {
        TCell* cell = CellAt(c, r);
        const TRect rect{cell->X, cell->Y, cell->X + cell->Width, cell->Y + cell->Height};
        if (!Meets(rect, dirty_) || !cell->Picture.Bitmap) continue;
        // A tile of no pixels (missing bounds or a picture smaller than
        // them) would divide by zero while repeating: such a cell stays empty.
        const TRect tile = Intersect(cell->Picture.Bounds,
                                     TRect{0, 0, cell->Picture.Bitmap->Width(), cell->Picture.Bitmap->Height()});
        if (tile.IsEmpty() || tile != cell->Picture.Bounds) continue;
        TileBitmapClipped(bmp, cell->Picture.Bitmap, rect, dirty_, tile);
      }
    CallLoadCallback(this);
  }
  const bool use_play = On.IsPlaying && !On.IsPlaying(this);
  for (auto& o : objects_) {
    if (!Meets(o.Box(), dirty_)) continue;
    const int s = o.State & 3;
    const TPicture& bg = o.Background[s];
    if (bg.Bitmap)
      AlphaCompositeRect32(bmp, TPoint{o.X, o.Y}, bg.Bitmap, TPoint{bg.Bounds.Left, bg.Bounds.Top}, o.Width, o.Height);
    const TPicture& btn = (o.HasPlay && use_play) ? o.PlayButton[s] : o.Button[s];
    const int32_t nw = o.Button[0].Bounds.Width(), nh = o.Button[0].Bounds.Height();
    if (btn.Bitmap) {
      int32_t x = o.X + (o.Width - nw) / 2, y = o.Y + (o.Height - nh) / 2;
      if (s == 2) {
        x += o.ShiftPressed;
        y += o.ShiftPressed;
      }
      AlphaCompositeRect32(bmp, TPoint{x, y}, btn.Bitmap, TPoint{btn.Bounds.Left, btn.Bounds.Top}, nw, nh);
    }
  }
  CallLoadCallback(this);
  if (Hue != 0) HSLAdjustPixels(bmp, dirty_, this, 0, 0, Hue);
  const TRect done = dirty_;
  dirty_ = TRect{};
  if (On.BarChanged) On.BarChanged(this, done);
}

void TNavBar::SetObjectState(size_t index, uint8_t state) {
  if (index >= objects_.size()) return;
  TObject& o = objects_[index];
  if (o.State == state) return;
  TRect box = o.Box();
  if (o.State == 2 || state == 2) {
    box.Right += std::max(0, o.ShiftPressed);
    box.Bottom += std::max(0, o.ShiftPressed);
  }
  AddDirty(box);
  o.State = state;
}

bool TNavBar::Inside(int32_t x, int32_t y) const {
  return BarBitmap && x >= 0 && y >= 0 && x < BarBitmap->Width() && y < BarBitmap->Height();
}

void TNavBar::Move(uint32_t shift, int32_t x, int32_t y) {
  if (!pressing_ && !Inside(x, y)) {
    if (mouse_over_) {
      for (size_t i = 0; i < objects_.size(); ++i)
        if (objects_[i].State != 3) SetObjectState(i, 0);
      Redraw();
    }
    return;
  }
  if (!pressing_ && (shift & kNavShiftLeft)) return;
  mouse_over_ = true;
  for (size_t i = 0; i < objects_.size(); ++i) {
    if (objects_[i].State == 3) continue;
    uint8_t st = 0;
    if (PointIn(objects_[i].Box(), x, y)) st = !pressing_ ? 1 : (int32_t(i) == pressed_ ? 2 : 0);
    SetObjectState(i, st);
  }
  Redraw();
}

void TNavBar::MouseEvent(int32_t button, uint32_t shift, int32_t x, int32_t y, uint8_t kind) {
  switch (kind) {
    case kNavMouseMove:
      Move(shift, x, y);
      return;
    case kNavMouseDown:
      if (Inside(x, y) && button == 1) {
        pressing_ = true;
        pressed_ = -1;
        for (size_t i = 0; i < objects_.size(); ++i) {
          if (objects_[i].State == 3) continue;
          if (PointIn(objects_[i].Box(), x, y)) {
            SetObjectState(i, 2);
            pressed_ = int32_t(i);
          } else {
            SetObjectState(i, 0);
          }
        }
        Redraw();
      }
      return;
    case kNavMouseUp: {
      if (!Inside(x, y)) {
        if (!mouse_over_) return;
        mouse_over_ = false;
      }
      if (button == 1 && pressing_ && pressed_ >= 0 && size_t(pressed_) < objects_.size() && On.Button) {
        const TObject& o = objects_[size_t(pressed_)];
        if (o.State != 3 && PointIn(o.Box(), x, y)) On.Button(this, pressed_);
      }
      pressing_ = false;
      pressed_ = -1;
      Move(shift & ~kNavShiftLeft, x, y);
      return;
    }
    default:
      KAV_ASSERT(false);
  }
}

void TNavBar::SetTime(double) {
  if (!On.IsPlaying) return;
  const bool playing = On.IsPlaying(this);
  if (first_time_ || playing != last_playing_) {
    for (auto& o : objects_)
      if (o.HasPlay) {
        AddDirty(o.Box());
        Redraw();
        break;
      }
  }
  first_time_ = false;
  last_playing_ = playing;
}

}  // namespace kav
