#include "KavLib2/KavMusic/KavCompositeConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "VoRav/Music/MusicChannel.h"
#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxSoundKind.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {
// Envelopes without points leave every frame as it is (gain 1): they are
// not walked for each frame.
void DropNeutral(std::vector<TVolumeParams>& envs) {
  std::erase_if(envs, [](const TVolumeParams& e) { return e.Steps.empty(); });
}
}  // namespace

struct TCompositeConverter::TItem {
  const TCompositeItem* Desc = nullptr;
  enum { kPending, kActive, kDone, kFailed } State = kPending;
  int64_t Place = 0, End = 0;
  Ref<TStream> Stream;
  Ref<TWavConverter> Converter;
  std::unique_ptr<TPcmResampler> Resampler;
  Ref<TLocalBuffer> Pcm = MakeRef<TLocalBuffer>();
  std::vector<TVolumeParams> Envelopes;
};

TCompositeConverter::TCompositeConverter(const std::u16string& text, TMusicOpenHandler open, TMusicCloseHandler close)
    : text_(text), open_(open), close_(close) {}

void TCompositeConverter::Dispose() {
  for (auto& item : items_) CloseItem(*item);
  TWavConverter::Dispose();
}

bool TCompositeConverter::SetInputFormat(const TMediaInfo& info) {
  info_ = info;
  input_->Format = kOutputWaveFormat;
  output_->Format = kOutputWaveFormat;
  parsed_ = params_.Parse(text_);
  if (!parsed_) return false;
  duration_frames_ = TrackFrames(std::max(params_.Duration, 0));
  items_.clear();
  for (const TCompositeItem& d : params_.Items) {
    auto item = std::make_unique<TItem>();
    item->Desc = &d;
    item->Place = TrackFrames(std::max(d.TimeLine, 0));
    item->Envelopes = d.Envelopes;
    for (TVolumeParams& env : item->Envelopes) env.Compile(d.Duration);
    DropNeutral(item->Envelopes);
    items_.push_back(std::move(item));
  }
  std::stable_sort(items_.begin(), items_.end(), [](const auto& a, const auto& b) { return a->Place < b->Place; });
  for (TVolumeParams& env : params_.MainVolume) env.Compile(params_.Duration);
  DropNeutral(params_.MainVolume);
  Seek(0);
  return true;
}

void TCompositeConverter::CloseItem(TItem& item) {
  item.Converter = nullptr;
  item.Resampler = nullptr;
  if (item.Stream) CloseMusicStream(std::move(item.Stream), close_);
  item.Pcm->Clear();
}

void TCompositeConverter::OpenItem(TItem& item, int64_t at) {
  item.State = TItem::kFailed;
  const std::u16string& name = item.Desc->FileName;
  TMediaInfo info;
  try {
    Ref<TStream> probe = OpenMusicStream(MusicFileName(name), open_);
    if (!probe) {
      // Departure: said as a missing picture is; the author heard nothing.
      LogLine(u"The sound \"" + MusicFileName(name) + u"\" does not play: no such file");
      ReportShowProblem(TShowProblemKind::File, MusicFileName(name), u"no such file", 0, true);
      return;
    }
    // Departure: a file nothing decodes is said, as a missing one is; the
    // author heard nothing and no log line told why.
    if (const std::u16string why = SoundFileProblem(probe.get(), name, &info); !why.empty()) {
      CloseMusicStream(std::move(probe), close_);
      if (item.Desc->ClipSound) {
        // A clip without a sound track (or one nothing here decodes) shows
        // in silence; its picture is what the author placed.
        LogLine(u"Music: the clip \"" + MusicFileName(name) + u"\" has no sound the player plays");
        return;
      }
      LogLine(u"Music: \"" + MusicFileName(name) + u"\" does not play: " + why);
      ReportShowProblem(TShowProblemKind::File, MusicFileName(name), why);
      return;
    }
    if (info.FormatCode == kMediaMpeg && info.DataOffset != 0) {
      CloseMusicStream(std::move(probe), close_);
      item.Stream = OpenShiftedMusicStream(MusicFileName(name), info.DataOffset, open_);
      info.DataOffset = 0;
    } else {
      item.Stream = std::move(probe);
    }
    if (!item.Stream || info.FormatCode == kMediaUnknown || info.FormatCode == kMediaComposite) return;
    item.Converter = CreateConverter(name, info);
    if (!item.Converter) return;
    item.Converter->SetStream(item.Stream);
    if (!item.Converter->SetInputFormat(info)) return;
    const TWaveFormat& f = item.Converter->OutputFormat();
    if (std::memcmp(&f, &kOutputWaveFormat, sizeof f) != 0)
      item.Resampler = std::make_unique<TPcmResampler>(f, kOutputWaveFormat);
    // An item that started before `at` plays from the part already passed.
    const double passed_ms = double(at - item.Place) * 1000.0 / kOutputRate;
    item.Converter->Seek(std::max(item.Desc->BeginTime, 0) + passed_ms);
    const int64_t length_ms = item.Desc->Duration > 0 ? item.Desc->Duration : int64_t(info.Duration) + 10000;
    item.End = TrackFrames(std::max(item.Desc->TimeLine, 0) + length_ms);
    item.State = TItem::kActive;
    // Which file sounds, for an author who hears nothing.
    LogLine(u"Music: playing \"" + name + u"\" from " + IntToStr(int32_t(std::clamp<double>(
                                                          std::max(item.Desc->BeginTime, 0) + passed_ms, 0, INT32_MAX))) +
            u" ms into the file");
  } catch (const Exception&) {
    item.State = TItem::kFailed;
  }
  if (item.State == TItem::kFailed) CloseItem(item);
}

bool TCompositeConverter::ItemFrames(TItem& item, int16_t* dst, int64_t frames) {
  const size_t need = size_t(frames) * 4;
  TLocalBuffer& pcm = *item.Pcm;
  bool ok = true;
  while (pcm.Used() < need) {
    if (!item.Converter->ReadChunk() || !item.Converter->Convert()) {
      ok = false;
      // The item's last samples, which the resamplers hold back for a
      // frame that will not come.
      item.Converter->Drain();
    }
    TLocalBuffer& out = item.Converter->Output();
    if (item.Resampler) {
      const size_t align = out.Format.BlockAlign;
      const size_t whole = align ? out.Used() - out.Used() % align : 0;
      item.Resampler->Process(out.Data(), whole, pcm);
      out.Consume(whole);
      if (!ok) item.Resampler->Flush(pcm);
    } else {
      pcm.Append(out.Data(), out.Used());
      out.Consume(out.Used());
    }
    if (!ok) break;
  }
  const size_t have = std::min(need, pcm.Used());
  // An item that gave nothing (its data ended, or never began) has no bytes
  // to copy: its whole share of the block is silence.
  if (have > 0) std::memcpy(dst, pcm.Data(), have);
  std::memset(reinterpret_cast<uint8_t*>(dst) + have, 0, need - have);
  pcm.Consume(have);
  return have == need;
}

namespace {

// The product of the envelopes' gains at a frame, leaving out those that
// are about 1 (strictly between 0.99 and 1.01); `any` tells whether one
// counted.
double EnvelopeGain(const std::vector<TVolumeParams>& envs, int64_t frame, bool& any) {
  double g = 1.0;
  any = false;
  for (const TVolumeParams& e : envs) {
    const double v = e.GainAt(frame);
    if (v > 0.99 && v < 1.01) continue;
    g *= v;
    any = true;
  }
  return g;
}

}  // namespace

bool TCompositeConverter::Convert() {
  if (!parsed_) return false;
  const int64_t P = position_;
  // The last block is cut at the track's duration and nothing comes after
  // it (whole blocks would pad the end with up to 227 ms of silence), so
  // that what follows, the track's next repetition, joins it sample for
  // sample.
  if (P >= duration_frames_) return false;
  const int64_t B = std::min(kBlockFrames, duration_frames_ - P);
  // 1. Items that start within this block are opened.
  while (next_pending_ < items_.size() && items_[next_pending_]->Place < P + B) {
    TItem& item = *items_[next_pending_++];
    if (item.State == TItem::kPending) OpenItem(item, std::max(item.Place, P));
  }
  // 2-3. Each active item adds its frames under its envelopes.
  acc_.assign(size_t(B) * 2, 0);
  for (auto& owned : items_) {
    TItem& item = *owned;
    if (item.State != TItem::kActive) continue;
    const int64_t start = std::max(item.Place, P), stop = std::min(item.End, P + B);
    if (stop <= start) {
      if (item.End <= P) {
        item.State = TItem::kDone;
        CloseItem(item);
      }
      continue;
    }
    scratch_.resize(size_t(stop - start) * 2);
    const bool more = ItemFrames(item, scratch_.data(), stop - start);
    int32_t* a = acc_.data() + size_t(start - P) * 2;
    for (int64_t f = start; f < stop; ++f) {
      const int16_t* s = &scratch_[size_t(f - start) * 2];
      int32_t* d = a + size_t(f - start) * 2;
      bool any;
      const double g = EnvelopeGain(item.Envelopes, f - item.Place, any);
      if (!any || (g >= 0.99 && g < 1.01)) {
        d[0] += s[0];
        d[1] += s[1];
      } else if (g > 0.00001) {
        d[0] += int32_t(std::lround(s[0] * g));
        d[1] += int32_t(std::lround(s[1] * g));
      }
    }
    if (!more || stop >= item.End) {
      item.State = TItem::kDone;
      CloseItem(item);
    }
  }
  // 4. The main volume.
  if (!params_.MainVolume.empty()) {
    for (int64_t f = 0; f < B; ++f) {
      bool any;
      const double m = EnvelopeGain(params_.MainVolume, P + f, any);
      if (!any || (m >= 0.99 && m < 1.01)) continue;
      int32_t* d = &acc_[size_t(f) * 2];
      if (m < 0.001) {
        d[0] = d[1] = 0;
      } else {
        d[0] = int32_t(std::lround(d[0] * m));
        d[1] = int32_t(std::lround(d[1] * m));
      }
    }
  }
  // 5. Clipped, never wrapped.
  scratch_.resize(size_t(B) * 2);
  for (size_t i = 0; i < acc_.size(); ++i) scratch_[i] = int16_t(std::clamp(acc_[i], -32768, 32767));
  Produce(reinterpret_cast<const uint8_t*>(scratch_.data()), scratch_.size() * 2);
  position_ = P + B;
  return position_ < duration_frames_;
}

void TCompositeConverter::Seek(double ms) {
  for (auto& item : items_) {
    CloseItem(*item);
    item->State = TItem::kPending;
  }
  input_->Clear();
  output_->Clear();
  position_ = TrackFrames(int64_t(std::max(ms, 0.0)));
  time_ = std::max(ms, 0.0);
  next_pending_ = 0;
  const int64_t ahead = position_ + TrackFrames(5000);
  for (; next_pending_ < items_.size(); ++next_pending_) {
    TItem& item = *items_[next_pending_];
    if (item.Place >= ahead) break;
    const int64_t declared_end =
        item.Desc->Duration > 0 ? TrackFrames(std::max(item.Desc->TimeLine, 0) + int64_t(item.Desc->Duration)) : INT64_MAX;
    if (declared_end <= position_) {
      item.State = TItem::kDone;
      continue;
    }
    OpenItem(item, std::max(item.Place, position_));
    if (item.State == TItem::kActive && item.End <= position_) {
      item.State = TItem::kDone;
      CloseItem(item);
    }
  }
}

// ---------------------------------------------------------------------------
// Hooks

namespace {

bool CompositeMediaInfo(const std::u16string& name, TMediaInfo& info) {
  if (!IsCompositeName(name)) return false;
  TCompositeParams params;
  if (!params.Parse(name) || params.Duration <= 0 || params.Items.empty()) return false;
  info = TMediaInfo{};
  info.FormatCode = kMediaComposite;
  info.Duration = uint32_t(params.Duration);
  info.Format = kOutputWaveFormat;
  info.Filled = 1;
  return true;
}

Ref<TWavConverter> CompositeConverter(const std::u16string& name, const TMusicOpenHandler& open,
                                      const TMusicCloseHandler& close) {
  return MakeRef<TCompositeConverter>(name, open, close);
}

}  // namespace

void InstallCompositeHooks() { SetMusicHooks(&IsCompositeName, &CompositeMediaInfo, &CompositeConverter); }

int FuzzCompositeDescription(const uint8_t* data, size_t size) {
  std::u16string text;
  try {
    text = std::u16string(kCompositeMarker) + UTF8Decode(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const Exception&) {
    return 0;  // not UTF-8: no description
  }
  TCompositeParams a;
  if (!a.Parse(text)) return 0;
  TCompositeParams b;
  if (!b.Parse(a.Write()) || b.Items.size() != a.Items.size() || b.Duration != a.Duration) std::abort();
  struct TNoFiles {
    Ref<TStream> Open(const std::u16string&) { return nullptr; }
  } none;
  auto conv = MakeRef<TCompositeConverter>(text, TMusicOpenHandler::Bind<&TNoFiles::Open>(&none), nullptr);
  TMediaInfo info;
  info.FormatCode = kMediaComposite;
  info.Format = kOutputWaveFormat;
  if (!conv->SetInputFormat(info)) return 0;
  for (int i = 0; i < 3 && conv->Convert(); ++i) {
  }
  conv->Seek(a.Duration / 2.0);
  conv->Convert();
  return 0;
}

}  // namespace kav
