// Binds the 3D layer to the application layer: device work for the GUI
// thread goes through the application event list, window placements and
// topmost changes through the window layer, and the devices are not used
// while the session is locked.
#pragma once

#include "VoRav/Application2/vxApplication.h"

namespace kav {

// Installs the GUI gate and the window operations for `app` (GUI thread,
// after the application is initialised). Frames still present into the draw
// device's own window (no child window).
void Install3DApplicationGate(TApplication* app);
// Restores the defaults (before the application goes).
void Uninstall3DApplicationGate();

}  // namespace kav
