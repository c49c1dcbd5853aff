#include "VoRav/Application2/FormDevice/vxFormDevice.h"

#include "VoRav/Application2/winMouseCursor.h"

namespace kav {

namespace {

// Cursor changed, size changed, and the form going.
const uint32_t kFormEvents[] = {kFormCursor + 1u, kFormSize + 1u, kFormEventDestroy};

}  // namespace

TVxFormDevice::TVxFormDevice(TVxForm* form)
    : TDrawDevice(form->Controller()->GetHandle()), form_(form) {
  form_->OnActivate = TDelegate<void()>::Bind<&TVxFormDevice::FormActivated>(this);
  form_->OnPaint = TDelegate<void()>::Bind<&TVxFormDevice::FormPainted>(this);
  form_->Events()->AddHandlers(kFormEvents, TEventListHandler::Bind<&TVxFormDevice::FormEvent>(this));
}

bool TVxFormDevice::CanDraw() { return form_ && form_->IsForeground(); }

void TVxFormDevice::FormActivated() {
  if (OnActivate) OnActivate(this);
}

// The window system lost the picture (a map, an expose, a new size): a
// still slide draws no other frame by itself.
void TVxFormDevice::FormPainted() { Repaint(); }

void TVxFormDevice::FormEvent(TRefObject*, uint32_t id, void*) {
  if (!form_) return;
  if (id == kFormCursor + 1u) {
    RefreshCursor();
  } else if (id == kFormSize + 1u) {
    SetBounds(form_->Bounds(), form_->ClientToScreen(TPoint{0, 0}), FullScreen());
  } else if (id == kFormEventDestroy) {
    // The form goes before the device: the device lets go of it.
    Detach();
  }
}

void TVxFormDevice::Detach() {
  if (!form_) return;
  form_->Events()->RemoveHandlers(kFormEvents, TEventListHandler::Bind<&TVxFormDevice::FormEvent>(this));
  if (form_->OnActivate == TDelegate<void()>::Bind<&TVxFormDevice::FormActivated>(this)) form_->OnActivate = nullptr;
  if (form_->OnPaint == TDelegate<void()>::Bind<&TVxFormDevice::FormPainted>(this)) form_->OnPaint = nullptr;
  form_ = nullptr;
}

void TVxFormDevice::Dispose() {
  Detach();
  TDrawDevice::Dispose();
}

}  // namespace kav
