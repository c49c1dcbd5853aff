// The pictures of a themed control's part and the cross-fade between them:
// TThemedControlImages keeps the cache of pictures per state key, the
// current picture and a running transition (blended by a TImageAnimator);
// TThemedControlAnimatedPart is a frame control that shows one such picture
// and drives the transition from the tree's time refresh.
//
// Times come from the window layer's clock (milliseconds, the clock the
// refresh timers run on), so tests drive transitions with a manual clock.
// GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/Composite/vxThemedControlImageCache.h"
#include "VoRav/Graphics/vxBitmapUtils.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TThemedControlImages : public TRefObject {
 public:
  // The picture of a key (nil when the painter has none) and its offset.
  using TGetImage = TDelegate<void(const std::u16string& key, TPoint& offset, Ref<TImage>& picture)>;
  using TNotify = TDelegate<void()>;

  TThemedControlImages();

  // Each is asserted to be assigned before it is called.
  TGetImage OnGetImage;
  TNotify OnStopTimer;
  TNotify OnStartTimer;
  TNotify OnChanged;

  // Shows the picture of `key`: cross-faded over `duration` ms from the
  // picture shown now, or at once (duration 0, no picture shown now, or an
  // empty new picture). With `cycle` the fade pulses while the state holds.
  void SetState(const std::u16string& key, uint32_t duration, bool cycle);
  // Advances a running transition (on each time refresh).
  void Tick();
  // Stops, releases every cached picture, shows nothing.
  void Reset();
  // The picture shown (the blend while animating) and its offset; false
  // when there is none.
  bool GetCurrentImage(Ref<TBitmap>& picture, TPoint& offset);
  // Draws the current picture at its offset. A control asked to paint
  // before it has a picture has `make` make it first; with still nothing to
  // show (an empty size) nothing is drawn.
  void PaintCurrent(TDrawSurface* surface, const std::function<void()>& make);

  bool Animating() const { return animating_; }
  TThemedControlImageCache& Cache() { return cache_; }
  TImageAnimator* Animator() const { return animator_.get(); }

 protected:
  void Dispose() override;

 private:
  // The cached picture of the key, asking the image source when absent.
  void Lookup(const std::u16string& key, Ref<TImage>& picture, TPoint& offset);
  void CallStop();
  void CallStart();
  void CallChanged();

  TThemedControlImageCache cache_;
  Ref<TImageAnimator> animator_;
  uint32_t start_time_ = 0;
  uint32_t duration_ = 0;
  Ref<TImage> current_;  // one of the cache's pictures
  TPoint current_offset_;
  bool animating_ = false;
  bool cycle_ = false;
  bool transition_ = false;  // the animator holds a started transition
};

class TThemedControlAnimatedPart : public TFrameControl {
 public:
  explicit TThemedControlAnimatedPart(TDrawFrame* frame);

  TThemedControlImages* Images() const { return images_.get(); }
  // Shows the picture of `key`, cross-faded over `duration` ms.
  void SetState(const std::u16string& key, uint32_t duration);

  void ThemeChanged() override;
  void Paint(TDrawSurface* surface) override;
  void SizeChanged() override;
  void InvalidateAll() override;
  void TimeRefresh() override;
  // Computes and applies the part's rectangle.
  virtual void UpdatePartBounds() = 0;
  // Requests the picture of the current state.
  virtual void UpdatePartImage() = 0;
  // The picture of a key: none here; descendants ask their painter.
  virtual void GetPartImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture);
  virtual void StartAnimationTimer() { StartTimeRefresh(); }
  virtual void StopAnimationTimer() { StopTimeRefresh(); }
  virtual void PartImageChanged() {}

 protected:
  void Dispose() override;

 private:
  void DoStart() { StartAnimationTimer(); }
  void DoStop() { StopAnimationTimer(); }
  void DoChanged() { PartImageChanged(); }

  Ref<TThemedControlImages> images_;
};

}  // namespace kav
