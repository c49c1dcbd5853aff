// The ICC profile embedded in a JPEG file: the payloads of its
// "ICC_PROFILE" APP2 segments, joined in their sequence order.
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/vxStream.h"

namespace kav {

// Streams larger than this (100 MB) are not searched.
constexpr int64_t kJpegIccMaxStreamSize = 104857600;

// Walks the markers from the start of the stream up to the start of scan
// and answers the profile in `bytes`, or no bytes. Only APP2 segments whose
// payload begins with "ICC_PROFILE\0" count; each carries its sequence
// number (1..N) and the count N, and the profile is their remaining bytes in
// sequence order. Segments that disagree on N, a missing or repeated number,
// or a segment cut by the end of the stream give no profile. The walk stops
// at a byte where a marker should be, at a segment length below 2, at SOS,
// at EOI and at the end of the stream; its oddities are written to the
// global log ("Jpeg Marker expected", "Error: marker expected at <offset>",
// "Error: duplicate $FF encountered at <offset>", "Error: incomplete ICC
// profile segments"). Never raises for bad data; the stream's position is
// left anywhere.
void ExtractJpegIccProfile(TStream* stream, std::vector<uint8_t>& bytes);

}  // namespace kav
