// kavtestbox: the window layer's box program for test programs, which do not
// run themselves again to show a box (the player does): the tests point the
// SDL backend at it (SetBoxProgram).
#include <cstdio>

#include "platform/window/sdl/SdlBoxProgram.h"

int main(int argc, char** argv) {
  if (const int box = kav::win::RunIfBoxProgram(argc, argv); box >= 0) return box;
  std::fprintf(stderr, "kavtestbox: started by the window layer with %s to show a box\n",
               kav::win::kBoxProgramArgument);
  return 2;
}
