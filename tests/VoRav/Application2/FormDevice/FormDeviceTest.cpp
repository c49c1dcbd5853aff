#include <gtest/gtest.h>

#include "VoRav/Application2/FormDevice/vxFormDevice.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winForms.h"
#include "tests/VoRav/Application2/AppTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

class FormDeviceTest : public AppTest {
};

struct TActivations {
  int n = 0;
  void On(TRefObject*) { n++; }
};

}  // namespace

TEST_F(FormDeviceTest, FollowsTheFormsSizeForegroundAndActivation) {
  Ref<TVxForm> form = MakeRef<TVxForm>(&CreateWinFormController);
  Ref<TVxFormDevice> device = MakeRef<TVxFormDevice>(form.get());
  EXPECT_EQ(device->Window(), form->Controller()->GetHandle());
  form->SetBoundsRect(TRect{100, 120, 500, 420});
  EXPECT_EQ(device->Bounds(), (TRect{100, 120, 500, 420}));
  EXPECT_EQ(device->Offset(), form->ClientToScreen(TPoint{0, 0}));
  EXPECT_FALSE(device->CanDraw());  // not shown yet
  TActivations acts;
  device->OnActivate = T3DNotifyEvent::Bind<&TActivations::On>(&acts);
  form->Show();
  EXPECT_TRUE(device->CanDraw());
  EXPECT_EQ(acts.n, 1);
  // A cursor change makes the window under the mouse ask again.
  TPoint inside = form->ClientToScreen(TPoint{5, 5});
  SetCursorPos(inside.X, inside.Y);
  form->SetCursor(-4);
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_IBEAM));
}

TEST_F(FormDeviceTest, AFormThatGoesFirstLeavesTheDeviceUsable) {
  Ref<TVxForm> form = MakeRef<TVxForm>(&CreateWinFormController);
  Ref<TVxFormDevice> device = MakeRef<TVxFormDevice>(form.get());
  form = nullptr;
  EXPECT_EQ(device->Form(), nullptr);
  EXPECT_FALSE(device->CanDraw());
  device = nullptr;
}
