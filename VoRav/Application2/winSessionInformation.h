// System queries of the window layer: whether the session is locked,
// whether desktop composition is on, the shell-item constructor, the
// screen's pixels per inch, and regions as rectangle lists.
//
// On Linux there are no session notifications, no desktop composition
// switch and no shell items: the session never counts as locked, the two
// others answer E_NOTIMPL, as the callers expect of a system without them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "VoRav/Application2/winHooks.h"
#include "VoRav/vxRectUtils.h"

namespace kav {

inline constexpr int32_t E_NOTIMPL_RESULT = static_cast<int32_t>(0x80004001);

class TSessionManager : public TRefObject {
 public:
  // With `notifications` (a system that reports session changes) the
  // application window is registered, which needs the application
  // ("WinApllication not Initializaed" otherwise).
  explicit TSessionManager(bool notifications);
  bool Locked() const { return locked_.load(); }
  bool Registered() const { return registered_; }

 protected:
  void Dispose() override;

 private:
  void SessionChange(win::HWND window, TMessageRecord& msg, bool& handled);
  void ApplicationEvent(TRefObject* sender, uint32_t id, void* param);
  void Unregister();

  std::atomic<bool> locked_{false};
  bool registered_ = false;
  TRefObject* application_ = nullptr;
};

// Any thread. The manager is made on the GUI thread only; asked first from
// another thread the answer is "not locked".
bool IsSessionLocked();
// The manager when one was made (for tests), and its release.
TSessionManager* SessionManager();
void FreeSessionManager();

// -> E_NOTIMPL; `enabled` is left unchanged.
int32_t IsDwmCompositionEnabled(bool& enabled);
// -> E_NOTIMPL; `item` is cleared.
int32_t SHCreateItemFromParsingName(const std::u16string& path, void** item);

void ScreenPixelsPerInch(int32_t& x, int32_t& y);

// A region: disjoint rectangles and their bounds.
class TRegion : public TRefObject {
 public:
  TRectList Rects;
  TRect Bounds;
};
// Appends the region's rectangles; false for no region.
bool RegionToRects(const TRegion* region, TRect& bounds, TRectList& list);
// A region of the rectangles; nil for an empty list.
Ref<TRegion> RectsToRegion(const TRectList& rects, const TRect& bounds);

}  // namespace kav
