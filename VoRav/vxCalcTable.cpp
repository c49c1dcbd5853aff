// The global function table: 16 buckets of singly linked chains. Writers hold
// the table's lock and publish a function by pushing it onto the front of its
// chain with a compare-and-exchange, so readers walk the chains without the
// lock. Functions are only unlinked at program exit.
#include <atomic>
#include <bit>
#include <mutex>
#include <thread>

#include "VoRav/vxCalcUtils.h"

namespace kav {

class TCalcFunctionTable {
 public:
  static constexpr uint32_t kBuckets = 16;

  static TCalcFunctionTable& Instance() {
    static TCalcFunctionTable table;
    return table;
  }

  ~TCalcFunctionTable() { Free(); }

  void Build() {
    if (built_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (built_.load(std::memory_order_relaxed)) return;
    for (const Ref<TCalcFunc>& f : CreateBuiltinCalcFunctions()) Push(f.get());
    built_.store(true, std::memory_order_release);
  }

  void Add(TCalcFunc* f) {
    Build();
    std::lock_guard<std::mutex> lock(mutex_);
    Push(f);
  }

  Ref<TCalcFunc> Find(std::string_view name) {
    Build();
    for (TCalcFunc* f = buckets_[Hash(name) & (kBuckets - 1)].load(std::memory_order_acquire); f != nullptr;
         f = f->next_) {
      if (SameName(f->name_, name)) return Ref<TCalcFunc>(f);
    }
    return nullptr;
  }

  void Free() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& bucket : buckets_) {
      TCalcFunc* f = bucket.exchange(nullptr, std::memory_order_acq_rel);
      while (f != nullptr) {
        TCalcFunc* next = f->next_;
        RefRelease(f);
        f = next;
      }
    }
    built_.store(false, std::memory_order_release);
  }

 private:
  // Takes a reference for the table and links f in front of its chain.
  void Push(TCalcFunc* f) {
    RefAddRef(f);
    std::atomic<TCalcFunc*>& bucket = buckets_[Hash(f->name_) & (kBuckets - 1)];
    TCalcFunc* head = bucket.load(std::memory_order_relaxed);
    for (;;) {
      f->next_ = head;
      if (bucket.compare_exchange_weak(head, f, std::memory_order_release, std::memory_order_relaxed)) break;
      std::this_thread::yield();
    }
  }

  static unsigned char Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

  // The key hash over ASCII-lower-cased bytes: x = h + c; h = x - rotl(x, 13).
  static uint32_t Hash(std::string_view name) {
    uint32_t h = 0;
    for (char ch : name) {
      uint32_t x = h + Lower(static_cast<unsigned char>(ch));
      h = x - std::rotl(x, 13);
    }
    return h;
  }

  static bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (Lower(static_cast<unsigned char>(a[i])) != Lower(static_cast<unsigned char>(b[i]))) return false;
    return true;
  }

  std::mutex mutex_;
  std::atomic<bool> built_{false};
  std::atomic<TCalcFunc*> buckets_[kBuckets] = {};
};

void BuildFunctionTable() { TCalcFunctionTable::Instance().Build(); }
Ref<TCalcFunc> FindCalcFunction(std::string_view name) { return TCalcFunctionTable::Instance().Find(name); }
void AddCalcFunction(const Ref<TCalcFunc>& func) {
  KAV_ASSERT(func);
  TCalcFunctionTable::Instance().Add(func.get());
}
void FreeFunctionTable() { TCalcFunctionTable::Instance().Free(); }

}  // namespace kav
