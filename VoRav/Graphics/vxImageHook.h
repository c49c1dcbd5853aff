// The hook through which imaging modules turn a bitmap into an image handle.
// It answers through ImageFromBitmap (SysImage.h) unless replaced.
#pragma once

#include <string>

#include "VoRav/Graphics/vxImage.h"

namespace kav {

// Answers a new image on a store wrapping `bitmap`; with `owns` the image
// takes over the caller's reference to the bitmap. Null for a null bitmap.
using TImageFromBitmapProc = Ref<TImage> (*)(TBitmap* bitmap, bool owns, const std::u16string& name);

TImageFromBitmapProc ImageFromBitmapHook() noexcept;
// Answers the previous hook; null leaves images from bitmaps unmade.
TImageFromBitmapProc SetImageFromBitmapHook(TImageFromBitmapProc proc) noexcept;

}  // namespace kav
