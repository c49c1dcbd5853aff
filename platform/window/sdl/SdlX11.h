// What the player needs of the X library beyond SDL: window titles in UTF-8,
// X protocol errors caught while a probe runs or let pass when they name a
// window that is gone, SDL's X connection to wait on, and the keyboard focus
// given to a window. The X library is the one
// SDL loaded (its entries looked up, not linked, so other drivers never load
// it); with any other video driver these do nothing. GUI thread only, but
// for the error filter's handler, which runs on whichever thread reads the
// error.
#pragma once

#include <SDL.h>

#include <string>

namespace kav::win {

// An entry of the X library SDL loaded; null without SDL's X11 driver.
void* X11Symbol(const char* name);

// Sets the X window's title from UTF-8 text: _NET_WM_NAME as UTF8_STRING and
// WM_NAME as Latin-1 STRING where the title fits it, else as compound text,
// else as UTF8_STRING.
// SDL converts a title through the C library's locale, which is "C" in this
// program: there it sets a title beyond ASCII as the Latin-1 reading of its
// bytes and leaves _NET_WM_NAME out, so every title is set again here.
void SetX11WindowTitle(SDL_Window* window, const std::string& utf8);

// While one exists, X protocol errors are counted instead of ending the
// program (the X library's default handler prints the error and exits).
// Used around the OpenGL probe: an X server that refuses the GL context (an
// indirect GLX context over ssh -X, Xvfb without +iglx) answers with an
// error, which means "no OpenGL here". Not nested; not for other threads'
// X calls, whose errors it would swallow too while it exists.
class TX11ErrorTrap {
 public:
  TX11ErrorTrap();
  ~TX11ErrorTrap();
  TX11ErrorTrap(const TX11ErrorTrap&) = delete;
  TX11ErrorTrap& operator=(const TX11ErrorTrap&) = delete;

  // Waits until the X server has answered every request sent so far, then
  // tells whether any of them failed; the text names the first failure.
  bool Caught(std::string* text = nullptr);

 private:
  void* previous_ = nullptr;
  bool installed_ = false;
};

// While one exists, an X protocol error that names a window or drawable
// that does not exist (BadWindow, BadDrawable; BadMatch from SetInputFocus,
// whose window went out of view) is let pass: such a window was ours and is
// gone, destroyed between a request that named it and the server's answer,
// which is no reason to end the program. Every other error goes on to the
// handler that was in place before (SDL's, which ends in the X library's:
// print and exit). SDL swaps in handlers of its own around some calls and
// puts back the one it found, so the filter stays. The window backend holds
// one for as long as SDL's X11 driver runs.
class TX11GoneWindowFilter {
 public:
  TX11GoneWindowFilter();
  ~TX11GoneWindowFilter();
  TX11GoneWindowFilter(const TX11GoneWindowFilter&) = delete;
  TX11GoneWindowFilter& operator=(const TX11GoneWindowFilter&) = delete;

  // How many errors the filters let pass so far (for tests and logs).
  static int Passed();

 private:
  void* previous_ = nullptr;
  bool installed_ = false;
};

// SDL's connection to the X server, nil without SDL's X11 driver. It lives
// as long as SDL's video subsystem.
void* SdlX11Display();
// The connection's file descriptor: readable when the server sent something.
int X11ConnectionFd(void* display);
// Whether the X library holds events it has already read from the
// connection (another X call read them), which the descriptor no longer
// shows.
bool X11EventsHeld(void* display);

// Gives the keyboard focus to `window` when no other program's window has
// it: the focus is nowhere (it went with a destroyed window, as when a
// dialog closes without a window manager), on the root window, or on one of
// our windows. A window manager's choice of another program stands.
void GiveX11InputFocus(SDL_Window* window);

// The X window of an SDL window; 0 for none (nil, another driver).
unsigned long X11WindowId(SDL_Window* window);

// Another program's dialog, on the X server of `near` (one of our windows):
// the viewable top-level window (a child of the root, or the client inside
// a window manager's frame; no pop-up menu) whose _NET_WM_PID names a
// process of process group `group`, other than ours. 0 for none.
unsigned long X11WindowOfProcessGroup(SDL_Window* near, int group);
// Makes `xwindow` (another program's window on the server of `owner`)
// transient for `owner` (WM_TRANSIENT_FOR): a window manager keeps it above.
void SetX11TransientFor(unsigned long xwindow, SDL_Window* owner);
// Raises `xwindow` over its siblings without giving it the focus.
void RaiseX11Window(SDL_Window* near, unsigned long xwindow);
// GiveX11InputFocus for an X window (ours or another program's dialog) on
// the server of `near`.
void GiveX11InputFocus(SDL_Window* near, unsigned long xwindow);

}  // namespace kav::win
