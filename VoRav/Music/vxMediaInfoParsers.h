// Media information of RIFF/WAVE and MPEG audio files, the MPEG seek, and
// the extractor that picks the parser by the file's first bytes and name.
//
// Parsers read through the stream's own position and size; every size read
// from a file is checked against the file's size before it is used.
#pragma once

#include <string>

#include "VoRav/Music/vxMediaInfo.h"
#include "VoRav/vxStream.h"
#include "VoRav/wpExceptions.h"

namespace kav {

// The first MPEG frame header, decoded. With the summary fields of the media
// record it stands for the MPEG parser's TMpegInfo.
struct TMpegHeader {
  uint8_t Version = 0;      // bits of byte 1: 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
  uint8_t Layer = 0;        // bits: 1 layer III, 2 layer II, 3 layer I
  uint8_t Protection = 0;
  uint8_t BitrateIndex = 0;
  uint8_t RateIndex = 0;
  uint8_t Padding = 0;
  uint8_t Private = 0;
  uint8_t ChannelMode = 0;  // 3 mono
  uint8_t ModeExtension = 0;
  uint8_t Copyright = 0;
  uint8_t Original = 0;
  uint8_t Emphasis = 0;

  uint32_t BitrateKbps() const;
  uint32_t SampleRate() const;
  uint32_t SamplesPerFrame() const;
  uint32_t FrameLength() const;
};

// Decodes four bytes; false when they are not a valid frame header.
bool DecodeMpegHeader(const uint8_t* p, TMpegHeader& header);

// The names of the header fields, for logs.
const char* MpegVersionName(uint8_t version);
const char* MpegLayerName(uint8_t layer);
const char* MpegChannelModeName(uint8_t mode);
const char* MpegEmphasisName(uint8_t emphasis);

// The largest sound file the player takes: its sound parsers count the
// bytes of a sound's data in 32 bits (as RIFF does), so no more of a larger
// one could be played.
inline constexpr int64_t kMaxSoundFileSize = int64_t(4) << 30;
// Raised by the MPEG parser for a file larger than that.
KAV_DECLARE_EXCEPTION(ESoundTooLarge, Exception);

// The RIFF/WAVE parser: true with the record filled (code 1, 2, 3, or 4 for
// MPEG data inside RIFF). It walks the chunks itself, so no TRiffInfo object
// holds them.
bool ParseRiffInfo(TStream* stream, TMediaInfo& info);
// The MPEG parser over bytes [start, end) of the stream (end -1: the file's
// end): true with the record filled (code 4). A file whose size is not
// known before it is read through is read to its end (at most just past
// kMaxSoundFileSize, raising ESoundTooLarge beyond) only once its first
// frames are found.
bool ParseMpegInfo(TStream* stream, TMediaInfo& info, int64_t start = 0, int64_t end = -1);

// The stream position of the frame at `ms` of an MPEG file whose record the
// parser filled (positions count from the stream's start; the data offset
// is added), and the time that frame starts at. -1 when no frame is found.
int64_t MpegSeekPosition(TStream* stream, const TMediaInfo& info, double ms, double& reached);

// Media information by extension (installed by the plug-in module): asked
// for what is neither RIFF nor MPEG by its data or an MPEG name, and when
// RIFF fails.
using TMediaInfoFallback = bool (*)(const std::u16string& name, TStream* stream, TMediaInfo& info);
TMediaInfoFallback SetMediaInfoFallback(TMediaInfoFallback fallback);

class TMediaInfoExtractor {
 public:
  // Clears the record and fills it; false (format code 0) when nothing could
  // read the file, or when it is larger than kMaxSoundFileSize (logged with
  // the name, and said to the show's author, or with `refusal` given, put
  // there for the caller to say). Never raises.
  static bool Extract(const std::u16string& name, TStream* stream, TMediaInfo& info,
                      std::u16string* refusal = nullptr);
};

// The length in milliseconds of the sound file `name` as the player reads
// it; -1 when nothing tells it. Never raises.
int64_t SoundFileLength(TStream* stream, const std::u16string& name);

// Why the music player does not play the sound file `name`, in the words it
// says it with (UnplayableSoundReason: a text, no sound it knows, a sound
// whose data does not decode); empty when its media information is read,
// and then in `info` when given. The decoders that count are those
// installed (InstallSoundDecoders). Never raises.
std::u16string SoundFileProblem(TStream* stream, const std::u16string& name, TMediaInfo* info = nullptr);

// Installs the decoders the music player plays with: the WMA and Ogg
// plug-ins (modules of the program) and the media library. Each that
// cannot be had is logged; called again it changes nothing.
void InstallSoundDecoders();

}  // namespace kav
