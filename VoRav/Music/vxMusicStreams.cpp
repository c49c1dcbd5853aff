#include "VoRav/Music/vxMusicStreams.h"

#include <atomic>
#include <climits>
#include <mutex>

#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpFileStream.h"

namespace kav {

namespace {

// Re-entrant: a close handler may read the stream once more.
std::recursive_mutex g_stream_lock;
std::atomic<TMusicFileOpenHook> g_open_hook{nullptr};

}  // namespace

// ---------------------------------------------------------------------------

TMp3ShiftStream::TMp3ShiftStream(Ref<TStream> inner, int64_t base) : inner_(std::move(inner)), base_(base) {
  inner_->SetPosition(base_);
}

int64_t TMp3ShiftStream::GetPosition() { return inner_->GetPosition() - base_; }
int64_t TMp3ShiftStream::SetPosition(int64_t position) { return inner_->SetPosition(base_ + position) - base_; }
int64_t TMp3ShiftStream::GetSize() { return std::max<int64_t>(inner_->GetSize() - base_, 0); }
int64_t TMp3ShiftStream::GetKnownSize() {
  const int64_t size = inner_->GetKnownSize();
  return size < 0 ? -1 : std::max<int64_t>(size - base_, 0);
}
int64_t TMp3ShiftStream::GetSizeWithin(int64_t limit) {
  const int64_t size = inner_->GetSizeWithin(limit > INT64_MAX - base_ ? INT64_MAX : limit + base_);
  return size < 0 ? -1 : std::max<int64_t>(size - base_, 0);
}
void TMp3ShiftStream::SetSize(int64_t) { KAV_ASSERT_FAIL("TMp3ShiftStream.SetSize is not supported"); }
int64_t TMp3ShiftStream::DoRead(std::span<uint8_t> buffer) { return inner_->Read(buffer, int64_t(buffer.size())); }
int64_t TMp3ShiftStream::DoWrite(std::span<const uint8_t> buffer) {
  return inner_->Write(buffer, int64_t(buffer.size()));
}

// ---------------------------------------------------------------------------

std::u16string MusicFileName(const std::u16string& name) {
  const size_t q = name.rfind(u'?');
  if (q == std::u16string::npos || q + 1 >= name.size()) return name;
  for (size_t i = q + 1; i < name.size(); ++i)
    if (name[i] < u'0' || name[i] > u'9') return name;
  return name.substr(0, q);
}

int32_t MusicStreamIndex(const std::u16string& name) {
  const std::u16string file = MusicFileName(name);
  if (file.size() == name.size()) return 0;
  int64_t n = 0;
  for (size_t i = file.size() + 1; i < name.size() && n <= INT32_MAX; ++i) n = n * 10 + (name[i] - u'0');
  return n > INT32_MAX ? 0 : int32_t(n);
}

TMusicFileOpenHook SetMusicFileOpenHook(TMusicFileOpenHook hook) { return g_open_hook.exchange(hook); }

Ref<TStream> OpenMusicStream(const std::u16string& name, const TMusicOpenHandler& handler) {
  std::lock_guard<std::recursive_mutex> hold(g_stream_lock);
  try {
    if (handler) return handler(name);
    if (TMusicFileOpenHook hook = g_open_hook.load()) return hook(name);
    return OpenFileStreamRead(name);
  } catch (const Exception&) {
    // Not logged here: the channel that asked says once which file failed
    // and why (a line here would make two).
    return nullptr;
  }
}

Ref<TStream> OpenShiftedMusicStream(const std::u16string& name, int64_t offset, const TMusicOpenHandler& handler) {
  Ref<TStream> inner = OpenMusicStream(name, handler);
  if (!inner) return nullptr;
  std::lock_guard<std::recursive_mutex> hold(g_stream_lock);
  try {
    return MakeRef<TMp3ShiftStream>(std::move(inner), offset);
  } catch (const Exception&) {
    return nullptr;
  }
}

void CloseMusicStream(Ref<TStream> stream, const TMusicCloseHandler& handler) {
  if (!stream) return;
  std::lock_guard<std::recursive_mutex> hold(g_stream_lock);
  TStream* target = stream.get();
  Ref<TStream> inner;
  if (auto* shifted = dynamic_cast<TMp3ShiftStream*>(target)) {
    inner = Ref<TStream>(shifted->Inner());
    target = inner.get();
  }
  if (handler) handler(target);
}

int64_t MusicStreamSeek(TStream* stream, int64_t offset, int32_t origin) {
  if (!stream || origin < 0 || origin > 2) return -1;
  std::lock_guard<std::recursive_mutex> hold(g_stream_lock);
  try {
    int64_t target = offset;
    if (origin == 1) target += stream->GetPosition();
    if (origin == 2) target += stream->GetSize();
    if (target < 0) return -1;
    return stream->SetPosition(target);
  } catch (const Exception&) {
    return -1;
  }
}

int64_t MusicStreamRead(TStream* stream, void* buffer, int64_t bytes) {
  if (!stream || !buffer || bytes <= 0) return 0;
  std::lock_guard<std::recursive_mutex> hold(g_stream_lock);
  try {
    return stream->Read(std::span<uint8_t>(static_cast<uint8_t*>(buffer), size_t(bytes)), bytes);
  } catch (const Exception&) {
    return 0;
  }
}

int64_t MusicStreamGetPosition(TStream* stream) {
  if (!stream) return -1;
  std::lock_guard<std::recursive_mutex> hold(g_stream_lock);
  try {
    return stream->GetPosition();
  } catch (const Exception&) {
    return -1;
  }
}

int64_t MusicStreamGetSize(TStream* stream) {
  if (!stream) return -1;
  std::lock_guard<std::recursive_mutex> hold(g_stream_lock);
  try {
    // Not learned by reading the data through (an inflated package entry's),
    // under the lock every sound's reads take: a decoder that asks takes an
    // unknown size, as it does a stream's that is not a file.
    return stream->GetKnownSize();
  } catch (const Exception&) {
    return -1;
  }
}

namespace {

TStream* AsStream(void* context) { return static_cast<TStream*>(context); }
int32_t Narrow(int64_t v) { return v > INT32_MAX ? INT32_MAX : int32_t(v); }

const TSndStreamFunctions g_functions = {
    [](void* c, void* b, int32_t n) { return Narrow(MusicStreamRead(AsStream(c), b, n)); },
    [](void* c) { return Narrow(MusicStreamGetPosition(AsStream(c))); },
    [](void* c, int32_t o, int32_t origin) { return Narrow(MusicStreamSeek(AsStream(c), o, origin)); },
    [](void* c) { return Narrow(MusicStreamGetSize(AsStream(c))); },
    [](void* c, void* b, int64_t n) -> int64_t {
      // A plug-in asking for more than 100 MB at once is refused with no
      // bytes rather than stopping the decoder thread with an assertion.
      if (n > kMaxMusicRead) {
        LogLine(u"Music stream read refused: Too many");
        return 0;
      }
      return MusicStreamRead(AsStream(c), b, n);
    },
    [](void* c) { return MusicStreamGetPosition(AsStream(c)); },
    [](void* c, int64_t o, int32_t origin) { return MusicStreamSeek(AsStream(c), o, origin); },
    [](void* c) { return MusicStreamGetSize(AsStream(c)); },
};

}  // namespace

const TSndStreamFunctions* MusicStreamFunctions() { return &g_functions; }

}  // namespace kav
