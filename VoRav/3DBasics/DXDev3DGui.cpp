#include "VoRav/3DBasics/DXDev3DGui.h"

#include <map>

#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/Application2/winSessionInformation.h"
#include "platform/window/WinApi.h"
#include "platform/window/WinCodes.h"

namespace kav {

namespace {

// Work posted to the GUI thread as the data of one application event.
class TGuiWork : public TRefObject {
 public:
  explicit TGuiWork(std::function<void()> fn) : Fn(std::move(fn)) {}
  std::function<void()> Fn;
};

struct TGateState : TRefObject {
  TApplication* App = nullptr;
  uint32_t EventId = 0;
  void Run(TRefObject*, uint32_t, void* param) {
    if (auto* w = static_cast<TGuiWork*>(param)) w->Fn();
  }
};

Ref<TGateState> g_state;

void SetTopmost(uint64_t window, bool topmost) {
  const win::HWND h = win::HWND(window);
  // No size, no move, no activation (the flags the placement is meant to
  // have; the value 35 would ask for a frame change instead of activation).
  const uint32_t flags = win::SWP_NOSIZE | win::SWP_NOMOVE | win::SWP_NOACTIVATE;
  const win::HWND not_topmost = win::HWND(0xFFFFFFFEu);
  win::SetWindowPos(h, topmost ? win::HWND(win::HWND_TOPMOST) : not_topmost, 0, 0, 0, 0, flags);
  if (topmost) return;
  // A window made non-topmost behind a foreground window that is not
  // topmost itself: the foreground window is lifted above it.
  const win::HWND fg = win::GetForegroundWindow();
  if (fg != 0 && fg != h) {
    win::SetWindowPos(fg, win::HWND(win::HWND_TOPMOST), 0, 0, 0, 0, flags);
    win::SetWindowPos(fg, not_topmost, 0, 0, 0, 0, flags);
  }
}

// Panels made through the window operations, by window.
std::mutex g_panel_lock;
std::map<uint64_t, Ref<TDevicePanel>> g_panels;

uint64_t CreatePanelWindow(TDrawDevice* device, uint64_t parent) {
  Ref<TDevicePanel> p = MakeDevicePanel(device, win::HWND(parent));
  if (!p) return 0;
  std::lock_guard<std::mutex> g(g_panel_lock);
  g_panels[p->Handle()] = p;
  return p->Handle();
}

void MovePanelWindow(uint64_t panel, const TRect& rect, bool show) {
  Ref<TDevicePanel> p = FindDevicePanel(win::HWND(panel));
  if (!p || !p->Handle()) return;
  p->SetBounds(rect);
  p->SetShowState(show ? 1 : 0);
}

// The window goes on the GUI thread (window calls elsewhere fail); the
// device is forgotten at once, as it may be going.
void DestroyPanelWindow(uint64_t panel) {
  Ref<TDevicePanel> p;
  {
    std::lock_guard<std::mutex> g(g_panel_lock);
    auto it = g_panels.find(panel);
    if (it == g_panels.end()) return;
    p = std::move(it->second);
    g_panels.erase(it);
  }
  p->Forget();
  if (!On3DGuiThread()) PostTo3DGui([p]() mutable { p = nullptr; });
}

void DestroyAllPanels() {
  std::map<uint64_t, Ref<TDevicePanel>> all;
  {
    std::lock_guard<std::mutex> g(g_panel_lock);
    all.swap(g_panels);
  }
  for (auto& [w, p] : all) p->Forget();
}

}  // namespace

// ---- TDevicePanel ----

Ref<TDevicePanel> MakeDevicePanel(TDrawDevice* device, win::HWND parent) {
  if (!device || !win::OnGuiThread() || !win::IsWindow(parent)) return nullptr;
  auto p = MakeRef<TDevicePanel>(device);
  try {
    p->CreateControl(parent);
  } catch (const EOSError&) {
    return nullptr;
  }
  p->target_ = parent;
  return p;
}

Ref<TDevicePanel> FindDevicePanel(win::HWND window) {
  std::lock_guard<std::mutex> g(g_panel_lock);
  auto it = g_panels.find(window);
  return it == g_panels.end() ? nullptr : it->second;
}

void TDevicePanel::Forget() {
  std::lock_guard<std::mutex> g(lock_);
  device_ = nullptr;
}

Ref<TDrawDevice> TDevicePanel::HoldDevice() {
  std::lock_guard<std::mutex> g(lock_);
  // A device whose last reference is going is not reached any more.
  if (!device_ || !RefTryAddRef(device_)) return nullptr;
  return Ref<TDrawDevice>::Adopt(device_);
}

void TDevicePanel::CreateParams(TControlCreateParams& params) {
  TWinControl::CreateParams(params);
  params.Style |= win::WS_CLIPSIBLINGS;
}

void TDevicePanel::GetWindowClass(win::TWndClass& wc) {
  wc = win::TWndClass{};
  wc.style = win::CS_DBLCLKS;
  wc.proc = win::TWndProc::Bind<&win::DefWindowProc>();
}

void TDevicePanel::HandleMessage(TMessageRecord& msg) {
  const win::HWND self = Handle();
  switch (msg.Msg) {
    case win::WM_PAINT: {
      erase_ = false;
      win::ValidateRect(self, nullptr);
      if (Ref<TDrawDevice> d = HoldDevice()) d->Repaint();
      msg.Result = 0;
      return;
    }
    case win::WM_ERASEBKGND:
      // Nothing to fill: the panel is a rectangle of its parent, which the
      // device's frames cover. Handled, so no default erase runs either.
      msg.Result = 1;
      return;
    case win::WM_SETCURSOR:
      msg.Result = target_ ? win::SendMessage(target_, msg.Msg, msg.WParam, msg.LParam) : 0;
      return;
    default: break;
  }
  if (msg.Msg >= win::WM_MOUSEMOVE && msg.Msg <= 0x020E && target_) {
    win::LPARAM l = msg.LParam;
    // Wheel messages carry screen positions, which stay as they are; the
    // others move from the panel's client area into the target's.
    if (msg.Msg != win::WM_MOUSEWHEEL && msg.Msg != 0x020E) {
      TPoint pt{win::LoWord16(l), win::HiWord16(l)};
      win::ClientToScreen(self, &pt);
      win::ScreenToClient(target_, &pt);
      l = win::MakeLParam(pt.X, pt.Y);
    }
    msg.Result = win::SendMessage(target_, msg.Msg, msg.WParam, l);
    return;
  }
  TWinControl::HandleMessage(msg);
}

void Install3DApplicationGate(TApplication* app) {
  Uninstall3DApplicationGate();
  if (!app) return;
  g_state = MakeRef<TGateState>();
  g_state->App = app;
  g_state->EventId = app->AddHandlerNewId(TEventListHandler::Bind<&TGateState::Run>(g_state.get()));
  Ref<TGateState> st = g_state;
  Set3DGuiGate(T3DGuiGate{[] { return win::OnGuiThread(); },
                          [st](std::function<void()> fn) { st->App->PostEvent(st->EventId, new TGuiWork(std::move(fn))); }});
  T3DWindowOps ops;
  ops.SetPlacement = [](uint64_t window, const TRect& rect, int show) {
    win::TWindowPlacement p;
    p.show_cmd = uint32_t(show);
    p.normal_position = rect;
    win::SetWindowPlacement(win::HWND(window), p);
  };
  ops.SetTopmost = &SetTopmost;
  ops.WorkstationLocked = [] { return IsSessionLocked(); };
  ops.CreatePanel = &CreatePanelWindow;
  ops.MovePanel = &MovePanelWindow;
  ops.DestroyPanel = &DestroyPanelWindow;
  Set3DWindowOps(ops);
}

void Uninstall3DApplicationGate() {
  if (!g_state) return;
  if (g_state->App)
    g_state->App->RemoveHandler(g_state->EventId, TEventListHandler::Bind<&TGateState::Run>(g_state.get()));
  Set3DGuiGate(T3DGuiGate{});
  Set3DWindowOps(T3DWindowOps{});
  // Panels of devices still alive go with the window operations; their
  // devices present into their own windows as before.
  DestroyAllPanels();
  g_state = nullptr;
}

}  // namespace kav
