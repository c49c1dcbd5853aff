#include "VoRav/Music/vxDllDec.h"

#include <atomic>
#include <mutex>

#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/Music/vxMusicStreams.h"
#include "VoRav/vxSoundKind.h"
#include "platform/ogg/vxOggPlugin.h"
#include "platform/wma/vxWmaPlugin.h"

namespace kav {

namespace {

std::atomic<const TSndDecoderPlugin*> g_wma{nullptr};
std::atomic<const TSndDecoderPlugin*> g_ogg{nullptr};
std::atomic<TMediaLibraryInfoHook> g_media_library{nullptr};

std::u16string LowerFileName(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
  for (char16_t& c : name)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  return name;
}

bool EndsWith(const std::u16string& s, std::u16string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The fallback of the media information extractor, installed with the module.
struct TInstallFallback {
  TInstallFallback() { SetMediaInfoFallback(&MediaInfoByExtension); }
} g_install_fallback;

}  // namespace

TDllDec::TDllDec(const std::u16string& path) {
  // The plug-in libraries are modules of the program: the path only names
  // which one; nothing is loaded from it.
  const std::u16string name = LowerFileName(path);
  const TSndDecoderPlugin* p = nullptr;
  if (name == u"kavogg.dll") p = OggDecoderPlugin();
  if (name == u"kavwma.dll") p = WmaDecoderPlugin();
  if (p && p->GetMediaInfo && p->CreateDecoder && p->DestroyDecoder && p->Decode && p->SetPosition) plugin_ = p;
}

bool LoadWmaPlugin(const std::u16string& path) {
  // The Windows Media libraries' presence check becomes the WMA decoder's.
  if (!WmaDecoderAvailable()) return false;
  TDllDec dec(path.empty() ? u"kavwma.dll" : path);
  if (dec.Valid()) g_wma.store(dec.Plugin());
  return g_wma.load() != nullptr;
}

bool LoadOggPlugin(const std::u16string& path) {
  TDllDec dec(path.empty() ? u"kavogg.dll" : path);
  if (dec.Valid()) g_ogg.store(dec.Plugin());
  return g_ogg.load() != nullptr;
}

void UnloadWmaPlugin() { g_wma.store(nullptr); }
void UnloadOggPlugin() { g_ogg.store(nullptr); }
const TSndDecoderPlugin* WmaPlugin() { return g_wma.load(); }
const TSndDecoderPlugin* OggPlugin() { return g_ogg.load(); }

TMediaLibraryInfoHook SetMediaLibraryInfoHook(TMediaLibraryInfoHook hook) { return g_media_library.exchange(hook); }

bool PluginMediaInfo(const TSndDecoderPlugin* plugin, TStream* stream, const std::u16string& name, TMediaInfo& info) {
  info = TMediaInfo{};
  if (!plugin || !stream) return false;
  uint32_t duration = 0, second = 0;
  TWaveFormat format;
  MusicStreamSeek(stream, 0, 0);
  if (!plugin->GetMediaInfo(stream, MusicStreamFunctions(), name.c_str(), &duration, &second, &format)) return false;
  info.Duration = duration;
  info.DataOffset = second;
  info.Format = format;
  return true;
}

bool MediaInfoByExtension(const std::u16string& name, TStream* stream, TMediaInfo& info) {
  const std::u16string file = MusicFileName(name);
  const std::u16string lower = LowerFileName(file);
  // Departure: an Ogg or WMA by its data goes to its decoder whatever the
  // name says; the name decides only for data of no known kind.
  const TSoundKind kind = SoundKindOfStream(stream);
  const bool unknown = kind != TSoundKind::Ogg && kind != TSoundKind::Asf;
  if ((kind == TSoundKind::Ogg || (unknown && EndsWith(lower, u".ogg"))) && OggPlugin()) {
    if (!PluginMediaInfo(OggPlugin(), stream, file, info)) return false;
    info.FormatCode = kMediaOgg;
    return true;
  }
  if ((kind == TSoundKind::Asf || (unknown && EndsWith(lower, u".wma"))) && WmaPlugin()) {
    if (!PluginMediaInfo(WmaPlugin(), stream, file, info)) return false;
    info.FormatCode = kMediaWma;
    return true;
  }
  if (TMediaLibraryInfoHook hook = g_media_library.load()) {
    info = TMediaInfo{};
    if (hook(file, MusicStreamIndex(name), stream, info)) return true;
    info = TMediaInfo{};
  }
  return false;
}

}  // namespace kav
