// A vertex buffer: bytes in a flexible vertex format.
#pragma once

#include "platform/d3d/SwMemory.h"

namespace kav {

class TSwVertexBuffer : public TRefObject {
 public:
  // `length` bytes (1 .. 64 MiB), zeroed.
  static TSwResult Create(uint32_t length, uint32_t usage, uint32_t fvf, TSwPool pool, TSwVideoMemory* memory,
                          TSwDefaultPoolCounter* counter, Ref<TSwVertexBuffer>& out);

  uint32_t Length() const { return length_; }
  uint32_t Fvf() const { return fvf_; }
  // Locks `size` bytes from `offset` (size 0: to the end). A second lock or a
  // range past the end is an invalid call.
  TSwResult Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags);
  TSwResult Unlock();

  const uint8_t* Data() const { return block_->Data(); }

 private:
  TSwVertexBuffer() = default;
  uint32_t length_ = 0, fvf_ = 0;
  Ref<TSwMemoryBlock> block_;
  bool locked_ = false;
};

}  // namespace kav
