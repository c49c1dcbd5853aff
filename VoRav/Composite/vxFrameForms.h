// Frame forms: a top-level window that hosts one frame-control tree, seen
// apart from the window system. TFrameForm is the platform-neutral part
// (content, close handling, the abstract window state); the factory makes
// the platform's frame form from a style description. Three hooks let
// callers set a form's window alpha, shape and taskbar progress; each
// platform module chains its own in front of the previous one. GUI thread.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxEvents.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TBitmap;
class TDrawSurface;
class TVxForm;

// The base of the style descriptions handed to the factory.
class TFormStyle : public TRefObject {};

// What a frame form shows: it takes part in the close query and says
// whether the form owns it.
class TFrameFormContent : public TRefObject {
 public:
  // May change the close answer (0 nothing, 1 hide, 2 free, 3 minimize).
  virtual void CloseQuery(int32_t& action) { (void)action; }
  // True when the form must not free the content.
  virtual bool NotOwned() { return false; }
};

class TFrameForm : public TEventHandler {
 public:
  // The form must not be nil. Listens to the application's event 0 (close).
  explicit TFrameForm(TVxForm* form);

  TVxForm* Form() const { return form_; }
  TFrameFormContent* Content() const { return content_; }
  bool Destroying() const { return destroying_; }

  // Takes over the creator's reference to the content (unless it is not
  // owned); the previous content is not freed.
  virtual void SetContent(TFrameFormContent* content);
  virtual bool IsVisible() = 0;
  virtual void SetVisible(bool value) = 0;
  virtual std::u16string GetCaption() = 0;
  virtual void SetCaption(const std::u16string& text) = 0;
  // 0 normal, 1 minimized, 2 maximized.
  virtual uint8_t GetWindowState() = 0;
  virtual void SetWindowState(uint8_t state) = 0;
  virtual TRect GetBounds() = 0;
  virtual void SetBounds(const TRect& rect) = 0;
  // The window is asked to close.
  virtual void CloseRequested() = 0;
  // Draws the form's pixels into `target` at `point`; false when there are
  // none.
  virtual bool PaintTo(TDrawSurface* target, TPoint point, TSize size);

  // The close answer: 1 (hide) when not visible, else 2 as the content
  // leaves it.
  int32_t CloseQuery();

 protected:
  void Dispose() override;
  // Carries out a close answer (others than 0..3: assertion).
  virtual void CloseAction(int32_t action);
  void HandleClose(TRefObject* sender, uint32_t id, void* param);

  TVxForm* form_;
  TFrameFormContent* content_ = nullptr;
  bool destroying_ = false;
};

// The factory: makes a frame form (and its window form) for a style; the
// style may be nil or any TFormStyle.
using TFrameFormFactory = TFrameForm* (*)(TFormStyle* style);
extern TFrameFormFactory FrameFormFactory;
// Nil while no platform module installed a factory.
TFrameForm* CreateFrameForm(TFormStyle* style);

// The hooks (false: not applied). Alpha 0..255; shape from a 32-bit bitmap
// with alpha; taskbar progress code 0 queries (state and value written
// back), 1..5 set none, normal, error, paused, indeterminate.
using TWindowAlphaHook = bool (*)(TFrameForm* form, int32_t alpha);
using TWindowShapeHook = bool (*)(TFrameForm* form, TBitmap* bitmap);
using TTaskbarProgressHook = bool (*)(TFrameForm* form, int32_t& code, float& value);
extern TWindowAlphaHook WindowAlphaHook;
extern TWindowShapeHook WindowShapeHook;
extern TTaskbarProgressHook TaskbarProgressHook;

}  // namespace kav
