// The desktop's file-save chooser: what the player's save dialog asks the
// desktop for. One request gives one answer: a chosen path, a cancel, or
// "not available here" (the next chooser of a chain is then tried).
//
// Backends: the XDG desktop portal over the D-Bus session bus
// (PortalChooser.h), zenity or kdialog started as programs
// (ProgramChooser.h), and the last resort, when none of them is there, that
// picks a free name in the user's pictures folder without asking
// (FallbackChooser.h). The fake
// (FakeChooser.h) answers tests. Texts are UTF-8; paths are Linux paths.
//
// Every call is made on the GUI thread and blocks until the person answered;
// nothing in it waits for a desktop service or a program without calling the
// request's pump about every 50 ms, which keeps the caller's windows drawn
// and may call the wait off at once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kav::dialogs {

// One entry of the file-type list: a description and its glob patterns
// ("*.bmp"); the patterns of a Windows filter entry are separated by ";".
struct TFileFilter {
  std::string description;
  std::vector<std::string> patterns;
};

struct TSaveFileRequest {
  // "x11:<hex window id>" of the window the chooser belongs to, or empty.
  std::string parent_window;
  std::string title;
  // A plain file name, never a path (see SafeProposedName).
  std::string proposed_name;
  // The absolute folder the chooser starts in; empty: the chooser's own
  // choice (for the fallback, the pictures folder).
  std::string folder;
  std::vector<TFileFilter> filters;
  // Index into filters of the type shown first; -1 for none.
  int current_filter = -1;
  // Ask before a chosen existing file is replaced. Choosers that always ask
  // (the portal's dialogs, kdialog) ask anyway; the fallback never replaces.
  bool overwrite_prompt = true;
  // Extension without its dot, added to a chosen name that has none; empty
  // for none.
  std::string default_extension;
  // Called about every 50 ms while the chooser waits; false calls the wait
  // off (the answer is then kCancelled and the chooser is closed). Unset:
  // wait without a pump.
  std::function<bool()> pump;
  // Called with the process group of a chooser program once it runs (the
  // program's window is that group's): the caller keeps that window above
  // its own. Unset: nothing.
  std::function<void(int group)> started;
};

// A file a chooser created for its answer (exclusively, so nobody else's),
// held open for writing: the picture goes through this descriptor, never
// through the name again, which may have been swapped meanwhile. Closed
// when the last answer holding it goes.
class TCreatedFile {
 public:
  explicit TCreatedFile(int fd) : fd_(fd) {}
  ~TCreatedFile();
  TCreatedFile(const TCreatedFile&) = delete;
  TCreatedFile& operator=(const TCreatedFile&) = delete;
  // -1 once released.
  int Descriptor() const { return fd_; }
  // Hands the descriptor over to the caller, who closes it.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

enum class TSaveFileOutcome {
  kChosen,       // path holds the chosen file
  kCancelled,    // the person declined; nothing was chosen
  kUnavailable,  // this chooser does not exist here; try the next one
  kFailed,       // the chooser exists but failed or did not answer in time; message says why
};

struct TSaveFileAnswer {
  TSaveFileOutcome outcome = TSaveFileOutcome::kUnavailable;
  std::string path;
  // For kFailed: why. For kChosen by the fallback: where the file goes,
  // for the person to be told once it is written.
  std::string message;
  // For kChosen by the fallback: the file created under `path`, open.
  std::shared_ptr<TCreatedFile> created = nullptr;
};

class TSaveFileChooser {
 public:
  virtual ~TSaveFileChooser() = default;
  // Short name for logs ("portal", "zenity", ...).
  virtual const char* Name() const = 0;
  // True when the person chooses the name; false for a chooser that picks
  // one by itself (the pictures folder).
  virtual bool Asks() const { return true; }
  // Blocks until answered (see TSaveFileRequest::pump).
  virtual TSaveFileAnswer Choose(const TSaveFileRequest& request) = 0;
};

// Asks each chooser in turn until one answers kChosen or kCancelled.
// kUnavailable goes on to the next one. kFailed (a chooser that broke or
// did not answer in time) goes on only to choosers that ask the person:
// once a chooser failed, a name the person never chose is never taken.
// When no chooser answered, the failures come back as one kFailed, their
// messages joined; with none, kUnavailable.
class TChooserChain final : public TSaveFileChooser {
 public:
  explicit TChooserChain(std::vector<std::unique_ptr<TSaveFileChooser>> choosers);
  const char* Name() const override { return "chain"; }
  TSaveFileAnswer Choose(const TSaveFileRequest& request) override;
  // The name of the chooser that gave the last answer ("" before any).
  const std::string& LastChooser() const { return last_; }

 private:
  std::vector<std::unique_ptr<TSaveFileChooser>> choosers_;
  std::string last_;
};

// The desktop's chain: portal, zenity, kdialog, then the pictures folder.
std::unique_ptr<TSaveFileChooser> NewDesktopChooser();

// The chooser the save dialog uses: the one installed, else (made on first
// use) the desktop's chain. GUI thread.
TSaveFileChooser& SaveFileChooser();
// Installs a chooser (tests: a fake) and hands back the previous one (nil
// when the default was in use). Nil goes back to the default.
std::unique_ptr<TSaveFileChooser> SetSaveFileChooser(std::unique_ptr<TSaveFileChooser> chooser);

// A name from elsewhere (a show, a chooser) made fit to propose or to join to
// a folder: only its last part after "/" or "\", without leading dots or
// spaces, control characters and trailing dots or spaces, at most 255 bytes
// (cut at a character boundary); `fallback` when nothing is left.
std::string SafeProposedName(const std::string& name, const std::string& fallback);

// The extension of a file name without its dot ("" for none; a leading dot
// alone does not start one).
std::string FileNameExtension(const std::string& name);

// Appends "." + extension when `path`'s last part has no extension and that
// longer name does not exist yet; else `path` unchanged.
std::string WithDefaultExtension(const std::string& path, const std::string& extension);

}  // namespace kav::dialogs
