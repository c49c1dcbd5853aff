#include "KavLib2/KavViewer/KavZStream.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

#include "VoRav/vxLog.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"

namespace kav {

namespace {

constexpr int64_t kSkipBlock = 8192;
const char kInvalidOperation[] = "Invalid ZStream operation!";

voidpf ZAlloc(voidpf, uInt items, uInt size) {
  if (size != 0 && items > std::numeric_limits<size_t>::max() / size) return Z_NULL;
  return std::malloc(static_cast<size_t>(items) * size);
}

void ZFree(voidpf, voidpf address) { std::free(address); }

}  // namespace

void RaiseZError(int code) { throw EZDecompressionError(zError(code)); }

namespace {
std::atomic<bool (*)() noexcept> g_inflate_stop{nullptr};
}  // namespace

void SetInflateStopCheck(bool (*check)() noexcept) { g_inflate_stop.store(check); }

// ---- TCustomZStream ----

TCustomZStream::TCustomZStream(TStream* source) : source_(source), input_(kInputBufferSize) {
  KAV_ASSERT_MSG(source_, "Inflating stream without a source");
  start_ = current_ = source_->GetPosition();
  zs_.zalloc = ZAlloc;
  zs_.zfree = ZFree;
}

void TCustomZStream::Dispose() {
  source_ = nullptr;
  TStream::Dispose();
}

// ---- TZDecompressionStream ----

TZDecompressionStream::TZDecompressionStream(TStream* source, int window_bits) : TCustomZStream(source) {
  const int rc = inflateInit2(&zs_, window_bits);
  if (rc != Z_OK) RaiseZError(rc);
}

void TZDecompressionStream::Dispose() {
  inflateEnd(&zs_);
  TCustomZStream::Dispose();
}

int64_t TZDecompressionStream::DoRead(std::span<uint8_t> buffer) {
  if (ended_) return 0;
  if (source_->GetPosition() != current_) source_->SetPosition(current_);
  zs_.next_out = buffer.data();
  // A buffer larger than zlib's counter is filled in several rounds by the caller.
  zs_.avail_out = static_cast<uInt>(std::min<size_t>(buffer.size(), std::numeric_limits<uInt>::max()));
  const uInt wanted = zs_.avail_out;
  while (zs_.avail_out > 0 && !ended_) {
    // With the source at its end the decoder is still asked: the input it
    // has taken may hold output to come (the rest of a match, the codes in
    // its bit buffer), so a read that stopped within it goes on.
    bool source_ended = false;
    if (zs_.avail_in == 0) {
      const int64_t got = source_->Read(input_, static_cast<int64_t>(input_.size()));
      if (got > 0) {
        current_ = source_->GetPosition();
        zs_.next_in = input_.data();
        zs_.avail_in = static_cast<uInt>(got);
        if (OnProgress) OnProgress(this);
      } else {
        source_ended = true;
      }
    }
    const uInt in_before = zs_.avail_in, out_before = zs_.avail_out;
    const int rc = inflate(&zs_, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      ended_ = true;
      zs_.avail_in = 0;  // trailing bytes after the data are dropped
    } else if (rc == Z_NEED_DICT) {
      RaiseZError(rc);  // a preset dictionary is never supplied: inflate would stall
    } else if (rc < 0 && rc != Z_BUF_ERROR) {
      RaiseZError(rc);
    } else if (zs_.avail_in == in_before && zs_.avail_out == out_before) {
      if (source_ended) throw EZDecompressionError("Unexpected end of deflate data");
      RaiseZError(Z_DATA_ERROR);  // no progress with input and room: corrupt
    }
  }
  const int64_t produced = static_cast<int64_t>(wanted - zs_.avail_out);
  total_ += produced;
  return produced;
}

int64_t TZDecompressionStream::DoWrite(std::span<const uint8_t>) { throw EZDecompressionError(kInvalidOperation); }

void TZDecompressionStream::Restart() {
  const int rc = inflateReset(&zs_);
  if (rc != Z_OK) RaiseZError(rc);
  source_->SetPosition(start_);
  current_ = start_;
  zs_.avail_in = 0;
  total_ = 0;
  ended_ = false;
}

void TZDecompressionStream::Skip(int64_t count) {
  std::vector<uint8_t> block(static_cast<size_t>(std::min(count, kSkipBlock)));
  while (count > 0) {
    const int64_t n = std::min(count, kSkipBlock);
    if (Read(block, n) < n) throw EStreamReadError();
    count -= n;
  }
}

int64_t TZDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (origin == TSeekOrigin::Beginning && offset == 0) {
    Restart();
  } else if (origin == TSeekOrigin::Current && offset >= 0) {
    Skip(offset);
  } else if (origin == TSeekOrigin::Beginning && offset >= total_) {
    Skip(offset - total_);
  } else if (origin == TSeekOrigin::End && offset == 0) {
    std::vector<uint8_t> block(kSkipBlock);
    while (Read(block, kSkipBlock) > 0) {
    }
  } else {
    throw EZDecompressionError(kInvalidOperation);
  }
  return total_;
}

// ---- TInflateStream ----

TInflateStream::TInflateStream(TStream* source, int64_t size, int64_t position)
    : TZDecompressionStream(source, -15), size_(size), origin_(position < 0 ? 0 : position) {}

int64_t TInflateStream::GetPosition() { return origin_ + TZDecompressionStream::GetPosition(); }

int64_t TInflateStream::SetPosition(int64_t position) {
  if (position == GetPosition()) return position;
  return origin_ + Seek(position - origin_, TSeekOrigin::Beginning);
}

void TInflateStream::SetSize(int64_t) { throw EZDecompressionError(kInvalidOperation); }

// ---- TInflateIndex ----

// The decoder's state at `output` inflated bytes; its input resumes at the
// source position `input`. The state is never moved: zlib's copy points back
// at its own z_stream.
struct TInflateIndex::TCheckpoint {
  int64_t output = 0;
  int64_t input = 0;
  z_stream state{};
  TCheckpoint() = default;
  TCheckpoint(const TCheckpoint&) = delete;
  TCheckpoint& operator=(const TCheckpoint&) = delete;
  ~TCheckpoint() { inflateEnd(&state); }
};

TInflateIndex::TInflateIndex(int64_t spacing) : spacing_(std::max<int64_t>(spacing, 1)) {}
TInflateIndex::~TInflateIndex() = default;

int64_t TInflateIndex::Size() const {
  std::lock_guard<std::mutex> hold(lock_);
  return size_;
}

std::string TInflateIndex::Failure() const {
  std::lock_guard<std::mutex> hold(lock_);
  return failure_;
}

void TInflateIndex::SetName(std::u16string name) {
  std::lock_guard<std::mutex> hold(lock_);
  name_ = std::move(name);
}

size_t TInflateIndex::CheckpointCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return checkpoints_.size();
}

int64_t TInflateIndex::NextMarkLocked() const {
  return (checkpoints_.empty() ? 0 : checkpoints_.back()->output) + spacing_;
}

// ---- TSeekableInflateStream ----

namespace {
// A size for a person: in MiB, in bytes below one.
std::u16string SizeText(int64_t bytes) {
  return bytes < (1 << 20) ? UTF8Decode(std::to_string(bytes)) + u" bytes"
                           : UTF8Decode(std::to_string(bytes >> 20)) + u" MiB";
}
}  // namespace

TSeekableInflateStream::TSeekableInflateStream(TStream* source, int64_t cap, int64_t spacing)
    : TSeekableInflateStream(source, cap, MakeRef<TInflateIndex>(spacing).get()) {}

TSeekableInflateStream::TSeekableInflateStream(TStream* source, int64_t cap, TInflateIndex* index)
    : TZDecompressionStream(source, -15), index_(index), cap_(cap), buffer_(kBufferSize) {
  KAV_ASSERT_MSG(index_, "Seekable inflating stream without an index");
}

void TSeekableInflateStream::Dispose() {
  index_ = nullptr;
  TZDecompressionStream::Dispose();
}

void TSeekableInflateStream::Fail(const std::string& message, const std::u16string& why, int64_t at) {
  failed_ = message;
  bool first = false;
  std::u16string name;
  {
    std::lock_guard<std::mutex> hold(index_->lock_);
    if (index_->failure_.empty()) {
      index_->failure_ = message;
      first = true;
      name = index_->name_;
    }
  }
  // Once per index: a sound read over and over meets the failure each time.
  // An entry's name is said to the show's author as well.
  if (first) {
    const std::u16string reason = u"cannot be read past " + SizeText(at) + u": " + why;
    LogLine((name.empty() ? u"The deflated data " : u"The packed show's file \"" + name + u"\" ") + reason);
    if (!name.empty()) ReportShowProblem(TShowProblemKind::File, name, reason);
  }
  throw EZDecompressionError(message);
}

int64_t TSeekableInflateStream::Inflate(std::span<uint8_t> out) {
  // Every step asks (a reader that goes on after a far seek gave up would
  // otherwise inflate on piece by piece).
  const auto program_stop = g_inflate_stop.load();
  if (CurrentThreadStopRequested() || (program_stop && program_stop()))
    throw EAbort("Inflating stopped: the thread is asked to stop");
  int64_t mark;
  {
    std::lock_guard<std::mutex> hold(index_->lock_);
    mark = index_->NextMarkLocked();
  }
  // Pieces end on the next mark, so that a state is kept exactly there.
  if (mark > total_) out = out.first(static_cast<size_t>(std::min<int64_t>(mark - total_, int64_t(out.size()))));
  int64_t got = 0;
  try {
    got = TZDecompressionStream::DoRead(out);
  } catch (const EZDecompressionError& e) {
    Fail(e.Message(), u"its data are damaged (" + UTF8Decode(e.Message()) + u")", total_);
  }
  if (total_ > cap_)
    Fail(kInflatedSizeLimitText, u"it inflates to more than " + SizeText(cap_) + u", more than a show can use", cap_);
  if (ended_) {
    std::lock_guard<std::mutex> hold(index_->lock_);
    index_->size_ = total_;
  } else if (total_ == mark) {
    Keep();
  }
  return got;
}

void TSeekableInflateStream::Keep() {
  // The copy is made outside the index's lock: it is of this stream's own
  // decoder. Another stream may have kept the same mark meanwhile.
  auto checkpoint = std::make_unique<TInflateIndex::TCheckpoint>();
  const int rc = inflateCopy(&checkpoint->state, &zs_);
  if (rc != Z_OK) RaiseZError(rc);
  checkpoint->output = total_;
  checkpoint->input = current_ - zs_.avail_in;
  std::lock_guard<std::mutex> hold(index_->lock_);
  if (index_->NextMarkLocked() != total_) return;
  auto& checkpoints = index_->checkpoints_;
  int64_t& spacing = index_->spacing_;
  if (checkpoints.size() >= kMaxCheckpoints) {
    // Every other state goes and the spacing doubles.
    spacing *= 2;
    std::erase_if(checkpoints, [spacing](const auto& c) { return c->output % spacing != 0; });
    if (total_ % spacing != 0) return;
  }
  checkpoints.push_back(std::move(checkpoint));
}

void TSeekableInflateStream::MoveBefore(int64_t position) {
  buffer_used_ = buffer_taken_ = 0;
  std::lock_guard<std::mutex> hold(index_->lock_);
  // The last state at or before the position; going on from where the
  // decoder is costs less when it lies between the two.
  const auto& checkpoints = index_->checkpoints_;
  auto after = std::upper_bound(checkpoints.begin(), checkpoints.end(), position,
                                [](int64_t p, const auto& c) { return p < c->output; });
  const int64_t from = after == checkpoints.begin() ? 0 : (*std::prev(after))->output;
  if (position >= total_ && from <= total_) return;
  if (after == checkpoints.begin()) {
    Restart();
    return;
  }
  // inflateCopy writes the whole z_stream and only reads the kept one
  // (which other streams may copy at the same time; the lock keeps it from
  // being thinned out meanwhile); on failure zs_ stays ended and every
  // later read raises.
  const TInflateIndex::TCheckpoint& checkpoint = **std::prev(after);
  inflateEnd(&zs_);
  const int rc = inflateCopy(&zs_, const_cast<z_stream*>(&checkpoint.state));
  if (rc != Z_OK) RaiseZError(rc);
  zs_.next_in = nullptr;
  zs_.avail_in = 0;
  current_ = checkpoint.input;
  total_ = checkpoint.output;
  ended_ = false;
}

void TSeekableInflateStream::Forward(int64_t target) {
  buffer_used_ = buffer_taken_ = 0;
  while (total_ < target && !ended_) {
    const int64_t want = std::min<int64_t>(target - total_, static_cast<int64_t>(buffer_.size()));
    if (Inflate(std::span<uint8_t>(buffer_.data(), static_cast<size_t>(want))) == 0) break;
  }
}

int64_t TSeekableInflateStream::GetPosition() {
  return total_ - static_cast<int64_t>(buffer_used_ - buffer_taken_);
}

int64_t TSeekableInflateStream::SetPosition(int64_t position) {
  const int64_t size = index_->Size();
  if (position < 0 || (size >= 0 && position > size)) throw EStreamError("Incorrect Position");
  const int64_t buffer_start = total_ - static_cast<int64_t>(buffer_used_);
  if (position >= buffer_start && position <= total_) {
    buffer_taken_ = static_cast<size_t>(position - buffer_start);
    return position;
  }
  MoveBefore(position);
  Forward(position);
  if (total_ < position) throw EStreamError("Incorrect Position");  // the data ended first
  return position;
}

int64_t TSeekableInflateStream::GetKnownSize() { return index_->Size(); }

int64_t TSeekableInflateStream::GetSizeWithin(int64_t limit) {
  int64_t size = index_->Size();
  if (size < 0) {
    if (const std::string failure = index_->Failure(); !failure.empty()) throw EZDecompressionError(failure);
    // From the furthest point known, on to the end or just past the limit;
    // then back to where the reader was.
    const int64_t at = GetPosition();
    MoveBefore(std::numeric_limits<int64_t>::max());
    const int64_t bound = std::min(limit, cap_);
    Forward(bound < std::numeric_limits<int64_t>::max() ? bound + 1 : bound);
    size = index_->Size();
    SetPosition(at);
  }
  return size <= limit ? size : -1;
}

int64_t TSeekableInflateStream::GetSize() {
  const int64_t size = GetSizeWithin(cap_);
  if (size < 0) throw EZDecompressionError(kInflatedSizeLimitText);
  return size;
}

void TSeekableInflateStream::SetSize(int64_t) { throw EZDecompressionError(kInvalidOperation); }

int64_t TSeekableInflateStream::DoRead(std::span<uint8_t> buffer) {
  if (!failed_.empty()) throw EZDecompressionError(failed_);
  size_t done = 0;
  while (done < buffer.size()) {
    if (buffer_taken_ == buffer_used_) {
      if (ended_) break;
      // A read as large as the buffer inflates straight into the caller's.
      if (buffer.size() - done >= buffer_.size()) {
        buffer_used_ = buffer_taken_ = 0;
        const int64_t got = Inflate(buffer.subspan(done));
        if (got == 0) break;
        done += static_cast<size_t>(got);
        continue;
      }
      buffer_used_ = static_cast<size_t>(Inflate(buffer_));
      buffer_taken_ = 0;
      if (buffer_used_ == 0) break;
    }
    const size_t n = std::min(buffer.size() - done, buffer_used_ - buffer_taken_);
    std::memcpy(buffer.data() + done, buffer_.data() + buffer_taken_, n);
    buffer_taken_ += n;
    done += n;
  }
  return static_cast<int64_t>(done);
}

}  // namespace kav
