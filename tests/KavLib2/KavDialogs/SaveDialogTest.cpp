// The file-save dialog over a fake chooser (what it asks the desktop, what
// it gives back), and over the real chain with nothing installed (the
// pictures folder, never overwriting).
#include <gtest/gtest.h>

#include "tests/VoRav/ScopedEnv.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <span>

#include "KavLib2/KavDialogs/winSaveDialog.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "platform/dialogs/FakeChooser.h"
#include "platform/dialogs/FallbackChooser.h"
#include "platform/dialogs/PortalChooser.h"
#include "platform/dialogs/ProgramChooser.h"
#include "platform/window/null/NullWindowBackend.h"
#include "tests/VoRav/Application2/AppTestUtil.h"
#include "tests/VoRav/LogCapture.h"
#include "tests/VoRav/TempFolder.h"
#include "tests/platform/dialogs/FakePortal.h"

namespace kav {
namespace {

using dialogs::TFakeChooser;
using dialogs::TSaveFileAnswer;
using dialogs::TSaveFileOutcome;
using test::TTempFolder;

using TEnv = test::TScopedEnv;

// The null backend with desktop ids for the test's windows; it notes the
// other programs' dialogs it is told of.
class TDesktopBackend : public win::TNullWindowBackend {
 public:
  std::string DesktopWindowId(win::HWND hwnd) override {
    return hwnd == top ? "x11:4a00007" : hwnd == dialog ? "x11:4a0000c" : "";
  }
  void ForeignModal(win::HWND owner, int group) override { foreign.emplace_back(owner, group); }
  win::HWND top = 0, dialog = 0;
  std::vector<std::pair<win::HWND, int>> foreign;
};

class SaveDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<TDesktopBackend>();
    backend_ = backend.get();
    win::InitWindowSystem(std::move(backend));
    win::TWndClass wc;
    wc.class_name = u"SaveDialogOwner";
    wc.proc = win::TWndProc::Bind<&SaveDialog::Proc>(this);
    ASSERT_NE(win::RegisterClass(wc), 0);
    owner_ = win::CreateWindowEx(0, u"SaveDialogOwner", u"owner", win::WS_OVERLAPPEDWINDOW | win::WS_VISIBLE, 0, 0,
                                 300, 200, 0, win::kProgramInstance, nullptr);
    child_ = win::CreateWindowEx(0, u"SaveDialogOwner", u"child", win::WS_CHILD | win::WS_VISIBLE, 0, 0, 30, 20,
                                 owner_, win::kProgramInstance, nullptr);
    backend_->top = owner_;
  }
  void TearDown() override {
    dialogs::SetSaveFileChooser(nullptr);
    win::DoneWindowSystem();
  }
  win::LRESULT Proc(win::HWND h, uint32_t m, win::WPARAM w, win::LPARAM l) { return win::DefWindowProc(h, m, w, l); }

  // Installs a fake with these answers; the fake stays owned by the install.
  TFakeChooser* Install(std::vector<TSaveFileAnswer> answers) {
    auto fake = std::make_unique<TFakeChooser>(std::move(answers));
    TFakeChooser* raw = fake.get();
    dialogs::SetSaveFileChooser(std::move(fake));
    return raw;
  }

  TDesktopBackend* backend_ = nullptr;
  win::HWND owner_ = 0, child_ = 0;
};

TEST_F(SaveDialog, AsksForTheLastPartOfTheNameWithItsTypeAndFolder) {
  TTempFolder tmp;
  TFakeChooser* fake = Install({{TSaveFileOutcome::kCancelled, {}, {}}});
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(child_);
  EXPECT_EQ(dlg->Options, 0x40004u);
  dlg->Options |= kOfOverwritePrompt;
  dlg->FileName = u"..\\..\\pictures\\Beach.jpg";
  dlg->Filter = u"*.jpg";
  dlg->InitialDir = tmp.Wide();
  EXPECT_FALSE(dlg->Execute());
  ASSERT_EQ(fake->requests.size(), 1u);
  const dialogs::TSaveFileRequest& r = fake->requests[0];
  EXPECT_EQ(r.parent_window, "x11:4a00007");  // the owner's top-level window
  EXPECT_EQ(r.proposed_name, "Beach.jpg");
  EXPECT_EQ(r.folder, tmp.Sys());
  // Without a default extension the proposed name's is used.
  EXPECT_EQ(r.default_extension, "jpg");
  // "*.jpg" alone serves as description and pattern.
  ASSERT_EQ(r.filters.size(), 1u);
  EXPECT_EQ(r.filters[0].description, "*.jpg");
  EXPECT_EQ(r.filters[0].patterns, std::vector<std::string>{"*.jpg"});
  EXPECT_EQ(r.current_filter, 0);
  EXPECT_TRUE(r.overwrite_prompt);
  // Cancelled: the name stays as it was, nothing is chosen.
  EXPECT_EQ(dlg->FileName, u"..\\..\\pictures\\Beach.jpg");
  EXPECT_EQ(dlg->Files().Count(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(tmp.Sys()));
}

// The player's print dialog is owned by its window, which is owned in turn
// by the application's hidden window: the chooser belongs to the print
// dialog it is modal for, the nearest window the desktop knows; to the
// player's window when the dialog has no window of its own there.
TEST_F(SaveDialog, TheChooserBelongsToTheNearestWindowTheDesktopKnows) {
  TFakeChooser* fake = Install({{TSaveFileOutcome::kCancelled, {}, {}}});
  const win::HWND app = win::CreateWindowEx(0, u"SaveDialogOwner", u"app", 0, 0, 0, 0, 0, 0, win::kProgramInstance,
                                            nullptr);
  const win::HWND player = win::CreateWindowEx(0, u"SaveDialogOwner", u"player",
                                               win::WS_OVERLAPPEDWINDOW | win::WS_VISIBLE, 0, 0, 300, 200, app,
                                               win::kProgramInstance, nullptr);
  const win::HWND print = win::CreateWindowEx(0, u"SaveDialogOwner", u"Print", win::WS_POPUP | win::WS_VISIBLE, 0, 0,
                                              100, 50, player, win::kProgramInstance, nullptr);
  backend_->top = player;
  backend_->dialog = print;
  EXPECT_FALSE(MakeRef<TSaveDialog>(print)->Execute());
  backend_->dialog = 0;
  EXPECT_FALSE(MakeRef<TSaveDialog>(print)->Execute());
  ASSERT_EQ(fake->requests.size(), 2u);
  EXPECT_EQ(fake->requests[0].parent_window, "x11:4a0000c");
  EXPECT_EQ(fake->requests[1].parent_window, "x11:4a00007");
}

TEST_F(SaveDialog, FiltersDefaultExtensionAndOptions) {
  // One description and one pattern joined by a bar: one file type.
  auto one = ParseDialogFilter(u"Bitmap|*.bmp");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].description, "Bitmap");
  EXPECT_EQ(one[0].patterns, std::vector<std::string>{"*.bmp"});
  auto two = ParseDialogFilter(u"Pictures|*.jpg; *.jpeg|Empty||All|*.*");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].patterns, (std::vector<std::string>{"*.jpg", "*.jpeg"}));
  EXPECT_EQ(two[1].description, "All");
  EXPECT_TRUE(ParseDialogFilter(u"").empty());

  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>();
  dlg->FileName = u"Slide4.bmp";
  dlg->DefaultExt = u"png";
  dlg->Filter = u"Bitmap|*.bmp|PNG|*.png";
  dlg->FilterIndex = 2;
  dlg->InitialDir = u"relative\\folder";  // not a folder of this system: the chooser's own
  dialogs::TSaveFileRequest r = dlg->Request();
  EXPECT_EQ(r.default_extension, "png");
  EXPECT_EQ(r.current_filter, 1);
  EXPECT_EQ(r.folder, "");
  EXPECT_FALSE(r.overwrite_prompt);  // not asked for: bits 2 and 18 only
  EXPECT_EQ(r.parent_window, "");    // no owner, no application
  dlg->FilterIndex = 7;
  EXPECT_EQ(dlg->Request().current_filter, 0);
  dlg->FileName = u"noextension";
  dlg->DefaultExt.clear();
  EXPECT_EQ(dlg->Request().default_extension, "");
}

TEST_F(SaveDialog, AConfirmedNameIsGivenBack) {
  Install({{TSaveFileOutcome::kChosen, "/home/u/Pictures/Slide 1.bmp", {}}});
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(owner_);
  dlg->FileName = u"Slide1.bmp";
  EXPECT_TRUE(dlg->Execute());
  EXPECT_EQ(dlg->FileName, u"/home/u/Pictures/Slide 1.bmp");
  ASSERT_EQ(dlg->Files().Count(), 1);
  EXPECT_EQ(dlg->Files().GetString(0), u"/home/u/Pictures/Slide 1.bmp");
  EXPECT_TRUE(backend_->Boxes.empty());
  EXPECT_TRUE(win::IsWindowEnabled(owner_));  // enabled again afterwards
}

TEST_F(SaveDialog, OwnerTakesNoInputWhileTheChooserIsOpen) {
  TFakeChooser* fake = Install({{TSaveFileOutcome::kChosen, "/tmp/x.bmp", {}}});
  (void)fake;
  bool enabled_meanwhile = true;
  // The fake pumps once: the owner is disabled by then.
  struct TProbe : dialogs::TSaveFileChooser {
    win::HWND owner;
    bool* seen;
    const char* Name() const override { return "probe"; }
    TSaveFileAnswer Choose(const dialogs::TSaveFileRequest& r) override {
      *seen = win::IsWindowEnabled(owner);
      EXPECT_TRUE(r.pump());  // no application: the wait goes on
      if (r.started) r.started(4321);  // a program's window, modal for the owner
      return {TSaveFileOutcome::kCancelled, {}, {}};
    }
  };
  auto probe = std::make_unique<TProbe>();
  probe->owner = owner_;
  probe->seen = &enabled_meanwhile;
  dialogs::SetSaveFileChooser(std::move(probe));
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(owner_);
  EXPECT_FALSE(dlg->Execute());
  EXPECT_FALSE(enabled_meanwhile);
  EXPECT_TRUE(win::IsWindowEnabled(owner_));
  // The window layer kept the program's window above the owner until it ended.
  const std::vector<std::pair<win::HWND, int>> foreign{{owner_, 4321}, {owner_, 0}};
  EXPECT_EQ(backend_->foreign, foreign);
  // An owner that was disabled before stays so.
  win::EnableWindow(owner_, false);
  EXPECT_FALSE(dlg->Execute());
  EXPECT_FALSE(win::IsWindowEnabled(owner_));
}

TEST_F(SaveDialog, FailuresAreToldAndGiveFalse) {
  test::TLogCapture log;
  Install({{TSaveFileOutcome::kFailed, {}, "the chooser broke"}});
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(owner_);
  dlg->FileName = u"Slide1.bmp";
  EXPECT_FALSE(dlg->Execute());
  EXPECT_EQ(dlg->FileName, u"Slide1.bmp");
  ASSERT_EQ(backend_->Boxes.size(), 1u);
  EXPECT_EQ(backend_->Boxes[0].caption, u"Slideshow Error");
  EXPECT_NE(backend_->Boxes[0].text.find(u"the chooser broke"), std::u16string::npos);
  EXPECT_TRUE(log.OneLineWith(u"the chooser broke"));
  // A chooser that answers a relative path is a failure too, not a file
  // saved somewhere below the current folder.
  Install({{TSaveFileOutcome::kChosen, "relative.bmp", {}}});
  EXPECT_FALSE(dlg->Execute());
  EXPECT_EQ(backend_->Boxes.size(), 2u);
}

// The desktop's order with nothing there: no bus, no zenity, no kdialog,
// so the pictures folder of `home` is taken.
void InstallEmptyDesktop(const TTempFolder& home) {
  std::vector<std::unique_ptr<dialogs::TSaveFileChooser>> list;
  list.push_back(std::make_unique<dialogs::TPortalChooser>("unix:path=" + home.Sys("no-bus")));
  list.push_back(dialogs::NewZenityChooser(home.Sys("no-zenity")));
  list.push_back(dialogs::NewKDialogChooser(home.Sys("no-kdialog")));
  list.push_back(std::make_unique<dialogs::TFallbackChooser>());
  dialogs::SetSaveFileChooser(std::make_unique<dialogs::TChooserChain>(std::move(list)));
}

// Writes `bytes` into the stream.
std::function<void(TStream*)> Bytes(const std::string& bytes) {
  return [bytes](TStream* out) {
    out->WriteBytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  };
}

// A portal that is there but fails, or takes the call and never replies,
// with no zenity or kdialog: the slide is not saved into the pictures
// folder that nobody chose; the person is told it cannot be saved.
TEST_F(SaveDialog, APortalThatFailsOrNeverRepliesIsNotFollowedByASaveNobodyChose) {
  if (dialogs::FindExecutable("dbus-daemon").empty()) GTEST_SKIP() << "dbus-daemon is not installed";
  using namespace dialogs::test_portal;
  TPrivateBus bus;
  ASSERT_FALSE(bus.Address().empty());
  TTempFolder home;
  TEnv h("HOME", home.Sys());
  TEnv x("XDG_CONFIG_HOME", std::nullopt);
  home.WriteFile("Pictures/.keep", "");
  size_t boxes = 0;
  for (const TReply reply : {TReply::kError, TReply::kMute}) {
    SCOPED_TRACE(reply == TReply::kError ? "error" : "no reply");
    TFakePortal portal(bus.Address(), reply, "");
    ASSERT_TRUE(portal.Ready());
    std::vector<std::unique_ptr<dialogs::TSaveFileChooser>> list;
    list.push_back(std::make_unique<dialogs::TPortalChooser>(bus.Address(), std::chrono::seconds(3)));
    list.push_back(dialogs::NewZenityChooser(home.Sys("no-zenity")));
    list.push_back(dialogs::NewKDialogChooser(home.Sys("no-kdialog")));
    list.push_back(std::make_unique<dialogs::TFallbackChooser>());
    dialogs::SetSaveFileChooser(std::make_unique<dialogs::TChooserChain>(std::move(list)));
    Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(owner_);
    dlg->FileName = u"Slide7.bmp";
    EXPECT_FALSE(dlg->Execute());
    EXPECT_EQ(dlg->FileName, u"Slide7.bmp");
    EXPECT_EQ(portal.Calls().size(), 1u);
    ASSERT_EQ(backend_->Boxes.size(), ++boxes);
    EXPECT_EQ(backend_->Boxes.back().caption, u"Slideshow Error");
    EXPECT_EQ(backend_->Boxes.back().text.rfind(u"The slide cannot be saved: The desktop portal", 0), 0u)
        << WideToSystemUTF8(backend_->Boxes.back().text);
    EXPECT_FALSE(dlg->WriteChosenFile(Bytes("nobody chose this")));
    EXPECT_FALSE(home.Exists("Pictures/Slide7.bmp"));
  }
}

TEST_F(SaveDialog, WithoutAnyChooserThePicturesFolderIsUsedAndNothingOverwritten) {
  TTempFolder home;
  TEnv h("HOME", home.Sys());
  TEnv x("XDG_CONFIG_HOME", std::nullopt);
  home.WriteFile("Pictures/Slide1.bmp", "earlier slide");
  InstallEmptyDesktop(home);
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(owner_);
  dlg->FileName = u"shows/../../Slide1.bmp";
  ASSERT_TRUE(dlg->Execute());
  EXPECT_EQ(dlg->FileName, home.Wide("Pictures/Slide1 (2).bmp"));
  EXPECT_EQ(home.ReadFile("Pictures/Slide1.bmp"), "earlier slide");
  // The person is told where it went, and only once the file is complete.
  EXPECT_TRUE(backend_->Boxes.empty());
  ASSERT_TRUE(dlg->WriteChosenFile([&](TStream* out) {
    EXPECT_TRUE(backend_->Boxes.empty()) << "told before the picture was written";
    Bytes("the slide")(out);
  }));
  EXPECT_EQ(home.ReadFile("Pictures/Slide1 (2).bmp"), "the slide");
  ASSERT_EQ(backend_->Boxes.size(), 1u);
  EXPECT_NE(backend_->Boxes[0].text.find(u"The slide is saved as " + home.Wide("Pictures/Slide1 (2).bmp")),
            std::u16string::npos);
  dlg->FileName = u"Slide1.bmp";
  ASSERT_TRUE(dlg->Execute());
  EXPECT_EQ(dlg->FileName, home.Wide("Pictures/Slide1 (3).bmp"));
  // A name taken and never written is given back when the dialog goes.
  dlg = nullptr;
  EXPECT_FALSE(home.Exists("Pictures/Slide1 (3).bmp"));
  EXPECT_EQ(backend_->Boxes.size(), 1u);
}

TEST_F(SaveDialog, TheCreatedFileIsWrittenEvenWhenItsNameIsSwappedForALink) {
  TTempFolder home;
  TEnv h("HOME", home.Sys());
  TEnv x("XDG_CONFIG_HOME", std::nullopt);
  home.WriteFile("Pictures/.keep", "");
  home.WriteFile("victim", "not to be overwritten");
  InstallEmptyDesktop(home);
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(owner_);
  dlg->FileName = u"Slide7.bmp";
  ASSERT_TRUE(dlg->Execute());
  ASSERT_EQ(dlg->FileName, home.Wide("Pictures/Slide7.bmp"));
  // Someone swaps the name for a link while the dialog is between choosing
  // and writing.
  ASSERT_EQ(symlink(home.Sys("victim").c_str(), home.Sys("Pictures/swap").c_str()), 0);
  ASSERT_EQ(rename(home.Sys("Pictures/swap").c_str(), home.Sys("Pictures/Slide7.bmp").c_str()), 0);
  EXPECT_TRUE(dlg->WriteChosenFile(Bytes("the slide")));
  EXPECT_EQ(home.ReadFile("victim"), "not to be overwritten");
  // A failed write leaves the swapped name alone too: it is not ours.
  ASSERT_TRUE(dlg->Execute());
  ASSERT_EQ(dlg->FileName, home.Wide("Pictures/Slide7 (2).bmp"));
  ASSERT_EQ(symlink(home.Sys("victim").c_str(), home.Sys("Pictures/swap").c_str()), 0);
  ASSERT_EQ(rename(home.Sys("Pictures/swap").c_str(), home.Sys("Pictures/Slide7 (2).bmp").c_str()), 0);
  EXPECT_FALSE(dlg->WriteChosenFile([](TStream*) { throw EStreamWriteError("No space left on device"); }));
  EXPECT_TRUE(std::filesystem::is_symlink(home.Sys("Pictures/Slide7 (2).bmp")));
  EXPECT_EQ(home.ReadFile("victim"), "not to be overwritten");
}

TEST_F(SaveDialog, AFailedWriteRemovesItsPieceAndSaysWhy) {
  test::TLogCapture log;
  TTempFolder home;
  TEnv h("HOME", home.Sys());
  TEnv x("XDG_CONFIG_HOME", std::nullopt);
  home.WriteFile("Pictures/.keep", "");
  InstallEmptyDesktop(home);
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(owner_);
  dlg->FileName = u"Slide7.bmp";
  ASSERT_TRUE(dlg->Execute());
  // A real failure of the system: files may grow to 4 KB only (the signal
  // that would end the process is ignored meanwhile).
  const std::string picture(64 * 1024, 'p');
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4096;
  auto* previous = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = dlg->WriteChosenFile(Bytes(picture));
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);
  EXPECT_FALSE(written);
  EXPECT_FALSE(home.Exists("Pictures/Slide7.bmp"));
  // Never "saved as": the error, with the system's reason.
  ASSERT_EQ(backend_->Boxes.size(), 1u);
  EXPECT_EQ(backend_->Boxes[0].caption, u"Slideshow Error");
  EXPECT_EQ(backend_->Boxes[0].text.find(u"is saved as"), std::u16string::npos);
  EXPECT_NE(backend_->Boxes[0].text.find(SystemUTF8ToWide(std::strerror(EFBIG))), std::u16string::npos)
      << WideToSystemUTF8(backend_->Boxes[0].text);
  EXPECT_TRUE(log.OneLineWith(SystemUTF8ToWide(std::strerror(EFBIG))));
}

TEST_F(SaveDialog, AChosenNameIsCreatedWithoutFollowingALinkOrReplacedWhenItIsAFile) {
  TTempFolder dir;
  dir.WriteFile("exists.bmp", "earlier slide, longer than the new one");
  ASSERT_EQ(symlink(dir.Sys("elsewhere.bmp").c_str(), dir.Sys("dangling.bmp").c_str()), 0);
  Install({{TSaveFileOutcome::kChosen, dir.Sys("new.bmp"), {}},
           {TSaveFileOutcome::kChosen, dir.Sys("exists.bmp"), {}},
           {TSaveFileOutcome::kChosen, dir.Sys("dangling.bmp"), {}}});
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(owner_);
  dlg->FileName = u"Slide1.bmp";
  ASSERT_TRUE(dlg->Execute());
  EXPECT_TRUE(dlg->WriteChosenFile(Bytes("new")));
  EXPECT_EQ(dir.ReadFile("new.bmp"), "new");
  // Replacing an existing file was confirmed in the chooser.
  ASSERT_TRUE(dlg->Execute());
  EXPECT_TRUE(dlg->WriteChosenFile(Bytes("replaced")));
  EXPECT_EQ(dir.ReadFile("exists.bmp"), "replaced");
  EXPECT_TRUE(backend_->Boxes.empty());
  // A link to nothing is not followed to make a file where it points.
  ASSERT_TRUE(dlg->Execute());
  EXPECT_FALSE(dlg->WriteChosenFile(Bytes("through the link")));
  EXPECT_FALSE(dir.Exists("elsewhere.bmp"));
  EXPECT_EQ(backend_->Boxes.size(), 1u);
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// A chooser that pumps until told to stop or the pump calls it off.
class TPumpingChooser final : public dialogs::TSaveFileChooser {
 public:
  const char* Name() const override { return "pumping"; }
  TSaveFileAnswer Choose(const dialogs::TSaveFileRequest& r) override {
    for (int i = 0; i < 1000; ++i) {
      if (!r.pump()) {
        called_off = true;
        return {TSaveFileOutcome::kCancelled, {}, {}};
      }
      if (on_pump) on_pump(i);
    }
    return {TSaveFileOutcome::kChosen, "/tmp/x.bmp", {}};
  }
  std::function<void(int)> on_pump;
  bool called_off = false;
};

class SaveDialogApp : public AppTest {};

TEST_F(SaveDialogApp, QueuedMessagesAreHandledAndAnEndingApplicationCallsTheChooserOff) {
  win::HWND top = MakeTop();
  auto chooser = std::make_unique<TPumpingChooser>();
  TPumpingChooser* raw = chooser.get();
  dialogs::SetSaveFileChooser(std::move(chooser));
  bool delivered = false;
  raw->on_pump = [&](int i) {
    if (i == 0) win::PostMessage(top, win::WM_USER + 7, 0, 0);
    if (i == 1)
      for (const auto& m : recorder.Log) delivered = delivered || m.message == win::WM_USER + 7;
    if (i == 2) app->Terminate();
  };
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(top);
  dlg->FileName = u"Slide1.bmp";
  EXPECT_FALSE(dlg->Execute());
  EXPECT_TRUE(delivered);
  EXPECT_TRUE(raw->called_off);
  EXPECT_EQ(dlg->FileName, u"Slide1.bmp");
  // The owner is the application window when none is given.
  EXPECT_EQ(MakeRef<TSaveDialog>()->Owner(), app->GetHandle());
  dialogs::SetSaveFileChooser(nullptr);
}

// A chooser that never answers can be left from the player's windows,
// which take no input while it is open: Esc at them, or the window
// manager's close of one, calls it off; the window stays, and a key other
// than Esc does nothing.
TEST_F(SaveDialogApp, EscOrACloseAtThePlayersWindowCallsTheChooserOff) {
  win::HWND top = MakeTop();
  for (const int way : {0, 1}) {
    SCOPED_TRACE(way == 0 ? "Esc" : "close");
    auto chooser = std::make_unique<TPumpingChooser>();
    TPumpingChooser* raw = chooser.get();
    dialogs::SetSaveFileChooser(std::move(chooser));
    int last = -1;
    raw->on_pump = [&](int i) {
      last = i;
      if (i == 2) win::InjectKey(win::VK_SPACE, true);
      if (i == 3) win::InjectKey(win::VK_SPACE, false);
      if (i == 5 && way == 0) win::InjectKey(win::VK_ESCAPE, true);
      if (i == 5 && way == 1) win::InjectClose(top);
    };
    Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(top);
    dlg->FileName = u"Slide1.bmp";
    EXPECT_FALSE(dlg->Execute());
    EXPECT_TRUE(raw->called_off);
    EXPECT_EQ(last, 5);  // the pump right after called it off
    EXPECT_TRUE(win::IsWindow(top));
    EXPECT_TRUE(win::IsWindowEnabled(top));
    EXPECT_FALSE(app->Terminated());
    if (way == 0) win::InjectKey(win::VK_ESCAPE, false);
  }
  dialogs::SetSaveFileChooser(nullptr);
}

// A portal that takes the request and never answers: Esc at the player's
// window, or its close, ends the wait at once and closes the portal's
// request; nothing is told (the person gave up).
TEST_F(SaveDialogApp, APortalThatNeverAnswersIsLeftByEscOrClose) {
  if (dialogs::FindExecutable("dbus-daemon").empty()) GTEST_SKIP() << "dbus-daemon is not installed";
  using namespace dialogs::test_portal;
  TPrivateBus bus;
  ASSERT_FALSE(bus.Address().empty());
  win::HWND top = MakeTop();
  for (const int way : {0, 1}) {
    SCOPED_TRACE(way == 0 ? "Esc" : "close");
    TFakePortal portal(bus.Address(), TReply::kSilent, "");
    ASSERT_TRUE(portal.Ready());
    // Plays the person once the portal has the request; calls the wait off
    // after 60 s so that a failure never hangs the test.
    struct TPerson final : dialogs::TSaveFileChooser {
      dialogs::TPortalChooser inner;
      TFakePortal* portal;
      int way;
      win::HWND top;
      explicit TPerson(const std::string& address) : inner(address) {}
      const char* Name() const override { return "portal"; }
      TSaveFileAnswer Choose(const dialogs::TSaveFileRequest& request) override {
        dialogs::TSaveFileRequest r = request;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool done = false;
        r.pump = [&] {
          if (!done && !portal->Calls().empty()) {
            done = true;
            if (way == 0) win::InjectKey(win::VK_ESCAPE, true);
            else win::InjectClose(top);
          }
          return request.pump() && std::chrono::steady_clock::now() < until;
        };
        return inner.Choose(r);
      }
    };
    auto person = std::make_unique<TPerson>(bus.Address());
    person->portal = &portal;
    person->way = way;
    person->top = top;
    dialogs::SetSaveFileChooser(std::move(person));
    Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>(top);
    dlg->FileName = u"Slide1.bmp";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(dlg->Execute());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    // The Close call may still be on its way.
    for (int i = 0; i < 600 && (portal.Calls().empty() || !portal.Calls()[0].closed); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(portal.Calls().size(), 1u);
    EXPECT_TRUE(portal.Calls()[0].closed);
    EXPECT_TRUE(win::IsWindow(top));
    EXPECT_TRUE(win::NullBackend()->Boxes.empty());
    if (way == 0) win::InjectKey(win::VK_ESCAPE, false);
    dialogs::SetSaveFileChooser(nullptr);
  }
}

}  // namespace
}  // namespace kav
