#include "KavLib2/KavObjects/KavViewPort.h"

#include "KavLib2/KavObjects/KavBox.h"
#include "VoRav/vxIni.h"

namespace kav {

namespace {
TKavObjectFactory g_previous = nullptr;
}

void TKavMaskStencil::LoadFromIni(TKavObjectProps* props, bool reload) {
  TKavObject::LoadFromIni(props, reload);
  if (parent_) SetSize(parent_->Size());
  TranspForClick = IniGetBool(props ? props->FindValue(u"TranspForClick") : nullptr, true);
}

void TKavViewPort::LoadFromIni(TKavObjectProps* props, bool reload) {
  if (props && props->FindValue(u"Size")) SetSize(ReadObjectSize(props));
  TKavObject::LoadFromIni(props, reload);
}

void TKavViewPort::Draw(TDeviceDrawer* drawer) {
  stencil_ = nullptr;
  content_ = nullptr;
  for (Ref<TKavObject>& c : children_) {
    if (auto* content = dynamic_cast<TKavMaskContent*>(c.get())) content_ = content;
    else if (auto* stencil = dynamic_cast<TKavMaskStencil*>(c.get())) stencil_ = stencil;
  }
  if (!stencil_ || !content_) return;
  TKavObjectHost* host = ParentQuery();
  mask_value_ = content_->ChildCount() > 0 ? 0 : (host ? host->DefaultMaskValue() : 0);
  if (Visible() && !Hidden() && FacingShown()) DrawSelf(drawer);
  CommitState(false);
}

void TKavViewPort::DrawSelf(TDeviceDrawer* drawer) {
  // The drawer's masked draw takes the two subtrees; the mask value and the
  // opacity stay on the viewport for it to read.
  drawer->DrawWithEffect(content_, stencil_, nullptr);
}

Ref<TKavObject> CreateKavViewPortObject(int32_t kind, TKavObject* parent, TKavObjectProps* props) {
  switch (kind) {
    case kKindViewPort: return TKavObject::Create<TKavViewPort>(parent, props);
    case kKindMaskStencil: return TKavObject::Create<TKavMaskStencil>(parent, props);
    case kKindMaskContent: return TKavObject::Create<TKavMaskContent>(parent, props);
    default: return g_previous ? g_previous(kind, parent, props) : nullptr;
  }
}

void RegisterKavViewPortFactory() { g_previous = SetKavObjectFactory(CreateKavViewPortObject); }

}  // namespace kav
