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

// The themed push and speed buttons: their modules' start-up (classic
// painters, then the visual-style ones, then the allocators). The classic
// column uses a style set of its own holding the classic painters, so both
// looks show side by side.
TControlStyles* ThemedButtonStyles(bool styled) {
  static bool started = false;
  if (!started) {
    started = true;
    InitButtonTheme();
    InitSpeedButtonTheme();
    InitWinXPButtonTheme();
    InitWinXPSpeedButtonTheme();
    InitThemedButton();
    InitThemedSpeedButton();
  }
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
  TControlStyles* styles = ThemedButtonStyles(styled);  // first: it installs the allocator
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
  TControlStyles* styles = ThemedButtonStyles(styled);  // first: it installs the allocator
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

}  // namespace


const std::vector<TGalleryEntry>& GalleryEntries() {
  static const std::vector<TGalleryEntry> entries = {
      {"button", &MakeThemedButton},
      {"speedbutton", &MakeSpeedButtons},
      {"checkbox", Maker<TCheckBox>("checkbox", 20)},
      {"hscrollbar", ScrollBarMaker("hscrollbar", 1)},
      {"vscrollbar", ScrollBarMaker("vscrollbar", 0)},
      {"swatches", Maker<TSwatches>("swatches", 20)},
      {"panel", &MakePanel},
      {"caption", &MakeCaption},
      {"image", &MakeImage},
      {"tabs", &MakeTabs},
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
