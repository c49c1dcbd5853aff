// The video object: a clip on a slide, played at a position derived from
// the show time, fitted into the object's rectangle and drawn through the
// drawer's video operation from the frames of the clip's holder.
#pragma once
#include <cstdint>
#include <string>

#include "KavLib2/KavClasses/KavPictureFit.h"
#include "VoRav/vxIni.h"
#include "KavLib2/KavObjects/KavObjects.h"
#include "KavLib2/KavVideo/KavExtractorWrapper.h"

namespace kav {

// What a slide host offers video objects besides TKavObjectHost: the clip
// holders of the show and the display's frame rate. The slide host
// implements both; a host without it shows no clips.
class TKavVideoHost {
 public:
  virtual ~TKavVideoHost() = default;
  virtual TExtractorList* VideoClips() = 0;
  // Frames per second of the display (for prefetching).
  virtual double DisplayRate() { return 60.0; }
  // The project text ("Tracks" and "Times" sections), or null.
  virtual TIniFile* Project() { return nullptr; }
};

// A clip of the project's "Tracks" section that several video objects
// share by GUID: its keys and the holder of its file.
class TVideoClip2 : public TRefObject {
 public:
  // Reads the entry's keys; the base time is 0 for "StartSlideIdx" 0, else
  // [Times] "opt_synchpos" + that index (the show time that slide begins).
  TVideoClip2(TIniObject* entry, TIniFile* project, TExtractorList* clips);

  bool LoadFromDisk = false;
  std::u16string FileName;
  double Duration = 0;
  double StartVideoTime = 0;
  double StartKAVTime = 0;
  double FPSMultiplier = 1.0;
  std::u16string ClipCaption;
  int32_t StartSlideIdx = 0;
  bool Mute = false;
  std::u16string MasterID;
  double BaseTime = 0;
  Ref<TExtractorWrapper> Holder;

  // Writes a changed key back into the clip's entry.
  void Write(std::u16string_view key, double value);
  void Write(std::u16string_view key, const std::u16string& value);

 protected:
  void Dispose() override;

 private:
  Ref<TIniObject> entry_;
};

class TKavVideo : public TKavObject {
 public:
  TKavVideo(TKavObject* parent, TKavObjectProps* props) : TKavObject(parent, props) {}

  // ---- Keys ----
  std::u16string ClipGUID;
  bool Mute = false;
  double StartKAVTime = 0;
  double FPSMultiplier = 1.0;
  bool LoadFromDisk = false;
  std::u16string FileName;
  double Duration = 10000.0;
  double StartVideoTime = 0;
  bool AntialiasedBorder = true;
  TBorderParams Border;
  int32_t DeinterlaceType = 0;  // 0 Auto, 1 Wave, 2 BobEven, 3 BobOdd
  bool WaitForConvert = false;
  bool ChromaEnable = false;
  TColor32 Chromakey = 0;
  double ChromaDelta = 0;
  int32_t ImageIndex = -2147483647;

  double DisplayRate = 60.0;

  void SetDefaults() override;
  void LoadFromIni(TKavObjectProps* props, bool reload) override;
  void UpdateAtTime(bool recursive, double time) override;
  bool PlaysByItself() const override { return true; }
  void Calculate(bool recursive) override;
  void DrawSelf(TDeviceDrawer* drawer) override;
  void AfterDraw(TDeviceDrawer* drawer) override;
  void PrepareResources(TKavResourceVisitor* visitor) override;
  void ReleaseResources(TKavResourceVisitor* visitor) override;

  // Set the clip keys; the duration falls back to the clip's length when it
  // is negative or longer, the start point to 0 when it is negative or past
  // the clip's end.
  void SetFileName(const std::u16string& name);
  void SetLoadFromDisk(bool on_disk);
  void SetDuration(double duration);
  void SetStartVideoTime(double start);

  // The clip position (ms) at time `t` (ms from the slide's start).
  double PositionMs(double t) const;
  TExtractorWrapper* Holder() const noexcept { return holder_.get(); }
  // The shared clip the object plays, or null.
  TVideoClip2* Clip() const noexcept { return clip_.get(); }
  // The object's own size before scaling: the clip's frame fitted with the
  // border rules, border included; (0, 0) while no clip is open.
  TFloatPoint DefaultPoint();
  // The grey picture drawn in place of a clip that did not open, or null.
  TImage* Placeholder() const noexcept { return placeholder_.get(); }
  // The video draw parameters for a frame of the clip at clip position
  // `position` (ms) holding frame `frame`.
  TVideoDrawParams DrawParams(int32_t frame, double position);
  // The width of the border band drawn inside the object's rectangle (in
  // the object's units), 0 without a border.
  float DrawnBorderWidth() const;

 protected:
  void Dispose() override;

 private:
  // The clip's frame fitted with the border rules: the border width and the
  // shown part (frame pixels) and the horizontal aspect scale; false while
  // no clip is open.
  bool FitFrame(float& border, TFloatRect& rect, float& scale) const;
  // Makes the placeholder when the holder has no open clip, drops it when
  // it has one.
  void UpdatePlaceholder();

  Ref<TExtractorWrapper> holder_;
  Ref<TVideoClip2> clip_;
  Ref<TImage> placeholder_;
  TFrameSlot held_;
  bool keyed_size_ = false;  // the object names its size ("Size")
  bool waiting_ = false;  // drawn before the clip's first frame was decoded
  double time_ = 0;
};

// Every video object of the tree that shows `file_name`, or whose
// ImageIndex is `image_index` (never the "none" value), is laid out again
// and drawn anew.
void RefitVideoObjects(TKavObject* tree, const std::u16string& file_name, int32_t image_index);

// Puts the video object's factory (kind 8) in front of the chain.
void RegisterKavVideoObject();

}  // namespace kav
