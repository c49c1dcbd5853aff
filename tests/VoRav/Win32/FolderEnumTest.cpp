#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "../TempFolder.h"
#include "VoRav/Win32/winFolderEnum.h"

using namespace kav;
using kav::test::TTempFolder;

namespace {

struct TSeen {
  std::vector<std::u16string> Names;
  int StopAt = -1;           // sets stop on this call (0-based)
  bool SkipDirectories = false;
};

bool Collect(void* context, int32_t count, const TFileInfo& info, bool& stop) {
  auto* seen = static_cast<TSeen*>(context);
  seen->Names.push_back(info.Name);
  if (static_cast<int>(seen->Names.size()) - 1 == seen->StopAt) stop = true;
  EXPECT_LE(count, static_cast<int32_t>(seen->Names.size()) - 1);
  return !(seen->SkipDirectories && info.IsDirectory);
}

// A gate whose listing of one folder is refused, as Windows refuses listing
// a profile junction, while the junction's target lists normally.
class TRefusingGate : public TFileAPI {
 public:
  std::u16string Junction, Target;
  bool IsLink = true;
  TFindHandle FindFirst(const std::u16string& pattern, TFindData& data) override {
    if (pattern.rfind(Junction, 0) == 0) {
      errno = EACCES;
      return kInvalidFind;
    }
    return TFileAPI::FindFirst(pattern, data);
  }
  uint32_t GetFileAttributes(const std::u16string& path) override {
    return path == Junction && IsLink ? kFileAttributeDirectory | kFileAttributeReparsePoint : TFileAPI::GetFileAttributes(path);
  }
  bool ReadLink(const std::u16string& path, std::u16string& target) override {
    if (path != Junction || !IsLink) return false;
    target = Target;
    return true;
  }
};

}  // namespace

TEST(FolderEnum, ListsCountsAndStops) {
  TTempFolder t;
  std::filesystem::create_directory(t.Sys("empty"));
  t.WriteFile("d/a.txt", "12");
  t.WriteFile("d/b", "");
  t.WriteFile("d/c.tar.gz", "");
  t.WriteFile("d/d.txt", "");
  std::filesystem::create_directory(t.Sys("d/sub"));

  TSeen seen;
  EXPECT_EQ(EnumerateFolder(&seen, t.Wide("empty"), u"*", &Collect), 0);
  EXPECT_TRUE(seen.Names.empty());  // "." and ".." are never reported
  EXPECT_EQ(EnumerateFolder(nullptr, t.Wide("d"), u"*.png", nullptr), 0);
  EXPECT_EQ(EnumerateFolder(nullptr, t.Wide("d"), u"*.*", nullptr), 5);

  seen = {};
  seen.SkipDirectories = true;
  EXPECT_EQ(EnumerateFolder(&seen, t.Wide("d") + u"\\", u"*", &Collect), 4);
  EXPECT_EQ(seen.Names.size(), 5u);

  seen = {};
  seen.StopAt = 2;
  EXPECT_EQ(EnumerateFolder(&seen, t.Wide("d"), u"*", &Collect), 3);
  EXPECT_EQ(seen.Names, (std::vector<std::u16string>{u"a.txt", u"b", u"c.tar.gz"}));

  EXPECT_THROW(EnumerateFolder(nullptr, t.Wide("missing"), u"*", nullptr), EFolderNotFound);

  TFileInfo info;
  ASSERT_TRUE(GetFileInfo(t.Wide("d") + u"\\B", info));
  EXPECT_EQ(info.Name, u"b");
  EXPECT_EQ(info.ExtPos, 1u);  // no dot: the length
  ASSERT_TRUE(GetFileInfo(t.Wide("d/c.tar.gz"), info));
  EXPECT_EQ(info.ExtPos, 5u);
  ASSERT_TRUE(GetFileInfo(t.Wide("d/a.txt"), info));
  EXPECT_EQ(info.Size, 2);
  EXPECT_FALSE(info.IsDirectory);
  EXPECT_GE(info.LastWriteTime.wYear, 2020);
  ASSERT_TRUE(GetFileInfo(t.Wide("d/sub"), info));
  EXPECT_TRUE(info.IsDirectory);
  EXPECT_FALSE(GetFileInfo(t.Wide("d") + u"\\.", info));
  EXPECT_FALSE(GetFileInfo(t.Wide("d/none"), info));

  // A time beyond 64-bit nanoseconds (ext4 keeps up to 2446) reads as the
  // latest one they hold, not as an overflowed number.
  const timespec far[2] = {{15032385535, 0}, {15032385535, 0}};
  if (utimensat(AT_FDCWD, t.Sys("d/b").c_str(), far, 0) == 0) {
    ASSERT_TRUE(GetFileInfo(t.Wide("d/b"), info));
    EXPECT_EQ(info.LastWriteTime.wYear, 2262);
    EXPECT_EQ(EnumerateFolder(nullptr, t.Wide("d"), u"*", nullptr), 5);
  }
}

TEST(FolderEnum, RefusedListingsAndJunctions) {
  TTempFolder t;
  t.WriteFile("target/one.jpg", "");
  t.WriteFile("target/two.jpg", "");
  std::filesystem::create_symlink("target", t.Sys("rel"));

  std::u16string target;
  bool mount_point = true;
  EXPECT_TRUE(IsReparsePoint(t.Wide("rel")));
  ASSERT_TRUE(GetJunctionTarget(t.Wide("rel"), target, mount_point));
  EXPECT_EQ(target, t.Wide("target"));  // a relative link is taken from the link's folder
  EXPECT_FALSE(mount_point);
  EXPECT_FALSE(GetJunctionTarget(t.Wide("target"), target, mount_point));

  auto gate = MakeRef<TRefusingGate>();
  gate->Junction = t.Wide("junction");
  gate->Target = t.Wide("target");
  Ref<TFileAPI> previous = SetFileAPI(gate);
  EXPECT_EQ(EnumerateFolder(nullptr, t.Wide("junction"), u"*.jpg", nullptr), 2);
  gate->Target = t.Wide("junction");  // a junction that leads to itself is tried once only
  EXPECT_THROW(EnumerateFolder(nullptr, t.Wide("junction"), u"*", nullptr), EFolderAccessDenied);
  gate->IsLink = false;  // refused and no link: denied
  EXPECT_THROW(EnumerateFolder(nullptr, t.Wide("junction"), u"*", nullptr), EFolderAccessDenied);
  SetFileAPI(previous);

  if (geteuid() != 0) {  // the superuser may list anything
    std::filesystem::create_directory(t.Sys("closed"));
    chmod(t.Sys("closed").c_str(), 0);
    EXPECT_THROW(EnumerateFolder(nullptr, t.Wide("closed"), u"*", nullptr), EFolderAccessDenied);
    chmod(t.Sys("closed").c_str(), 0700);
  }
}
