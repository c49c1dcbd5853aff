// Helpers of the slide-object tests: slides built from project text, a host
// stand-in and a drawer that records what it is asked to draw.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "../KavClasses/PropsTestUtil.h"
#include "KavLib2/KavObjects/KavSlide.h"

namespace kav::test {

// An object block with a GUID (children need one to be read).
inline std::string Obj(std::string_view name, std::string_view kind, std::string_view body) {
  return "object " + std::string(name) + ":" + std::string(kind) + "\nGUID={" + std::string(name) + "}\n" +
         std::string(body) + "end\n";
}

// A 1920 x 1080 slide of 6000 ms (1000 ms in, 500 ms out) on `host` whose
// root block is the document's "root" object, loaded and set to time 0;
// only its objects are drawn (no background).
inline Ref<TKavSlide> LoadTestSlide(TKavObjectHost* host, TKavObjectProps* props, TIniFile* doc,
                                    const TSlideLengths& timing) {
  RegisterKavObjectFactories();
  props->Read(doc->FindObject(u"root"), timing);
  Ref<TKavSlide> slide = MakeRef<TKavSlide>(host, props);
  slide->SetSize(FloatPoint(1920, 1080));
  slide->OriginPoint = Vector3(960, 540, 0);
  slide->SlideBegin = 0;
  slide->EffectIn = 1000;
  slide->NextEffectBegin = 5500;
  slide->EffectOut = 500;
  slide->ForegroundOnly = true;
  slide->Load(props, false);
  slide->SetTime(true, 0);
  return slide;
}

struct TTestHost : TKavObjectHost {
  TVector3 Camera{960, 540, -1000};
  bool AskAnswer = false;
  int Cancelled = 0;
  TFileAccessor* Files = nullptr;
  TVector3 CameraPosition() override { return Camera; }
  TColor32 TransformColor(TColor32 c) override { return c ^ 0x00010101u; }  // visible, reversible
  bool AskObject(TKavObject*) override { return AskAnswer; }
  void CancelImageTasks(TKavObject*) override { ++Cancelled; }
  TFileAccessor* Accessor() override { return Files; }
  int32_t DefaultMaskValue() override { return 7; }
};

// A 1920 x 1080 slide of 6000 ms (1000 ms in, 500 ms out) whose root block
// holds `children`.
struct TSlideFixture {
  Ref<TIniFile> Doc;
  Ref<TKavObjectProps> Props = MakeRef<TKavObjectProps>();
  Ref<TTestHost> Host = MakeRef<TTestHost>();
  Ref<TKavSlide> Slide;
  TSlideLengths Timing{6000, 1000, 500};

  explicit TSlideFixture(std::string_view children) {
    Doc = test::Doc(Obj("root", "Frame", children));
    Slide = LoadTestSlide(Host.get(), Props.get(), Doc.get(), Timing);
  }
  TKavObject* At(int32_t i) const { return Slide->GetChild(i); }
  void Reload() {
    Props->Read(Doc->FindObject(u"root"), Timing);
    Slide->Load(Props.get(), true);
  }
};

// Records the drawer calls the objects make; Render draws nested items at
// once.
struct TRecordingDrawer : TDeviceDrawer {
  struct TFill {
    T3DPoint Position;
    TBoxParams Box;
    T3DPoint XEdge, YEdge;
  };
  std::vector<TFill> Fills;
  std::vector<TDrawItem*> Rendered;
  std::vector<std::pair<TDrawItem*, TDrawItem*>> Masked;
  int Images = 0;
  TImageDrawParams LastImage;

  bool Render(TDrawItem* item) override {
    Rendered.push_back(item);
    item->Draw(this);
    return true;
  }
  void BeginFrame() override {}
  bool EndFrame() override { return true; }
  bool IsReady() override { return true; }
  void SetDrawDevice(TDrawDevice*) override {}
  void Close() override {}
  void PrepareImage(TImage* image, const TImageDrawParams&) override { Prepared.push_back(image); }
  void FreeOwnerTextures(TImage* image) override { Freed.push_back(image); }
  std::vector<TImage*> Prepared, Freed;
  void SetContentSize(TSize) override {}
  void FlushQuad() override {}
  void Clear(TColor32, uint32_t) override {}
  void FillRect(TColor32, const TRect&) override {}
  void DrawTransition(TDrawItem*, TDrawItem*, TDrawFilterParams*) override {}
  void DrawImage(TImage*, const T3DPoint&, const TImageDrawParams& p, const T3DPoint&, const T3DPoint&,
                 TSize) override {
    ++Images;
    LastImage = p;
  }
  void FillBox(const T3DPoint& position, TFloatPoint, const TBoxParams& box, const T3DPoint& x_edge,
               const T3DPoint& y_edge) override {
    Fills.push_back({position, box, x_edge, y_edge});
  }
  void DrawFrame(const TBoxParams&, const T3DPoint&, bool, TColor32, TColor32, TFloatPoint, TFloatPoint) override {}
  TYUVImage* CreateVideoTextures(int32_t, int32_t, bool) override { return nullptr; }
  void DrawVideo(TYUVImage*, const T3DPoint&, const TVideoDrawParams&, const T3DPoint&, const T3DPoint&) override {}
  void DrawLine(const T3DPoint&, const T3DPoint&, TColor32) override {}
  void DrawWithEffect(TDrawItem* content, TDrawItem* mask, TImage*) override { Masked.push_back({content, mask}); }
  void BeginLayer() override {}
  void EndLayer(float) override {}
  bool CaptureBackBuffer(TBitmap*) override { return false; }
};

}  // namespace kav::test
