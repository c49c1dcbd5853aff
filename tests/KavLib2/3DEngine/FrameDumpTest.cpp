// The frame-dump tool: scenes render into PNG files, bad scenes are refused
// with the line at fault.
#include <gtest/gtest.h>

#include <cstdio>

#include "tools/framedump/FrameDump.h"

namespace kav {
namespace {

TEST(FrameDump, SceneToPng) {
  const std::string path = ::testing::TempDir() + "kav_framedump_test.png";
  std::string error;
  ASSERT_TRUE(DumpScene("size 32 16\nclear FF0000FF\nbox 0 0 8 8 FFFF0000 FFFF0000 8\n# comment\n", path, error))
      << error;
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_TRUE(f);
  unsigned char sig[8] = {};
  EXPECT_EQ(std::fread(sig, 1, 8, f), 8u);
  std::fclose(f);
  EXPECT_EQ(sig[1], 'P');
  std::remove(path.c_str());
}

TEST(FrameDump, CallbackFrames) {
  TFrameDumper d(16, 8, 0);
  ASSERT_TRUE(d.RenderFrame([](TDeviceDrawer* dr) {
    dr->Clear(0xFF00FF00, 0);
    TBoxParams b;
    b.ColorA = 0xFFFF0000;
    dr->FillBox(T3DPoint{0, 0, 0}, TFloatPoint{4, 4}, b, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
  }));
  auto f = d.LastFrame();
  ASSERT_EQ(f.Width, 16u);
  EXPECT_EQ(f.Pixels[0], 0xFFFF0000u);
  EXPECT_EQ(f.Pixels[15], 0xFF00FF00u);
}

TEST(FrameDump, BadScenesAreRefused) {
  std::string error;
  EXPECT_FALSE(DumpScene("size 0 10\n", "/nonexistent/x.png", error));
  EXPECT_NE(error.find("line 1"), std::string::npos);
  EXPECT_FALSE(DumpScene("clear FF000000\nbogus 1 2\n", "/nonexistent/x.png", error));
  EXPECT_NE(error.find("line 2"), std::string::npos);
  EXPECT_FALSE(DumpScene("layer 5\nbox 0 0 1 1 FF000000 FF000000 8\n", "/nonexistent/x.png", error));
  EXPECT_FALSE(DumpScene("box 0 0 1 1 nothex FF000000 8\n", "/nonexistent/x.png", error));
  EXPECT_FALSE(DumpScene("end\n", "/nonexistent/x.png", error));
  EXPECT_FALSE(DumpScene("picture /nonexistent.png 0 0 4 4\n", "/nonexistent/x.png", error));
}

}  // namespace
}  // namespace kav
