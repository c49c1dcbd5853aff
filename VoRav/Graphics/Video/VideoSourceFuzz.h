// Fuzz entry points of the frame sources. Each takes arbitrary bytes and
// must never crash, hang or leak.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kav {

// The bytes as a clip through the media library: opened from a stream,
// then frames asked for out of order (forward, back, past the end) into a
// planar and a packed frame image, and as 24-bit pictures.
int FuzzVideoClip(const uint8_t* data, size_t size);
// The bytes as an animated GIF played as video: opened, frames composed out
// of order into an RGBA and a planar frame image.
int FuzzGifVideo(const uint8_t* data, size_t size);

}  // namespace kav
