// Progress-bar painters: a painter makes one drawer per bar and ticks them
// all from one animation handler; a drawer keeps the bar's picture, its
// animator makes value changes glide and runs the marquee. The classic
// painter is in vxThemedProgressBarStdTheme, the visual-styles one in
// winThemedProgressBarTheme. GUI thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TProgressBarTheme;

// Moves the shown value toward the target and the marquee along the bar.
// Times are the window layer's clock (ms).
class TProgressAnimator : public TRefObject {
 public:
  // A new target: glides over `duration` ms when the change goes forward
  // (up, or down with `reverse`), else jumps; `done` says it jumped.
  virtual void SetValue(uint32_t duration, bool reverse, bool& done, float target) = 0;
  // Runs the marquee over `period` pixels at `speed` pixels per second.
  virtual void StartMarquee(int32_t period, int32_t speed, bool reverse) = 0;
  // The value shown now; asserted not to be asked while the marquee runs.
  virtual float GetValue() = 0;
  // The marquee's position in [0, period).
  virtual int32_t GetMarqueePosition() = 0;
  virtual bool IsRunning() = 0;
};

class TProgressBarDrawer : public TRefObject {
 public:
  explicit TProgressBarDrawer(TProgressBarTheme* painter, Ref<TProgressAnimator> animator);

  // Raised when the picture changed by itself (an animation step).
  TDelegate<void()> OnChanged;

  TProgressBarTheme* Painter() const { return painter_; }
  TProgressAnimator* Animator() const { return animator_.get(); }
  TSize Size() const { return TSize{width_, height_}; }
  uint8_t Kind() const { return kind_; }
  bool Marquee() const { return marquee_; }
  bool HasPicture() const { return bool(picture_); }

  // One animation step: a new picture when what it shows moved on.
  virtual void Tick() = 0;
  virtual void SetSize(TSize size) = 0;
  // 0 to 4; another kind is an assertion failure.
  virtual void SetKind(uint8_t kind) = 0;
  virtual void StartMarquee(bool reverse) = 0;
  // The marquee stops; `done` says the new value shows at once.
  virtual void SetValue(bool reverse, bool& done, float value) = 0;
  // The bar's picture (kept until something changes); nil for an empty size.
  virtual Ref<TImage> GetPicture() = 0;

 protected:
  void Dispose() override;
  // Forgets the picture (and the bitmap when `bitmap`).
  void DropPicture(bool bitmap);

  TProgressBarTheme* painter_;
  Ref<TProgressAnimator> animator_;
  Ref<TSysBitmap> bitmap_;
  Ref<TImage> picture_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  uint8_t kind_ = 0;
  float value_ = 0;
  bool marquee_ = false;
  bool reverse_ = false;
  int32_t last_extent_ = -1;
};

class TProgressBarTheme : public TFrameControlTheme {
 public:
  using TFrameControlTheme::TFrameControlTheme;

  virtual void AddDrawer(TProgressBarDrawer* drawer);
  // The drawer must be in the list (an assertion failure otherwise).
  virtual void RemoveDrawer(TProgressBarDrawer* drawer);
  // A new drawer for one bar; the bar adds it with AddDrawer.
  virtual Ref<TProgressBarDrawer> CreateDrawer() = 0;
  virtual void GetDefaultSize(TSize& size) = 0;
  // One animation step of every drawer.
  virtual void Tick() = 0;

  int32_t DrawerCount() const { return int32_t(drawers_.size()); }

 protected:
  // Asserts that no drawer is left.
  void Dispose() override;
  std::vector<TProgressBarDrawer*> drawers_;
};

// Makes the progress-bar painter of a style set (attached to it). The
// default raises "AllocProgressBarTheme undefined".
using TProgressBarThemeFactory = TProgressBarTheme* (*)(TControlStyles* styles);
extern TProgressBarThemeFactory AllocProgressBarTheme;
// The attached painter of the style set (the default one for nil), made by
// the factory when there is none.
TProgressBarTheme* ProgressBarThemeOf(TControlStyles* styles);
// Puts the factory back to its default.
void ResetProgressBarThemeFactory();

}  // namespace kav
