// Decoder plug-ins and media information by extension.
//
// The plug-ins are modules of the program (platform/ogg, platform/wma)
// bound by their library names ("kavogg.dll", "kavwma.dll"); no plug-in is
// ever loaded from a file, whatever path a show option names. One global
// slot per kind holds the bound plug-in.
#pragma once

#include <string>

#include "VoRav/Music/vxMediaInfo.h"
#include "VoRav/vxStream.h"
#include "platform/sound/SndDecoderPlugin.h"

namespace kav {

class TDllDec {
 public:
  // Binds the module named by the path's file name; Valid() when it offers
  // all five required entry points.
  explicit TDllDec(const std::u16string& path);
  bool Valid() const { return plugin_ != nullptr; }
  const TSndDecoderPlugin* Plugin() const { return plugin_; }

 private:
  const TSndDecoderPlugin* plugin_ = nullptr;
};

// Fill the slot; the result tells whether it is filled. The WMA plug-in is
// bound only when the WMA decoder itself is present.
bool LoadWmaPlugin(const std::u16string& path);
bool LoadOggPlugin(const std::u16string& path);
void UnloadWmaPlugin();
void UnloadOggPlugin();
// The slots (null when empty).
const TSndDecoderPlugin* WmaPlugin();
const TSndDecoderPlugin* OggPlugin();

// Media information through a plug-in: the record is cleared, then filled
// (format code not set here) when the plug-in reads the stream.
bool PluginMediaInfo(const TSndDecoderPlugin* plugin, TStream* stream, const std::u16string& name, TMediaInfo& info);

// The media library's part (installed by the media-library binding): true
// with the record filled (code 10) when the library opens the file.
using TMediaLibraryInfoHook = bool (*)(const std::u16string& file, int32_t index, TStream* stream, TMediaInfo& info);
TMediaLibraryInfoHook SetMediaLibraryInfoHook(TMediaLibraryInfoHook hook);

// Ogg data (or data of no known kind named ".ogg") with the OGG slot filled:
// code 6; ASF data (or such data named ".wma") with the WMA slot filled:
// code 5; anything else goes to the media library when it is bound.
bool MediaInfoByExtension(const std::u16string& name, TStream* stream, TMediaInfo& info);

}  // namespace kav
