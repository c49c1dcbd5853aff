// The classic progress-bar painter: a sunken frame on the face colour and
// segments (or a smooth bar) in the kind's colour; the animator that
// glides values for 200 ms and runs the marquee at 200 pixels per second;
// the animation handler that ticks every drawer from the shared time
// refresh notifier while the painter has drawers. GUI thread only.
#pragma once

#include "VoRav/Composite/vxEvents.h"
#include "VoRav/Composite/vxThemedProgressBarTheme.h"

namespace kav {

// Segment geometry of a bar: segment width, gap and count. Segments: for
// W - 4 >= 5 and H - 4 >= 5, s = trunc((H - 8) / 1.5) (at least 1), g = 2,
// n = ceil((W - 8) / (s + g)), else all 0. Smooth (kinds 3 and 4): s = 1,
// g = 0, n = W - 8.
struct TProgressGeometry {
  int32_t Segment = 0;
  int32_t Gap = 0;
  int32_t Count = 0;
  int32_t Step() const { return Segment + Gap; }
};
TProgressGeometry ProgressGeometry(int32_t width, int32_t height, uint8_t kind);
// Kinds 3 and 4 fill smoothly; 0 to 2 in segments.
bool ProgressKindIsSmooth(uint8_t kind);
// The glide of a new value (ms) and the marquee's speed (pixels per second).
inline constexpr uint32_t kProgressGlideTime = 200;
inline constexpr int32_t kMarqueeSpeed = 200;

class TStdProgressAnimator : public TProgressAnimator {
 public:
  void SetValue(uint32_t duration, bool reverse, bool& done, float target) override;
  void StartMarquee(int32_t period, int32_t speed, bool reverse) override;
  float GetValue() override;
  int32_t GetMarqueePosition() override;
  bool IsRunning() override { return running_; }
  bool MarqueeOn() const { return marquee_; }
  int32_t Period() const { return period_; }

 private:
  bool running_ = false;
  uint32_t start_time_ = 0;
  float target_ = 0;
  float start_value_ = 0;
  uint32_t duration_ = 0;
  int32_t period_ = 0;
  int32_t speed_ = 0;
  bool marquee_ = false;
  bool reverse_ = false;
};

class TStdDrawer : public TProgressBarDrawer {
 public:
  using TProgressBarDrawer::TProgressBarDrawer;

  void Tick() override;
  void SetSize(TSize size) override;
  void SetKind(uint8_t kind) override;
  void StartMarquee(bool reverse) override;
  void SetValue(bool reverse, bool& done, float value) override;
  Ref<TImage> GetPicture() override;
  // Draws the whole bar into the bitmap (of the drawer's size) and keeps
  // the extent drawn.
  virtual void DrawInto(TSysBitmap* bitmap);
  // The extent the picture would show now differs from the one drawn.
  virtual bool NeedsRedraw();
  int32_t LastExtent() const { return last_extent_; }

 protected:
  // What the picture shows now, as one number: the segment count or bar
  // width, or the marquee's first segment or block edge.
  virtual int32_t CurrentExtent();
  // The marquee's period in pixels for the drawer's size and kind.
  virtual int32_t MarqueePeriod();
};

class TProgressBarStdTheme : public TProgressBarTheme {
 public:
  explicit TProgressBarStdTheme(TControlStyles* styles);

  // The first drawer subscribes the animation handler to the shared time
  // refresh notifier.
  void AddDrawer(TProgressBarDrawer* drawer) override;
  Ref<TProgressBarDrawer> CreateDrawer() override;
  // 152 x 17.
  void GetDefaultSize(TSize& size) override;
  // Each drawer's step; with none left the handler unsubscribes.
  void Tick() override;
  // Whether the handler listens to the notifier now.
  bool Subscribed() const;

 protected:
  void Dispose() override;

 private:
  class TAnimateHandler : public TEventHandler {
   public:
    explicit TAnimateHandler(TProgressBarStdTheme* painter) : painter_(painter) {}
    void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;
    TProgressBarStdTheme* painter_;
  };
  Ref<TAnimateHandler> handler_;
};

// Module initialisation: the progress painter factory makes TProgressBarStdTheme.
void InitThemedProgressBarStdTheme();

}  // namespace kav
