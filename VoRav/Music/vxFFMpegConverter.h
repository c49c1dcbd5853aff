// Audio through the media library: the media information of files that
// neither the parsers nor the decoder plug-ins read, and the converter of
// their format code (10). The library reads the channel's own stream (a
// show's packed entry or a file), so nothing is opened by a name.
//
//   InstallMediaLibraryAudio();   // once at start-up; false without the library
//
// The audio side holds one user of the shared binding from the install on;
// every converter adds its own while it lives.
#pragma once

#include <string>

#include "VoRav/Music/winWavConverters.h"
#include "platform/media/FFMpegDll.h"

namespace kav {

class TFFMpegConverter : public TWavConverter {
 public:
  // Raises EMediaLibrary when the library cannot be bound. The name only
  // helps the library tell the format.
  explicit TFFMpegConverter(const std::u16string& name);
  // Opens the stream's audio through the library: 16-bit PCM with the
  // source's rate and channels (up to six), resampled to the system's
  // output format when that differs. False without a stream, when the
  // library cannot open it or it has no audio.
  bool SetInputFormat(const TMediaInfo& info) override;
  // Decodes the next block of PCM; false at the end of the audio.
  bool ReadChunk() override;
  // Seeks the library to the packet at or before `ms`, then drops the
  // decoded audio up to `ms`.
  void Seek(double ms) override;

 protected:
  void Dispose() override;

 private:
  std::u16string name_;
  TFFMpegDll* dll_ = nullptr;
  TMediaRecord* media_ = nullptr;
  TMediaIO io_{};
  TWaveFormat source_{};
  size_t drop_bytes_ = 0;
  bool ended_ = false;
  // Nothing read or sought since the media was opened: it is at its start.
  bool at_start_ = false;
};

// Acquires the audio side's binding once; true when the library is bound.
bool EnsureFFMpegDll(const std::u16string& path);
// Drops the audio side's binding (the converters keep their own).
void ReleaseAudioFFMpegDll();

// Media information through the library over `stream`: code 10, the
// duration and the system's output format. False when it does not open or
// holds no audio.
bool MediaLibraryInfo(const std::u16string& file, int32_t index, TStream* stream, TMediaInfo& info);
// The converter factory's entry for code 10.
Ref<TWavConverter> MediaLibraryConverter(const std::u16string& name, const TMediaInfo& info);

// Binds the library for the audio side and installs the media-information
// fallback and the converter of code 10; false (nothing installed) without
// the library. Called again it changes nothing.
bool InstallMediaLibraryAudio();
// Removes both again and drops the audio side's binding.
void UninstallMediaLibraryAudio();

}  // namespace kav
