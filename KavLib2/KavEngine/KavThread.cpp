#include "KavLib2/KavEngine/KavThread.h"

#include "VoRav/vxTime.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinApi.h"

namespace kav {

// --- TKavThreadEventList ----------------------------------------------------

void TKavThreadEventList::WaitForMessage(uint32_t ms) {
  std::unique_lock<std::mutex> lock(wait_lock_);
  posted_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; });
  signalled_ = false;
}

void TKavThreadEventList::Wake() {
  {
    std::lock_guard<std::mutex> lock(wait_lock_);
    signalled_ = true;
  }
  posted_.notify_all();
}

void TKavThreadEventList::Queued(int32_t kind) {
  (void)kind;
  Wake();
}

// --- TKavThread ------------------------------------------------------------

TKavThread::TKavThread()
    : event_list_(MakeRef<TKavThreadEventList>()) {
  event_list_->SetHandler(TThreadEventHandler::Bind<&TKavThread::DispatchEvent>(this));
}

bool TKavThread::Start() {
  // Set before the thread runs: a thread that ends at once clears it again
  // in OnStop, and must not find it set afterwards.
  running_ = true;
  if (!TThread::Start()) {
    running_ = false;
    return false;
  }
  return true;
}

void TKavThread::Terminate() {
  if (event_list_) event_list_->Close();
  TThread::Terminate();
  if (event_list_) event_list_->Wake();
}

void TKavThread::WaitForMessage(uint32_t ms) {
  if (event_list_) event_list_->WaitForMessage(ms);
  else SleepMs(ms);
}

void TKavThread::Stop() {
  Terminate();
  WaitForEnd();
}

void TKavThread::WaitForEnd() {
  if (CurrentThreadId() == event_list_->OwnerThread()) return;
  if (IsMainThread()) {
    while (!WaitFor(10)) win::PumpSentMessages();
  } else {
    WaitForever();
  }
}

void TKavThread::Execute() {
  event_list_->SetOwnerThread(CurrentThreadId());
  OnStart();
  try {
    while (!Terminated()) Step();
  } catch (...) {
    // The stop handler runs also when the body raised, so that nobody keeps
    // waiting for a flag it clears; the thread base reports the exception.
    OnStop();
    throw;
  }
  OnStop();
}

void TKavThread::HandleEvent(TThreadEventList* sender, uint32_t code, bool& handled, TRefObject* param) {
  (void)sender; (void)code; (void)handled; (void)param;
}

void TKavThread::OnStop() { running_ = false; }

void TKavThread::Dispose() {
  Terminate();
  WaitForEnd();
  event_list_ = nullptr;
  TThread::Dispose();
}

// --- TKavEventData ---------------------------------------------------------

TKavEventData::TKavEventData(uint32_t code, bool owns_object, TRefObject* object,
                             std::initializer_list<int32_t> params)
    : Code(code), Params(params), Object(object), OwnsObject(owns_object) {}

TKavEventData::TKavEventData(uint32_t code, bool owns_object, TRefObject* object, std::vector<int32_t> params)
    : Code(code), Params(std::move(params)), Object(object), OwnsObject(owns_object) {}

void TKavEventData::Dispose() {
  if (OwnsObject) RefRelease(std::exchange(Object, nullptr));
  TRefObject::Dispose();
}

// --- TCustomKavEngine ------------------------------------------------------

TCustomKavEngine::TCustomKavEngine(TPostEventList* owner) : owner_(owner) {
  KAV_ASSERT(owner_ != nullptr);
  own_id_ = owner_->NewEventId();
  owner_->AddHandler(own_id_, TEventListHandler::Bind<&TCustomKavEngine::DispatchOwnerEvent>(this));
}

void TCustomKavEngine::Dispose() {
  owner_->RemoveHandler(own_id_, TEventListHandler::Bind<&TCustomKavEngine::DispatchOwnerEvent>(this));
  TKavThread::Dispose();
}

void TCustomKavEngine::PostEvent(uint32_t code, std::initializer_list<int32_t> params, bool owns_object,
                                 TRefObject* object) {
  owner_->PostEvent(own_id_, new TKavEventData(code, owns_object, object, params));
}

int32_t TCustomKavEngine::NextEventId() { return open_counter_.fetch_add(1) + 1; }

void TCustomKavEngine::DispatchOwnerEvent(TRefObject* sender, uint32_t id, void* data) {
  (void)sender;
  if (id != own_id_ || !data) return;
  auto* event = static_cast<TKavEventData*>(static_cast<TRefObject*>(data));
  switch (event->Code) {
    case kGuiState:
      if (OnState) OnState(this);
      break;
    case kGuiTime:
      // A report of an older open request, or one short of its values, is dropped.
      if (event->Params.size() >= 4 && event->Params[0] == open_counter_.load() && OnTime)
        OnTime(this, event->Params[1], event->Params[3] != 0, event->Params[2]);
      break;
    default:
      if (OnEvent) OnEvent(this, event);
      break;
  }
}

}  // namespace kav
