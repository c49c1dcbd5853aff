// A termination signal while the desktop's file chooser is open: the wait
// is called off (the chooser kills its program or drops its portal request)
// and the dialog answers false without telling anything.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "KavLib2/KavDialogs/winSaveDialog.h"
#include "platform/dialogs/SaveChooser.h"
#include "platform/window/WinTerminate.h"
#include "platform/window/null/NullWindowBackend.h"

namespace kav {
namespace {

// A chooser whose person never answers: it pumps until told to stop.
struct TNeverAnswered : dialogs::TSaveFileChooser {
  std::atomic<bool> waiting{false};
  bool called_off = false;
  const char* Name() const override { return "never"; }
  dialogs::TSaveFileAnswer Choose(const dialogs::TSaveFileRequest& r) override {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
      waiting = true;
      if (!r.pump()) {
        called_off = true;
        return {dialogs::TSaveFileOutcome::kCancelled, {}, {}};
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {dialogs::TSaveFileOutcome::kChosen, "/tmp/never.bmp", {}};
  }
};

TEST(SaveDialogSignal, ATerminationCallsTheChooserOffAndSavesNothing) {
  auto backend = std::make_unique<win::TNullWindowBackend>();
  win::TNullWindowBackend* null = backend.get();
  win::InitWindowSystem(std::move(backend));
  auto chooser = std::make_unique<TNeverAnswered>();
  TNeverAnswered* never = chooser.get();
  dialogs::SetSaveFileChooser(std::move(chooser));
  std::thread signal([never] {
    while (!never->waiting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    win::RequestTermination();
  });
  Ref<TSaveDialog> dlg = MakeRef<TSaveDialog>();
  dlg->FileName = u"Slide1.bmp";
  EXPECT_FALSE(dlg->Execute());
  signal.join();
  EXPECT_TRUE(never->called_off);
  EXPECT_TRUE(null->Boxes.empty());
  win::ResetTerminationForTests();
  dialogs::SetSaveFileChooser(nullptr);
  win::DoneWindowSystem();
}

}  // namespace
}  // namespace kav
