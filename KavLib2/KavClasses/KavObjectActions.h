// Object actions: the "Action" text of a slide object turned into an action
// record (a kind code, a slide index and a text argument) that the show engine
// carries out when the object is clicked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kav {

// Action kinds produced from action texts.
enum : int32_t {
  kActionNone = 0,
  kActionExit = 1,
  kActionPrevSlide = 2,
  kActionNextSlide = 3,
  kActionHelp = 4,
  kActionPause = 5,
  kActionPrint = 6,
  kActionGotoSlide = 7,
  kActionOpenWebSite = 8,
  kActionWriteEmail = 9,
  kActionRunApp = 10,
  kActionRunAppAndExit = 11,
  kActionRunPresentation = 12,
  kActionStop = 13,
  kActionRunPresentationAndReturn = 14,
  kActionOpenDialog = 15,
  kActionCloseDialog = 16,
  kActionSaveSlide = 17,
  kActionChangePrinter = 18,
};

// One action. The empty record (kind 0, index 0, empty argument) means the
// object has no action.
struct TObjectAction {
  int32_t Kind = kActionNone;
  // For "gotoslide(n)": n, or -1 when n is not an integer; else 0.
  int32_t SlideIndex = 0;
  // The argument text, its case kept; empty for actions without one.
  std::u16string Argument;

  bool operator==(const TObjectAction&) const = default;
};

// Matches an action text (without regard to case) against the action
// keywords. Answers the keyword code (0 when nothing matches) and, for the
// keywords written with parentheses, the argument cut out of the original
// text: "gotoslide(12)" gives "12"; the other keywords quote their argument,
// so "runapp("App.exe")" gives App.exe. A text too short to hold the
// argument gives an empty argument. Never raises.
int32_t ActionKeywordToCode(std::u16string_view action, std::u16string& argument);

// The action record of an action text; the empty record for anything that is
// not an action. Never raises.
TObjectAction ParseObjectAction(std::u16string_view action);

// Fills a record.
void SetObjectAction(TObjectAction& record, int32_t kind, int32_t index, std::u16string_view argument);

}  // namespace kav
