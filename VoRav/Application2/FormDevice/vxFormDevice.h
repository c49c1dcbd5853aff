// The draw device bound to a form's window: it follows the form's size and
// cursor, draws only while the form is in front, passes the form's
// activation on, and asks for its frame again when the form's window is
// painted (a full-screen device presents into that window itself, with no
// panel of its own to be painted). GUI thread.
#pragma once

#include "VoRav/3DBasics/Dev3DCore.h"
#include "VoRav/Application2/vxForms.h"

namespace kav {

class TVxFormDevice : public TDrawDevice {
 public:
  // Creates the form's window when it has none.
  explicit TVxFormDevice(TVxForm* form);

  // Whether the form's window is the one in front.
  bool CanDraw() override;
  TVxForm* Form() const { return form_; }

  // Called when the form's window is activated. The device's own callback:
  // the base draw device has none to forward to.
  T3DNotifyEvent OnActivate;

 protected:
  void Dispose() override;

 private:
  void FormEvent(TRefObject* sender, uint32_t id, void* param);
  void FormActivated();
  void FormPainted();
  void Detach();

  TVxForm* form_;  // cleared when the form goes first
};

}  // namespace kav
