// The bridge to external decoder libraries: a library's four entry points
// bound once, a loader registered for its extensions, the picture's stream
// handed over through a record of callbacks, and the rows it delivers
// wrapped in a bitmap store.
//
// Libraries are our own platform modules (platform/png), bound from their
// entry tables: nothing is loaded from a file, and nothing from a show.
#pragma once

#include <string>
#include <vector>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/vxStream.h"
#include "platform/png/vxPngLib.h"

namespace kav {

// A bound library. Every entry point is present (binding checks it).
class TImageLib : public TRefObject {
 public:
  explicit TImageLib(const TImageLibEntries& entries) : Entries(entries) {}
  const TImageLibEntries Entries;
};

// The library over an entry table, or null when an entry point is missing.
Ref<TImageLib> BindImageLibEntries(const TImageLibEntries& entries);

// Registers a loader for the extensions and appends the library to the
// table; the library is bound on first use. A library lacking an entry
// point fails to bind and is skipped from then on, so its pictures fall to
// the next loader registered for their extension.
void RegisterImageLib(const std::u16string& library_name, const TImageLibEntries& entries,
                      const std::vector<std::u16string>& extensions);
// The PNG library "vxPngLib.dll" for ".png" (once; later calls do nothing).
void RegisterPngImageLib();

// What the callbacks read: a stream and the picture's first byte in it.
struct TImageLibStreamSource {
  TStream* Stream = nullptr;
  int64_t Start = 0;
};
// Callbacks over `source` (which must outlive their use) with positions
// counted from its start. They never raise: a failing read answers -1.
TImageLibStreamCallbacks MakeImageLibStreamCallbacks(TImageLibStreamSource& source);

// The registered loader: the first table library that claims the extension
// and accepts the picture (24 or 32 bits) makes a store; with `owns_stream`
// the stream is released at once (the library has read what it needs). A
// picture of another depth is closed and the next library tried; without a
// store the stream position is set back and the answer is null.
Ref<TBitmapStore> LoadImageLibImage(TStream* stream, const std::u16string& name, bool owns_stream,
                                    const TImageParamsCallback& params_callback);

// A store over a library's picture: level 0 is a bitmap on the library's
// rows (no copy), which keep the picture open for as long as either lives;
// the other levels are halved from it.
class TImageLibStore : public TSysBitmapStore {
 public:
  TImageLibStore(const std::u16string& name, const TImageParamsCallback& params_callback, TImageLib* lib,
                 const TImageLibInfo& info);

 protected:
  void LoadMipLevel(int32_t level, TLevelBitmap& out) override;
  void Dispose() override;

 private:
  Ref<TRefObject> picture_;  // closes the library's picture when released
};

}  // namespace kav
