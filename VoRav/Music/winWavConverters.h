// Converters: the audio data of one opened file turned into PCM that a
// music channel copies into its output buffer. A converter reads its stream
// in chunks, decodes or converts each into its output buffer, keeps the time
// reached and can seek. TWavConverter itself takes plain PCM (8 and 16 bits
// as they are) and, through the PCM resampler, 24-bit, 32-bit, float and
// 6-channel PCM, which come out in the system's output format.
//
// A converter is used by one thread at a time (its channel's refill thread).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "VoRav/Music/vxMediaInfo.h"
#include "VoRav/vxStream.h"

namespace kav {

// A growable byte buffer with a format: appended at the back, consumed from
// the front.
class TLocalBuffer : public TRefObject {
 public:
  TWaveFormat Format{};

  uint8_t* Data() { return data_.data(); }
  size_t Used() const { return used_; }
  size_t FreeSpace() const { return data_.size() - used_; }
  // Makes sure `n` bytes are free behind the used ones.
  void Reserve(size_t n);
  // The first free byte; `Commit` makes `n` bytes written there used.
  uint8_t* WritePtr() { return data_.data() + used_; }
  void Commit(size_t n) { used_ += std::min(n, FreeSpace()); }
  void Append(const void* bytes, size_t n);
  // Appends the bytes of another buffer.
  void AppendBuffer(const TLocalBuffer& other) { Append(other.data_.data(), other.used_); }
  // Drops the first n bytes (at most the used ones).
  void Consume(size_t n);
  void Clear() { used_ = 0; }

 private:
  std::vector<uint8_t> data_;
  size_t used_ = 0;
};

// Resampling to another PCM format: input made 16-bit, 6 channels folded to
// two, mono fed to both sides, three-point interpolation at the output rate.
class TPcmResampler {
 public:
  TPcmResampler(const TWaveFormat& input, const TWaveFormat& output);
  // Resamples whole input frames of `bytes`, appending to `out`; the state
  // carries over to the next block.
  void Process(const uint8_t* in, size_t bytes, TLocalBuffer& out);
  // The input has ended: the output samples still waiting for a frame after
  // the last one are appended to `out`.
  void Flush(TLocalBuffer& out);
  void Reset();

 private:
  void Frame(const uint8_t* p, int32_t& l, int32_t& r) const;
  // One output frame from sample(k, side), k = 0..2, at x; returns w past it.
  template <typename Sample>
  uint8_t* Emit(uint8_t* w, Sample sample, double x) const;
  TWaveFormat in_, out_;
  double ratio_;
  double position_ = 0;
  bool primed_ = false;         // the history holds input frames (or their course)
  int32_t history_[2][2] = {};  // [older, newer][left, right]
};

class TWavConverter : public TRefObject {
 public:
  TWavConverter();

  // The stream the data is read from (set by the channel before
  // SetInputFormat); the converter keeps a reference.
  void SetStream(Ref<TStream> stream) { stream_ = std::move(stream); }
  TStream* Stream() const { return stream_.get(); }

  // Positions at `ms` of the audio; both buffers are emptied.
  virtual void Seek(double ms);
  // Converts what ReadChunk read; false when the data cannot be converted.
  virtual bool Convert();
  // Reads the next chunk; false at the end of the audio data.
  virtual bool ReadChunk();
  // Takes the file's media information; false when the converter cannot
  // take it.
  virtual bool SetInputFormat(const TMediaInfo& info);
  // Makes at least `n` bytes ready in the output (silence after the end of
  // the data); true while data remains.
  virtual bool Fill(size_t n);
  // The data has ended: what the resampler still holds back of its last
  // frames goes to the output (Fill does this itself).
  void Drain();

  // The PCM format of the output. Resampled sources come out in the
  // system's output format, and the channel's buffer takes this format.
  const TWaveFormat& OutputFormat() const { return output_->Format; }
  TLocalBuffer& Output() { return *output_; }
  double Time() const { return time_; }
  // After a Fill that ran out of data: how many bytes of the output were
  // data before the silence (SIZE_MAX when the last Fill padded nothing).
  size_t RealBytes() const { return real_bytes_; }
  const TMediaInfo& Info() const { return info_; }

 protected:
  // Appends converted PCM of the output format and advances the time.
  void Produce(const uint8_t* pcm, size_t bytes);
  void PadSilence(size_t n);

  TMediaInfo info_{};
  Ref<TStream> stream_;
  std::unique_ptr<TPcmResampler> resampler_;
  Ref<TLocalBuffer> input_;
  Ref<TLocalBuffer> output_;
  double time_ = 0;
  size_t chunk_ = 4096;
  size_t real_bytes_ = SIZE_MAX;
};

// The converter for a file's format code; null when there is none (no
// plug-in, no media library, unknown code). Never raises.
using TConverterFactory = Ref<TWavConverter> (*)(const std::u16string& name, const TMediaInfo& info);
Ref<TWavConverter> CreateConverter(const std::u16string& name, const TMediaInfo& info);
// The media library's converter (code 10), installed by its binding.
TConverterFactory SetMediaLibraryConverter(TConverterFactory factory);

}  // namespace kav
