// Library path texts: relative steps, trailing backslashes, percent tokens.
#include <gtest/gtest.h>

#include "VoRav/Music/vxLibPaths.h"

namespace kav {
namespace {

TEST(LibPaths, RelativeStepsClimbTheBase) {
  EXPECT_EQ(ExpandRelativePath(u"C:\\A\\B\\", u"..\\..\\x.dll"), u"C:\\x.dll");
  EXPECT_EQ(ExpandRelativePath(u"C:\\A", u"..\\"), u"C:");
  EXPECT_EQ(ExpandRelativePath(u"C:\\A\\B", u"lib\\y.dll"), u"C:\\A\\B\\lib\\y.dll");
  EXPECT_EQ(ExpandRelativePath(u"C:\\A\\B", u"..\\Common\\FFmpeg.dll"), u"C:\\A\\Common\\FFmpeg.dll");
  EXPECT_EQ(ExpandRelativePath(u"C:\\A", u"D:\\lib.dll"), u"D:\\lib.dll");
  EXPECT_EQ(ExpandRelativePath(u"C:\\A", u"\\\\server\\share\\x"), u"\\\\server\\share\\x");
  // More steps than folders: nothing is left of the base, nothing breaks.
  EXPECT_EQ(ExpandRelativePath(u"A", u"..\\..\\..\\x"), u"\\x");
  // The program's folder is a Linux path.
  EXPECT_EQ(ExpandRelativePath(u"/opt/kav/bin", u"..\\Common\\x.dll"), u"/opt/kav\\Common\\x.dll");
}

TEST(LibPaths, TrailingBackslash) {
  EXPECT_EQ(SetTrailingBackslash(u"", true), u"");
  EXPECT_EQ(SetTrailingBackslash(u"C:\\A", true), u"C:\\A\\");
  EXPECT_EQ(SetTrailingBackslash(u"C:\\A\\", true), u"C:\\A\\");
  EXPECT_EQ(SetTrailingBackslash(u"C:\\A\\", false), u"C:\\A");
  EXPECT_EQ(SetTrailingBackslash(u"C:\\A", false), u"C:\\A");
}

TEST(LibPaths, PercentTokens) {
  int32_t pos = 1;
  std::u16string token;
  ASSERT_TRUE(ExtractPercentToken(u"a%TMP%b", pos, token));
  EXPECT_EQ(token, u"%TMP%");
  EXPECT_EQ(pos, 7);
  EXPECT_FALSE(ExtractPercentToken(u"a%TMP%b", pos, token));
  EXPECT_EQ(pos, 8);
  pos = -5;  // taken as 1
  std::string narrow;
  ASSERT_TRUE(ExtractPercentToken(u"%A%%B%", pos, narrow));
  EXPECT_EQ(narrow, "%A%");
  ASSERT_TRUE(ExtractPercentToken(u"%A%%B%", pos, narrow));
  EXPECT_EQ(narrow, "%B%");
  pos = 1;
  EXPECT_FALSE(ExtractPercentToken(u"50% only", pos, token));
  pos = 100;
  EXPECT_FALSE(ExtractPercentToken(u"%x%", pos, token));
}

TEST(LibPaths, MissingLibrariesAndExports) {
  EXPECT_EQ(LoadLibraryFromString(u""), nullptr);
  EXPECT_EQ(LoadLibraryFromString(u"/nonexistent/none.so"), nullptr);
  EXPECT_EQ(GetProcAddressFromString(nullptr, "x"), nullptr);
  TLibHandle libc = LoadLibraryFromString(u"libc.so.6");
  ASSERT_NE(libc, nullptr);
  EXPECT_NE(GetProcAddressFromString(libc, "strlen"), nullptr);
  EXPECT_EQ(GetProcAddressFromString(libc, "NoSuchExportHere"), nullptr);
  FreeLibraryHandle(libc);
}

}  // namespace
}  // namespace kav
