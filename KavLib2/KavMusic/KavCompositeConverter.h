// The composite converter: mixes the items of a composite description into
// one 16-bit stereo 44,100 Hz stream, each item under its envelopes and the
// whole under the track's main volume, in blocks of 10,000 frames (the last
// one cut at the track's duration).
#pragma once

#include <memory>

#include "KavLib2/KavMusic/KavCompositeParams.h"
#include "VoRav/Music/vxMusicStreams.h"
#include "VoRav/Music/winWavConverters.h"

namespace kav {

class TCompositeConverter : public TWavConverter {
 public:
  TCompositeConverter(const std::u16string& text, TMusicOpenHandler open, TMusicCloseHandler close);

  bool SetInputFormat(const TMediaInfo& info) override;
  bool ReadChunk() override { return parsed_; }
  bool Convert() override;
  void Seek(double ms) override;

  static constexpr int64_t kBlockFrames = 10000;

 protected:
  void Dispose() override;

 private:
  struct TItem;
  void OpenItem(TItem& item, int64_t at);
  void CloseItem(TItem& item);
  // Frames of the item's PCM (in the output format) into `dst`; false when
  // its data ran out first.
  bool ItemFrames(TItem& item, int16_t* dst, int64_t frames);

  std::u16string text_;
  TMusicOpenHandler open_;
  TMusicCloseHandler close_;
  TCompositeParams params_;
  bool parsed_ = false;
  std::vector<std::unique_ptr<TItem>> items_;
  size_t next_pending_ = 0;
  int64_t position_ = 0;
  int64_t duration_frames_ = 0;
  std::vector<int32_t> acc_;
  std::vector<int16_t> scratch_;
};

// Installs the three hooks through which music channels play composite
// descriptions (names that begin with the marker).
void InstallCompositeHooks();

// The fuzz entry point: the bytes as a description text (UTF-8 after the
// marker), parsed, written and parsed again, then mixed a few blocks with
// every file missing.
int FuzzCompositeDescription(const uint8_t* data, size_t size);

}  // namespace kav
