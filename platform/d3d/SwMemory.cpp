#include "platform/d3d/SwMemory.h"

#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace kav {

namespace {
constexpr uint64_t kSpareBytes = 64;
// Largest single resource: far above any texture the caps allow.
constexpr uint64_t kMaxBlockBytes = uint64_t(1) << 32;
// Blocks from this size on are aligned to and advised for huge pages: rows of
// a large picture lie many small pages apart, and scaling it down reads
// rows from all over it.
constexpr uint64_t kHugePage = uint64_t(2) << 20;
// Departure: blocks from this size up to a huge page are pages of their own
// (mmap), given back to the system when freed. From the heap, the tiles of a
// picture let go on one thread stayed resident in that thread's arena while
// the next set was made on another, so a long caption's tiles counted twice.
constexpr uint64_t kOwnPages = uint64_t(128) << 10;
}  // namespace

bool TSwVideoMemory::TryReserve(uint64_t bytes) {
  uint64_t used = used_.load();
  for (;;) {
    uint64_t budget = budget_.load();
    if (bytes > budget || used > budget - bytes) return false;
    if (used_.compare_exchange_weak(used, used + bytes)) return true;
  }
}

TSwResult TSwMemoryBlock::Create(uint64_t bytes, TSwPool pool, TSwVideoMemory* memory,
                                 TSwDefaultPoolCounter* counter, Ref<TSwMemoryBlock>& out, bool allocate) {
  out = nullptr;
  if (bytes == 0 || bytes > kMaxBlockBytes) return TSwResult::InvalidCall;
  bool counted = memory && (pool == TSwPool::Default || pool == TSwPool::Managed);
  if (counted && !memory->TryReserve(bytes)) return TSwResult::OutOfVideoMemory;
  const uint64_t align = bytes >= kHugePage ? kHugePage : 64;
  uint64_t total = (bytes + kSpareBytes + align - 1) & ~(align - 1);
  void* p = nullptr;
  const bool own_pages = allocate && total >= kOwnPages && align != kHugePage;
  if (own_pages) {
    // Zeroed by the system.
    p = mmap(nullptr, size_t(total), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
      if (counted) memory->Release(bytes);
      return TSwResult::OutOfMemory;
    }
  } else if (allocate) {
    p = std::aligned_alloc(size_t(align), size_t(total));
    if (p && align == kHugePage) madvise(p, size_t(total), MADV_HUGEPAGE);  // advice only: failure changes nothing
    if (!p) {
      if (counted) memory->Release(bytes);
      return TSwResult::OutOfMemory;
    }
    std::memset(p, 0, size_t(total));
  }
  auto* b = new TSwMemoryBlock();
  b->data_ = static_cast<uint8_t*>(p);
  b->mapped_ = own_pages ? total : 0;
  b->size_ = bytes;
  b->pool_ = pool;
  if (counted) {
    b->counted_ = bytes;
    b->memory_ = Ref<TSwVideoMemory>(memory);
  }
  if (counter && pool == TSwPool::Default) {
    counter->Add(1);
    b->counter_ = Ref<TSwDefaultPoolCounter>(counter);
  }
  out = Ref<TSwMemoryBlock>::Adopt(b);
  return TSwResult::Ok;
}

void TSwMemoryBlock::DropPages() {
  if (!data_) return;
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (uintptr_t(data_) + page - 1) & ~(page - 1);
  const uintptr_t end = (uintptr_t(data_) + size_) & ~(page - 1);
  // Only pages wholly inside the block: a heap block shares its first and
  // last page with the allocator's own bytes.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), size_t(end - begin), MADV_DONTNEED);
}

void TSwMemoryBlock::Dispose() {
  if (mapped_ != 0)
    munmap(data_, size_t(mapped_));
  else
    std::free(data_);
  data_ = nullptr;
  mapped_ = 0;
  if (memory_) memory_->Release(counted_);
  if (counter_) counter_->Add(-1);
  memory_ = nullptr;
  counter_ = nullptr;
  TRefObject::Dispose();
}

}  // namespace kav
