// Process hooks: the four function variables through which the main form
// reaches the process services. Until InitProcessServices installs the real
// routines, and again after DoneProcessServices, each one does nothing and
// answers false.
#pragma once

namespace kav {

using TProcessHook = bool (*)();

// Makes the program the running screen saver; true when it acted.
extern TProcessHook HookSetScreenSaverRunning;
// Switches the system screen saver off while a show plays.
extern TProcessHook HookDisableScreenSaver;
// Switches it on again.
extern TProcessHook HookEnableScreenSaver;
// True when another instance of the same program file runs.
extern TProcessHook HookCheckOtherInstance;

// The routine every hook holds when no service is installed.
bool ProcessHookNothing();

// Start-up: takes the instance lock of the program's own file and installs
// the real routines in the hooks. GUI thread.
void InitProcessServices();
// Shutdown: puts the screen saver back as it was, removes this process's
// temporary folders and resets the hooks to the routine that does nothing.
// GUI thread.
void DoneProcessServices();

}  // namespace kav
