#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "VoRav/Win32/winAPI0.h"

using namespace kav;

namespace {

TOSVersionInfo Version(uint32_t major, uint32_t minor, const char* service_pack = "") {
  return TOSVersionInfo{2, major, minor, 0, service_pack};
}

std::string CurrentDir() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

int ProbeId(TLibHandle lib) {
  auto fn = reinterpret_cast<int (*)()>(GetProcAddressEx(lib, "KavProbeId"));
  return fn ? fn() : -1;
}

}  // namespace

TEST(OSVersion, CodesAndSets) {
  EXPECT_EQ(DetectOSVersionCode(Version(3, 51)), kOSWinNT3);
  EXPECT_EQ(DetectOSVersionCode(Version(4, 0)), kOSWin95);
  EXPECT_EQ(DetectOSVersionCode(Version(4, 10, " A ")), kOSWin98);
  EXPECT_EQ(DetectOSVersionCode(Version(4, 10, "A")), kOSWin98SE);
  EXPECT_EQ(DetectOSVersionCode(Version(4, 90)), kOSWinMe);
  EXPECT_EQ(DetectOSVersionCode(Version(5, 2)), kOSWin2003);
  EXPECT_EQ(DetectOSVersionCode(Version(6, 1)), kOSWin7);
  EXPECT_EQ(DetectOSVersionCode(Version(6, 3)), kOSWinLater);
  EXPECT_EQ(DetectOSVersionCode(Version(10, 0)), kOSWinLater);

  for (uint8_t code = 0; code <= 15; ++code) {
    EXPECT_EQ(IsOSVersionCodeInSet(code, kOSSet2000OrLater), code >= 7 && code <= 13) << int(code);
    EXPECT_EQ(IsOSVersionCodeInSet(code, kOSSet9x), code >= 1 && code <= 5) << int(code);
  }
  EXPECT_FALSE(IsOSVersionCodeInSet(16, 0xFFFF));
  EXPECT_FALSE(IsOSVersionCodeInSet(255, 0xFFFF));

  // The running system is reported as the 2000-or-later family, never 9x.
  EXPECT_EQ(GetOSVersionCode(), DetectOSVersionCode(GetOSVersionInfo()));
  EXPECT_TRUE(IsOSVersionInSet());
  EXPECT_FALSE(IsOSVersionInSet(kOSSet9x));
  EXPECT_FALSE(IsWow64());
}

TEST(OSVersion, ExpandEnvStrings) {
  setenv("KAV_TEST_VAR", "value \xC3\xBC", 1);
  unsetenv("KAV_NO_SUCH_VAR");
  EXPECT_EQ(ExpandEnvStrings(u"a%KAV_TEST_VAR%b"), u"avalue \u00FCb");
  EXPECT_EQ(ExpandEnvStrings(u"%kav_test_var%"), u"value \u00FC");  // names ignore case
  EXPECT_EQ(ExpandEnvStrings(u"%KAV_NO_SUCH_VAR%"), u"%KAV_NO_SUCH_VAR%");
  EXPECT_EQ(ExpandEnvStrings(u"%KAV_NO_SUCH_VAR%KAV_TEST_VAR%!"), u"%KAV_NO_SUCH_VARvalue \u00FC!");
  EXPECT_EQ(ExpandEnvStrings(u"100% sure, %%"), u"100% sure, %%");
  EXPECT_EQ(ExpandEnvStrings(u"%KAV_TEST_VAR"), u"%KAV_TEST_VAR");
  unsetenv("KAV_TEST_VAR");
}

TEST(Libraries, TheProgramFolderDecidesNotTheCurrentDirectory) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  const std::string old_dir = CurrentDir();
  // The current directory holds a library of the same name (id 3).
  ASSERT_EQ(chdir((folder + "/probe_sub").c_str()), 0);

  TLibHandle beside = SafeLoadLibrary(u"libkavprobe.so");
  EXPECT_EQ(ProbeId(beside), 1);
  TLibHandle sub = SafeLoadLibraryW(u"probe_sub\\libkavprobe.so");  // relative to the program
  EXPECT_EQ(ProbeId(sub), 3);
  EXPECT_EQ(SafeLoadLibraryA("../libkavprobe.so"), nullptr);  // would be id 1 from the current directory
  TLibHandle absolute = SafeLoadLibraryA(folder + "/probe_sub/libkavprobe.so");
  EXPECT_EQ(ProbeId(absolute), 3);
  EXPECT_EQ(CurrentDir(), folder + "/probe_sub");

  // Ordinals do not exist here; a small value is never read as a name.
  EXPECT_EQ(GetProcAddressEx(beside, reinterpret_cast<const char*>(5)), nullptr);
  EXPECT_EQ(GetProcAddressEx(beside, "NoSuchFunction"), nullptr);
  EXPECT_EQ(GetProcAddressEx(nullptr, "KavProbeId"), nullptr);
  EXPECT_EQ(SafeLoadLibraryA(""), nullptr);
  EXPECT_EQ(SafeLoadLibrary(std::u16string(u"libkavprobe.so\0x", 16)), nullptr);

  // A plain system name comes from the system's library path.
  TLibHandle libm = SafeLoadLibrary(u"libm.so.6");
  ASSERT_NE(libm, nullptr);
  auto cos_fn = reinterpret_cast<double (*)(double)>(GetProcAddressEx(libm, "cos"));
  ASSERT_NE(cos_fn, nullptr);
  EXPECT_EQ(cos_fn(0.0), 1.0);

  for (TLibHandle h : {beside, sub, absolute, libm}) FreeLibraryHandle(h);
  FreeLibraryHandle(nullptr);
  ASSERT_EQ(chdir(old_dir.c_str()), 0);
}
