// Modal dialogs from in-memory dialog templates (the DLGTEMPLATE layout:
// a header, then DWORD-aligned item records).
//
// The layer reads the template and runs the modal loop; the dialog's window
// and its items come from a dialog host that the control toolkit installs:
// the dialog is a window of the host's, and every item gets a child window
// of the item's class as its handle (messages such as BM_GETCHECK and
// placement go to it) while the host draws it and takes its input. The item
// windows stay hidden to the layer, so mouse input reaches the dialog window
// and the host routes it. GUI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/window/WinApi.h"

namespace kav::win {

enum : uint32_t {
  WM_INITDIALOG = 0x0110,
  WM_COMMAND = 0x0111,
  BM_GETCHECK = 0x00F0,
  BM_SETCHECK = 0x00F1,
  BM_CLICK = 0x00F5,
};
enum : uint32_t {
  BS_PUSHBUTTON = 0x0,
  BS_DEFPUSHBUTTON = 0x1,
  BS_CHECKBOX = 0x2,
  BS_AUTOCHECKBOX = 0x3,
  BS_RADIOBUTTON = 0x4,
  BS_GROUPBOX = 0x7,
  BS_AUTORADIOBUTTON = 0x9,
  BS_TYPEMASK = 0xF,
  BN_CLICKED = 0,
  BST_UNCHECKED = 0,
  BST_CHECKED = 1,
  WS_TABSTOP = 0x00010000,
  WS_GROUP = 0x00020000,
  WS_VSCROLL = 0x00200000,
  DS_SETFONT = 0x40,
  DS_CENTER = 0x800,
};
enum : int32_t { IDCANCEL = 2 };

// Predefined item classes of a template (an ordinal after 0xFFFF).
enum : uint16_t { kDialogClassButton = 0x80, kDialogClassEdit = 0x81, kDialogClassStatic = 0x82 };

struct TDialogTemplateItem {
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  uint16_t id = 0;
  // The class by name ("BUTTON" for the ordinal 0x80, upper case).
  std::u16string class_name;
  std::u16string title;
  uint16_t title_ordinal = 0;  // a resource ordinal in place of a title
};

struct TDialogTemplate {
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::u16string caption;
  bool has_font = false;
  uint16_t point_size = 0;
  std::u16string face;
  std::vector<TDialogTemplateItem> items;
};

// The most items a template may declare.
inline constexpr size_t kMaxDialogItems = 1024;

// Reads a template of `size` bytes; false for anything that does not fit in
// them (a string without its end, an item past the end, too many items) or
// for a menu or class the layer does not offer.
bool ParseDialogTemplate(const uint8_t* data, size_t size, TDialogTemplate& out);

// Dialog units to pixels for the template's font at the screen's resolution
// (the font's average character width and height as the base units).
TRect DialogUnitsToPixels(const TDialogTemplate& dialog, int32_t x, int32_t y, int32_t cx, int32_t cy);

using TDlgProc = TDelegate<intptr_t(HWND dialog, uint32_t message, WPARAM wParam, LPARAM lParam)>;

// What makes a dialog's windows. CreateDialogWindow makes the (hidden)
// top-level window with the template's caption and client size, and one
// child window per item, in template order, each with the item's id as its
// control id; false leaves nothing behind.
class TDialogHost {
 public:
  virtual ~TDialogHost() = default;
  virtual HWND CreateDialogWindow(const TDialogTemplate& dialog, HWND owner) = 0;
  // Destroys a dialog window the host made (and whatever it keeps for it).
  virtual void DestroyDialogWindow(HWND dialog) = 0;
  // The push button Enter clicks: the focused one, else the default one;
  // 0 for none (Enter then gives IDOK).
  virtual HWND EnterButton(HWND dialog) = 0;
};

// Installs the host (nil removes it); answers the previous one.
TDialogHost* SetDialogHost(TDialogHost* host);

// Runs a modal dialog: makes it from the template through the host, sends
// WM_INITDIALOG with `init`, disables the owner, dispatches messages until
// EndDialog, then destroys the dialog and answers EndDialog's result; -1
// when the template cannot be read or no host makes the dialog. A WM_QUIT
// that arrives meanwhile ends the dialog with 0 and is posted again.
// Departure from the system call: the template's size is passed, so a
// damaged template is refused instead of read past its end.
intptr_t DialogBoxIndirectParamW(HINSTANCE instance, const uint8_t* data, size_t size, HWND owner, TDlgProc proc,
                                 LPARAM init);
// Ends the modal loop of a dialog with `result`; false for a window that is
// no running dialog.
bool EndDialog(HWND dialog, intptr_t result);
// The item child window of a dialog with that control id, or 0.
HWND GetDlgItem(HWND dialog, int32_t id);
// The next child of `parent` after `after` (0: the first) in creation order
// whose class and title match (nil: any); 0 for none.
HWND FindWindowExA(HWND parent, HWND after, const char* class_name, const char* window_name);
// The control id of a child window (GWL_ID).
int32_t GetDlgCtrlID(HWND hwnd);

}  // namespace kav::win
