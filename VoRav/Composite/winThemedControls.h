// The whole frame-control toolkit started for a program in one call: the
// window binding and its style set, every themed control with its classic
// and visual-style painters (the visual-style ones draw classic while styles
// are off), the clipboard and edit menu, frame forms and the dialog host.
// The application and the window system must be running. GUI thread.
#pragma once

namespace kav {

void InitializeThemedControls();
// Undoes it in reverse, after every frame form is freed; also frees the
// theme services and the tree's shared state.
void FinalizeThemedControls();

}  // namespace kav
