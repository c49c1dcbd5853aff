#include "VoRav/vxAppPostman.h"

#include <mutex>

#include "VoRav/wpExceptions.h"

namespace kav {

TAppPostman::TAppPostman() : messages_(MakeRef<TList>()) {}

void TAppPostman::Dispose() {
  const bool valid = messages_ && messages_->Count() == 0;
  messages_ = nullptr;
  if (!valid) {
    // The assertion raises; the clean-up below must still run.
    try {
      KAV_ASSERT_FAIL("Invalid Messages List at TAppPostman.Dispose");
    } catch (const EAbort&) {
    }
  }
  TMonitor::Dispose();
}

namespace {
std::mutex g_postman_lock;
Ref<TAppPostman> g_postman;
}  // namespace

TAppPostman* AppPostman() {
  std::lock_guard<std::mutex> hold(g_postman_lock);
  if (!g_postman) g_postman = MakeRef<TAppPostman>();
  return g_postman.get();
}

void FreeAppPostman() {
  Ref<TAppPostman> gone;
  {
    std::lock_guard<std::mutex> hold(g_postman_lock);
    gone = std::move(g_postman);
  }
}

}  // namespace kav
