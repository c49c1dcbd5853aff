// Fuzz entry point of the glyph cache streams.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav {

// The bytes as a glyph cache stream and as a cached vector text stream:
// each either refused with EStreamReadError or loaded, saved and loaded
// again to the same content.
int FuzzGlyphCache(const uint8_t* data, size_t size);

}  // namespace kav
