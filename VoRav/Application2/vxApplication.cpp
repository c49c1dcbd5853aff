#include "VoRav/Application2/vxApplication.h"

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {
std::atomic<TApplication*> g_application{nullptr};
}

TApplication::TApplication() {
  TApplication* none = nullptr;
  KAV_ASSERT(g_application.compare_exchange_strong(none, this));
}

void TApplication::Dispose() {
  TApplication* self = this;
  g_application.compare_exchange_strong(self, nullptr);
  TPostEventList::Dispose();
}

TApplication* Application() { return g_application.load(); }

}  // namespace kav
