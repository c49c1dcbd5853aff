#include <gtest/gtest.h>

#include "FuzzSeeds.h"
#include "VoRav/Graphics/SysGfxLoader.h"
#include "VoRav/Graphics/vxGifLoader.h"

TEST(DecoderFuzz, GifSeedsRunCleanly) { EXPECT_GE(kav::test::RunFuzzSeeds("gif", &kav::FuzzGif), 3); }
TEST(DecoderFuzz, VxgfSeedsRunCleanly) { EXPECT_GE(kav::test::RunFuzzSeeds("vxgf", &kav::FuzzVxgf), 5); }
