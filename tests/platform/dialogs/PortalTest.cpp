// The portal chooser against a fake portal on a private D-Bus bus: a
// dbus-daemon of the test's own (no service files, so nothing is activated)
// and a fake org.freedesktop.portal.Desktop in a thread that checks the
// SaveFile call and answers through the request's Response signal.
#include <dbus/dbus.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "platform/dialogs/PortalChooser.h"
#include "platform/dialogs/ProgramChooser.h"
#include "platform/dialogs/SessionBus.h"
#include "tests/VoRav/TempFolder.h"
#include "tests/platform/dialogs/FakePortal.h"

extern char** environ;

namespace kav::dialogs {
namespace {

using test::TTempFolder;

using namespace test_portal;

class SaveChooserPortal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindExecutable("dbus-daemon").empty()) GTEST_SKIP() << "dbus-daemon is not installed";
    bus_ = std::make_unique<TPrivateBus>();
    ASSERT_FALSE(bus_->Address().empty()) << "dbus-daemon gave no address";
    request_.parent_window = "x11:1a2b";
    request_.title = "Save As";
    request_.proposed_name = "..\\shows\\Slide3.bmp";
    request_.folder = tmp_.Sys();
    request_.filters = {{"Bitmap", {"*.bmp"}}, {"JPEG image", {"*.jpg", "*.jpeg"}}};
    request_.current_filter = 1;
    request_.default_extension = "bmp";
    // Never hang: after 30 s of waiting the chooser is called off.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    request_.pump = [until] { return std::chrono::steady_clock::now() < until; };
  }

  TSaveFileAnswer Run(TReply reply, const std::string& uri, std::vector<TCall>* calls = nullptr,
                      std::chrono::milliseconds call_timeout = TPortalChooser::kCallTimeout) {
    TFakePortal portal(bus_->Address(), reply, uri);
    EXPECT_TRUE(portal.Ready());
    TSaveFileAnswer answer = TPortalChooser(bus_->Address(), call_timeout).Choose(request_);
    const bool unanswered = reply == TReply::kSilent || reply == TReply::kMute;
    if (calls) {
      // A Close call may still be on its way (30 s at least: a loaded machine).
      for (int i = 0; i < 600 && unanswered && !portal.Calls().empty() && !portal.Calls()[0].closed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      *calls = portal.Calls();
    }
    return answer;
  }

  TTempFolder tmp_;
  std::unique_ptr<TPrivateBus> bus_;
  TSaveFileRequest request_;
};

TEST_F(SaveChooserPortal, AChosenFileComesBackAsItsPath) {
  std::vector<TCall> calls;
  TSaveFileAnswer a = Run(TReply::kChoose, "file://" + tmp_.Sys() + "/My%20Slide", &calls);
  ASSERT_EQ(a.outcome, TSaveFileOutcome::kChosen) << a.message;
  EXPECT_EQ(a.path, tmp_.Sys("My Slide.bmp"));  // the default extension added
  ASSERT_EQ(calls.size(), 1u);
  const TCall& c = calls[0];
  EXPECT_EQ(c.parent, "x11:1a2b");
  EXPECT_EQ(c.title, "Save As");
  EXPECT_FALSE(c.token.empty());
  EXPECT_EQ(c.current_name, "Slide3.bmp");  // the last part only
  EXPECT_EQ(c.current_folder, tmp_.Sys());
  EXPECT_TRUE(c.folder_has_nul);
  ASSERT_EQ(c.filters.size(), 2u);
  EXPECT_EQ(c.filters[0].description, "Bitmap");
  EXPECT_EQ(c.filters[0].patterns, std::vector<std::string>{"*.bmp"});
  EXPECT_EQ(c.filters[1].patterns, (std::vector<std::string>{"*.jpg", "*.jpeg"}));
  EXPECT_EQ(c.current_filter, "JPEG image");
  EXPECT_FALSE(tmp_.Exists("My Slide.bmp"));  // choosing writes nothing
}

TEST_F(SaveChooserPortal, CancelAndOtherEndsChooseNothing) {
  EXPECT_EQ(Run(TReply::kCancel, "").outcome, TSaveFileOutcome::kCancelled);
  TSaveFileAnswer a = Run(TReply::kOther, "");
  EXPECT_EQ(a.outcome, TSaveFileOutcome::kFailed);
  EXPECT_FALSE(a.message.empty());
  a = Run(TReply::kRemoteUri, "sftp://host/x.bmp");
  EXPECT_EQ(a.outcome, TSaveFileOutcome::kFailed);
  EXPECT_EQ(Run(TReply::kRemoteUri, "file://otherhost/x.bmp").outcome, TSaveFileOutcome::kFailed);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_.Sys()));
}

TEST_F(SaveChooserPortal, CallingTheWaitOffClosesTheRequest) {
  int pumps = 0;
  request_.pump = [&] { return ++pumps < 10; };
  std::vector<TCall> calls;
  EXPECT_EQ(Run(TReply::kSilent, "", &calls).outcome, TSaveFileOutcome::kCancelled);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].closed);
}

// A portal that takes the call and never replies to it: the wait calls the
// pump all along, so the person can leave it at once, and the request is
// closed; left alone, the call's time runs out and the portal has failed
// (it is there), which no chooser that saves without asking may follow.
TEST_F(SaveChooserPortal, APortalThatNeverRepliesCanBeLeftAndFailsWhenItsTimeIsUp) {
  int pumps = 0;
  request_.pump = [&] { return ++pumps < 10; };
  std::vector<TCall> calls;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run(TReply::kMute, "", &calls).outcome, TSaveFileOutcome::kCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, TPortalChooser::kCallTimeout);
  EXPECT_EQ(pumps, 10);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].closed);

  pumps = 0;
  request_.pump = [&] { return ++pumps > 0; };
  TSaveFileAnswer a = Run(TReply::kMute, "", &calls, std::chrono::seconds(3));
  EXPECT_EQ(a.outcome, TSaveFileOutcome::kFailed);
  EXPECT_NE(a.message.find("did not take"), std::string::npos) << a.message;
  EXPECT_GT(pumps, 0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_TRUE(calls[0].closed);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_.Sys()));
}

// A bus that takes the connection and never says a word (a stuck
// dbus-daemon): waiting for it calls the pump too, and its time runs out.
TEST_F(SaveChooserPortal, ABusThatNeverAnswersHoldsNobody) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = tmp_.Sys("stuck-bus");
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 8), 0);
  int pumps = 0;
  request_.pump = [&] { return ++pumps < 10; };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TPortalChooser("unix:path=" + path).Choose(request_).outcome, TSaveFileOutcome::kCancelled);
  // libdbus's own blocking calls wait 25 s.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(pumps, 10);
  request_.pump = [] { return true; };
  TSaveFileAnswer a = TPortalChooser("unix:path=" + path, std::chrono::milliseconds(300)).Choose(request_);
  EXPECT_EQ(a.outcome, TSaveFileOutcome::kFailed);
  EXPECT_NE(a.message.find("did not answer"), std::string::npos) << a.message;
  // The start's check of the bus: false in its time, and true for a bus
  // that works.
  std::string why;
  const auto probed = std::chrono::steady_clock::now();
  EXPECT_FALSE(BusAnswers("unix:path=" + path, std::chrono::milliseconds(300), &why));
  EXPECT_LT(std::chrono::steady_clock::now() - probed, std::chrono::seconds(20));
  EXPECT_NE(why.find("did not answer"), std::string::npos) << why;
  EXPECT_TRUE(BusAnswers(bus_->Address(), std::chrono::seconds(30), &why)) << why;
  EXPECT_FALSE(BusAnswers("unix:path=" + tmp_.Sys("no-bus"), std::chrono::seconds(30)));
  close(fd);
}

// A portal that takes the request and then leaves the bus (it crashed)
// will never answer: the wait ends at once as a failure, so the next chooser
// is asked, instead of lasting until someone gives up.
TEST_F(SaveChooserPortal, APortalThatLeavesAfterTakingTheRequestHasFailed) {
  std::vector<TCall> calls;
  const auto start = std::chrono::steady_clock::now();
  TSaveFileAnswer a = Run(TReply::kLeave, "", &calls);
  EXPECT_EQ(a.outcome, TSaveFileOutcome::kFailed);
  EXPECT_NE(a.message.find("left the bus"), std::string::npos) << a.message;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(SaveChooserPortal, AnErrorFromAPortalThatIsThereIsAFailure) {
  TSaveFileAnswer a = Run(TReply::kError, "");
  EXPECT_EQ(a.outcome, TSaveFileOutcome::kFailed);
  EXPECT_NE(a.message.find("org.freedesktop.portal.Error.Failed"), std::string::npos) << a.message;
}

TEST_F(SaveChooserPortal, NoPortalOrNoBusIsUnavailable) {
  // The bus is there, the portal is not.
  EXPECT_EQ(TPortalChooser(bus_->Address()).Choose(request_).outcome, TSaveFileOutcome::kUnavailable);
  EXPECT_EQ(TPortalChooser("unix:path=" + tmp_.Sys("no-bus")).Choose(request_).outcome,
            TSaveFileOutcome::kUnavailable);
  // A session bus left aside at start is no bus to the chooser either,
  // portal or not.
  TFakePortal portal(bus_->Address(), TReply::kChoose, "file://" + tmp_.Sys() + "/x.bmp");
  ASSERT_TRUE(portal.Ready());
  const char* was = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string saved = was ? was : "";
  setenv("DBUS_SESSION_BUS_ADDRESS", bus_->Address().c_str(), 1);
  HideSessionBus();
  TSaveFileAnswer hidden = TPortalChooser().Choose(request_);
  if (was) setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
  else unsetenv("DBUS_SESSION_BUS_ADDRESS");
  EXPECT_EQ(hidden.outcome, TSaveFileOutcome::kUnavailable) << hidden.message;
  EXPECT_TRUE(portal.Calls().empty());
}

TEST(SaveChooserPortalNames, RequestPathAndFileUris) {
  EXPECT_EQ(PortalRequestPath(":1.42", "kav7_1"), "/org/freedesktop/portal/desktop/request/1_42/kav7_1");
  EXPECT_EQ(FileUriToPath("file:///home/u/My%20Slide.bmp"), "/home/u/My Slide.bmp");
  EXPECT_EQ(FileUriToPath("file://localhost/x%C3%A9.jpg"), "/x\xc3\xa9.jpg");
  EXPECT_EQ(FileUriToPath("file:///a%00b"), "");
  EXPECT_EQ(FileUriToPath("file:///a%4"), "");
  EXPECT_EQ(FileUriToPath("file://host/a"), "");
  EXPECT_EQ(FileUriToPath("http:///a"), "");
}

}  // namespace
}  // namespace kav::dialogs
