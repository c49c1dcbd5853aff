// The Ogg Vorbis decoder plug-in ("kavogg.dll" of the original), a module
// of the program over libvorbisfile. Delivers 16-bit PCM with the file's
// rate and channels (mono and stereo files; others are refused).
#pragma once

#include "platform/sound/SndDecoderPlugin.h"

namespace kav {

const TSndDecoderPlugin* OggDecoderPlugin();

}  // namespace kav
