// kavtranssheet OUTDIR [W H]: writes one PNG per transition kind
// (OUTDIR/<kind>.png) with every configuration of the kind at progress 0,
// 1/4, 1/2, 3/4 and 1, on the two test slides.
#include <iostream>
#include <map>
#include <string>

#include "tools/framedump/FrameDump.h"
#include "tools/transitionsheet/TransitionConfigs.h"

int main(int argc, char** argv) {
  using namespace kav;
  if (argc != 2 && argc != 4) {
    std::cerr << "usage: kavtranssheet OUTDIR [W H]\n";
    return 2;
  }
  const int32_t w = argc == 4 ? std::clamp(std::atoi(argv[2]), 16, 1920) : 240;
  const int32_t h = argc == 4 ? std::clamp(std::atoi(argv[3]), 16, 1080) : 135;
  std::map<std::string, std::vector<transsheet::TConfig>> kinds;
  for (auto& c : transsheet::AllConfigs()) kinds[c.Kind].push_back(c);
  const std::vector<double> progress{0, 0.25, 0.5, 0.75, 1};
  InstallTransitions();
  int rc = 0;
  for (auto& [kind, configs] : kinds) {
    TFrameDumper dump(w * int32_t(progress.size()), h * int32_t(configs.size()));
    auto from = transsheet::MakeSlide(false, w - 4, h - 4);
    auto to = transsheet::MakeSlide(true, w - 4, h - 4);
    const bool ok = dump.RenderFrame([&](TDeviceDrawer* d) {
      transsheet::DrawSheet(d, configs, progress, w, h, from.get(), to.get());
    });
    const std::string out = std::string(argv[1]) + "/" + kind + ".png";
    if (!ok || !dump.WritePng(out)) {
      std::cerr << "cannot write " << out << "\n";
      rc = 1;
    }
  }
  return rc;
}
