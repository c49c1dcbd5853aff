#include "platform/d3d/SwVertexBuffer.h"

namespace kav {

TSwResult TSwVertexBuffer::Create(uint32_t length, uint32_t /*usage*/, uint32_t fvf, TSwPool pool,
                                  TSwVideoMemory* memory, TSwDefaultPoolCounter* counter,
                                  Ref<TSwVertexBuffer>& out) {
  out = nullptr;
  if (length == 0 || length > (64u << 20)) return TSwResult::InvalidCall;
  Ref<TSwMemoryBlock> block;
  TSwResult r = TSwMemoryBlock::Create(length, pool, memory, counter, block);
  if (!SwOk(r)) return r;
  auto* vb = new TSwVertexBuffer();
  vb->length_ = length;
  vb->fvf_ = fvf;
  vb->block_ = std::move(block);
  out = Ref<TSwVertexBuffer>::Adopt(vb);
  return TSwResult::Ok;
}

TSwResult TSwVertexBuffer::Lock(uint32_t offset, uint32_t size, void** data, uint32_t /*flags*/) {
  if (!data) return TSwResult::InvalidCall;
  *data = nullptr;
  if (offset > length_ || (size != 0 && size > length_ - offset) || locked_) return TSwResult::InvalidCall;
  locked_ = true;
  *data = block_->Data() + offset;
  return TSwResult::Ok;
}

TSwResult TSwVertexBuffer::Unlock() {
  if (!locked_) return TSwResult::InvalidCall;
  locked_ = false;
  return TSwResult::Ok;
}

}  // namespace kav
