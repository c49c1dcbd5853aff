// Fuzz entry point of the PNG library, reached as the player reaches it:
// through the loader registry and the image-library bridge.
#include <zlib.h>

#include <span>
#include <vector>

#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/Graphics/vxImageLib.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxMemoryStream.h"
#include "tools/fuzz/FuzzCheck.h"
#include "tools/fuzz/FuzzTargets.h"

namespace kav {

namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// The bytes with every whole chunk's CRC recomputed, so that mutations reach
// the chunk and image-data readers instead of stopping at the checksum.
std::vector<uint8_t> WithChunkCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(data, data + size);
  for (size_t at = 8; at + 12 <= out.size();) {
    const uint32_t length = BigEndian32(&out[at]);
    if (length > out.size() - at - 12) break;
    const uint32_t crc = uint32_t(crc32(0, &out[at + 4], uInt(length + 4)));
    uint8_t* p = &out[at + 8 + length];
    p[0] = uint8_t(crc >> 24), p[1] = uint8_t(crc >> 16), p[2] = uint8_t(crc >> 8), p[3] = uint8_t(crc);
    at += 12 + size_t(length);
  }
  return out;
}

void Load(const uint8_t* data, size_t size, const char16_t* name) {
  auto stream = MakeRef<TMemoryStream>();
  stream->WriteBytes(std::span<const uint8_t>(data, size));
  stream->SetPosition(0);
  Ref<TImage> image;
  Ref<TBitmap> level;
  try {
    image = LoadImage(stream.get(), name, false);
    if (image) level = image->Store()->GetMipLevel(0);
  } catch (const Exception&) {
    return;
  }
  if (!image) {
    FuzzCheck(stream->GetPosition() == 0, "FuzzPng", "a refused picture moved the stream");
    return;
  }
  FuzzCheck(level && level->Width() == image->Width() && level->Height() == image->Height(), "FuzzPng",
            "level 0 differs from the picture's size");
}

}  // namespace

int FuzzPng(const uint8_t* data, size_t size) {
  const TFuzzBitmapLimits limits;
  RegisterPngImageLib();
  Load(data, size, u"f.png");
  const std::vector<uint8_t> fixed = WithChunkCrcs(data, size);
  Load(fixed.data(), fixed.size(), u"f.bmp");
  return 0;
}

}  // namespace kav
