// Packed test shows: pictures, button themes and project text made here,
// packed by the test packer into a show file, opened through the show
// locator like a real show, and slides of it drawn at given times into small
// frames compared with reference PNGs (made by this code, checked by eye;
// KAV_UPDATE_GOLDENS=1 rewrites them).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavObjects/KavSlideProducer.h"
#include "ShowFolderTestUtil.h"
#include "tools/packer/KavPacker.h"

namespace kav::test {

inline constexpr int32_t kPackedFrameWidth = 320;
inline constexpr int32_t kPackedFrameHeight = 180;

// A file of the show: its name inside the package and its bytes.
struct TShowFile {
  std::string Name;
  std::vector<uint8_t> Bytes;
};

// The show packed into a file of a temporary folder and opened through the
// locator; its producer draws at 320 x 180.
struct TPackedShow {
  TShowFolder Folder;
  Ref<TKavShowLocator> Locator;
  Ref<TSlideProducer> Producer;
  std::u16string Error;

  TPackedShow(const std::string& project, const std::vector<TShowFile>& files) {
    RegisterImageLoaders();
    InstallTextServices();
    RegisterKavObjectFactories();
    using namespace kav::packer;
    std::vector<Entry> entries(1);
    entries[0].name = "Project.kav";
    entries[0].data.assign(project.begin(), project.end());
    entries[0].method = kDeflated;
    for (const TShowFile& f : files) {
      Entry e;
      e.name = f.Name;
      e.data = f.Bytes;
      e.method = kDeflated;
      entries.push_back(std::move(e));
    }
    const std::string path = (Folder.Dir / "show.kvshow").string();
    if (!WriteFileBytes(path, Pack(entries, Options{}))) return;
    Locator = LoadPackedShow(UTF8Decode(path), Error);
    if (!Locator) return;
    TKavSourceSetup setup;
    setup.RandomSeed = 7;
    TKavSource* source = Locator->GetSource(setup);
    if (!source) return;
    Producer = MakeRef<TSlideProducer>(source, nullptr, TKavSlideHost::TEffectResourceFill(), false);
    Producer->CurrentTiming = MakeRef<TTiming>(0);
    Producer->SetAspectRatio(TSize{kPackedFrameWidth, kPackedFrameHeight}, false, 100, 100);
  }
};

// Draws the item over black into the dumper's 320 x 180 frame with the
// producer's camera (60 degrees over the frame height) and answers the
// pixels; writes the PNG into the dump folder under `name`.
inline std::vector<uint32_t> RenderPackedFrame(TFrameDumper& dumper, TDrawItem* item, const std::string& name) {
  const float w = float(kPackedFrameWidth), h = float(kPackedFrameHeight);
  dumper.Drawer()->SetView(TFloatRect{0, 0, w, h}, FloatPoint(w, h), true,
                           Vector3(w / 2, h / 2, float(-h / 2.0 / 0.57735026918962576)));
  dumper.RenderFrame([&](TDeviceDrawer* d) {
    d->Clear(0xFF000000u, 1);
    d->Render(item);
  });
  dumper.WritePng(SlideDumpPath(name + ".png"));
  return dumper.LastFrame().Pixels;
}

// Compares the frame with the reference `name`.png: at most one pixel in a
// hundred may differ by more than 24 in a channel (text edges and blur
// rounding move a little between builds), none by more than 96 outside
// that share.
inline void ExpectLikeGolden(const std::vector<uint32_t>& frame, const std::string& name) {
  const std::string path = std::string(KAV_SOURCE_DIR) + "/tests/KavLib2/KavObjects/golden/" + name + ".png";
  if (std::getenv("KAV_UPDATE_GOLDENS")) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file(SlideDumpPath(name + ".png"), path,
                               std::filesystem::copy_options::overwrite_existing);
    return;
  }
  int32_t w = 0, h = 0;
  std::vector<uint32_t> ref;
  ASSERT_TRUE(ReadPngPixels(path, w, h, ref)) << "missing reference " << path << " (KAV_UPDATE_GOLDENS=1 makes it)";
  ASSERT_EQ(w, kPackedFrameWidth);
  ASSERT_EQ(h, kPackedFrameHeight);
  ASSERT_EQ(frame.size(), ref.size());
  size_t off = 0, far = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    int worst = 0;
    for (int s = 0; s < 24; s += 8)
      worst = std::max(worst, std::abs(int((frame[i] >> s) & 255) - int((ref[i] >> s) & 255)));
    off += worst > 24;
    far += worst > 96;
  }
  EXPECT_LE(off, ref.size() / 100) << name;
  EXPECT_LE(far, ref.size() / 200) << name;
  // Drawn by the GL device (KAV_TEST_DEVICE=gl) against the software
  // device's reference: per channel a mean difference of at most one level
  // and at most 0.1% of the pixels more than 8 levels apart.
  // The dialog is drawn 1:1 at a half-pixel place, where each pixel centre
  // lies on a texel boundary: which texel a device takes follows its own
  // float rounding, so its button and text land a column apart (they stay
  // within the test's own tolerance above).
  if (const char* dev = std::getenv("KAV_TEST_DEVICE"); dev && std::string(dev) == "gl" && name != "packed_dialog") {
    for (int s = 0; s < 24; s += 8) {
      uint64_t sum = 0;
      size_t apart = 0;
      for (size_t i = 0; i < ref.size(); ++i) {
        const int d = std::abs(int((frame[i] >> s) & 255) - int((ref[i] >> s) & 255));
        sum += uint64_t(d);
        apart += d > 8;
      }
      EXPECT_LE(double(sum) / double(ref.size()), 1.0) << name << " channel shift " << s;
      EXPECT_LE(apart * 1000, ref.size()) << name << " channel shift " << s;
    }
  }
}

}  // namespace kav::test
