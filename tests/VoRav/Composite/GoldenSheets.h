// Golden sheets of the toolkit's tests: pictures made by this code, looked
// at, and kept in tests/VoRav/Composite/golden. KAV_UPDATE_GOLDENS=1 writes
// them again; KAV_DUMP_DIR gets a copy of every sheet checked.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "VoRav/Composite/winFrames.h"
#include "VoRav/Composite/winSurface.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/platform/theme/ThemeTestUtil.h"

namespace kav::test {

inline std::string GoldenDir() { return std::string(KAV_SOURCE_DIR) + "/tests/VoRav/Composite/golden/"; }

inline bool UpdatingGoldens() { return std::getenv("KAV_UPDATE_GOLDENS") != nullptr; }

// The largest difference of a colour channel between `b` and the rows of
// `ref` (a picture as wide as `b`) from `row0` on.
inline int32_t WorstChannelDifference(TSysBitmap* b, const std::vector<uint32_t>& ref, int32_t row0 = 0) {
  int32_t worst = 0;
  for (int32_t y = 0; y < b->Height(); ++y)
    for (int32_t x = 0; x < b->Width(); ++x) {
      const TColor32 a = uxtheme::test::Pixel(b, x, y), r = ref[size_t(y + row0) * size_t(b->Width()) + size_t(x)];
      for (int sh = 0; sh < 24; sh += 8)
        worst = std::max(worst, std::abs(int32_t((a >> sh) & 0xFF) - int32_t((r >> sh) & 0xFF)));
    }
  return worst;
}

// The top left w x h of a tree's surface once it is painted, as an opaque
// 32-bit bitmap.
inline Ref<TSysBitmap> SurfaceBitmap(TRootFrame* frame, int32_t w, int32_t h) {
  frame->RecalcInvalidRegion();
  TWinSurface* surf = frame->Surface();
  Ref<TSysBitmap> out = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) out->FillRect(TRect{x, y, x + 1, y + 1}, 0xFF000000u | surf->PixelAt(x, y));
  return out;
}

// Reads golden `name` into `ref` (false, with a failure, when it is missing).
inline bool ReadGolden(const std::string& name, int32_t& w, int32_t& h, std::vector<uint32_t>& ref) {
  const bool ok = uxtheme::test::ReadPng(GoldenDir() + name, w, h, ref);
  EXPECT_TRUE(ok) << "missing reference " << name << " (KAV_UPDATE_GOLDENS=1 makes it)";
  return ok;
}

// Writes `sheet` as golden `name` when updating (true), and to KAV_DUMP_DIR.
inline bool WriteGoldenIfUpdating(TSysBitmap* sheet, const std::string& name) {
  if (const char* dump = std::getenv("KAV_DUMP_DIR")) {
    std::filesystem::create_directories(dump);
    uxtheme::test::WritePng(std::string(dump) + "/" + name, sheet);
  }
  if (!UpdatingGoldens()) return false;
  std::filesystem::create_directories(GoldenDir());
  EXPECT_TRUE(uxtheme::test::WritePng(GoldenDir() + name, sheet));
  return true;
}

// Compares `sheet` with golden `name`, every channel within `tolerance`
// levels; writes it instead when updating.
inline void CheckGoldenSheet(TSysBitmap* sheet, const std::string& name, int32_t tolerance = 3) {
  SCOPED_TRACE(name);
  if (WriteGoldenIfUpdating(sheet, name)) return;
  int32_t w = 0, h = 0;
  std::vector<uint32_t> ref;
  if (!ReadGolden(name, w, h, ref)) return;
  ASSERT_EQ(w, sheet->Width());
  ASSERT_EQ(h, sheet->Height());
  EXPECT_LE(WorstChannelDifference(sheet, ref), tolerance);
}

}  // namespace kav::test
