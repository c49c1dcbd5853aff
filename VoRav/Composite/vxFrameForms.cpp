#include "VoRav/Composite/vxFrameForms.h"

#include "VoRav/Application2/vxApplication.h"
#include "VoRav/Application2/vxForms.h"

namespace kav {

namespace {

bool NoAlpha(TFrameForm*, int32_t) { return false; }
bool NoShape(TFrameForm*, TBitmap*) { return false; }
bool NoProgress(TFrameForm*, int32_t&, float&) { return false; }

constexpr uint32_t kApplicationCloseEvent = 0;

}  // namespace

TFrameFormFactory FrameFormFactory = nullptr;
TWindowAlphaHook WindowAlphaHook = &NoAlpha;
TWindowShapeHook WindowShapeHook = &NoShape;
TTaskbarProgressHook TaskbarProgressHook = &NoProgress;

TFrameForm* CreateFrameForm(TFormStyle* style) { return FrameFormFactory ? FrameFormFactory(style) : nullptr; }

TFrameForm::TFrameForm(TVxForm* form) : form_(form) {
  KAV_ASSERT(form != nullptr);
  if (TApplication* app = Application())
    app->AddHandler(kApplicationCloseEvent, TEventListHandler::Bind<&TFrameForm::HandleClose>(this));
}

void TFrameForm::Dispose() {
  if (TApplication* app = Application())
    app->RemoveHandler(kApplicationCloseEvent, TEventListHandler::Bind<&TFrameForm::HandleClose>(this));
  destroying_ = true;
  if (TFrameFormContent* c = std::exchange(content_, nullptr))
    if (!c->NotOwned()) c->Free();
  form_ = nullptr;
  TEventHandler::Dispose();
}

void TFrameForm::SetContent(TFrameFormContent* content) { content_ = content; }

bool TFrameForm::PaintTo(TDrawSurface* target, TPoint point, TSize size) {
  (void)target;
  (void)point;
  (void)size;
  return false;
}

int32_t TFrameForm::CloseQuery() {
  if (!IsVisible()) return kCloseHide;
  int32_t action = kCloseFree;
  if (content_) content_->CloseQuery(action);
  return action;
}

void TFrameForm::HandleClose(TRefObject*, uint32_t, void*) {
  Ref<TFrameForm> keep = KeepAlive(this);
  if (keep) CloseAction(CloseQuery());
}

void TFrameForm::CloseAction(int32_t action) {
  switch (action) {
    case kCloseNone: break;
    case kCloseHide: SetVisible(false); break;
    case kCloseFree: Free(); break;
    case kCloseMinimize:
      if (GetWindowState() != 1) SetWindowState(1);
      break;
    default: KAV_ASSERT_FAIL("Assertion failure");
  }
}

}  // namespace kav
