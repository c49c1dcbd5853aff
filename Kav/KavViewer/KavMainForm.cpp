#include "Kav/KavViewer/KavMainForm.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "KavLib2/KavClasses/KavShowCheck.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavDialogs/KavDialogs.h"
#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavEngine/KavViewerActions.h"
#include "KavLib2/KavProcess/KavInstance.h"
#include "KavLib2/KavProcess/KavScreenSaver.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavUnpack.h"
#include "VoRav/Application2/vxApplication.h"
#include "VoRav/Application2/winForms.h"
#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/Win32/winPathMap.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxCommandLine.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpFileStream.h"
#include "VoRav/wpStringUtils.h"
#include "platform/window/WinApi.h"
#include "platform/window/WinBackend.h"

namespace kav {

namespace {

std::atomic<int32_t> g_close_request{0};

constexpr int32_t kCursorDefault = 0;
constexpr int32_t kCursorHidden = -1;
constexpr int32_t kCursorHand = -21;
constexpr uint32_t kMouseQuietAfterOpenMs = 1000;
constexpr uint32_t kErrorIconFlags = 0x30;
constexpr uint16_t kKeyEsc = 27;
constexpr uint16_t kKeyF1 = 112;

uint32_t Now() { return win::Backend().Now(); }

const TCommandsStorage* Commands(const TCommandsStorage* given) { return given ? given : CommandLineCommands(); }

std::u16string OptionValue(const TCommandsStorage* commands, std::u16string_view name, int32_t index = 0) {
  const TCommandsStorage* c = Commands(commands);
  const TCommand* cmd = c ? c->FindCommand(name) : nullptr;
  const TCommandItem* v = cmd ? cmd->GetValue(index) : nullptr;
  return v ? v->Text() : std::u16string();
}

bool HasOption(const TCommandsStorage* commands, std::u16string_view name) {
  const TCommandsStorage* c = Commands(commands);
  return c && c->FindCommand(name);
}

bool StartsWith(const std::u16string& s, std::u16string_view prefix) { return s.rfind(prefix, 0) == 0; }

// The first value after "--allow-programs=..." (stored as the switch
// "-allow-programs=...", lower-cased); empty when there is none.
std::u16string AllowSwitchValue(const TCommandsStorage* commands) {
  const TCommandsStorage* c = Commands(commands);
  if (!c) return {};
  const std::u16string prefix = std::u16string(kAllowProgramsParam.substr(1)) + u"=";
  for (int32_t b = 0; b < c->BucketCount(); ++b) {
    const THashItem* bucket = c->BucketAt(b);
    for (const TKeyItem* item = bucket ? bucket->First() : nullptr; item; item = item->Next()) {
      const auto* cmd = static_cast<const TCommand*>(item);
      if (StartsWith(cmd->Key(), prefix) && cmd->ValueCount() > 0) return cmd->GetValue(0)->Text();
    }
  }
  return {};
}

}  // namespace

std::vector<std::string> AllowedProgramNames(const std::vector<std::u16string>& raw_params, std::string* problem) {
  std::vector<std::string> names;
  const std::u16string with_value = std::u16string(kAllowProgramsParam) + u"=";
  for (const std::u16string& p : raw_params) {
    if (p == kAllowProgramsParam || p == with_value) {
      // The switch without names is an error, not "allow nothing": a person
      // who gives it wants programs to start and learns how to name them.
      if (problem)
        *problem = "--allow-programs names the programs a show may start: --allow-programs=NAME[,NAME...] "
                   "(a program found on PATH, a path, or \"show\" for the programs in the show's folder)";
      continue;
    }
    if (!StartsWith(p, with_value)) continue;
    const std::string list = WideToSystemUTF8(p.substr(with_value.size()));
    size_t start = 0;
    for (;;) {
      const size_t comma = list.find(',', start);
      std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (!name.empty()) names.push_back(name);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return names;
}

int32_t CloseRequestFlag() { return g_close_request.load(); }

std::u16string PlainShowArgument(const TCommandsStorage* commands, bool& project) {
  // Our addition for Linux users: besides the options, the first plain
  // argument after the program's own path names the show; a folder is
  // played as a project, anything else as a packed show. Relative names are
  // below the current folder, as a shell user expects.
  project = false;
  std::u16string path = OptionValue(commands, u"", 1);
  // "--allow-programs=..." takes no value after it: a name there is the show's.
  if (path.empty()) path = AllowSwitchValue(commands);
  if (path.empty()) return path;
  if (path[0] != u'/') path = PathCombine(GetCurrentDir(true), path);
  if (DirectoryExists(path)) {
    project = true;
    path = PathCombine(path, kProjectEntryName);
  } else if (WideLowerCase(ExtractLastPathPart(path)) == WideLowerCase(kProjectEntryName) && FileExists(path)) {
    // A project text named by itself plays its folder (not as a packed show).
    project = true;
  }
  return path;
}

TShowChoice ChooseShow(const TCommandsStorage* commands) {
  TShowChoice choice;
  bool project = HasOption(commands, u"filename") && !OptionValue(commands, u"filename").empty();
  std::u16string path;
  if (project) path = OptionValue(commands, u"filename");
  else if (!OptionValue(commands, u"exename").empty()) path = OptionValue(commands, u"exename");
  else path = PlainShowArgument(commands, project);
  choice.Named = !path.empty();
  if (path.empty()) path = GetProgramFileName();
  // The command line is the user's own: relative names are below the
  // program's folder.
  if (!path.empty() && path[0] != u'/') path = PathCombine(GetProgramFolder(), path);
  // "filename" may name the project folder as well as its project file.
  if (project && DirectoryExists(path)) path = PathCombine(path, kProjectEntryName);
  if (project && ExtractLastPathPart(path) == kProjectEntryName && DirectoryExists(ExtractFileDir(path, false)) &&
      !FileExists(path))
    choice.Folder = ExtractFileDir(path, false);
  choice.Path = path;
  choice.Packed = !project;
  return choice;
}

std::u16string ShowChoiceProblem(const TShowChoice& choice) {
  if (!choice.Named) {
    if (FileExists(ChangeFileExt(choice.Path, u".kvshow"))) return {};
    auto own = MakeRef<TKavUnpack>(choice.Path);
    if (own->IsOpen()) return {};
    return u"No show to play: name a show file or a project folder, for example \"" +
           ExtractLastPathPart(choice.Path) + u" show.kvshow\" (\"" + ExtractLastPathPart(choice.Path) +
           u" --help\" tells more).";
  }
  if (!choice.Folder.empty())
    return u"The folder " + choice.Folder + u" holds no project: it has no file " + kProjectEntryName +
           u". Name a show file or a project folder.";
  return {};
}

TStartPosition GetStartPosition(const TCommandsStorage* commands) {
  const TCommandsStorage* c = Commands(commands);
  auto value = [&](std::u16string_view name, bool& present) {
    const TCommand* cmd = c ? c->FindCommand(name) : nullptr;
    present = cmd && cmd->GetValue(0);
    const int32_t v = present ? cmd->GetValue(0)->GetIntDef(0) : 0;
    return v > 0 ? v - 1 : 0;
  };
  bool present = false;
  const int32_t slide = value(u"slide", present);
  if (present) return TStartPosition{slide, false};
  const int32_t time = value(u"time", present);
  if (present) return TStartPosition{time, true};
  return TStartPosition{};
}

std::u16string LocateShowData(const std::u16string& path) {
  std::u16string ext = ExtractFileExt(path);
  for (char16_t& ch : ext)
    if (ch >= u'A' && ch <= u'Z') ch = char16_t(ch - u'A' + u'a');
  if (ext != u".app") return path;
  const std::u16string data = PathCombine(PathCombine(PathCombine(path, u"Contents"), u"Resources"), u"slideshow.dat");
  if (FileExists(data)) return data;
  return ChangeFileExt(path, u".kvshow");
}

std::u16string NormalizeSlashes(std::u16string path) {
  for (char16_t& ch : path)
    if (ch == u'/') ch = u'\\';
  return path;
}

namespace {

// Whether the start of a file without a show's ending looks like the start
// of a packed show cut short (a copy or download that stopped): binary data
// that is none of the files people mistake for shows (text, pictures,
// sounds, clips, archives, documents, programs).
bool LooksLikeCutShow(const std::u16string& path) {
  uint8_t head[4096];
  int64_t got = 0;
  try {
    auto stream = MakeRef<TFileStream>(path, kGenericRead, kFileShareRead, kOpenExisting);
    got = stream->Read(std::span<uint8_t>(head, sizeof head), int64_t(sizeof head));
  } catch (const Exception&) {
    return false;
  }
  if (got < 16) return false;
  const std::string_view h(reinterpret_cast<const char*>(head), size_t(got));
  static constexpr std::string_view kOtherStarts[] = {
      "\xFF\xD8\xFF", "\x89PNG", "GIF8", "BM", "RIFF", "ID3", "OggS", "fLaC", "PK\x03\x04", "%PDF", "\x7F" "ELF",
      "\x1F\x8B", "\x1A\x45\xDF\xA3", "II*", "MM\0*", "{", "<"};
  for (std::string_view start : kOtherStarts)
    if (h.substr(0, start.size()) == start) return false;
  if (h.substr(4, 4) == "ftyp") return false;  // MP4, MOV, HEIC
  // Text (any encoding that keeps control bytes out) is no show either.
  for (unsigned char c : h)
    if (c < 9 || (c > 13 && c < 32)) return true;
  return false;
}

}  // namespace

std::u16string PackedShowFailure(const std::u16string& path, const std::u16string& error) {
  if (DirectoryExists(path)) return u"not a show: a folder";
  if (!FileExists(path)) return u"no such file";
  if (error == kShowNotFound) return u"cannot be read";
  if (error.empty())
    return LooksLikeCutShow(path) ? u"incomplete or damaged: the file ends before the show does; copy it again"
                                  : u"not a show";
  return u"damaged";
}

std::u16string ProjectShowFailure(const std::u16string& path, const std::u16string& error) {
  const bool named_text = CompareWideStr(ExtractFileExt(path), u".kav", true) == 0;
  const std::u16string folder = named_text ? ExtractFileDir(path, false) : path;
  if (!folder.empty() && !DirectoryExists(folder)) return u"no such folder";
  if (DirectoryExists(path)) return u"no Project.kav in the folder";
  if (!FileExists(path)) return u"no such file";
  if (error == kNoShowError) return u"not a show: no [Main] section and no slides";
  return error.empty() ? std::u16string(u"cannot be read") : error;
}

void ShowSlideshowError(const std::u16string& text_in) {
  // Departure: show names are kept as Windows paths inside the player; the
  // user sees them as Linux paths.
  std::u16string text = text_in;
  for (char16_t& ch : text)
    if (ch == u'\\') ch = u'/';
  LogLine(u"Slideshow Error: " + text);
  // A box alone says nothing to a terminal or a script that started us.
  std::string said = "kavplay: " + WideToSystemUTF8(text);
  for (char& ch : said)
    if (ch == '\r' || ch == '\n') ch = ' ';
  said += '\n';
  std::fwrite(said.data(), 1, said.size(), stderr);
  win::MessageBox(0, text, u"Slideshow Error", kErrorIconFlags);
}

TMainForm::TMainForm(TFormControllerCreator creator, TCommandsStorage* commands,
                     const std::vector<std::u16string>* raw_params)
    : TVxForm(creator ? creator : &CreateWinFormController), commands_(commands) {
  if (raw_params) {
    raw_params_ = *raw_params;
  } else if (TStringList* tokens = CommandLineTokens()) {
    for (int32_t i = 0; i < tokens->Count(); ++i) raw_params_.push_back(tokens->GetString(i));
  }
  startup_ = HasRawParam(u"-startup");
  // Programs, documents and addresses are opened for a show only when the
  // person running the player asked for it (and the show asks too: OpenShow).
  std::vector<std::string> problems;
  const std::vector<std::string> names = AllowedProgramNames(raw_params_, nullptr);
  programs_allowed_ = !names.empty();
  allowed_programs_ = MakeAllowedPrograms(names, &problems);
  for (const std::string& p : problems) LogLine(u"--allow-programs: " + SystemUTF8ToWide(p));
  SetProgramStartAllowed(false);
  SetAllowedPrograms({});
  SetStayOnTop(startup_);
  if (startup_) SetBorderIcons(kIconSystemMenu);

  monitor_ = MakeRef<TMouseMonitor>(this, false);
  monitor_->SetEnterCallback(TMouseMonitorEvent::Bind<&TMainForm::OnCursorLeave>(this));
  monitor_->SetLeaveCallback(TMouseMonitorEvent::Bind<&TMainForm::OnCursorLeave>(this));
  monitor_->OnHiddenChanged = TMouseMonitorEvent::Bind<&TMainForm::OnCursorHidden>(this);
  monitor_->OnCheck = TMouseMonitorEvent::Bind<&TMainForm::OnMonitorCheck>(this);
  viewer_ = MakeRef<TKavShowViewer>(this);
  viewer_->SetCommands(commands_);
  viewer_->SetLoopAndActions(true);
  viewer_->OnTimeChanged = TViewerTimeEvent::Bind<&TMainForm::OnShowTime>(this);
  viewer_->OnAction = TViewerActionEvent::Bind<&TMainForm::OnEngineAction>(this);
  viewer_->OnImage = TViewerImageEvent::Bind<&TMainForm::OnSlideImage>(this);
}

void TMainForm::Dispose() {
  if (viewer_) {
    viewer_->OnTimeChanged = nullptr;
    viewer_->OnAction = nullptr;
    viewer_->OnImage = nullptr;
  }
  viewer_ = nullptr;
  if (monitor_) monitor_->Detach();
  monitor_ = nullptr;
  input_ = nullptr;
  run_stack_.clear();
  locator_ = nullptr;
  TVxForm::Dispose();
}

bool TMainForm::HasRawParam(const std::u16string& param) const {
  for (const auto& p : raw_params_)
    if (p == param) return true;
  return false;
}

TKavSource* TMainForm::CurrentSource() const { return locator_ ? locator_->GetSource() : nullptr; }

int32_t TMainForm::CurrentSlideIndex() const {
  TKavSource* source = CurrentSource();
  if (!source || !viewer_) return 0;
  return std::max(source->SlideIndexAtTime(viewer_->LastTime()), 0);
}

bool TMainForm::Start() {
  const TShowChoice choice = ChooseShow(commands_);
  from_filename_ = !choice.Packed;
  const std::u16string& path = choice.Path;
  project_path_ = from_filename_ ? path : std::u16string();
  Ref<TMainForm> keep(this);
  // Departure: nothing to play, or a folder without a project, is said in
  // plain words instead of as a show that cannot be loaded.
  if (const std::u16string problem = ShowChoiceProblem(choice); !problem.empty()) {
    ShowSlideshowError(problem);
    Close();
    return false;
  }
  const TStartPosition start = GetStartPosition(commands_);
  if (!OpenShow(path, !from_filename_, start.Value, start.IsTime)) {
    Close();
    return false;
  }
  if (locator_) show_version_ = locator_->Version();
  viewer_->SetPaused(false);
  open_tick_ = Now();
  return true;
}

bool TMainForm::OpenShow(const std::u16string& path_in, bool packed, int32_t start, bool start_is_time) {
  const bool paused_here = !viewer_->Paused();
  if (paused_here) viewer_->SetPaused(true);
  std::u16string path = path_in;
  Ref<TKavShowLocator> locator;
  std::u16string error;
  if (packed) {
    path = LocateShowData(path);
    locator = LoadPackedShow(path, error);
    if (!locator) {
      // Departure: each name tried is said once, with why it did not open
      // (the box named the same path twice and gave no reason).
      std::u16string message = u"Can`t Load Show " + path + u" (" + PackedShowFailure(path, error) + u")";
      const std::u16string second = LocateShowData(ChangeFileExt(path, u".kvshow"));
      if (second != path) {
        locator = LoadPackedShow(second, error);
        message += u" or " + second + u" (" + PackedShowFailure(second, error) + u")";
      }
      if (!locator) {
        ShowSlideshowError(message);
        if (paused_here) viewer_->SetPaused(false);
        return false;
      }
      path = second;
    }
  } else {
    path = NormalizeSlashes(path);
    locator = LoadProjectShow(path, error);
    if (!locator) {
      ShowSlideshowError(u"Can`t Load .kav File " + path + u" (" + ProjectShowFailure(path, error) + u")");
      if (paused_here) viewer_->SetPaused(false);
      return false;
    }
  }
  // Departure: a locator without a source (a show that cannot be read) is
  // refused like one that did not open, instead of failing the assertion
  // "Slideshow not Assigned".
  TKavSource* source = locator->GetSource();
  TIniFile* options = locator->Ini();
  if (!source || !options) {
    ShowSlideshowError(u"Can`t Load Show " + path);
    if (paused_here) viewer_->SetPaused(false);
    return false;
  }
  // What the player cannot use of the show is said to its author once,
  // when the show opens (pictures that do not decode when they load).
  ResetShowProblems();
  TShowCheckOptions check;
  check.CheckFiles = !locator->IsPacked();
  check.SoundLength = SoundFileLength;
  CheckShowProject(options, locator->Accessor(), check);
  if (!ShowInTaskbar()) SetShowInTaskbar(true);
  SetCurrentShowLocator(locator);
  locator_ = locator;
  show_path_ = path;

  input_ = MakeRef<TInputMappingClass>(options);
  wheel_allowed_ = !IniReadBool(options, u"Main", u"opt_lockwheel", false);
  SetCaption(IniReadString(options, u"Main", u"opt_scr_caption", u"KavViewer v5.6"));
  ApplyCursorOptions(options);
  // Departure: the show's "opt_allowrunapp" alone no longer allows starting
  // programs (a hostile show would set it); "--allow-programs=..." on the
  // command line must allow it too, and names the programs that may start.
  SetProgramStartAllowed(programs_allowed_ && IniReadBool(options, u"Main", u"opt_allowrunapp", false));
  {
    // Departure: "show" allows only the programs the show carries, those
    // inside the folder of a show played from its folder. A packed show's
    // folder is only the one its file lies in (a downloads folder, say),
    // whose other files are not the show's; the programs packed inside it
    // are never started.
    TAllowedPrograms allowed = allowed_programs_;
    std::string folder;
    if (allowed.ShowPrograms && locator->IsPacked())
      LogLine(u"--allow-programs: show: a packed show carries no program the player starts; \"show\" allows "
              u"nothing for it");
    if (allowed.ShowPrograms && !locator->IsPacked() && MapToSystemPath(ExtractFileDir(path, false), folder)) {
      if (char* real = realpath(folder.c_str(), nullptr)) {
        allowed.ShowFolder = real;
        free(real);
      }
    }
    SetAllowedPrograms(std::move(allowed));
  }

  if (source->ScreenSaver()) {
    // Departure: without its "/s" switch, or with another instance running,
    // a screen-saver show answers false (not opened) instead of nothing.
    if (CheckOtherInstance()) return false;
    if (!HasRawParam(u"/s") && !HasRawParam(u"/S")) return false;
    ProcessScreenSaver().SetScreenSaverRunning();
  } else {
    ProcessScreenSaver().DisableScreenSaver();
  }

  viewer_->Open(locator->Accessor(), options, 0);
  if (start > 0 || start_is_time) viewer_->SetPosition(start_is_time ? start : SlideStartTime(source, start));
  if (paused_here) viewer_->SetPaused(false);
  exe_fn_ = IniReadString(options, u"Main", u"opt_exefn", u"");
  show_folder_ = ExtractFileDir(path, false);
  open_tick_ = Now();
  return true;
}

void TMainForm::ApplyCursorOptions(TIniFile* options) {
  const int32_t mode = IniReadInteger(options, u"Main", u"opt_hidecursor", 0);
  show_cursor_on_move_ = mode == 1;
  if (mode == 1) {
    monitor_->SetInterval(0);
    monitor_->SetHidden(true);
  } else if (mode == 2) {
    const int64_t seconds = IniReadInteger(options, u"Main", u"opt_hc2_hideinterval", 0);
    // Capped so a damaged value cannot overflow the milliseconds.
    monitor_->SetInterval(int32_t(std::clamp<int64_t>(seconds, 0, 2000000) * 1000));
    monitor_->SetHidden(true);
  } else {
    monitor_->SetInterval(0);
    monitor_->SetHidden(false);
  }
}

// ---- Actions ----

void TMainForm::RunApp(const std::u16string& text) {
  // The caption goes inactive while another program comes up.
  if (Controller()) win::SendMessage(Controller()->GetHandle(), win::WM_NCACTIVATE, 0, 0);
  // Departure: a packed show's documents come from its package alone; the
  // folder its file lies in (a downloads folder, say) is not the show's.
  TFileAccessor* package = locator_ && locator_->IsPacked() ? locator_->Accessor() : nullptr;
  // A document written out of the package is given up by Escape (which
  // then ends the player as it would have).
  RunAppProc(
      text, show_folder_, [](const std::u16string& m) { ShowSlideshowError(m); }, package,
      [] { return win::KeyDownWaiting(win::VK_ESCAPE); });
}

bool TMainForm::RunAction(const TKavAction& action) {
  // After the close went through, queued input runs nothing (the engine is stopped).
  if (closed_ || dialog_count_ > 0 || !viewer_) return false;
  TKavSource* source = CurrentSource();
  const int32_t t = viewer_->LastTime();
  const bool p = viewer_->Paused();
  TKavEngine* engine = viewer_->Engine();
  Ref<TMainForm> keep(this);
  switch (action.Kind) {
    case kActExit:
      close_allowed_ = true;
      Close();
      return true;
    case kActPrevSlide:
      viewer_->SetPositionAndPause(PrevSlideTime(source, t), p);
      return true;
    case kActNextSlide:
      if (engine && engine->Barrier()) engine->ContinuePastStopPoint();
      else viewer_->SetPositionAndPause(NextSlideTime(source, t, p), p);
      return true;
    case kActPause:
      if (engine && engine->Barrier()) engine->ContinuePastStopPoint();
      else viewer_->SetPaused(!p);
      return true;
    case kActImage:
      viewer_->RequestImage();
      return true;
    case kActGotoSlide: {
      const int32_t index = action.Int != -1 ? action.Int - 1 : SlideIndexById(source, action.Text);
      viewer_->SetPosition(SlideStartTime(source, index));
      return true;
    }
    case kActWebAddress:
      RunApp(StartsWith(action.Text, u"http://") || StartsWith(action.Text, u"https://") ? action.Text
                                                                                        : u"http://" + action.Text);
      return true;
    case kActMailAddress:
      RunApp(StartsWith(action.Text, u"mailto:") ? action.Text : u"mailto:" + action.Text);
      return true;
    case kActRunApp:
      RunApp(action.Text);
      return true;
    case kActRunAppAndClose:
      Close();
      RunApp(action.Text);
      return true;
    case kActOpenShow:
    case kActOpenShowReturn:
      return OpenOtherShow(action);
    case kActRestart:
      viewer_->SetPaused(true);
      viewer_->SetPosition(0);
      return true;
    case kActClose:
      close_allowed_ = true;
      g_close_request = 1;
      Close();
      return true;
    case kActGotoTime:
      viewer_->SetPositionAndPause(action.Int, p);
      return true;
    default:
      return false;
  }
}

bool TMainForm::OpenOtherShow(const TKavAction& action) {
  auto tokens = MakeRef<TStringList>();
  auto store = MakeRef<TCommandsStorage>();
  ParseCommandLine(action.Text, tokens.get(), store.get());
  if (tokens->Count() == 0) return false;
  std::u16string path = LocateShowData(NormalizeSlashes(tokens->GetString(0)));
  const TStartPosition start = GetStartPosition(store.get());
  if (!FileExists(path) && !exe_fn_.empty()) {
    // A name relative to the current show's folder. Departure: joined with
    // the safe join, so a name from the show cannot leave that folder.
    std::u16string candidate;
    if (SafePathCombine(show_folder_, path, candidate) && FileExists(candidate)) path = candidate;
  }
  // The project path is kept as the command line gave it and the path here
  // has its slashes turned: compared with the slashes alike.
  const bool is_project =
      !project_path_.empty() && IsSameShowPath(NormalizeSlashes(path), NormalizeSlashes(project_path_));
  if (!is_project) {
    std::u16string version;
    if (!ReadPackedShowVersion(path, version)) {
      ShowSlideshowError(FileExists(path) ? u"Not KavShow Executable File or File Corrupted:\r" + path
                                          : u"KavShow File not Found:\r" + path);
      return false;
    }
    if (!show_version_.empty() && version != show_version_) {
      ShowSlideshowError(u"KavShow ExeFile Version Mismatch:\r" + path);
      return false;
    }
  }
  LogLine(u"Open show: " + path);
  std::u16string back;
  if (action.Kind == kActOpenShowReturn)
    back = u"\"" + show_path_ + u"\" -slide " + IntToStr(CurrentSlideIndex() + 1);
  const bool was_paused = viewer_->Paused();
  if (OpenShow(path, !is_project, start.Value, start.IsTime)) {
    if (action.Kind == kActOpenShowReturn) run_stack_.push_back(back);
    viewer_->SetPaused(false);
    return true;
  }
  if (action.Kind == kActOpenShowReturn) {
    viewer_->SetPaused(was_paused);
  } else {
    close_allowed_ = true;
    Close();
  }
  return false;
}

// ---- Closing ----

void TMainForm::CloseQuery(int32_t& action) {
  if (closing_) return;
  // Departure: once a close went through (the engine is stopped), a second
  // close request or input queued behind it does nothing; the window stays
  // hidden until the loop ends, instead of running the closing rules again.
  if (closed_) return;
  if (dialog_count_ > 0) {
    action = kCloseNone;
    return;
  }
  closing_ = true;
  Ref<TMainForm> keep(this);
  TKavSource* source = CurrentSource();
  if (!source) {
    closing_ = false;
    closed_ = true;
    // Hidden, not freed: the main routine holds the form and frees it once
    // after the message loop.
    action = kCloseHide;
    if (Application()) Application()->Terminate();
    return;
  }
  TIniFile* options = source->Ini();
  int32_t mode = IniReadInteger(options, u"Main", u"opt_runapponexit", 0);
  if (IniReadBool(options, u"Main", u"opt_runapponexitiflastslide", true) && !last_slide_reached_) mode = 0;
  last_slide_reached_ = false;
  const bool allowed = close_allowed_;
  if (!allowed) mode = 0;
  close_allowed_ = false;
  bool handled = false;
  const std::u16string fn = IniReadString(options, u"Main", u"opt_runapponexitfn", u"");
  if (mode > 0 && !fn.empty()) {
    const bool ok = RunAction(TKavAction{uint8_t(mode == 2 ? kActOpenShow : kActRunApp), 0, fn});
    handled = ok && mode == 2;
  }
  if (!handled && allowed && !run_stack_.empty()) {
    const std::u16string back = run_stack_.back();
    run_stack_.pop_back();
    handled = RunAction(TKavAction{kActOpenShow, 0, back});
  }
  if (!handled) {
    viewer_->OnTimeChanged = nullptr;
    viewer_->OnAction = nullptr;
    viewer_->OnImage = nullptr;
    closed_ = true;
    action = kCloseHide;  // freed once, by the main routine after the loop
    if (TKavEngine* engine = viewer_->Engine()) engine->StopEngine();
    SleepMs(300);
    if (Application()) Application()->Terminate();
  } else {
    action = kCloseNone;  // another show now plays in the same window
  }
  closing_ = false;
}

// ---- Viewer callbacks ----

void TMainForm::OnShowTime(bool finished) {
  TKavSource* source = CurrentSource();
  if (finished && source && source->RepeatMode() == kRepeatClose) {
    last_slide_reached_ = true;
    close_allowed_ = true;
    Ref<TMainForm> keep(this);
    Close();
  }
}

void TMainForm::OnEngineAction(const TKavAction& action) {
  if (in_action_) return;
  in_action_ = true;
  RunAction(action);
  in_action_ = false;
}

void TMainForm::OnSlideImage(TImage* image) {
  TKavSource* source = CurrentSource();
  if (closed_ || !viewer_ || !source || !source->Ini()) return;
  Ref<TMainForm> keep(this);
  const bool was_paused = viewer_->Paused();
  viewer_->SetPaused(true);
  const int32_t count = source->SlideCount();
  int32_t slide = std::max(0, source->SlideIndexAtTime(viewer_->LastTime()));
  slide = count > 0 ? slide % count : -1;
  // While the dialog is open a close request is refused (CloseQuery).
  DialogOpened();
  try {
    ShowPrintDialog(Controller() ? Controller()->GetHandle() : 0, source->Ini(), source->Accessor(), image, slide);
  } catch (const std::exception& e) {
    LogLine(u"Exception at the print dialog (" + SystemUTF8ToWide(e.what()) + u")");
  }
  DialogClosed();
  if (!closed_ && viewer_) viewer_->SetPaused(was_paused);
}

// ---- Input ----

void TMainForm::KeyEvent(uint8_t shift, uint16_t& key, uint8_t kind) {
  Ref<TMainForm> keep(this);
  if (dialog_count_ == 0 && input_) {
    TKavEngine* engine = viewer_ ? viewer_->Engine() : nullptr;
    if (startup_ && kind == 1 && key == 13) {
      RunAction(TKavAction{kActClose, 0, {}});
    } else if (engine && engine->DialogShown() && key != kKeyF1) {
      // A dialog over the show takes Esc to close it; every other key but
      // F1 (help, which toggles the help dialog) waits until it is gone.
      if (kind == 1 && key == kKeyEsc) viewer_->CloseDialog();
    } else if (const TKeyMap* map = input_->KeyAction(shift, key, kind)) {
      const TKavAction action{uint8_t(map->ActionKind), map->ActionInt, {}};
      if (action.Kind == kActHelp) {
        if (viewer_->Engine()) viewer_->ShowHelp();
      } else {
        RunAction(action);
      }
    } else if (!input_->PermitControl() && kind == 1) {
      static constexpr uint16_t kContinueKeys[] = {19, 32, 34, 39, 167, 176, 179};
      for (uint16_t k : kContinueKeys)
        if (key == k && engine && engine->Barrier()) engine->ContinuePastStopPoint();
    }
  }
  TVxForm::KeyEvent(shift, key, kind);
}

void TMainForm::MouseEvent(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind) {
  Ref<TMainForm> keep(this);
  // A cursor hidden at open for good comes back, for good, with the first
  // movement of 5 pixels (the monitor shows it only when it hides by time).
  if (show_cursor_on_move_ && kind == 0 && monitor_ && monitor_->Hidden() && monitor_->CursorMoved()) {
    show_cursor_on_move_ = false;
    monitor_->SetHidden(false);
  }
  if (dialog_count_ == 0 && input_ && Now() - open_tick_ >= kMouseQuietAfterOpenMs) {
    UpdateCursor();
    const TKavAction action = input_->MouseAction(kind == 0, x, kind, button, y);
    if (monitor_ && monitor_->Hidden() && !action.IsNone() && action.Kind != kActHelp) {
      RunAction(action);
    } else if (!action.IsNone()) {
      viewer_->MouseInputWithAction(kind, x, y, shift, uint8_t(button), action);
    } else {
      viewer_->MouseInput(kind, x, y, shift, uint8_t(button));
    }
  }
  TVxForm::MouseEvent(shift, x, y, button, kind);
}

void TMainForm::MouseWheelEvent(uint8_t shift, int32_t x, int32_t y, int32_t steps) {
  if (dialog_count_ == 0 && wheel_allowed_ && viewer_) {
    if ((shift & 14) != 8) {
      const int64_t target = int64_t(viewer_->LastTime()) - int64_t(steps) * 700;
      viewer_->SetPosition(int32_t(std::clamp<int64_t>(target, 0, 2147483647)));
    } else {
      TKavSource* source = CurrentSource();
      const int32_t t = viewer_->LastTime();
      const bool p = viewer_->Paused();
      viewer_->SetPositionAndPause(steps < 0 ? NextSlideTime(source, t, p) : PrevSlideTime(source, t), p);
    }
  }
  TVxForm::MouseWheelEvent(shift, x, y, steps);
}

void TMainForm::UpdateCursor() {
  if (!monitor_ || monitor_->Hidden() || !viewer_) return;
  TKavEngine* engine = viewer_->Engine();
  // The engine's link flag; buttons keep the arrow, which the engine's
  // hit test tells apart once slide objects report their class.
  SetCursor(engine && engine->OverLink() ? kCursorHand : kCursorDefault);
}

void TMainForm::OnMonitorCheck(TMouseMonitor*) { UpdateCursor(); }

void TMainForm::OnCursorLeave(TMouseMonitor* monitor) {
  if (monitor && !monitor->Inside() && viewer_) viewer_->MouseInput(0, 2147483647, 2147483647, 0, 0);
}

void TMainForm::OnCursorHidden(TMouseMonitor* monitor) {
  TKavEngine* engine = viewer_ ? viewer_->Engine() : nullptr;
  if (monitor && monitor->Hidden() && engine && engine->OverPanel()) {
    monitor->SetHidden(false);  // the cursor never hides over the navigation panel
    return;
  }
  SetCursor(monitor && monitor->Hidden() ? kCursorHidden : kCursorDefault);
}

}  // namespace kav
