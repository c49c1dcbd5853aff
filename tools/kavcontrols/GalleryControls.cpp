#include "tools/kavcontrols/GalleryControls.h"

#include <algorithm>
#include <cstdio>

#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxFramePanels.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winFrameEdit.h"
#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "platform/window/WinApi.h"

namespace kav::gallery {

bool LogClicks = false;

namespace {

uint32_t SysColor(int32_t index) {
  const uint32_t c = win::GetSysColor(index);  // 0x00BBGGRR
  return 0xFF000000u | (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);
}

TFontDesc LabelFont(uint32_t color = 0x000000, float size = 9) {
  TFontDesc f;
  f.FaceName = u"DejaVu Sans";
  f.Size = size;
  f.Color1 = TRGBTriple{uint8_t(color), uint8_t(color >> 8), uint8_t(color >> 16)};
  f.Mode = 2;
  return f;
}

// Text on a control, left-aligned and centred vertically in `r`.
void DrawLabel(TFrameControl* c, TDrawSurface* s, const std::u16string& text, const TRect& r, uint32_t color = 0,
               bool centre = false, float size = 9) {
  if (!c->Frame() || text.empty()) return;
  const TFontDesc font = LabelFont(color, size);
  TTextSize ts;
  c->Frame()->MeasureText(text, font, ts);
  Ref<TTextElement> e = c->Frame()->CreateTextElement(text, font);
  if (!e) return;
  const int32_t x = centre ? r.Left + (r.Width() - ts.Width) / 2 : r.Left;
  const int32_t y = r.Top + (r.Height() - ts.Height) / 2;
  s->DrawText(e.get(), TPoint{x, y}, r);
}

// A classic raised (or sunken) bevel from the system colours.
void ClassicBevel(TDrawSurface* s, const TRect& r, bool sunken) {
  const uint32_t light = SysColor(win::COLOR_BTNHIGHLIGHT), dark = SysColor(win::COLOR_BTNSHADOW);
  const uint32_t frame = 0xFF000000u | 0x404040u;
  const uint32_t tl = sunken ? frame : light, br = sunken ? light : frame;
  const uint32_t tl2 = sunken ? dark : SysColor(win::COLOR_BTNFACE), br2 = sunken ? SysColor(win::COLOR_BTNFACE) : dark;
  s->FillRect(r, SysColor(win::COLOR_BTNFACE));
  s->FillRect(TRect{r.Left, r.Top, r.Right, r.Top + 1}, tl);
  s->FillRect(TRect{r.Left, r.Top, r.Left + 1, r.Bottom}, tl);
  s->FillRect(TRect{r.Left, r.Bottom - 1, r.Right, r.Bottom}, br);
  s->FillRect(TRect{r.Right - 1, r.Top, r.Right, r.Bottom}, br);
  s->FillRect(TRect{r.Left + 1, r.Top + 1, r.Right - 1, r.Top + 2}, tl2);
  s->FillRect(TRect{r.Left + 1, r.Top + 1, r.Left + 2, r.Bottom - 1}, tl2);
  s->FillRect(TRect{r.Left + 1, r.Bottom - 2, r.Right - 1, r.Bottom - 1}, br2);
  s->FillRect(TRect{r.Right - 2, r.Top + 1, r.Right - 1, r.Bottom - 1}, br2);
}

// A theme part drawn into a bitmap of its own and put on the surface; false
// when the visual style cannot draw it (classic mode).
bool ThemedPart(TDrawSurface* s, int32_t element, int32_t code, const TRect& r) {
  if (r.IsEmpty()) return false;
  Ref<TSysBitmap> b = CreateSysBitmap(r.Width(), r.Height(), StdFormats().A8R8G8B8);
  if (!b) return false;
  if (ThemeDrawBackground(ThemeElementDetails(element, code), b.get(), TRect{0, 0, r.Width(), r.Height()},
                          nullptr) != 0)
    return false;
  s->DrawBitmap(b.get(), r, r.Left, r.Top);
  return true;
}

// A control with hover and press tracking that reports its clicks.
class TSample : public TFrameControl {
 public:
  TSample(TDrawFrame* frame, const std::string& name, bool styled) : TFrameControl(frame), styled_(styled) {
    SetName(name);
  }
  void MouseEvent(TMouseData* data) override {
    TFrameControl::MouseEvent(data);
    const bool inside = data->Local.X >= 0 && data->Local.Y >= 0 && data->Local.X < width_ && data->Local.Y < height_;
    if (inside != hot_) {
      hot_ = inside;
      InvalidateAll();
    }
    if (data->Kind == kMouseDown && data->Button == kMouseLeft) {
      pressed_ = true;
      InvalidateAll();
    } else if (data->Kind == kMouseUp && pressed_) {
      pressed_ = false;
      if (inside) {
        ++clicks_;
        Clicked();
        if (LogClicks) {
          std::printf("click %s\n", Name().c_str());
          std::fflush(stdout);
        }
      }
      InvalidateAll();
    }
  }
  void MouseLeave() override {
    TFrameControl::MouseLeave();
    hot_ = false;
    InvalidateAll();
  }

 protected:
  virtual void Clicked() {}
  bool styled_;
  bool hot_ = false;
  bool pressed_ = false;
  int32_t clicks_ = 0;
};

class TPushButton : public TSample {
 public:
  using TSample::TSample;
  void Paint(TDrawSurface* s) override {
    const TRect r{0, 0, width_, height_};
    const int32_t code = pressed_ && hot_ ? 4 : hot_ ? 3 : 2;
    if (!styled_ || !ThemedPart(s, teButton, code, r)) ClassicBevel(s, r, pressed_ && hot_);
    std::u16string text = u"Button";
    if (clicks_) text += u" (" + std::u16string(1, char16_t(u'0' + clicks_ % 10)) + u")";
    DrawLabel(this, s, text, r, SysColor(win::COLOR_BTNTEXT) & 0xFFFFFF, true);
  }
};

class TCheckBox : public TSample {
 public:
  using TSample::TSample;
  void Paint(TDrawSurface* s) override {
    s->FillRect(TRect{0, 0, width_, height_}, SysColor(win::COLOR_BTNFACE));
    const TRect box{0, (height_ - 13) / 2, 13, (height_ - 13) / 2 + 13};
    const int32_t code = (checked_ ? 20 : 16) + (pressed_ && hot_ ? 2 : hot_ ? 1 : 0);
    if (!styled_ || !ThemedPart(s, teButton, code, box)) {
      s->FillRect(box, 0xFF808080u);
      s->FillRect(TRect{box.Left + 1, box.Top + 1, box.Right - 1, box.Bottom - 1},
                  pressed_ && hot_ ? SysColor(win::COLOR_BTNFACE) : 0xFFFFFFFFu);
      if (checked_)
        for (int32_t i = 0; i < 7; ++i) {  // a tick of two strokes
          const int32_t x = box.Left + 3 + i, y = i < 2 ? box.Top + 6 + i : box.Top + 9 - (i - 2);
          s->FillRect(TRect{x, y - 1, x + 1, y + 2}, 0xFF000000u);
        }
    }
    DrawLabel(this, s, u"Check box", TRect{18, 0, width_, height_}, SysColor(win::COLOR_BTNTEXT) & 0xFFFFFF);
  }

 protected:
  void Clicked() override { checked_ = !checked_; }
  bool checked_ = false;
};

class TScrollArrows : public TSample {
 public:
  using TSample::TSample;
  void Paint(TDrawSurface* s) override {
    s->FillRect(TRect{0, 0, width_, height_}, SysColor(win::COLOR_BTNFACE));
    for (int32_t i = 0; i < 4; ++i) {
      const TRect r{i * 20, 0, i * 20 + 17, 17};
      const int32_t code = 2 + i * 4 + (hot_ && pressed_ ? 2 : hot_ ? 1 : 0);
      if (!styled_ || !ThemedPart(s, teScrollBar, code, r)) ClassicBevel(s, r, hot_ && pressed_);
    }
  }
};

class TSwatches : public TSample {
 public:
  using TSample::TSample;
  void Paint(TDrawSurface* s) override {
    const int32_t colours[] = {win::COLOR_BTNFACE, win::COLOR_BTNHIGHLIGHT, win::COLOR_BTNSHADOW,
                               win::COLOR_HIGHLIGHT, win::COLOR_WINDOW, win::COLOR_BTNTEXT};
    s->FillRect(TRect{0, 0, width_, height_}, SysColor(win::COLOR_BTNFACE));
    for (int32_t i = 0; i < 6; ++i) {
      const TRect r{i * 22, 0, i * 22 + 20, height_};
      if (styled_ && ThemedPart(s, teEdit, 2, r)) s->FillRect(TRect{r.Left + 3, 3, r.Right - 3, height_ - 3}, SysColor(colours[i]));
      else s->FillRect(r, SysColor(colours[i]));
    }
  }
};

// Edit frames from the edit painters (classic: the plain painter; styled:
// the visual-style one): a drop-down frame and a spin frame. Hovering shows
// the hot frame and button, pressing the focused frame with the button
// pressed.
class TEditFrames : public TSample {
 public:
  TEditFrames(TDrawFrame* frame, const std::string& name, bool styled) : TSample(frame, name, styled) {
    TControlStyles* styles = DefaultWinControlStyles();
    painter_ = styled ? Ref<TFrameEditTheme>(MakeRef<TWinFrameEditTheme>(styles, false))
                      : MakeRef<TFrameEditTheme>(styles, false);
  }
  void Paint(TDrawSurface* s) override {
    s->FillRect(TRect{0, 0, width_, height_}, SysColor(win::COLOR_BTNFACE));
    const int32_t w = std::max(1, (width_ - 8) / 2);
    DrawFrame(s, 0, w, ebDropDown, u"Edit frame");
    DrawFrame(s, w + 8, w, ebSpin, u"42");
  }

 private:
  void Part(TDrawSurface* s, const TEditPartRequest& r, int32_t x, int32_t y) {
    TImage* image = painter_->DrawPart(r);
    if (!image) return;
    Ref<TBitmap> b = image->GetBitmap();
    s->DrawBitmap(b.get(), TRect{x, y, x + r.Size.cx, y + r.Size.cy}, x, y);
  }
  void DrawFrame(TDrawSurface* s, int32_t x, int32_t w, int32_t kind, const std::u16string& text) {
    TEditLayout l;
    painter_->Layout(l, TSize{w, height_}, kind);
    const bool down = pressed_ && hot_;
    const int32_t frame = down ? esFocused : hot_ ? esHot : esNormal;
    const int32_t button = down ? esPressed : hot_ ? esHot : esNormal;
    Part(s, {epFrame, TSize{w, height_}, frame}, x, 0);
    const TRect b1 = l.Button1.Rect, b2 = l.Button2.Rect;
    Part(s, {kind == ebDropDown ? epDropDown : epSpinUp, TSize{b1.Width(), b1.Height()}, button}, x + b1.Left, b1.Top);
    if (kind == ebSpin) Part(s, {epSpinDown, TSize{b2.Width(), b2.Height()}, esNormal}, x + b2.Left, b2.Top);
    const TRect t = l.TextRect;
    DrawLabel(this, s, text, TRect{x + t.Left, t.Top, x + t.Right, t.Bottom}, 0);
  }
  Ref<TFrameEditTheme> painter_;
};

template <class T>
TMakeControl Maker(const char* name, int32_t height) {
  return [name, height](TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool styled) {
    auto* c = new T(parent->CreateChildFrame(), std::string(styled ? "styled-" : "classic-") + name, styled);
    c->SetPosition(x, y);
    c->SetSize(width, height);
    return height;
  };
}

class THeading : public TFrameControl {
 public:
  THeading(TDrawFrame* frame, std::u16string text) : TFrameControl(frame), text_(std::move(text)) {}
  void Paint(TDrawSurface* s) override {
    s->FillRect(TRect{0, 0, width_, height_}, SysColor(win::COLOR_BTNFACE));
    DrawLabel(this, s, text_, TRect{0, 0, width_, height_}, 0x202020, false, 10);
    s->FillRect(TRect{0, height_ - 1, width_, height_}, SysColor(win::COLOR_BTNSHADOW));
  }

 private:
  std::u16string text_;
};

// The toolkit's panel, caption and image (plain controls: both looks draw
// them alike).
int32_t MakePanel(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool) {
  TFramePanel* p = AllocFramePanel(parent->CreateChildFrame(), nullptr);
  p->SetPosition(x, y);
  p->SetSize(width, 24);
  p->SetCaption(u"Panel with a caption");
  return 24;
}

int32_t MakeCaption(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool) {
  TFrameCaption* c = AllocFrameCaption(parent->CreateChildFrame());
  c->SetPosition(x, y);
  c->SetSize(width, 20);
  c->SetCaption(u"A caption long enough to be cut with an ellipsis in a narrow window");
  return 20;
}

int32_t MakeImage(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool) {
  constexpr int32_t kHeight = 32;
  Ref<TSysBitmap> b = CreateSysBitmap(width, kHeight, StdFormats().A8R8G8B8);
  for (int32_t row = 0; row < kHeight; ++row) {
    auto* px = reinterpret_cast<uint32_t*>(b->Row(row));
    for (int32_t col = 0; col < width; ++col)
      px[col] = 0xFF000000u | uint32_t(col * 255 / std::max(width - 1, 1)) << 16 |
                uint32_t(row * 255 / (kHeight - 1)) << 8 | 0x60u;
  }
  TFrameImage* i = AllocFrameImage(parent->CreateChildFrame());
  i->SetPosition(x, y);
  i->SetSize(width, kHeight);
  i->SetBitmap(b.get(), false);
  return kHeight;
}

}  // namespace


const std::vector<TGalleryEntry>& GalleryEntries() {
  static const std::vector<TGalleryEntry> entries = {
      {"button", Maker<TPushButton>("button", 26)},
      {"checkbox", Maker<TCheckBox>("checkbox", 20)},
      {"scrollarrows", Maker<TScrollArrows>("scrollarrows", 17)},
      {"swatches", Maker<TSwatches>("swatches", 20)},
      {"panel", &MakePanel},
      {"caption", &MakeCaption},
      {"image", &MakeImage},
      {"editframe", Maker<TEditFrames>("editframe", 24)},
  };
  return entries;
}

int32_t BuildGallery(TFrameControl* root, int32_t width) {
  constexpr int32_t kMargin = 12, kGap = 10, kHeading = 22;
  const int32_t column = (width - 3 * kMargin) / 2;
  const char16_t* titles[2] = {u"Classic", u"Visual style"};
  for (int32_t side = 0; side < 2; ++side) {
    auto* h = new THeading(root->CreateChildFrame(), titles[side]);
    h->SetPosition(kMargin + side * (column + kMargin), kMargin);
    h->SetSize(column, kHeading);
  }
  int32_t y = kMargin + kHeading + kGap;
  for (const TGalleryEntry& e : GalleryEntries()) {
    int32_t h = 0;
    for (int32_t side = 0; side < 2; ++side)
      h = std::max(h, e.Make(root, kMargin + side * (column + kMargin), y, column, side == 1));
    y += h + kGap;
  }
  return y + kMargin;
}

}  // namespace kav::gallery
