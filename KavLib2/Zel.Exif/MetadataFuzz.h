// Fuzz entry points of the metadata readers. Each runs one reader over the
// bytes and answers 0; the failures the reader is allowed to raise for bad
// input are caught. Anything else (a crash, a sanitizer report, another
// exception, a hang) is a fault of the reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav {

// TExif::Decode over the bytes.
int FuzzExif(const uint8_t* data, size_t size);
// The JPEG segment walk with every marker wanted, and the Photoshop resource
// blocks of each APP13 segment.
int FuzzJpegSegments(const uint8_t* data, size_t size);
// TIPTCData::LoadFromIPTC over the bytes, then every value getter.
int FuzzIptc(const uint8_t* data, size_t size);

}  // namespace kav
