// What the engine asks of the layer it draws over the slides (logo,
// navigation panel, dialogs). The overlay lives in a library above the
// engine, which installs its maker here; without one the engine runs with no
// overlay.
#pragma once

#include <cstdint>
#include <string>

#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "KavLib2/KavEngine/KavAction.h"
#include "KavLib2/KavEngine/KavPreparedSlide.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TFileAccessor;
class TIniList;
class TRootItem;
class TCustomNavBar;
class TColorProfile;
class TSlideWindowProducer;

class TEngineOverlay : public TDrawItem {
 public:
  // Once per engine pass with the show time.
  virtual void SetTime(double time) = 0;
  // Asked before the slides: the action a dialog or the panel gives, whether
  // they took the event and the object hit.
  virtual void HitTest(const TEngineMouseState& mouse, TKavAction& action, bool& handled, TRefObject*& object) = 0;
  // 0 no panel or the mouse rests, 1 the mouse moves, 2 over the panel.
  virtual int32_t PanelMode() = 0;
  // Some open dialog holds the show.
  virtual bool IsPausing() const = 0;
  virtual bool HasDialog() const = 0;
  // Opens the named dialog ("help" for the help dialog); a second call
  // for a dialog that is open closes it.
  virtual void ShowDialog(const std::u16string& name) = 0;
  // Starts closing the top dialog.
  virtual void CloseTopDialog() = 0;
  // Before navigation: closes the dialogs that hold the show.
  virtual void CloseDialogs() = 0;

  // Nothing of the overlay changes until an input or a call: no dialog, and
  // its panel absent or hidden with no fade running. False when not known.
  virtual bool Settled() const { return false; }
  // Set around an off-screen render: the panel is left out of the picture.
  bool HidePanel = false;
};

struct TEngineOverlaySetup {
  TFileAccessor* Accessor = nullptr;
  TIniList* Options = nullptr;  // the show's option file (nil: no logo, no panel)
  TRect Visible;                // where the show's picture stands
  TColorProfile* OutputProfile = nullptr;  // the logo's colour target (nil: the display's)
  TRootItem* Root = nullptr;    // for its margin fill
  bool OverlayFlag = false;     // true: no navigation panel
  TDelegate<bool(TCustomNavBar*)> IsPlaying;
  TDelegate<void(TCustomNavBar*, double)> GoToTime;
  TDelegate<void(TCustomNavBar*, double)> SetVolume;
  TSize Window;                 // the whole drawing area
  TSize Aspect;                 // the show's aspect size
  double Volume = 1.0;
  double Duration = 0;          // ms
  TSlideWindowProducer* Slides = nullptr;  // the show's slide production: makes its dialogs
};

using TEngineOverlayMaker = Ref<TEngineOverlay> (*)(const TEngineOverlaySetup& setup);
void SetEngineOverlayMaker(TEngineOverlayMaker maker);
// Nil when no maker is installed.
Ref<TEngineOverlay> NewEngineOverlay(const TEngineOverlaySetup& setup);

}  // namespace kav
