#include "KavLib2/KavProcess/KavProcessHooks.h"

#include "KavLib2/KavProcess/KavInstance.h"
#include "KavLib2/KavProcess/KavScreenSaver.h"
#include "KavLib2/KavProcess/KavTempFolders.h"

namespace kav {

bool ProcessHookNothing() { return false; }

TProcessHook HookSetScreenSaverRunning = &ProcessHookNothing;
TProcessHook HookDisableScreenSaver = &ProcessHookNothing;
TProcessHook HookEnableScreenSaver = &ProcessHookNothing;
TProcessHook HookCheckOtherInstance = &ProcessHookNothing;

namespace {
bool SetRunning() { return ProcessScreenSaver().SetScreenSaverRunning(); }
bool Disable() { return ProcessScreenSaver().DisableScreenSaver(); }
bool Enable() { return ProcessScreenSaver().EnableScreenSaver(); }
bool OtherInstance() { return CheckOtherInstance(); }
}  // namespace

void InitProcessServices() {
  CreateInstanceMutex();
  HookSetScreenSaverRunning = &SetRunning;
  HookDisableScreenSaver = &Disable;
  HookEnableScreenSaver = &Enable;
  HookCheckOtherInstance = &OtherInstance;
}

void DoneProcessServices() {
  ProcessScreenSaver().Finalize();
  ProcessTempFolders().CleanupAll();
  // A late caller finds the routine that does nothing rather than no routine.
  HookSetScreenSaverRunning = &ProcessHookNothing;
  HookDisableScreenSaver = &ProcessHookNothing;
  HookEnableScreenSaver = &ProcessHookNothing;
  HookCheckOtherInstance = &ProcessHookNothing;
}

}  // namespace kav
