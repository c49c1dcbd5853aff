// Symbolic links inside an unpacked project: every name a show gives is
// opened through the show's folder, and a link (to a file or to a folder,
// relative or absolute, at any depth) that leads out of it is refused with a
// log line, while links that stay inside keep working.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "../../VoRav/LogCapture.h"
#include "../../VoRav/TempFolder.h"
#include "../../VoRav/StreamText.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavPathVars.h"
#include "VoRav/Win32/winFileAPI.h"

using namespace kav;
using kav::test::ReadText;
using kav::test::TTempFolder;

namespace {

constexpr char16_t kRefused[] = u"leads outside the show's folder";

// A project folder "show" with a secret file beside it ("outside") and a
// link for every way a hostile show has tried to reach it.
class ShowLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    t.WriteFile("outside/secret.txt", "secret");
    t.WriteFile("outside/skin.ini", "[Common]\r\nVideoStyle=0\r\n");
    t.WriteFile("outside/theme/button.ini", "[Main]\r\n");
    t.WriteFile("show/Project.kav", "[Main]\r\n");
    t.WriteFile("show/pics/in.jpg", "in");
    t.WriteFile("show/media/song.mp3", "song");
    Link(t.Sys("outside/secret.txt"), "show/pics/out.jpg");            // a picture to a file outside
    Link("../../outside/secret.txt", "show/pics/up.jpg");              // relative, climbing out
    Link(t.Sys("outside"), "show/Pictures");                           // a picture folder
    Link("../outside", "show/Sprites");                                // a sprite folder
    Link(t.Sys("outside"), "show/Clips");                              // a clip folder
    Link(t.Sys("outside/secret.txt"), "show/mapped_target.jpg");       // a [FileMap] target
    std::filesystem::create_directories(t.Sys("show/Photos"));
    Link("/etc/passwd", "show/Photos/l38.jpg");
    Link(t.Sys("outside/secret.txt"), "show/media/music.mp3");         // music
    Link("../../outside/secret.txt", "show/media/comment.wav");        // a sound comment
    Link(t.Sys("outside/secret.txt"), "show/media/clip.mp4");          // a clip
    Link(t.Sys("outside/secret.txt"), "show/logo.png");                // the logo
    Link(t.Sys("outside"), "show/NavSkins");                           // a navigation-skin folder
    Link(t.Sys("outside/theme"), "show/Buttons");                      // a button-theme folder
    // Links that stay inside.
    Link("in.jpg", "show/pics/same.jpg");
    Link("pics", "show/more");
    Link(t.Sys("show/pics/in.jpg"), "show/abs_inside.jpg");
    Link("missing.jpg", "show/pics/dangling.jpg");

    source = MakeRef<TMappedFileSource>(t.Wide("show") + u"/");
    source->AddMapping(u"mapped.jpg", u"mapped_target.jpg");
    accessor = MakeRef<TFileAccessor>(source.get());
    accessor->SetFolder(t.Wide("show") + u"/");
  }

  void Link(const std::string& target, const std::string& at) {
    std::filesystem::create_directories(std::filesystem::path(t.Sys(at)).parent_path());
    ASSERT_EQ(symlink(target.c_str(), t.Sys(at).c_str()), 0) << at;
  }

  // Opens a show name through the accessor: nil and one refusal logged.
  void ExpectRefused(const std::u16string& name) {
    kav::test::TLogCapture log;
    EXPECT_EQ(accessor->OpenFile(name), nullptr) << std::string(name.begin(), name.end());
    EXPECT_TRUE(log.OneLineWith(kRefused)) << std::string(name.begin(), name.end());
  }
  // The same for a file the show names on the disk (clips and music kept
  // beside the show).
  void ExpectDiskRefused(const std::u16string& name) {
    kav::test::TLogCapture log;
    std::u16string path = name;
    EXPECT_FALSE(ResolveDiskPath(accessor.get(), path)) << std::string(name.begin(), name.end());
    EXPECT_EQ(OpenDiskFile(accessor.get(), name), nullptr) << std::string(name.begin(), name.end());
    EXPECT_GE(log.Count(), 1u);
    for (const auto& line : log.Take()) EXPECT_NE(line.find(kRefused), std::u16string::npos);
  }

  TTempFolder t;
  Ref<TMappedFileSource> source;
  Ref<TFileAccessor> accessor;
};

}  // namespace

TEST_F(ShowLinks, APictureLinkToAFileOutsideIsRefused) {
  ExpectRefused(u"pics\\out.jpg");
  ExpectRefused(t.Wide("show/pics/out.jpg"));
}

TEST_F(ShowLinks, ARelativeLinkClimbingOutIsRefused) { ExpectRefused(u"pics\\up.jpg"); }

TEST_F(ShowLinks, ALinkedPictureFolderIsRefused) { ExpectRefused(u"Pictures\\secret.txt"); }

TEST_F(ShowLinks, ALinkedSpriteFolderIsRefused) { ExpectRefused(u"Sprites\\secret.txt"); }

TEST_F(ShowLinks, ALinkedClipFolderIsRefusedOnTheDiskAndInTheShow) {
  ExpectRefused(u"Clips\\secret.txt");
  ExpectDiskRefused(t.Wide("show/Clips/secret.txt"));
}

TEST_F(ShowLinks, AFileMapTargetThatIsALinkIsRefused) { ExpectRefused(u"MAPPED.JPG"); }

TEST_F(ShowLinks, APhotoLinkedToThePasswordFileIsRefused) {
  ExpectRefused(u"Photos\\l38.jpg");
  ExpectRefused(u"photos\\L38.JPG");  // the case-insensitive lookup does not help
}

TEST_F(ShowLinks, MusicLinkedOutIsRefused) {
  ExpectRefused(u"media\\music.mp3");
  ExpectDiskRefused(t.Wide("show/media/music.mp3"));
}

TEST_F(ShowLinks, ASoundCommentLinkedOutIsRefused) { ExpectRefused(u"media\\comment.wav"); }

TEST_F(ShowLinks, AClipLinkedOutIsRefusedOnTheDiskAndInTheShow) {
  ExpectRefused(u"media\\clip.mp4");
  ExpectDiskRefused(t.Wide("show/media/clip.mp4"));
  // Found by its last component beside the show: the same link, refused.
  ExpectDiskRefused(u"C:\\Users\\me\\logo.png");
}

TEST_F(ShowLinks, ALogoLinkedOutIsRefused) { ExpectRefused(u"logo.png"); }

TEST_F(ShowLinks, ALinkedNavigationSkinFolderIsRefused) {
  ExpectRefused(u"NavSkins\\skin.ini");
  ExpectRefused(u"NavSkins\\secret.txt");
}

TEST_F(ShowLinks, ALinkedButtonThemeFolderIsRefused) { ExpectRefused(u"Buttons\\button.ini"); }

TEST_F(ShowLinks, LinksThatStayInsideKeepWorking) {
  kav::test::TLogCapture log;
  EXPECT_EQ(ReadText(accessor->OpenFile(u"pics\\in.jpg").get()), "in");
  EXPECT_EQ(ReadText(accessor->OpenFile(u"pics\\same.jpg").get()), "in");
  EXPECT_EQ(ReadText(accessor->OpenFile(u"more\\in.jpg").get()), "in");
  EXPECT_EQ(ReadText(accessor->OpenFile(u"MORE\\SAME.JPG").get()), "in");
  // An absolute link that leads back inside.
  EXPECT_EQ(ReadText(accessor->OpenFile(u"abs_inside.jpg").get()), "in");
  EXPECT_EQ(ReadText(OpenDiskFile(accessor.get(), t.Wide("show/more/same.jpg")).get()), "in");
  EXPECT_EQ(ReadText(accessor->OpenFile(u"media\\song.mp3").get()), "song");
  EXPECT_EQ(log.Count(), 0u);
  // A link to nothing inside is simply missing.
  EXPECT_EQ(accessor->OpenFile(u"pics\\dangling.jpg"), nullptr);
  EXPECT_EQ(log.Count(), 0u);
}

class ShowLinksGate : public ShowLinks, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    ShowLinks::SetUp();
    SetOpenBeneathByKernel(GetParam());
  }
  void TearDown() override { SetOpenBeneathByKernel(true); }
};

// With the kernel's openat2 and the way of kernels without it.
INSTANTIATE_TEST_SUITE_P(KernelOrWalk, ShowLinksGate, ::testing::Bool());

TEST_P(ShowLinksGate, TheGateOpensAndResolvesOnlyBelowTheFolder) {
  const std::u16string folder = t.Wide("show");
  TFileAPI* api = FileAPI();
  THandle h = api->OpenFileBeneath(folder, t.Wide("show/more/in.jpg"));
  ASSERT_NE(h, kInvalidHandle);
  api->CloseHandle(h);
  for (const char* name : {"show/pics/out.jpg", "show/Pictures/secret.txt", "show/Photos/l38.jpg", "show/../outside/secret.txt",
                           "outside/secret.txt"}) {
    errno = 0;
    EXPECT_EQ(api->OpenFileBeneath(folder, t.Wide(name)), kInvalidHandle) << name;
    EXPECT_EQ(errno, EXDEV) << name;
    std::string real;
    EXPECT_FALSE(api->ResolveBeneath(folder, t.Wide(name), real)) << name;
  }
  errno = 0;
  EXPECT_EQ(api->OpenFileBeneath(folder, t.Wide("show/nothing.jpg")), kInvalidHandle);
  EXPECT_EQ(errno, ENOENT);
  // Folders never open as files.
  EXPECT_EQ(api->OpenFileBeneath(folder, t.Wide("show/pics")), kInvalidHandle);
  for (const char* name : {"show/abs_inside.jpg", "show/pics/same.jpg", "show/MORE/same.JPG"}) {
    THandle inside = api->OpenFileBeneath(folder, t.Wide(name));
    EXPECT_NE(inside, kInvalidHandle) << name;
    if (inside != kInvalidHandle) api->CloseHandle(inside);
  }
  EXPECT_EQ(api->OpenFileBeneath(folder, t.Wide("show/pics/dangling.jpg")), kInvalidHandle);
  std::string real;
  ASSERT_TRUE(api->ResolveBeneath(folder, t.Wide("show/more/same.jpg"), real));
  EXPECT_EQ(real, std::filesystem::canonical(t.Sys("show/pics/in.jpg")).string());
}
