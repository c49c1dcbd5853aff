#include "KavLib2/KavViewer/KavFileAccessor.h"

#include <mutex>

#include "KavLib2/KavViewer/KavPathVars.h"
#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/vxPaths.h"

namespace kav {

namespace {

std::mutex g_default_lock;
Ref<TFileAccessor>& DefaultAccessor() {
  static Ref<TFileAccessor>* accessor = new Ref<TFileAccessor>();
  return *accessor;
}

}  // namespace

TFileAccessor::TFileAccessor(TFileSource* source) : source_(source) { KAV_ASSERT(source != nullptr); }

void TFileAccessor::Dispose() {
  source_ = nullptr;
  TRefObject::Dispose();
}

Ref<TFileAccessor> TFileAccessor::Clone() {
  auto copy = MakeRef<TFileAccessor>(source_.get());
  copy->SetFolder(folder_);
  return copy;
}

Ref<TStream> TFileAccessor::OpenFile(const std::u16string& name) {
  Ref<TStream> stream = source_->OpenLocked(name);
  if (stream) {
    if (on_opened_) on_opened_(name, stream);
    return stream;
  }
  if (fallback_) return fallback_(name);
  return nullptr;
}

bool ShowFileExists(const std::u16string& path) {
  if (path.empty()) return false;
  const uint32_t attributes = FileAPI()->GetFileAttributes(path);
  return attributes != kInvalidFileAttributes && !(attributes & kFileAttributeDirectory);
}

bool ResolveDiskPath(TFileAccessor* accessor, std::u16string& path) {
  // The name and its expansion count only where a show may read; a file
  // elsewhere is refused (logged), and the show's folder is asked instead.
  const std::u16string folder = accessor ? accessor->Folder() : std::u16string();
  auto allowed = [&folder](const std::u16string& p) {
    if (!ShowFileExists(p)) return false;
    if (ShowMayOpenPath(p, folder)) return true;
    LogShowPathRefused(p, folder);
    return false;
  };
  if (allowed(path)) return true;
  std::u16string expanded = ExpandPathVariablesLocked(path);
  if (expanded != path && allowed(expanded)) {
    path = std::move(expanded);
    return true;
  }
  if (folder.empty()) return false;
  std::u16string beside;
  if (!SafePathCombine(accessor->Folder(), ExtractLastPathPart(path), beside)) return false;
  if (!ShowFileExists(beside)) return false;
  path = std::move(beside);
  return true;
}

Ref<TStream> OpenDiskFile(TFileAccessor* accessor, const std::u16string& path) {
  std::u16string found = path;
  if (!ResolveDiskPath(accessor, found)) return nullptr;
  return OpenShowDiskFile(found, false);
}

Ref<TFileAccessor> CreateDefaultFileAccessor() {
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  std::lock_guard<std::mutex> hold(g_default_lock);
  if (DefaultAccessor()) accessor->SetFolder(DefaultAccessor()->Folder());
  return accessor;
}

Ref<TFileAccessor> GetDefaultFileAccessor() {
  {
    std::lock_guard<std::mutex> hold(g_default_lock);
    if (DefaultAccessor()) return DefaultAccessor();
  }
  Ref<TFileAccessor> made = CreateDefaultFileAccessor();
  std::lock_guard<std::mutex> hold(g_default_lock);
  if (!DefaultAccessor()) DefaultAccessor() = made;
  return DefaultAccessor();
}

void SetDefaultFileAccessor(Ref<TFileAccessor> accessor) {
  std::lock_guard<std::mutex> hold(g_default_lock);
  DefaultAccessor() = std::move(accessor);
}

}  // namespace kav
