#include "KavLib2/KavViewer/KavPackedSource.h"

#include <utility>

namespace kav {

namespace {
// Set while this thread opens through OpenStreamed; OpenTarget runs inside
// the source's lock, on the same thread.
thread_local bool t_streamed = false;
}  // namespace

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
                                     unpack_.get(), t_streamed ? 0 : held_limit_.load(), name);
}

Ref<TStream> TPackedFileSource::OpenStreamed(const std::u16string& name) {
  struct TScope {
    bool was = std::exchange(t_streamed, true);
    ~TScope() { t_streamed = was; }
  } scope;
  return OpenLocked(name);
}

}  // namespace kav
