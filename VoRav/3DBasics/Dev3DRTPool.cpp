#include "VoRav/3DBasics/Dev3DRTPool.h"

#include <algorithm>

#include "VoRav/vxLog.h"

namespace kav {

int32_t NextPowerOfTwo(int32_t v) {
  if (v < 1) return 0;
  int32_t p = 1;
  while (p < v && p < (1 << 30)) p <<= 1;
  return p;
}

TRenderTargetTexture::TRenderTargetTexture(T3DScreen* screen, TSize size, bool alpha)
    : TCustomTexture(screen), alpha_(alpha) {
  SetKind(alpha ? k3DTexTargetAlpha : k3DTexTarget);
  SetPremultiplied(false);
  SetSize(size);
}

void TRenderTargetTexture::Dispose() {
  if (lender_) {
    auto& l = lender_->lent_;
    l.erase(std::remove(l.begin(), l.end(), this), l.end());
    lender_ = nullptr;
  }
  TCustomTexture::Dispose();
}

void TRenderTargetManager::SetSize(TSize size) {
  const TSize s{NextPowerOfTwo(size.cx), NextPowerOfTwo(size.cy)};
  if (s == size_) return;
  free_.clear();
  size_ = s;
}

Ref<TRenderTargetTexture> TRenderTargetManager::Acquire(T3DScreen* screen) {
  if (size_.cx <= 0 || size_.cy <= 0 || !screen) return nullptr;
  Ref<TRenderTargetTexture> t;
  while (!free_.empty() && !t) {
    t = std::move(free_.back());
    free_.pop_back();
    if (t->ImageSize() != size_ || t->Screen() != screen) t = nullptr;
  }
  if (!t) t = MakeRef<TRenderTargetTexture>(screen, size_, alpha_);
  t->lender_ = this;
  lent_.push_back(t.get());
  t->GetTexture();
  return t;
}

void TRenderTargetManager::Release(TRenderTargetTexture* texture) {
  if (!texture) return;
  auto it = std::find(lent_.begin(), lent_.end(), texture);
  if (it != lent_.end()) lent_.erase(it);
  texture->lender_ = nullptr;
  if (texture->ImageSize() != size_ || texture->Alpha() != alpha_) {
    LogLine(u"TRenderTargetManager.Release: a target of another size is dropped");
    return;
  }
  free_.push_back(Ref<TRenderTargetTexture>(texture));
}

void TRenderTargetManager::Dispose() {
  for (TRenderTargetTexture* t : lent_) t->lender_ = nullptr;
  lent_.clear();
  free_.clear();
  TRefObject::Dispose();
}

}  // namespace kav
