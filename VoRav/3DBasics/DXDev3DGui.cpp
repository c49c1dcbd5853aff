#include "VoRav/3DBasics/DXDev3DGui.h"

#include "VoRav/3DBasics/DXDev3D.h"
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

}  // namespace

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
  Set3DWindowOps(ops);
}

void Uninstall3DApplicationGate() {
  if (!g_state) return;
  if (g_state->App)
    g_state->App->RemoveHandler(g_state->EventId, TEventListHandler::Bind<&TGateState::Run>(g_state.get()));
  Set3DGuiGate(T3DGuiGate{});
  Set3DWindowOps(T3DWindowOps{});
  g_state = nullptr;
}

}  // namespace kav
