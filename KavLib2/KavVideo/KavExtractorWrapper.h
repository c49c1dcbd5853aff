// The extractor holder: one per clip file, shared by every video object
// that shows the file. It opens the clip (through the show or from disk),
// owns the frame extractor, primes it with two frame images made by the
// drawer, and hands frames in and out for drawing.
//
// The slide host keeps the holders in a TExtractorList and hands them out
// by file name (GetExtractor).
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "KavLib2/KavVideo/KavVideoExtractor.h"

namespace kav {

class TFileAccessor;
class TDeviceDrawer;
class TExtractorList;

class TExtractorWrapper : public TRefObject {
 public:
  enum : uint8_t { kOpened = 0, kNoSource = 1, kNotOpened = 2 };
  // Makes a frame image of the clip's size (RGBA or YUV planes).
  using TFrameMaker = std::function<Ref<TYUVImage>(int32_t width, int32_t height, bool rgba)>;

  // Splits the name at a final ":" followed by digits into base and index;
  // the clip is opened by SetFileName.
  TExtractorWrapper(TExtractorList* list, TFileAccessor* accessor, const std::u16string& file_name);

  // Opens the clip when the name (or the on-disk flag) changed: from disk
  // (ResolveDiskPath, OpenDiskFile) with the flag, else through the
  // accessor; a frame source is made from the stream and a new extractor
  // from the source (state kOpened), else the state tells kNoSource (the
  // file opened) or kNotOpened.
  void SetFileName(const std::u16string& name, bool on_disk = false);
  // Once, with an extractor: two frame images of the clip's size through
  // the drawer (or the maker) are handed to the extractor.
  void Prime(TDeviceDrawer* drawer);
  void Prime(const TFrameMaker& make);
  // Asks the extractor for the frame of `time_ms` (when it was not started
  // yet, or with `restart`).
  void Start(bool restart, double time_ms);
  // The frame for `time_ms` (`display_rate` frames per second): when no
  // frame is held, the extractor's nearest one is taken; a frame already
  // held is shared (one more use). Empty when there is no frame yet.
  TFrameSlot GetFrame(double display_rate, double time_ms, bool* exact = nullptr);
  // Drops one use of the held frame; the last one puts it back.
  void Release();

  // Frame count / frames per second x 1000; 0 without a source or a rate.
  double DurationMs() const;
  void FrameTimeRange(int32_t frame, double& from_ms, double& to_ms) const;

  uint8_t State() const noexcept { return state_; }
  TKavVideoExtractor* Extractor() const noexcept { return extractor_.get(); }
  const std::u16string& FileName() const noexcept { return file_name_; }
  const std::u16string& BaseName() const noexcept { return base_name_; }
  int32_t NameIndex() const noexcept { return name_index_; }
  int32_t UseCount() const noexcept { return use_count_; }

 protected:
  void Dispose() override;

 private:
  friend class TExtractorList;
  void DropExtractor();

  TExtractorList* list_;  // not owned; null once the list let it go
  Ref<TFileAccessor> accessor_;
  Ref<TKavVideoExtractor> extractor_;
  std::u16string file_name_;
  std::u16string base_name_;
  int32_t name_index_ = -1;
  bool on_disk_ = false;
  bool opened_once_ = false;
  uint8_t state_ = kNotOpened;
  bool primed_ = false;
  bool started_ = false;
  TFrameSlot held_;
  int32_t use_count_ = 0;
  std::mutex lock_;  // the held frame and its use count
};

// The holders of one show, by file name.
class TExtractorList : public TRefObject {
 public:
  explicit TExtractorList(TFileAccessor* accessor);
  // The holder of that file with one more reference, or a new one (opened
  // by name) added to the list.
  Ref<TExtractorWrapper> GetExtractor(const std::u16string& file_name, bool on_disk = false);
  int32_t Count();
  // Called by a holder that goes.
  void Remove(TExtractorWrapper* wrapper);

 protected:
  void Dispose() override;

 private:
  Ref<TFileAccessor> accessor_;
  std::mutex lock_;
  std::vector<TExtractorWrapper*> items_;  // not owned: each removes itself when it goes
};

}  // namespace kav
