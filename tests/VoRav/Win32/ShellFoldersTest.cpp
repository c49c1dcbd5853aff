#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "../TempFolder.h"
#include "VoRav/Win32/winShellFolders.h"

using namespace kav;
using kav::test::TTempFolder;

namespace {

// Sets (or, with nullptr, removes) an environment variable for one test.
class TEnvVar {
 public:
  TEnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~TEnvVar() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::u16string Expanded(std::u16string path, bool prefix_only, bool* answer = nullptr) {
  const bool r = ExpandEnvironmentPath(path, prefix_only);
  if (answer) *answer = r;
  return path;
}

}  // namespace

TEST(ShellFolders, VariablesMapToXdgFolders) {
  TTempFolder t;
  TEnvVar home("HOME", t.Sys("home").c_str());
  TEnvVar config("XDG_CONFIG_HOME", t.Sys("cfg/").c_str());
  TEnvVar data("XDG_DATA_HOME", "relative/share");  // not absolute: the default applies
  TEnvVar dirs("XDG_DATA_DIRS", "rel:/opt/share:/usr/share");

  bool ok = false;
  EXPECT_EQ(Expanded(u"%APPDATA%\\Orvane\\Styles", true, &ok), t.Wide("cfg") + u"/Orvane\\Styles");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Expanded(u"%appdata%Orvane", true), t.Wide("cfg") + u"/Orvane");
  EXPECT_EQ(Expanded(u"%LocalAppData%\\x", true), t.Wide("home") + u"/.local/share/x");
  EXPECT_EQ(Expanded(u"%PROGRAMDATA%/x", true), u"/opt/share/x");

  std::u16string folder = u"junk";
  EXPECT_EQ(GetSpecialFolderPath(kFolderWindows, folder), ENOENT);
  EXPECT_TRUE(folder.empty());

  // What cannot be resolved, or is not a variable, stays; the answer is false.
  for (const char16_t* path : {u"%SYSTEMROOT%\\Fonts\\a.ttf", u"%windir%\\x", u"%UNKNOWN%\\x",
                               u"C:%TEMP%\\x", u"%LOCALAPPDATAXY%\\x", u"%APPDATA", u"x\\%TEMP%"}) {
    EXPECT_EQ(Expanded(path, true, &ok), path);
    EXPECT_FALSE(ok);
  }
  // Without the prefix rule every variable counts; one that cannot be resolved makes the answer false.
  EXPECT_EQ(Expanded(u"a\\%APPDATA%\\b", false, &ok), u"a\\" + t.Wide("cfg") + u"/b");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Expanded(u"%WINDIR%\\%APPDATA%\\b", false, &ok), u"%WINDIR%\\" + t.Wide("cfg") + u"/b");
  EXPECT_FALSE(ok);

}

TEST(ShellFolders, TempFolderIsTheFirstExistingOne) {
  TTempFolder t;
  std::filesystem::create_directory(t.Sys("temp"));
  TEnvVar tmpdir("TMPDIR", t.Sys("missing-tmpdir").c_str());
  TEnvVar tmp("TMP", t.Sys("missing-tmp").c_str());
  TEnvVar temp("TEMP", t.Sys("temp").c_str());
  EXPECT_EQ(GetTempFolder(false), t.Wide("temp"));
  EXPECT_EQ(GetTempFolder(true), t.Wide("temp") + u"/");
  EXPECT_EQ(Expanded(u"%TMP%", true), t.Wide("temp") + u"/");
  EXPECT_EQ(Expanded(u"%Temp%\\show.kvshow", true), t.Wide("temp") + u"/show.kvshow");

  TEnvVar root("TEMP", "/");  // the root is never the temporary folder
  EXPECT_EQ(GetTempFolder(false), u"/tmp");
}
