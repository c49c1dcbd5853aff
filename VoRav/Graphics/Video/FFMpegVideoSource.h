// The media-library frame source: a clip decoded through the media library
// binding, positioned by frame number.
//
// Frame numbers come from the decoded pictures' time stamps (milliseconds
// from the stream's start x frame rate, rounded). Frame n is the picture
// with the largest number not above n; asking past the end gives the last
// picture. The source keeps the delivered picture and the one decoded after
// it, so stepping forward decodes each picture once and asking for the same
// frame again decodes nothing.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/media/FFMpegDll.h"
#include "VoRav/Graphics/Video/vxVideoSource.h"

namespace kav {

class TWinVideoSource : public TFrameSource {
 public:
  // How the file is sought: by time, or by scanning back until the packet
  // read after the seek is not after the target.
  enum TSeekMethod : uint8_t { kSeekUnknown = 0, kSeekTime = 1, kSeekScan = 2 };

  // Opens the clip (from `stream` when given, else the file by name).
  // With `owned` the stream reference is taken over. Opened() tells whether
  // a video stream could be decoded.
  TWinVideoSource(TStream* stream, bool owned, const std::u16string& file_name);
  bool Opened() const noexcept { return media_ != nullptr; }

  bool GetFrame(int32_t frame, TYUVImage* image) override;
  bool GetFrame24(int32_t frame, TDirectBitmap* bitmap) override;

  // The number of the picture delivered last (-1 before the first).
  int32_t LastFrame() const noexcept { return cur_valid_ ? cur_number_ : -1; }
  // Pictures decoded so far (for tests).
  int64_t DecodedCount() const noexcept { return decoded_; }
  TSeekMethod SeekMethod() const noexcept { return seek_method_; }

  // Decoder threads of sources opened from now on (0: as many as the
  // library chooses).
  static void SetDecoderThreads(int32_t threads) noexcept { decoder_threads_ = threads; }

 protected:
  void Dispose() override;

 private:
  // Makes `cur_` the picture for frame n. 0 on success, else an error code.
  int32_t Position(int32_t frame);
  int32_t SeekTo(int32_t frame);
  // Decodes the next picture into `next_`. 1 a picture, 0 the end, < 0 an
  // error.
  int32_t DecodeNext();
  void Promote();  // next_ becomes cur_
  int32_t NumberOf(const TMediaFrameInfo& info, int32_t previous) const;
  bool CopyPlanes(TYUVImage* image);

  Ref<TStream> stream_;
  TMediaIO io_;
  std::u16string file_name_;
  TFFMpegDll* dll_ = nullptr;
  TMediaRecord* media_ = nullptr;
  bool rgba_ = false;
  TMediaBuffer* cur_ = nullptr;   // the picture delivered
  TMediaBuffer* next_ = nullptr;  // the picture decoded after it
  TMediaBuffer* rgb_ = nullptr;   // 24-bit conversion for GetFrame24
  TMediaFrameInfo cur_info_;
  TMediaFrameInfo next_info_;
  bool cur_valid_ = false;
  bool next_valid_ = false;
  bool at_end_ = false;
  int32_t cur_number_ = -1;
  int32_t next_number_ = -1;
  double fps_ = 0;
  int64_t decoded_ = 0;
  TSeekMethod seek_method_ = kSeekUnknown;
  uint16_t grey565_[256] = {};
  static inline std::atomic<int32_t> decoder_threads_{0};
};

// Installs the media-library factory in front of the current one.
void RegisterFFMpegVideoSource();

}  // namespace kav
