// A show source over a project text, its files read from disk.
#pragma once

#include <string>

#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "VoRav/vxIni.h"

namespace kav::test {

inline Ref<TKavSource> ShowSource(const std::string& text) {
  auto ini = MakeRef<TIniFile>();
  EXPECT_TRUE(ini->LoadFromBytes(text));
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  TKavSourceSetup setup;
  setup.RandomSeed = 1;
  setup.ProgramFile = u"/opt/kav/player";
  return MakeRef<TKavSource>(accessor.get(), ini.get(), setup);
}

}  // namespace kav::test
