#include "VoRav/Graphics/Video/vxVideoSource.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>

#include "VoRav/Graphics/Video/FFMpegVideoSource.h"
#include "VoRav/Graphics/Video/GifVideoSource.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

std::atomic<TFrameSourceFactory> g_factory{nullptr};
std::atomic<TFrameSourceFilter> g_filter{nullptr};

std::mutex g_cache_lock;
std::map<std::string, TClipInfo>& Cache() {
  static auto* cache = new std::map<std::string, TClipInfo>();  // lives for the whole run
  return *cache;
}

}  // namespace

TFrameFill::TFrameFill(TYUVImage* image) : image_(image) {
  image_->Monitor()->Enter();
  if ((planes_[kYuvPlaneY] = image_->LockPlane(kYuvPlaneY))) {
    planes_[kYuvPlaneU] = image_->LockPlane(kYuvPlaneU);
    planes_[kYuvPlaneV] = image_->LockPlane(kYuvPlaneV);
    if (planes_[kYuvPlaneU] && planes_[kYuvPlaneV]) kind_ = kPlanes;
  } else if ((planes_[kYuvPlaneRgba] = image_->LockPlane(kYuvPlaneRgba))) {
    kind_ = kRgba;
  } else if ((planes_[kYuvPlanePacked] = image_->LockPlane(kYuvPlanePacked))) {
    kind_ = kPacked;
  }
}

TFrameFill::~TFrameFill() {
  for (int32_t i = 0; i < 5; ++i)
    if (planes_[i]) {
      planes_[i] = nullptr;
      image_->UnlockPlane(i);
    }
  if (commit_ && kind_ != kNone) image_->Commit();
  image_->Monitor()->Leave();
}

TFrameSourceFactory FrameSourceFactory() noexcept { return g_factory.load(); }
TFrameSourceFactory SetFrameSourceFactory(TFrameSourceFactory factory) noexcept { return g_factory.exchange(factory); }
TFrameSourceFilter FrameSourceFilter() noexcept { return g_filter.load(); }
TFrameSourceFilter SetFrameSourceFilter(TFrameSourceFilter filter) noexcept { return g_filter.exchange(filter); }

std::string MediaInfoKey(const std::u16string& file_name) {
  char date[16] = "00.00.0000";
  struct stat st;
  std::string name = WideToSystemUTF8(file_name);
  if (stat(name.c_str(), &st) == 0) {
    struct tm tm;
    if (localtime_r(&st.st_mtime, &tm))
      snprintf(date, sizeof date, "%02d.%02d.%04d", tm.tm_mday % 100, (tm.tm_mon + 1) % 100, (tm.tm_year + 1900) % 10000);
  }
  return std::string(date) + "|" + UTF8Encode(file_name);
}

bool CachedMediaInfo(const std::u16string& file_name, TClipInfo& info) {
  std::string key = MediaInfoKey(file_name);
  std::lock_guard<std::mutex> hold(g_cache_lock);
  auto it = Cache().find(key);
  if (it == Cache().end()) return false;
  info = it->second;
  return true;
}

int32_t MediaInfoCacheCount() {
  std::lock_guard<std::mutex> hold(g_cache_lock);
  return int32_t(Cache().size());
}

Ref<TFrameSource> OpenFrameSource(TStream* stream, bool owned, const std::u16string& file_name) {
  // The reference an owned stream hands over, dropped on every path that
  // does not pass it on.
  Ref<TStream> taken = owned && stream ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  TFrameSourceFactory factory = g_factory.load();
  if (!factory) return {};
  if (TFrameSourceFilter filter = g_filter.load(); filter && !filter(file_name)) return {};
  Ref<TFrameSource> source = factory(owned ? taken.release() : stream, owned, file_name);
  if (source) {
    std::string key = MediaInfoKey(file_name);
    std::lock_guard<std::mutex> hold(g_cache_lock);
    Cache().emplace(key, source->Info());  // the first entry wins
  }
  return source;
}

void RegisterVideoSources() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFFMpegVideoSource();
    RegisterGifVideoSource();
  });
}

}  // namespace kav
