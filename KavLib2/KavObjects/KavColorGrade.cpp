#include "KavLib2/KavObjects/KavColorGrade.h"

#include <algorithm>
#include <vector>

#include "KavLib2/KavClasses/KavKeyFrame.h"
#include "KavLib2/KavClasses/KavObjectProps.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

void TFilterChainTransform::TransformPixels(TBitmap* bitmap) {
  auto* sys = dynamic_cast<TSysBitmap*>(bitmap);
  if (!sys || sys->BytesPerPixel() != 4 || !chain_) return;
  ApplyFilterChain(chain_.get(), sys->Rows(), sys->Width());
}

void TFilterChainTransform::Dispose() {
  chain_.reset();
  TColorTransform::Dispose();
}

Ref<TSysBitmap> MakeColorLookup(TColorTransform* transform) {
  if (!transform) return nullptr;
  Ref<TSysBitmap> lut = CreateSysBitmap(32, 1024, StdFormats().A8R8G8B8);
  FillIdentityLut32(lut.get());
  transform->TransformPixels(lut.get());
  return lut;
}

TColorGradeWrapper::TColorGradeWrapper(TObjectFilter* chain) : chain_(chain), key_(FilterChainRevisionText(chain)) {}

void TColorGradeWrapper::Dispose() {
  texture_.reset();
  chain_.reset();
  TRefObject::Dispose();
}

void TColorGradeWrapper::SetChain(TObjectFilter* chain) {
  const TByteString key = FilterChainRevisionText(chain);
  if (chain == chain_.get() && key == key_) return;
  chain_ = Ref<TObjectFilter>(chain);
  key_ = key;
  dirty_ = true;
}

void TColorGradeWrapper::UpdateLut(T3DScreen* screen, int32_t kind, TSysBitmap* lookup) {
  const uint8_t texture_kind = kind == kFilterKindColorGrade ? 1 : 2;
  if (!texture_ || texture_->Kind() != texture_kind) {
    texture_ = MakeRef<TCustomColorGradeTexture>(screen, texture_kind);
    dirty_ = true;
  }
  if (!dirty_) return;
  if (texture_kind == 1) {
    // The volume is computed here: the source lookup (or the identity) with
    // the chain run over it, handed to the texture as its source.
    Ref<TSysBitmap> volume = CreateSysBitmap(32, 1024, StdFormats().A8R8G8B8);
    if (lookup) volume->CopyFrom(lookup);
    else FillIdentityLut32(volume.get());
    if (chain_) ApplyFilterChain(chain_.get(), volume->Rows(), volume->Width());
    texture_->SetSourceLut(volume.get(), false);
    texture_->SetColorTransform(nullptr);
  } else {
    Ref<TColorTransform> transform =
        chain_ ? Ref<TColorTransform>(MakeRef<TFilterChainTransform>(chain_.get())) : nullptr;
    texture_->SetColorTransform(transform.get());
  }
  dirty_ = false;
}

TColorGradeWrapper* TColorGradeState::Holder(int32_t index, TObjectFilter* chain) {
  Ref<TColorGradeWrapper>& h = holders_[index];
  if (!h) h = MakeRef<TColorGradeWrapper>(chain);
  else h->SetChain(chain);
  return h.get();
}

void TColorGradeState::Apply(TKavObjectProps* props, T3DScreen* screen, TSysBitmap* forced, TImageDrawParams& p) {
  p.GradeMode = 0;
  p.GradeMix = 0;
  p.GradeLut1 = p.GradeLut2 = nullptr;
  if (!props || !screen) return;
  TKavKeyFrame* a = props->PrevKeyFrame(kGroupColor);
  TKavKeyFrame* b = props->NextKeyFrame(kGroupColor);
  if (!a) a = b;
  if (!b) b = a;
  TObjectFilter* ca = a ? a->Filters() : nullptr;
  TObjectFilter* cb = b ? b->Filters() : nullptr;
  const int32_t filtered = std::max(CheckFilterChain(ca), CheckFilterChain(cb));
  const int32_t kind = forced ? kFilterKindColorGrade : filtered;
  if (kind < kFilterKindColor) return;
  const double mix = a && b && a != b ? props->GroupTime(kGroupColor) : 0.0;
  // The drawer blends the picture with one lookup: a keyframe without
  // filters (and no forced lookup) is the picture itself, so a move from or
  // to it is exact; between two filtered keyframes the nearer one's lookup
  // is drawn.
  TColorGradeWrapper* holder = nullptr;
  double strength = 1.0;
  const bool plain_a = !forced && CheckFilterChain(ca) < kFilterKindColor;
  const bool plain_b = !forced && CheckFilterChain(cb) < kFilterKindColor;
  if (plain_a && !plain_b) {
    holder = Holder(b->Index(), cb);
    strength = mix;
  } else if (plain_b && !plain_a) {
    holder = Holder(a->Index(), ca);
    strength = 1.0 - mix;
  } else if (!a) {
    holder = Holder(-1, nullptr);
  } else {
    TKavKeyFrame* k = mix < 0.5 ? a : b;
    holder = Holder(k->Index(), k->Filters());
  }
  holder->UpdateLut(screen, kind, forced);
  p.GradeMix = float(strength);
  if (kind == kFilterKindColorGrade) {
    p.GradeMode = 1;
    p.GradeLut1 = holder->Texture();
  } else {
    p.GradeMode = 2;
    p.GradeLut2 = holder->Texture();
  }
}

}  // namespace kav
