#include "KavLib2/NavPanel/KavNavPanel.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Graphics/vxImageRegistry.h"
#include "KavLib2/NavPanel/KavVideoNavBar.h"
#include "VoRav/Application2/winSessionInformation.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

bool In(const TRect& r, int32_t x, int32_t y) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; }

}  // namespace

Ref<TImage> OpenSkinPicture(TFileAccessor* accessor, const std::u16string& name) {
  try {
    Ref<TStream> stream = accessor->OpenFile(name);
    if (!stream) return nullptr;
    return LoadImage(stream.get(), name, false);
  } catch (const EAbort&) {
    throw;
  } catch (const Exception&) {
    return nullptr;
  }
}

void NavPositionAnchor(int32_t code, TNavPercentPoint& p, TNavPercentPoint& a, float m) {
  switch (code) {
    case 0: p = {-100 + m, -100 + m}; a = {-100, -100}; break;
    case 1: p = {0, -100 + m}; a = {0, -100}; break;
    case 2: p = {100 - m, -100 + m}; a = {100, -100}; break;
    case 3: p = {100 - m, 0}; a = {100, 0}; break;
    case 4: p = {100 - m, 100 - m}; a = {100, 100}; break;
    case 5: p = {0, 100 - m}; a = {0, 100}; break;
    case 6: p = {-100 + m, 100 - m}; a = {-100, 100}; break;
    case 7: p = {-100 + m, 0}; a = {-100, 0}; break;
    default: p = {0, 0}; a = {0, 0}; break;
  }
}

TRect NavAnchorRect(const TNavPercentPoint& p, const TNavPercentPoint& a, const TRect& f, int32_t h, int32_t w) {
  TRect r;
  r.Left = f.Left + NavRound((double(p.X) / 100 + 1) * (f.Right - f.Left) / 2) - NavRound(double(w) * (a.X + 100) / 200);
  r.Right = r.Left + w;
  r.Top = f.Top + NavRound((double(p.Y) / 100 + 1) * (f.Bottom - f.Top) / 2) - NavRound(double(h) * (a.Y + 100) / 200);
  r.Bottom = r.Top + h;
  return r;
}

TNavPanel::TNavPanel() { RegisterVideoNavBar(); }

void TNavPanel::Dispose() {
  bar_image_ = nullptr;
  corner_image_ = nullptr;
  bar_ = nullptr;
  ButtonNames.clear();
  Accessor = nullptr;
  TRefObject::Dispose();
}

void TNavPanel::SetPlacement(const TNavPercentPoint& position, const TNavPercentPoint& anchor, const TRect& frame,
                             float size_percent) {
  position_ = position;
  anchor_ = anchor;
  frame_ = frame;
  size_percent_ = std::isfinite(size_percent) ? std::clamp(size_percent, 0.0f, 100.0f) : 10.0f;
  placed_ = true;
}

void TNavPanel::LoadStyle(const std::u16string& skin_file, bool use_video_scale, double duration, double volume,
                          bool corner_flag) {
  bar_ = nullptr;
  bar_image_ = nullptr;
  corner_image_ = nullptr;
  bar_rect_ = corner_rect_ = TRect{};
  duration_ = std::isfinite(duration) ? duration : 0;
  KAV_ASSERT(Accessor);
  Ref<TStream> stream;
  try {
    stream = Accessor->OpenFile(skin_file);
  } catch (const Exception&) {
    stream = nullptr;
  }
  if (!stream) {
    LogLine(u"Navigation skin not found: " + skin_file);
    return;
  }
  auto doc = MakeRef<TIniFile>();
  const bool parsed = doc->LoadFrom(stream.get());
  stream = nullptr;
  if (!parsed) {
    LogLine(u"Navigation skin unreadable: " + skin_file);
    return;
  }
  // A damaged skin (its checks fail) gives no panel rather than stopping the
  // engine thread.
  try {
    video_style_ = IniReadBool(doc.get(), u"Common", u"VideoStyle", false);
    Ref<TCustomNavBar> bar = CreateNavBar(video_style_ ? u"video" : u"");
    const bool corner = video_style_ && corner_flag;
    bar->On.BarChanged = TDelegate<void(TCustomNavBar*, const TRect&)>::Bind<&TNavPanel::BarImageChanged>(this);
    if (corner)
      bar->On.CornerChanged = TDelegate<void(TCustomNavBar*, const TRect&)>::Bind<&TNavPanel::CornerImageChanged>(this);
    bar->On.Button = TDelegate<void(TCustomNavBar*, int32_t)>::Bind<&TNavPanel::ButtonPressed>(this);
    bar->On.IsPlaying = IsPlaying;
    bar->On.GoToTime = GoToTime;
    bar->On.SetVolume = SetVolume;
    bar->On.LoadImage =
        TDelegate<void(TCustomNavBar*, const std::u16string&, Ref<TSysBitmap>&)>::Bind<&TNavPanel::LoadSkinImage>(this);
    bar->On.Duration = TDelegate<double(TCustomNavBar*)>::Bind<&TNavPanel::GetDuration>(this);
    if (corner) bar->On.CornerQuery = TDelegate<bool(TCustomNavBar*)>::Bind<&TNavPanel::GetCornerFlag>(this);
    bar->ShowBackground = ShowBackground;
    bar->Hue = Hue;
    bar_ = bar;
    const size_t slash = skin_file.find_last_of(u"\\/");
    const std::u16string folder = slash == std::u16string::npos ? std::u16string() : skin_file.substr(0, slash + 1);
    bar->LoadSkin(doc, folder);
    bar->SetFrameWidth(frame_.Right - frame_.Left);
    if (use_video_scale) {
      bar->SetBarHeight(NavRound(double(frame_.Bottom - frame_.Top) * size_percent_ * 0.01));
    } else {
      int32_t dpi_x = 96, dpi_y = 96;
      ScreenPixelsPerInch(dpi_x, dpi_y);
      bar->SetScale(dpi_y > 0 ? dpi_y / 96.0 : 1.0);
    }
    std::vector<int32_t> items(ButtonNames.size(), 0);
    int32_t found = 0;
    for (const auto& name : ButtonNames) {
      const int32_t i = bar->IndexOfObjectName(name);
      if (i >= 0) items[size_t(found++)] = i;
    }
    bar->SetItems(items, found);
    bar->SetTime(0.0);
    bar->SetVolume(volume);
  } catch (const EAbort& e) {
    LogLine(u"Navigation skin damaged: " + skin_file + u": " + SystemUTF8ToWide(e.what()));
    bar_ = nullptr;
    bar_image_ = nullptr;
    corner_image_ = nullptr;
    bar_rect_ = corner_rect_ = TRect{};
  }
}

void TNavPanel::SetTime(double time) {
  if (bar_) bar_->SetTime(time);
}

bool TNavPanel::HitTest(int32_t x, int32_t y) const {
  if (!bar_ || !bar_image_) return false;
  return In(bar_rect_, x, y) || (video_style_ && corner_image_ && In(corner_rect_, x, y));
}

void TNavPanel::BarImageChanged(TCustomNavBar* bar, const TRect&) {
  if (!BarImageCallback || !placed_ || !bar->BarBitmap) return;
  TSysBitmap* b = bar->BarBitmap.get();
  if (video_style_) {
    bar_rect_ = NavAnchorRect(TNavPercentPoint{0, 100}, TNavPercentPoint{0, 100}, frame_, b->Height(), b->Width());
  } else {
    const int32_t h = NavRound(double(frame_.Bottom - frame_.Top) * size_percent_ / 100);
    // Departure: a bar bitmap without height would divide by zero; it
    // stands with no width.
    const int32_t w = b->Height() > 0 ? NavRound(double(b->Width()) * h / b->Height()) : 0;
    bar_rect_ = NavAnchorRect(position_, anchor_, frame_, h, w);
  }
  // The image keeps a reference to the bitmap, so an item the overlay still
  // holds never shows a bitmap the bar has let go of.
  bar_image_ = ImageFromBitmap(Ref<TSysBitmap>(b).release(), true, u"");
  BarImageCallback(bar_image_.get(), DefaultImageDrawParams(), BarItemIndex, bar_rect_);
}

void TNavPanel::CornerImageChanged(TCustomNavBar* bar, const TRect& r) {
  if (!CornerImageCallback || !placed_ || !bar->CornerBitmap) return;
  corner_rect_ = TRect{frame_.Right - r.Width(), frame_.Top, frame_.Right, frame_.Top + r.Height()};
  corner_image_ = ImageFromBitmap(Ref<TSysBitmap>(bar->CornerBitmap).release(), true, u"");
  CornerImageCallback(corner_image_.get(), DefaultImageDrawParams(), CornerItemIndex, corner_rect_);
}

void TNavPanel::ButtonPressed(TCustomNavBar* bar, int32_t index) {
  if (bar && index >= 0 && size_t(index) < bar->Items.size()) {
    const int32_t item = bar->Items[size_t(index)];
    if (item >= 0 && size_t(item) < bar->ObjectNames.size()) {
      const std::u16string name = NavLower(bar->ObjectNames[size_t(item)]);
      if (name == u"home") {
        action_.Kind = kActGotoSlide;
        action_.Int = 0;
      } else if (name == u"forward") action_.Kind = kActNextSlide;
      else if (name == u"backward") action_.Kind = kActPrevSlide;
      else if (name == u"print") action_.Kind = kActImage;
      else if (name == u"pause") action_.Kind = kActPause;
      else if (name == u"help") action_.Kind = kActHelp;
      else if (name == u"exit") action_.Kind = kActExit;
    }
  }
  if (video_style_) {
    if (index == -1) action_.Kind = kActPause;
    else if (index == -2) action_.Kind = kActExit;
  }
}

void TNavPanel::LoadSkinImage(TCustomNavBar*, const std::u16string& name, Ref<TSysBitmap>& bitmap) {
  KAV_ASSERT(Accessor);
  bitmap = nullptr;
  // Departure: decoded from the opened file rather than through the shared
  // image cache, which answers a placeholder picture for a missing or broken
  // file; a skin picture that cannot be read must stay missing.
  Ref<TImage> image = OpenSkinPicture(Accessor.get(), name);
  if (!image) return;
  Ref<TBitmap> level = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
  if (!level) return;
  // A copy, so the skin never holds the cached picture's pixels.
  auto* src = static_cast<TSysBitmap*>(level.get());
  if (src->Width() <= 0 || src->Height() <= 0) return;
  bitmap = CreateSysBitmap(src->Width(), src->Height(), StdFormats().A8R8G8B8);
  bitmap->CopyFrom(src);
}

void TNavPanel::Send(int32_t button, uint32_t shift, int32_t x, int32_t y, uint8_t kind) {
  corner_area_ = bar_ && bar_->On.CornerQuery && (double(frame_.Top) + frame_.Bottom) * 0.5 > y;
  const TRect& r = corner_area_ ? corner_rect_ : bar_rect_;
  TSysBitmap* b = corner_area_ ? bar_->CornerBitmap.get() : bar_ ? bar_->BarBitmap.get() : nullptr;
  if (!b || r.Width() <= 0 || r.Height() <= 0) return;
  const int32_t tx = NavRound(double(x - r.Left) / r.Width() * b->Width());
  const int32_t ty = NavRound(double(y - r.Top) / r.Height() * b->Height());
  bar_->MouseEvent(button, shift, tx, ty, kind);
}

void TNavPanel::Finish(int32_t x, int32_t y, TKavAction& action) {
  inside_ = HitTest(x, y);
  if (inside_ && action_.IsNone()) action_.Kind = kActPanelHandled;
  action = action_;
}

bool TNavPanel::Ignore(bool ignore, int32_t x, int32_t y, TKavAction& action) {
  if (!ignore) return false;
  inside_ = HitTest(x, y);
  action = action_;
  return true;
}

void TNavPanel::MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y, TKavAction& action) {
  action_ = TKavAction{};
  if (Ignore((!HitTest(x, y) && !inside_) || button != 1, x, y, action)) return;
  Send(button, shift, x, y, kNavMouseDown);
  pressed_ = true;
  Finish(x, y, action);
}

void TNavPanel::MouseMove(uint32_t shift, int32_t x, int32_t y, TKavAction& action) {
  action_ = TKavAction{};
  if (Ignore(!HitTest(x, y) && !inside_ && !pressed_, x, y, action)) return;
  Send(1, shift, x, y, kNavMouseMove);
  Finish(x, y, action);
}

void TNavPanel::MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y, TKavAction& action) {
  action_ = TKavAction{};
  if (Ignore(!HitTest(x, y) && !inside_ && !pressed_, x, y, action)) return;
  if (Ignore(button != 1, x, y, action)) return;
  Send(button, shift, x, y, kNavMouseUp);
  pressed_ = false;
  Finish(x, y, action);
}

}  // namespace kav
