// Shared pieces of the overlay tests: skins on disk (the shipped ones and
// ones written by a test), the file accessor over them and pixel reads.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "KavLib2/NavPanel/KavNavBar.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/vxUTF8.h"

namespace kav::navtest {

inline std::string SkinsDir() { return std::string(KAV_SOURCE_DIR) + "/KavLib2/NavPanel/Skins/"; }

inline std::u16string W(const std::string& s) { return SystemUTF8ToWide(s); }

// A folder of its own under the temporary folder, removed at the end.
struct TTempDir {
  std::filesystem::path Path;
  TTempDir() {
    Path = std::filesystem::temp_directory_path() /
           ("kav_nav_" + std::to_string(::getpid()) + "_" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(Path);
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  std::string Write(const std::string& name, const std::string& text) const {
    const auto p = Path / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
};

inline Ref<TFileAccessor> DiskAccessor() {
  RegisterImageLoaders();
  return MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
}

inline Ref<TIniFile> Ini(const std::string& text) {
  auto doc = MakeRef<TIniFile>();
  EXPECT_TRUE(doc->LoadFromBytes(text));
  return doc;
}

inline uint32_t Pixel(TSysBitmap* b, int32_t x, int32_t y) {
  uint32_t p = 0;
  b->GetPixels32(x, y, 1, std::span<uint32_t>(&p, 1), 0);
  return p;
}

// Records what a bar reports.
struct TBarProbe {
  std::vector<int32_t> Buttons;
  std::vector<double> Times, Volumes;
  int Changes = 0;
  bool Playing = true;
  void Button(TCustomNavBar*, int32_t i) { Buttons.push_back(i); }
  void Changed(TCustomNavBar*, const TRect&) { ++Changes; }
  bool IsPlaying(TCustomNavBar*) { return Playing; }
  void GoTo(TCustomNavBar*, double t) { Times.push_back(t); }
  void Volume(TCustomNavBar*, double v) { Volumes.push_back(v); }
  // Pictures come from nowhere: every file is missing.
  void NoImage(TCustomNavBar*, const std::u16string&, Ref<TSysBitmap>& b) { b = nullptr; }
  void Connect(TCustomNavBar* bar) {
    bar->On.Button = TDelegate<void(TCustomNavBar*, int32_t)>::Bind<&TBarProbe::Button>(this);
    bar->On.BarChanged = TDelegate<void(TCustomNavBar*, const TRect&)>::Bind<&TBarProbe::Changed>(this);
    bar->On.IsPlaying = TDelegate<bool(TCustomNavBar*)>::Bind<&TBarProbe::IsPlaying>(this);
    bar->On.GoToTime = TDelegate<void(TCustomNavBar*, double)>::Bind<&TBarProbe::GoTo>(this);
    bar->On.SetVolume = TDelegate<void(TCustomNavBar*, double)>::Bind<&TBarProbe::Volume>(this);
    bar->On.LoadImage =
        TDelegate<void(TCustomNavBar*, const std::u16string&, Ref<TSysBitmap>&)>::Bind<&TBarProbe::NoImage>(this);
  }
};

}  // namespace kav::navtest
