// The overlay the engine draws over the slides of an open show: the show's
// logo, the navigation panel (which fades out while the mouse rests) and a
// stack of dialogs (help and the show's custom dialogs) that fade in and out
// and may hold the show while open. Engine thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "KavLib2/KavEngine/KavAction.h"
#include "KavLib2/KavEngine/KavEngineOverlay.h"
#include "KavLib2/KavEngine/KavPreparedSlide.h"
#include "KavLib2/KavEngine/KavRootItem.h"
#include "KavLib2/KavEngine/KavSlideLoader.h"
#include "KavLib2/NavPanel/KavNavPanel.h"

namespace kav {

// A dialog the overlay shows: slide production makes them (the help dialog
// and the show's custom dialogs); the overlay only needs these.
class TOverlayDialog : public TDrawItem {
 public:
  std::u16string Name;
  float Alpha = 0;     // 0..100, written by the overlay's fade
  bool Pause = true;   // holds the show while in the overlay
  bool Drawn = false;  // set by the overlay once rendered
  // Hit-tests the dialog's objects as a slide's; answers the object hit
  // (nil when none) and may fill the action.
  virtual TRefObject* ProcessMouse(const TEngineMouseState& mouse, TKavAction& action) = 0;
};

using TOverlaySetup = TEngineOverlaySetup;

class TThirdSlide;
class TColorGradeWrapper;
// Makes the named dialog (the help dialog or a custom one) through the
// show's slide production (nil when the engine gave none); installed at
// start-up. Nil when the show has no such dialog.
using TOverlayDialogMaker = Ref<TOverlayDialog> (*)(TSlideWindowProducer* slides, const std::u16string& name);
void SetOverlayDialogMaker(TOverlayDialogMaker maker);

// Installs the overlay as the engine's (start-up calls it once).
void RegisterNavOverlay();

class TThirdSlide : public TEngineOverlay {
 public:
  struct TImageItem {
    Ref<TImage> Picture;
    TImageDrawParams Params;
    float X = 0, Y = 0;
    float W = 0, H = 0;  // the rectangle's size in pixels
  };

  // A nil accessor fails the assertion.
  static Ref<TThirdSlide> Build(const TOverlaySetup& setup);

  void SetTime(double time) override;
  // Asks the dialogs (top first), then the panel. `handled` is true when a
  // dialog or the panel took the event.
  void HitTest(const TEngineMouseState& mouse, TKavAction& action, bool& handled, TRefObject*& object) override;
  // 0 without a panel, 2 while the mouse is over it, else 1 while the mouse
  // moves and 0 when it rests.
  int32_t PanelMode() override;
  bool IsPausing() const override;
  bool HasDialog() const override { return !dialogs_.empty(); }
  bool Settled() const override;
  // Through the dialog maker; nothing (and a log line) without one.
  void ShowDialog(const std::u16string& name) override;
  void CloseTopDialog() override { SelectItem(-1); }
  void CloseDialogs() override;
  TOverlayDialog* CurrentDialog() const { return dialogs_.empty() ? nullptr : dialogs_.back().get(); }
  void AddItem(Ref<TOverlayDialog> dialog);
  void SelectItem(int32_t index);
  void RemoveItem(int32_t index);

  int32_t AddImageItem(TImage* picture, const TImageDrawParams& params, const TRect& rect);
  void ReplaceImageItem(int32_t index, TImage* picture, const TImageDrawParams& params, const TRect& rect);

  void Draw(TDeviceDrawer* drawer) override;
  bool NeedsDraw() override { return Changed != 0 || VisibilityChanged != 0; }

  TNavPanel* Panel() const { return panel_.get(); }
  const std::vector<TImageItem>& ImageItems() const { return items_; }
  const std::vector<Ref<TOverlayDialog>>& Dialogs() const { return dialogs_; }
  int32_t LogoItemIndex() const { return logo_index_; }
  float PanelAlpha() const { return panel_alpha_; }
  bool PanelHidden() const { return hidden_; }
  TMouseMoveDetector* Detector() const { return detector_.get(); }
  double LogoScale() const { return scale_; }
  TSysBitmap* LogoLookup() const { return logo_lookup_.get(); }

 protected:
  void Dispose() override;

 private:
  void LoadLogo(const std::u16string& name, const TImageDrawParams& params, float size, const TNavPercentPoint& p,
                const TNavPercentPoint& a);
  void BarImage(TImage* picture, const TImageDrawParams& params, int32_t& index, const TRect& rect);
  void CornerImage(TImage* picture, const TImageDrawParams& params, int32_t& index, const TRect& rect);
  void SetItemImage(TImage* picture, int32_t& index, const TRect& rect);
  static TImageItem MakeImageItem(TImage* picture, const TImageDrawParams& params, const TRect& rect);
  void SetForced() { VisibilityChanged = 1; }
  void SetChanged() { Changed = 1; }

  double scale_ = 1.0;
  bool window_bottom_ = true;
  TRect visible_;
  TSize window_;
  TRootItem* root_ = nullptr;
  Ref<TNavPanel> panel_;
  Ref<TMouseMoveDetector> detector_ = MakeRef<TMouseMoveDetector>();
  std::vector<TImageItem> items_;
  bool hide_option_ = false;
  int32_t fade_out_ = 1000, fade_in_ = 500;
  float panel_alpha_ = 100;
  int32_t logo_index_ = -1;
  Ref<TFileAccessor> accessor_;
  Ref<TSlideWindowProducer> slides_;  // makes the dialogs
  Ref<TImage> logo_;
  Ref<TSysBitmap> logo_lookup_;  // the logo's colour conversion, nil without one
  Ref<TColorGradeWrapper> grade_;
  TColorProfile* output_profile_ = nullptr;
  std::vector<Ref<TOverlayDialog>> dialogs_;
  int64_t dialog_start_ = 0, dialog_end_ = 0;
  bool restart_ = false, closing_ = false;
  int32_t faded_ = -1;
  bool hidden_ = false;
  int64_t fade_start_ = 0, fade_end_ = 0;
};

// "opt_cp" names: "Left-Top" .. "Left" give 0..7, "Center" and anything
// else 8.
int32_t NavPositionCode(std::u16string_view text);
// "opt_logo_pos" values to position codes.
int32_t LogoPositionCode(int32_t pos);

}  // namespace kav
