#include <gtest/gtest.h>

#include "VoRav/vxPaths.h"

using namespace kav;

TEST(Paths, DrivesAndComponents) {
  EXPECT_EQ(ExtractFileDriveLength(u"c:\\x"), 2u);
  EXPECT_EQ(ExtractFileDriveLength(u"\\\\srv\\share\\dir"), 11u);
  EXPECT_EQ(ExtractFileDriveLength(u"\\\\srv"), 0u);
  EXPECT_EQ(ExtractFileDriveLength(u"\\\\srv\\"), 0u);  // no share name
  EXPECT_EQ(ExtractFileDriveLength(u"/home/x"), 0u);
  EXPECT_EQ(ExtractFileDrive(u"\\\\srv\\share"), u"\\\\srv\\share");

  EXPECT_EQ(ExtractFileDir(u"C:\\dir\\", true), u"C:\\");
  EXPECT_EQ(ExtractFileDir(u"C:\\dir\\", false), u"C:");
  EXPECT_EQ(ExtractFileDir(u"/home/u/f.txt", false), u"/home/u");
  EXPECT_EQ(ExtractFileDir(u"file", true), u"");
  EXPECT_EQ(ExtractLastPathPart(u"C:\\a\\dir\\"), u"dir");
  EXPECT_EQ(ExtractLastPathPart(u"/opt/kav/player"), u"player");
  EXPECT_EQ(ExtractParentPath(u"a\\b\\c", true), u"a\\b\\");

  EXPECT_EQ(ExtractFileExt(u"C:\\a.b\\c"), u"");
  EXPECT_EQ(ExtractFileExt(u"x/pic.JPG"), u".JPG");
  EXPECT_EQ(ChangeFileExt(u"a.txt", u"log"), u"a.log");
  EXPECT_EQ(ChangeFileExt(u"/usr/bin/kav", u".log"), u"/usr/bin/kav.log");
  EXPECT_EQ(ChangeFileExt(u"dir.d\\name", u".kvshow"), u"dir.d\\name.kvshow");
  EXPECT_EQ(ChangeFileExt(u"a.txt", u""), u"a");
}

TEST(Paths, TrailingSeparatorAndCombine) {
  EXPECT_EQ(IncludeTrailingBackslash(u"C:\\dir"), u"C:\\dir\\");
  EXPECT_EQ(IncludeTrailingBackslash(u"/tmp"), u"/tmp/");       // a Linux path keeps its kind
  EXPECT_EQ(IncludeTrailingBackslash(u"/tmp/"), u"/tmp/");
  EXPECT_EQ(ExcludeTrailingBackslash(u"C:\\dir\\"), u"C:\\dir");
  EXPECT_EQ(SetTrailingBackslash(u"x", false), u"x");

  EXPECT_EQ(PathCombine(u"C:\\dir\\", u"\\x"), u"C:\\dir\\x");
  EXPECT_EQ(PathCombine(u"C:\\dir", u""), u"C:\\dir");
  EXPECT_EQ(PathCombine(u"C:\\dir", u"x"), u"C:\\dir\\x");
  EXPECT_EQ(PathCombine(u"C:\\dir", u"\\x"), u"C:\\dir\\x");
  EXPECT_EQ(PathCombine(u"", u"x"), u"x");
  EXPECT_EQ(PathCombine(u"/home/u", u"show.kav"), u"/home/u/show.kav");
  EXPECT_EQ(PathCombine(u"/home/u/", u"img\\a.jpg"), u"/home/u/img\\a.jpg");
}

TEST(Paths, SafeCombineKeepsShowNamesInsideTheFolder) {
  std::u16string r = u"unchanged";
  for (const char16_t* bad :
       {u"..", u"..\\x", u"a\\..\\..\\etc", u"a/../../etc", u"\\x", u"/etc/passwd", u"C:x", u"c:\\x",
        u"\\\\srv\\share\\x", u"\\\\?\\C:\\x", u"a\\.. \\x", u"a\\...\\x"}) {
    EXPECT_FALSE(SafePathCombine(u"/show", bad, r));
    EXPECT_EQ(r, u"unchanged");
  }
  EXPECT_FALSE(SafePathCombine(u"/show", std::u16string(u"a\0b", 3), r));

  for (const char16_t* good : {u"pic.jpg", u"img\\a.jpg", u"..pic", u"a..b\\c", u".\\x", u""})
    EXPECT_TRUE(SafePathCombine(u"/show", good, r));
  ASSERT_TRUE(SafePathCombine(u"/show", u"img\\a.jpg", r));
  EXPECT_EQ(r, u"/show/img\\a.jpg");
}

TEST(Paths, RelativePath) {
  EXPECT_EQ(ExtractRelativePath(u"C:\\a\\b", u"C:\\a\\c\\f.txt"), u"..\\c\\f.txt");
  EXPECT_EQ(ExtractRelativePath(u"C:\\a\\b", u"D:\\a\\c\\f.txt"), u"D:\\a\\c\\f.txt");
  EXPECT_EQ(ExtractRelativePath(u"c:\\A\\b\\", u"C:\\a\\B\\sub\\f.txt"), u"sub\\f.txt");  // case ignored
  EXPECT_EQ(ExtractRelativePath(u"C:\\a\\b", u"C:\\a\\b"), u"");
  EXPECT_EQ(ExtractRelativePath(u"C:\\x\\y\\z", u"C:\\f.txt"), u"..\\..\\..\\f.txt");
  EXPECT_EQ(ExtractRelativePath(u"rel\\dir", u"rel\\f.txt"), u"rel\\f.txt");  // no root: unchanged
  // Linux paths have "/" as their root.
  EXPECT_EQ(ExtractRelativePath(u"/home/u/shows", u"/home/u/pics/a.jpg"), u"../pics/a.jpg");
  EXPECT_EQ(ExtractRelativePath(u"/home/u", u"C:\\x"), u"C:\\x");
}
