// What a sound file is by its first bytes, and what the show's author is
// told of one that does not play. The music decoders pick their parser by
// it; the show check and the music player use the same words.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "VoRav/vxStream.h"

namespace kav {

enum class TSoundKind {
  Unknown,  // no sound signature: the name decides
  Wave,     // "RIFF" ... "WAVE"
  Mpeg,     // an ID3v2 tag or an MPEG audio frame header
  Ogg,      // "OggS"
  Asf,      // the ASF header object of WMA
  Text,     // printable text and line ends only (a web page, a failed download)
};

// The bytes read before judging (the first of the file).
inline constexpr int64_t kSoundHeadBytes = 512;
TSoundKind SoundKindOfData(std::span<const uint8_t> head);
// The kind of the stream's first bytes; the position is kept. Unknown when
// it cannot be read.
TSoundKind SoundKindOfStream(TStream* stream);

// A file of the show that has no bytes (a picture or a sound).
inline constexpr char16_t kEmptyShowFile[] = u"the file is empty (0 bytes): copy it into the project folder again";
// Why a sound does not play, for the show's author: empty, text, a sound
// kind whose data does not decode, or no sound the player knows.
std::u16string UnplayableSoundReason(TStream* stream);
// Whether the show check says a sound will not play before it is played:
// empty files and text only (any other data may be read by the media library).
bool SoundIsNoSound(TStream* stream);

}  // namespace kav
