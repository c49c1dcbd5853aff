#include "VoRav/Win32/winFolderEnum.h"

#include <cerrno>
#include <ctime>

#include "VoRav/vxPaths.h"

namespace kav {

namespace {

TSystemTime LocalTime(int64_t ns) {
  // Whole seconds rounded down, written so that no step can overflow.
  int64_t rest = ns % 1000000000;
  int64_t whole = ns / 1000000000;
  if (rest < 0) {
    rest += 1000000000;
    --whole;
  }
  const time_t seconds = static_cast<time_t>(whole);
  const int64_t millis = rest / 1000000;
  tm t{};
  if (!localtime_r(&seconds, &t)) return TSystemTime{};
  return SystemTimeFromTm(t, static_cast<uint16_t>(millis));
}

bool IsDotEntry(const std::u16string& name) { return name == u"." || name == u".."; }

[[noreturn]] void RaiseFolderError(int code) {
  if (code == ENOTDIR) throw EFolderNotFound(std::string(), code);
  if (code == EACCES || code == EPERM) throw EFolderAccessDenied(std::string(), code);
  throw EFolderError(std::string(), code);
}

// Closes a search when the listing ends, however it ends.
class TFindGuard {
 public:
  explicit TFindGuard(TFindHandle h) : h_(h) {}
  ~TFindGuard() { FileAPI()->FindClose(h_); }
  TFindGuard(const TFindGuard&) = delete;
  TFindGuard& operator=(const TFindGuard&) = delete;

 private:
  TFindHandle h_;
};

int32_t Enumerate(void* context, const std::u16string& folder, const std::u16string& mask,
                  TEnumFolderCallback callback, bool may_follow) {
  TFileAPI* api = FileAPI();
  TFindData data;
  const TFindHandle h = api->FindFirst(PathCombine(folder, mask), data);
  if (h == kInvalidFind) {
    const int code = errno;
    if (code == ENOENT) return 0;
    if ((code == EACCES || code == EPERM) && may_follow) {
      std::u16string target;
      bool mount_point;
      if (GetJunctionTarget(ExcludeTrailingBackslash(folder), target, mount_point))
        return Enumerate(context, target, mask, callback, false);
    }
    RaiseFolderError(code);
  }
  TFindGuard guard(h);
  int32_t count = 0;
  TFileInfo info;
  bool stop = false;
  do {
    if (IsDotEntry(data.Name)) continue;
    FillFileInfo(data, info);
    if (!callback || callback(context, count, info, stop)) ++count;
    if (stop) return count;
  } while (api->FindNext(h, data));
  if (errno != 0) RaiseFolderError(errno);
  return count;
}

}  // namespace

bool IsReparsePoint(const std::u16string& path) {
  const uint32_t a = FileAPI()->GetFileAttributes(path);
  return a != kInvalidFileAttributes && (a & kFileAttributeReparsePoint);
}

bool GetJunctionTarget(const std::u16string& path, std::u16string& target, bool& is_mount_point) {
  is_mount_point = false;
  if (!IsReparsePoint(path)) return false;
  std::u16string link;
  if (!FileAPI()->ReadLink(path, link) || link.empty()) return false;
  target = IsPathDelimiter(link[0]) ? link : PathCombine(ExtractFileDir(path, true), link);
  return true;
}

void FillFileInfo(const TFindData& data, TFileInfo& info) {
  info.Name = data.Name;
  const size_t dot = data.Name.rfind(u'.');
  info.ExtPos = dot == std::u16string::npos ? data.Name.size() : dot;
  info.ShortName = data.AlternateName.empty() ? data.Name : data.AlternateName;
  info.Attributes = static_cast<uint16_t>(data.Attributes);
  info.IsDirectory = (data.Attributes & kFileAttributeDirectory) != 0;
  info.Size = info.IsDirectory ? 0 : data.Size;
  info.SizeOnDisk = info.Size;
  info.CreationTime = LocalTime(data.CreationTime);
  info.LastAccessTime = LocalTime(data.LastAccessTime);
  info.LastWriteTime = LocalTime(data.LastWriteTime);
}

bool GetFileInfo(const std::u16string& path, TFileInfo& info) {
  TFileAPI* api = FileAPI();
  TFindData data;
  TFindHandle h = api->FindFirst(path, data);
  if (h == kInvalidFind && errno == EACCES) {
    std::u16string target;
    bool mount_point;
    if (GetJunctionTarget(path, target, mount_point)) h = api->FindFirst(target, data);
  }
  if (h == kInvalidFind) return false;
  api->FindClose(h);
  if (IsDotEntry(data.Name)) return false;
  FillFileInfo(data, info);
  return true;
}

int32_t EnumerateFolder(void* context, const std::u16string& folder, const std::u16string& mask,
                        TEnumFolderCallback callback) {
  return Enumerate(context, folder, mask, callback, true);
}

}  // namespace kav
