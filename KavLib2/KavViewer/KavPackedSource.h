// The file source of a packed show: entries of a TKavUnpack by name, after
// the show's name map.
#pragma once

#include <atomic>
#include <cstdint>

#include "KavLib2/KavViewer/KavFileSource.h"
#include "KavLib2/KavViewer/KavUnpack.h"

namespace kav {

class TPackedFileSource : public TMappedFileSource {
 public:
  // Holds a reference to the unpacker; with `owns` it also closes it when
  // the source goes.
  TPackedFileSource(TKavUnpack* unpack, bool owns);
  TKavUnpack* Unpack() const noexcept { return unpack_.get(); }
  // The most a deflated entry opened from now on may inflate to and still be
  // held whole in memory (kMaxHeldEntrySize unless set; 0: none is held, each
  // is inflated where it is read, as TKavUnpack::OpenEntryStream does with a
  // large one).
  void SetHeldLimit(int64_t limit) noexcept { held_limit_.store(limit); }
  // The entry's stream as OpenLocked gives it, except that a deflated entry
  // is never held whole in memory but inflated as it is read (its size is
  // then known once something read it through, and damage raises on the
  // read that meets it): for an entry copied out in pieces, whatever its size.
  Ref<TStream> OpenStreamed(const std::u16string& name);

 protected:
  // The entry's stream (stored entries as a window on their own file
  // stream, deflated ones inflated into memory or, past the held limit,
  // where they are read, with nothing inflated at the open, enciphered ones
  // through the cipher); nil when the directory has no such entry. A
  // damaged deflated entry raises the inflating stream's error (a streamed
  // one where it is read, and at its opens once a stream found it).
  Ref<TStream> OpenTarget(const std::u16string& name) override;
  void Dispose() override;

 private:
  Ref<TKavUnpack> unpack_;
  bool owns_;
  std::atomic<int64_t> held_limit_{kMaxHeldEntrySize};
};

}  // namespace kav
