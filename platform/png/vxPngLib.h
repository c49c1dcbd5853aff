// The PNG decoder library: our stand-in for the external "vxPngLib.dll",
// with its four entry points as plain C++ functions over libpng.
//
// The records are the decoder-library contract the image-library bridge
// (VoRav/Graphics/vxImageLib.h) speaks: a record of stream callbacks the
// library reads the picture through, and an information record it fills.
// Every picture is delivered as 8-bit samples in memory order blue, green,
// red (24 bits) or blue, green, red, alpha (32 bits, straight alpha), top
// row first: palettes and grey are expanded, 16-bit samples keep their high
// byte, a tRNS chunk becomes alpha, interlaced pictures are de-interlaced.
// Gamma, chromaticity and ICC chunks are not applied: samples come as stored.
#pragma once

#include <cstdint>

namespace kav {

// The picture's bytes. Positions are counted from the picture's first byte.
// Callbacks answer -1 (or do nothing) on failure and never raise.
struct TImageLibStreamCallbacks {
  void* Stream = nullptr;
  int64_t (*GetSize)(void* stream) = nullptr;
  void (*SetSize)(void* stream, int64_t size) = nullptr;
  // Reads up to `count` bytes at `position`; answers the bytes read.
  int32_t (*Read)(void* stream, void* buffer, int32_t count, int64_t position) = nullptr;
  int32_t (*Write)(void* stream, const void* buffer, int32_t count, int64_t position) = nullptr;
};

struct TImageLibInfo {
  void* Context = nullptr;   // the library's own; null until OpenImage succeeds
  int32_t BitsPerPixel = 0;  // 24 or 32
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t* const* Rows = nullptr;  // after ReadImage: one address per row, top row first
  // The library's first warning on a picture it decoded all the same
  // (damaged data it went past), empty when none.
  char Warning[160] = {};
};

// The four entry points, as a table the bridge binds.
struct TImageLibEntries {
  // Reads the picture through the callbacks and decodes it completely, so
  // the callbacks are not used once it returns. True and the size and depth
  // filled in, or false (not a PNG, corrupt, truncated, or larger than the
  // bitmap limits) with nothing held.
  bool (*OpenImage)(TImageLibInfo& info, const TImageLibStreamCallbacks& stream);
  // The same from a file name (UTF-8).
  bool (*OpenImageFile)(TImageLibInfo& info, const char* file_name);
  // Sets Rows; valid until CloseImage. False without an open picture.
  bool (*ReadImage)(TImageLibInfo& info);
  // Frees what OpenImage made and clears the record. Safe on a cleared record.
  void (*CloseImage)(TImageLibInfo& info);
};

// The PNG library's entry points.
const TImageLibEntries& PngImageLibEntries();

}  // namespace kav
