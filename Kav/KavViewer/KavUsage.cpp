#include "Kav/KavViewer/KavUsage.h"

#include <cstdlib>

#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/vxCommandLine.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

std::string AbsoluteEnv(const char* name) {
  const char* v = std::getenv(name);
  return v && v[0] == '/' ? std::string(v) : std::string();
}

}  // namespace

bool WantsUsage(const TCommandsStorage* commands) {
  const TCommandsStorage* c = commands ? commands : CommandLineCommands();
  // "--help" is stored as the switch "-help".
  return c && (c->FindCommand(u"-help") || c->FindCommand(u"h"));
}

TDeviceChoice ChooseDevice(const TCommandsStorage* commands, const char* env, std::string* problem) {
  const TCommandsStorage* c = commands ? commands : CommandLineCommands();
  auto parse = [&](const std::string& v, const std::string& where) {
    if (v == "gl") return TDeviceChoice::Gl;
    if (v == "sw") return TDeviceChoice::Sw;
    if (problem) *problem = where + " \"" + v + "\" is neither gl nor sw";
    return TDeviceChoice::Auto;
  };
  // "--device=gl" is the switch "-device=gl"; "--device gl" the switch
  // "-device" with the value "gl".
  if (c) {
    for (const char* v : {"gl", "sw"})
      if (c->FindCommand(u"-device=" + SystemUTF8ToWide(v))) return parse(v, "--device");
    if (const TCommand* d = c->FindCommand(u"-device"))
      return parse(d->ValueCount() > 0 ? WideToSystemUTF8(WideLowerCase(d->GetValue(0)->Text())) : std::string(),
                   "--device");
  }
  if (env && *env) return parse(env, "KAV_DEVICE");
  return TDeviceChoice::Auto;
}

std::u16string UserLogPath() {
  std::string folder = AbsoluteEnv("XDG_STATE_HOME");
  if (folder.empty()) {
    const std::string home = AbsoluteEnv("HOME");
    if (home.empty()) return {};
    folder = home + "/.local/state";
  }
  return PathCombine(PathCombine(SystemUTF8ToWide(folder), u"kavplayer"), u"kavplay.log");
}

std::string PlayerUsage(const std::string& program) {
  const std::string p = program.empty() ? std::string("kavplay") : program;
  return "Usage: " + p + " [SHOW] [OPTION...]\n"
         "Plays a slideshow in a window or full screen, with its music.\n"
         "\n"
         "The show, the first that is given of:\n"
         "  -filename PATH   an unpacked project: its folder or its Project.kav file\n"
         "  -exename PATH    a packed show file (.kvshow)\n"
         "  SHOW             a packed show file, or a project folder (holding Project.kav);\n"
         "                   give it before the options\n"
         "  (nothing)        the show appended to the program, else the program's name\n"
         "                   with the extension .kvshow beside it\n"
         "Relative names after -filename and -exename are below the program's folder;\n"
         "a plain SHOW is below the current folder.\n"
         "\n"
         "Options:\n"
         "  -slide N         start at slide N (1 is the first)\n"
         "  -time MS         start at MS milliseconds (counted from 1)\n"
         "  -display N       play on monitor N (1 is the first)\n"
         "  -desktopalign    place the show on the whole desktop (all monitors), not on one\n"
         "  -resize          a show in a bordered window gets a resizable border\n"
         "  -startup         keep the window on top; Enter closes it\n"
         "  -log             write the log to the standard error output\n"
         "  -filelog         write the log to a file (see below)\n"
         "  --device=gl|sw   draw with the graphics card (OpenGL 3.3) or with the software\n"
         "                   device; by default the graphics card where OpenGL 3.3 runs\n"
         "                   on one (the environment variable KAV_DEVICE does the same)\n"
         "  --allow-programs=NAME[,NAME...]\n"
         "                   let a show that asks for it start the programs named here and\n"
         "                   open documents and web or mail addresses (never without this\n"
         "                   option); NAME is a program found on PATH or a path, and the\n"
         "                   show must ask for it by that name or path and get that file\n"
         "                   (links resolved). A named program runs with whatever arguments\n"
         "                   the show gives it, and can be made to do whatever its options\n"
         "                   allow: name only programs you would let the show's author run\n"
         "                   with arguments of their choosing. The programs the player\n"
         "                   knows to run other programs or code, write files named in their\n"
         "                   arguments or change the system (sh, python, env, nice, sudo,\n"
         "                   find, awk, ffmpeg, gcc, groff, dpkg, apt-get, gpg, openbox and\n"
         "                   the other window managers, ...) are refused even when named,\n"
         "                   judged by the name and by every file its links lead to; no\n"
         "                   list knows every program, so this does\n"
         "                   not make a named program safe. A request whose argument is a\n"
         "                   shell's or an interpreter's program is refused too; each\n"
         "                   refusal is said with its reason. A packed show's documents\n"
         "                   come from the package alone. \"show\" allows the programs\n"
         "                   inside the folder of a show played from its folder (none of a\n"
         "                   packed show): it runs whatever code the show brings, a copy of\n"
         "                   a shell included, so give it only for a show you trust\n"
         "  -h, --help       print this text and end\n"
         "\n"
         "Keys (when the show permits control; Esc and F1 always):\n"
         "  Esc                          quit\n"
         "  Space, Pause, Ctrl+P         pause or resume; continue at a stop point\n"
         "  Right, Down, Page Down       next slide\n"
         "  Left, Up, Page Up            back to the start of the slide on screen; within\n"
         "                               0.5 s of that start, to the slide before\n"
         "  Home, End                    first slide, last slide\n"
         "  F1                           help\n"
         "  media keys                   play/pause, stop (back to the start), next, previous\n"
         "Mouse:\n"
         "  click                        buttons and links of the show; the left and right\n"
         "                               buttons and the double click do what the show says\n"
         "  wheel                        back or forward 0.7 s a step\n"
         "  Ctrl+wheel                   previous or next slide\n"
         "Music:\n"
         "  A show's music runs free unless its [Main] has opt_syncmode=1: it starts from\n"
         "  its beginning when the show starts playing and goes on at its own pace,\n"
         "  whatever -slide, -time, the keys or the wheel do (a pause holds it). With\n"
         "  opt_syncmode=1 it follows the show's time: it starts where the show starts\n"
         "  and moves when the show is moved. A slide's sound comment always plays with\n"
         "  its slide.\n"
         "\n"
         "Files:\n"
         "  log (-filelog)   $XDG_STATE_HOME/kavplayer/kavplay.log (~/.local/state/kavplayer/kavplay.log),\n"
         "                   appended to; each line starts with the player's process id (pid N: )\n"
         "  settings         $XDG_CONFIG_HOME/kavplayer/registry (~/.config/kavplayer/registry);\n"
         "                   the show carries its own options\n"
         "\n"
         "Exit status: 0 after a show played, 1 when the show could not be played, 2 when\n"
         "no show was given or a folder holds no project.\n";
}

}  // namespace kav
