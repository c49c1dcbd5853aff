// The application postman: a monitor-guarded list meant to carry messages
// posted to the application between threads. One process-wide instance
// lives from start-up to shutdown; nothing posts to it yet.
#pragma once

#include "VoRav/vxLists.h"
#include "VoRav/vxMonitors.h"

namespace kav {

class TAppPostman : public TMonitor {
 public:
  // The monitor and an empty message list.
  TAppPostman();
  // The message list; callers hold the monitor while they use it.
  TList* Messages() const noexcept { return messages_.get(); }

 protected:
  // Frees the list. A list that is missing or still holds messages is
  // reported ("Invalid Messages List at TAppPostman.Dispose"), not drained;
  // the report does not stop the clean-up.
  void Dispose() override;

 private:
  Ref<TList> messages_;
};

// The process-wide postman, made on first use.
TAppPostman* AppPostman();
// Frees the process-wide postman (shutdown); a later AppPostman() makes a new one.
void FreeAppPostman();

}  // namespace kav
