/* Test-only: asks an X window to close the way a window manager's close
 * button does, with a WM_DELETE_WINDOW client message (xdotool's
 * "windowclose" destroys the window instead, and wmctrl needs a window
 * manager). Usage: kavxclose WINDOW-ID [COUNT]; COUNT messages are sent
 * back to back (default 1). Exits 0 when the messages went out. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: kavxclose WINDOW-ID [COUNT]\n");
    return 2;
  }
  char* end = NULL;
  const unsigned long window = strtoul(argv[1], &end, 0);
  if (!end || *end || window == 0) {
    fprintf(stderr, "kavxclose: not a window id: %s\n", argv[1]);
    return 2;
  }
  int count = argc > 2 ? atoi(argv[2]) : 1;
  if (count < 1 || count > 100) count = 1;
  Display* display = XOpenDisplay(NULL);
  if (!display) {
    fprintf(stderr, "kavxclose: no X display\n");
    return 1;
  }
  XEvent e = {0};
  e.xclient.type = ClientMessage;
  e.xclient.window = (Window)window;
  e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
  e.xclient.data.l[1] = CurrentTime;
  int ok = 1;
  for (int i = 0; i < count; ++i) ok = ok && XSendEvent(display, (Window)window, False, NoEventMask, &e) != 0;
  XSync(display, False);
  XCloseDisplay(display);
  return ok ? 0 : 1;
}
