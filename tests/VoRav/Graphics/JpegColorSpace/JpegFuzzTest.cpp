#include <gtest/gtest.h>

#include "../FuzzSeeds.h"
#include "VoRav/Graphics/JpegColorSpace/winJpegLoader.h"

TEST(JpegFuzz, SeedsRunCleanly) { EXPECT_GE(kav::test::RunFuzzSeeds("jpeg", &kav::FuzzJpeg), 6); }
