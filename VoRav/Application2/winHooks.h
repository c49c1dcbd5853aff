// The hook manager: lets any object observe or take over the messages of the
// program's windows without subclassing them, hands out private message
// ids, and shares one low-level keyboard hook among several listeners.
//
// Hooks are filed under a key, an object that stands for a window (the
// application object for the application window, a form's controller for a
// form); window procedures call CallHooks before and CallPostHooks after
// their own handling. Chains are walked newest first. A hook removed during
// a walk is not called afterwards, and the walk goes on safely (each hook
// keeps its successor alive). GUI thread only, except AllocateMessageId.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "VoRav/Application2/winWndAPI.h"

namespace kav {

// (window, var message, var handled).
using TMessageHookHandler = TDelegate<void(win::HWND window, TMessageRecord& msg, bool& handled)>;
// (window, var message).
using TPostHookHandler = TDelegate<void(win::HWND window, TMessageRecord& msg)>;
// (wParam, lParam, var swallow).
using TKeyboardHookHandler = TDelegate<void(win::WPARAM wParam, win::LPARAM lParam, bool& swallow)>;

class TMsgHook : public TRefObject {
 public:
  Ref<TMsgHook> Next;
  const void* Key = nullptr;
  uint32_t MessageId = 0;
  TMessageHookHandler Handler;
  TPostHookHandler PostHandler;
  bool Removed = false;
};

class TLLKbdHook : public TRefObject {
 public:
  Ref<TLLKbdHook> Next;
  TKeyboardHookHandler Handler;
  bool Removed = false;
};

class THookManager : public TRefObject {
 public:
  virtual uint32_t AllocateMessageId() = 0;
  virtual uint32_t MessageIdByName(const std::u16string& name) = 0;
  virtual TMsgHook* AddWindowHook(const void* key, TMessageHookHandler handler) = 0;
  virtual void RemoveWindowHook(const void* key, TMessageHookHandler handler) = 0;
  virtual void AddMessageHook(const void* key, std::span<const uint32_t> ids, TMessageHookHandler handler) = 0;
  virtual void RemoveMessageHook(const void* key, std::span<const uint32_t> ids, TMessageHookHandler handler) = 0;
  virtual void CallHooks(const void* key, win::HWND window, TMessageRecord& msg, bool& handled) = 0;
  virtual void AddPostHook(const void* key, TPostHookHandler handler) = 0;
  virtual void RemovePostHook(const void* key, TPostHookHandler handler) = 0;
  virtual void CallPostHooks(const void* key, win::HWND window, TMessageRecord& msg) = 0;
  virtual void AddKeyboardHook(TKeyboardHookHandler handler) = 0;
  virtual void RemoveKeyboardHook(TKeyboardHookHandler handler) = 0;
};

class TPrivateHookManager : public THookManager {
 public:
  static constexpr uint32_t kFirstMessageId = 5120;

  uint32_t AllocateMessageId() override;
  uint32_t MessageIdByName(const std::u16string& name) override;
  TMsgHook* AddWindowHook(const void* key, TMessageHookHandler handler) override;
  void RemoveWindowHook(const void* key, TMessageHookHandler handler) override;
  void AddMessageHook(const void* key, std::span<const uint32_t> ids, TMessageHookHandler handler) override;
  void RemoveMessageHook(const void* key, std::span<const uint32_t> ids, TMessageHookHandler handler) override;
  void CallHooks(const void* key, win::HWND window, TMessageRecord& msg, bool& handled) override;
  void AddPostHook(const void* key, TPostHookHandler handler) override;
  void RemovePostHook(const void* key, TPostHookHandler handler) override;
  void CallPostHooks(const void* key, win::HWND window, TMessageRecord& msg) override;
  void AddKeyboardHook(TKeyboardHookHandler handler) override;
  void RemoveKeyboardHook(TKeyboardHookHandler handler) override;

  bool KeyboardHookInstalled() const { return keyboard_hook_ != 0; }

 protected:
  void Dispose() override;

 private:
  win::LRESULT LowLevelKeyboardProc(int32_t code, win::WPARAM wParam, win::LPARAM lParam);

  std::atomic<uint32_t> counter_{kFirstMessageId};
  std::map<std::u16string, uint32_t> names_;
  Ref<TMsgHook> message_hooks_[256];
  Ref<TMsgHook> window_hooks_;
  Ref<TMsgHook> post_hooks_;
  win::HHOOK keyboard_hook_ = 0;
  Ref<TLLKbdHook> keyboard_hooks_;
};

// The program's hook manager. Its first two message ids are the application
// event message (5121) and the form controller's free message (5122).
THookManager* HookManager();
uint32_t ApplicationEventMessage();
uint32_t FormFreeMessage();

// Message hooks on the global manager (the application object as key).
void AddAppMessageHandler(const void* key, std::span<const uint32_t> ids, TMessageHookHandler handler);
void RemoveAppMessageHandler(const void* key, std::span<const uint32_t> ids, TMessageHookHandler handler);

}  // namespace kav
