#include "tools/kavcontrols/GalleryControls.h"

#include <algorithm>
#include <cstdio>

#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxFramePanels.h"
#include "VoRav/Composite/vxThemedButton.h"
#include "VoRav/Composite/vxThemedSpeedButton.h"
#include "VoRav/Composite/winThemedButtonTheme.h"
#include "VoRav/Composite/winThemedSpeedButtonTheme.h"
#include "VoRav/Composite/vxThemedFrameScrollBar.h"
#include "VoRav/Composite/win9xFrameScrollBarTheme.h"
#include "VoRav/Composite/winTabsThemes.h"
#include "VoRav/Composite/vxThemedBevel.h"
#include "VoRav/Composite/vxThemedCheckBox.h"
#include "VoRav/Composite/vxThemedProgressBar.h"
#include "VoRav/Composite/vxThemedProgressBarStdTheme.h"
#include "VoRav/Composite/vxThemedRadioButton.h"
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

// Writes "click NAME" for each click of the control it listens to.
class TClickLog : public TEventHandler {
 public:
  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t) override {
    auto* c = dynamic_cast<TFrameControl*>(sender);
    if (tag != kFrameEventClick || !c || !LogClicks) return;
    std::printf("click %s\n", c->Name().c_str());
    std::fflush(stdout);
  }
};

void LogClicksOf(TFrameControl* c) {
  Ref<TClickLog> log = MakeRef<TClickLog>();
  c->Events()->AddHandler(kFrameEventClick, log.get());
  c->Events()->Attach(log.get());  // lives with the control
}

// The themed push and speed buttons. The classic column uses a style set of its own holding the classic painters, so both
// looks show side by side.
TControlStyles* ThemedButtonStyles(bool styled) {
  if (styled) return DefaultControlStyles();
  TControlStyles* def = DefaultControlStyles();
  static TControlStyles* classic_for = nullptr;
  static Ref<TControlStyles> classic;
  if (!classic || classic_for != def) {
    classic = MakeRef<TControlStyles>();
    classic->Assign(def);
    NewClassicButtonTheme(classic.get());
    NewClassicSpeedButtonTheme(classic.get());
    classic_for = def;
  }
  return classic.get();
}

int32_t MakeThemedButton(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool styled) {
  TControlStyles* styles = ThemedButtonStyles(styled);
  TFrameButton* b = AllocFrameButton(parent->CreateChildFrame(), styles);
  b->SetName(styled ? "styled-button" : "classic-button");
  b->SetWidthFlags(0);
  b->SetHeightFlags(0);
  b->SetPosition(x, y);
  b->SetSize(width, 26);
  b->GetCaption()->SetCaption(u"Button");
  LogClicksOf(b);
  return 26;
}

// A plain, a toggle (shown checked) and a drop-down speed button.
int32_t MakeSpeedButtons(TFrameControl* parent, int32_t x, int32_t y, int32_t, bool styled) {
  const char* side = styled ? "styled-" : "classic-";
  const struct {
    const char* name;
    const char16_t* caption;
    bool toggle, drop_down;
  } buttons[] = {{"speed", u"Tool", false, false}, {"toggle", u"Toggle", true, false}, {"dropdown", u"Menu", false, true}};
  TControlStyles* styles = ThemedButtonStyles(styled);
  int32_t left = x, height = 0;
  for (const auto& d : buttons) {
    TFrameSpeedButton* b = _AllocFrameSpeedButton(parent->CreateChildFrame(), styles);
    b->SetName(std::string(side) + d.name);
    b->Toggle = d.toggle;
    b->DropDown = d.drop_down;
    b->WidthAutoSize = true;
    b->SetPosition(left, y);
    b->GetCaption()->SetCaption(d.caption);
    if (d.toggle) b->SetDown(true);
    LogClicksOf(b);
    left += b->PaintArea().Width() + 4;
    height = std::max(height, b->PaintArea().Height());
  }
  return height;
}

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

// Writes "scroll NAME POSITION" whenever a gallery scroll bar's value changes.
class TScrollLogger : public TEventHandler {
 public:
  void HandleEvent(TRefObject* sender, int32_t, intptr_t) override {
    auto* bar = dynamic_cast<TFrameScrollBar*>(sender);
    if (!bar) return;
    std::printf("scroll %s %.3f\n", bar->Name().c_str(), double(bar->Position()));
    std::fflush(stdout);
  }
};

// Reports the tab control's selected page as "select NAME CAPTION".
class TTabsReporter : public TEventHandler {
 public:
  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t) override {
    auto* t = dynamic_cast<TThemedTabControl*>(sender);
    if (!LogClicks || !t || tag != kFrameEventChanged || !t->GetSelectedPage()) return;
    std::string caption;
    if (TFrameCaption* c = t->GetSelectedPage()->TabCaption())
      for (char16_t ch : c->Caption()) caption.push_back(ch < 128 ? char(ch) : '?');
    std::printf("select %s %s\n", t->Name().c_str(), caption.c_str());
    std::fflush(stdout);
  }
};


// The style set of the classic column: the default one's values with the
// classic painters attached, so its controls keep the classic look while
// the visual style is on.
Ref<TControlStyles>& ClassicStylesRef() {
  static Ref<TControlStyles> styles;
  return styles;
}

TControlStyles* StylesFor(bool styled) {
  if (styled) return nullptr;  // the default set, with the visual-style painters
  Ref<TControlStyles>& s = ClassicStylesRef();
  if (!s) {
    s = MakeRef<TControlStyles>();
    s->Assign(DefaultControlStyles());
    MakeRef<TCheckBoxTheme>(s.get());
    MakeRef<TRadioButtonTheme>(s.get());
    MakeRef<TProgressBarStdTheme>(s.get());
    MakeRef<TBevelTheme>(s.get());
  }
  return s.get();
}

// Writes "click NAME" (and a check box's new state) for each click.
class TClickLogger : public TEventHandler {
 public:
  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t) override {
    auto* c = dynamic_cast<TFrameControl*>(sender);
    if (tag != kFrameEventClick || !c || !LogClicks) return;
    if (auto* box = dynamic_cast<TFrameCheckBox*>(c))
      std::printf("click %s state %d\n", c->Name().c_str(), int(box->State()));
    else
      std::printf("click %s\n", c->Name().c_str());
    std::fflush(stdout);
  }
};

// The toolkit's scroll bar: the classic painter on a style set of its own
// (kept by the bar) on the left, the default styles' visual-style painter on
// the right. With logging on, "place NAME X Y W H" tells where it lies in
// the parent (the gallery's root: the window's client area).
TMakeControl ScrollBarMaker(const char* name, uint8_t kind) {
  return [name, kind](TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool styled) {
    Ref<TControlStyles> styles;
    if (!styled) {
      styles = MakeRef<TControlStyles>();
      styles->Assign(DefaultControlStyles());
      MakeRef<TWin9xFrameScrollBarTheme>(styles.get());  // kept by the styles
    }
    TFrameScrollBar* bar = AllocFrameScrollBar(parent->CreateChildFrame(), kind, styles.get());
    bar->SetName(std::string(styled ? "styled-" : "classic-") + name);
    bar->SetPosition(x, y);
    const bool vertical = kind == 0 || kind == 2;
    bar->SetSize(vertical ? 17 : width, vertical ? 90 : 17);
    bar->SetPageAndPosition(0.25f, 0.5f);
    if (LogClicks) {
      Ref<TScrollLogger> logger = MakeRef<TScrollLogger>();
      bar->Events()->AddHandler(kFrameEventChanged, logger.get());
      bar->Events()->Attach(logger.get());
      std::printf("place %s %d %d %d %d\n", bar->Name().c_str(), int(x), int(y), int(bar->GetWidth()),
                  int(bar->GetHeight()));
      std::fflush(stdout);
    }
    return bar->GetHeight();
  };
}

// The tab control with more pages than fit, so the arrows show: the classic
// painter on the left, the visual-styles painter on the right.
int32_t MakeTabs(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool styled) {
  constexpr int32_t kHeight = 110;
  Ref<TControlStyles> styles = MakeRef<TControlStyles>();
  if (TControlStyles* base = parent->GetStyles()) styles->Assign(base);
  TFrameTabControlTheme* painter = styled ? static_cast<TFrameTabControlTheme*>(MakeRef<TWinXPTabsTheme>(styles.get()).get())
                                          : MakeRef<TWin9xTabsTheme>(styles.get()).get();
  auto* tabs = new TThemedTabControl(parent->CreateChildFrame(), painter, styles.get());
  tabs->SetName(styled ? "styled-tabs" : "classic-tabs");
  tabs->SetPosition(x, y);
  tabs->SetSize(width, kHeight);
  const char16_t* names[] = {u"General", u"View", u"Sound", u"Advanced", u"Network", u"About"};
  for (const char16_t* name : names) {
    TThemedPage* page = tabs->AddPage();
    page->SetCaption(name);
    TFrameCaption* c = AllocFrameCaption(page->CreateChildFrame());
    c->SetPosition(8, 8);
    c->SetSize(std::max(width - 40, 10), 20);
    c->SetCaption(std::u16string(u"The page ") + name);
  }
  Ref<TTabsReporter> reporter = MakeRef<TTabsReporter>();
  tabs->Events()->AddHandler(kFrameEventChanged, reporter.get());
  tabs->Events()->Attach(reporter.get());
  tabs->SelectPage(tabs->GetPage(0));
  if (LogClicks) {
    // Where the second tab is, for the tests that click it.
    TThemedTabButton* b = tabs->GetPage(1)->TabButton();
    TPoint at{b->PaintArea().Width() / 2, b->PaintArea().Height() / 2};
    for (TFrameControl* c = b; c && c->GetParentControl(); c = c->GetParentControl()) {
      at.X += c->GetPosition().X;
      at.Y += c->GetPosition().Y;
    }
    std::printf("tab %s View at %d %d\n", tabs->Name().c_str(), int(at.X), int(at.Y));
    std::fflush(stdout);
  }
  return kHeight;
}

void LogClicksOf(TFrameControl* c, const std::string& name) {
  static Ref<TClickLogger> logger = MakeRef<TClickLogger>();
  c->SetName(name);
  c->Events()->AddHandler(kFrameEventClick, logger.get());
  if (LogClicks) {
    // Where it lies in the window: its place in each parent up to the root.
    TPoint at = c->GetPosition();
    for (TFrameControl* p = c->GetParentControl(); p && p->GetParentControl(); p = p->GetParentControl()) {
      at.X += p->GetPosition().X;
      at.Y += p->GetPosition().Y;
    }
    const TRect r = c->PaintArea();
    std::printf("at %s %d %d %d %d\n", name.c_str(), int(at.X), int(at.Y), int(r.Width()), int(r.Height()));
    std::fflush(stdout);
  }
}

std::string Side(bool styled) { return styled ? "styled-" : "classic-"; }

// Check boxes: unchecked, checked and mixed (three-state) side by side.
int32_t MakeCheckBoxes(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool styled) {
  const char16_t* texts[3] = {u"Check", u"Checked", u"Mixed"};
  int32_t h = 0;
  for (int32_t i = 0; i < 3; ++i) {
    TFrameCheckBox* c = _AllocFrameCheckBox(parent->CreateChildFrame(), StylesFor(styled));
    c->GetCaption()->SetCaption(texts[i]);
    c->SetPosition(x + i * width / 3, y);
    c->SetSize(width / 3 - 4, 0);
    c->AllowMixed = i == 2;
    c->SetState(uint8_t(i));
    LogClicksOf(c, Side(styled) + (i == 0 ? "checkbox" : i == 1 ? "checkbox-checked" : "checkbox-mixed"));
    h = std::max(h, c->GetHeight());
  }
  return h;
}

// A group of three radio buttons on a panel of their own.
int32_t MakeRadioButtons(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool styled) {
  TFramePanel* group = AllocFramePanel(parent->CreateChildFrame(), nullptr);
  group->SetPosition(x, y);
  const char16_t* texts[3] = {u"One", u"Two", u"Three"};
  int32_t h = 0;
  for (int32_t i = 0; i < 3; ++i) {
    TFrameRadioButton* r = _AllocFrameRadioButton(group->CreateChildFrame(), StylesFor(styled));
    r->GetCaption()->SetCaption(texts[i]);
    r->SetPosition(i * width / 3, 0);
    r->SetSize(width / 3 - 4, 0);
    h = std::max(h, r->GetHeight());
    if (i == 2) r->SetEnabled(false);
  }
  group->SetSize(width, h);
  return h;
}

// Values in three kinds: segments, red segments, a smooth red bar. (No
// marquee: it would keep the window changing, and the Xvfb test compares
// the window with one dump.)
int32_t MakeProgressBars(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool styled) {
  const int32_t w = (width - 8) / 3;
  for (int32_t i = 0; i < 3; ++i) {
    TFrameProgressBar* p = _AllocFrameProgressBar(parent->CreateChildFrame(), StylesFor(styled));
    p->SetPosition(x + i * (w + 4), y);
    p->SetSize(w, 17);
    p->SetKind(i == 0 ? 0 : i == 1 ? 1 : 4);
    p->SetValue(i == 0 ? 0.6f : i == 1 ? 0.8f : 0.35f);
  }
  return 17;
}

// Bevels of the default, sunken and etched styles around captions.
int32_t MakeBevels(TFrameControl* parent, int32_t x, int32_t y, int32_t width, bool styled) {
  const uint8_t kinds[3] = {kBevelStyleDefault, kBevelStyleSunken, kBevelStyleEtched};
  const char16_t* texts[3] = {u"Default", u"Sunken", u"Etched"};
  int32_t h = 0;
  for (int32_t i = 0; i < 3; ++i) {
    TFrameBevel* b = AllocFrameBevel(parent->CreateChildFrame(), StylesFor(styled));
    b->SetStyle(kinds[i]);
    b->SetAutoSize(true);
    b->SetPosition(x + i * width / 3, y);
    TFrameCaption* c = AllocFrameCaption(b->CreateChildFrame());
    c->SetCaption(texts[i]);
    c->SetSize(width / 3 - 12, 20);
    h = std::max(h, b->GetHeight());
  }
  return h;
}

}  // namespace

void FreeGalleryStyles() { ClassicStylesRef() = nullptr; }

const std::vector<TGalleryEntry>& GalleryEntries() {
  static const std::vector<TGalleryEntry> entries = {
      {"button", &MakeThemedButton},
      {"speedbutton", &MakeSpeedButtons},
      {"checkbox", &MakeCheckBoxes},
      {"radiobuttons", &MakeRadioButtons},
      {"progressbars", &MakeProgressBars},
      {"bevels", &MakeBevels},
      {"hscrollbar", ScrollBarMaker("hscrollbar", 1)},
      {"vscrollbar", ScrollBarMaker("vscrollbar", 0)},
      {"swatches", Maker<TSwatches>("swatches", 20)},
      {"panel", &MakePanel},
      {"caption", &MakeCaption},
      {"image", &MakeImage},
      {"tabs", &MakeTabs},
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
