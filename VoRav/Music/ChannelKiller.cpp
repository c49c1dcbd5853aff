// The channel killer: one thread of the process that frees stopped passes
// once their fade-out has been heard (their stop deadline has passed and the
// device has mixed it), by handing each back to its channel.
#include <algorithm>
#include <mutex>

#include "VoRav/Application2/vxThreadEventList.h"
#include "VoRav/Music/MusicPlayer.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxTime.h"

namespace kav {

namespace {

constexpr uint32_t kQuit = 1025;
constexpr uint32_t kAddChannel = 1026;

class TAddChannelData : public TRefObject {
 public:
  explicit TAddChannelData(Ref<TMusicChannel> c) : Channel(std::move(c)) {}
  Ref<TMusicChannel> Channel;
};

class TChannelKiller : public TThread {
 public:
  TChannelKiller() {
    events_ = MakeRef<TThreadEventList>(TThreadEventHandler::Bind<&TChannelKiller::Handle>(this));
  }
  void Add(Ref<TMusicChannel> channel) {
    events_->PostEvent(kAddChannel, MakeRef<TAddChannelData>(std::move(channel)).release());
    Wake();
  }
  int32_t Pending() { return pending_count_.load(); }
  void Quit() {
    events_->PostEvent(kQuit, nullptr);
    Wake();
    WaitForever();
  }

 protected:
  void Execute() override {
    while (!quit_) {
      events_->ProcessMessages();
      if (quit_) break;
      if (!pending_.empty()) {
        const uint32_t now = AudioTimeMs();
        for (size_t i = pending_.size(); i-- > 0;) {
          if (!pending_[i]->StopHeard(now)) continue;
          Ref<TMusicChannel> done = pending_[i];
          pending_.erase(pending_.begin() + int64_t(i));
          std::lock_guard<std::recursive_mutex> owner(TMusicChannel::OwnerLock());
          if (TChannelMusic* o = done->Owner()) o->ReleaseStoppedChannel(done.get());
        }
        pending_count_.store(int32_t(pending_.size()));
        SleepMs(10);
      } else {
        std::unique_lock<std::mutex> hold(wake_lock_);
        wake_signal_.wait_for(hold, std::chrono::milliseconds(100), [this] { return woken_; });
        woken_ = false;
      }
    }
    if (!pending_.empty()) LogLine(u"Channel killer: passes still pending at its end");
    pending_.clear();
    pending_count_.store(0);
    events_->Close();
  }
  void Dispose() override {
    if (IsRunning()) Quit();
    events_ = nullptr;
    TThread::Dispose();
  }

 private:
  void Handle(TThreadEventList* list, uint32_t code, bool& handled, TRefObject* param) {
    handled = true;
    if (code == kQuit) {
      quit_ = true;
      list->StopProcessing();
    } else if (code == kAddChannel && param) {
      pending_.push_back(static_cast<TAddChannelData*>(param)->Channel);
      pending_count_.store(int32_t(pending_.size()));
    }
  }
  void Wake() {
    std::lock_guard<std::mutex> hold(wake_lock_);
    woken_ = true;
    wake_signal_.notify_one();
  }

  Ref<TThreadEventList> events_;
  std::vector<Ref<TMusicChannel>> pending_;
  std::atomic<int32_t> pending_count_{0};
  bool quit_ = false;
  std::mutex wake_lock_;
  std::condition_variable wake_signal_;
  bool woken_ = false;
};

std::mutex g_killer_lock;
Ref<TChannelKiller> g_killer;

Ref<TChannelKiller> Killer() {
  std::lock_guard<std::mutex> hold(g_killer_lock);
  if (!g_killer) {
    g_killer = MakeRef<TChannelKiller>();
    g_killer->Start();
  }
  return g_killer;
}

// Module finalisation ends the thread.
struct TKillerFinal {
  ~TKillerFinal() { ShutdownChannelKiller(); }
} g_killer_final;

}  // namespace

void ChannelKillerAdd(Ref<TMusicChannel> channel) { Killer()->Add(std::move(channel)); }

int32_t ChannelKillerPending() {
  std::lock_guard<std::mutex> hold(g_killer_lock);
  return g_killer ? g_killer->Pending() : 0;
}

void ShutdownChannelKiller() {
  Ref<TChannelKiller> killer;
  {
    std::lock_guard<std::mutex> hold(g_killer_lock);
    killer = std::move(g_killer);
  }
  if (killer) killer->Quit();
}

}  // namespace kav
