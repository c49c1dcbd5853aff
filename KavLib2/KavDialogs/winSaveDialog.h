// The file-save dialog through which a slide is saved: TSaveDialog takes the
// proposed name, folder, default extension and filter, asks the desktop's
// chooser (platform/dialogs: the XDG portal, zenity, kdialog, else a free
// name in the pictures folder) and gives back the chosen name, into which
// WriteChosenFile then writes.
//
// Execute blocks the GUI thread like a modal dialog: the owner window is
// disabled meanwhile and the application's queued messages keep being
// handled, so the windows behind stay drawn. Esc at the program's windows,
// or the window manager's close of one, calls the chooser off (a chooser
// that never answers can be left).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/vxStream.h"
#include "VoRav/vxStrings.h"
#include "platform/dialogs/SaveChooser.h"
#include "platform/window/WinApi.h"

namespace kav {

// Option bits (TSaveDialog::Options).
enum : uint32_t {
  kOfReadOnly = 1u << 0,
  kOfOverwritePrompt = 1u << 1,
  kOfHideReadOnly = 1u << 2,
  kOfNoChangeDir = 1u << 3,
  kOfShowHelp = 1u << 4,
  kOfNoValidate = 1u << 5,
  kOfAllowMultiSelect = 1u << 6,
  kOfExtensionDifferent = 1u << 7,
  kOfPathMustExist = 1u << 8,
  kOfFileMustExist = 1u << 9,
  kOfCreatePrompt = 1u << 10,
  kOfShareAware = 1u << 11,
  kOfNoReadOnlyReturn = 1u << 12,
  kOfNoTestFileCreate = 1u << 13,
  kOfNoNetworkButton = 1u << 14,
  kOfNoLongNames = 1u << 15,
  kOfNoDereferenceLinks = 1u << 16,
  kOfEnableIncludeNotify = 1u << 17,
  kOfEnableSizing = 1u << 18,
  kOfDontAddToRecent = 1u << 19,
  kOfForceShowHidden = 1u << 20,
};
// Hide read-only and enable sizing.
constexpr uint32_t kSaveDialogDefaultOptions = 0x40004;

class TCommonDialog : public TRefObject {
 public:
  explicit TCommonDialog(win::HWND owner = 0) : owner_(owner) {}
  // The owner given, else the application window (0 without an application).
  win::HWND Owner() const;
  void SetOwner(win::HWND owner) { owner_ = owner; }

 private:
  win::HWND owner_;
};

class TSaveDialog : public TCommonDialog {
 public:
  explicit TSaveDialog(win::HWND owner = 0);

  uint32_t Options = kSaveDialogDefaultOptions;
  // The folder the dialog starts in (a Linux path); empty: the chooser's own.
  std::u16string InitialDir;
  // In: the proposed name (only its last part counts, see Execute). Out:
  // the chosen file's full path.
  std::u16string FileName;
  // Without a dot; empty: the proposed name's extension.
  std::u16string DefaultExt;
  // 1-based index into the filter's entries of the type shown first.
  int32_t FilterIndex = 1;
  // Pairs of description and pattern separated by "|" ("Bitmap|*.bmp");
  // several patterns of one entry are separated by ";".
  std::u16string Filter;
  // Title of the chooser's window: desktop choosers take one where the
  // system's dialog had its own.
  std::u16string Title = u"Save As";

  // The chosen names (one: saving chooses one file).
  TStringList& Files() { return *files_; }

  // True when the person confirmed a name, which is then in FileName and
  // Files; false on cancel or failure (FileName unchanged). A failure is
  // told in a message box and the log. Nothing is written yet: the caller
  // writes the file with WriteChosenFile.
  bool Execute();

  // Writes the file Execute gave: `write` fills the stream it is handed.
  // The bytes go into the file the chooser created when it made one (the
  // pictures folder taken for want of a chooser), else into the chosen name
  // (created without following a link when nothing is there; an existing
  // file, whose replacing the person confirmed, is emptied first). Only once
  // the file is written and closed is the person told where the pictures
  // folder took it. A failed write removes the partial file (while the name
  // still leads to it) and is told, with the system's reason, in a message
  // box and the log; false then.
  bool WriteChosenFile(const std::function<void(TStream*)>& write);

  // What Execute hands the chooser (without the pump).
  dialogs::TSaveFileRequest Request() const;

 protected:
  void Dispose() override;

 private:
  // Removes a file the chooser created that was never written.
  void DropCreated();

  Ref<TStringList> files_;
  // What the last confirmed Execute gave: the path as the system spells it,
  // the chooser's created file (or nil) and the note to show once written.
  std::string chosen_path_;
  std::shared_ptr<dialogs::TCreatedFile> created_;
  std::string notice_;
};

// Writes `path` through `write`: into `created`, a descriptor open on the
// file just created at `path` (taken over and closed), or, with -1, into
// `path` opened as WriteChosenFile says. Answers "" once the file is
// written and closed, else why (the system's text); the partial file is
// then removed when `path` still names the file written.
std::string WriteSaveFile(const std::string& path, int created, const std::function<void(TStream*)>& write);

// The filter text as file types: "desc|pattern|desc|pattern", patterns of
// one entry split at ";". A last description without a pattern stands for
// both. Entries with no pattern left are dropped.
std::vector<dialogs::TFileFilter> ParseDialogFilter(std::u16string_view filter);

}  // namespace kav
