#include "KavLib2/KavClasses/KavShowLocator.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "KavLib2/KavClasses/KavShowColor.h"
#include "KavLib2/KavClasses/KavSlideOrder.h"
#include "KavLib2/KavViewer/KavPackedSource.h"
#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

struct TLocatorState {
  std::mutex lock;
  Ref<TKavShowLocator> current;
  std::vector<Ref<TKavShowLocator>> stack;
};

TLocatorState& State() {
  static TLocatorState* state = new TLocatorState;
  return *state;
}

bool FolderExists(const std::u16string& path) {
  if (path.empty()) return false;
  const uint32_t attributes = FileAPI()->GetFileAttributes(path);
  return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
}

std::u16string FolderOf(const std::u16string& path) {
  return IncludeTrailingBackslash(ExtractFileDir(path, false));
}

TPathVarTable ReadPathModifiers(const TIniList* section) {
  TPathVarTable table;
  const int32_t count = std::clamp(IniGetInteger(section->FindKey(u"Count"), 0), 0, kMaxPathVariables);
  for (int32_t i = 0; i < count; ++i) {
    const std::u16string n = IntToStr(i);
    PathVarsAdd(table, IniGetString(section->FindKey(u"Env" + n)), IniGetString(section->FindKey(u"Path" + n)),
                IniGetBool(section->FindKey(u"Def" + n), false));
  }
  return table;
}

}  // namespace

TKavShowLocator::TKavShowLocator(TFileAccessor* accessor, const std::u16string& project_name)
    : accessor_(accessor), project_name_(project_name), path_vars_(GetPathVariables()) {
  KAV_ASSERT(accessor != nullptr);
  ini_ = LoadIniFromAccessor(accessor, project_name);
  if (!ini_) {
    error_ = kExecutableOpenError;
    return;
  }
  // Any bytes parse as some text; one without [Main] and without slides is
  // no show (an empty or foreign file), and is refused.
  if (!ini_->FindSection(u"Main") && ReadSlidesCount(ini_.get()) == 0) {
    LogLine(u"The project \"" + project_name + u"\" is refused: it has no [Main] section and no slides");
    ini_ = nullptr;
    error_ = kNoShowError;
    return;
  }
  version_ = IniReadString(ini_.get(), u"Main", u"KavVersion", u"");
  if (auto* mapped = dynamic_cast<TMappedFileSource*>(accessor->Source())) {
    mapped->LoadFileMap(ini_->FindSection(u"FileMap"));
    mapped->LoadMappings(ini_->FindSection(u"RotationState"));
  }
}

void TKavShowLocator::Dispose() {
  source_ = nullptr;
  ini_ = nullptr;
  accessor_ = nullptr;
  TRefObject::Dispose();
}

TKavSource* TKavShowLocator::GetSource(const TKavSourceSetup& setup) {
  if (!source_ && ini_) source_ = MakeRef<TKavSource>(accessor_.get(), ini_.get(), setup);
  return source_.get();
}

Ref<TIniFile> LoadIniFromAccessor(TFileAccessor* accessor, const std::u16string& name) {
  const std::u16string what = u"The show file \"" + name + u"\" ";
  try {
    Ref<TStream> stream = accessor->OpenFile(name);
    if (!stream) {
      LogLine(what + u"was not found");
      return nullptr;
    }
    const int64_t size = stream->GetSize();
    if (size > kMaxTextStreamSize) {
      const std::string bytes = std::to_string(size), limit = std::to_string(kMaxTextStreamSize);
      LogLine(what + u"is refused: its " + EffectBytesText(bytes) + u" bytes exceed the text limit of " +
              EffectBytesText(limit));
      return nullptr;
    }
    auto ini = MakeRef<TIniFile>();
    if (!ini->LoadFrom(stream.get())) {
      LogLine(what + u"is refused: it cannot be read as a text (cut short or too many lines)");
      return nullptr;
    }
    return ini;
  } catch (const Exception& e) {
    // A damaged entry, an inflation past its cap, a failing disk.
    LogLine(what + u"cannot be read: " + SystemUTF8ToWide(e.Message()));
    return nullptr;
  }
}

Ref<TFileAccessor> OpenPackedShow(const std::u16string& path, std::u16string& error) {
  auto unpack = MakeRef<TKavUnpack>(path);
  if (!unpack->IsOpen()) {
    error = unpack->ErrorText();
    LogLine(u"The show \"" + path + u"\" does not open: " +
            (error.empty() ? std::u16string(u"it holds no packed show") : error));
    return nullptr;
  }
  error.clear();
  return MakeRef<TFileAccessor>(MakeRef<TPackedFileSource>(unpack.get(), true).get());
}

Ref<TKavShowLocator> LoadPackedShow(const std::u16string& path, std::u16string& error) {
  Ref<TFileAccessor> accessor = OpenPackedShow(path, error);
  if (!accessor) return nullptr;
  accessor->SetFolder(FolderOf(path));
  auto locator = MakeRef<TKavShowLocator>(accessor.get(), kProjectEntryName);
  if (!locator->Ini()) {
    error = locator->Error();
    return nullptr;
  }
  locator->SetPacked(true);
  ApplyColorManagement(locator.get());
  return locator;
}

Ref<TKavShowLocator> LoadProjectShow(const std::u16string& project_path) {
  std::u16string error;
  return LoadProjectShow(project_path, error);
}

Ref<TKavShowLocator> LoadProjectShow(const std::u16string& project_path, std::u16string& error) {
  const std::u16string project_folder = FolderOf(project_path);
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TMappedFileSource>(project_folder).get());
  auto locator = MakeRef<TKavShowLocator>(accessor.get(), project_path);
  TIniFile* ini = locator->Ini();
  error = locator->Error();
  if (!ini) return nullptr;
  // The program the project was built into names the show's folder; on
  // another machine it does not exist and the project's own folder serves.
  const std::u16string exe = IniReadString(ini, u"Main", u"opt_exefn", u"");
  // A folder the project names is used only when it lies within the
  // project's own, so the show cannot point its folder elsewhere.
  const std::u16string exe_folder = exe.empty() ? std::u16string() : ExtractFileDir(exe, false);
  // A folder below it must also not be a link that leads out of it.
  std::string real;
  const bool inside =
      !exe_folder.empty() &&
      (IncludeTrailingBackslash(exe_folder) == project_folder ||
       (IsPathBelowFolder(exe_folder, project_folder) && FileAPI()->ResolveBeneath(project_folder, exe_folder, real)));
  accessor->SetFolder(inside && FolderExists(exe_folder) ? IncludeTrailingBackslash(exe_folder) : project_folder);
  if (const TIniList* modifiers = ini->FindSection(u"PathModifiers")) {
    TPathVarTable table = ReadPathModifiers(modifiers);
    SetPathVariables(table);
    locator->SetPathVariables(std::move(table));
  }
  ApplyColorManagement(locator.get());
  return locator;
}

bool IsSameShowPath(std::u16string_view a, std::u16string_view b) { return WideLowerCase(a) == WideLowerCase(b); }

Ref<TKavShowLocator> CurrentShowLocator() {
  TLocatorState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.current;
}

void SetCurrentShowLocator(Ref<TKavShowLocator> locator) {
  TLocatorState& s = State();
  Ref<TKavShowLocator> old;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    old = std::move(s.current);
    s.current = locator;
  }
  if (locator) SetPathVariables(locator->PathVariables());
}

void PushShowLocator(Ref<TKavShowLocator> locator) {
  TLocatorState& s = State();
  {
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.current) s.stack.push_back(std::move(s.current));
    s.current = locator;
  }
  if (locator) SetPathVariables(locator->PathVariables());
}

bool PopShowLocator() {
  TLocatorState& s = State();
  Ref<TKavShowLocator> old, next;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    old = std::move(s.current);
    if (!s.stack.empty()) {
      next = std::move(s.stack.back());
      s.stack.pop_back();
    }
    s.current = next;
  }
  if (!next) return false;
  SetPathVariables(next->PathVariables());
  ApplyColorManagement(next.get());
  return true;
}

void PopAllShowLocators() {
  TLocatorState& s = State();
  Ref<TKavShowLocator> current;
  std::vector<Ref<TKavShowLocator>> stack;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    current = std::move(s.current);
    stack.swap(s.stack);
  }
}

int32_t StackedShowLocators() {
  TLocatorState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  return int32_t(s.stack.size());
}

}  // namespace kav
