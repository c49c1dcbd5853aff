#include "KavLib2/KavDialogs/winSaveDialog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winWndAPI.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpFileStream.h"
#include "platform/window/WinBackend.h"
#include "platform/window/WinTerminate.h"

namespace kav {
namespace {

constexpr uint32_t kMbIconInformation = 0x40;

// The desktop's id of the nearest window from `hwnd` up (parents, then
// owners) that the desktop knows: the print dialog the chooser is modal
// for, which the desktop then keeps above the player's window as well.
// Windows inside another and the application's hidden window have none.
std::string DesktopParent(win::HWND hwnd) {
  if (!hwnd || !win::IsWindow(hwnd)) return {};
  int steps = 0;
  for (win::HWND at = hwnd; at && steps < 64; at = win::GetParent(at), ++steps)
    if (std::string id = win::Backend().DesktopWindowId(at); !id.empty()) return id;
  return {};
}

std::vector<std::u16string> SplitAt(std::u16string_view text, char16_t separator) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start));
    if (end == std::u16string_view::npos) return parts;
    start = end + 1;
  }
}

std::u16string Trimmed(std::u16string_view s) {
  size_t a = s.find_first_not_of(u' ');
  if (a == std::u16string_view::npos) return {};
  size_t b = s.find_last_not_of(u' ');
  return std::u16string(s.substr(a, b - a + 1));
}

// Removes `path` while it still names the file `st` describes: a name
// swapped meanwhile (for a link, another file) is left alone.
void RemoveIfSame(const std::string& path, const struct stat& st) {
  struct stat now;
  if (lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) unlink(path.c_str());
}

// Opens the chosen name for writing: with nothing there the file is created
// exclusively and never through a link; an existing regular file (replacing
// it was confirmed) is emptied. -1 and the reason when it cannot be.
int OpenChosen(const std::string& path, std::string& why) {
  int fd;
  do fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == EEXIST) {
    // Non-blocking: a FIFO under the name must not hold the player.
    do fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      close(fd);
      why = "it is not a file";
      return -1;
    }
    if (fd >= 0 && (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 || ftruncate(fd, 0) != 0)) {
      why = std::strerror(errno);
      close(fd);
      return -1;
    }
  }
  if (fd < 0) why = std::strerror(errno);
  return fd;
}

// While a chooser is open the person can give up from the player's own
// windows, which take no input meanwhile: Esc pressed at any of them (seen
// by a keyboard hook, ahead of the disabled windows), or the window
// manager's close on any of them (taken out of the queue before it reaches
// the window). Either calls the chooser off, and the chooser closes its
// request; the player's window itself stays. A portal that never answers
// can be left this way.
class TChooserGiveUp {
 public:
  TChooserGiveUp() { hook_ = win::SetWindowsHookEx(win::WH_KEYBOARD_LL, win::THookProc::Bind<&TChooserGiveUp::Key>(this)); }
  ~TChooserGiveUp() {
    if (hook_) win::UnhookWindowsHookEx(hook_);
  }
  TChooserGiveUp(const TChooserGiveUp&) = delete;
  TChooserGiveUp& operator=(const TChooserGiveUp&) = delete;

  bool GivenUp() const { return given_up_; }

  // Handles what is queued; false when the wait is to end.
  bool Pump() {
    if (win::TerminationRequested()) return false;  // the player is ending on a signal
    TWinApplication* app = WinApplication();
    if (!app) return !given_up_;
    if (app->Terminated()) return false;
    win::TMsg msg;
    while (!given_up_ && WndAPI()->PeekMessage(msg, 0, 0, 0, win::PM_REMOVE)) {
      if (msg.message == win::WM_QUIT) {
        // The application's own handling of the quit, which marks it ending.
        win::PostQuitMessage(int32_t(msg.wParam));
        app->ProcessMessages();
        return false;
      }
      if (msg.message == win::WM_SYSCOMMAND && (msg.wParam & 0xFFF0) == win::SC_CLOSE) {
        given_up_ = true;
        break;
      }
      try {
        WndAPI()->TranslateMessage(msg);
        WndAPI()->DispatchMessage(msg);
      } catch (const std::exception& e) {
        HandleApplicationException(e);
      }
    }
    return !given_up_ && !app->Terminated();
  }

 private:
  win::LRESULT Key(int32_t code, win::WPARAM wParam, win::LPARAM lParam) {
    const auto* key = reinterpret_cast<const win::TKbdLLHookStruct*>(lParam);
    if (code == win::HC_ACTION && key && key->vk_code == win::VK_ESCAPE &&
        (wParam == win::WM_KEYDOWN || wParam == win::WM_SYSKEYDOWN)) {
      given_up_ = true;
      return 1;  // the key is spent on giving up
    }
    return win::CallNextHookEx(hook_, code, wParam, lParam);
  }

  win::HHOOK hook_ = 0;
  bool given_up_ = false;
};

}  // namespace

std::string WriteSaveFile(const std::string& path, int created, const std::function<void(TStream*)>& write) {
  std::string why;
  const int fd = created >= 0 ? created : OpenChosen(path, why);
  if (fd < 0) return why;
  struct stat st;
  const bool known = fstat(fd, &st) == 0;
  Ref<TFileStream> out = MakeRef<TFileStream>();
  out->Attach(fd, SystemUTF8ToWide(path), kGenericWrite, 0);
  try {
    write(out.get());
    out->Close();  // a failed close may have lost written data
    return {};
  } catch (const std::exception& e) {
    why = e.what();
  } catch (...) {
  }
  out = nullptr;  // closed, its errors no longer matter
  if (known) RemoveIfSame(path, st);
  return why.empty() ? "the file could not be written" : why;
}

win::HWND TCommonDialog::Owner() const {
  if (owner_) return owner_;
  TWinApplication* app = WinApplication();
  return app ? app->GetHandle() : 0;
}

std::vector<dialogs::TFileFilter> ParseDialogFilter(std::u16string_view filter) {
  std::vector<dialogs::TFileFilter> list;
  if (filter.empty()) return list;
  std::vector<std::u16string> parts = SplitAt(filter, u'|');
  for (size_t i = 0; i < parts.size(); i += 2) {
    // A description without its pattern ("*.jpg" alone) serves as both.
    const std::u16string& patterns = i + 1 < parts.size() ? parts[i + 1] : parts[i];
    dialogs::TFileFilter entry;
    entry.description = WideToSystemUTF8(parts[i]);
    for (const std::u16string& p : SplitAt(patterns, u';')) {
      std::u16string pattern = Trimmed(p);
      if (!pattern.empty()) entry.patterns.push_back(WideToSystemUTF8(pattern));
    }
    if (entry.patterns.empty()) continue;
    if (entry.description.empty()) entry.description = entry.patterns.front();
    list.push_back(std::move(entry));
  }
  return list;
}

TSaveDialog::TSaveDialog(win::HWND owner) : TCommonDialog(owner), files_(MakeRef<TStringList>()) {}

void TSaveDialog::Dispose() {
  DropCreated();
  files_ = nullptr;
  TCommonDialog::Dispose();
}

dialogs::TSaveFileRequest TSaveDialog::Request() const {
  dialogs::TSaveFileRequest request;
  request.parent_window = DesktopParent(Owner());
  request.title = WideToSystemUTF8(Title);
  // Only the last part of the proposed name is offered: it may come from a
  // show, and a folder in it would lead the file elsewhere.
  request.proposed_name = dialogs::SafeProposedName(WideToSystemUTF8(ExtractLastPathPart(FileName)), "");
  // The starting folder is the caller's own, never taken from the name.
  std::string folder = WideToSystemUTF8(InitialDir);
  if (!folder.empty() && folder[0] == '/') request.folder = folder;
  request.filters = ParseDialogFilter(Filter);
  if (!request.filters.empty())
    request.current_filter =
        FilterIndex >= 1 && FilterIndex <= static_cast<int32_t>(request.filters.size()) ? FilterIndex - 1 : 0;
  // Of the option bits only the overwrite question reaches a desktop chooser;
  // multi-select and the rest have no meaning when one slide is saved.
  request.overwrite_prompt = (Options & kOfOverwritePrompt) != 0;
  std::u16string ext = DefaultExt;
  if (ext.empty()) {
    ext = ExtractFileExt(ExtractLastPathPart(FileName));
    if (!ext.empty() && ext[0] == u'.') ext.erase(0, 1);
  }
  request.default_extension = dialogs::SafeProposedName(WideToSystemUTF8(ext), "");
  return request;
}

// One path for every system version: the desktop's chooser stands for both
// the common and the shell dialog, so there is no hook object.
bool TSaveDialog::Execute() {
  dialogs::TSaveFileRequest request = Request();
  win::HWND owner = Owner();
  // Modal like the system's dialog: the owner takes no input meanwhile, and
  // the application's messages go on being handled so its windows stay
  // drawn; an application that is ending calls the chooser off.
  bool disabled = owner && win::IsWindow(owner) && !win::EnableWindow(owner, false);
  TChooserGiveUp give_up;
  request.pump = [&give_up] { return give_up.Pump(); };
  // A chooser program's window is kept above the owner, as a modal dialog
  // of the player's own would be.
  bool foreign = false;
  if (owner && win::IsWindow(owner))
    request.started = [owner, &foreign](int group) {
      foreign = true;
      win::Backend().ForeignModal(owner, group);
    };
  dialogs::TSaveFileAnswer answer = dialogs::SaveFileChooser().Choose(request);
  if (foreign && win::IsWindow(owner)) win::Backend().ForeignModal(owner, 0);
  if (disabled && win::IsWindow(owner)) win::EnableWindow(owner, true);

  switch (answer.outcome) {
    case dialogs::TSaveFileOutcome::kChosen:
      if (!answer.path.empty() && answer.path[0] == '/') break;
      answer.message = "The file chooser gave no full path: " + answer.path;
      [[fallthrough]];
    case dialogs::TSaveFileOutcome::kFailed:
    case dialogs::TSaveFileOutcome::kUnavailable: {
      // Told, not only answered false: the person asked to save and must
      // learn that nothing was saved.
      std::u16string text = u"The slide cannot be saved: " +
                            SystemUTF8ToWide(answer.message.empty() ? "no file chooser" : answer.message);
      LogLine(u"TSaveDialog: " + text);
      win::MessageBox(owner, text, u"Slideshow Error", win::MB_ICONERROR);
      return false;
    }
    case dialogs::TSaveFileOutcome::kCancelled:
      return false;
  }
  DropCreated();
  FileName = SystemUTF8ToWide(answer.path);
  files_->Clear();
  files_->Add(FileName);
  chosen_path_ = answer.path;
  created_ = answer.created;
  // The pictures folder was taken without asking: where is told once the
  // file is written, never before.
  notice_ = answer.message;
  return true;
}

bool TSaveDialog::WriteChosenFile(const std::function<void(TStream*)>& write) {
  if (chosen_path_.empty()) return false;
  const std::string path = std::move(chosen_path_);
  const std::string notice = std::move(notice_);
  chosen_path_.clear();
  notice_.clear();
  const int fd = created_ ? created_->Release() : -1;
  created_ = nullptr;
  const win::HWND owner = Owner();
  const std::string why = WriteSaveFile(path, fd, write);
  if (!why.empty()) {
    std::u16string text = u"The slide cannot be saved as " + SystemUTF8ToWide(path) + u": " + SystemUTF8ToWide(why);
    LogLine(u"TSaveDialog: " + text);
    win::MessageBox(owner, text, u"Slideshow Error", win::MB_ICONERROR);
    return false;
  }
  if (!notice.empty()) {
    LogLine(u"TSaveDialog: " + SystemUTF8ToWide(notice));
    win::MessageBox(owner, SystemUTF8ToWide(notice), Title, kMbIconInformation);
  }
  return true;
}

void TSaveDialog::DropCreated() {
  struct stat st;
  if (created_ && created_->Descriptor() >= 0 && fstat(created_->Descriptor(), &st) == 0)
    RemoveIfSame(chosen_path_, st);
  created_ = nullptr;
}

}  // namespace kav
