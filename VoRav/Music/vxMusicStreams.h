// The streams the music code opens files with: the process-wide music stream
// opener (every open, close, seek, read and size under one lock, since
// decoder threads and loaders share streams of one show), the shifted stream
// that hides the bytes before an MPEG file's first frame, and the stream
// function table handed to decoder plug-ins.
#pragma once

#include <string>

#include "VoRav/vxDelegate.h"
#include "VoRav/vxStream.h"
#include "platform/sound/SndDecoderPlugin.h"

namespace kav {

// A view of another stream from a base offset. Creating it seeks the inner
// stream to the base; SetSize is refused (assertion).
class TMp3ShiftStream : public TStream {
 public:
  TMp3ShiftStream(Ref<TStream> inner, int64_t base);
  int64_t GetPosition() override;
  int64_t SetPosition(int64_t position) override;
  int64_t GetSize() override;
  int64_t GetKnownSize() override;
  int64_t GetSizeWithin(int64_t limit) override;
  void SetSize(int64_t size) override;
  TStream* Inner() const { return inner_.get(); }
  int64_t Base() const { return base_; }

 protected:
  int64_t DoRead(std::span<uint8_t> buffer) override;
  int64_t DoWrite(std::span<const uint8_t> buffer) override;

 private:
  Ref<TStream> inner_;
  int64_t base_;
};

// Handlers the music player installs: open a show file by name (null when it
// does not open), and take a stream back when the music code is done.
using TMusicOpenHandler = TDelegate<Ref<TStream>(const std::u16string&)>;
using TMusicCloseHandler = TDelegate<void(TStream*)>;

// The file part of a music name: the name without a trailing "?" and number.
std::u16string MusicFileName(const std::u16string& name);
// The number after that "?" (0 when there is none).
int32_t MusicStreamIndex(const std::u16string& name);

// Opens through the handler when assigned, else the default opener (the
// installed file-open hook, else the file read-only). Null when nothing
// opens; never raises.
Ref<TStream> OpenMusicStream(const std::u16string& name, const TMusicOpenHandler& handler);
// The same, seen from `offset` on through a TMp3ShiftStream.
Ref<TStream> OpenShiftedMusicStream(const std::u16string& name, int64_t offset, const TMusicOpenHandler& handler);
// Unwraps a shifted stream and hands the inner one to the close handler (when
// assigned); the caller's reference is dropped.
void CloseMusicStream(Ref<TStream> stream, const TMusicCloseHandler& handler);
using TMusicFileOpenHook = Ref<TStream> (*)(const std::u16string& name);
TMusicFileOpenHook SetMusicFileOpenHook(TMusicFileOpenHook hook);

// Stream operations under the music stream lock (one process-wide lock, in
// place of a TStreamWrapperClass object); they never raise (a failed
// read gives the bytes read, a failed seek -1). Origins: 0 begin, 1 current,
// 2 end; any other origin is refused with -1.
int64_t MusicStreamSeek(TStream* stream, int64_t offset, int32_t origin);
int64_t MusicStreamRead(TStream* stream, void* buffer, int64_t bytes);
int64_t MusicStreamGetPosition(TStream* stream);
// The size when known without reading the data through (GetKnownSize), -1
// for an inflated package entry not yet read to its end.
int64_t MusicStreamGetSize(TStream* stream);

// The table over the functions above (the context is a TStream*). A 64-bit
// read of more than kMaxMusicRead bytes at once is refused (0 bytes).
inline constexpr int64_t kMaxMusicRead = 104857600;
const TSndStreamFunctions* MusicStreamFunctions();

}  // namespace kav
