#include "KavLib2/NavPanel/KavOverlayDialog.h"

#include "KavLib2/KavClasses/KavObjectActions.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

TKavOverlayDialog::TKavOverlayDialog(TKavDialog* dialog, TSlideWindowProducer* slides)
    : dialog_(dialog), slides_(slides) {
  if (!dialog) return;  // an empty dialog draws and answers nothing
  Name = dialog->Name;
  Pause = dialog->DialogPause;
}

void TKavOverlayDialog::Dispose() {
  ReleaseDeviceResources();
  dialog_ = nullptr;
  slides_ = nullptr;
  TOverlayDialog::Dispose();
}

void TKavOverlayDialog::ReleaseDeviceResources() {
  if (visitor_ && dialog_) dialog_->ReleaseResources(visitor_.get());
  visitor_.reset();
  prepared_on_ = nullptr;
}

void TKavOverlayDialog::Draw(TDeviceDrawer* drawer) {
  if (!dialog_ || !drawer) return;
  // The pictures belong to the drawer that prepared them: one visitor per
  // drawer, replaced when another drawer draws the dialog.
  if (prepared_on_ != drawer || !visitor_) {
    ReleaseDeviceResources();
    visitor_ = std::make_unique<TDrawerResourceVisitor>(drawer);
    prepared_on_ = drawer;
  }
  dialog_->PrepareResources(visitor_.get());
  // The dialog's objects take their opacity from its scale value.
  dialog_->ScaleValue = Alpha;
  drawer->Render(dialog_.get());
}

bool TKavOverlayDialog::NeedsDraw() { return dialog_ && dialog_->NeedsDraw(); }

TRefObject* TKavOverlayDialog::ProcessMouse(const TEngineMouseState& mouse, TKavAction& action) {
  if (!dialog_) return nullptr;
  // The engine's points are in the window; the dialog's start where the
  // show's picture stands, as a slide's do.
  const TRect visible = slides_ ? slides_->GetVisibleRect() : TRect{0, 0, 0, 0};
  TObjectAction parsed;
  TKavObject* hit = dialog_->ProcessMouse(float(mouse.X - visible.Left), float(mouse.Y - visible.Top), mouse.Shift,
                                          true, mouse.Kind, mouse.Button, parsed);
  if (hit && parsed.Kind != kActionNone) {
    // The object action codes are the action record's kinds.
    action.Kind = uint8_t(parsed.Kind);
    action.Int = parsed.SlideIndex;
    action.Text = parsed.Argument;
  }
  return hit;
}

Ref<TOverlayDialog> MakeKavOverlayDialog(TSlideWindowProducer* slides, const std::u16string& name) {
  if (!slides) return nullptr;
  Ref<TDrawItem> made;
  try {
    made = slides->CreateCustomDialog(name);
  } catch (const Exception& e) {
    // A damaged dialog section leaves the show without that dialog.
    LogLine(u"Dialog not built: " + name + u": " + SystemUTF8ToWide(e.what()));
    return nullptr;
  }
  auto* dialog = dynamic_cast<TKavDialog*>(made.get());
  if (!dialog) return nullptr;
  return MakeRef<TKavOverlayDialog>(dialog, slides);
}

void InstallOverlayDialogs() { SetOverlayDialogMaker(&MakeKavOverlayDialog); }

}  // namespace kav
