// Fuzz entry points of the 2D effect parsers: arbitrary bytes, never a
// crash, hang or leak; a broken property aborts. The libFuzzer drivers in
// tools/fuzz/libfuzzer call them; the tests replay their seed corpora.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav {

// The bytes as a contour record (name, then points): a load that succeeds
// passes through its control points, a failed one leaves the identity.
int FuzzContourRecord(const uint8_t* data, size_t size);
// The bytes (one character each) as a "Shadow: " key: writing the parsed
// record and parsing it again is stable; small rectangle shadows are drawn.
int FuzzShadowKey(const uint8_t* data, size_t size);
// The bytes as a button description over a 30 x 20 skin: every state is
// rendered at a few widths; the text as a "Button: " key round-trips.
int FuzzButtonDescription(const uint8_t* data, size_t size);

}  // namespace kav
