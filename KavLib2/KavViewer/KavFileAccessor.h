// The file accessor: the one way show files are opened.
//
// An accessor sits on a file source (disk, unpacked project or packed show)
// and adds what the show engine sets up around it: a hook that may replace
// a stream that opened, a fallback opener for names the source cannot open,
// a mip level for pictures, and the show's folder for names found by their
// last component.
#pragma once

#include <cstdint>
#include <string>

#include "KavLib2/KavViewer/KavFileSource.h"
#include "VoRav/vxDelegate.h"

namespace kav {

// Asked for a name the source could not open: a stream or nil.
using TFallbackOpener = TDelegate<Ref<TStream>(const std::u16string& name)>;
// Called with every stream that opened; may replace it (or clear it).
using TOnOpenedHook = void (*)(const std::u16string& name, Ref<TStream>& stream);

class TFileAccessor : public TRefObject {
 public:
  // Asserts a source and holds a reference to it.
  explicit TFileAccessor(TFileSource* source);

  // A new accessor on the same source with the same folder.
  virtual Ref<TFileAccessor> Clone();

  // The source's stream for `name` (see TFileSource::OpenLocked), passed
  // through the on-opened hook; when none opened, the fallback opener's.
  // Nil when nothing opens it. A damaged packed entry raises.
  Ref<TStream> OpenFile(const std::u16string& name);

  TFileSource* Source() const noexcept { return source_.get(); }
  int32_t MipLevel() const noexcept { return mip_level_; }
  void SetMipLevel(int32_t level) noexcept { mip_level_ = level; }
  const TFallbackOpener& FallbackOpener() const noexcept { return fallback_; }
  void SetFallbackOpener(TFallbackOpener opener) noexcept { fallback_ = opener; }
  TOnOpenedHook OnOpened() const noexcept { return on_opened_; }
  void SetOnOpened(TOnOpenedHook hook) noexcept { on_opened_ = hook; }
  // The show's folder, with a final separator when set.
  const std::u16string& Folder() const noexcept { return folder_; }
  void SetFolder(std::u16string folder) { folder_ = std::move(folder); }

 protected:
  void Dispose() override;

 private:
  Ref<TFileSource> source_;
  int32_t mip_level_ = 0;
  TFallbackOpener fallback_;
  TOnOpenedHook on_opened_ = nullptr;
  std::u16string folder_;
};

// True when `path` names an existing file; else when its path-variable
// expansion does (path becomes the expansion); else when the accessor's
// folder holds a file of the path's last component (path becomes that).
// Each counts only where ShowMayOpenPath allows (with the accessor's
// folder) and when no link takes it out of its folder; a file elsewhere is
// logged and passed over.
bool ResolveDiskPath(TFileAccessor* accessor, std::u16string& path);
// A stream on the file ResolveDiskPath finds, opened through its folder
// (OpenShowFile); nil when none is found or it cannot be opened.
Ref<TStream> OpenDiskFile(TFileAccessor* accessor, const std::u16string& path);

// An accessor on a new TRealFileSource, with the default accessor's folder.
Ref<TFileAccessor> CreateDefaultFileAccessor();
// The process's default accessor (a disk accessor made on first use).
Ref<TFileAccessor> GetDefaultFileAccessor();
// Replaces the default accessor (nil: the next request makes a new one).
void SetDefaultFileAccessor(Ref<TFileAccessor> accessor);

// True when the path names an existing file (not a folder).
bool ShowFileExists(const std::u16string& path);

}  // namespace kav
