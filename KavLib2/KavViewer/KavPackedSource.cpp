#include "KavLib2/KavViewer/KavPackedSource.h"

namespace kav {

TPackedFileSource::TPackedFileSource(TKavUnpack* unpack, bool owns) : unpack_(unpack), owns_(owns) {
  KAV_ASSERT(unpack != nullptr);
}

void TPackedFileSource::Dispose() {
  if (owns_ && unpack_) unpack_->Close();
  unpack_ = nullptr;
  TMappedFileSource::Dispose();
}

Ref<TStream> TPackedFileSource::OpenTarget(const std::u16string& name) {
  int64_t position = 0, size = 0;
  int32_t method = 0;
  if (!unpack_->GetEntry(name, position, method, size)) return nullptr;
  Ref<TStream> file = unpack_->OpenFile();
  if (!file) return nullptr;
  // OpenLocked adds the chunked window with the loading callback.
  return TKavUnpack::OpenEntryStream(file.release(), method, true, unpack_->KeyText(), position, size,
                                     unpack_.get());
}

}  // namespace kav
