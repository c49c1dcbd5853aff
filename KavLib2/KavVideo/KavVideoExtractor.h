// The video frame extractor: a worker thread per clip that decodes the
// frame numbers asked for into a small table of frame images, so that
// drawing never waits for the decoder unless it asks to (Seek with wait).
//
//   auto ex = MakeRef<TKavVideoExtractor>(source);
//   ex->AddFrame(frame_a);  ex->AddFrame(frame_b);   // images made by the drawer
//   TFrameSlot slot;
//   bool exact = ex->GetFrame(slot, 60.0, show_ms);   // the nearest frame, out of the table
//   ... draw slot.Frame ...
//   ex->PutFrameSlot(slot);                            // back into the table
//   ex->Stop();                                        // before the last release
//
// A slot taken by GetFrame belongs to the caller until PutFrameSlot; the
// worker decodes outside the monitor into a slot it took out of the table,
// so a frame being drawn is never the one being decoded. The worker keeps
// the extractor alive: call Stop before dropping the last reference.
#pragma once
#include <cstdint>
#include <vector>

#include "VoRav/Graphics/Video/vxVideoSource.h"
#include "VoRav/vxMonitors.h"

namespace kav {

// A frame image with the frame it should show and the one it holds.
struct TFrameSlot {
  Ref<TYUVImage> Frame;
  int32_t Wanted = -2;   // -2: none
  int32_t Decoded = -2;  // -2: none; kLostFrame: its contents were lost
};

inline constexpr int32_t kNoFrame = -2;
inline constexpr int32_t kLostFrame = int32_t(0x80000001);

class TKavVideoExtractor : public TActiveMonitor {
 public:
  // Asserts a source; copies its media information and starts the worker.
  explicit TKavVideoExtractor(Ref<TFrameSource> source);

  // Installs the lost-contents callback on the image and puts it into the
  // table as an empty slot.
  void AddFrame(Ref<TYUVImage> frame);
  // Puts the slot back (an image whose contents were lost is marked so) and
  // empties the caller's copy.
  void PutFrameSlot(TFrameSlot& slot);
  // Takes the decoded slot nearest the frame of `time_ms` out of the table
  // (on equal distance the later one not after it); false and an empty slot
  // when no slot holds a decoded frame. True when it holds exactly that
  // frame. Asks the worker for that frame when no slot has it, else for the
  // frame the display shows next (`display_rate` frames per second).
  bool GetFrame(TFrameSlot& slot, double display_rate, double time_ms);
  // Marks images whose contents were lost, asks for the frame of `time_ms`
  // when no slot holds it, and with `wait` waits until it is decoded, the
  // decode failed, another request replaced it, or nothing can decode it
  // (every frame is held by callers).
  void Seek(bool wait, double time_ms);
  // Releases every image in the table.
  void ReleaseAllFrames();
  // Stops the worker and waits for it.
  void Stop();

  // Frame of a time: time x frames per second / 1000 rounded (halves to
  // even); negative, non-finite or a clip without a rate gives 0; at or past
  // the frame count a looping clip wraps, another gives its last frame; an
  // unknown count (0) leaves the frame as it is.
  int32_t NormalizeFrameIndex(double time_ms) const noexcept;
  // The times a frame covers: (frame -/+ 0.5) x 1000 / frames per second;
  // both 0 for a clip without a rate.
  void GetFrameTimeRange(int32_t frame, double& from_ms, double& to_ms) const noexcept;

  const TClipInfo& Info() const noexcept { return info_; }
  int32_t Requested();
  bool Stopped() const noexcept { return stopped_.load(); }
  // Pictures decoded by the worker (for tests).
  int32_t DecodeCount() const noexcept { return decodes_.load(); }

 protected:
  void Dispose() override;

 private:
  void Work(void*);
  void FrameLost(TYUVImage* frame);
  // Index of the slot holding `frame`, or -1 (inside the monitor).
  int32_t SlotOf(int32_t frame) const;
  int32_t WrapFrame(int64_t frame) const noexcept;

  Ref<TFrameSource> source_;
  TClipInfo info_;
  std::vector<TFrameSlot> slots_;
  int32_t requested_ = kNoFrame;
  bool decoding_ = false;  // the worker has a slot out
  std::atomic<bool> stopped_{false};
  std::atomic<int32_t> decodes_{0};
};

// The clip position at show time `t` (ms): a clip starting at `start` on
// the slide, from `start_video` inside the clip, playing `duration` ms of
// the clip at speed `speed`. Before max(start, t0) it is the start point;
// after the duration it holds its end. A speed that is not positive or not
// finite holds the start point.
double VideoPositionMs(double t, double start, double t0, double speed, double duration, double start_video);

// The deinterlacing field for a drawn frame: 0 none, 1 and 2 the two
// fields. `type`: 0 auto, 1 wave, 2 bob even, 3 bob odd; `position` and
// `middle` the clip position and the middle of the frame's time range.
uint8_t DeinterlaceField(int32_t type, bool interlaced, bool top_first, double position, double middle);

// The horizontal scale of a frame for its display aspect mode (0 as
// stored, 1 4:3, 2 16:9).
double FrameAspectScale(uint8_t mode, int32_t width, int32_t height);

}  // namespace kav
