// The viewer's colour transform: lookup volumes stored in a packed show.
//
// The authoring tool stores, for each source profile, the show's lookup
// volume as offsets from the identity in the picture "ColorSpaceExe_<profile
// name>].VXGFX". While the running show supplies such tables, the viewer's
// transform maker builds lookup volumes from them instead of converting with
// the colour library; otherwise it hands the request to the maker installed
// before it.
#pragma once

#include <string>

#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"

namespace kav {

// Fills lookup volumes with a stored table; other bitmaps get the table's
// pixels copied over them.
class TKavViewerColorTransform : public TColorTransform {
 public:
  TKavViewerColorTransform(TColorProfile* source, TColorProfile* target, Ref<TSysBitmap> table)
      : TColorTransform(source, target), table_(std::move(table)) {}
  TSysBitmap* Table() const noexcept { return table_.get(); }
  void TransformPixels(TBitmap* bitmap) override;

 protected:
  void Dispose() override;

 private:
  Ref<TSysBitmap> table_;
};

// Hooks of the show loader. `available` answers whether the running show
// supplies stored tables (a packed show whose colour management has not been
// applied otherwise); `loader` opens and decodes a file of that show and
// answers its full-size picture, or null when it cannot be opened or read.
using TViewerTablesAvailable = bool (*)();
using TViewerTableLoader = Ref<TBitmap> (*)(const std::u16string& file_name);
void SetViewerTableSource(TViewerTablesAvailable available, TViewerTableLoader loader);

// Installs CreateViewerColorTransform as the transform maker, keeping the
// installed one as its fallback.
void InstallViewerColorTransform();

// With stored tables available: the transform whose table is the picture
// "ColorSpaceExe_" + source name + "].VXGFX", or null when that picture is
// missing or unusable. Otherwise the fallback maker's answer (null without one).
Ref<TColorTransform> CreateViewerColorTransform(TColorProfile* source, TColorProfile* target);

// A lookup volume from a stored picture: the picture in "R8G8B8" with the
// identity added to every entry (modulo 256). Null unless it is 32 x 1024.
Ref<TSysBitmap> ViewerTableFromImage(TBitmap* image);

}  // namespace kav
