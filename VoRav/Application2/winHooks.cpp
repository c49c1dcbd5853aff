#include "VoRav/Application2/winHooks.h"

#include "VoRav/wpExceptions.h"

namespace kav {

using namespace win;

namespace {

// Unlinks the first hook matching `match` from a chain; nil when none.
template <class T, class Match>
Ref<T> Unlink(Ref<T>& head, Match match) {
  Ref<T>* link = &head;
  while (*link) {
    T* h = link->get();
    if (!h->Removed && match(*h)) {
      Ref<T> found = *link;
      found->Removed = true;
      *link = found->Next;  // the removed hook keeps its own successor for a walk in progress
      return found;
    }
    link = &h->Next;
  }
  return nullptr;
}

template <class T>
void Push(Ref<T>& head, Ref<T> hook) {
  hook->Next = head;
  head = std::move(hook);
}

uint32_t g_app_event_message = 0;
uint32_t g_form_free_message = 0;

}  // namespace

uint32_t TPrivateHookManager::AllocateMessageId() { return counter_.fetch_add(1) + 1; }

uint32_t TPrivateHookManager::MessageIdByName(const std::u16string& name) {
  auto it = names_.find(name);
  if (it != names_.end()) return it->second;
  uint32_t id = AllocateMessageId();
  names_.emplace(name, id);
  return id;
}

TMsgHook* TPrivateHookManager::AddWindowHook(const void* key, TMessageHookHandler handler) {
  Ref<TMsgHook> hook = MakeRef<TMsgHook>();
  hook->Key = key;
  hook->Handler = handler;
  TMsgHook* raw = hook.get();
  Push(window_hooks_, std::move(hook));
  return raw;
}

void TPrivateHookManager::RemoveWindowHook(const void* key, TMessageHookHandler handler) {
  Ref<TMsgHook> h = Unlink(window_hooks_, [&](const TMsgHook& x) { return x.Key == key && x.Handler == handler; });
  KAV_ASSERT(h);
}

void TPrivateHookManager::AddMessageHook(const void* key, std::span<const uint32_t> ids, TMessageHookHandler handler) {
  for (uint32_t id : ids) {
    Ref<TMsgHook> hook = MakeRef<TMsgHook>();
    hook->Key = key;
    hook->MessageId = id;
    hook->Handler = handler;
    Push(message_hooks_[id & 255], std::move(hook));
  }
}

void TPrivateHookManager::RemoveMessageHook(const void* key, std::span<const uint32_t> ids,
                                            TMessageHookHandler handler) {
  for (uint32_t id : ids) {
    Ref<TMsgHook> h = Unlink(message_hooks_[id & 255], [&](const TMsgHook& x) {
      return x.Key == key && x.MessageId == id && x.Handler == handler;
    });
    KAV_ASSERT_MSG(h, "UnHook error");
  }
}

void TPrivateHookManager::CallHooks(const void* key, HWND window, TMessageRecord& msg, bool& handled) {
  // Every matching hook is called, also after one set handled.
  for (Ref<TMsgHook> h = window_hooks_; h; h = h->Next)
    if (!h->Removed && h->Key == key) h->Handler(window, msg, handled);
  const uint32_t id = msg.Msg;
  for (Ref<TMsgHook> h = message_hooks_[id & 255]; h; h = h->Next)
    if (!h->Removed && h->Key == key && h->MessageId == id) h->Handler(window, msg, handled);
}

void TPrivateHookManager::AddPostHook(const void* key, TPostHookHandler handler) {
  Ref<TMsgHook> hook = MakeRef<TMsgHook>();
  hook->Key = key;
  hook->PostHandler = handler;
  Push(post_hooks_, std::move(hook));
}

void TPrivateHookManager::RemovePostHook(const void* key, TPostHookHandler handler) {
  Ref<TMsgHook> h = Unlink(post_hooks_, [&](const TMsgHook& x) { return x.Key == key && x.PostHandler == handler; });
  KAV_ASSERT(h);
}

void TPrivateHookManager::CallPostHooks(const void* key, HWND window, TMessageRecord& msg) {
  for (Ref<TMsgHook> h = post_hooks_; h; h = h->Next)
    if (!h->Removed && h->Key == key) h->PostHandler(window, msg);
}

void TPrivateHookManager::AddKeyboardHook(TKeyboardHookHandler handler) {
  if (!keyboard_hook_) {
    keyboard_hook_ = SetWindowsHookEx(WH_KEYBOARD_LL, THookProc::Bind<&TPrivateHookManager::LowLevelKeyboardProc>(this));
  }
  Ref<TLLKbdHook> hook = MakeRef<TLLKbdHook>();
  hook->Handler = handler;
  Push(keyboard_hooks_, std::move(hook));
}

void TPrivateHookManager::RemoveKeyboardHook(TKeyboardHookHandler handler) {
  Ref<TLLKbdHook> h = Unlink(keyboard_hooks_, [&](const TLLKbdHook& x) { return x.Handler == handler; });
  KAV_ASSERT(h);
  if (!keyboard_hooks_ && keyboard_hook_) {
    UnhookWindowsHookEx(keyboard_hook_);
    keyboard_hook_ = 0;
  }
}

LRESULT TPrivateHookManager::LowLevelKeyboardProc(int32_t code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0) {
    bool swallow = false;
    for (Ref<TLLKbdHook> h = keyboard_hooks_; h; h = h->Next)
      if (!h->Removed) h->Handler(wParam, lParam, swallow);
    if (swallow) return 1;
  }
  return CallNextHookEx(keyboard_hook_, code, wParam, lParam);
}

void TPrivateHookManager::Dispose() {
  if (keyboard_hook_) UnhookWindowsHookEx(keyboard_hook_);
  keyboard_hook_ = 0;
  keyboard_hooks_ = nullptr;
  window_hooks_ = nullptr;
  post_hooks_ = nullptr;
  for (auto& chain : message_hooks_) chain = nullptr;
  THookManager::Dispose();
}

THookManager* HookManager() {
  static THookManager* manager = [] {
    auto* m = new TPrivateHookManager();  // lives as long as the program
    g_app_event_message = m->AllocateMessageId();
    g_form_free_message = m->AllocateMessageId();
    return m;
  }();
  return manager;
}

uint32_t ApplicationEventMessage() {
  HookManager();
  return g_app_event_message;
}

uint32_t FormFreeMessage() {
  HookManager();
  return g_form_free_message;
}

void AddAppMessageHandler(const void* key, std::span<const uint32_t> ids, TMessageHookHandler handler) {
  HookManager()->AddMessageHook(key, ids, handler);
}

void RemoveAppMessageHandler(const void* key, std::span<const uint32_t> ids, TMessageHookHandler handler) {
  HookManager()->RemoveMessageHook(key, ids, handler);
}

}  // namespace kav
