// kavframedump SCENE.txt OUT.png: renders a scene description (see
// FrameDump.h) through the draw manager and writes the frame as PNG.
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/framedump/FrameDump.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: kavframedump SCENE.txt OUT.png\n";
    return 2;
  }
  std::ifstream f(argv[1]);
  if (!f) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 1;
  }
  std::stringstream s;
  s << f.rdbuf();
  std::string error;
  if (!kav::DumpScene(s.str(), argv[2], error)) {
    std::cerr << error << "\n";
    return 1;
  }
  return 0;
}
