// The file source of a packed show: entries of a TKavUnpack by name, after
// the show's name map.
#pragma once

#include "KavLib2/KavViewer/KavFileSource.h"
#include "KavLib2/KavViewer/KavUnpack.h"

namespace kav {

class TPackedFileSource : public TMappedFileSource {
 public:
  // Holds a reference to the unpacker; with `owns` it also closes it when
  // the source goes.
  TPackedFileSource(TKavUnpack* unpack, bool owns);
  TKavUnpack* Unpack() const noexcept { return unpack_.get(); }
  // The entry's stream as OpenLocked gives it, except that a deflated entry
  // is inflated as it is read instead of whole into memory (its size is then
  // unknown, and damage raises on the read that meets it): for an entry
  // copied out in pieces, whatever its size.
  Ref<TStream> OpenStreamed(const std::u16string& name);

 protected:
  // The entry's stream (stored entries as a window on their own file
  // stream, deflated ones inflated into memory or, when large, where they
  // are read, enciphered ones through the cipher); nil when the directory
  // has no such entry. A damaged deflated entry raises the inflating
  // stream's error.
  Ref<TStream> OpenTarget(const std::u16string& name) override;
  void Dispose() override;

 private:
  Ref<TKavUnpack> unpack_;
  bool owns_;
};

}  // namespace kav
