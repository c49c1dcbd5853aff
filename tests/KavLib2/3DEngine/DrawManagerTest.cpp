// The 3D draw manager on pixels: images, boxes and gradients, frames,
// layers, blur, masks, capture and the frame protocol; levels 0 and 1
// forced draw the same scenes through the paths without shaders.
#include <gtest/gtest.h>

#include <cmath>

#include "DrawerRig.h"

namespace kav {
namespace {

using drawtest::Ch;
using drawtest::MakeImage;
using drawtest::TDrawerRig;

uint32_t Pattern(int32_t x, int32_t y) {
  return 0xFF000000u | uint32_t(x * 5 & 0xFF) << 16 | uint32_t(y * 9 & 0xFF) << 8 | uint32_t((x + y) * 3 & 0xFF);
}

TEST(Drawer, ImageOneToOneAndTheTextureStore) {
  TDrawerRig rig(96, 64);
  Ref<TImage> img = MakeImage(50, 40, Pattern);
  TImageDrawParams p;
  ASSERT_TRUE(rig.Frame([&](TDeviceDrawer* d) {
    d->DrawImage(img.get(), T3DPoint{10, 12, 0}, p, T3DPoint{0, 40, 0}, T3DPoint{50, 0, 0}, TSize{50, 40});
  }));
  rig.Dump("image");
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x) ASSERT_EQ(rig.At(10 + x, 12 + y), Pattern(x, y)) << x << "," << y;
  EXPECT_EQ(rig.At(9, 12), 0xFF000000u);
  // One multi-texture per (level, grid, flags).
  auto* store = dynamic_cast<TTextureStore2*>(static_cast<TRefObject*>(img->GetNotifyList()->Get(0)));
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Items.size(), 1u);
  EXPECT_EQ(store->Items[0]->Key, u"MultiTexID: 0:1:1:True:False");
  rig.Frame([&](TDeviceDrawer* d) {
    d->DrawImage(img.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, 40, 0}, T3DPoint{50, 0, 0}, TSize{50, 40});
  });
  EXPECT_EQ(store->Items.size(), 1u);
  TImageDrawParams q = p;
  q.AlphaFlag = false;
  rig.Frame([&](TDeviceDrawer* d) {
    d->DrawImage(img.get(), T3DPoint{0, 0, 0}, q, T3DPoint{0, 40, 0}, T3DPoint{50, 0, 0}, TSize{50, 40});
  });
  EXPECT_EQ(store->Items.size(), 2u);
  EXPECT_EQ(MultiTextureKey(1, 4, 3, true, false), u"MultiTexID: 1:4:3:True:False");
  rig.Drawer->FreeOwnerTextures(img.get());
  EXPECT_EQ(img->GetNotifyList()->Count(), 0);
}

// One picture drawn by two drawers on two devices: each draws it with
// textures of its own screen, and a drawer closed meanwhile leaves nothing
// the next one could take for its own.
TEST(Drawer, OnePictureThroughTwoDrawersAndDevices) {
  TDrawerRig rig(64, 48);
  constexpr uint64_t kSecond = dxtest::kWindow + 1;
  rig.Sink->SetClientSize(kSecond, 64, 48);
  auto device2 = MakeRef<TDrawDevice>(kSecond);
  device2->SetBounds(TRect{0, 0, 64, 48}, TPoint{}, false);
  auto drawer2 = MakeRef<T3DDrawer>();
  drawer2->SetDrawDevice(device2.get());
  Ref<TImage> img = MakeImage(30, 20, Pattern);
  TImageDrawParams p;
  auto draw = [&](TDeviceDrawer* d) {
    d->DrawImage(img.get(), T3DPoint{4, 6, 0}, p, T3DPoint{0, 20, 0}, T3DPoint{30, 0, 0}, TSize{30, 20});
  };
  auto frame2 = [&](T3DDrawer* drawer) {
    auto item = MakeRef<drawtest::TFnItem>([&](TDeviceDrawer* d) {
      d->Clear(0xFF000000, 0);
      draw(d);
    });
    EXPECT_TRUE(drawer->Render(item.get()));
    TSwOffscreenSink::TFrame f;
    EXPECT_TRUE(rig.Sink->LastFrame(kSecond, f));
    return f;
  };
  auto check = [&](const TSwOffscreenSink::TFrame& f, const char* what) {
    ASSERT_EQ(f.Width, 64u) << what;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x)
        ASSERT_EQ(f.Pixels[size_t(6 + y) * 64 + size_t(4 + x)], Pattern(x, y)) << what << " " << x << "," << y;
  };
  ASSERT_TRUE(rig.Frame(draw));
  check(rig.Last, "first drawer");
  check(frame2(drawer2.get()), "second drawer");
  // The first drawer again, after the second made its own textures.
  ASSERT_TRUE(rig.Frame(draw));
  check(rig.Last, "first drawer again");
  EXPECT_EQ(img->GetNotifyList()->Count(), 2);
  // Prepared ahead by the second drawer, the picture still draws in the first.
  drawer2->PrepareImage(img.get(), p);
  EXPECT_EQ(img->GetNotifyList()->Count(), 2);
  // The first drawer goes; a new one on the same device neither draws with
  // the dead textures nor keeps them attached to the picture.
  rig.Drawer = nullptr;
  rig.Drawer = MakeRef<T3DDrawer>();
  rig.Drawer->SetDrawDevice(rig.Device.get());
  ASSERT_TRUE(rig.Frame(draw));
  rig.Dump("two_drawers");
  check(rig.Last, "new first drawer");
  EXPECT_EQ(img->GetNotifyList()->Count(), 2);
  drawer2 = nullptr;
  device2 = nullptr;
}

TEST(Drawer, ScaledAndRotatedImagesAgainstAnalyticReference) {
  TDrawerRig rig(128, 128);
  // A smooth picture so bilinear sampling is near the analytic value.
  auto f = [](double x, double y) { return 0xFF000000u | uint32_t(x * 4) << 16 | uint32_t(y * 4) << 8; };
  Ref<TImage> img = MakeImage(60, 60, [&](int32_t x, int32_t y) { return f(x, y); });
  TImageDrawParams p;
  const double ang = 0.5, s = 1.5;
  const double cx = std::cos(ang) * s, sx = std::sin(ang) * s;
  const T3DPoint o{64 - float(30 * cx - 30 * sx), 64 - float(30 * sx + 30 * cx), 0};
  rig.Frame([&](TDeviceDrawer* d) {
    d->DrawImage(img.get(), o, p, T3DPoint{float(-60 * sx), float(60 * cx), 0}, T3DPoint{float(60 * cx), float(60 * sx), 0},
                 TSize{60, 60});
  });
  rig.Dump("rotated");
  int worst = 0, checked = 0;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      // Pixel centre back into picture coordinates.
      const double dx = x + 0.5 - o.x, dy = y + 0.5 - o.y;
      const double u = (dx * cx + dy * sx) / (s * s), v = (-dx * sx + dy * cx) / (s * s);
      if (u < 1 || v < 1 || u > 59 || v > 59) continue;
      const uint32_t got = rig.At(x, y);
      worst = std::max(worst, std::abs(Ch(got, 16) - int((u - 0.5) * 4)));
      worst = std::max(worst, std::abs(Ch(got, 8) - int((v - 0.5) * 4)));
      ++checked;
    }
  EXPECT_GT(checked, 3000);
  EXPECT_LE(worst, 2);
}

TEST(Drawer, BoxGradientsByCode) {
  TDrawerRig rig(64, 64);
  const uint32_t a = 0xFFFF0000, b = 0xFF0000FF;
  // Expected colour at the top left, top right, bottom left and bottom
  // right of each code (0 A, 1 B, 2 mean): colour A starts top left (0),
  // top right (1), bottom right (2), bottom left (3), bottom (4), top (5),
  // left (6), right (7); 8 is solid A. Boxes use 6 for a horizontal, 5 for
  // a vertical, 0 and 1 for the diagonal gradients, each from A to B.
  const int table[9][4] = {{0, 2, 2, 1}, {2, 0, 1, 2}, {1, 2, 2, 0}, {2, 1, 0, 2}, {1, 1, 0, 0},
                           {0, 0, 1, 1}, {0, 1, 0, 1}, {1, 0, 1, 0}, {0, 0, 0, 0}};
  for (uint8_t code = 0; code <= 9; ++code) {
    TBoxParams box;
    box.ColorA = a;
    box.ColorB = b;
    box.Gradient = code;
    rig.Frame([&](TDeviceDrawer* d) {
      d->FillBox(T3DPoint{0, 0, 0}, TFloatPoint{64, 64}, box, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
    });
    if (code == kBoxGradHorizontal || code == kBoxGradVertical) rig.Dump("gradient" + std::to_string(code));
    const int* row = table[code <= 8 ? code : 8];  // an unknown code fills with A
    const int px[4][2] = {{0, 0}, {63, 0}, {0, 63}, {63, 63}};
    for (int k = 0; k < 4; ++k) {
      const uint32_t got = rig.At(px[k][0], px[k][1]);
      const int red = row[k] == 0 ? 255 : row[k] == 1 ? 0 : 127;
      EXPECT_NEAR(Ch(got, 16), red, 6) << int(code) << " corner " << k;
      EXPECT_NEAR(Ch(got, 0), 255 - red, 6) << int(code) << " corner " << k;
    }
  }
  // Opacity scales both colours' alpha.
  TBoxParams half;
  half.ColorA = half.ColorB = 0xFFFFFFFF;
  half.Opacity = 50;
  rig.Frame([&](TDeviceDrawer* d) {
    d->FillBox(T3DPoint{0, 0, 0}, TFloatPoint{10, 10}, half, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
  });
  EXPECT_NEAR(Ch(rig.At(5, 5), 8), 128, 2);
  half.Opacity = 0;
  rig.Frame([&](TDeviceDrawer* d) {
    d->FillBox(T3DPoint{0, 0, 0}, TFloatPoint{10, 10}, half, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
  });
  EXPECT_EQ(rig.At(5, 5), 0xFF000000u);
}

TEST(Drawer, FramesLinesAndMargins) {
  TDrawerRig rig(64, 64);
  rig.Frame([&](TDeviceDrawer* d) {
    d->DrawFrame(DefaultBoxParams(), T3DPoint{10, 10, 0}, false, 0xFF00FF00, 0xFF00FF00, TFloatPoint{40, 30},
                 TFloatPoint{3, 2});
    d->DrawLine(T3DPoint{0, 60.5f, 0}, T3DPoint{64, 60.5f, 0}, 0xFFFFFFFF);
  });
  rig.Dump("frame");
  EXPECT_EQ(rig.At(10, 20), 0xFF00FF00u);
  EXPECT_EQ(rig.At(12, 20), 0xFF00FF00u);
  EXPECT_EQ(rig.At(13, 20), 0xFF000000u);
  EXPECT_EQ(rig.At(49, 20), 0xFF00FF00u);
  EXPECT_EQ(rig.At(30, 11), 0xFF00FF00u);
  EXPECT_EQ(rig.At(30, 12), 0xFF000000u);
  EXPECT_EQ(rig.At(30, 39), 0xFF00FF00u);
  EXPECT_EQ(rig.At(30, 40), 0xFF000000u);
  EXPECT_EQ(rig.At(30, 60), 0xFFFFFFFFu);
  EXPECT_EQ(rig.At(30, 59), 0xFF000000u);
  rig.Drawer->SetOutputRect(TRect{8, 0, 56, 64});
  rig.Frame([&](TDeviceDrawer* d) { FillMargins(d, 0x00FF0000); });
  EXPECT_EQ(rig.At(3, 30), 0xFFFF0000u);
  EXPECT_EQ(rig.At(8, 30), 0xFF000000u);
  EXPECT_EQ(rig.At(60, 30), 0xFFFF0000u);
}

TEST(Drawer, ContentSizeCentresTheFrame) {
  TDrawerRig rig(100, 80);
  rig.Drawer->BeginFrame();
  rig.Drawer->SetContentSize(TSize{40, 21});
  EXPECT_EQ(rig.Drawer->FrameRect, (TRect{30, 30, 70, 51}));  // (80 - 21) / 2 = 29.5 rounds to even
  rig.Drawer->SetContentSize(TSize{120, 100});
  EXPECT_EQ(rig.Drawer->FrameRect, (TRect{-10, -10, 110, 90}));
  rig.Drawer->EndFrame();
}

// Blur: a white square on transparent, blurred, against the separable
// convolution with the same weights (reference computed here).
TEST(Drawer, BlurPassesAndReference) {
  TDrawerRig rig(64, 64);
  auto square = [](TDeviceDrawer* d) {
    TBoxParams box;
    box.ColorA = 0xFFFFFFFF;
    d->FillBox(T3DPoint{24, 24, 0}, TFloatPoint{16, 16}, box, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
  };
  auto blur = [&](float layer) {
    auto inner = MakeRef<drawtest::TFnItem>(square, layer);
    rig.Frame([&](TDeviceDrawer* d) { d->Render(inner.get()); });
    return rig.Drawer->LastBlur;
  };
  // Radii (layer value / 1000, view scale 1): pass plans.
  auto t = blur(7000);
  EXPECT_EQ(t.FullPairs, 0);
  EXPECT_DOUBLE_EQ(t.LastStrength, 1);
  EXPECT_DOUBLE_EQ(t.LastStep, 1);
  rig.Dump("blur7");
  // The blurred square: centre still white, edges spread, symmetric.
  EXPECT_EQ(Ch(rig.At(32, 32), 8), 255);
  const int edge_in = Ch(rig.At(24, 32), 8), edge_out = Ch(rig.At(22, 32), 8);
  EXPECT_GT(edge_in, 60);
  EXPECT_LT(edge_in, 240);
  EXPECT_GT(edge_out, 0);
  EXPECT_NEAR(Ch(rig.At(39, 32), 8), edge_in, 40);
  t = blur(14000);
  EXPECT_EQ(t.FullPairs, 1);
  EXPECT_DOUBLE_EQ(t.LastStrength, 1);
  EXPECT_DOUBLE_EQ(t.LastStep, 2);
  t = blur(10000);
  EXPECT_EQ(t.FullPairs, 1);
  EXPECT_NEAR(t.LastStrength, std::log2(10.0 / 7), 1e-9);
  EXPECT_DOUBLE_EQ(t.LastStep, 2);
  t = blur(500);
  EXPECT_TRUE(t.Mixed);
  EXPECT_NEAR(t.MixAlpha, (0.5 - 0.00001) / 0.99999, 1e-9);
  // Strength 0 keeps the picture (through the half-size target, so edges
  // soften by at most a pixel).
  t = blur(0.00001f);
  EXPECT_EQ(t.FullPairs, 0);
  EXPECT_DOUBLE_EQ(t.LastStrength, 0);
  EXPECT_EQ(rig.At(32, 32), 0xFFFFFFFFu);
  EXPECT_EQ(rig.At(21, 32), 0xFF000000u);
  EXPECT_GT(Ch(rig.At(24, 32), 8), 128);
  // Nothing drawn: nothing blurred, nothing drawn.
  auto empty = MakeRef<drawtest::TFnItem>([](TDeviceDrawer*) {}, 5000);
  rig.Frame([&](TDeviceDrawer* d) { d->Render(empty.get()); }, 0xFF102030);
  EXPECT_EQ(rig.At(32, 32), 0xFF102030u);
}

TEST(Drawer, SharpeningLayerAndLayerOpacity) {
  TDrawerRig rig(64, 64);
  auto pic = MakeImage(32, 32, [](int32_t x, int32_t) { return x < 16 ? 0xFF404040u : 0xFFC0C0C0u; });
  auto item = MakeRef<drawtest::TFnItem>([&](TDeviceDrawer* d) {
    TImageDrawParams p;
    p.Opacity = 50;
    d->DrawImage(pic.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, 32, 0}, T3DPoint{32, 0, 0}, TSize{32, 32});
  }, -10000);
  rig.Frame([&](TDeviceDrawer* d) { d->Render(item.get()); }, 0xFF000000);
  rig.Dump("sharpen");
  // The layer at half opacity over black; the edge is steepened.
  EXPECT_NEAR(Ch(rig.At(5, 5), 8), 32, 2);
  EXPECT_NEAR(Ch(rig.At(28, 5), 8), 96, 2);
  EXPECT_LT(Ch(rig.At(15, 5), 8), 32);
  EXPECT_GT(Ch(rig.At(16, 5), 8), 96);
}

TEST(Drawer, MaskedContent) {
  TDrawerRig rig(64, 64);
  auto content = MakeRef<drawtest::TFnItem>([](TDeviceDrawer* d) {
    TBoxParams box;
    box.ColorA = 0xFFFF0000;
    d->FillBox(T3DPoint{0, 0, 0}, TFloatPoint{64, 64}, box, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
  });
  auto mask = MakeRef<drawtest::TFnItem>([](TDeviceDrawer* d) {
    TBoxParams box;
    box.ColorA = 0xFFFFFFFF;
    d->FillBox(T3DPoint{16, 16, 0}, TFloatPoint{32, 32}, box, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
  });
  rig.Frame([&](TDeviceDrawer* d) { d->DrawWithEffect(content.get(), mask.get(), nullptr); }, 0xFF0000FF);
  rig.Dump("mask");
  EXPECT_EQ(rig.At(32, 32), 0xFFFF0000u);
  EXPECT_EQ(rig.At(5, 5), 0xFF0000FFu);
  EXPECT_EQ(rig.At(47, 47), 0xFFFF0000u);
  EXPECT_EQ(rig.At(48, 48), 0xFF0000FFu);
}

TEST(Drawer, CaptureOnlyInCaptureMode) {
  TDrawerRig rig(32, 16);
  auto bmp = CreateSysBitmap(32, 16, StdFormats().A8R8G8B8);
  rig.Drawer->NoPresent = true;
  auto item = MakeRef<drawtest::TFnItem>([&](TDeviceDrawer* d) {
    d->Clear(0xFF123456, 0);
    EXPECT_TRUE(d->CaptureBackBuffer(bmp.get()));
  });
  rig.Drawer->Render(item.get());
  EXPECT_EQ(reinterpret_cast<uint32_t*>(bmp->Row(3))[3] & 0xFFFFFF, 0x123456u);
  const uint64_t presents = [&] {
    TSwOffscreenSink::TFrame f;
    return rig.Sink->LastFrame(dxtest::kWindow, f) ? f.Presents : 0;
  }();
  EXPECT_EQ(presents, 0u);  // capture mode draws without presenting
  rig.Drawer->NoPresent = false;
  auto item2 = MakeRef<drawtest::TFnItem>([&](TDeviceDrawer* d) { d->Clear(0xFF123456, 0); });
  rig.Drawer->Render(item2.get());
  Ref<TImage> snap = rig.Drawer->Snapshot();
  EXPECT_TRUE(snap);  // outside capture mode the copy is skipped but answers true
}

// Levels 0 and 1 forced: the same scenes draw through the plain paths.
TEST(Drawer, ScenesWithoutShaders) {
  for (auto profile : {TSwShaderProfile::Level0, TSwShaderProfile::Level1}) {
    TSwConfig cfg;
    cfg.Shaders = profile;
    TDrawerRig rig(64, 64, cfg);
    EXPECT_EQ(rig.Drawer->ShaderLevel(), profile == TSwShaderProfile::Level0 ? 0 : 1);
    Ref<TImage> img = MakeImage(20, 20, Pattern);
    auto blurred = MakeRef<drawtest::TFnItem>([&](TDeviceDrawer* d) {
      d->DrawImage(img.get(), T3DPoint{5, 5, 0}, TImageDrawParams{}, T3DPoint{0, 20, 0}, T3DPoint{20, 0, 0},
                   TSize{20, 20});
    }, 7000);
    auto sharpened = MakeRef<drawtest::TFnItem>([&](TDeviceDrawer* d) {
      d->DrawImage(img.get(), T3DPoint{35, 5, 0}, TImageDrawParams{}, T3DPoint{0, 20, 0}, T3DPoint{20, 0, 0},
                   TSize{20, 20});
    }, -100);
    rig.Frame([&](TDeviceDrawer* d) {
      d->Render(sharpened.get());
      if (profile == TSwShaderProfile::Level0) d->Render(blurred.get());
    });
    // Level 1 sharpening draws plainly; level 0 draws blur plainly too.
    EXPECT_EQ(rig.At(35, 5), Pattern(0, 0));
    EXPECT_EQ(rig.At(54, 24), Pattern(19, 19));
    if (profile == TSwShaderProfile::Level0) {
      EXPECT_EQ(rig.At(10, 10), Pattern(5, 5));
    }
  }
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

TEST(Drawer, MaskedContentNeedsShaders) {
  TSwConfig cfg;
  cfg.Shaders = TSwShaderProfile::Level0;
  TDrawerRig rig(16, 16, cfg);
  auto content = MakeRef<drawtest::TFnItem>([](TDeviceDrawer* d) { d->Clear(0xFFFF0000, 0); });
  rig.Frame([&](TDeviceDrawer* d) { d->DrawWithEffect(content.get(), content.get(), nullptr); }, 0xFF0000FF);
  EXPECT_EQ(rig.At(8, 8), 0xFF0000FFu);  // nothing drawn without pixel shaders
}

TEST(Drawer, RecoversAfterDeviceLossMidFrame) {
  TDrawerRig rig(32, 32);
  Ref<TImage> img = MakeImage(16, 16, Pattern);
  auto draw = [&](TDeviceDrawer* d) {
    d->DrawImage(img.get(), T3DPoint{0, 0, 0}, TImageDrawParams{}, T3DPoint{0, 16, 0}, T3DPoint{16, 0, 0},
                 TSize{16, 16});
  };
  ASSERT_TRUE(rig.Frame(draw));
  rig.Device->FindObject<TDevStore>()->Device()->InjectLoss();
  EXPECT_FALSE(rig.Frame(draw));
  ASSERT_TRUE(rig.Frame(draw));  // a new device, tiles made and filled again
  EXPECT_EQ(rig.At(5, 7), Pattern(5, 7));
}

}  // namespace
}  // namespace kav
