// A small test show: four slides with their times, transitions of several
// kinds, end actions and a program to start, written as a project text, a
// packed show (through the test packer) or an unpacked project folder.
#pragma once

#include <string>
#include <vector>

#include "../../VoRav/TempFolder.h"
#include "KavPacker.h"
#include "VoRav/vxIni.h"

namespace kav::test {

// Slide ends 3000, 5000, 5500, 9000. Transitions: push (own time 700),
// hourhand (own time 2000, options from the library), default (the
// library's 1000 ms), quick. End actions: loop, pause, empty, none.
inline std::string ShowProject(const std::string& extra_main = "", const std::string& repeat = "repeat") {
  return "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=1280\r\nopt_scr_height=720\r\nopt_repeat=" + repeat +
         "\r\nopt_scr_hidercolor=16711935\r\n" + extra_main +
         "object TheEffect:AnEffect\r\ntime=1000\r\n"
         "object dissolve:Effect\r\nchecked=1\r\nstdidx=2\r\nend\r\n"
         "object push:Effect\r\nchecked=1\r\ndirection=1101\r\nstdidx=9\r\ntime=700\r\nend\r\n"
         "object hourhand:Effect\r\nchecked=1\r\naction=11\r\ndirection=100000001\r\nsmoothline=0.05\r\n"
         "stdidx=4\r\nend\r\n"
         "end\r\n"
         "[Times]\r\nopt_slidescount=4\r\nopt_synchpos1=3000\r\nopt_synchpos2=5000\r\nopt_synchpos3=5500\r\n"
         "opt_synchpos4=9000\r\n"
         "[Slide1]\r\nPicture=C:\\Show\\Beach.jpg\r\nPers_EndAction=Loop\r\nobject TheEffect:AnEffect\r\nref=push\r\ntime=700\r\nend\r\n"
         "[Slide2]\r\nslideid=second\r\nPers_EndAction=PAUSE\r\nobject TheEffect:AnEffect\r\nref=hourhand\r\ntime=2000\r\nend\r\n"
         "[Slide3]\r\nPers_EndAction=\r\nobject TheEffect:AnEffect\r\nref=default\r\nend\r\n"
         "[Slide4]\r\nPers_RunApp=1\r\nRunAppFN=notes.txt\r\nobject TheEffect:AnEffect\r\nref=quick\r\nend\r\n";
}

inline Ref<TIniFile> ProjectIni(const std::string& text) {
  auto ini = MakeRef<TIniFile>();
  ini->LoadFromBytes(text);
  return ini;
}

inline std::vector<uint8_t> ShowBytes(const std::string& s) { return {s.begin(), s.end()}; }

// The show packed into `folder`/show.kvshow, with a picture under a
// Windows name; answers the show's path.
inline std::u16string WritePackedShow(const TTempFolder& folder, const std::string& project,
                                      const std::string& directory_extra = "") {
  using namespace kav::packer;
  std::vector<Entry> entries(2);
  entries[0].name = "Project.kav";
  entries[0].data = ShowBytes(project);
  entries[0].method = kDeflated;
  entries[1].name = "C:\\Show\\Beach.jpg";
  entries[1].data = ShowBytes("beach bytes");
  Options options;
  options.extra_directory_text = directory_extra;
  WriteFileBytes(folder.Sys("show.kvshow"), Pack(entries, options));
  return folder.Wide("show.kvshow");
}

// The same show as an unpacked project in `folder`/project; answers the
// project file's path.
inline std::u16string WriteProjectFolder(const TTempFolder& folder, const std::string& project) {
  folder.WriteFile("project/Project.kav", project);
  folder.WriteFile("project/beach.JPG", "beach bytes");
  return folder.Wide("project/Project.kav");
}

}  // namespace kav::test
