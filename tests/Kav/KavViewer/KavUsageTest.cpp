#include <gtest/gtest.h>

#include <cstdlib>

#include "Kav/KavViewer/KavMainForm.h"
#include "Kav/KavViewer/KavUsage.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/vxCommandLine.h"
#include "VoRav/vxPaths.h"
#include "tests/VoRav/TempFolder.h"

using namespace kav;

namespace {

Ref<TCommandsStorage> Commands(const std::u16string& line) {
  auto store = MakeRef<TCommandsStorage>();
  ParseCommandLine(line, nullptr, store.get());
  return store;
}

// Sets an environment variable for the scope of a test, then restores it.
class TEnvScope {
 public:
  TEnvScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~TEnvScope() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(PlayerUsage, AskedForByHelpOrH) {
  EXPECT_TRUE(WantsUsage(Commands(u"kavplay --help").get()));
  EXPECT_TRUE(WantsUsage(Commands(u"kavplay -h").get()));
  EXPECT_TRUE(WantsUsage(Commands(u"kavplay show.kvshow --HELP").get()));
  EXPECT_FALSE(WantsUsage(Commands(u"kavplay show.kvshow -slide 2").get()));
  EXPECT_FALSE(WantsUsage(Commands(u"kavplay help").get()));
}

TEST(PlayerUsage, NamesEveryOptionTheKeysAndTheFiles) {
  const std::string text = PlayerUsage("kavplay");
  EXPECT_EQ(text.rfind("Usage: kavplay ", 0), 0u);
  for (const char* option : {"-filename", "-exename", "-slide", "-time", "-display", "-desktopalign", "-resize",
                             "-startup", "-log", "-filelog", "--help"})
    EXPECT_NE(text.find(std::string(" ") + option + " "), std::string::npos) << option;
  EXPECT_NE(text.find(" --allow-programs=NAME[,NAME...]\n"), std::string::npos);
  // What naming a program allows, and what "show" runs, said plainly.
  for (const char* words : {"with whatever arguments", "refused even", "runs whatever code the show brings",
                            "a copy of", "packed show", "whatever its options\n                   allow",
                            "arguments of their choosing", "does\n                   not make a named program safe"})
    EXPECT_NE(text.find(words), std::string::npos) << words;
  for (const char* key : {"Esc", "Space", "F1", "Page Down", "Home", "wheel"})
    EXPECT_NE(text.find(key), std::string::npos) << key;
  // What "previous" does, and when the music follows a move of the show.
  for (const char* words : {"back to the start of the slide on screen; within\n", "0.5 s of that start, to the slide before",
                            "runs free unless its [Main] has opt_syncmode=1", "whatever -slide, -time, the keys or the wheel"})
    EXPECT_NE(text.find(words), std::string::npos) << words;
  EXPECT_NE(text.find("kavplayer/registry"), std::string::npos);
  // The log is in the user's state folder, never beside the program.
  EXPECT_NE(text.find("$XDG_STATE_HOME/kavplayer/kavplay.log"), std::string::npos);
  // Every path the user sees is a Linux path.
  EXPECT_EQ(text.find('\\'), std::string::npos);
}

TEST(PlayerUsage, TheUserLogFolderFollowsXdgStateHome) {
  {
    TEnvScope state("XDG_STATE_HOME", "/s");
    EXPECT_EQ(UserLogPath(), u"/s/kavplayer/kavplay.log");
  }
  {
    TEnvScope state("XDG_STATE_HOME", "relative");  // not absolute: ignored
    TEnvScope home("HOME", "/h");
    EXPECT_EQ(UserLogPath(), u"/h/.local/state/kavplayer/kavplay.log");
  }
  {
    TEnvScope state("XDG_STATE_HOME", nullptr);
    TEnvScope home("HOME", nullptr);
    EXPECT_EQ(UserLogPath(), u"");
  }
}

TEST(ShowChoice, TheCommandLineNamesAShowAFolderOrNothing) {
  test::TTempFolder t;
  t.WriteFile("proj/Project.kav", "x");
  t.WriteFile("empty/readme.txt", "x");

  TShowChoice c = ChooseShow(Commands(u"kavplay " + t.Wide("proj")).get());
  EXPECT_TRUE(c.Named);
  EXPECT_FALSE(c.Packed);
  EXPECT_EQ(c.Path, PathCombine(t.Wide("proj"), u"Project.kav"));
  EXPECT_EQ(ShowChoiceProblem(c), u"");

  c = ChooseShow(Commands(u"kavplay -filename " + t.Wide("proj")).get());
  EXPECT_EQ(c.Path, PathCombine(t.Wide("proj"), u"Project.kav"));
  EXPECT_EQ(ShowChoiceProblem(c), u"");

  // A folder without a project, named either way, is said so by name.
  for (const std::u16string& line : {u"kavplay " + t.Wide("empty"), u"kavplay -filename " + t.Wide("empty")}) {
    c = ChooseShow(Commands(line).get());
    EXPECT_EQ(c.Folder, t.Wide("empty"));
    const std::u16string problem = ShowChoiceProblem(c);
    EXPECT_NE(problem.find(u"The folder " + t.Wide("empty") + u" holds no project"), std::u16string::npos);
  }

  // A named file that does not exist is left to the opening, which names it.
  c = ChooseShow(Commands(u"kavplay " + t.Wide("none.kvshow")).get());
  EXPECT_TRUE(c.Packed);
  EXPECT_TRUE(c.Folder.empty());
  EXPECT_EQ(ShowChoiceProblem(c), u"");
  // -exename and -filename win over a plain argument.
  c = ChooseShow(Commands(u"kavplay " + t.Wide("proj") + u" -exename " + t.Wide("a.kvshow")).get());
  EXPECT_TRUE(c.Packed);
  EXPECT_EQ(c.Path, t.Wide("a.kvshow"));

  // Nothing named: the test program carries no show and has none beside it.
  c = ChooseShow(Commands(u"kavplay -slide 2").get());
  EXPECT_FALSE(c.Named);
  EXPECT_TRUE(c.Packed);
  EXPECT_EQ(c.Path, GetProgramFileName());
  EXPECT_NE(ShowChoiceProblem(c).find(u"No show to play"), std::u16string::npos);
}

namespace {

TEST(KavUsage, DeviceChoiceFromTheOptionThenTheEnvironment) {
  std::string problem;
  EXPECT_EQ(ChooseDevice(Commands(u"kavplay show.kvshow").get(), nullptr, &problem), TDeviceChoice::Auto);
  EXPECT_EQ(ChooseDevice(Commands(u"kavplay show.kvshow --device=gl").get(), nullptr, &problem), TDeviceChoice::Gl);
  EXPECT_EQ(ChooseDevice(Commands(u"kavplay --device=SW").get(), "gl", &problem), TDeviceChoice::Sw);
  EXPECT_EQ(ChooseDevice(Commands(u"kavplay --device sw").get(), nullptr, &problem), TDeviceChoice::Sw);
  EXPECT_TRUE(problem.empty());
  // The option wins over the environment; the environment over the default.
  EXPECT_EQ(ChooseDevice(Commands(u"kavplay --device=gl").get(), "sw", &problem), TDeviceChoice::Gl);
  EXPECT_EQ(ChooseDevice(Commands(u"kavplay").get(), "sw", &problem), TDeviceChoice::Sw);
  EXPECT_EQ(ChooseDevice(Commands(u"kavplay").get(), "", &problem), TDeviceChoice::Auto);
  // Anything else is reported and chooses by itself.
  EXPECT_EQ(ChooseDevice(Commands(u"kavplay").get(), "vulkan", &problem), TDeviceChoice::Auto);
  EXPECT_NE(problem.find("KAV_DEVICE \"vulkan\""), std::string::npos) << problem;
  problem.clear();
  EXPECT_EQ(ChooseDevice(Commands(u"kavplay --device").get(), nullptr, &problem), TDeviceChoice::Auto);
  EXPECT_NE(problem.find("--device"), std::string::npos);
  EXPECT_NE(PlayerUsage("kavplay").find("--device=gl|sw"), std::string::npos);
}

}  // namespace
