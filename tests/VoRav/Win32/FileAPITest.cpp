#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "../TempFolder.h"
#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/Win32/winPathMap.h"

using namespace kav;
using kav::test::TTempFolder;

namespace {

std::string Mapped(const std::u16string& name) {
  std::string p;
  return MapToSystemPath(name, p) ? p : std::string("<refused>");
}

// The same below a show's folder.
std::string MappedBelow(const std::u16string& name, const std::string& folder) {
  std::string p;
  return MapToSystemPathBelow(name, folder, p) ? p : std::string("<refused>");
}

std::vector<std::u16string> List(const std::u16string& pattern, int* error = nullptr) {
  std::vector<std::u16string> names;
  TFindData d;
  TFindHandle h = FileAPI()->FindFirst(pattern, d);
  if (error) *error = errno;
  if (h == kInvalidFind) return names;
  do names.push_back(d.Name);
  while (FileAPI()->FindNext(h, d));
  FileAPI()->FindClose(h);
  return names;
}

}  // namespace

TEST(FileGate, WindowsNamesBecomeLinuxPaths) {
  TTempFolder t;
  t.WriteFile("Show/Images/Pic.JPG", "jpeg");
  t.WriteFile("Show/exact.txt", "lower");
  t.WriteFile("Show/EXACT.txt", "upper");

  // Backslashes, any case, the "\\?\" prefix.
  EXPECT_EQ(Mapped(t.Wide() + u"\\show\\IMAGES\\pic.jpg"), t.Sys("Show/Images/Pic.JPG"));
  EXPECT_EQ(Mapped(u"\\\\?\\" + t.Wide() + u"\\Show\\images\\PIC.jpg"), t.Sys("Show/Images/Pic.JPG"));
  // An exact name wins over its other spellings; a missing spelling takes one of them, always the same.
  EXPECT_EQ(Mapped(t.Wide() + u"\\Show\\EXACT.txt"), t.Sys("Show/EXACT.txt"));
  EXPECT_EQ(Mapped(t.Wide() + u"\\Show\\Exact.TXT"), t.Sys("Show/EXACT.txt"));
  // A new name keeps its spelling under the existing folders.
  EXPECT_EQ(Mapped(t.Wide() + u"\\SHOW\\images\\New\\A.txt"), t.Sys("Show/Images/New/A.txt"));
  // Names that stand for nothing here.
  for (const char16_t* name : {u"C:\\Windows\\win.ini", u"c:x", u"\\\\srv\\share\\f", u"\\\\?\\UNC\\srv\\share\\f",
                               u"\\\\.\\PhysicalDrive0", u""})
    EXPECT_EQ(Mapped(name), "<refused>");
  EXPECT_EQ(FileAPI()->GetFileAttributes(u"C:\\"), kInvalidFileAttributes);

  // The cache follows changes of the folder.
  EXPECT_TRUE(FileExists(t.Wide() + u"\\show\\images\\pic.jpg"));
  std::filesystem::rename(t.Sys("Show/Images/Pic.JPG"), t.Sys("Show/Images/Other.jpg"));
  EXPECT_FALSE(FileExists(t.Wide() + u"\\show\\images\\pic.jpg"));
  EXPECT_TRUE(FileExists(t.Wide() + u"\\show\\images\\OTHER.JPG"));

  // Creating through a differently spelt folder lands in the existing one.
  THandle h = FileCreateHandle(t.Wide() + u"\\SHOW\\made.txt", kGenericWrite, 0, kCreateNew);
  EXPECT_EQ(FileWriteChecked(h, "abc", 3), 3);
  FileCloseChecked(h);
  EXPECT_EQ(t.ReadFile("Show/made.txt"), "abc");
}

// A name below a show's folder is spelt case-insensitively there too, but a
// folder reached through a link that leads out of it is never listed.
TEST(FileGate, NamesBelowAFolderNeverListAFolderOutsideIt) {
  TTempFolder t;
  t.WriteFile("outside/theme/btn.ini", "theme");
  t.WriteFile("show/pics/in.jpg", "in");
  ASSERT_EQ(symlink(t.Sys("outside/theme").c_str(), t.Sys("show/Buttons").c_str()), 0);
  ASSERT_EQ(symlink("pics", t.Sys("show/more").c_str()), 0);
  const std::string show = t.Sys("show");
  // Without the folder the linked folder outside is listed for the spelling.
  EXPECT_EQ(Mapped(t.Wide("show") + u"\\BUTTONS\\BTN.INI"), t.Sys("show/Buttons/btn.ini"));
  // Below it: the link is found in the show's folder, the folder it leads to
  // is not listed, so the rest stays as written.
  EXPECT_EQ(MappedBelow(t.Wide("show") + u"\\BUTTONS\\BTN.INI", show), t.Sys("show/Buttons/BTN.INI"));
  // Links that stay inside, and the folder's own spelling, still work.
  EXPECT_EQ(MappedBelow(t.Wide("show") + u"\\MORE\\IN.JPG", show), t.Sys("show/more/in.jpg"));
  EXPECT_EQ(MappedBelow(t.Wide("show") + u"\\Pics\\In.jpg", show), t.Sys("show/pics/in.jpg"));
  // Opening through the show's folder refuses the link either way.
  EXPECT_EQ(FileAPI()->OpenFileBeneath(t.Wide("show"), t.Wide("show") + u"\\BUTTONS\\BTN.INI"), kInvalidHandle);
  THandle in = FileAPI()->OpenFileBeneath(t.Wide("show"), t.Wide("show") + u"\\MORE\\IN.JPG");
  EXPECT_NE(in, kInvalidHandle);
  if (in != kInvalidHandle) FileAPI()->CloseHandle(in);
}

// A name typed in one Unicode normal form finds the file stored in the
// other (a file from a Mac is named decomposed), in any case, also below a
// show's folder; ".." still never leads out.
TEST(FileGate, NamesMatchWhateverTheirUnicodeNormalForm) {
  TTempFolder t;
  t.WriteFile("show/Fotos/Cafe\xCC\x81.jpg", "decomposed");   // e and U+0301
  t.WriteFile("show/Ma\xCC\x88rz/x.jpg", "folder decomposed");  // a and U+0308
  t.WriteFile("show/\xC3\x85sa.jpg", "composed");                // U+00C5
  t.WriteFile("secret/Caf\xC3\xA9.jpg", "outside");
  const std::string show = t.Sys("show");
  EXPECT_EQ(Mapped(t.Wide("show") + u"\\Fotos\\Caf\u00E9.jpg"), t.Sys("show/Fotos/Cafe\xCC\x81.jpg"));
  EXPECT_EQ(MappedBelow(t.Wide("show") + u"\\fotos\\CAF\u00C9.JPG", show), t.Sys("show/Fotos/Cafe\xCC\x81.jpg"));
  EXPECT_EQ(MappedBelow(t.Wide("show") + u"\\M\u00E4rz\\x.jpg", show), t.Sys("show/Ma\xCC\x88rz/x.jpg"));
  EXPECT_EQ(MappedBelow(t.Wide("show") + u"\\A\u030Asa.jpg", show), t.Sys("show/\xC3\x85sa.jpg"));
  THandle h = FileAPI()->OpenFileBeneath(t.Wide("show"), t.Wide("show") + u"\\Fotos\\Caf\u00E9.jpg");
  EXPECT_NE(h, kInvalidHandle);
  if (h != kInvalidHandle) FileAPI()->CloseHandle(h);
  EXPECT_EQ(FileAPI()->OpenFileBeneath(t.Wide("show"), t.Wide("show") + u"\\..\\secret\\Cafe\u0301.jpg"),
            kInvalidHandle);
}

TEST(FileGate, FindListsSortedAndReportsWhatIsMissing) {
  TTempFolder t;
  t.WriteFile("d/b.JPG", "12345");
  t.WriteFile("d/a.jpg", "");
  t.WriteFile("d/c.txt", "");
  t.WriteFile("d/noext", "");
  std::filesystem::create_directory(t.Sys("d/Sub"));

  EXPECT_EQ(List(t.Wide("d") + u"\\*.jpg"), (std::vector<std::u16string>{u"a.jpg", u"b.JPG"}));
  EXPECT_EQ(List(t.Wide("d") + u"\\*.*").size(), 7u);  // "." and ".." too, as Windows lists them
  EXPECT_EQ(List(t.Wide("d") + u"\\?.*"), (std::vector<std::u16string>{u"..", u"a.jpg", u"b.JPG", u"c.txt"}));
  EXPECT_EQ(List(t.Wide("D") + u"\\B.jpg"), (std::vector<std::u16string>{u"b.JPG"}));

  TFindData d;
  TFindHandle h = FileAPI()->FindFirst(t.Wide("d") + u"\\b.jpg", d);
  ASSERT_NE(h, kInvalidFind);
  EXPECT_EQ(d.Size, 5);
  EXPECT_EQ(d.Attributes, kFileAttributeNormal);
  EXPECT_GT(d.LastWriteTime, 0);
  FileAPI()->FindClose(h);

  int error = 0;
  EXPECT_TRUE(List(t.Wide("d") + u"\\*.png", &error).empty());
  EXPECT_EQ(error, ENOENT);
  EXPECT_TRUE(List(t.Wide("missing") + u"\\*", &error).empty());
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_TRUE(List(t.Wide("d/c.txt") + u"\\*", &error).empty());
  EXPECT_EQ(error, ENOTDIR);
}

TEST(FileGate, AttributesAndOpening) {
  TTempFolder t;
  t.WriteFile("f.txt", "x");
  t.WriteFile("ro.txt", "x");
  chmod(t.Sys("ro.txt").c_str(), 0444);
  std::filesystem::create_directory(t.Sys("dir"));
  std::filesystem::create_directory_symlink(t.Sys("dir"), t.Sys("dirlink"));
  std::filesystem::create_symlink(t.Sys("nowhere"), t.Sys("dangling"));
  ASSERT_EQ(mkfifo(t.Sys("fifo").c_str(), 0600), 0);

  TFileAPI* api = FileAPI();
  EXPECT_EQ(api->GetFileAttributes(t.Wide("f.txt")), kFileAttributeNormal);
  EXPECT_EQ(api->GetFileAttributes(t.Wide("ro.txt")), kFileAttributeReadOnly);
  EXPECT_EQ(api->GetFileAttributes(t.Wide("dir")), kFileAttributeDirectory);
  EXPECT_EQ(api->GetFileAttributes(t.Wide("dirlink")), kFileAttributeDirectory | kFileAttributeReparsePoint);
  EXPECT_EQ(api->GetFileAttributes(t.Wide("dangling")), kFileAttributeReparsePoint);
  EXPECT_FALSE(FileExists(t.Wide("dangling")));
  EXPECT_TRUE(DirectoryExists(t.Wide("dirlink")));
  EXPECT_FALSE(FileExists(t.Wide("dir")));

  EXPECT_EQ(api->CreateFile(t.Wide("dir"), kGenericRead, 0, kOpenExisting, 0), kInvalidHandle);
  EXPECT_EQ(errno, EISDIR);
  // A FIFO would block the opener and is no file: refused at once.
  EXPECT_EQ(api->CreateFile(t.Wide("fifo"), kGenericRead, 0, kOpenExisting, 0), kInvalidHandle);
  EXPECT_EQ(api->CreateFile(t.Wide("f.txt"), kGenericWrite, 0, kCreateNew, 0), kInvalidHandle);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(api->CreateFile(t.Wide("none"), kGenericRead, 0, kOpenExisting, 0), kInvalidHandle);
  EXPECT_EQ(errno, ENOENT);

  t.WriteFile("g.txt", "y");
  EXPECT_FALSE(api->MoveFileEx(t.Wide("g.txt"), t.Wide("f.txt"), 0));
  EXPECT_EQ(t.ReadFile("f.txt"), "x");
  EXPECT_TRUE(api->MoveFileEx(t.Wide("g.txt"), t.Wide("f.txt"), kMoveFileReplaceExisting));
  EXPECT_EQ(t.ReadFile("f.txt"), "y");

  std::u16string target;
  EXPECT_TRUE(api->ReadLink(t.Wide("dangling"), target));
  EXPECT_EQ(target, t.Wide("nowhere"));
  EXPECT_FALSE(api->ReadLink(t.Wide("f.txt"), target));
}

TEST(FileGate, CheckedRoutinesRaiseWithTheSystemCode) {
  TTempFolder t;
  try {
    FileCreateHandle(t.Wide("missing.bin"), kGenericRead, kFileShareRead, kOpenExisting);
    FAIL();
  } catch (const EFileOpenError& e) {
    EXPECT_EQ(e.Message(), t.Sys("missing.bin"));
    EXPECT_EQ(e.ErrorCode, ENOENT);
  }
  t.WriteFile("r.bin", "data");
  THandle h = FileCreateHandle(t.Wide("r.bin"), kGenericRead, kFileShareRead, kOpenExisting);
  char c;
  EXPECT_THROW(FileWriteChecked(h, "x", 1), EFileWriteError);
  EXPECT_EQ(FileReadChecked(h, &c, 1), 1);
  EXPECT_THROW(FileSeekChecked(h, kFileBegin, -5), EFileSeekError);
  EXPECT_THROW(FileSetSize(h, 2), EFileAccessError);  // read-only handle
  FileCloseChecked(h);
  EXPECT_THROW(FileCloseChecked(h), EFileAccessError);
  EXPECT_THROW(FileGetSizeChecked(h), EFileError);
}

TEST(FileUtils, CreateAndDelete) {
  TTempFolder t;
  EXPECT_FALSE(ForceDirectories(u""));
  EXPECT_TRUE(ForceDirectories(t.Wide() + u"\\a\\b\\c\\"));
  EXPECT_TRUE(DirectoryExists(t.Wide("a/b/c")));
  EXPECT_TRUE(ForceDirectories(t.Wide("a")));
  EXPECT_FALSE(ForceDirectories(u"C:\\nowhere\\x"));
  t.WriteFile("file", "");
  EXPECT_FALSE(ForceDirectories(t.Wide("file/sub")));

  t.WriteFile("ro.txt", "x");
  chmod(t.Sys("ro.txt").c_str(), 0444);
  EXPECT_TRUE(ForceDeleteFile(t.Wide("ro.txt")));
  EXPECT_FALSE(t.Exists("ro.txt"));
  EXPECT_FALSE(ForceDeleteFile(t.Wide("ro.txt")));
  EXPECT_THROW(ForceDeleteFile(t.Wide("a")), EFileAccessError);  // a folder is no file
  EXPECT_EQ(GetCurrentDir(true).back(), u'/');
}

TEST(FileUtils, DeleteTreeNeverFollowsLinksOutOfTheTree) {
  TTempFolder t;
  t.WriteFile("outside/keep.txt", "precious");
  t.WriteFile("tree/a/file.txt", "x");
  t.WriteFile("tree/ro/inner.txt", "x");
  chmod(t.Sys("tree/ro").c_str(), 0555);  // a folder its owner may not write
  std::filesystem::create_directory_symlink(t.Sys("outside"), t.Sys("tree/a/out"));
  std::filesystem::create_symlink(t.Sys("outside/keep.txt"), t.Sys("tree/filelink"));
  std::filesystem::create_directory_symlink(t.Sys("outside"), t.Sys("toplink"));

  EXPECT_TRUE(DeleteDirectoryTree(t.Wide("tree") + u"\\"));
  EXPECT_FALSE(t.Exists("tree"));
  EXPECT_EQ(t.ReadFile("outside/keep.txt"), "precious");

  // A link given as the folder: the link goes, what it leads to stays.
  EXPECT_TRUE(DeleteDirectoryTree(t.Wide("toplink")));
  EXPECT_FALSE(t.Exists("toplink"));
  EXPECT_EQ(t.ReadFile("outside/keep.txt"), "precious");

  EXPECT_FALSE(DeleteDirectoryTree(t.Wide("outside/keep.txt")));  // a file is no folder
  EXPECT_FALSE(DeleteDirectoryTree(t.Wide("missing")));
  EXPECT_FALSE(DeleteDirectoryTree(u""));
}

TEST(FileUtils, ProgramPathAndCommandLine) {
  EXPECT_EQ(GetProgramFileName().substr(GetProgramFileName().rfind(u'/') + 1), u"vorav_tests");
  EXPECT_EQ(GetProgramFolder() + u"vorav_tests", GetProgramFileName());
  EXPECT_NE(FileAPI()->GetCommandLine().find(u"vorav_tests"), std::u16string::npos);
  EXPECT_EQ(FileAPI()->GetFileVersion(GetProgramFileName()), -1);
}
