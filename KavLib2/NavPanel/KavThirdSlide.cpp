#include "KavLib2/NavPanel/KavThirdSlide.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavObjects/KavColorGrade.h"
#include "KavLib2/NavPanel/KavOverlayDialog.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"
#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

bool SameTextAscii(std::u16string_view a, std::u16string_view b) { return NavLower(a) == NavLower(b); }

// Read and write caps for the options: fade times and the hide interval.
constexpr int32_t kMaxFadeMs = 600000;
constexpr int32_t kMaxHideSeconds = 86400;
constexpr int32_t kMaxNavButtons = 64;
constexpr float kDialogFadeMs = 200;

std::atomic<TOverlayDialogMaker> g_dialog_maker{nullptr};

Ref<TEngineOverlay> MakeNavOverlay(const TEngineOverlaySetup& setup) {
  if (!setup.Accessor) return nullptr;
  return TThirdSlide::Build(setup);
}

}  // namespace

void SetOverlayDialogMaker(TOverlayDialogMaker maker) { g_dialog_maker = maker; }

void RegisterNavOverlay() {
  SetEngineOverlayMaker(&MakeNavOverlay);
  InstallOverlayDialogs();
}

void TThirdSlide::ShowDialog(const std::u16string& name) {
  const TOverlayDialogMaker maker = g_dialog_maker.load();
  Ref<TOverlayDialog> dialog = maker ? maker(slides_.get(), name) : nullptr;
  if (!dialog) {
    LogLine(u"Dialog not available: " + name);
    return;
  }
  dialog->Name = name;
  AddItem(dialog);
}

int32_t NavPositionCode(std::u16string_view text) {
  static const std::u16string_view kNames[] = {u"Left-Top",     u"Top",    u"Right-Top",   u"Right", u"Right-Bottom",
                                               u"Bottom",       u"Left-Bottom", u"Left", u"Center"};
  for (int32_t i = 0; i < 9; ++i)
    if (SameTextAscii(text, kNames[i])) return i;
  return 8;
}

int32_t LogoPositionCode(int32_t pos) {
  switch (pos) {
    case 0: return 7;
    case 1: return 1;
    case 2: return 3;
    case 3: return 5;
    case 5: return 0;
    case 6: return 2;
    case 7: return 4;
    case 8: return 6;
    default: return 8;
  }
}

Ref<TThirdSlide> TThirdSlide::Build(const TOverlaySetup& s) {
  KAV_ASSERT(s.Accessor);
  auto o = MakeRef<TThirdSlide>();
  o->Changed = 1;
  o->accessor_ = Ref<TFileAccessor>(s.Accessor);
  o->slides_ = Ref<TSlideWindowProducer>(s.Slides);
  o->visible_ = s.Visible;
  o->window_ = s.Window;
  o->root_ = s.Root;
  o->output_profile_ = s.OutputProfile;
  const double vw = s.Visible.Width(), vh = s.Visible.Height();
  // Departure: an empty visible or aspect size would divide by zero; the
  // logo then keeps its own aspect.
  o->scale_ = (vw > 0 && vh > 0 && s.Aspect.cx > 0 && s.Aspect.cy > 0) ? (vw / s.Aspect.cx) * s.Aspect.cy / vh : 1.0;
  TIniList* main = s.Options ? s.Options->FindSection(u"main") : nullptr;
  if (!main) return o;
  auto str = [&](std::u16string_view k, std::u16string_view d) { return main->ReadString(k, d); };
  auto boolean = [&](std::u16string_view k, bool d) { return main->ReadBool(k, d); };
  auto integer = [&](std::u16string_view k, int32_t d) { return IniGetInteger(main->FindKey(k), d); };
  auto real = [&](std::u16string_view k, double d) {
    const double v = IniGetFloat(main->FindKey(k), d);
    return std::isfinite(v) ? v : d;
  };
  const std::u16string logo = str(u"opt_logo_fn", u"");
  if (!logo.empty() && boolean(u"opt_logo", false)) {
    const int32_t code = LogoPositionCode(integer(u"opt_logo_pos", 0));
    TImageDrawParams params = DefaultImageDrawParams();
    params.Opacity = float(std::clamp(real(u"opt_logo_opacity", 100.0), 0.0, 100.0));
    const float margin = float(std::clamp(real(u"opt_logo_offset", 0.0), -1000.0, 1000.0));
    const float size = float(std::clamp(real(u"opt_logo_size", 10.0), 0.0, 1000.0));
    TNavPercentPoint p, a;
    NavPositionAnchor(code, p, a, margin);
    o->LoadLogo(logo, params, size, p, a);
  }
  if (!s.OverlayFlag && boolean(u"opt_fcp", false)) {
    const std::u16string skin = str(u"opt_nav_inifile", u"");
    auto panel = MakeRef<TNavPanel>();
    panel->ShowBackground = boolean(u"opt_nav_showbg", false);
    panel->Hue = integer(u"opt_nav_hue", 0);
    const float view_scale = float(std::clamp(real(u"opt_nav_viewscale", 10.0), 0.0, 100.0));
    const bool use_video_scale = boolean(u"opt_nav_usevideoscale", false);
    const float offset = float(std::clamp(real(u"opt_nav_offset", 0.0), -1000.0, 1000.0));
    const int32_t code = main->FindKey(u"opt_cp") ? NavPositionCode(str(u"opt_cp", u"")) : 8;
    const int32_t count = std::clamp(integer(u"opt_newnavbuttons_count", 0), 0, kMaxNavButtons);
    for (int32_t i = 1; i <= count; ++i) {
      const std::string n = std::to_string(i);
      panel->ButtonNames.push_back(str(u"opt_newnavbutton" + std::u16string(n.begin(), n.end()), u""));
    }
    TNavPercentPoint p, a;
    NavPositionAnchor(code, p, a, offset);
    o->hide_option_ = boolean(u"opt_hidenavbar", false);
    o->hidden_ = o->hide_option_;
    o->detector_->SetInterval(uint32_t(std::clamp(integer(u"opt_nav_hideinterval", 0), 0, kMaxHideSeconds)) * 1000u);
    o->detector_->SetIdle(true);
    o->fade_out_ = std::clamp(integer(u"opt_nav_hidefadeout", 1000), 0, kMaxFadeMs);
    o->fade_in_ = std::clamp(integer(u"opt_nav_fadein", 500), 0, kMaxFadeMs);
    o->window_bottom_ = boolean(u"opt_nav_wndbottom", true);
    o->panel_alpha_ = o->hide_option_ ? 0.0f : 100.0f;
    const bool corner = boolean(u"opt_nav_videoexit", true);
    const TRect frame = o->window_bottom_ ? TRect{0, 0, s.Window.cx, s.Window.cy} : s.Visible;
    panel->SetPlacement(p, a, frame, view_scale);
    panel->IsPlaying = s.IsPlaying;
    panel->GoToTime = s.GoToTime;
    panel->SetVolume = s.SetVolume;
    panel->Accessor = o->accessor_;
    panel->BarImageCallback = TNavImageCallback::Bind<&TThirdSlide::BarImage>(o.get());
    panel->CornerImageCallback = TNavImageCallback::Bind<&TThirdSlide::CornerImage>(o.get());
    o->panel_ = panel;
    panel->LoadStyle(skin, use_video_scale, s.Duration, s.Volume, corner);
  }
  return o;
}

void TThirdSlide::Dispose() {
  dialogs_.clear();
  panel_ = nullptr;
  items_.clear();
  logo_ = nullptr;
  logo_lookup_ = nullptr;
  grade_ = nullptr;
  detector_ = nullptr;
  accessor_ = nullptr;
  slides_ = nullptr;
  TDrawItem::Dispose();
}

void TThirdSlide::LoadLogo(const std::u16string& name, const TImageDrawParams& params, float size,
                           const TNavPercentPoint& p, const TNavPercentPoint& a) {
  // A logo that cannot be opened or decoded is left out; the rest of the
  // overlay works. (Decoded from the file: the image cache would answer a
  // placeholder picture instead.)
  Ref<TImage> image = OpenSkinPicture(accessor_.get(), name);
  if (!image) {
    LogLine(u"Logo not found: " + name);
    return;
  }
  Ref<TBitmap> level = image ? image->Store()->GetMipLevel(0, nullptr, &TSysBitmap::kClass) : nullptr;
  auto* bmp = static_cast<TSysBitmap*>(level.get());
  if (!bmp || bmp->Width() <= 0 || bmp->Height() <= 0) {
    LogLine(u"Logo unreadable: " + name);
    return;
  }
  // A logo whose colour profile differs from the output's is drawn through
  // a lookup of that conversion.
  if (!ColorManagementOff.load()) {
    Ref<TColorTransform> transform = CreateColorTransform(image->Store()->ColorProfile<TColorProfile>(), output_profile_);
    logo_lookup_ = MakeColorLookup(transform.get());
  }
  const double vh = visible_.Height();
  const double target_h = size / 100.0 * vh;
  const double target_w = double(bmp->Width()) / bmp->Height() * target_h;
  int32_t w = bmp->Width(), h = bmp->Height();
  // Departure: halving stops at one pixel; a target of no size would
  // otherwise halve a 1 x 1 picture forever.
  while (2 * target_w <= w && 2 * target_h <= h && (w > 1 || h > 1)) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
  }
  if (w != bmp->Width() || h != bmp->Height()) {
    const bool alpha = bmp->BytesPerPixel() == 4;
    Ref<TSysBitmap> small = CreateSysBitmap(w, h, alpha ? StdFormats().A8R8G8B8 : StdFormats().R8G8B8);
    if (alpha) {
      Ref<TBitmap> l32 = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
      StretchBilinear32(static_cast<TSysBitmap*>(l32.get()), small.get());
    } else {
      Ref<TBitmap> l24 = image->Store()->GetMipLevel(0, StdFormats().R8G8B8, &TSysBitmap::kClass);
      StretchBilinear24(static_cast<TSysBitmap*>(l24.get()), small.get());
    }
    logo_ = ImageFromBitmap(small.release(), true, u"");
  } else {
    logo_ = image;
  }
  const int32_t H = NavRound(vh * size / 100);
  const int32_t W = logo_->Height() > 0 ? NavRound(double(H) * logo_->Width() / logo_->Height() * scale_) : 0;
  logo_index_ = AddImageItem(logo_.get(), params, NavAnchorRect(p, a, visible_, H, W));
}

TThirdSlide::TImageItem TThirdSlide::MakeImageItem(TImage* picture, const TImageDrawParams& params,
                                                   const TRect& rect) {
  TImageItem item;
  item.Picture = Ref<TImage>(picture);
  item.Params = params;
  item.X = float(rect.Left);
  item.Y = float(rect.Top);
  item.W = float(rect.Width());
  item.H = float(rect.Height());
  return item;
}

int32_t TThirdSlide::AddImageItem(TImage* picture, const TImageDrawParams& params, const TRect& rect) {
  items_.push_back(MakeImageItem(picture, params, rect));
  return int32_t(items_.size()) - 1;
}

void TThirdSlide::ReplaceImageItem(int32_t index, TImage* picture, const TImageDrawParams& params,
                                   const TRect& rect) {
  if (index < 0 || size_t(index) >= items_.size()) return;
  items_[size_t(index)] = MakeImageItem(picture, params, rect);
}

void TThirdSlide::SetItemImage(TImage* picture, int32_t& index, const TRect& rect) {
  if (index == -1) {
    TImageDrawParams params = DefaultImageDrawParams();
    params.Opacity = panel_alpha_;
    index = AddImageItem(picture, params, rect);
  } else if (index >= 0 && size_t(index) < items_.size()) {
    // The opacity of the panel's fade stays with the item.
    ReplaceImageItem(index, picture, items_[size_t(index)].Params, rect);
  }
  SetChanged();
}

void TThirdSlide::BarImage(TImage* picture, const TImageDrawParams&, int32_t& index, const TRect& rect) {
  SetItemImage(picture, index, rect);
}

void TThirdSlide::CornerImage(TImage* picture, const TImageDrawParams&, int32_t& index, const TRect& rect) {
  SetItemImage(picture, index, rect);
}

void TThirdSlide::SetTime(double time) {
  if (faded_ >= 0 && size_t(faded_) < dialogs_.size()) {
    TOverlayDialog* d = dialogs_[size_t(faded_)].get();
    if (d->Drawn) {
      if (closing_ && d->Alpha < 1.0f) {
        RemoveItem(faded_);
      } else {
        const int64_t now = EngineNowMs();
        if (restart_) {
          dialog_start_ = now;
          dialog_end_ = now + int64_t(kDialogFadeMs);
          restart_ = false;
        }
        double progress = 100;
        if (now < dialog_end_)
          progress = std::clamp(double(now - dialog_start_) / double(dialog_end_ - dialog_start_) * 100, 0.0, 100.0);
        const float alpha = float(closing_ ? 100 - progress : progress);
        if (std::fabs(alpha - d->Alpha) > 0.001f) {
          d->Alpha = alpha;
          SetForced();
        }
      }
    }
  }
  if (!panel_) return;
  panel_->SetTime(time);
  if (!hide_option_) return;
  const int64_t now = EngineNowMs();
  double progress = 100;
  if (now < fade_end_ && fade_end_ > fade_start_)
    progress = std::clamp(double(now - fade_start_) / double(fade_end_ - fade_start_) * 100, 0.0, 100.0);
  if (panel_->Inside()) detector_->SetIdle(false);
  const bool idle = detector_->IsIdle();
  if (idle != hidden_) {
    hidden_ = idle;
    const int32_t t = hidden_ ? fade_out_ : fade_in_;
    fade_end_ = now + NavRound(t * progress / 100);
    fade_start_ = fade_end_ - t;
    return;
  }
  panel_alpha_ = float(hidden_ ? 100 - progress : progress);
  for (int32_t index : {panel_->BarItemIndex, panel_->CornerItemIndex}) {
    if (index < 0 || size_t(index) >= items_.size()) continue;
    TImageDrawParams& p = items_[size_t(index)].Params;
    if (std::fabs(p.Opacity - panel_alpha_) > 0.001f) {
      p.Opacity = panel_alpha_;
      SetForced();
    }
  }
}

void TThirdSlide::HitTest(const TEngineMouseState& mouse, TKavAction& action, bool& handled, TRefObject*& object) {
  action = TKavAction{};
  object = nullptr;
  for (size_t i = dialogs_.size(); i-- > 0;) {
    TOverlayDialog* d = dialogs_[i].get();
    object = d->ProcessMouse(mouse, action);
    if (d->NeedsDraw()) SetForced();
    if (object) break;
  }
  detector_->Moved(mouse.X, mouse.Y);
  TKavAction panel_action;
  if (panel_) {
    switch (mouse.Kind) {
      case 0: panel_->MouseMove(mouse.Shift, mouse.X, mouse.Y, panel_action); break;
      case 1: panel_->MouseDown(mouse.Button, mouse.Shift, mouse.X, mouse.Y, panel_action); break;
      case 2: panel_->MouseUp(mouse.Button, mouse.Shift, mouse.X, mouse.Y, panel_action); break;
      case 3: break;
      // Departure: an unknown mouse kind is ignored rather than stopping the
      // engine thread.
      default: break;
    }
  }
  if (!panel_action.IsNone()) {
    action = panel_action;
    object = nullptr;
  }
  handled = object != nullptr || (panel_ && panel_->Inside()) || !panel_action.IsNone();
}

bool TThirdSlide::Settled() const {
  if (!dialogs_.empty()) return false;
  // A shown panel hides by itself once the mouse rests, and its slider
  // follows the show's time: only a panel faded out stays as it is.
  return !panel_ || (hide_option_ && hidden_ && panel_alpha_ <= 0);
}

int32_t TThirdSlide::PanelMode() {
  if (!panel_) return 0;
  if (panel_->Inside()) return 2;
  return detector_->IsIdle() ? 0 : 1;
}

bool TThirdSlide::IsPausing() const {
  for (const auto& d : dialogs_)
    if (d->Pause) return true;
  return false;
}

void TThirdSlide::AddItem(Ref<TOverlayDialog> dialog) {
  if (!dialog || closing_) return;
  for (size_t i = 0; i < dialogs_.size(); ++i)
    if (dialogs_[i]->Name == dialog->Name) {
      SelectItem(int32_t(i));
      return;
    }
  dialog->Alpha = 0;
  dialogs_.push_back(dialog);
  SetChanged();
  restart_ = true;
  faded_ = int32_t(dialogs_.size()) - 1;
}

void TThirdSlide::SelectItem(int32_t index) {
  if (closing_) return;
  closing_ = true;
  restart_ = true;
  faded_ = index >= 0 && size_t(index) < dialogs_.size() ? index : int32_t(dialogs_.size()) - 1;
}

void TThirdSlide::RemoveItem(int32_t index) {
  if (index == -1) index = int32_t(dialogs_.size()) - 1;
  // Departure: removing a dialog that is not there does nothing (instead of
  // stopping the engine thread).
  if (index < 0 || size_t(index) >= dialogs_.size()) return;
  dialogs_.erase(dialogs_.begin() + index);
  SetChanged();
  closing_ = false;
  if (faded_ == index) faded_ = -1;
  else if (faded_ > index) --faded_;
}

void TThirdSlide::CloseDialogs() {
  int32_t kept = -1;
  for (int32_t i = int32_t(dialogs_.size()) - 1; i >= 0; --i) {
    if (!dialogs_[size_t(i)]->Pause) continue;
    if (kept < 0) {
      kept = i;
    } else {
      RemoveItem(i);
      --kept;
    }
  }
  if (kept >= 0) SelectItem(kept);
}

void TThirdSlide::Draw(TDeviceDrawer* drawer) {
  for (auto& d : dialogs_) {
    drawer->Render(d.get());
    d->Drawn = true;
  }
  const int32_t bar = panel_ ? panel_->BarItemIndex : -1, corner = panel_ ? panel_->CornerItemIndex : -1;
  bool margins = false;
  auto fill_margins = [&] {
    if (margins) return;
    margins = true;
    if (root_ && root_->ClearFrame()) FillMargins(drawer, root_->HiderColor);
  };
  for (int32_t i = 0; i < int32_t(items_.size()); ++i) {
    const TImageItem& item = items_[size_t(i)];
    if (!item.Picture) continue;
    const bool panel_item = i == bar || i == corner;
    if (panel_item && HidePanel) continue;
    if (panel_item) fill_margins();
    TImageDrawParams params = item.Params;
    if (i == logo_index_ && logo_lookup_) {
      auto* d3 = dynamic_cast<T3DDrawer*>(drawer);
      if (T3DScreen* screen = d3 ? d3->Screen() : nullptr) {
        if (!grade_) grade_ = MakeRef<TColorGradeWrapper>(nullptr);
        grade_->UpdateLut(screen, 3, logo_lookup_.get());
        params.GradeMode = 1;
        // Our drawer reads the mix as the grade's strength: 1 draws the logo
        // wholly through its conversion. (The premultiplied-colour flag
        // stays off: the logo's colours are straight.)
        params.GradeMix = 1.0f;
        params.GradeLut1 = params.GradeLut2 = grade_->Texture();
      }
    }
    const T3DPoint origin{item.X, item.Y, 0};
    const T3DPoint x_axis{item.W, 0, 0}, y_axis{0, item.H, 0};
    drawer->DrawImage(item.Picture.get(), origin, params, y_axis, x_axis,
                      TSize{NavRound(item.W), NavRound(item.H)});
  }
  fill_margins();
  Changed = 0;
  VisibilityChanged = 0;
}

}  // namespace kav
