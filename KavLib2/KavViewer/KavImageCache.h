// Pictures of show files, loaded once per (name, file source) through a
// process-wide cache of image handles, and the grey placeholder that stands
// in for a picture that cannot be opened or decoded.
//
// A handle lives while a TKavImageHandle (the image given to callers) holds
// it; while it lives, the same name from the same source never loads twice.
// Two threads asking for the same picture wait for one load; different
// pictures load in parallel. A picture that fails becomes the placeholder
// and stays so for as long as its handle lives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/Graphics/vxColor.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav {

class TImageHandle;

// The largest picture file taken: the largest bitmap a decoder makes
// (kMaxBitmapBytes) with room for its headers. A larger file (a hostile
// package entry that inflates to gigabytes, say) is no picture the player
// can show and becomes the placeholder with the reason, after at most that
// much of it is read.
inline constexpr int64_t kMaxPictureFileSize = (int64_t(1) << 29) + (int64_t(1) << 20);

// The image handed out by LoadImageHandle: an image on the cached store that
// keeps the cache entry alive.
class TKavImageHandle : public TImage {
 public:
  TKavImageHandle(TBitmapStore* store, TImageHandle* handle);

 protected:
  void Dispose() override;

 private:
  TImageHandle* handle_;  // one reference, released under the cache's lock
};

// The picture `name` of the accessor's source: the source's open callbacks
// first (the first image wins), else the file decoded by the image-loader
// registry (with the source's orientation overrides), else the placeholder
// ("Image load error:" when the file opened, "Image not found" when not).
// A cached picture whose store turned out undecodable when a level was made
// (TBitmapStore::Undecodable) is the "Image load error:" placeholder from
// then on. With a mip level above 0 on the accessor, that level is made
// ahead. Never nil.
Ref<TImage> LoadImageHandle(TFileAccessor* accessor, const std::u16string& name);
// Handles alive now.
int32_t ImageHandleCount();

// The two lines of a placeholder, each with a blank on both sides: the
// problem ("Video load error:", "Video not found", "Image load error:",
// "Image not found") and the file's last path component.
std::vector<std::u16string> NotFoundImageLines(const std::u16string& name, bool found, bool video);
// Draws placeholder lines: the text colour (230, 230, 230) on the
// background (100, 100, 100); `value` 0.5 is passed on to the text producer.
using TNotFoundRenderer = Ref<TBitmapStore> (*)(const std::vector<std::u16string>& lines, TColor32 text,
                                              TColor32 background, double value);
// Installs the renderer (the text layer installs one that lays the lines
// out); nil restores the plain one: a 256 x 64 picture of the background.
void SetNotFoundRenderer(TNotFoundRenderer renderer);
// The placeholder picture.
Ref<TImage> MakeNotFoundImage(const std::u16string& name, bool found, bool video);

}  // namespace kav
