#include "VoRav/Application2/winApplication.h"

#include <cstdlib>

#include "VoRav/Application2/winHooks.h"
#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"

namespace kav {

using namespace win;

namespace {

std::atomic<TWinApplication*> g_win_application{nullptr};
std::atomic<TVxApplication*> g_vx_application{nullptr};

constexpr char16_t kClassName[] = u"TVxApplication";

void SetGlobal(auto& global, auto* self) {
  decltype(self) none = nullptr;
  KAV_ASSERT(global.compare_exchange_strong(none, self));
}

void ClearGlobal(auto& global, auto* self) { global.compare_exchange_strong(self, nullptr); }

LRESULT ApplicationWindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  TMessageRecord msg{message, wParam, lParam, 0};
  bool handled = false;
  TApplication* app = Application();
  try {
    HookManager()->CallHooks(app, window, msg, handled);
  } catch (const std::exception& e) {
    HandleApplicationException(e);
  }
  LRESULT result = handled ? msg.Result : DefWindowProc(window, message, wParam, lParam);
  HookManager()->CallPostHooks(app, window, msg);
  return result;
}

void MessageBoxDisplay(const std::string& text, const char* caption) {
  WndAPI()->MessageBox(0, SystemUTF8ToWide(text), SystemUTF8ToWide(caption), MB_ICONERROR | MB_TASKMODAL);
}

}  // namespace

void HandleApplicationException(const std::exception& e) {
  if (HWND capture = GetCapture()) SendMessage(capture, WM_CANCELMODE, 0, 0);
  ShowApplicationError(e);
}

// --- TWinApplication -------------------------------------------------------

TWinApplication::TWinApplication() {
  SetGlobal(g_win_application, this);
  wake_ = MakeRef<TEvent>();
  event_list_ = MakeRef<TWinAppEventList>(this, wake_.get());
  lock_ = MakeRef<TCriticalSection>();
}

void TWinApplication::PostEvent(uint32_t id, TRefObject* data) { event_list_->PostEvent(GetHandle(), id, data); }

void TWinApplication::SendEvent(uint32_t id, TRefObject* data) { event_list_->SendEvent(GetHandle(), id, data); }

void TWinApplication::Initialize() {
  // Exceptions shown on the GUI go to a message box unless start-up chose otherwise.
  if (ErrorDisplayProc previous = SetErrorDisplay(&MessageBoxDisplay)) SetErrorDisplay(previous);
  CreateHandle();
}

void TWinApplication::Finalize() {
  const uint32_t start = GetElapsedMs();
  bool timed_out = true;
  while (ElapsedSinceMs(start) < FinalizeTimeoutMs) {
    event_list_->ProcessPending();
    if (RunningObjectCount() == 0) {
      timed_out = false;
      break;
    }
    if (wake_->WaitFor(100)) wake_->ResetEvent();
  }
  event_list_->Close();
  finalized_ = true;
  if (timed_out) {
    // The report must not keep the process from ending: the assertion's
    // exception is caught here and the process ends as intended.
    try {
      KAV_ASSERT_FAIL("Assertion failure");
    } catch (const std::exception&) {
    }
    std::_Exit(ExitCode);
  }
}

void TWinApplication::AddRunningObject(TRefObject* object) {
  TLockScope<TCriticalSection> guard(lock_.get());
  if (!running_) running_ = MakeRef<TList>();
  running_->Add(object);
}

void TWinApplication::RemoveRunningObject(TRefObject* object) {
  {
    TLockScope<TCriticalSection> guard(lock_.get());
    KAV_ASSERT(running_);
    KAV_ASSERT(running_->Remove(object) >= 0);
    if (running_->Count() == 0) running_ = nullptr;
  }
  wake_->SetEvent();  // Finalize need not sit out its 100 ms
}

int32_t TWinApplication::RunningObjectCount() {
  TLockScope<TCriticalSection> guard(lock_.get());
  return running_ ? running_->Count() : 0;
}

void TWinApplication::Dispose() {
  // The clean-up runs in full before the check is reported, so that a later
  // application can still be created.
  const bool finalized = finalized_;
  if (!finalized) event_list_->Close();
  lock_ = nullptr;
  event_list_ = nullptr;
  wake_ = nullptr;
  ClearGlobal(g_win_application, this);
  TApplication::Dispose();
  KAV_ASSERT_MSG(finalized, "Application MUST be finalesed before destroy!");
}

// --- TVxApplication --------------------------------------------------------

TVxApplication::TVxApplication() { SetGlobal(g_vx_application, this); }

void TVxApplication::CreateHandle() {
  TWndClass wc;
  wc.class_name = kClassName;
  wc.proc = TWndProc::Bind<&ApplicationWindowProc>();
  wc.instance = kProgramInstance;
  wc.cursor = LoadCursor(0, IDC_ARROW);
  if (!WndAPI()->RegisterClass(wc)) throw EOSError("Cannot register the application window class", int32_t(GetLastError()));
  TWndCreateParams p;
  p.ClassName = kClassName;
  p.Style = WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_OVERLAPPEDWINDOW;
  p.ExStyle = WS_EX_TOOLWINDOW;
  handle_ = WndAPI()->CreateWindow(p, nullptr);
  if (!handle_) throw EOSError("Cannot create the application window", int32_t(GetLastError()));
}

void TVxApplication::SetTitle(const std::u16string& title) {
  title_ = title;
  if (handle_) WndAPI()->SetWindowText(handle_, title);
}

void TVxApplication::Dispatch(const TMsg& msg) {
  try {
    WndAPI()->TranslateMessage(msg);
    WndAPI()->DispatchMessage(msg);
  } catch (const std::exception& e) {
    HandleApplicationException(e);
  }
}

void TVxApplication::Run() {
  while (!Terminated()) {
    TMsg msg;
    bool got;
    try {
      // Messages sent from other threads run inside GetMessage: guarded too.
      got = WndAPI()->GetMessage(msg, 0, 0, 0);
    } catch (const std::exception& e) {
      HandleApplicationException(e);
      continue;
    }
    if (!got) {
      terminated_ = true;
      break;
    }
    Dispatch(msg);
  }
  Notify(this, 0, nullptr);
  Finalize();
}

void TVxApplication::ProcessMessages() {
  for (;;) {
    TMsg msg;
    bool got;
    try {
      got = WndAPI()->PeekMessage(msg, 0, 0, 0, PM_REMOVE);
    } catch (const std::exception& e) {
      HandleApplicationException(e);
      continue;
    }
    if (!got) return;
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      return;
    }
    Dispatch(msg);
  }
}

void TVxApplication::Terminate() {
  if (IsMainThread()) PostQuitMessage(0);
  else PostThreadMessage(MainThreadId(), WM_QUIT, 0, 0);
}

void TVxApplication::DestroyHandle() {
  if (handle_) {
    WndAPI()->DestroyWindow(handle_);
    WndAPI()->UnregisterClass(kClassName, kProgramInstance);
    handle_ = 0;
  }
}

void TVxApplication::Finalize() {
  DestroyHandle();
  TWinApplication::Finalize();
}

void TVxApplication::Dispose() {
  DestroyHandle();  // only when never finalized
  ClearGlobal(g_vx_application, this);
  TWinApplication::Dispose();
}

TVxApplication* CreateApplication() { return new TVxApplication(); }
TWinApplication* WinApplication() { return g_win_application.load(); }
TVxApplication* VxApplication() { return g_vx_application.load(); }

}  // namespace kav
