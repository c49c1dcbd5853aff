// The player's main window: chooses and opens the show, applies the show's
// window-level options, routes keys, mouse and wheel to actions, carries the
// actions out, keeps a stack of shows opened from other shows, and decides
// what happens when the window is closed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "KavLib2/KavEngine/KavInputMapping.h"
#include "KavLib2/KavEngine/KavMouseMonitor.h"
#include "KavLib2/KavEngine/KavShowViewer.h"
#include "KavLib2/KavEngine/KavViewerActions.h"
#include "VoRav/Application2/vxForms.h"

namespace kav {

class TCommandsStorage;
class TKavShowLocator;
class TStringList;

// Where a show starts: option "slide n" (index n - 1) or "time t" (t - 1 ms);
// 0 for a value that is not a positive integer.
struct TStartPosition {
  int32_t Value = 0;
  bool IsTime = false;
};
TStartPosition GetStartPosition(const TCommandsStorage* commands);
// The show named by the first plain argument (empty when there is none):
// a folder's "Project.kav", or a project text named by itself, with
// `project` set, else the path as a packed show.
// Relative paths are made absolute against the current folder.
std::u16string PlainShowArgument(const TCommandsStorage* commands, bool& project);
// The parameter with which the person running the player allows shows to
// start programs and open documents and addresses; without it nothing starts.
// It names the programs: "--allow-programs=NAME[,NAME...]".
inline constexpr std::u16string_view kAllowProgramsParam = u"--allow-programs";
// The names every "--allow-programs=..." argument of the raw command line
// gives, in order. The switch without names sets `problem`: it once allowed
// every program not on the deny list, which is no safe rule.
std::vector<std::string> AllowedProgramNames(const std::vector<std::u16string>& raw_params, std::string* problem);
// The show the command line chooses: option "filename" (a project file or
// folder), else option "exename", else the first plain argument, else the
// program itself (a show appended to it, or one beside it with the extension
// ".kvshow"). Relative option values are below the program's folder.
struct TShowChoice {
  std::u16string Path;          // the file to open
  bool Packed = true;           // a packed show, else a project text
  bool Named = false;           // the command line named it
  std::u16string Folder;        // the folder the user named, when it was one
};
TShowChoice ChooseShow(const TCommandsStorage* commands);
// A plain sentence when the choice cannot be a show at all: nothing named and
// no show in or beside the program, or a named folder without a project
// file. Empty otherwise (other failures are found when the show is opened).
std::u16string ShowChoiceProblem(const TShowChoice& choice);
// A ".app" bundle's show data ("Contents/Resources/slideshow.dat" when it
// exists, else the path with the extension ".kvshow"); other paths as given.
std::u16string LocateShowData(const std::u16string& path);
// Every "/" becomes "\".
std::u16string NormalizeSlashes(std::u16string path);
// Why the packed show at `path` did not open, in a few words: "no such
// file", "not a show" (no package in it: an empty or plain file, a folder),
// "incomplete or damaged: ..." (no package ending, but binary data that no
// other kind of file starts with: a show cut short), "damaged" (a package
// that does not hold together, or holds no readable project), or "cannot be
// read". `error` is what the open answered.
std::u16string PackedShowFailure(const std::u16string& path, const std::u16string& error);
// The same for a project text or folder: "no such folder", "no such file",
// "not a show: ..." or what the open answered.
std::u16string ProjectShowFailure(const std::u16string& path, const std::u16string& error);
// A message box with "Slideshow Error" as caption, also said on the
// standard error output; paths in the text are shown the Linux way (every
// "\\" becomes "/").
void ShowSlideshowError(const std::u16string& text);

class TMainForm : public TVxForm {
 public:
  // `commands` and `raw_params`: the program's command line (the process's
  // own when nil).
  explicit TMainForm(TFormControllerCreator creator = nullptr, TCommandsStorage* commands = nullptr,
                     const std::vector<std::u16string>* raw_params = nullptr);

  // Chooses the show from the command line and opens it; on failure the
  // window closes.
  bool Start();
  bool OpenShow(const std::u16string& path, bool packed, int32_t start, bool start_is_time);
  // Carries an action out; false for the kinds the form does not take, or
  // while a dialog is open.
  bool RunAction(const TKavAction& action);

  TKavShowViewer* Viewer() const { return viewer_.get(); }
  TMouseMonitor* MouseMonitor() const { return monitor_.get(); }
  TInputMappingClass* InputMapping() const { return input_.get(); }
  TKavSource* CurrentSource() const;
  int32_t RunStackSize() const { return int32_t(run_stack_.size()); }
  bool CloseAllowed() const { return close_allowed_; }
  bool Closed() const { return closed_; }
  const std::u16string& ShowFolder() const { return show_folder_; }
  // Dialogs over the form (the print dialog, message boxes) refuse input.
  void DialogOpened() { ++dialog_count_; }
  void DialogClosed() { if (dialog_count_ > 0) --dialog_count_; }
  // The index of the slide on screen.
  int32_t CurrentSlideIndex() const;

  // Viewer callbacks.
  void OnShowTime(bool finished);
  void OnEngineAction(const TKavAction& action);
  void OnSlideImage(TImage* image);

 protected:
  void Dispose() override;
  void CloseQuery(int32_t& action) override;
  void KeyEvent(uint8_t shift, uint16_t& key, uint8_t kind) override;
  void MouseEvent(uint8_t shift, int32_t x, int32_t y, int32_t button, uint8_t kind) override;
  void MouseWheelEvent(uint8_t shift, int32_t x, int32_t y, int32_t steps) override;

 private:
  bool HasRawParam(const std::u16string& param) const;
  bool OpenOtherShow(const TKavAction& action);
  void RunApp(const std::u16string& text);
  void UpdateCursor();
  void OnCursorLeave(TMouseMonitor* monitor);
  void OnCursorHidden(TMouseMonitor* monitor);
  void OnMonitorCheck(TMouseMonitor* monitor);
  void ApplyCursorOptions(TIniFile* options);

  TCommandsStorage* commands_;
  std::vector<std::u16string> raw_params_;
  Ref<TKavShowViewer> viewer_;
  Ref<TMouseMonitor> monitor_;
  Ref<TInputMappingClass> input_;
  Ref<TKavShowLocator> locator_;
  bool wheel_allowed_ = true;
  std::u16string project_path_;
  std::u16string show_path_;
  std::u16string show_folder_;
  std::u16string exe_fn_;
  std::u16string show_version_;
  // The return stack: one command line per entry (a TRunStackItem each).
  std::vector<std::u16string> run_stack_;
  bool from_filename_ = false;
  bool last_slide_reached_ = false;
  bool close_allowed_ = false;
  bool in_action_ = false;
  bool startup_ = false;
  bool programs_allowed_ = false;  // "--allow-programs=..." named programs
  TAllowedPrograms allowed_programs_;
  bool closing_ = false;
  bool show_cursor_on_move_ = false;  // opt_hidecursor 1: the first movement shows the cursor
  // The close went through: the form is hidden and waits for the main
  // routine to free it after the message loop.
  bool closed_ = false;
  int32_t dialog_count_ = 0;
  uint32_t open_tick_ = 0;
};

// The program-wide close request (1 after an action asked to close).
int32_t CloseRequestFlag();

}  // namespace kav
