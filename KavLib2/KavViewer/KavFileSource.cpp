#include "KavLib2/KavViewer/KavFileSource.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <unordered_set>
#include <utility>

#include "KavLib2/KavViewer/KavPathVars.h"
#include "KavLib2/KavViewer/KavShowNames.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxStreamUtils.h"
#include "VoRav/wpLoadCallBack.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

std::atomic<int32_t> g_next_serial{0};

// What OpenLocked hands out: a window on the stream (TPartialStream), or
// for a stream whose size is not known before it is read through (a large
// deflated entry of a package) the whole stream read in the same pieces
// (TChunkedStream); it holds the source, so the loading callback always
// gets a live sender.
template <class TBase>
class TSourceStream : public TBase {
 public:
  template <class... TArgs>
  explicit TSourceStream(TFileSource* source, TArgs... args) : TBase(args...), source_(source) {
    this->SetChunkCallback(TPartialStream::kDefaultChunk, TChunkCallback::Bind<&TSourceStream::OnChunk>(this));
  }

 protected:
  void Dispose() override {
    source_ = nullptr;
    TBase::Dispose();
  }

 private:
  void OnChunk(TStream*) { CallLoadCallback(source_.get()); }
  Ref<TFileSource> source_;
};

bool IsBlank(char16_t c) { return c <= u' '; }

// The key of the [FileMap] and [RotationState] maps. Departure: a name in
// its one form (KavShowNames.h), not merely upper-cased, so that a line
// matches whichever form the slides write the name in; a name that form
// refuses keeps its upper-cased text.
std::u16string MapKey(std::u16string_view name) {
  std::u16string key = ShowNameMatchKey(name);
  return key.empty() ? WideUpperCase(name) : key;
}

std::u16string TrimUnquote(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"') s = s.substr(1, s.size() - 2);
  return std::u16string(s);
}

// The text of one line of a section as the parser split it.
std::u16string LineText(const TIniItem* item) {
  if (item->NameBytes().empty()) return item->GetString();
  return item->GetName() + u"=" + item->GetString();
}

template <class F>
void ForEachLine(const TIniList* section, F&& f) {
  if (!section) return;
  const int32_t n = std::min(section->Count(), kMaxFileMapEntries);
  for (int32_t i = 0; i < n; ++i) {
    const TIniItem* item = section->GetItem(i);
    if (item && !dynamic_cast<const TIniList*>(item)) f(LineText(item));
  }
}

}  // namespace

// ---- callbacks ----

void TCallbackHandle::Dispose() {
  // Under the lock a source that is still set is still whole: its Dispose,
  // which clears source_, has to take the same lock first.
  lock_->Enter();
  if (source_) source_->RemoveCallback(this);
  lock_->Leave();
  lock_ = nullptr;
  TRefObject::Dispose();
}

Ref<TImage> TCallbackHandle::Call(TFileSource* source, const std::u16string& name) {
  const std::thread::id me = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> hold(calls_lock_);
    if (withdrawn_) return nullptr;
    callers_.push_back(me);
  }
  struct TDone {
    TCallbackHandle* handle;
    std::thread::id me;
    ~TDone() {
      std::lock_guard<std::mutex> hold(handle->calls_lock_);
      handle->callers_.erase(std::find(handle->callers_.begin(), handle->callers_.end(), me));
      handle->calls_done_.notify_all();
    }
  } done{this, me};
  return callback_(data_, source, name);
}

void TCallbackHandle::Withdraw() {
  lock_->Enter();
  if (source_) source_->RemoveCallback(this);
  source_ = nullptr;
  lock_->Leave();
  const std::thread::id me = std::this_thread::get_id();
  std::unique_lock<std::mutex> hold(calls_lock_);
  withdrawn_ = true;
  calls_done_.wait(hold, [this, me] {
    return std::all_of(callers_.begin(), callers_.end(), [me](std::thread::id id) { return id == me; });
  });
}

namespace {
thread_local bool t_production_cut_short = false;
}  // namespace

void NoteProductionCutShort() noexcept { t_production_cut_short = true; }

bool TakeProductionCutShort() noexcept { return std::exchange(t_production_cut_short, false); }

// ---- TFileSource ----

TFileSource::TFileSource() : lock_(MakeRef<TSafeCriticalSection>()), serial_(g_next_serial.fetch_add(1)) {}

void TFileSource::Dispose() {
  lock_->Enter();
  for (TCallbackHandle* h : callbacks_) h->source_ = nullptr;
  callbacks_.clear();
  lock_->Leave();
  TRefObject::Dispose();
}

Ref<TCallbackHandle> TFileSource::AddCallback(TOpenImageCallback callback, void* data) {
  auto handle = Ref<TCallbackHandle>::Adopt(new TCallbackHandle(this, lock_, callback, data));
  lock_->Enter();
  callbacks_.push_back(handle.get());
  lock_->Leave();
  return handle;
}

std::vector<Ref<TCallbackHandle>> TFileSource::Callbacks() {
  std::vector<Ref<TCallbackHandle>> out;
  lock_->Enter();
  // A handle whose last reference is being dropped is still listed until its
  // Dispose gets the lock; it must not be taken up again (checking the count
  // and then adding a reference would race with that release).
  for (TCallbackHandle* h : callbacks_)
    if (RefTryAddRef(h)) out.push_back(Ref<TCallbackHandle>::Adopt(h));
  lock_->Leave();
  return out;
}

void TFileSource::RemoveCallback(TCallbackHandle* handle) {
  lock_->Enter();
  std::erase(callbacks_, handle);
  lock_->Leave();
}

Ref<TStream> TFileSource::OpenLocked(const std::u16string& name) {
  Ref<TStream> stream;
  lock_->Enter();
  try {
    stream = Open(name);
  } catch (...) {
    lock_->Leave();
    throw;
  }
  lock_->Leave();
  if (!stream) return nullptr;
  // Never a size the stream would have to read to learn: the lock is
  // free, but the caller may not need it (a sound's decoder reads on).
  const int64_t size = stream->GetKnownSize();
  stream->SetPosition(0);
  if (size < 0) return Ref<TStream>::Adopt(new TSourceStream<TChunkedStream>(this, stream.release()));
  return Ref<TStream>::Adopt(new TSourceStream<TPartialStream>(this, stream.release(), true, int64_t(0), size));
}

int32_t TFileSource::OrientationCode(std::u16string_view) const { return 0; }

// ---- disk files ----

int64_t TFileStreamEx::DoRead(std::span<uint8_t> buffer) {
  try {
    return TFileStream::DoRead(buffer);
  } catch (const Exception&) {
    return 0;
  }
}

Ref<TStream> OpenShowDiskFile(const std::u16string& path, bool tolerant_reads) {
  if (path.empty()) return nullptr;
  const uint32_t share = kFileShareRead | kFileShareWrite | kFileShareDelete;
  try {
    if (tolerant_reads) return MakeRef<TFileStreamEx>(path, kGenericRead, share, kOpenExisting);
    return MakeRef<TFileStream>(path, kGenericRead, share, kOpenExisting);
  } catch (const Exception&) {
    return nullptr;
  }
}

namespace {
Ref<TStream> StreamOnHandle(THandle handle, const std::u16string& path, bool tolerant_reads) {
  const uint32_t share = kFileShareRead | kFileShareWrite | kFileShareDelete;
  Ref<TFileStream> stream = tolerant_reads ? Ref<TFileStream>(MakeRef<TFileStreamEx>()) : MakeRef<TFileStream>();
  stream->Attach(handle, path, kGenericRead, share);
  return stream;
}
}  // namespace

Ref<TStream> OpenShowFile(const std::u16string& path, std::u16string_view show_folder, bool tolerant_reads) {
  std::u16string folder;
  if (path.empty() || !ShowReadFolder(path, show_folder, folder)) return nullptr;
  const THandle handle = FileAPI()->OpenFileBeneath(folder, path);
  if (handle == kInvalidHandle) {
    if (errno == EXDEV) LogShowPathRefused(path);
    return nullptr;
  }
  return StreamOnHandle(handle, path, tolerant_reads);
}

Ref<TStream> TRealFileSource::Open(const std::u16string& name) {
  if (name.size() > kMaxFileNameChars) return nullptr;
  const size_t bar = name.find(u'|');
  if (bar != std::u16string::npos) return Open(name.substr(0, bar));
  return OpenShowDiskFile(ExpandPathVariablesLocked(name), true);
}

// ---- TMappedFileSource ----

TMappedFileSource::TMappedFileSource(std::u16string base_folder) : base_folder_(std::move(base_folder)) {}

void TMappedFileSource::Dispose() {
  name_map_.clear();
  orientation_map_.clear();
  TFileSource::Dispose();
}

void TMappedFileSource::AddMapping(std::u16string_view source, std::u16string_view target) {
  if (source.empty() || target.empty()) return;
  name_map_[MapKey(source)].emplace_back(target);
}

void TMappedFileSource::LoadFileMap(const TIniList* section) {
  ForEachLine(section, [this](const std::u16string& line) {
    std::u16string source, target;
    if (ParseFileMapEntry(line, source, target)) AddMapping(source, target);
  });
}

void TMappedFileSource::LoadMappings(const TIniList* section) {
  ForEachLine(section, [this](const std::u16string& line) {
    std::u16string name;
    const int32_t code = ParseRotationEntry(line, name);
    if (code != 0) orientation_map_[MapKey(name)] = code;
  });
  if (!orientation_map_.empty()) SetOrientationHook(true);
}

int32_t TMappedFileSource::OrientationCode(std::u16string_view name) const {
  if (orientation_map_.empty()) return 0;
  auto it = orientation_map_.find(MapKey(name));
  return it == orientation_map_.end() ? 0 : it->second;
}

bool TMappedFileSource::ResolveMappedName(const std::u16string& name, std::u16string& resolved) {
  resolved = name;
  if (name_map_.empty()) return true;
  std::unordered_set<std::u16string> seen;
  for (int32_t step = 0;; ++step) {
    std::u16string key = MapKey(resolved);
    auto it = name_map_.find(key);
    if (it == name_map_.end()) return true;
    if (step >= kMaxFileMapSteps || !seen.insert(std::move(key)).second) {
      LogLoop(name);
      return false;
    }
    resolved = it->second.front();
  }
}

void TMappedFileSource::LogLoop(const std::u16string& name) {
  if (loop_logged_) return;
  loop_logged_ = true;
  LogLine(u"The show's file map loops at \"" + name + u"\"; the file is not opened");
}

Ref<TStream> TMappedFileSource::Open(const std::u16string& name) {
  if (name.size() > kMaxFileNameChars) return nullptr;
  std::u16string resolved;
  if (!ResolveMappedName(name, resolved)) return nullptr;
  return OpenTarget(resolved);
}

Ref<TStream> TMappedFileSource::OpenTarget(const std::u16string& name) {
  const size_t bar = name.find(u'|');
  if (bar != std::u16string::npos) {
    // Each such step starts a new walk of the map, so a map whose targets
    // lead back through suffixes ("a" = "b|x", "b" = "a|y") would recurse
    // without end: the steps are counted across the whole open.
    if (bar_steps_ >= kMaxFileMapSteps) {
      LogLoop(name);
      return nullptr;
    }
    ++bar_steps_;
    struct TStepBack {
      int32_t& steps;
      ~TStepBack() { --steps; }
    } step_back{bar_steps_};
    return Open(name.substr(0, bar));
  }
  std::u16string path = ExpandPathVariablesLocked(name);
  const bool relative = !path.empty() && !IsPathDelimiter(path[0]) && ExtractFileDriveLength(path) == 0;
  if (relative && !base_folder_.empty()) {
    // Departure: the one form of a show's names, as a package finds them
    // (KavShowNames.h); the file gate then matches case and normal form.
    std::u16string normal, joined;
    if (!IsSafeRelativeName(path)) {
      LogShowPathRefused(name, base_folder_);
      return nullptr;
    }
    if (!NormalShowName(path, normal)) return nullptr;  // only separators and "."
    if (!SafePathCombine(base_folder_, normal, joined)) return nullptr;
    path = std::move(joined);
  } else if (!relative && !ShowMayOpenPath(path, base_folder_)) {
    // An absolute name, a map target or a path variable's folder that lies
    // outside the show's and the program's folders.
    LogShowPathRefused(name, base_folder_);
    return nullptr;
  } else if (relative) {
    return OpenShowDiskFile(path, false);  // no folder to keep it in: the caller's own name
  }
  // Departure: opened through its folder, not by its name, so that no link
  // inside the show (a picture, a folder of pictures, a map target) leads
  // to a file outside it.
  return OpenShowFile(path, base_folder_, false);
}

// ---- where shows may read ----

namespace {

std::u16string SlashForm(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out)
    if (c == u'\\') c = u'/';
  return out;
}

// The program's own folder and the default path variables' folders.
const std::vector<std::u16string>& ProgramProvidedFolders() {
  static const std::vector<std::u16string> folders = [] {
    std::vector<std::u16string> f{ProgramFolderPath()};
    for (const TPathVarEntry& e : DefaultPathVariables().Entries) f.push_back(e.Value);
    return f;
  }();
  return folders;
}

}  // namespace

bool IsPathBelowFolder(std::u16string_view path, std::u16string_view folder) {
  if (folder.empty()) return false;
  std::u16string base = SlashForm(folder);
  if (base.back() != u'/') base += u'/';
  const std::u16string p = SlashForm(path);
  return p.size() > base.size() && p.compare(0, base.size(), base) == 0 &&
         IsSafeRelativeName(std::u16string_view(p).substr(base.size()));
}

bool ShowReadFolder(std::u16string_view path, std::u16string_view show_folder, std::u16string& folder) {
  if (IsPathBelowFolder(path, show_folder)) {
    folder = show_folder;
    return true;
  }
  for (const std::u16string& f : ProgramProvidedFolders())
    if (IsPathBelowFolder(path, f)) {
      folder = f;
      return true;
    }
  return false;
}

bool ShowMayOpenPath(std::u16string_view path, std::u16string_view show_folder) {
  // A drive or UNC name stands for nothing on this system ("\\?\" and
  // "\\.\" prefixes excepted: the gate drops the first).
  if (ExtractFileDriveLength(path) != 0 && (path[1] == u':' || (path[2] != u'?' && path[2] != u'.'))) return true;
  if (IsPathBelowFolder(path, show_folder)) return true;
  for (const std::u16string& folder : ProgramProvidedFolders())
    if (IsPathBelowFolder(path, folder)) return true;
  return false;
}

void LogShowPathRefused(std::u16string_view name, std::u16string_view show_folder) {
  // Departure: logged once per name and show folder, as a text is produced
  // again and again and each production asks for the same names. The set is
  // capped; it is never destroyed, as worker threads may still ask while the
  // process ends.
  constexpr size_t kMaxLoggedNames = 1024;
  static std::mutex* lock = new std::mutex;
  static auto* logged = new std::unordered_set<std::u16string>;
  {
    std::lock_guard<std::mutex> hold(*lock);
    std::u16string key = std::u16string(show_folder) + u'\0' + std::u16string(name);
    if (logged->size() >= kMaxLoggedNames || !logged->insert(std::move(key)).second) return;
  }
  LogLine(u"The show's file name \"" + std::u16string(name) +
          u"\" leads outside the show's folder; the file is not opened");
}

// ---- line parsers ----

bool ParseFileMapEntry(std::u16string_view line, std::u16string& source, std::u16string& target) {
  if (!line.empty() && line[0] == u';') line.remove_prefix(1);
  bool quoted = false;
  size_t eq = std::u16string_view::npos;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == u'"') quoted = !quoted;
    else if (line[i] == u'=' && !quoted) {
      eq = i;
      break;
    }
  }
  if (eq == std::u16string_view::npos || eq + 1 == line.size()) return false;
  source = TrimUnquote(line.substr(0, eq));
  target = TrimUnquote(line.substr(eq + 1));
  return !source.empty() && !target.empty();
}

int32_t ParseRotationEntry(std::u16string_view line, std::u16string& name) {
  name.clear();
  if (line.size() < 2 || line[0] != u';' || line[1] != u'"') return 0;
  const std::u16string_view rest = line.substr(2);
  const size_t close = rest.find(u"\"=");
  if (close == std::u16string_view::npos || close == 0) return 0;
  const int32_t code = StrToIntDef(WideTrim(rest.substr(close + 2)), 0);
  if (code != 1 && code != 3 && code != 6 && code != 8) return 0;
  name = WideUpperCase(rest.substr(0, close));
  return code;
}

}  // namespace kav
