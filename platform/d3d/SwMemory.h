// Memory of the software device's resources and its accounting.
//
// Every resource's storage is one TSwMemoryBlock: zeroed at creation, 64-byte
// aligned, with 64 spare bytes after the end so vector loads at the last
// element stay inside the allocation. Default-pool and managed-pool blocks
// count against their adapter's video-memory budget (TSwVideoMemory), which
// tests lower to provoke out-of-video-memory failures; default-pool blocks
// are also counted per device, because a device can only be reset once all
// of them are gone.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "VoRav/SysObj2.h"
#include "platform/d3d/SwTypes.h"

namespace kav {

// Video memory of one adapter: bytes in use and the budget. Thread-safe.
class TSwVideoMemory : public TRefObject {
 public:
  // Budget in bytes; unlimited by default.
  void SetBudget(uint64_t bytes) { budget_.store(bytes); }
  uint64_t Budget() const { return budget_.load(); }
  uint64_t Used() const { return used_.load(); }
  // Takes `bytes` when they fit in the budget; false otherwise.
  bool TryReserve(uint64_t bytes);
  void Release(uint64_t bytes) { used_.fetch_sub(bytes); }

 private:
  std::atomic<uint64_t> budget_{std::numeric_limits<uint64_t>::max()};
  std::atomic<uint64_t> used_{0};
};

// Live default-pool resources of one device.
class TSwDefaultPoolCounter : public TRefObject {
 public:
  int32_t Count() const { return count_.load(); }
  void Add(int32_t n) { count_.fetch_add(n); }

 private:
  std::atomic<int32_t> count_{0};
};

class TSwMemoryBlock : public TRefObject {
 public:
  // Allocates `bytes` zeroed bytes for a resource of `pool`. Fails with
  // OutOfVideoMemory when the budget refuses them, OutOfMemory when the host
  // cannot allocate them. `memory` and `counter` may be null (not counted).
  // `allocate` false counts the bytes but allocates none (Data() is null):
  // render targets of a device whose backend keeps them elsewhere.
  static TSwResult Create(uint64_t bytes, TSwPool pool, TSwVideoMemory* memory, TSwDefaultPoolCounter* counter,
                          Ref<TSwMemoryBlock>& out, bool allocate = true);

  uint8_t* Data() const { return data_; }
  // Gives the whole pages of the bytes back to the system; they read as
  // zeros until written again. The block stays allocated and counted.
  void DropPages();
  uint64_t Size() const { return size_; }
  TSwPool Pool() const { return pool_; }

 protected:
  void Dispose() override;

 private:
  TSwMemoryBlock() = default;
  uint8_t* data_ = nullptr;
  uint64_t mapped_ = 0;  // bytes of its own pages (mmap), else 0 (heap)
  uint64_t size_ = 0;
  uint64_t counted_ = 0;
  TSwPool pool_ = TSwPool::SystemMem;
  Ref<TSwVideoMemory> memory_;
  Ref<TSwDefaultPoolCounter> counter_;
};

}  // namespace kav
