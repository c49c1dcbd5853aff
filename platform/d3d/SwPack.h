// A fast run-length form for pixels a device keeps only in case they are
// needed again: a texture the GL device has copied into the graphics
// driver. Each 32-bit word is split into its colour (low three bytes) and
// its alpha (top byte), and the two planes are packed one after the other,
// so that text and drawings, whose colour is even while the alpha of their
// edges varies, shrink to a small part. Photos do not; packing them gives
// up early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kav {

// Packs `words` 32-bit words from `bytes` into `out`. Gives up (false,
// `out` cleared) as soon as the packed form would take more than
// `max_bytes`.
bool SwPackWords(const uint8_t* bytes, size_t words, size_t max_bytes, std::vector<uint8_t>& out);
// Writes the `words` words `packed` holds to `bytes`; false when `packed`
// does not hold exactly that many (the bytes are then undefined).
bool SwUnpackWords(const std::vector<uint8_t>& packed, uint8_t* bytes, size_t words);

}  // namespace kav
