#include "VoRav/Application2/winWndAPI.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"

namespace kav {

using namespace win;

char16_t* TWndAPI::AllocWideBuffer(int32_t chars) {
  if (chars < 0) chars = 0;
  return new char16_t[static_cast<size_t>(chars) + 1]();
}

void TWndAPI::FreeBuffer(char16_t* buffer) { delete[] buffer; }

char16_t* TWndAPI::WideStrToBuffer(const std::u16string& text) {
  if (text.empty()) return nullptr;
  char16_t* b = AllocWideBuffer(static_cast<int32_t>(text.size()));
  std::copy(text.begin(), text.end(), b);
  return b;
}

void TWndAPI::BufferToWideStr(const char16_t* buffer, int32_t length, std::u16string& text) {
  if (!buffer) {
    text.clear();
    return;
  }
  if (length < 0) text.assign(buffer);
  else text.assign(buffer, static_cast<size_t>(length));
}

uint16_t TWndAPI::RegisterClass(const TWndClass& wc) { return win::RegisterClass(wc); }

bool TWndAPI::UnregisterClass(const std::u16string& name, HINSTANCE instance) {
  return win::UnregisterClass(name, instance);
}

HWND TWndAPI::CreateWindow(const TWndCreateParams& p, void* create_param) {
  return win::CreateWindowEx(p.ExStyle, p.ClassName, p.WindowName, p.Style, p.X, p.Y, p.Width, p.Height, p.Parent,
                             kProgramInstance, create_param);
}

bool TWndAPI::DestroyWindow(HWND window) { return win::DestroyWindow(window); }

bool TWndAPI::ShowWindowState(HWND window, int32_t kind, bool use_show_window) {
  static constexpr int32_t kCommands[12] = {SW_HIDE,          SW_MAXIMIZE,       SW_MINIMIZE,        SW_RESTORE,
                                            SW_SHOW,          SW_SHOWDEFAULT,    SW_SHOWMAXIMIZED,   SW_SHOWMINIMIZED,
                                            SW_SHOWMINNOACTIVE, SW_SHOWNA,       SW_SHOWNOACTIVATE,  SW_SHOWNORMAL};
  if (kind < 0 || kind > 11) return false;  // would index past the table
  if (use_show_window) return win::ShowWindow(window, kCommands[kind]);
  TWindowPlacement wp;
  if (!win::GetWindowPlacement(window, &wp)) return false;
  wp.show_cmd = static_cast<uint32_t>(kCommands[kind]);
  return win::SetWindowPlacement(window, wp);
}

LRESULT TWndAPI::CallWindowProc(TWndProc proc, HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return win::CallWindowProc(proc, window, msg, wParam, lParam);
}

LRESULT TWndAPI::DefWindowProc(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return win::DefWindowProc(window, msg, wParam, lParam);
}

bool TWndAPI::GetMessage(TMsg& msg, HWND window, uint32_t min, uint32_t max) {
  return win::GetMessage(&msg, window, min, max);
}

bool TWndAPI::PeekMessage(TMsg& msg, HWND window, uint32_t min, uint32_t max, uint32_t remove) {
  return win::PeekMessage(&msg, window, min, max, remove);
}

bool TWndAPI::PostMessage(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return win::PostMessage(window, msg, wParam, lParam);
}

LRESULT TWndAPI::SendMessage(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return win::SendMessage(window, msg, wParam, lParam);
}

bool TWndAPI::SendNotifyMessage(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return win::SendNotifyMessage(window, msg, wParam, lParam);
}

bool TWndAPI::TranslateMessage(const TMsg& msg) { return win::TranslateMessage(msg); }
LRESULT TWndAPI::DispatchMessage(const TMsg& msg) { return win::DispatchMessage(msg); }
std::u16string TWndAPI::GetWindowText(HWND window) { return win::GetWindowText(window); }
bool TWndAPI::SetWindowText(HWND window, const std::u16string& text) { return win::SetWindowText(window, text); }
intptr_t TWndAPI::GetWindowLong(HWND window, int32_t index) { return win::GetWindowLong(window, index); }

intptr_t TWndAPI::SetWindowLong(HWND window, int32_t index, intptr_t value) {
  return win::SetWindowLong(window, index, value);
}

bool TWndAPI::GetWindowBounds(HWND window, TRect& rect) {
  if (win::IsIconic(window)) {
    TWindowPlacement wp;
    if (!win::GetWindowPlacement(window, &wp)) return false;
    rect = wp.normal_position;
  } else if (!win::GetWindowRect(window, &rect)) {
    return false;
  }
  if (win::GetWindowLong(window, GWL_STYLE) & WS_CHILD) {
    HWND parent = win::GetParent(window);
    TPoint a{rect.Left, rect.Top}, b{rect.Right, rect.Bottom};
    win::ScreenToClient(parent, &a);
    win::ScreenToClient(parent, &b);
    rect = TRect{a.X, a.Y, b.X, b.Y};
  }
  return true;
}

int32_t TWndAPI::MessageBox(HWND window, const std::u16string& text, const std::u16string& caption, uint32_t flags) {
  return win::MessageBox(window, text, caption, flags);
}

uint32_t TWndAPI::RegisterWindowMessage(const std::u16string& name) { return win::RegisterWindowMessage(name); }

TWndAPI* WndAPI() {
  static TWndAPI* gate = new TWndAPI();  // lives as long as the program
  return gate;
}

// --- Method bindings -------------------------------------------------------

namespace {

std::mutex g_thunk_lock;
std::unordered_map<TMethodThunk, TWndProc>& Thunks() {
  static auto* table = new std::unordered_map<TMethodThunk, TWndProc>();
  return *table;
}
TMethodThunk g_last_thunk = 0;

LRESULT CallThroughThunk(void* context, HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  const auto id = static_cast<TMethodThunk>(reinterpret_cast<uintptr_t>(context));
  TWndProc target;
  {
    std::lock_guard<std::mutex> guard(g_thunk_lock);
    auto it = Thunks().find(id);
    if (it != Thunks().end()) target = it->second;
  }
  // A freed binding answers like a window without a procedure of its own.
  return target ? target(window, msg, wParam, lParam) : win::DefWindowProc(window, msg, wParam, lParam);
}

}  // namespace

TMethodThunk MakeMethodThunk(TWndProc method) {
  std::lock_guard<std::mutex> guard(g_thunk_lock);
  TMethodThunk id = ++g_last_thunk;
  if (id == 0) id = ++g_last_thunk;
  Thunks()[id] = method;
  return id;
}

void FreeThunk(TMethodThunk& thunk) {
  std::lock_guard<std::mutex> guard(g_thunk_lock);
  Thunks().erase(thunk);
  thunk = 0;
}

TWndProc ThunkProc(TMethodThunk thunk) {
  if (thunk == 0) return TWndProc();
  return TWndProc::FromFunction(&CallThroughThunk, reinterpret_cast<void*>(static_cast<uintptr_t>(thunk)));
}

void RedirectThunk(TMethodThunk thunk, TWndProc method) {
  std::lock_guard<std::mutex> guard(g_thunk_lock);
  auto it = Thunks().find(thunk);
  if (it != Thunks().end()) it->second = method;
}

int32_t ThunkCount() {
  std::lock_guard<std::mutex> guard(g_thunk_lock);
  return static_cast<int32_t>(Thunks().size());
}

// --- Subclassing -----------------------------------------------------------

namespace {

struct TSubclassRecord {
  HWND window;
  TWndProc handler;
  TMethodThunk thunk;
  TWndProc previous;
};

std::vector<TSubclassRecord*>& Subclasses() {
  static auto* list = new std::vector<TSubclassRecord*>();  // newest first
  return *list;
}

// Stands in for a handler that left while another procedure sat in front of
// it: passes everything to the procedure below, and goes with the window.
class TReleaseThunk {
 public:
  explicit TReleaseThunk(TSubclassRecord* record) : record_(record) {}
  LRESULT Release(HWND window, uint32_t msg, WPARAM wParam, LPARAM lParam) {
    TWndProc previous = record_->previous;
    LRESULT result = win::CallWindowProc(previous, window, msg, wParam, lParam);
    // Freed at the window's last message rather than at WM_DESTROY, so that
    // the messages after WM_DESTROY still reach the procedures below.
    if (msg == WM_NCDESTROY) {
      auto& list = Subclasses();
      list.erase(std::remove(list.begin(), list.end(), record_), list.end());
      FreeThunk(record_->thunk);
      delete record_;
      delete this;
    }
    return result;
  }

 private:
  TSubclassRecord* record_;
};

}  // namespace

TWndProc SubclassWindow(HWND window, TWndProc handler) {
  KAV_ASSERT(IsMainThread());
  KAV_ASSERT(win::IsWindow(window));
  auto* record = new TSubclassRecord{window, handler, MakeMethodThunk(handler), {}};
  record->previous = win::SetWindowProc(window, ThunkProc(record->thunk));
  Subclasses().insert(Subclasses().begin(), record);
  return record->previous;
}

void UnsubclassWindow(HWND window, TWndProc handler, TWndProc previous) {
  KAV_ASSERT(IsMainThread());
  auto& list = Subclasses();
  auto it = std::find_if(list.begin(), list.end(),
                         [&](TSubclassRecord* r) { return r->window == window && r->handler == handler; });
  KAV_ASSERT(it != list.end());
  TSubclassRecord* record = *it;
  record->previous = previous;
  if (win::IsWindow(window) && !(win::GetWindowProc(window) == ThunkProc(record->thunk))) {
    // Somebody subclassed the window after us: keep the entry, passing on.
    auto* release = new TReleaseThunk(record);
    record->handler = win::TWndProc::Bind<&TReleaseThunk::Release>(release);
    RedirectThunk(record->thunk, record->handler);
    return;
  }
  if (win::IsWindow(window)) win::SetWindowProc(window, previous);
  FreeThunk(record->thunk);
  list.erase(it);
  delete record;
}

}  // namespace kav
