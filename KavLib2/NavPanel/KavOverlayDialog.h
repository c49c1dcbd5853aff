// The show's dialogs (the help dialog and its custom dialogs) as the overlay
// shows them: a dialog slide made by slide production, drawn with the
// overlay's fade as its opacity and hit-tested like a slide of the show.
// Engine thread only.
#pragma once

#include <memory>
#include <string>

#include "KavLib2/KavObjects/KavSlideProducer.h"
#include "KavLib2/NavPanel/KavThirdSlide.h"

namespace kav {

class TKavOverlayDialog : public TOverlayDialog {
 public:
  // `slides` answers where the show's picture stands (nil: at the origin).
  TKavOverlayDialog(TKavDialog* dialog, TSlideWindowProducer* slides);

  TKavDialog* Dialog() const noexcept { return dialog_.get(); }

  // The dialog's objects at the overlay's alpha, their pictures prepared on
  // the drawer first.
  void Draw(TDeviceDrawer* drawer) override;
  // Hover looks and pressed buttons ask for a new frame.
  bool NeedsDraw() override;
  TRefObject* ProcessMouse(const TEngineMouseState& mouse, TKavAction& action) override;

 protected:
  void Dispose() override;

 private:
  void ReleaseDeviceResources();

  Ref<TKavDialog> dialog_;
  Ref<TSlideWindowProducer> slides_;
  std::unique_ptr<TDrawerResourceVisitor> visitor_;
  TDeviceDrawer* prepared_on_ = nullptr;
};

// The overlay's dialog maker: the named dialog of the show through its slide
// production, nil when there is none.
Ref<TOverlayDialog> MakeKavOverlayDialog(TSlideWindowProducer* slides, const std::u16string& name);

// Installs MakeKavOverlayDialog as the overlay's dialog maker (start-up;
// RegisterNavOverlay does it too).
void InstallOverlayDialogs();

}  // namespace kav
