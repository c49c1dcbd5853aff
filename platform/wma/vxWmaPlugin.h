// The WMA decoder plug-in ("kavwma.dll" of the original), a module of the
// program over libavformat and libavcodec: ASF files with Windows Media
// Audio (versions 1 and 2, Pro, Lossless), delivered as 16-bit PCM with the
// file's rate and channels (mono and stereo).
#pragma once

#include "platform/sound/SndDecoderPlugin.h"

namespace kav {

const TSndDecoderPlugin* WmaDecoderPlugin();
// Whether libavcodec has a WMA decoder (stands for the Windows Media
// libraries whose presence the plug-in needs).
bool WmaDecoderAvailable();

}  // namespace kav
