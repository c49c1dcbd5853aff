// The action record: what every key, click, timed slide action, overlay or
// panel button and close rule of the player turns into. The engine carries
// out the dialog kinds itself and posts the rest to the GUI thread, where
// the main form carries them out.
#pragma once

#include <cstdint>
#include <string>

namespace kav {

enum : uint8_t {
  kActNone = 0,
  kActExit = 1,           // close allowed, then close
  kActPrevSlide = 2,
  kActNextSlide = 3,      // or continue past a stop point
  kActHelp = 4,           // help dialog (engine or key handler)
  kActPause = 5,          // pause or resume, or continue past a stop point
  kActImage = 6,          // print or save the current slide
  kActGotoSlide = 7,      // Int: 1-based slide number (0 = first, -1: the slide id in Text)
  kActWebAddress = 8,     // Text: address
  kActMailAddress = 9,    // Text: address
  kActRunApp = 10,        // Text: command line
  kActRunAppAndClose = 11,
  kActOpenShow = 12,      // Text: command line of the show
  kActRestart = 13,       // pause and go to time 0
  kActOpenShowReturn = 14,// open another show, come back to this one on close
  kActDialog = 15,        // Text: name of an overlay dialog (engine)
  kActClose = 16,
  kActGotoTime = 19,      // Int: time in ms
  kActPanelHandled = 20,  // a press the navigation panel handled itself
};

struct TKavAction {
  uint8_t Kind = kActNone;
  int32_t Int = 0;
  std::u16string Text;

  bool IsNone() const { return Kind == kActNone; }
};

inline bool operator==(const TKavAction& a, const TKavAction& b) {
  return a.Kind == b.Kind && a.Int == b.Int && a.Text == b.Text;
}

// Whether the main form carries out records of this kind (none, help,
// dialogs, the unused 17 and 18 and everything from 20 on are not its).
bool IsFormActionKind(uint8_t kind);
// Whether the engine carries the kind out itself when it has an overlay
// (help and named dialogs; closing goes to the form when no dialog is open).
bool IsEngineActionKind(uint8_t kind);
// Kinds before which the engine closes the overlay's dialogs (moving to
// another slide or show).
bool ClosesDialogsFirst(uint8_t kind);

// One-line description for the log: "<kind>:<int>:<text>".
std::u16string ActionLogText(const TKavAction& action);

}  // namespace kav
