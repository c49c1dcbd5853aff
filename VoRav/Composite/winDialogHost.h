// The toolkit as the window layer's dialog host: a dialog from a template
// is a frame form whose push buttons and check boxes are the toolkit's
// standard controls (made through their allocator hooks, so the themed
// modules draw them). Every item also has a child window of class "BUTTON"
// as its handle: BM_GETCHECK, BM_SETCHECK, BM_CLICK, WM_SETTEXT, WM_ENABLE,
// WM_SETFOCUS and its placement reach the control, and a click sends
// WM_COMMAND (id, BN_CLICKED) to the dialog. GUI thread only.
#pragma once

#include "platform/window/WinDialog.h"

namespace kav {

class TFrameControl;

// Installs the host (and registers the item class) once; the frame forms
// module must be initialised. Finalisation removes it.
void InitializeDialogHost();
void FinalizeDialogHost();

// The control behind an item window of a running dialog, or nil.
TFrameControl* DialogItemControl(win::HWND item);

}  // namespace kav
