// The event codes that pass between the GUI thread, the engine and the slide
// loader.
#pragma once

#include <cstdint>

namespace kav {

// GUI thread to the engine (posted or sent on the engine's own queue).
enum : uint32_t {
  kEngineMouse = 11,         // engine mouse record: last mouse state, panel hit test, action
  kEngineRenderImage = 13,   // no object: render the current frame, answered by kGuiImage
  kEngineCloseDialog = 15,   // no object: close the overlay's top dialog
  kEngineHelpDialog = 16,    // no object: show the "help" dialog, or close it when shown
  kEngineSlides = 101,       // slide record from the slide loader: the prepared slides
  kEngineOpen = 102,         // open parameters: open a show or move to a new position
  kEngineMode = 103,         // mode record (paused): set the pause state
};

// Engine to the GUI thread (through the application event list).
enum : uint32_t {
  kGuiState = 1,       // no parameters: first frame drawn (and after each device re-initialisation)
  kGuiTime = 2,        // open id, time (ms), show duration (ms, 0 without a show), finished (0 or 1)
  kGuiAction = 12,     // action kind, integer argument; string holder with the text when not empty
  kGuiImage = 14,      // the rendered image, owned
  kGuiWindowSize = 17, // width, height, window mode (0 full screen, 1 bordered window, 2 without border)
};

}  // namespace kav
