// What the themed check box and radio button share: the box part (an
// animated picture of the painter's glyph for the current state), the
// caption made on first use, hot and pressed tracking, the layout of box and
// caption, the hit zones and the focus frame. TThemedCheckControl is put
// over the base class of each control; the control adds its tick and what a
// click does. GUI thread only.
#pragma once

#include <algorithm>
#include <cstdint>

#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxThemedCheckBoxTheme.h"
#include "VoRav/Composite/vxThemedControlImages.h"
#include "VoRav/wpExceptions.h"

namespace kav {

// What the box part asks of the control that owns it.
class TCheckControlOwner {
 public:
  virtual ~TCheckControlOwner() = default;
  virtual void LayoutParts() = 0;
  virtual void RefreshPicture() = 0;
  virtual TCheckMarkTheme* MarkPainter() const = 0;
};

// The box (or circle) of a check box or radio button. It never takes the
// mouse: the owner does.
class TCheckPartImage : public TThemedControlAnimatedPart {
 public:
  TCheckPartImage(TDrawFrame* frame, TCheckControlOwner* owner) : TThemedControlAnimatedPart(frame), owner_(owner) {}
  TCheckControlOwner* Owner() const { return owner_; }
  void Forget() { owner_ = nullptr; }

  bool ContainsPoint(int32_t, int32_t) override { return false; }
  void UpdatePartBounds() override {
    if (owner_) owner_->LayoutParts();
  }
  void UpdatePartImage() override {
    if (owner_) owner_->RefreshPicture();
  }
  void GetPartImage(const std::u16string& key, TPoint& offset, Ref<TImage>& picture) override {
    offset = TPoint{0, 0};
    picture = owner_ ? owner_->MarkPainter()->DrawPart(key, TSize{width_, height_}, offset) : nullptr;
  }

 private:
  TCheckControlOwner* owner_;
};

class TCheckBoxImage : public TCheckPartImage {
 public:
  using TCheckPartImage::TCheckPartImage;
};

class TRadioButtonImage : public TCheckPartImage {
 public:
  using TCheckPartImage::TCheckPartImage;
};

// Hit zones of TThemedCheckControl::HitCode.
enum : int32_t { kCheckHitNone = 0, kCheckHitBand = 1, kCheckHitBox = 2, kCheckHitCaption = 3 };

template <class Base, class Painter, class Image>
class TThemedCheckControl : public Base, public TCheckControlOwner {
 public:
  TThemedCheckControl(TDrawFrame* frame, TControlStyles* styles, Painter* painter)
      : Base(frame, styles), painter_(painter) {
    KAV_ASSERT(painter != nullptr);
    TDrawFrame* f = this->CreateChildFrame();
    KAV_ASSERT(f != nullptr);
    box_ = new Image(f, this);
    box_->Events()->AddHandler(kFrameEventDestroying, this);
    if (auto* focus_root = dynamic_cast<TFocusRoot*>(this->GetRootControl())) {
      focus_ = Ref<TFocusHelper>(AttachFocusHelper(focus_root));
      if (focus_)
        focus_->AddListener(TFocusHelper::TListener::Bind<&TThemedCheckControl::FocusCuesChanged>(this));
    }
  }

  Painter* GetPainter() const { return painter_; }
  TCheckMarkTheme* MarkPainter() const override { return painter_; }
  Image* BoxPart() const { return box_; }
  TFrameCaption* CaptionIfMade() const { return caption_; }
  bool Hot() const { return hot_; }
  bool Pressed() const { return pressed_; }
  bool RightToLeft() const { return right_to_left_; }
  void SetRightToLeft(bool value) {
    if (value == right_to_left_) return;
    right_to_left_ = value;
    LayoutParts();
    this->InvalidateAll();
  }
  // The base classes keep no auto-size byte; the themed controls keep it
  // here. With it the control takes the size its caption needs.
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool value) {
    if (value == auto_size_) return;
    auto_size_ = value;
    this->SetSize(this->width_, this->height_);
  }
  // The caption area set by the last layout.
  const TRect& TextRect() const { return text_rect_; }

  TFrameCaption* GetCaption() override {
    if (!caption_) {
      TDrawFrame* f = this->CreateChildFrame();
      KAV_ASSERT(f != nullptr);
      // The toolkit's caption is one line (it has no word wrapping): a long
      // text ends in an ellipsis.
      caption_ = AllocFrameCaption(f);
      caption_->Events()->AddHandler(kFrameEventChanged, this);
      caption_->Events()->AddHandler(kFrameEventDestroying, this);
      LayoutParts();
    }
    return caption_;
  }

  void LayoutParts() override { this->Layout(); }

  void Layout() override {
    if (!this->frame_) return;
    const TSize size{this->width_, this->height_};
    TRect box;
    painter_->GetBoxRect(this->frame_, size, box, right_to_left_);
    if (box_) {
      box_->SetPosition(box.Left, box.Top);
      box_->SetSize(box.Width(), box.Height());
    }
    if (caption_) {
      painter_->GetTextRect(this->frame_, size, text_rect_, caption_->GetWidth(), right_to_left_);
      caption_->SetPosition(text_rect_.Left, text_rect_.Top);
      caption_->SetSize(text_rect_.Width(), text_rect_.Height());
    } else {
      text_rect_ = TRect{};
    }
  }

  // The state flags and tick of now; the box shows their picture, faded
  // when the painter asks for it.
  void RefreshPicture() override {
    if (!box_) return;
    const uint8_t state = !this->IsEnabled() ? uint8_t(kCheckPartDisabled)
                                             : uint8_t((pressed_ ? kCheckPartPressed : 0) | (hot_ ? kCheckPartHot : 0));
    const uint8_t tick = CurrentTick();
    const std::u16string key = painter_->StateName(tick, state);
    uint32_t ms = 0;
    if (!painter_->GetTransitionTime(last_tick_, tick, ms, state, last_state_)) ms = 0;
    box_->SetState(key, ms);
    last_tick_ = tick;
    last_state_ = state;
  }

  void ConstrainSize(int32_t& width, int32_t& height) override {
    Base::ConstrainSize(width, height);
    if (!this->frame_) return;
    TSize text{0, 0};
    if (caption_) {
      text.cx = caption_->GetWidth();
      text.cy = caption_->GetHeight();
    }
    TSize preferred;
    painter_->GetDefaultSize(this->frame_, text, preferred);
    if (auto_size_) width = preferred.cx;
    height = preferred.cy;
  }

  // 2 the box, 3 the caption, 1 the band between them, 0 outside.
  int32_t HitCode(int32_t x, int32_t y) const {
    auto inside = [](const TRect& r, int32_t px, int32_t py) {
      return px >= r.Left && px < r.Right && py >= r.Top && py < r.Bottom;
    };
    TRect box{};
    if (box_) {
      const TPoint p = box_->GetPosition();
      box = TRect{p.X, p.Y, p.X + box_->GetWidth(), p.Y + box_->GetHeight()};
    }
    if (inside(box, x, y)) return kCheckHitBox;
    if (!caption_) return kCheckHitNone;
    const TRect text = text_rect_;
    if (inside(text, x, y)) return kCheckHitCaption;
    const TRect band{right_to_left_ ? text.Right : box.Right, std::min(box.Top, text.Top),
                     right_to_left_ ? box.Left : text.Left, std::max(box.Bottom, text.Bottom)};
    return inside(band, x, y) ? kCheckHitBand : kCheckHitNone;
  }
  bool ContainsPoint(int32_t x, int32_t y) override { return HitCode(x, y) != kCheckHitNone; }

  void MouseEvent(TMouseData* data) override {
    Base::MouseEvent(data);
    if (!this->IsEnabled()) return;
    // Hot follows the hit flag on presses and releases too, not only on
    // moves, so a click that arrives without a move still counts.
    const bool was_hot = hot_, was_pressed = pressed_;
    if (data->Kind == kMouseMove) {
      hot_ = data->HitResult != 0;
    } else if (data->Kind == kMouseDown && data->Button == kMouseLeft) {
      hot_ = data->HitResult != 0;
      pressed_ = true;
      if (FocusOnPress()) this->Focus();
    } else if (data->Kind == kMouseUp && data->Button == kMouseLeft && pressed_) {
      hot_ = data->HitResult != 0;
      pressed_ = false;
      if (hot_) ClickByMouse();
    }
    if (hot_ != was_hot || pressed_ != was_pressed) RefreshPicture();
  }

  void MouseLeave() override {
    Base::MouseLeave();
    if (!hot_) return;
    hot_ = false;
    RefreshPicture();
  }

  void EnabledChanged() override {
    Base::EnabledChanged();
    if (!this->IsEnabled()) hot_ = pressed_ = false;
    RefreshPicture();
  }

  void StateChanged() override {
    RefreshPicture();
    Base::StateChanged();
  }

  // The caption draws no background of its own, so the focus frame
  // around it stays visible.
  void GetInheritedStyle(TFontDesc& style) override {
    Base::GetInheritedStyle(style);
    FontDescSetTransparent(style, true);
  }

  void ThemeChanged() override {
    Base::ThemeChanged();
    LayoutParts();
  }

  void Paint(TDrawSurface* surface) override {
    if (this->Focused() && caption_ && (!focus_ || focus_->ShowFocusRect())) painter_->DrawFocus(surface, text_rect_);
  }

  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override {
    if (caption_ && sender == caption_) {
      if (tag == kFrameEventDestroying) {
        caption_ = nullptr;
      } else if (tag == kFrameEventChanged) {
        // The caption's size feeds the control's height (and width with
        // auto size): the constraints are applied again.
        this->SetSize(this->width_, this->height_);
        LayoutParts();
        this->InvalidateAll();
      }
      return;
    }
    if (box_ && sender == box_) {
      if (tag == kFrameEventDestroying) box_ = nullptr;
      return;
    }
    Base::HandleEvent(sender, tag, param);
  }

 protected:
  // The painter's tick of the control's state now.
  virtual uint8_t CurrentTick() = 0;
  // A left click ended on the control.
  virtual void ClickByMouse() = 0;
  // Whether a left-button down focuses the control.
  virtual bool FocusOnPress() { return this->GetTabStop(); }

  void Dispose() override {
    if (focus_) {
      focus_->RemoveListener(TFocusHelper::TListener::Bind<&TThemedCheckControl::FocusCuesChanged>(this));
      focus_ = nullptr;
    }
    if (box_) box_->Forget();
    Base::Dispose();
  }

  Painter* painter_;
  Image* box_ = nullptr;             // a child control, owned by the tree
  TFrameCaption* caption_ = nullptr;  // a child control, made on first use
  bool hot_ = false;
  bool pressed_ = false;
  uint8_t last_tick_ = 0;
  uint8_t last_state_ = 0;
  bool right_to_left_ = false;
  bool auto_size_ = false;
  TRect text_rect_{};
  Ref<TFocusHelper> focus_;

 private:
  void FocusCuesChanged(TFocusHelper*, int32_t) { this->InvalidateAll(); }
};

}  // namespace kav
