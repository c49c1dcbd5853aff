// The application object: owns the GUI thread's message loop, the hidden
// application window, the application event list through which other
// threads hand work to the GUI thread, and the list of running objects that
// must finish before the program may end. It is itself an event list:
// clients register handlers under ids drawn from it and are reached on the
// GUI thread through PostEvent and SendEvent.
//
// Exactly one exists at a time (Application()). Life: created -> Initialize
// (window) -> Run (loop until WM_QUIT) -> application event 0 -> Finalize
// (running objects gone or the time-out passed, window destroyed, event list
// closed) -> released.
#pragma once

#include <atomic>
#include <string>

#include "VoRav/Application2/vxEventList.h"

namespace kav {

class TApplication : public TPostEventList {
 public:
  TApplication();

  virtual void Finalize() = 0;
  virtual bool Terminated() = 0;
  virtual std::u16string GetTitle() = 0;
  virtual void SetTitle(const std::u16string& title) = 0;
  virtual void Initialize() = 0;
  virtual void Run() = 0;
  // Any thread: ends the loop.
  virtual void Terminate() = 0;
  // Any thread.
  virtual void AddRunningObject(TRefObject* object) = 0;
  virtual void RemoveRunningObject(TRefObject* object) = 0;

 protected:
  void Dispose() override;
};

// The application while it lives, else nil.
TApplication* Application();

}  // namespace kav
