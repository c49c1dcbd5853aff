#include "KavLib2/NavPanel/KavVideoNavBar.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/Text/vxTextProducer2.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// Design sizes from the skin: a pair of exactly two numbers, else (0, 0).
void ReadPair(TIniFile* d, std::u16string_view section, std::u16string_view key, int32_t& a, int32_t& b) {
  const auto v = SplitNavValue(IniReadString(d, section, key, u""));
  a = b = 0;
  if (v.size() != 2) return;
  const int32_t x = NavValueInt(v[0], INT32_MIN), y = NavValueInt(v[1], INT32_MIN);
  if (x == INT32_MIN || y == INT32_MIN) return;
  a = std::clamp(x, 0, kNavMaxBarSide);
  b = std::clamp(y, 0, kNavMaxBarSide);
}

int32_t ReadSize(TIniFile* d, std::u16string_view section, std::u16string_view key) {
  return std::clamp(IniReadInteger(d, section, key, 0), 0, kNavMaxBarSide);
}

Ref<TSysBitmap> NewBar(int32_t w, int32_t h) {
  if (w <= 0 || h <= 0 || w > kNavMaxBarSide || h > kNavMaxBarSide || !BitmapSizeAllowed(w, h, 4)) return nullptr;
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, w, h}, 0);
  return b;
}

TNavBarFactory g_previous = nullptr;

Ref<TCustomNavBar> CreateVideoNavBar(const std::u16string& type) {
  if (type == u"video") return MakeRef<TVideoNavBar>();
  return g_previous(type);
}

// The halving of the scale for narrow frames stops here (relative to the
// scale it started from).
constexpr double kMinScaleFactor = 1.0 / 64;

}  // namespace

void RegisterVideoNavBar() {
  static std::once_flag once;
  std::call_once(once, [] { g_previous = PushNavBarFactory(&CreateVideoNavBar); });
}

TVideoNavBar::TVideoNavBar() = default;

void TVideoNavBar::Dispose() {
  ClearSkin();
  TCustomNavBar::Dispose();
}

void TVideoNavBar::ClearSkin() {
  doc_ = nullptr;
  NinePatchClear(track_line_);
  NinePatchClear(background_);
  NinePatchClear(thumb_);
  for (auto& strip : buttons_)
    for (auto& p : strip) NinePatchClear(p);
  cached_bg_ = nullptr;
  cached_track_ = nullptr;
  digits_.clear();
  BarBitmap = nullptr;
  CornerBitmap = nullptr;
  ObjectNames.clear();
}

void TVideoNavBar::LoadSkin(Ref<TIniFile> doc, const std::u16string& folder) {
  ClearSkin();
  KAV_ASSERT_MSG(!folder.empty() && (folder.back() == u'/' || folder.back() == u'\\'), "Path delimiter nof found!");
  doc_ = doc;
  folder_ = folder;
  TIniFile* d = doc_.get();
  const int32_t bg_left = ReadSize(d, u"Common", u"BgLeft"), bg_right = ReadSize(d, u"Common", u"BgRight");
  const int32_t tl_left = ReadSize(d, u"Common", u"TrackLineLeft");
  const int32_t tl_right = ReadSize(d, u"Common", u"TrackLineRight");
  ReadPair(d, u"Pixel positions", u"BarSize", bar_w_, bar_h_);
  ReadPair(d, u"Pixel positions", u"BtnSize", btn_w_, btn_h_);
  ReadPair(d, u"Pixel positions", u"DigitSize", digit_w_, digit_h_);
  track_h_ = ReadSize(d, u"Pixel positions", u"TrackHeight");
  volume_len_ = ReadSize(d, u"Pixel positions", u"VolumeControlLength");
  left_space_ = ReadSize(d, u"Pixel positions", u"LeftSpace");
  buttons_track_ = ReadSize(d, u"Pixel positions", u"ButtonsTrackSpace");
  track_digits_ = ReadSize(d, u"Pixel positions", u"TrackDigitsSpace");
  digits_sound_ = ReadSize(d, u"Pixel positions", u"DigitsSoundBtnSpace");
  sound_track_ = ReadSize(d, u"Pixel positions", u"SoundBtnTrackSpace");
  right_space_ = ReadSize(d, u"Pixel positions", u"RightSpace");
  scale_ = 1.0;
  KAV_ASSERT(On.LoadImage);
  auto load = [&](std::u16string_view section, std::u16string_view key) -> Ref<TSysBitmap> {
    const std::u16string name = IniReadString(d, section, key, u"");
    Ref<TSysBitmap> bmp;
    if (name.empty()) return bmp;
    std::u16string path;
    // Skin names are show input: they stay inside the skin's folder.
    if (!SafePathCombine(folder_, name, path)) {
      LogLine(u"Navigation skin picture refused (leaves the skin folder): " + name);
      return bmp;
    }
    On.LoadImage(this, path, bmp);
    return bmp;
  };
  Ref<TSysBitmap> b = load(u"Common", u"flnm_back");
  NinePatchAssign(background_, b.get(), bg_left, 0, bg_right, 0);
  b = load(u"Trackbar", u"flnm_Line");
  NinePatchAssign(track_line_, b.get(), tl_left, 0, tl_right, 0);
  b = load(u"Trackbar", u"flnm_Polzun");
  NinePatchAssign(thumb_, b.get(), 0, 0, 0, 0);
  thumb_w_ = b ? std::min(b->Width(), kNavMaxBarSide) : 0;
  thumb_h_ = b ? std::min(b->Height(), kNavMaxBarSide) : 0;
  const char16_t* strips[3] = {u"flnm_Normal", u"flnm_Hover", u"flnm_Click"};
  for (int s = 0; s < 3; ++s) {
    b = load(u"Buttons", strips[s]);
    for (int32_t i = 0; i < kPicCount; ++i)
      NinePatchAssignArea(buttons_[size_t(s)][size_t(i)], b.get(),
                          TRect{i * btn_w_, 0, (i + 1) * btn_w_, btn_h_}, 0, 0, 0, 0);
  }
  ObjectNames = {u"backward", u"forward"};
}

TVideoNavBar::TLayout TVideoNavBar::Layout() const {
  TLayout l;
  const double s = scale_;
  l.W = frame_width_;
  l.H = NavRound(bar_h_ * s);
  l.Th = NavRound(track_h_ * s);
  l.V = NavRound(volume_len_ * s);
  l.bw = NavRound(btn_w_ * s);
  l.bh = NavRound(btn_h_ * s);
  l.dw = NavRound(digit_w_ * s);
  l.dh = NavRound(digit_h_ * s);
  l.tw = NavRound(thumb_w_ * s);
  l.th = NavRound(thumb_h_ * s);
  const int32_t n = int32_t(Items.size());
  l.TrackStart = left_space_ + l.bw * (n + 1) + buttons_track_;
  l.DigitsEnd = l.W - right_space_ - l.V - sound_track_ - l.bw - digits_sound_;
  l.DigitsWidth = l.dw * (long_show_ ? 18 : 12);
  l.TrackEnd = l.DigitsEnd - l.DigitsWidth;
  l.SoundLeft = l.DigitsEnd + digits_sound_;
  l.VolumeLeft = l.W - right_space_ - l.V;
  l.VolumeRight = l.W - right_space_;
  return l;
}

void TVideoNavBar::Fit() {
  TLayout l = Layout();
  hidden_ = l.tw + l.TrackStart >= l.TrackEnd || l.W <= 0 || l.H <= 0 || l.W > kNavMaxBarSide ||
            l.H > kNavMaxBarSide;
  if (hidden_) return;
  // Departure: when the fixed gaps alone leave no room, halving never ends;
  // it stops at a smallest scale and the bar keeps that scale.
  const double smallest = scale_ * kMinScaleFactor;
  while (l.tw + l.TrackStart + 100 >= l.TrackEnd && scale_ / 2 >= smallest) {
    scale_ /= 2;
    l = Layout();
  }
  hidden_ = l.H <= 0 || l.tw + l.TrackStart >= l.TrackEnd;
  cached_bg_ = nullptr;
  cached_track_ = nullptr;
  digits_.clear();
  BarBitmap = nullptr;
  CornerBitmap = nullptr;
}

void TVideoNavBar::SetBarHeight(int32_t height) {
  // A skin without a design height cannot be scaled to a height: the scale
  // stays (instead of dividing by zero).
  if (bar_h_ > 0) scale_ = double(height) / bar_h_;
  Fit();
}

void TVideoNavBar::SetScale(double scale) {
  scale_ = std::isfinite(scale) && scale > 0 ? scale : 1.0;
  Fit();
}

void TVideoNavBar::SetItems(const std::vector<int32_t>& items, int32_t count) {
  if (hidden_) return;
  TCustomNavBar::SetItems(items, count);
  states_.assign(items.size() + 3, 0);
  if (On.Duration) duration_ = On.Duration(this);
  if (!std::isfinite(duration_)) duration_ = 0;
  long_show_ = duration_ >= 3600000.0;
  hidden_ = Layout().tw + Layout().TrackStart >= Layout().TrackEnd;
  if (hidden_) return;
  last_thumb_x_ = last_seconds_ = INT32_MIN;
  Repaint(kPartPlay | kPartItems | kPartTrack | kPartSound | kPartVolume | (On.CornerQuery ? uint32_t(kPartCorner) : 0u));
}

double TVideoNavBar::LoopedTime() const {
  if (std::fabs(duration_) < 1e-6) return 0;
  return time_ - std::trunc(time_ / duration_) * duration_;
}

int32_t TVideoNavBar::TimeThumbCentre() const {
  const TLayout l = Layout();
  if (std::fabs(duration_) < 1e-6 || time_ < 0) return l.tw / 2 + l.TrackStart;
  return l.tw / 2 + int32_t(std::trunc(l.TrackStart + LoopedTime() * (l.TrackEnd - l.tw - l.TrackStart) / duration_));
}

int32_t TVideoNavBar::VolumeThumbCentre() const {
  const TLayout l = Layout();
  if (volume_ < 0 || volume_ > 1) return l.tw / 2 + l.VolumeLeft;
  return l.tw / 2 + NavRound(l.VolumeLeft + volume_ * (l.VolumeRight - l.tw - l.VolumeLeft));
}

std::u16string TVideoNavBar::DigitsText() const {
  auto two = [](int64_t v) {
    std::u16string s;
    s += char16_t(u'0' + (v / 10) % 10);
    s += char16_t(u'0' + v % 10);
    return s;
  };
  auto hms = [&](double ms) {
    const int64_t secs = std::isfinite(ms) && ms > 0 ? int64_t(std::min(ms * 0.001, 1e12)) : 0;
    const int64_t h = (secs / 3600) % 100, m = (secs / 60) % 60, s = secs % 60;
    return long_show_ ? two(h) + u":" + two(m) + u":" + two(s) : two(m) + u":" + two(s);
  };
  return hms(std::max(0.0, LoopedTime())) + u" / " + hms(duration_);
}

void TVideoNavBar::MakeDigits(const TLayout& l) {
  if (!digits_.empty() || l.dh <= 0) return;
  static const char16_t* kTexts[12] = {u"0", u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8", u"9", u":", u" / "};
  TFontDesc font;
  FontDescSetAll(font, u"DejaVu Sans", 32, 0, TRGBTriple{255, 255, 255}, TRGBTriple{}, true);
  auto producer = MakeRef<TTextProducer>();
  for (const char16_t* t : kTexts) {
    Ref<TSysBitmap> scaled;
    Ref<TVectorText> text;
    try {
      text = NewSimpleVectorText(font, {t});
    } catch (const Exception& e) {
      // Departure: with no usable font on the system the bar goes on without
      // its digits instead of ending the program.
      LogLine(u"Navigation bar drawn without digits: " + SystemUTF8ToWide(e.what()));
      digits_.assign(12, nullptr);
      return;
    }
    if (text) {
      producer->SetSource(text.get(), false);
      Ref<TImage> img = producer->ProduceText(0xFFFFFFFF, 0x00000000, 1.0f);
      Ref<TBitmap> level = img ? img->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass) : nullptr;
      auto* src = static_cast<TSysBitmap*>(level.get());
      // A text measured with no height has no picture (instead of failing).
      if (src && src->Height() > 0 && src->Width() > 0) {
        const int32_t w = std::max(1, NavRound(double(src->Width()) * l.dh / src->Height()));
        scaled = NewBar(w, l.dh);
        if (scaled) StretchBilinear32(src, scaled.get());
      }
      producer->SetSource(nullptr, false);
    }
    digits_.push_back(scaled);
  }
}

void TVideoNavBar::RestoreBackground(int32_t left, int32_t right) {
  const TLayout l = Layout();
  if (!cached_bg_) {
    cached_bg_ = NewBar(l.W, l.H);
    if (!cached_bg_) return;
    DrawNinePatch(cached_bg_.get(), TRect{0, 0, l.W, l.H}, TRect{0, 0, l.W, l.H}, background_);
  }
  const TRect r{std::max(0, left), 0, std::min(l.W, right), l.H};
  if (!r.IsEmpty()) BarBitmap->CopyRect(r, cached_bg_.get(), 0, TPoint{r.Left, 0});
}

void TVideoNavBar::DrawButton(TSysBitmap* target, int32_t x, int32_t y, int32_t picture, uint8_t state) {
  if (picture < 0 || picture >= kPicCount) return;
  const TLayout l = Layout();
  const TNinePatch& p = buttons_[std::min<size_t>(state, 2)][size_t(picture)];
  const TRect r{x, y, x + l.bw, y + l.bh};
  DrawNinePatch(target, TRect{0, 0, target->Width(), target->Height()}, r, p);
}

void TVideoNavBar::DrawDigits() {
  const TLayout l = Layout();
  MakeDigits(l);
  const std::u16string text = DigitsText();
  std::vector<TSysBitmap*> pics;
  int32_t total = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t k = 12;
    if (text[i] >= u'0' && text[i] <= u'9') k = size_t(text[i] - u'0');
    else if (text[i] == u':') k = 10;
    else if (text.compare(i, 3, u" / ") == 0) {
      k = 11;
      i += 2;
    }
    TSysBitmap* p = k < digits_.size() ? digits_[k].get() : nullptr;
    if (!p) continue;
    pics.push_back(p);
    total += p->Width();
  }
  const int32_t left = l.TrackEnd + track_digits_;
  int32_t x = left + (l.DigitsEnd - left - total) / 2;
  const int32_t y = (l.H - l.dh) / 2;
  for (TSysBitmap* p : pics) {
    AlphaCompositeRect32(BarBitmap.get(), TPoint{x, y}, p, TPoint{0, 0}, p->Width(), p->Height());
    x += p->Width();
  }
}

void TVideoNavBar::Repaint(uint32_t parts) {
  if (hidden_) return;
  const TLayout l = Layout();
  if (!BarBitmap) {
    BarBitmap = NewBar(l.W, l.H);
    if (!BarBitmap) return;
    RestoreBackground(0, l.W);
  }
  TSysBitmap* bmp = BarBitmap.get();
  const int32_t by = (l.H - l.bh) / 2, ly = (l.H - l.Th) / 2, ty = (l.H - l.th) / 2;
  if (parts & kPartPlay) {
    RestoreBackground(left_space_, left_space_ + l.bw);
    const bool paused = drag_track_ ? paused_before_ : paused_;
    DrawButton(bmp, left_space_, by, paused ? kPicPlay : kPicPause, states_.empty() ? 0 : states_[0]);
  }
  if (parts & kPartItems) {
    for (size_t k = 0; k < Items.size(); ++k) {
      const int32_t x = left_space_ + l.bw * int32_t(k + 1);
      RestoreBackground(x, x + l.bw);
      DrawButton(bmp, x, by, Items[k] + kPicBackward, k + 3 < states_.size() ? states_[k + 3] : 0);
    }
  }
  if (parts & kPartTrack) {
    const int32_t centre = TimeThumbCentre();
    if (centre != last_thumb_x_) {
      last_thumb_x_ = centre;
      RestoreBackground(l.TrackStart, l.TrackEnd);
      if (!cached_track_) {
        cached_track_ = NewBar(l.TrackEnd - l.TrackStart, l.Th);
        if (cached_track_)
          DrawNinePatch(cached_track_.get(), TRect{0, 0, l.TrackEnd - l.TrackStart, l.Th},
                        TRect{0, 0, l.TrackEnd - l.TrackStart, l.Th}, track_line_);
      }
      if (cached_track_)
        AlphaCompositeRect32(bmp, TPoint{l.TrackStart, ly}, cached_track_.get(), TPoint{0, 0}, cached_track_->Width(),
                             cached_track_->Height());
      DrawNinePatch(bmp, TRect{0, 0, l.W, l.H}, TRect{centre - l.tw / 2, ty, centre - l.tw / 2 + l.tw, ty + l.th},
                    thumb_);
    }
    const int32_t seconds = int32_t(std::clamp(LoopedTime() * 0.001, 0.0, 1e9));
    if (seconds != last_seconds_) {
      last_seconds_ = seconds;
      RestoreBackground(l.TrackEnd, l.DigitsEnd);
      DrawDigits();
    }
  }
  if (parts & kPartSound) {
    RestoreBackground(l.SoundLeft, l.SoundLeft + l.bw);
    DrawButton(bmp, l.SoundLeft, by, volume_ == 0 ? kPicMuted : kPicSound, states_.size() > 1 ? states_[1] : 0);
  }
  if (parts & kPartVolume) {
    RestoreBackground(l.VolumeLeft, l.VolumeRight);
    DrawNinePatch(bmp, TRect{0, 0, l.W, l.H}, TRect{l.VolumeLeft, ly, l.VolumeRight, ly + l.Th}, track_line_);
    const int32_t c = VolumeThumbCentre();
    DrawNinePatch(bmp, TRect{0, 0, l.W, l.H}, TRect{c - l.tw / 2, ty, c - l.tw / 2 + l.tw, ty + l.th}, thumb_);
  }
  if (parts & kPartCorner) {
    if (!CornerBitmap) CornerBitmap = NewBar(l.H, l.H);
    if (CornerBitmap) {
      CornerBitmap->FillRect(TRect{0, 0, l.H, l.H}, 0);
      DrawButton(CornerBitmap.get(), (l.H - l.bw) / 2, (l.H - l.bh) / 2, kPicExit, states_.size() > 2 ? states_[2] : 0);
    }
  }
  if (On.BarChanged) On.BarChanged(this, TRect{0, 0, l.W, l.H});
  if ((parts & kPartCorner) && CornerBitmap && On.CornerChanged) On.CornerChanged(this, TRect{0, 0, l.H, l.H});
}

void TVideoNavBar::SetTime(double t) {
  if (hidden_ || !std::isfinite(t)) return;
  const bool old_paused = paused_;
  if (On.IsPlaying) paused_ = !On.IsPlaying(this);
  if ((t != time_ || paused_ != old_paused) && !drag_track_) {
    time_ = t;
    uint32_t parts = 0;
    const int32_t seconds = int32_t(std::clamp(LoopedTime() * 0.001, 0.0, 1e9));
    if (TimeThumbCentre() != last_thumb_x_ || seconds != last_seconds_) parts |= kPartTrack;
    if (paused_ != old_paused) parts |= kPartPlay;
    if (parts) Repaint(parts);
  }
}

void TVideoNavBar::SetVolume(double v) {
  if (hidden_ || !std::isfinite(v) || v == volume_ || drag_volume_) return;
  const bool was_muted = volume_ == 0;
  const int32_t old_centre = VolumeThumbCentre();
  volume_ = v;
  uint32_t parts = 0;
  if ((volume_ == 0) != was_muted) parts |= kPartSound;
  if (VolumeThumbCentre() != old_centre) parts |= kPartVolume;
  if (parts) Repaint(parts);
}

void TVideoNavBar::SetTimeFromX(int32_t x) {
  const TLayout l = Layout();
  int32_t centre = std::abs(track_grab_) <= l.tw / 2 ? x - track_grab_ : x;
  centre = std::clamp(centre, l.TrackStart + l.tw / 2, std::max(l.TrackStart + l.tw / 2, l.TrackEnd - l.tw / 2));
  const int32_t span = l.TrackEnd - l.TrackStart - l.tw;
  time_ = span > 0 ? double(centre - l.TrackStart - l.tw / 2) / span * duration_ : 0;
}

bool TVideoNavBar::SetVolumeFromX(int32_t x) {
  const TLayout l = Layout();
  const bool was_muted = volume_ == 0;
  int32_t centre = std::abs(volume_grab_) <= l.tw / 2 ? x - volume_grab_ : x;
  centre = std::clamp(centre, l.VolumeLeft + l.tw / 2, std::max(l.VolumeLeft + l.tw / 2, l.VolumeRight - l.tw / 2));
  const int32_t span = l.VolumeRight - l.VolumeLeft - l.tw;
  // Departure: a volume control no longer than its thumb gives volume 0
  // instead of dividing by zero.
  volume_ = span > 0 ? std::clamp(double(centre - l.VolumeLeft - l.tw / 2) / span, 0.0, 1.0) : 0.0;
  return (volume_ == 0) != was_muted;
}

uint32_t TVideoNavBar::TakeActiveParts() {
  uint32_t parts = 0;
  for (size_t i = 0; i < states_.size(); ++i) {
    if (states_[i] == 0) continue;
    parts |= i == 0 ? kPartPlay : i == 1 ? kPartSound : i == 2 ? kPartCorner : kPartItems;
    states_[i] = 0;
  }
  return parts;
}

void TVideoNavBar::Down(int32_t x, int32_t y) {
  const TLayout l = Layout();
  uint32_t parts = TakeActiveParts();
  if (CornerEvent()) {
    const int32_t cw = CornerBitmap ? CornerBitmap->Width() : l.H, ch = CornerBitmap ? CornerBitmap->Height() : l.H;
    const int32_t cx = x - (cw - l.bw) / 2, cy = y - (ch - l.bh) / 2;
    if (cx >= 0 && cx <= l.bw && cy >= 0 && cy <= l.bh) {
      states_[2] = 2;
      if (On.Button) On.Button(this, -2);
      parts |= kPartCorner;
    }
    Repaint(parts);
    return;
  }
  const bool in_track_band = y >= (l.H - l.Th) / 2 && y <= (l.H + l.Th) / 2;
  const bool in_button_band = y >= (l.H - l.bh) / 2 && y <= (l.H + l.bh) / 2;
  if (in_track_band) {
    if (x >= l.TrackStart && x <= l.TrackEnd) {
      drag_track_ = true;
      paused_before_ = paused_;
      paused_ = true;
      track_grab_ = x - TimeThumbCentre();
      if (!paused_before_) {
        if (On.Button) On.Button(this, -1);
        parts |= kPartPlay;
      }
    } else if (x >= l.VolumeLeft && x <= l.VolumeRight) {
      volume_grab_ = x - VolumeThumbCentre();
      drag_volume_ = true;
      return;
    }
  }
  if (in_button_band && !drag_track_) {
    if (x >= left_space_ && x < left_space_ + l.bw) {
      states_[0] = 2;
      paused_ = !paused_;
      if (On.Button) On.Button(this, -1);
      parts |= kPartPlay;
    } else if (x >= l.SoundLeft && x < l.SoundLeft + l.bw) {
      states_[1] = 2;
      if (volume_ == 0) {
        volume_ = saved_volume_;
      } else {
        saved_volume_ = volume_;
        volume_ = 0;
      }
      if (On.SetVolume) On.SetVolume(this, volume_);
      parts |= kPartSound | kPartVolume;
    } else if (x >= left_space_ + l.bw && x < l.TrackStart && l.bw > 0) {
      const int32_t k = (x - left_space_) / l.bw - 1;
      if (k >= 0 && size_t(k) < Items.size()) {
        states_[size_t(k) + 3] = 2;
        if (On.Button) On.Button(this, k);
        parts |= kPartItems;
      }
    }
  }
  if (parts) Repaint(parts);
}

void TVideoNavBar::Move(int32_t x, int32_t y) {
  for (uint8_t s : states_)
    if (s == 2) return;
  const TLayout l = Layout();
  uint32_t parts = TakeActiveParts();
  if (drag_track_ && x >= l.TrackStart && x <= l.TrackEnd) {
    SetTimeFromX(x);
    if (On.GoToTime) On.GoToTime(this, time_);
    parts |= kPartTrack;
  }
  if (drag_volume_ && x >= l.VolumeLeft && x <= l.VolumeRight) {
    if (SetVolumeFromX(x)) parts |= kPartSound;
    if (On.SetVolume) On.SetVolume(this, volume_);
    parts |= kPartVolume;
  }
  if (CornerEvent()) {
    const int32_t cw = CornerBitmap ? CornerBitmap->Width() : l.H, ch = CornerBitmap ? CornerBitmap->Height() : l.H;
    const int32_t cx = x - (cw - l.bw) / 2, cy = y - (ch - l.bh) / 2;
    if (cx >= 0 && cx <= l.bw && cy >= 0 && cy <= l.bh) {
      states_[2] = 1;
      parts |= kPartCorner;
    }
  } else if (!drag_track_ && !drag_volume_ && y >= (l.H - l.bh) / 2 && y <= (l.H + l.bh) / 2) {
    if (x >= left_space_ && x < left_space_ + l.bw) {
      states_[0] = 1;
      parts |= kPartPlay;
    } else if (x >= l.SoundLeft && x < l.SoundLeft + l.bw) {
      states_[1] = 1;
      parts |= kPartSound;
    } else if (x >= left_space_ + l.bw && x < l.TrackStart && l.bw > 0) {
      const int32_t k = (x - left_space_) / l.bw - 1;
      if (k >= 0 && size_t(k) < Items.size()) {
        states_[size_t(k) + 3] = 1;
        parts |= kPartItems;
      }
    }
  }
  if (parts) Repaint(parts);
}

void TVideoNavBar::Up(int32_t x, int32_t y) {
  const TLayout l = Layout();
  uint32_t parts = TakeActiveParts();
  if (drag_track_) {
    paused_ = paused_before_;
    if (!paused_before_) {
      if (On.Button) On.Button(this, -1);
      parts |= kPartPlay;
    }
  }
  const bool corner = CornerEvent();
  const bool in_track_band = !corner && y >= (l.H - l.Th) / 2 && y <= (l.H + l.Th) / 2;
  if ((in_track_band || drag_track_) && x >= l.TrackStart && x <= l.TrackEnd) {
    SetTimeFromX(x);
    if (On.GoToTime) On.GoToTime(this, time_);
    parts |= kPartTrack;
  }
  if (!in_track_band && !drag_volume_) {
    drag_track_ = drag_volume_ = false;
    if (parts) Repaint(parts);
    return;
  }
  if (x >= l.VolumeLeft && x <= l.VolumeRight) {
    if (SetVolumeFromX(x)) parts |= kPartSound;
    if (On.SetVolume) On.SetVolume(this, volume_);
    parts |= kPartVolume;
  }
  drag_track_ = drag_volume_ = false;
  if (parts) Repaint(parts);
}

void TVideoNavBar::MouseEvent(int32_t button, uint32_t, int32_t x, int32_t y, uint8_t kind) {
  if (hidden_ || states_.size() < 3) return;
  if (button == 1 && kind == kNavMouseDown) Down(x, y);
  else if (kind == kNavMouseMove) Move(x, y);
  else if (button == 1 && kind == kNavMouseUp) Up(x, y);
}

}  // namespace kav
