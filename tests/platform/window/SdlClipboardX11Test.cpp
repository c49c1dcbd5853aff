// The SDL backend's clipboard on a real X server, read and written by xclip:
// a bitmap offered as "image/png" and "image/bmp" (and listed in TARGETS),
// text both ways. Runs under Xvfb through the platform_window_x11_clipboard
// test (KAV_X11_CLIPBOARD_TEST set); skipped elsewhere.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/window/WinApi.h"
#include "platform/window/sdl/SdlWindowBackend.h"

extern char** environ;

namespace kav::win {
namespace {

// Runs a program (no shell) with `input` on its standard input while the
// GUI thread keeps handling the window system's events, so our selection
// answers it. Collects its standard output; false on a time-out (30 s) or
// a non-zero exit. With `background` the program is left running and its
// pid returned in `pid` once its input is written.
bool RunTool(std::vector<std::string> args, const std::string& input, std::string& out, pid_t* pid = nullptr) {
  int in_pipe[2], out_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0) return false;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
  posix_spawn_file_actions_addclose(&fa, in_pipe[1]);
  posix_spawn_file_actions_addclose(&fa, out_pipe[0]);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(in_pipe[0]);
  close(out_pipe[1]);
  if (spawned != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    return false;
  }
  if (!input.empty()) (void)!write(in_pipe[1], input.data(), input.size());
  close(in_pipe[1]);
  if (pid) {
    *pid = child;
    close(out_pipe[0]);
    return true;
  }
  fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  bool done = false;
  while (std::chrono::steady_clock::now() < end) {
    Backend().Poll();
    pollfd p{out_pipe[0], POLLIN, 0};
    poll(&p, 1, 10);
    char buf[4096];
    ssize_t n;
    while ((n = read(out_pipe[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    if (waitpid(child, &status, WNOHANG) == child) {
      while ((n = read(out_pipe[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
      done = true;
      break;
    }
  }
  close(out_pipe[0]);
  if (!done) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Pumps events until `ready` holds (30 s at most).
template <class F>
bool PumpUntil(F ready) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < end) {
    Backend().Poll();
    if (ready()) return true;
    usleep(10000);
  }
  return false;
}

// A 3 x 2 bottom-up 24-bit DIB: top row red, green, blue; bottom row white,
// black, grey.
std::vector<uint8_t> SampleDib() {
  std::vector<uint8_t> d(40 + 2 * 12, 0);
  d[0] = 40, d[4] = 3, d[8] = 2, d[12] = 1, d[14] = 24;
  const uint8_t bottom[9] = {255, 255, 255, 0, 0, 0, 128, 128, 128};
  const uint8_t top[9] = {0, 0, 255, 0, 255, 0, 255, 0, 0};  // B G R
  std::memcpy(&d[40], bottom, 9);
  std::memcpy(&d[52], top, 9);
  return d;
}

class SdlClipboardX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("KAV_X11_CLIPBOARD_TEST")) GTEST_SKIP() << "runs under Xvfb (platform_window_x11_clipboard)";
    InitWindowSystem(std::make_unique<TSdlWindowBackend>());
  }
  void TearDown() override { DoneWindowSystem(); }
  void Put(uint32_t format, std::vector<uint8_t> data) {
    ASSERT_TRUE(OpenClipboard(0));
    ASSERT_TRUE(EmptyClipboard());
    ASSERT_TRUE(SetClipboardData(format, std::move(data)));
    ASSERT_TRUE(CloseClipboard());
  }
  std::vector<uint8_t> Text(const char16_t* s) {
    std::u16string t(s);
    std::vector<uint8_t> b((t.size() + 1) * 2, 0);
    std::memcpy(b.data(), t.data(), t.size() * 2);
    return b;
  }
};

TEST_F(SdlClipboardX11, OtherProgramsReadOurBitmapAsPngAndBmp) {
  Put(CF_DIB, SampleDib());
  std::string targets;
  ASSERT_TRUE(RunTool({"xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"}, "", targets));
  EXPECT_NE(targets.find("image/png"), std::string::npos) << targets;
  EXPECT_NE(targets.find("image/bmp"), std::string::npos) << targets;
  EXPECT_NE(targets.find("TARGETS"), std::string::npos) << targets;

  std::string png;
  ASSERT_TRUE(RunTool({"xclip", "-o", "-selection", "clipboard", "-t", "image/png"}, "", png));
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size())) << png.size();
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr));
  ASSERT_EQ(image.width, 3u);
  ASSERT_EQ(image.height, 2u);
  const std::vector<uint8_t> want = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255,
                                     255, 255, 255, 255, 0, 0, 0, 255, 128, 128, 128, 255};
  EXPECT_EQ(rgba, want);

  std::string bmp;
  ASSERT_TRUE(RunTool({"xclip", "-o", "-selection", "clipboard", "-t", "image/bmp"}, "", bmp));
  ASSERT_EQ(bmp.size(), 14 + SampleDib().size());
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(uint8_t(bmp[10]), 54);
  // The bitmap is still ours.
  ASSERT_TRUE(OpenClipboard(0));
  std::vector<uint8_t> back;
  EXPECT_TRUE(GetClipboardData(CF_DIB, back));
  EXPECT_EQ(back, SampleDib());
  EXPECT_TRUE(CloseClipboard());
}

TEST_F(SdlClipboardX11, TextGoesBothWays) {
  // Ours out.
  Put(CF_UNICODETEXT, Text(u"Gr\u00FC\u00DFe \u2713"));
  std::string out;
  ASSERT_TRUE(RunTool({"xclip", "-o", "-selection", "clipboard"}, "", out));
  EXPECT_EQ(out, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93");

  // Theirs in: xclip takes the clipboard (staying in front with -quiet,
  // so it can be ended by its pid); our change stamp moves and the paste
  // reads its text.
  const uint32_t before = GetClipboardSequenceNumber();
  pid_t xclip = 0;
  ASSERT_TRUE(RunTool({"xclip", "-quiet", "-i", "-selection", "clipboard"}, "from xclip \xC3\xA9", out, &xclip));
  EXPECT_TRUE(PumpUntil([&] { return GetClipboardSequenceNumber() != before; }));
  ASSERT_TRUE(OpenClipboard(0));
  std::vector<uint8_t> got;
  EXPECT_TRUE(GetClipboardData(CF_UNICODETEXT, got));
  EXPECT_TRUE(CloseClipboard());
  const std::u16string want = u"from xclip \u00E9";
  ASSERT_EQ(got.size(), (want.size() + 1) * 2);
  EXPECT_EQ(std::memcmp(got.data(), want.c_str(), got.size()), 0);
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));
  kill(xclip, SIGTERM);
  int status = 0;
  waitpid(xclip, &status, 0);

  // Our bitmap after their text: ours again, and their text is gone.
  Put(CF_DIB, SampleDib());
  std::string targets;
  ASSERT_TRUE(RunTool({"xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"}, "", targets));
  EXPECT_NE(targets.find("image/png"), std::string::npos);
  EXPECT_EQ(targets.find("UTF8_STRING"), std::string::npos);
}

// An empty text block is put and read back as it is.
TEST_F(SdlClipboardX11, EmptyTextBlock) {
  Put(CF_UNICODETEXT, {});
  ASSERT_TRUE(OpenClipboard(0));
  std::vector<uint8_t> got{1};
  EXPECT_TRUE(GetClipboardData(CF_UNICODETEXT, got));
  EXPECT_TRUE(got.empty());
  EXPECT_TRUE(CloseClipboard());
}

// A 5 MB text that xclip sends in increments; then an owner that never
// answers (xclip stopped): the paste gives up after a short wait, a second
// paste from the same owner does not wait again, and a new owner is asked.
TEST_F(SdlClipboardX11, LargeTextsAndOwnersThatDoNotAnswer) {
  std::string big(5 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 1000) big[i] = char('a' + (i / 1000) % 26);
  std::string out;
  pid_t xclip = 0;
  ASSERT_TRUE(RunTool({"xclip", "-quiet", "-i", "-selection", "clipboard"}, big, out, &xclip));
  std::vector<uint8_t> got;
  EXPECT_TRUE(PumpUntil([&] {
    bool ok = OpenClipboard(0) && GetClipboardData(CF_UNICODETEXT, got);
    CloseClipboard();
    return ok;
  }));
  ASSERT_EQ(got.size(), (big.size() + 1) * 2);
  bool same = true;
  for (size_t i = 0; i < big.size() && same; ++i) same = got[2 * i] == uint8_t(big[i]) && got[2 * i + 1] == 0;
  EXPECT_TRUE(same);

  int status = 0;
  kill(xclip, SIGTERM);
  waitpid(xclip, &status, 0);

  // A new owner, stopped once it has answered another program.
  ASSERT_TRUE(RunTool({"xclip", "-quiet", "-i", "-selection", "clipboard"}, "silent", out, &xclip));
  EXPECT_TRUE(PumpUntil([&] {
    std::string theirs;
    return RunTool({"xclip", "-o", "-selection", "clipboard"}, "", theirs) && theirs == "silent";
  }));
  kill(xclip, SIGSTOP);
  auto paste_ms = [&](bool& read) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(OpenClipboard(0));
    std::vector<uint8_t> data;
    read = GetClipboardData(CF_UNICODETEXT, data);
    EXPECT_TRUE(CloseClipboard());
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  // A long wait for the answer keeps a paste that waited and one that did
  // not far apart, however slow a loaded machine makes the rest.
  TSdlClipboard::SetAnswerWaitMs(4000);
  bool read = true;
  const double first = paste_ms(read);
  EXPECT_FALSE(read);
  EXPECT_GE(first, 3900.0);  // the owner was given its time to answer
  const double second = paste_ms(read);
  EXPECT_FALSE(read);
  EXPECT_LT(second, 2000.0) << "a second paste waited for the same silent owner again";
  TSdlClipboard::SetAnswerWaitMs(500);
  kill(xclip, SIGKILL);
  waitpid(xclip, &status, 0);

  // A new owner is asked again.
  ASSERT_TRUE(RunTool({"xclip", "-quiet", "-i", "-selection", "clipboard"}, "again", out, &xclip));
  EXPECT_TRUE(PumpUntil([&] {
    std::vector<uint8_t> data;
    bool ok = OpenClipboard(0) && GetClipboardData(CF_UNICODETEXT, data);
    CloseClipboard();
    return ok && data.size() == 12;
  }));
  kill(xclip, SIGTERM);
  waitpid(xclip, &status, 0);
}

}  // namespace
}  // namespace kav::win
