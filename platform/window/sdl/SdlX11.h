// What the player needs of the X library beyond SDL: window titles in UTF-8
// and X protocol errors caught while a probe runs. The X library is the one
// SDL loaded (its entries looked up, not linked, so other drivers never load
// it); with any other video driver these do nothing. GUI thread only.
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

}  // namespace kav::win
