// The title of the message box SDL draws under X11, made readable in any
// locale.
//
// SDL draws the box in a process that switches to the user's locale
// and sets WM_NAME as text of that locale: under a UTF-8 locale its type is
// the charset's name ("UTF-8"), which is neither STRING, COMPOUND_TEXT nor
// UTF8_STRING, so window managers and X tools running in another locale
// cannot read it; in the "C" locale a title beyond ASCII gets no WM_NAME nor
// _NET_WM_NAME at all. While a TX11BoxTitle lives, a thread on an X
// connection of its own watches the top-level windows made after it started
// and gives the box's window the title as the main window has it:
// _NET_WM_NAME as UTF8_STRING, WM_NAME as Latin-1 STRING where the title
// fits it, else as UTF8_STRING. The box is the new dialog window (SDL marks
// it _NET_WM_WINDOW_TYPE_DIALOG) whose _NET_WM_NAME is the title, or which
// has no title at all.
//
// The connection is libxcb's (the library libX11 itself runs on): its
// requests answer errors in their replies, so a window that goes away while
// it is looked at costs nothing, and the X library's process-wide error
// handler is left alone. Without SDL's X11 driver it does nothing.
#pragma once

#include <memory>
#include <string>

namespace kav::win {

class TX11BoxTitle {
 public:
  // Starts watching; returns once the X server knows of the watch, so a box
  // shown after it is seen. A box found is made transient for the X window
  // `transient_for` (0: none), so window managers keep it above that one.
  explicit TX11BoxTitle(const std::string& utf8_title, unsigned long transient_for = 0);
  ~TX11BoxTitle();
  TX11BoxTitle(const TX11BoxTitle&) = delete;
  TX11BoxTitle& operator=(const TX11BoxTitle&) = delete;

  // Windows whose title was set (tests).
  int Fixed() const;

  // Raises the box's window and gives it the keyboard focus (a window
  // manager is asked to activate it too); another program's window that has
  // the focus keeps it unless `from_ours` (the focus is on one of our
  // windows). True once done or not to be done; false while the box's
  // window is not found or not shown yet (ask again). Any thread.
  bool TakeFocus(bool from_ours);

  struct TState;

 private:
  std::unique_ptr<TState> state_;
};

}  // namespace kav::win
