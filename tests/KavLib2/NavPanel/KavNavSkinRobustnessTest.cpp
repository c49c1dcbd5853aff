// Damaged and hostile skins: many mutations of the shipped skins, each
// loaded by the panel and driven by mouse input. None may crash, hang or
// read outside a picture; most end with no bar or a partial one.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "KavLib2/NavPanel/KavNavPanel.h"
#include "NavTestUtil.h"
#include "tests/VoRav/LogCapture.h"

namespace kav {
namespace {

using namespace navtest;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Mutate(const std::string& text, std::mt19937& rng) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) lines.push_back(l);
  static const char* kValues[] = {"0", "-1", "2147483647", "-2147483648", "99999999", "", "x", "1,2",
                                  "0,0,0,0", "5,5,100000,3", "..\\..\\x.png", "/etc/passwd", "1,,2,3", "\"a,b\""};
  const int edits = 1 + int(rng() % 6);
  for (int e = 0; e < edits && !lines.empty(); ++e) {
    const size_t i = rng() % lines.size();
    const size_t eq = lines[i].find('=');
    switch (rng() % 4) {
      case 0: lines.erase(lines.begin() + ptrdiff_t(i)); break;
      case 1:
        if (eq != std::string::npos) lines[i] = lines[i].substr(0, eq + 1) + kValues[rng() % std::size(kValues)];
        break;
      case 2: lines.insert(lines.begin() + ptrdiff_t(i), lines[rng() % lines.size()]); break;
      default:
        if (eq != std::string::npos) lines[i] = lines[i].substr(0, eq + 1) + std::to_string(int32_t(rng()) % 5000);
        break;
    }
  }
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

TEST(NavSkinRobustness, MutatedSkinsNeverCrash) {
  test::TLogCapture log;
  TTempDir dir;
  std::mt19937 rng(7);
  int bars = 0;
  for (const char* kind : {"Buttons", "Video"}) {
    const std::string folder = SkinsDir() + kind + "/";
    const std::string original = ReadText(folder + "skin.ini");
    for (int round = 0; round < 120; ++round) {
      const std::string path =
          dir.Write(std::string(kind) + "/skin.ini", Mutate(original, rng));
      // The pictures sit beside the skin file.
      for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".png")
          std::filesystem::copy_file(entry.path(), dir.Path / kind / entry.path().filename(),
                                     std::filesystem::copy_options::skip_existing);
      auto panel = MakeRef<TNavPanel>();
      panel->Accessor = DiskAccessor();
      panel->ButtonNames = {u"home", u"pause", u"forward", u"backward", u"exit"};
      panel->ShowBackground = round % 2 == 0;
      panel->Hue = int32_t(rng() % 720) - 360;
      TNavPercentPoint p, a;
      NavPositionAnchor(int32_t(rng() % 9), p, a, 0);
      panel->SetPlacement(p, a, TRect{0, 0, int32_t(200 + rng() % 1200), int32_t(100 + rng() % 800)}, 10);
      panel->LoadStyle(W(path), round % 3 == 0, double(rng() % 10000000), 0.5, true);
      bars += panel->Bar() != nullptr;
      TKavAction action;
      for (int m = 0; m < 20; ++m) {
        const int32_t x = int32_t(rng() % 1400), y = int32_t(rng() % 900);
        switch (rng() % 3) {
          case 0: panel->MouseDown(1, kNavShiftLeft, x, y, action); break;
          case 1: panel->MouseMove(kNavShiftLeft, x, y, action); break;
          default: panel->MouseUp(1, 0, x, y, action); break;
        }
        panel->SetTime(double(rng() % 100000));
      }
    }
  }
  EXPECT_GT(bars, 20);  // the mutations leave many skins usable
}

}  // namespace
}  // namespace kav
