// The print dialog of the player: Print, Save (when the show allows it),
// "Only Main Image" and "Change Printer", with texts from the show's "Main"
// section. It asks an image callback for the picture it prints or saves:
// the slide's main image, the slide as displayed, or the main image's file.
// GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "KavLib2/KavDialogs/winCustomDialog.h"

namespace kav {

class TFastDIB;
class TFileAccessor;
class TImage;
class TIniFile;
class TIniList;
class TStream;

// What the callback is asked for.
enum : int32_t { kPrintImageMain = 0, kPrintImageShown = 1, kPrintImageMainFile = 2 };

// (context, kind, slide number, file name, stream, DIB): true with the
// picture in `dib` (kinds 0 and 1) or the file's bytes in `stream` and its
// name in `file_name` (kind 2).
using TPrintImageCallback = bool (*)(void* context, int32_t kind, int32_t& slide, std::u16string& file_name,
                                     TStream* stream, TFastDIB* dib);

// Dialog commands.
enum : uint16_t { kPrintCmdChangePrinter = 1000, kPrintCmdPrint = 1001, kPrintCmdSave = 1002 };

class TKavPrintDialog : public TDialog {
 public:
  // `options` is the show's option file (the "Main" section's texts and
  // "CanRestore").
  TKavPrintDialog(TIniList* options, TPrintImageCallback callback, void* context);
  TDialogCheckBox* MainImageBox() const { return main_image_; }

 protected:
  void DoCommand(uint16_t id) override;

 private:
  void ChangePrinter();
  void Print();
  void Save();
  TIniList* options_;
  TPrintImageCallback callback_;
  void* context_;
  TDialogCheckBox* main_image_ = nullptr;
};

// What the player's image callback works with.
struct TPrintImageContext {
  TIniList* Project = nullptr;       // the opened show's project
  TFileAccessor* Accessor = nullptr;  // its files
  TImage* Shown = nullptr;            // the slide as displayed
  int32_t Slide = -1;                 // the current slide's index
};

// The player's image callback over a TPrintImageContext.
bool PrintImageCallback(void* context, int32_t kind, int32_t& slide, std::u16string& file_name, TStream* stream,
                        TFastDIB* dib);

// Runs the print dialog for the shown slide over `owner`; answers the
// modal result.
intptr_t ShowPrintDialog(win::HWND owner, TIniList* project, TFileAccessor* accessor, TImage* shown, int32_t slide);

// The control toolkit the dialogs are drawn with, started on first use (a
// show that never prints does not pay for it). DoneDialogToolkit stops it
// at the program's end when it was started.
void UseDialogToolkit();
void DoneDialogToolkit();

// Copies an image into a 32-bit DIB; false for a missing or empty image.
bool ImageToDib(TImage* image, TFastDIB* dib);

// The last part of a name from a show ("Photos\sea.jpg" gives "sea.jpg"):
// what a save dialog may propose, never a path.
std::u16string ProposedBaseName(const std::u16string& name);

}  // namespace kav
