#include "KavLib2/KavMusic/KavCompositeParams.h"

#include <algorithm>

#include "VoRav/vxIni.h"
#include "VoRav/vxUTF8.h"

namespace kav {

bool IsCompositeName(const std::u16string& name) {
  return name.size() >= kCompositeMarkerLength && name.compare(0, kCompositeMarkerLength, kCompositeMarker) == 0;
}

int64_t CompositeFrames(int64_t ms) { return (ms * 44100 / 4000) * 4; }

// Departure: items and the track lie at the nearest frame of their times,
// not on multiples of four frames: an item then ends where the next one
// begins, each at its own time. Rounded down to four frames, an item's end
// (its place plus its rounded length) fell 4 frames short of the next
// place at every second join of 60 ms items (silence there), and an item
// began up to 3 frames early, moving its sound against the one before.
int64_t TrackFrames(int64_t ms) { return (ms * 441 + 5) / 10; }

void TVolumeParams::Compile(int32_t duration_ms) {
  std::vector<TVolumeItem> pts = Points;
  pts.push_back({duration_ms, pts.empty() ? 1000 : pts.back().Volume});
  std::stable_sort(pts.begin(), pts.end(), [](const TVolumeItem& a, const TVolumeItem& b) { return a.Time < b.Time; });
  std::vector<TVolumeItem> kept;
  for (const TVolumeItem& p : pts) {
    if (!kept.empty() && kept.back().Time == p.Time) kept.back() = p;  // the later one stays
    else kept.push_back(p);
  }
  Steps.clear();
  for (size_t i = 0; i < kept.size(); ++i) {
    TVolumeItem2 s;
    s.Position = CompositeFrames(kept[i].Time);
    s.Gain = kept[i].Volume / 1000.0;
    if (i == 0 || s.Position == Steps.back().Position) {
      s.Step = 0;
      s.Flat = true;
    } else {
      const TVolumeItem2& prev = Steps.back();
      s.Step = double(kept[i].Volume - kept[i - 1].Volume) / (double(s.Position - prev.Position) * 250.0);
      s.Flat = kept[i].Volume == kept[i - 1].Volume;
    }
    Steps.push_back(s);
  }
}

double TVolumeParams::GainAt(int64_t frame) const {
  if (Steps.empty()) return 1.0;
  if (frame <= Steps.front().Position) return Steps.front().Gain;
  // The next step at or after the frame: its gain less the frames still to
  // go to it times its slope (per four frames).
  auto next = std::lower_bound(Steps.begin(), Steps.end(), frame,
                               [](const TVolumeItem2& s, int64_t f) { return s.Position < f; });
  if (next == Steps.end()) return Steps.back().Gain;
  return next->Gain - double(next->Position - frame) / 4.0 * next->Step;
}

namespace {

// Envelope k of section `base`: the section base + "_" + k, points
// "Vol_j_0" (time) and "Vol_j_1" (volume) until one is missing.
bool ReadEnvelopes(TIniFile* ini, const std::u16string& base, std::vector<TVolumeParams>& out) {
  const int32_t count = IniReadInteger(ini, base, u"FadeCount", 0);
  if (count < 0 || count > kMaxEnvelopeCount) return false;
  for (int32_t k = 0; k < count; ++k) {
    const std::u16string section = base + u"_" + UTF8Decode(std::to_string(k));
    TIniList* s = ini->FindSection(section);
    TVolumeParams env;
    for (int32_t j = 0; s && j < kMaxEnvelopePoints; ++j) {
      const std::u16string key = u"Vol_" + UTF8Decode(std::to_string(j)) + u"_";
      TIniItem* t = s->FindKey(key + u"0");
      TIniItem* v = s->FindKey(key + u"1");
      const int32_t time = t ? t->GetInteger(-1) : -1;
      const int32_t volume = v ? v->GetInteger(-1) : -1;
      if (time == -1 || volume == -1) break;
      env.Points.push_back({time, volume});
    }
    out.push_back(std::move(env));
  }
  return true;
}

void WriteEnvelopes(TIniFile* ini, const std::u16string& base, const std::vector<TVolumeParams>& envs) {
  IniWriteInteger(ini, base, u"FadeCount", int32_t(envs.size()));
  for (size_t k = 0; k < envs.size(); ++k) {
    const std::u16string section = base + u"_" + UTF8Decode(std::to_string(k));
    for (size_t j = 0; j < envs[k].Points.size(); ++j) {
      const std::u16string key = u"Vol_" + UTF8Decode(std::to_string(j)) + u"_";
      IniWriteInteger(ini, section, key + u"0", envs[k].Points[j].Time);
      IniWriteInteger(ini, section, key + u"1", envs[k].Points[j].Volume);
    }
  }
}

}  // namespace

bool TCompositeParams::Parse(const std::u16string& text) {
  if (!IsCompositeName(text)) return false;
  auto ini = MakeRef<TIniFile>();
  if (!ini->LoadFromBytes(UTF8Encode(std::u16string_view(text).substr(kCompositeMarkerLength)))) return false;
  *this = TCompositeParams{};
  Duration = IniReadInteger(ini.get(), u"Main", u"Duration", 0);
  for (int32_t i = 0; i < kMaxCompositeItems; ++i) {
    const std::u16string section = UTF8Decode(std::to_string(i));
    if (!ini->FindSection(section)) break;
    TCompositeItem item;
    item.FileName = IniReadString(ini.get(), section, u"FileName", u"");
    item.TimeLine = IniReadInteger(ini.get(), section, u"TimeLine", 0);
    item.BeginTime = IniReadInteger(ini.get(), section, u"BeginTime", 0);
    item.Duration = IniReadInteger(ini.get(), section, u"Duration", 0);
    item.ClipSound = IniReadInteger(ini.get(), section, u"ClipSound", 0) != 0;
    if (!ReadEnvelopes(ini.get(), section, item.Envelopes)) return false;
    Items.push_back(std::move(item));
  }
  if (ini->FindSection(u"MainVolume") && !ReadEnvelopes(ini.get(), u"MainVolume", MainVolume)) return false;
  return true;
}

std::u16string TCompositeParams::Write() const {
  auto ini = MakeRef<TIniFile>();
  IniWriteInteger(ini.get(), u"Main", u"Duration", Duration);
  for (size_t i = 0; i < Items.size(); ++i) {
    const std::u16string section = UTF8Decode(std::to_string(i));
    const TCompositeItem& it = Items[i];
    IniWriteString(ini.get(), section, u"FileName", it.FileName);
    IniWriteInteger(ini.get(), section, u"TimeLine", it.TimeLine);
    IniWriteInteger(ini.get(), section, u"BeginTime", it.BeginTime);
    IniWriteInteger(ini.get(), section, u"Duration", it.Duration);
    if (it.ClipSound) IniWriteInteger(ini.get(), section, u"ClipSound", 1);
    WriteEnvelopes(ini.get(), section, it.Envelopes);
  }
  if (!MainVolume.empty()) WriteEnvelopes(ini.get(), u"MainVolume", MainVolume);
  return std::u16string(kCompositeMarker) + UTF8Decode(ini->SaveToBytes());
}

}  // namespace kav
