// Show file sources: where the bytes of a show's files come from.
//
// TRealFileSource opens plain files on the disk. TMappedFileSource is the
// source of an unpacked project: it adds the project's name map ([FileMap])
// and orientation overrides ([RotationState]). TPackedFileSource
// (KavPackedSource.h) serves the entries of a packed show and shares the
// name map. Callers open files through a TFileAccessor, which calls
// OpenLocked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxStream.h"
#include "VoRav/wpFileStream.h"
#include "VoRav/wpLocks.h"

namespace kav {

class TFileSource;
class TImage;
class TIniList;

// A picture supplied by whoever registered with the source instead of a file
// (data, source, name -> image or nil; the answer is a new reference).
using TOpenImageCallback = TDelegate<Ref<TImage>(void* data, TFileSource* source, const std::u16string& name)>;

// A callback that knows a name as one of the pictures it makes, but answers
// nil because its making was cut short (its host going, its thread asked to
// stop), says so on its thread before it returns: the name is then no file
// to look for, nor a missing one to report, and is asked for again later.
void NoteProductionCutShort() noexcept;
// Whether a callback said so on this thread since the last call; clears it.
bool TakeProductionCutShort() noexcept;

// One registration of an open callback. Freeing the handle takes it off its
// source's list; a source that goes first detaches its handles.
//
// A snapshot of the list (TFileSource::Callbacks) holds its handles, so a
// thread may call a callback whose registrant has already dropped its handle.
// A registrant that frees what its callback uses calls Withdraw first.
class TCallbackHandle : public TRefObject {
 public:
  TFileSource* Source() const noexcept { return source_; }
  const TOpenImageCallback& Callback() const noexcept { return callback_; }
  void* Data() const noexcept { return data_; }

  // Calls the callback; nil once the handle is withdrawn. The call counts as
  // in progress until it returns.
  Ref<TImage> Call(TFileSource* source, const std::u16string& name);
  // Takes the registration off its source's list, makes later calls answer
  // nil and waits until the calls in progress on other threads have returned
  // (a call of the withdrawing thread itself is not waited for).
  void Withdraw();

 protected:
  void Dispose() override;

 private:
  friend class TFileSource;
  TCallbackHandle(TFileSource* source, Ref<TSafeCriticalSection> lock, TOpenImageCallback callback, void* data)
      : source_(source), lock_(std::move(lock)), callback_(callback), data_(data) {}
  TFileSource* source_;  // guarded by lock_; nil once the source has gone
  // The source's lock, shared so that the handle can still take it when the
  // source goes at the same moment as the handle.
  Ref<TSafeCriticalSection> lock_;
  TOpenImageCallback callback_;
  void* data_;
  std::mutex calls_lock_;
  std::condition_variable calls_done_;
  std::vector<std::thread::id> callers_;  // one entry per call in progress
  bool withdrawn_ = false;
};

class TFileSource : public TRefObject {
 public:
  TFileSource();

  // A process-wide number told apart per source (the image cache keys on it).
  int32_t Serial() const noexcept { return serial_; }

  // Registers an open callback at the end of the list. The caller owns the
  // handle; freeing it unregisters the callback.
  Ref<TCallbackHandle> AddCallback(TOpenImageCallback callback, void* data);
  // The callbacks in registration order (a snapshot taken under the lock).
  std::vector<Ref<TCallbackHandle>> Callbacks();

  // Open under the source's lock: one source opens one file at a time. A
  // stream that comes back is handed out inside a window whose reads go in
  // pieces of at most 256 bytes, calling the global loading callback with
  // this source after each; the window keeps the source alive (a stream
  // whose size is not known before it is read through, a TChunkedStream
  // doing the same). Nil when the file cannot be opened. Open's exceptions
  // (a damaged packed entry) pass.
  Ref<TStream> OpenLocked(const std::u16string& name);

  // The orientation code (1, 3, 6 or 8) recorded for an image name, 0 for
  // none; HasOrientationHook tells whether any is recorded.
  virtual int32_t OrientationCode(std::u16string_view name) const;
  bool HasOrientationHook() const noexcept { return orientation_hook_; }

 protected:
  // The file's stream positioned at 0, or nil. Runs under the source's lock.
  virtual Ref<TStream> Open(const std::u16string& name) = 0;
  void Dispose() override;
  void SetOrientationHook(bool set) noexcept { orientation_hook_ = set; }

 private:
  friend class TCallbackHandle;
  void RemoveCallback(TCallbackHandle* handle);

  Ref<TSafeCriticalSection> lock_;
  int32_t serial_;
  std::vector<TCallbackHandle*> callbacks_;  // not owned; guarded by lock_
  bool orientation_hook_ = false;
};

// A file stream whose read failures read 0 bytes instead of raising.
class TFileStreamEx : public TFileStream {
 public:
  using TFileStream::TFileStream;

 protected:
  int64_t DoRead(std::span<uint8_t> buffer) override;
};

// Plain files. A name with "|" opens the file named by the part before the
// first "|"; path variables are expanded with the global table.
class TRealFileSource : public TFileSource {
 protected:
  Ref<TStream> Open(const std::u16string& name) override;
};

// Names that map to each other are followed at most this many steps.
inline constexpr int32_t kMaxFileMapSteps = 64;
// [FileMap] and [RotationState] are read up to this many lines each.
inline constexpr int32_t kMaxFileMapEntries = 1 << 20;

class TMappedFileSource : public TFileSource {
 public:
  // Relative names are opened below `base_folder` when one is given (the
  // project's folder). Every name, whatever the map or the path variables
  // make of it, opens only what ShowMayOpenPath allows, and through
  // OpenShowFile, so no link takes it out of its folder; anything else
  // gives nil and a log line.
  explicit TMappedFileSource(std::u16string base_folder = {});

  // Adds the [FileMap] lines that ParseFileMapEntry accepts.
  void LoadFileMap(const TIniList* section);
  // Adds the [RotationState] lines that ParseRotationEntry accepts; a
  // non-empty map sets the orientation hook.
  void LoadMappings(const TIniList* section);
  void AddMapping(std::u16string_view source, std::u16string_view target);
  bool HasNameMap() const noexcept { return !name_map_.empty(); }
  const std::u16string& BaseFolder() const noexcept { return base_folder_; }

  // The name after following the map (names matched by the rule of
  // KavShowNames.h, first target each step). False when the map loops or
  // runs longer than kMaxFileMapSteps; the loop is logged once per source. A target with a "|" suffix is opened
  // by the part before it, which goes through the map again; those steps
  // count against the same limit, so names that lead back to each other
  // through suffixes end too.
  bool ResolveMappedName(const std::u16string& name, std::u16string& resolved);

  int32_t OrientationCode(std::u16string_view name) const override;

 protected:
  // Follows the map, then OpenTarget.
  Ref<TStream> Open(const std::u16string& name) final;
  // Opens a name the map does not hold: the "|" rule, path variables, a
  // file stream.
  virtual Ref<TStream> OpenTarget(const std::u16string& name);
  void Dispose() override;

 private:
  std::u16string base_folder_;
  std::unordered_map<std::u16string, std::vector<std::u16string>> name_map_;
  std::unordered_map<std::u16string, int32_t> orientation_map_;
  bool loop_logged_ = false;
  int32_t bar_steps_ = 0;  // "|" steps of the open in progress (under the source's lock)

  void LogLoop(const std::u16string& name);
};

// One [FileMap] line: an optional leading ";", then source "=" target where
// the "=" is the first one outside double quotes. Both parts are trimmed of
// blanks and lose one pair of enclosing double quotes. False when there is
// no such "=", when it is the last character, or when a part is empty.
bool ParseFileMapEntry(std::u16string_view line, std::u16string& source, std::u16string& target);
// One [RotationState] line: ';"NAME"=code'. The code (1, 3, 6 or 8) with the
// upper-cased name; 0 for anything else.
int32_t ParseRotationEntry(std::u16string_view line, std::u16string& name);

// The longest name a file can have (the longest path the system shows were
// made on allows). A longer name, such as the key of a text of a million
// characters, stands for no file and is not looked up.
inline constexpr size_t kMaxFileNameChars = 32767;

// Opens an existing file for reading (others may read, write and delete);
// nil when it cannot be opened. For trusted names only: a name from a show
// opens with OpenShowFile.
Ref<TStream> OpenShowDiskFile(const std::u16string& path, bool tolerant_reads);
// The folder from which a show may read the full path: the show's folder
// when the path lies below it, else the program-provided folder (see
// ShowMayOpenPath) it lies below. False when there is none.
bool ShowReadFolder(std::u16string_view path, std::u16string_view show_folder, std::u16string& folder);
// Opens a file a show names (a full path) as OpenShowDiskFile does, but only
// through the folder ShowReadFolder gives, never following a link (at any
// depth of the name) out of it. Nil when it cannot be opened; a name that
// leads outside is logged (LogShowPathRefused).
Ref<TStream> OpenShowFile(const std::u16string& path, std::u16string_view show_folder, bool tolerant_reads);

// Whether `path` lies below `folder`: the folder's text (either separator)
// followed by a relative name without ".." components. Compared exactly, so
// a name written in another case counts as outside.
bool IsPathBelowFolder(std::u16string_view path, std::u16string_view folder);
// Whether a show may open the full path: below the show's folder (when one
// is given) or below a folder the program itself provides (its own folder
// and those of the default path variables). Drive and UNC names, which stand
// for no file here, count as allowed: the file gate refuses them as missing.
bool ShowMayOpenPath(std::u16string_view path, std::u16string_view show_folder);
// Logs that a name from a show was refused because it leads outside (once
// per name and show folder).
void LogShowPathRefused(std::u16string_view name, std::u16string_view show_folder = {});

}  // namespace kav
