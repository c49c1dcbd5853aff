// Controls that record what happens to them, on a root frame of the
// window surface, for the frame-control tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "VoRav/Application2/winInput.h"
#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/Composite/winFrames.h"
#include "tests/VoRav/Application2/AppTestUtil.h"

namespace kav::test {

// Logs frame events of the controls it listens to as "<name>:<code>".
class TEventLog : public TEventHandler {
 public:
  std::vector<std::string> Lines;
  void Listen(TFrameControl* c, std::initializer_list<int32_t> codes) {
    for (int32_t code : codes) c->Events()->AddHandler(code, this);
  }
  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t) override {
    auto* c = dynamic_cast<TFrameControl*>(sender);
    Lines.push_back((c ? c->Name() : std::string("?")) + ":" + std::to_string(tag));
  }
  int Count(const std::string& line) const { return int(std::count(Lines.begin(), Lines.end(), line)); }
};

// A control that fills its whole area with one colour when painted.
class TPaintProbe : public TFrameControl {
 public:
  TPaintProbe(TDrawFrame* frame, const char* name, uint32_t color) : TFrameControl(frame), Color(color) {
    SetName(name);
  }
  uint32_t Color;
  int Paints = 0;
  int Leaves = 0;
  std::vector<uint8_t> MouseKinds;
  std::vector<TPoint> MousePoints;
  uint32_t Cursor = 0;
  uint32_t NavKinds = 3;
  void Paint(TDrawSurface* surface) override {
    ++Paints;
    surface->FillRect(TRect{0, 0, width_, height_}, Color);
  }
  void MouseEvent(TMouseData* data) override {
    MouseKinds.push_back(data->Kind);
    MousePoints.push_back(data->Local);
    if (Cursor) data->CursorId = Cursor;
    TFrameControl::MouseEvent(data);
  }
  void MouseLeave() override {
    ++Leaves;
    TFrameControl::MouseLeave();
  }
  uint32_t GetNavigationKinds() override { return NavKinds; }
};

// A child probe of `parent` at (x, y) sized w x h.
inline TPaintProbe* AddProbe(TFrameControl* parent, const char* name, int32_t x, int32_t y, int32_t w, int32_t h,
                             uint32_t color = 0xFF000000) {
  auto* p = new TPaintProbe(parent->CreateChildFrame(), name, color);
  p->SetPosition(x, y);
  p->SetSize(w, h);
  return p;
}

// Writes the surface as a PPM into $KAV_DUMP_DIR (nothing when unset).
inline void DumpSurface(const std::string& name, TWinSurface* s) {
  const char* dir = std::getenv("KAV_DUMP_DIR");
  if (!dir) return;
  std::filesystem::create_directories(dir);
  std::ofstream out(std::filesystem::path(dir) / (name + ".ppm"), std::ios::binary);
  out << "P6\n" << s->Width() << " " << s->Height() << "\n255\n";
  for (int32_t y = 0; y < s->Height(); ++y)
    for (int32_t x = 0; x < s->Width(); ++x) {
      uint32_t c = s->PixelAt(x, y);
      const char rgb[3] = {char(c >> 16), char(c >> 8), char(c)};
      out.write(rgb, 3);
    }
}

// A root frame with a root control of w x h.
class CompositeTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    backend->SetManualClock(10000);
  }
  void TearDown() override {
    root = nullptr;
    FinalizeFrameControls();
    FreeMultiTimer();
    AppTest::TearDown();
  }
  TRootControl* MakeRoot(int32_t w, int32_t h) {
    frame = new TRootFrame();
    root = Ref<TRootControl>::Adopt(new TRootControl(frame));
    root->SetName("root");
    root->SetSize(w, h);
    frame->SetBounds(0, 0, w, h);
    return root.get();
  }
  TRootFrame* frame = nullptr;  // freed by the root control
  Ref<TRootControl> root;
};

}  // namespace kav::test
