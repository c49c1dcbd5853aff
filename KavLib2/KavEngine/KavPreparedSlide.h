// A prepared slide as the engine, the root item and the slide loader see it:
// the slide's draw object, its times (shifted by its loop offset), the time
// it reads from the loader's timing and what the engine asks of it on the
// drawer. Slide production realises it; tests use their own.
#pragma once

#include <cmath>
#include <cstdint>

#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "KavLib2/KavEngine/KavAction.h"

namespace kav {

// The last mouse state the viewer handed to the engine.
struct TEngineMouseState {
  uint8_t Kind = 0;    // 0 move, 1 press, 2 release
  uint8_t Button = 0;
  uint32_t Shift = 0;
  int32_t X = 0, Y = 0;
};

struct TPreparedSlideTimes {
  double Begin = 0;
  double End = 0;
  double EffectTime = 0;      // the incoming transition's length
  double NextEffectTime = 0;  // the next slide's transition length
  double EndPlusNext = 0;     // End + NextEffectTime
};

class TPreparedSlide : public TRefObject {
 public:
  int32_t Index = 0;
  TPreparedSlideTimes Times;

  // The slide's object, drawn as one item (nil: nothing to draw).
  virtual TDrawItem* Object() = 0;
  // The show time from the loader's timing.
  virtual double GetTime() = 0;
  // Lays the slide's objects out at show time `t`.
  virtual void SetTime(double t) = 0;
  // The incoming transition's parameters, nil without a transition.
  virtual TDrawFilterParams* Transition() { return nullptr; }
  // Whether the transition's filter has its effect object (it can draw).
  virtual bool TransitionHasEffect() { return Transition() != nullptr; }
  // The transition's progress; a change makes the frame change.
  virtual double TransitionProgress() { return 0; }
  // The show time of the next change the clock alone brings to the slide at
  // or after show time `t` (an object's visible window opening or closing, a
  // keyframe, a modifier, something that plays by itself); infinity when it
  // stands still from `t` on, `t` itself when it changes now or it is not
  // known (the engine then looks again every frame). With the clock
  // standing (`clock_runs` false) only what plays by itself counts.
  virtual double NextChange(double t, bool /*clock_runs*/) { return t; }
  bool StillFrom(double t) { return std::isinf(NextChange(t, true)); }
  // Called after a frame drew the transition into this slide.
  virtual void TransitionAfterDraw(TDeviceDrawer* /*drawer*/) {}

  // The engine's operations on the drawer.
  virtual void PrepareOn(TDeviceDrawer* /*drawer*/) {}
  virtual void PreloadOn(TDeviceDrawer* /*drawer*/, double /*slide_time*/) {}
  virtual void ReleaseDeviceResources() {}
  // Hit-tests the slide's objects; a hit may give an action (on release)
  // and says whether a link lies under the mouse. True on a hit.
  virtual bool ProcessMouse(const TEngineMouseState& /*mouse*/, TKavAction& /*action*/, bool& /*link*/) {
    return false;
  }
};

}  // namespace kav
