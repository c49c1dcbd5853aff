// The hook through which imaging modules turn a bitmap into an image handle
// without depending on the image stores. The image-store module installs it
// at start-up; until then it is null.
#pragma once

#include <string>

#include "VoRav/Graphics/vxBitmap.h"

namespace kav {

// Answers a new image (a TImage, held here by its base class) on a store
// wrapping `bitmap`; with `owns` the image takes over the caller's reference
// to the bitmap. Null for a null bitmap.
using TImageFromBitmapProc = Ref<TRefObject> (*)(TBitmap* bitmap, bool owns, const std::u16string& name);

TImageFromBitmapProc ImageFromBitmapHook() noexcept;
// Answers the previous hook.
TImageFromBitmapProc SetImageFromBitmapHook(TImageFromBitmapProc proc) noexcept;

}  // namespace kav
