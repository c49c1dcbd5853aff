// Composite descriptions: a music track as one text that names every file
// of the track, where it sits on the track, which part of the file plays
// and under which volume envelopes. The text is the 36-character marker
// followed by INI text; it is played like a sound file whose name is the
// text itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kav {

inline constexpr char16_t kCompositeMarker[] = u"9213AB40-17BB-458F-9C4C-1806F44BEB65";
inline constexpr size_t kCompositeMarkerLength = 36;

// Caps on what a description may hold.
inline constexpr int32_t kMaxCompositeItems = 10000;
// The music source writes at most three envelopes per item and one main
// volume; every envelope is walked for every frame mixed.
inline constexpr int32_t kMaxEnvelopeCount = 16;
inline constexpr int32_t kMaxEnvelopePoints = 100000;

// One envelope point: ms from the envelope's start, volume in permille.
struct TVolumeItem {
  int32_t Time = 0;
  int32_t Volume = 1000;
};

// A compiled point: frame position (a multiple of 4), the gain step per four
// frames toward it, the gain at it, and whether the gain is flat up to it.
struct TVolumeItem2 {
  int64_t Position = 0;
  double Step = 0;
  double Gain = 1;
  bool Flat = true;
};

class TVolumeParams {
 public:
  std::vector<TVolumeItem> Points;
  std::vector<TVolumeItem2> Steps;

  // Compiles the points for an item of `duration_ms`: a final point at the
  // duration with the last volume, sorted, later of equal times kept.
  void Compile(int32_t duration_ms);
  // The gain at `frame` frames from the envelope's start (after Compile).
  double GainAt(int64_t frame) const;
};

// An item of the description (TCompositeItem / TCompositeItem2); its
// envelopes are the TVolumeParamsList.
struct TCompositeItem {
  std::u16string FileName;
  int32_t TimeLine = 0;   // place on the track, ms
  int32_t BeginTime = 0;  // offset into the file, ms
  int32_t Duration = 0;   // ms; 0: until the file's data ends
  std::vector<TVolumeParams> Envelopes;
  // The sound track of a video clip: a clip without one (or with none the
  // player decodes) is silent by design, logged but not said as a fault.
  bool ClipSound = false;
};

struct TCompositeParams {
  int32_t Duration = 0;
  std::vector<TCompositeItem> Items;
  std::vector<TVolumeParams> MainVolume;

  // Reads a description (marker included); false when the text is none.
  bool Parse(const std::u16string& text);
  // The description text (marker included).
  std::u16string Write() const;
};

bool IsCompositeName(const std::u16string& name);
// ms of an envelope as a frame position: (ms x 44100 div 4000) x 4.
int64_t CompositeFrames(int64_t ms);
// ms on the track as a frame position: the nearest frame (ms >= 0).
int64_t TrackFrames(int64_t ms);

}  // namespace kav
