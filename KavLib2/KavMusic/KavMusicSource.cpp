#include "KavLib2/KavMusic/KavMusicSource.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <set>

#include "KavLib2/KavClasses/KavProjectLookups.h"
#include "KavLib2/KavClasses/KavSlideOrder.h"
#include "KavLib2/KavMusic/KavMusicPlayer.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"

namespace kav {

TPlayListEntry TPlayList::Entry(int64_t k) const {
  const int64_t n = Count();
  if (n == 0 || k < 0 || (!Repeat && k >= n)) return {};
  TPlayListEntry e = Entries[size_t(k % n)];
  e.Start += double(k / n) * Length;
  return e;
}

namespace {

std::u16string ClassOf(const TIniObject* o) { return o ? o->GetString() : std::u16string(); }

int32_t Int(const TIniList* o, std::u16string_view key, int32_t def) { return IniGetInteger(IniFindKey(o, key), def); }

// The keys an item and a comment share.
struct TItemKeys {
  std::u16string FileName;
  int32_t StartTime = 0, Duration = 0, CrossMode = 0, Cross = 0, Pause = 0, FadeIn = 0, FadeOut = 0;
  int32_t Volume = 1000;  // permille
  std::u16string VolumeParams, Guid;
  int32_t Linked = -1, Limit = INT32_MAX;
  int32_t LimitFade = 0;  // the cross-fade of the linked item that sets Limit
};

TItemKeys ReadKeys(const TIniList* o) {
  TItemKeys k;
  k.FileName = IniGetString(IniFindKey(o, u"FileName"));
  if (k.FileName == u"error") k.FileName.clear();
  k.StartTime = Int(o, u"StartTime", 0);
  k.Duration = std::max(Int(o, u"Duration", 0), 0);
  k.CrossMode = Int(o, u"CrossMode", 0);
  k.Cross = Int(o, u"Cross", 0);
  k.Pause = Int(o, u"Pause", 0);
  k.FadeIn = Int(o, u"FadeIn", 0);
  k.FadeOut = Int(o, u"FadeOut", 0);
  k.Volume = int32_t(std::clamp<int64_t>(int64_t(Int(o, u"Volume", 100)) * 10, 0, 1000000));
  k.VolumeParams = IniGetString(IniFindKey(o, u"VolumeParams"));
  k.Guid = IniGetString(IniFindKey(o, u"GUID"));
  return k;
}

// The main envelope: fades and a constant volume.
TVolumeParams MainEnvelope(const TItemKeys& k, int32_t duration) {
  TVolumeParams e;
  if (k.FadeIn < 1 && k.FadeOut < 1 && k.Volume == 1000) return e;
  if (k.FadeIn > 0) e.Points.push_back({0, 0}), e.Points.push_back({k.FadeIn, k.Volume});
  if (k.FadeOut > 0) e.Points.push_back({duration - k.FadeOut, k.Volume}), e.Points.push_back({duration, 0});
  if (k.Volume != 1000 && e.Points.empty()) e.Points.push_back({0, k.Volume}), e.Points.push_back({duration, k.Volume});
  return e;
}

// "p:v,p:v": positions in samples at 44,100 Hz, volumes in 1/65536.
void AddVolumeParams(const TItemKeys& k, int32_t duration, TVolumeParams& e) {
  if (k.VolumeParams.empty()) return;
  int64_t prev_time = INT64_MIN;
  int32_t prev_vol = k.Volume;
  int64_t prev_at = 0;
  size_t at = 0;
  const std::u16string& t = k.VolumeParams;
  for (int guard = 0; at < t.size() && guard < kMaxEnvelopePoints; ++guard) {
    size_t end = t.find(u',', at);
    if (end == std::u16string::npos) end = t.size();
    const std::u16string pair = t.substr(at, end - at);
    at = end + 1;
    const size_t colon = pair.find(u':');
    if (colon == std::u16string::npos) continue;
    double p = 0, v = 0;
    try {
      p = std::stod(std::string(pair.begin(), pair.begin() + int64_t(colon)));
      v = std::stod(std::string(pair.begin() + int64_t(colon) + 1, pair.end()));
    } catch (...) {
      continue;
    }
    if (!std::isfinite(p) || !std::isfinite(v)) continue;
    int64_t time = std::llround(std::clamp(p / 44100.0 * 1000.0, -1e12, 1e12));
    if (prev_time != INT64_MIN && time <= prev_time) time = prev_time + 1;
    prev_time = time;
    const int64_t rel = time - k.StartTime;
    const int32_t vol = int32_t(std::clamp(v / 65536.0 * 1000.0, 0.0, 1e6));
    if (rel < duration) {
      e.Points.push_back({int32_t(std::clamp<int64_t>(rel, INT32_MIN, INT32_MAX)), vol});
      prev_at = rel;
      prev_vol = vol;
      continue;
    }
    // The first point at or past the end becomes one at the end, its volume
    // interpolated; the rest are dropped.
    const double w = rel == prev_at ? 1.0 : double(duration - prev_at) / double(rel - prev_at);
    e.Points.push_back({duration, int32_t(std::lround(prev_vol + (vol - prev_vol) * w))});
    break;
  }
}

// "{guid}{guid}..." groups.
std::vector<std::u16string> Guids(const std::u16string& text) {
  std::vector<std::u16string> out;
  size_t at = 0;
  while (out.size() < 100000) {
    const size_t open = text.find(u'{', at);
    if (open == std::u16string::npos) break;
    const size_t close = text.find(u'}', open);
    if (close == std::u16string::npos) break;
    out.push_back(text.substr(open, close - open + 1));
    at = close + 1;
  }
  return out;
}

void CollectItems(TIniList* track, std::vector<TItemKeys>& items, int depth) {
  if (!track || depth > 64) return;
  for (TIniObject* o = track->FirstObject(); o; o = track->NextObject(o)) {
    const std::u16string cls = ClassOf(o);
    if (cls == u"TMusicItem") {
      items.push_back(ReadKeys(o));
    } else if (cls == u"TMusicTrack" && !IniGetBool(IniFindKey(o, u"IsMute"), false)) {
      CollectItems(o, items, depth + 1);
    }
  }
}

// The cross-fade of a linked item (mode 0) is taken once, in its linked
// start: the item is placed there and rises to full volume at its slide's
// start. What plays before it goes on through that rise and falls over it,
// so the two cross, and ends where the linked item is fully in; an abrupt
// cut at the linked start is never what a show means. (Taking the
// cross-fade off again when the item is placed would put it a cross-fade
// early, beside an item playing on at full volume until it is cut.)
// Lays out one track's items on its time line into `out`; the track's end.
int64_t LayOutTrack(std::vector<TItemKeys>& items, TCompositeParams& out) {
  // The limit of each item: the earliest point where a later linked item is
  // fully in (its linked start, plus its cross-fade).
  int32_t limit = INT32_MAX, fade = 0;
  for (size_t i = items.size(); i-- > 0;) {
    items[i].Limit = limit;
    items[i].LimitFade = fade;
    if (items[i].Linked < 0) continue;
    const int32_t cross = items[i].CrossMode == 0 ? std::max(items[i].Cross, 0) : 0;
    const int64_t in = int64_t(items[i].Linked) + cross;
    if (in < limit) {
      limit = int32_t(std::min<int64_t>(in, INT32_MAX));
      fade = cross;
    }
  }
  int64_t position = 0, end = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    TItemKeys& k = items[i];
    const bool linked = k.Linked >= 0;
    if (linked) position = k.Linked;
    int64_t s = position;
    if (k.CrossMode == 0 && !linked) s = position - std::max(k.Cross, 0);
    else if (k.CrossMode == 1 && k.Pause >= 0) s = position + k.Pause;
    int32_t duration = k.Duration;
    if (int64_t(k.Limit) < int64_t(duration) + s) duration = int32_t(std::max<int64_t>(k.Limit - s, 0));
    if (k.CrossMode == 1 && k.Pause >= 1) position += k.Pause;
    TCompositeItem item;
    item.FileName = k.FileName;
    item.TimeLine = int32_t(std::clamp<int64_t>(position, 0, INT32_MAX));
    item.BeginTime = k.StartTime;
    item.Duration = duration;
    TVolumeParams main = MainEnvelope(k, duration);
    AddVolumeParams(k, duration, main);
    // A linked item took its cross-fade off in its linked start already.
    if (k.CrossMode == 0 && k.Cross >= 1 && i > 0 && !linked) {
      position -= k.Cross;
      item.TimeLine = int32_t(std::clamp<int64_t>(int64_t(item.TimeLine) - k.Cross, 0, INT32_MAX));
    }
    // The falling half of a cross-fade: into the next item, or into the
    // rise of a later linked item while this one still sounds (the earlier
    // of the two).
    int64_t fall = INT64_MAX;
    if (i + 1 < items.size() && items[i + 1].Linked < 0 && items[i + 1].CrossMode == 0 && items[i + 1].Cross >= 1)
      fall = int64_t(duration) - items[i + 1].Cross;
    if (k.LimitFade > 0 && int64_t(item.TimeLine) + duration > int64_t(k.Limit) - k.LimitFade)
      fall = std::min(fall, std::max<int64_t>(int64_t(k.Limit) - k.LimitFade - item.TimeLine, 0));
    const bool falls = fall != INT64_MAX && fall < duration;
    if (k.CrossMode == 0 && k.Cross >= 1) {
      TVolumeParams cross;
      cross.Points = {{0, 0}, {k.Cross, 1000}};
      if (falls) cross.Points.push_back({int32_t(fall), 1000}), cross.Points.push_back({duration, 0});
      item.Envelopes.push_back(std::move(cross));
    } else if (falls) {
      TVolumeParams cross;
      cross.Points = {{int32_t(fall), 1000}, {duration, 0}};
      item.Envelopes.push_back(std::move(cross));
    }
    if (!main.Points.empty()) item.Envelopes.insert(item.Envelopes.begin(), std::move(main));
    position += duration;
    if (k.Volume == 0 || k.FileName.empty()) continue;  // no sound, no entry
    end = std::max<int64_t>(end, int64_t(item.TimeLine) + duration);
    out.Items.push_back(std::move(item));
  }
  return end;
}

}  // namespace

int32_t TMusicOptionsReader::Read(TIniList* music, const std::map<std::u16string, int32_t>& linked,
                                  TCompositeParams& track, bool& repeat) {
  track = TCompositeParams{};
  repeat = true;
  if (!music) return -1;
  int32_t mute_volume = 1000;
  std::vector<std::vector<TItemKeys>> tracks;
  std::vector<TItemKeys> loose;
  for (TIniObject* o = music->FirstObject(); o; o = music->NextObject(o)) {
    const std::u16string cls = ClassOf(o);
    if (cls == u"TMusicTrack") {
      if (IniGetBool(IniFindKey(o, u"IsMute"), false)) continue;
      tracks.emplace_back();
      CollectItems(o, tracks.back(), 1);
    } else if (cls == u"TMusicItem") {
      loose.push_back(ReadKeys(o));
    } else if (cls == u"TMusicOptions") {
      // The list repeats unless "IsRepeat" is set.
      repeat = !IniGetBool(IniFindKey(o, u"IsRepeat"), false);
      if (IniGetBool(IniFindKey(o, u"IsMute"), false))
        mute_volume = int32_t(std::clamp<int64_t>(int64_t(Int(o, u"MuteVolume", 100)) * 10, 0, 1000000));
    }
  }
  if (!loose.empty()) tracks.push_back(std::move(loose));
  int64_t length = 0;
  for (auto& items : tracks) {
    for (TItemKeys& k : items) {
      auto it = linked.find(k.Guid);
      if (k.Guid.empty() || it == linked.end()) continue;
      k.Linked = k.CrossMode == 0 ? std::max(it->second - std::max(k.Cross, 0), 0)
                                  : it->second + std::max(k.Pause, 0);
    }
    length = std::max(length, LayOutTrack(items, track));
    if (track.Items.size() > size_t(kMaxCompositeItems)) break;
  }
  track.Duration = int32_t(std::min<int64_t>(length, INT32_MAX));
  if (mute_volume != 1000) {
    TVolumeParams v;
    v.Points = {{0, mute_volume}, {track.Duration, mute_volume}};
    track.MainVolume.push_back(std::move(v));
  }
  return track.Duration;
}

int32_t TMusicOptionsReader::ReadComment(TIniList* comment, int32_t limit, TCompositeParams& out) {
  out = TCompositeParams{};
  if (!comment) return 0;
  TItemKeys k = ReadKeys(comment);
  k.CrossMode = 1;
  k.Cross = 0;
  int64_t length = int64_t(k.Duration) + std::max(k.Pause, 0);
  if (limit > 0) length = std::min<int64_t>(length, limit);
  const int32_t duration = int32_t(std::max<int64_t>(length - std::max(k.Pause, 0), 0));
  if (k.FileName.empty() || k.Volume == 0 || duration == 0) return 0;
  TCompositeItem item;
  item.FileName = k.FileName;
  item.TimeLine = std::max(k.Pause, 0);
  item.BeginTime = k.StartTime;
  item.Duration = duration;
  TVolumeParams main = MainEnvelope(k, duration);
  AddVolumeParams(k, duration, main);
  if (!main.Points.empty()) item.Envelopes.push_back(std::move(main));
  out.Items.push_back(std::move(item));
  out.Duration = int32_t(std::max<int64_t>(int64_t(out.Items[0].TimeLine) + duration, 0));
  return out.Duration;
}

namespace {

// The slide's own "Music" object, anywhere in its object tree.
TIniList* FindMusicObject(TIniList* list, int depth) {
  if (!list || depth > 64) return nullptr;
  for (TIniObject* o = list->FirstObject(); o; o = list->NextObject(o)) {
    if (o->GetName() == u"Music") return o;
    if (TIniList* inner = FindMusicObject(o, depth + 1)) return inner;
  }
  return nullptr;
}

double Float(const TIniList* o, std::u16string_view key, double def) { return IniGetFloat(IniFindKey(o, key), def); }

bool EndsWithGif(const std::u16string& name) {
  if (name.size() < 4) return false;
  std::u16string tail = name.substr(name.size() - 4);
  for (char16_t& ch : tail)
    if (ch >= u'A' && ch <= u'Z') ch = char16_t(ch + 32);
  return tail == u".gif";
}

// The "Video" objects of a slide's tree (key points skipped), depth first.
void CollectVideos(TIniList* list, std::vector<TIniObject*>& out, int depth) {
  if (!list || depth > 64 || out.size() > 1000) return;
  for (TIniObject* o = list->FirstObject(); o; o = list->NextObject(o)) {
    const std::u16string cls = ClassOf(o);
    if (cls == u"KeyPoint") continue;
    if (cls == u"Video") out.push_back(o);
    CollectVideos(o, out, depth + 1);
  }
}

// Each video clip of the slide with sound becomes an item of the comment:
// the clip's file from its offset, placed at its start in the slide, at its
// volume. A clip is heard once per show; muted clips, clips played at
// another speed and GIF animations have no sound.
void AddVideoSounds(TIniFile* ini, TIniList* section, int32_t slide_length, std::set<std::u16string>& used,
                    TCompositeParams& out) {
  std::vector<TIniObject*> videos;
  CollectVideos(section, videos, 0);
  TIniList* tracks = ini ? ini->FindSection(u"Tracks") : nullptr;
  for (TIniObject* v : videos) {
    const std::u16string guid = IniGetString(IniFindKey(v, u"ClipGUID"));
    TIniList* clip = guid.empty() || !tracks ? nullptr : FindVideoClipByGUID(tracks, guid);
    const TIniList* keys = clip ? clip : v;
    if (clip) {
      if (used.count(guid) || IniGetBool(IniFindKey(clip, u"Mute"), false) ||
          Float(clip, u"FPSMultiplier", 1.0) != 1.0)
        continue;
      used.insert(guid);
    } else if (IniGetBool(IniFindKey(v, u"Mute"), false) || Float(v, u"FPSMultiplier", 1.0) != 1.0) {
      // Departure: an object without a clip is muted by its own "Mute" (and
      // silent at another speed), as a clip is by its keys.
      continue;
    }
    std::u16string file = IniGetString(IniFindKey(keys, u"FileName"));
    if (file.empty() || EndsWithGif(file)) continue;
    if (IniGetBool(IniFindKey(keys, u"LoadFromDisk"), false)) file = MusicDiskMarker() + file;
    TCompositeItem item;
    item.FileName = file;
    item.TimeLine = std::max(Int(keys, u"StartKAVTime", 0), 0);
    item.BeginTime = std::max(Int(keys, u"StartVideoTime", 0), 0);
    item.Duration = std::max(Int(keys, u"Duration", 0), 0);
    // Without a clip the object's own time is limited to what is left of the slide.
    if (!clip && slide_length > 0) item.Duration = std::min(item.Duration, std::max(slide_length - item.TimeLine, 0));
    if (item.Duration <= 0) continue;
    item.ClipSound = true;
    const double volume = Float(keys, u"Volume", 1.0);
    if (volume < 1.0) {
      const int32_t permille = int32_t(std::lround(std::clamp(volume, 0.0, 1.0) * 1000));
      TVolumeParams env;
      env.Points = {{0, permille}, {item.Duration, permille}};
      item.Envelopes.push_back(std::move(env));
    }
    out.Items.push_back(std::move(item));
  }
}

}  // namespace

TKavMusicSource::TKavMusicSource(TKavSource* source) : source_(source) {
  KAV_ASSERT_MSG(source != nullptr, "No KavSource for KavMusicSource");
  TIniFile* ini = source->Ini();
  // The project's own "Music" object: at the top of the text, or in the
  // main section.
  TIniList* music = ini ? ini->FindObject(u"Music") : nullptr;
  if (!music && ini) music = IniFindObject(ini->FindSection(u"Main"), u"Music");
  const bool disabled = IniGetBool(IniFindKey(music, u"music_disable"), false);
  sync_mode_ = IniReadBool(ini, u"main", u"opt_syncmode", false);
  cut_comments_ = !IniReadBool(ini, u"main", u"opt_fullyplaysound", false);
  // Slides: timings, and each slide's comment.
  const int32_t count = std::max(source->SlideCount(), 0);
  std::map<std::u16string, int32_t> linked;
  std::set<std::u16string> used_clips;
  slides_.resize(size_t(count));
  for (int32_t i = 0; i < count; ++i) {
    TSlideMusicInfo& s = slides_[size_t(i)];
    source->GetSlideTiming(i, s.Timing);
    s.NextSlide = i + 1 < count ? i + 1 : 0;
    TIniList* section = ini ? GetSlideSection(ini, i) : nullptr;
    const int32_t start = int32_t(std::clamp(s.Timing.Begin, 0.0, double(INT32_MAX)));
    for (const std::u16string& g : Guids(IniGetString(IniFindKey(section, u"LinkedAudio")))) linked.emplace(g, start);
    if (disabled) continue;
    TIniList* own = FindMusicObject(section, 0);
    TIniObject* comment = nullptr;
    for (TIniObject* o = own ? own->FirstObject() : nullptr; o && !comment; o = own->NextObject(o))
      if (ClassOf(o) == u"TSoundComment") comment = o;
    const int32_t limit = cut_comments_ ? int32_t(std::max(s.Timing.End - s.Timing.Begin, 0.0)) : 0;
    TCompositeParams c;
    TMusicOptionsReader::ReadComment(comment, limit, c);
    // The sound of the slide's video clips joins the comment.
    AddVideoSounds(ini, section, int32_t(std::max(s.Timing.End - s.Timing.Begin, 0.0)), used_clips, c);
    int64_t length = 0;
    for (const TCompositeItem& item : c.Items) length = std::max<int64_t>(length, int64_t(item.TimeLine) + item.Duration);
    c.Duration = int32_t(std::min<int64_t>(length, INT32_MAX));
    if (length > 0 && !c.Items.empty()) {
      s.Comment = c.Write();
      s.CommentLength = length;
    }
  }
  if (disabled) return;
  TCompositeParams track;
  bool repeat = true;
  const int32_t length = TMusicOptionsReader::Read(music, linked, track, repeat);
  has_music_ = true;
  play_list_.Repeat = repeat;
  if (length > 0 && !track.Items.empty()) {
    play_list_.Entries.push_back({track.Write(), 0, 0, double(length)});
    play_list_.Length = length;
    // A synchronised track that lasts the whole show (within 200 ms) does not
    // start over.
    if (sync_mode_ && play_list_.Length + 200 >= source->Duration()) play_list_.Repeat = false;
  }
}

}  // namespace kav
