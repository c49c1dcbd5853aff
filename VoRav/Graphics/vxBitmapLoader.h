// The BMP reader: Windows and OS/2 bitmap files into direct bitmaps.
//
// Reads uncompressed 1, 4, 8, 16, 24 and 32-bit pictures, 16- and 32-bit bit
// fields (masks after a 40-byte header or inside a V2-V5 header), RLE8 and
// RLE4. Output formats: paletted pictures "R8G8B8" through the palette;
// 16 bits "X1R5G5B5" (5-5-5) or "R5G6B5" (5-6-5 masks; other 16-bit masks
// are refused); 24 bits "R8G8B8"; 32 bits "A8R8G8B8", the fourth byte as
// stored with standard masks (a picture whose alpha is all 0 is opaque) and
// channels scaled from any other masks.
//
// A bad file never raises: the answer is null. Every size from the file is
// checked against the bitmap limits and against the bytes the stream holds
// before anything is allocated; run-length data is clipped to the picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "VoRav/Graphics/vxImage.h"
#include "VoRav/vxStream.h"

namespace kav {

// The picture starting at the stream's position, or null. The stream stays
// the caller's; its position afterwards is unspecified.
Ref<TDirectBitmap> LoadBmp(TStream* stream);

// The registered loader: LoadBmp wrapped in a TSysDirectWrapper and a store
// owning it. On null the stream position is set back. Stream ownership as
// for TImageLoaderProc (vxImageRegistry.h).
Ref<TBitmapStore> LoadBmpImage(TStream* stream, const std::u16string& name, bool owns_stream,
                               const TImageParamsCallback& params_callback);
// Registers LoadBmpImage for ".bmp" and ".dib" (once; later calls do nothing).
void RegisterBmpLoader();

// Fuzz entry point: the bytes as a BMP file, decoded when they are one.
// Answers 0; anything but a clean result or null is a bug.
int FuzzBmp(const uint8_t* data, size_t size);

}  // namespace kav
