#include "VoRav/Application2/winSessionInformation.h"

#include <mutex>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/wpExceptions.h"

namespace kav {

using namespace win;

namespace {

std::mutex g_session_lock;
std::atomic<TSessionManager*> g_session{nullptr};
const uint32_t kSessionChange[] = {WM_WTSSESSION_CHANGE};

}  // namespace

TSessionManager::TSessionManager(bool notifications) {
  if (!notifications) return;  // nothing to register: never locked
  KAV_ASSERT_MSG(WinApplication() != nullptr, "WinApllication not Initializaed");
  application_ = WinApplication();
  HookManager()->AddMessageHook(application_, kSessionChange,
                                TMessageHookHandler::Bind<&TSessionManager::SessionChange>(this));
  WinApplication()->AddHandler(0, TEventListHandler::Bind<&TSessionManager::ApplicationEvent>(this));
  registered_ = true;
}

void TSessionManager::SessionChange(HWND, TMessageRecord& msg, bool&) {
  if (msg.WParam == WTS_SESSION_LOCK) locked_ = true;
  else if (msg.WParam == WTS_SESSION_UNLOCK) locked_ = false;
  // Left unhandled: others may watch the same message.
}

void TSessionManager::ApplicationEvent(TRefObject*, uint32_t id, void*) {
  KAV_ASSERT(id == 0);
  Unregister();
}

void TSessionManager::Unregister() {
  if (!registered_) return;
  registered_ = false;
  HookManager()->RemoveMessageHook(application_, kSessionChange,
                                   TMessageHookHandler::Bind<&TSessionManager::SessionChange>(this));
  if (WinApplication() == application_)
    WinApplication()->RemoveHandler(0, TEventListHandler::Bind<&TSessionManager::ApplicationEvent>(this));
}

void TSessionManager::Dispose() {
  Unregister();
  TRefObject::Dispose();
}

bool IsSessionLocked() {
  TSessionManager* m = g_session.load();
  if (!m) {
    // Made on the GUI thread only: its registration belongs to that thread.
    if (!OnGuiThread()) return false;
    std::lock_guard<std::mutex> guard(g_session_lock);
    m = g_session.load();
    if (!m) {
      m = new TSessionManager(false);  // no session notifications on this system
      g_session = m;
    }
  }
  return m->Locked();
}

TSessionManager* SessionManager() { return g_session.load(); }

void FreeSessionManager() {
  std::lock_guard<std::mutex> guard(g_session_lock);
  if (TSessionManager* m = g_session.exchange(nullptr)) m->Free();
}

int32_t IsDwmCompositionEnabled(bool& enabled) {
  (void)enabled;
  return E_NOTIMPL_RESULT;
}

int32_t SHCreateItemFromParsingName(const std::u16string& path, void** item) {
  (void)path;
  if (item) *item = nullptr;
  return E_NOTIMPL_RESULT;
}

void ScreenPixelsPerInch(int32_t& x, int32_t& y) { GetScreenDpi(x, y); }

bool RegionToRects(const TRegion* region, TRect& bounds, TRectList& list) {
  if (!region) return false;
  bounds = region->Bounds;
  for (const TRect& r : region->Rects.Items) list.Add(r);
  return true;
}

Ref<TRegion> RectsToRegion(const TRectList& rects, const TRect& bounds) {
  if (rects.Count() == 0) return nullptr;
  Ref<TRegion> region = MakeRef<TRegion>();
  for (const TRect& r : rects.Items) region->Rects.Include(r);
  region->Bounds = bounds;
  return region;
}

}  // namespace kav
