// The decoder plug-in interface: what a decoder of a format the player does
// not decode itself (Ogg Vorbis, WMA) offers. The plug-ins are modules
// linked into the program (platform/ogg, platform/wma), each described by one
// entry table; no plug-in is ever loaded from a file.
//
// A plug-in reads its file only through the stream function table it is
// given, with the context it is given (the player's music stream).
#pragma once

#include <cstdint>

#include "platform/sound/SndTypes.h"

namespace kav {

struct TSndStreamFunctions {
  // 32-bit forms: bytes read; position; new position (origin 0 begin, 1
  // current, 2 end; -1 on failure); size.
  int32_t (*Read)(void* context, void* buffer, int32_t bytes);
  int32_t (*GetPosition)(void* context);
  int32_t (*Seek)(void* context, int32_t offset, int32_t origin);
  int32_t (*GetSize)(void* context);
  int64_t (*Read64)(void* context, void* buffer, int64_t bytes);
  int64_t (*GetPosition64)(void* context);
  int64_t (*Seek64)(void* context, int64_t offset, int32_t origin);
  int64_t (*GetSize64)(void* context);
};

// Receives decoded PCM (16-bit, the format GetMediaInfo reported).
using TSndPcmOutput = void (*)(void* context, const void* pcm, uint32_t bytes);

struct TSndDecoderPlugin {
  // The plug-in's library name ("kavogg.dll", "kavwma.dll").
  const char* Name;
  // Reads the stream's format: true with the duration in ms, a second value
  // (0 here) and the wave format of the PCM the decoder delivers.
  bool (*GetMediaInfo)(void* context, const TSndStreamFunctions* stream, const char16_t* name, uint32_t* duration_ms,
                       uint32_t* second, TWaveFormat* format);
  // A decoder over the stream, delivering PCM to `output`; null on failure.
  void* (*CreateDecoder)(void* context, const TSndStreamFunctions* stream, TSndPcmOutput output,
                         void* output_context, uint32_t flags);
  void (*DestroyDecoder)(void* decoder);
  // Decodes the next part: true while data was delivered, false at the end
  // of the data or on an error.
  bool (*Decode)(void* decoder);
  // Moves to `ms` (in/out: the time actually reached); false on failure.
  bool (*SetPosition)(void* decoder, uint32_t* ms);
  // Optional: whether the file is copy-protected (null when not offered).
  bool (*IsFileProtected)(void* context, const TSndStreamFunctions* stream);
};

}  // namespace kav
