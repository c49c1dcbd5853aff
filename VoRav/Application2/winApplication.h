// The application object on the window layer.
#pragma once

#include <atomic>
#include <string>

#include "VoRav/Application2/vxApplication.h"
#include "VoRav/Application2/winAppEventList.h"
#include "VoRav/vxLists.h"

namespace kav {

class TWinApplication : public TApplication {
 public:
  static constexpr uint32_t kFinalizeTimeoutMs = 30000;

  TWinApplication();

  // Any thread: to the handler registered under `id`, on the GUI thread,
  // with the application event list as sender.
  void PostEvent(uint32_t id, TRefObject* data) override;
  void SendEvent(uint32_t id, TRefObject* data) override;
  // Runs pending events until no running object is left or the time-out
  // passed, then closes the event list. Still running after the time-out:
  // an assertion is reported and the process ends with ExitCode.
  void Finalize() override;
  void Initialize() override;
  void AddRunningObject(TRefObject* object) override;
  void RemoveRunningObject(TRefObject* object) override;

  virtual void CreateHandle() = 0;
  virtual win::HWND GetHandle() = 0;
  // Handles every message already queued and returns.
  virtual void ProcessMessages() = 0;

  TWinAppEventList* EventList() { return event_list_.get(); }
  int32_t RunningObjectCount();
  bool Finalized() const { return finalized_; }

  // The time Finalize waits for running objects (tests shorten it).
  uint32_t FinalizeTimeoutMs = kFinalizeTimeoutMs;
  // The process's exit code when Finalize gives up.
  int32_t ExitCode = 0;

 protected:
  void Dispose() override;

 private:
  Ref<TWinAppEventList> event_list_;
  Ref<TCriticalSection> lock_;
  Ref<TEvent> wake_;
  Ref<TList> running_;
  bool finalized_ = false;
};

class TVxApplication : public TWinApplication {
 public:
  TVxApplication();

  void Finalize() override;
  bool Terminated() override { return terminated_.load(); }
  std::u16string GetTitle() override { return title_; }
  void SetTitle(const std::u16string& title) override;
  void Run() override;
  void Terminate() override;
  void CreateHandle() override;
  win::HWND GetHandle() override { return handle_.load(); }
  void ProcessMessages() override;

 protected:
  void Dispose() override;

 private:
  // Translates and dispatches one message; an exception is shown and the
  // loop goes on.
  void Dispatch(const win::TMsg& msg);
  void DestroyHandle();

  std::atomic<win::HWND> handle_{0};  // read by posting threads
  std::u16string title_;
  std::atomic<bool> terminated_{false};
};

// Creates the application (the creator's reference).
TVxApplication* CreateApplication();
TWinApplication* WinApplication();
TVxApplication* VxApplication();

// Shows an exception that escaped a handler: cancels the mouse capture, then
// "Application Error" (nothing for an abort).
void HandleApplicationException(const std::exception& e);

}  // namespace kav
