// The variable-length LZW decoder of GIF image data.
//
// The data are the code-size byte followed by data sub-blocks (a length byte,
// then that many bytes) up to an empty sub-block. Codes are at most 12 bits
// wide. Output goes into a fixed buffer of colour indices and never past it.
#pragma once

#include <cstdint>
#include <span>

#include "VoRav/vxStream.h"

namespace kav {

// Decodes the LZW data at the stream's position into `out` (one index a byte,
// rows one after the other) and leaves the stream after the block terminator
// (or at its end). Answers the number of indices written; the rest of `out`
// is left as it was.
//
// Recoverable oddities are written to the global log and end the decoding of
// the frame, keeping what was decoded: "GIFWarning: DecodeTooFewBits! " (the
// data end inside a code), "GIFWarning: OutOfData! " (the stream ends before
// the terminator), "GIF Warning: DecodeCircular! " (a code that is not yet
// in the table). A code-size byte of 12 or more fails the assertion
// "ClearCode too large"; one of 9 to 11 (literal indices above 255, which no
// palette holds) fails "StartIndex too large". A full table (4096 codes) is
// kept until a clear code comes, however late: a deferred clear is legal.
int64_t DecodeGifLzw(TStream* stream, std::span<uint8_t> out);

// Skips data sub-blocks up to and including the empty one. Answers false
// when the stream ended first.
bool SkipGifSubBlocks(TStream* stream);

}  // namespace kav
