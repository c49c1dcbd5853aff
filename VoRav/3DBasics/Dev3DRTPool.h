// A pool of scratch render-target textures of one size: layers, blur passes
// and transitions take one per use and give it back, last in, first out.
#pragma once

#include <vector>

#include "VoRav/3DBasics/Dev3DApp2.h"

namespace kav {

class TRenderTargetManager;

class TRenderTargetTexture : public TCustomTexture {
 public:
  TRenderTargetTexture(T3DScreen* screen, TSize size, bool alpha);
  // A render target has no system-memory copy: nothing to fill or upload.
  void Fill(TSysBitmap*) override {}
  void Upload() override {}
  bool Alpha() const { return alpha_; }
  // The pool that lent the texture (null while it lies in the pool).
  TRenderTargetManager* Lender() const { return lender_; }

 protected:
  // A lent texture whose last reference goes is not pooled again (it cannot
  // come back to life): it only leaves its pool's list of lent textures.
  void Dispose() override;

 private:
  friend class TRenderTargetManager;
  bool alpha_;
  TRenderTargetManager* lender_ = nullptr;
};

class TRenderTargetManager : public TRefObject {
 public:
  explicit TRenderTargetManager(bool alpha) : alpha_(alpha) {}

  // Each component raised to the next power of two; a change empties the
  // pool. A size with a component of 0 makes no targets.
  void SetSize(TSize size);
  TSize Size() const { return size_; }
  bool Alpha() const { return alpha_; }
  // The texture given back last, else a new one; its device texture is made.
  // Null while the pool's size is empty.
  Ref<TRenderTargetTexture> Acquire(T3DScreen* screen);
  // Gives a texture back (null is ignored). A texture of another size or
  // format than the pool's (the pool was resized while it was out) is
  // dropped instead of being pooled, so it is never handed out again.
  void Release(TRenderTargetTexture* texture);
  int32_t FreeCount() const { return int32_t(free_.size()); }

 protected:
  void Dispose() override;

 private:
  friend class TRenderTargetTexture;
  bool alpha_;
  TSize size_;
  std::vector<Ref<TRenderTargetTexture>> free_;
  std::vector<TRenderTargetTexture*> lent_;
};

// The next power of two at or above v (0 for v below 1).
int32_t NextPowerOfTwo(int32_t v);

}  // namespace kav
