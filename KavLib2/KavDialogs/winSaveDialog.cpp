#include "KavLib2/KavDialogs/winSaveDialog.h"

#include "VoRav/Application2/winApplication.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
#include "platform/window/WinBackend.h"
#include "platform/window/WinTerminate.h"

namespace kav {
namespace {

constexpr uint32_t kMbIconInformation = 0x40;

// The desktop's id of the top-level window that holds `hwnd`.
std::string DesktopParent(win::HWND hwnd) {
  if (!hwnd || !win::IsWindow(hwnd)) return {};
  for (win::HWND up = win::GetParent(hwnd); up; up = win::GetParent(up)) hwnd = up;
  return win::Backend().DesktopWindowId(hwnd);
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

}  // namespace

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
  request.pump = [] {
    if (win::TerminationRequested()) return false;  // the player is ending on a signal
    TWinApplication* app = WinApplication();
    if (!app) return true;
    if (app->Terminated()) return false;
    app->ProcessMessages();
    return !app->Terminated();
  };
  dialogs::TSaveFileAnswer answer = dialogs::SaveFileChooser().Choose(request);
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
  FileName = SystemUTF8ToWide(answer.path);
  files_->Clear();
  files_->Add(FileName);
  if (!answer.message.empty()) {
    // The pictures folder was taken without asking: the person is told where.
    LogLine(u"TSaveDialog: " + SystemUTF8ToWide(answer.message));
    win::MessageBox(owner, SystemUTF8ToWide(answer.message), Title, kMbIconInformation);
  }
  return true;
}

}  // namespace kav
