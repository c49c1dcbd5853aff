#include "KavLib2/KavViewer/KavFileAccessor.h"

#include <cerrno>
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

namespace {

// Whether a show may read the existing file `p` (a full path): it lies below
// the show's folder or a program-provided folder, and no link takes it out
// of that folder. A file elsewhere is logged.
bool ShowMayReadFile(const std::u16string& p, const std::u16string& show_folder) {
  std::u16string folder;
  std::string real;
  if (ShowReadFolder(p, show_folder, folder)) {
    if (FileAPI()->ResolveBeneath(folder, p, real)) return true;
    if (errno != EXDEV) return false;
  }
  LogShowPathRefused(p);
  return false;
}

}  // namespace

bool ResolveDiskPath(TFileAccessor* accessor, std::u16string& path) {
  if (path.size() > kMaxFileNameChars) return false;
  // The name and its expansion count only where a show may read; a file
  // elsewhere, or one reached through a link that leaves its folder, is
  // refused (logged), and the show's folder is asked instead.
  const std::u16string folder = accessor ? accessor->Folder() : std::u16string();
  auto allowed = [&folder](const std::u16string& p) { return ShowFileExists(p) && ShowMayReadFile(p, folder); };
  if (allowed(path)) return true;
  std::u16string expanded = ExpandPathVariablesLocked(path);
  if (expanded != path && allowed(expanded)) {
    path = std::move(expanded);
    return true;
  }
  if (folder.empty()) return false;
  std::u16string beside;
  if (!SafePathCombine(accessor->Folder(), ExtractLastPathPart(path), beside)) return false;
  if (!allowed(beside)) return false;
  path = std::move(beside);
  return true;
}

Ref<TStream> OpenDiskFile(TFileAccessor* accessor, const std::u16string& path) {
  std::u16string found = path;
  if (!ResolveDiskPath(accessor, found)) return nullptr;
  // Opened through its folder again: what was checked is what opens.
  return OpenShowFile(found, accessor ? std::u16string_view(accessor->Folder()) : std::u16string_view(), false);
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
