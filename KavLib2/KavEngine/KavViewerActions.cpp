#include "KavLib2/KavEngine/KavViewerActions.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <cerrno>
#include <cstdlib>
#include <cmath>
#include <mutex>
#include <thread>

#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavProcess/KavTempFolders.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavPackedSource.h"
#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/Win32/winPathMap.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/WinTerminate.h"

extern char** environ;

namespace kav {

namespace {

int32_t RoundMs(double t) {
  const double r = std::nearbyint(t);
  if (!(r == r)) return 0;
  if (r >= 2147483647.0) return 2147483647;
  if (r <= -2147483648.0) return -2147483647 - 1;
  return int32_t(r);
}

TSlideTiming Timing(TKavSource* source, int32_t index) {
  TSlideTiming t;
  source->GetSlideTiming(index, t);
  return t;
}

bool StopsAtEnd(TKavSource* source) { return source->RepeatMode() != kRepeatShow; }

}  // namespace

// ---- Slide times ----

int32_t PrevSlideTime(TKavSource* source, double t) {
  if (!source || source->SlideCount() <= 0) return 0;
  int32_t i = source->SlideIndexAtTime(t);
  if (i < 0) return 0;
  // Departure: "previous" goes to the start of the current slide, and one
  // slide further back only within 500 ms of that start (the behaviour the
  // two edge cases describe), instead of always skipping the current one.
  const TSlideTiming cur = Timing(source, i);
  const int32_t target = RoundMs(cur.Begin + cur.EffectTime);
  if (t - target >= 500) return target;
  if (i < 1) return 0;
  const TSlideTiming prev = Timing(source, i - 1);
  return RoundMs(prev.Begin + prev.EffectTime);
}

int32_t NextSlideTime(TKavSource* source, double t, bool paused) {
  if (!source || source->SlideCount() <= 0) return RoundMs(t);
  const int32_t count = source->SlideCount();
  const int32_t last = StopsAtEnd(source) ? count - 1 : 2147483646;
  int32_t i = std::min(source->SlideIndexAtTime(t), last);
  if (i < 0) i = 0;
  // Bounded: a show whose slides do not advance in time cannot keep the
  // search going for ever.
  for (int32_t steps = 0; steps <= count + 1 && i < last && RoundMs(Timing(source, i).Begin) <= t; ++steps) ++i;
  const TSlideTiming s = Timing(source, i);
  const int32_t begin = RoundMs(s.Begin);
  const bool past_last = StopsAtEnd(source) && i >= count;
  if (s.EffectTime == 0 && !past_last) return begin == 2147483647 ? begin : begin + 1;
  return paused ? RoundMs(s.Begin + s.EffectTime) : begin;
}

int32_t SlideStartTime(TKavSource* source, int32_t index) {
  if (!source) return 0;
  const int32_t i = std::max(index, 0);
  const TSlideTiming s = Timing(source, i);
  const int32_t begin = RoundMs(s.Begin);
  const bool is_end = StopsAtEnd(source) && i == source->SlideCount();
  if (s.EffectTime == 0 && !is_end && begin < 2147483647) return begin + 1;
  return begin;
}

int32_t SlideIndexById(TKavSource* source, const std::u16string& id) {
  if (!source) return -1;
  for (int32_t i = 0; i < source->SlideCount(); ++i)
    if (source->Slide(i).Id == id) return i;
  return -1;
}

// ---- Command guard ----

namespace {

// The command's first word as the guard reads it, lower-cased and without
// its folder, before it is cut at its first ".".
std::u16string CommandWord(const std::u16string& command) {
  if (command.find(u'>') != std::u16string::npos) return u">";
  std::u16string s;
  bool quoted = false;
  for (char16_t c : command) {
    if (c == u'"') {
      quoted = !quoted;
      continue;  // quote characters are removed
    }
    if (quoted && (c == u' ' || c == u'\t')) c = u'_';
    if (c == u'@' || c == u'|') continue;
    s += c;
  }
  size_t p = 0;
  while (p < s.size() && (s[p] == u' ' || s[p] == u'\t')) ++p;
  size_t e = p;
  while (e < s.size() && s[e] != u' ' && s[e] != u'\t') ++e;
  std::u16string word = s.substr(p, e - p);
  for (char16_t& c : word)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  if (word.empty()) return word;
  if (size_t b = word.rfind(u'\\'); b != std::u16string::npos) word.erase(0, b + 1);
  if (size_t b = word.rfind(u'/'); b != std::u16string::npos) word.erase(0, b + 1);
  return word;
}

}  // namespace

std::u16string NormalizeCommand(const std::u16string& command) {
  std::u16string word = CommandWord(command);
  if (size_t d = word.find(u'.'); d != std::u16string::npos) word.erase(d);
  return word;
}

namespace {

// The system commands a command text may not start.
const char16_t* const kSystemCommands[] = {
    u">", u"at", u"attrib", u"call", u"cmd", u"command", u"copy", u"del", u"deltree", u"erase", u"for",
    u"format", u"fdisk", u"runonce", u"move", u"net", u"runas", u"net1", u"ren", u"rename", u"replace", u"rmdir",
    u"rd", u"recover", u"regedit", u"rundll", u"qstart", u"start", u"sys", u"type", u"xcopy", u"regsrv",
    u"regedt32", u"regsvr32", u"rcp", u"ftp", u"tftp"};

// The programs that are refused even when the person running the player
// named them, each group with the reason the refusal gives. Naming a program
// allows the show to start it with any arguments it likes, so a program that
// can be told on its command line to run another program or code, or to
// write a file of the show's choosing, would hand the show everything.
struct TDenyGroup {
  std::initializer_list<std::u16string_view> Names;
  std::u16string_view Reason;
  bool Interpreter = false;  // a shell or a program that runs code: an argument may not name it either
};

const TDenyGroup kDenyGroups[] = {
    {{u"sh", u"bash", u"rbash", u"dash", u"ash", u"zsh", u"ksh", u"ksh93", u"mksh", u"lksh", u"pdksh", u"oksh",
      u"yash", u"posh", u"csh", u"tcsh", u"fish", u"elvish", u"xonsh", u"nu", u"ion", u"rc", u"es", u"sash",
      u"busybox", u"toybox", u"powershell", u"pwsh", u"cmd", u"command", u"osh", u"oil", u"ysh", u"murex",
      u"scsh", u"dtksh", u"smrsh", u"zsh5", u"ksh2020", u"loksh", u"heirloom-sh", u"bosh", u"jsh", u"hush",
      u"msh"},
     u"is a shell", true},
    {{u"python", u"pypy", u"ipython", u"jython", u"perl", u"perldoc", u"cpan", u"ruby", u"irb", u"erb", u"rake",
      u"gem", u"bundle", u"node", u"nodejs", u"npm", u"npx", u"yarn", u"pnpm", u"deno", u"bun", u"php", u"lua",
      u"luajit", u"texlua", u"tclsh", u"wish", u"jimsh", u"expect", u"guile", u"julia", u"r", u"rscript",
      u"octave", u"octave-cli", u"java", u"jshell", u"jrunscript", u"groovy", u"scala", u"kotlin", u"clojure",
      u"mono", u"dotnet", u"osascript", u"cscript", u"wscript", u"mshta", u"ghci", u"runghc", u"runhaskell",
      u"ocaml", u"sbcl", u"clisp", u"racket", u"erl", u"escript", u"elixir", u"iex", u"swipl", u"gforth", u"pip",
      u"pipx", u"pdb", u"pydoc", u"prove", u"awk", u"gawk", u"mawk", u"nawk", u"original-awk", u"sed", u"m4",
      u"dc", u"gnuplot", u"sqlite3", u"psql", u"mysql", u"gdb", u"gdbserver", u"lldb", u"vim", u"vi", u"nvim",
      u"rvim", u"vimdiff", u"view", u"ex", u"ed", u"emacs", u"less", u"more", u"most", u"pg", u"man", u"info",
      u"git", u"hg", u"svn", u"make", u"gmake", u"cmake", u"ctest", u"cpack", u"ninja", u"meson", u"scons",
      u"bazel", u"cargo", u"go", u"gcc", u"g++", u"cc", u"c++", u"clang", u"clang++", u"tcc", u"cpp", u"groff",
      u"tex", u"etex", u"pdftex", u"xetex", u"luatex", u"latex", u"pdflatex", u"xelatex", u"lualatex",
      u"gs", u"ghostscript", u"blender", u"gimp", u"inkscape", u"libreoffice", u"soffice", u"chromium",
      u"chromium-browser", u"google-chrome", u"google-chrome-stable", u"chrome", u"electron", u"code", u"vlc", u"cvlc", u"mpv",
      u"mplayer", u"qemu", u"wine", u"box64", u"valgrind", u"strace", u"ltrace", u"perf",
      // JavaScript, Lua, Tcl, Scheme, Lisp and other interpreters.
      u"gjs", u"gjs-console", u"cjs", u"seed", u"qjs", u"qjsc", u"js", u"rhino", u"jjs", u"d8", u"v8", u"duk",
      u"mujs", u"jsc", u"ts-node", u"tsx", u"coffee", u"babel-node", u"nw", u"luac", u"moon", u"fennel",
      u"expectk", u"tkcon", u"csi", u"gsi", u"gosh", u"chibi-scheme", u"scheme", u"mit-scheme", u"petite",
      u"chez", u"chezscheme", u"scheme48", u"raco", u"ecl", u"ccl", u"lisp", u"newlisp", u"picolisp", u"hy",
      u"janet", u"pike", u"regina", u"rexx", u"io", u"iconx", u"pforth", u"nickle", u"maxima", u"gp", u"gap",
      u"sage", u"yorick", u"scilab", u"bsh", u"bb", u"clj", u"lein", u"sbt", u"mvn", u"gradle", u"ant",
      u"jruby", u"truffleruby", u"mruby", u"mirb", u"bpython", u"ptpython", u"pipenv", u"poetry", u"conda",
      u"mamba", u"uv", u"uvx", u"pdm", u"hatch", u"tox", u"nox", u"pytest", u"py", u"cython", u"cpanm",
      u"raku", u"rakudo", u"perl6", u"moar", u"swift", u"rustc", u"ghc", u"stack", u"cabal", u"crystal",
      u"nim", u"zig", u"kotlinc", u"scalac", u"javac", u"festival", u"lilypond", u"asy", u"mpost", u"dvips",
      u"xdvi", u"emacs-nox", u"emacs-gtk", u"emacs-lucid", u"gdb-multiarch", u"rr", u"bpftrace", u"uftrace",
      u"pygmentize", u"sphinx-build", u"jupyter", u"ansible", u"ansible-playbook", u"bitbake", u"qmake",
      u"bmake", u"pmake", u"just", u"waf", u"autoreconf", u"autoconf", u"automake", u"libtool", u"logrotate",
      // The groff family: its preprocessors run commands (-U) or the tools after them.
      u"troff", u"gtroff", u"nroff", u"pic", u"gpic", u"tbl", u"gtbl", u"eqn", u"geqn", u"neqn", u"refer",
      u"grefer", u"grn", u"ggrn", u"grap", u"soelim", u"gsoelim", u"chem", u"preconv", u"grog", u"groffer",
      u"pdfroff", u"mmroff", u"gxditview", u"roff2dvi", u"roff2html", u"roff2pdf", u"roff2ps", u"roff2text",
      u"roff2x",
      // Compilers and their drivers (-wrapper, plugins, linkers of one's choosing).
      u"gfortran", u"gccgo", u"gdc", u"gm2", u"gnat", u"gnatmake", u"f77", u"f95", u"g77", u"gcj", u"c89",
      u"c99", u"lto-dump", u"collect2", u"lld", u"ld.lld", u"ld.bfd", u"ld.gold", u"gold", u"as", u"gcc-ar",
      u"gcc-nm", u"gcc-ranlib", u"nm", u"ranlib", u"objdump", u"nvcc", u"cobc", u"cobcrun", u"fpc",
      u"instantfpc", u"ifpc", u"ppcx64", u"fppkg", u"fpcmake", u"gcov", u"gcov-tool", u"lli", u"llc", u"opt",
      u"bugpoint", u"clangd", u"c-index-test", u"cppcheck", u"bats", u"dev_appserver", u"javadoc", u"jdb",
      u"jexec", u"rmiregistry", u"jhsdb", u"optscript", u"rpcgen", u"pkgdata", u"glib-compile-resources",
      u"glib-mkenums", u"terraform", u"gcloud", u"gsutil", u"bq", u"kpt", u"xvfb", u"xorg", u"xwayland",
      u"dbus-daemon", u"red", u"vimtutor", u"lesskey", u"zless", u"bzless", u"xzless", u"lzless",
      u"zstdless", u"zmore", u"bzmore", u"xzmore", u"lzmore", u"c89-gcc", u"c99-gcc", u"corepack", u"scalar",
      u"catman", u"firefox", u"firefox-esr", u"thunderbird", u"epiphany", u"qutebrowser",
      // The JDK's tools: each takes "-J" options for its Java machine (-J-javaagent runs a given jar).
      u"javap", u"javah", u"javaws", u"jconsole", u"jdeprscan", u"jdeps", u"jimage", u"jps", u"jstack", u"jstat",
      u"jstatd", u"jwebserver", u"jaotc", u"jsadebugd", u"serialver", u"native2ascii", u"rmic", u"idlj",
      u"schemagen", u"wsgen", u"wsimport", u"xjc", u"appletviewer", u"pack200", u"unpack200", u"kinit",
      u"klist", u"ktab",
      // Ghostscript's wrappers hand their arguments to gs (-dNOSAFER, -sOutputFile).
      u"gsnd", u"gsbj", u"gsdj", u"gsdj500", u"gslj", u"gslp", u"gsx", u"gsc", u"ps2ascii", u"ps2txt", u"pf2afm",
      u"pfbtopfa", u"printafm", u"pstopnm", u"pbmtextps", u"pdfopt", u"bdftops", u"font2c",
      // Loaders of plugins or build steps given to them (asan_symbolize --plugins, f2py --f77exec).
      u"asan_symbolize", u"hwasan_symbolize", u"f2py", u"cythonize", u"makeinfo", u"texi2any", u"autom4te"},
     u"runs code given on its command line or in a file it is given", true},
    {{u"env", u"exec", u"eval", u"source", u"builtin", u"call", u"start", u"qstart", u"runonce", u"runas",
      u"rundll", u"xargs", u"nohup", u"setsid", u"nice", u"timeout", u"stdbuf", u"setarch", u"linux32",
      u"linux64", u"i386", u"x86_64", u"uname26", u"flock", u"script", u"ionice", u"unshare", u"taskset", u"chrt",
      u"nsenter", u"chroot", u"runuser", u"sg", u"newgrp", u"systemd-run", u"systemd-nspawn", u"systemd-cat",
      u"systemd-inhibit", u"run-parts", u"start-stop-daemon", u"watch", u"time", u"parallel", u"tmux",
      u"screen", u"byobu", u"dtach", u"abduco", u"dbus-launch", u"dbus-run-session", u"ssh-agent", u"gpg-agent",
      u"flatpak-spawn", u"flatpak", u"snap", u"at", u"batch", u"ld", u"ldd", u"setpriv", u"bwrap",
      u"bubblewrap", u"firejail", u"xvfb-run", u"xinit", u"startx", u"prlimit", u"choom", u"logsave", u"capsh",
      u"fakeroot", u"fakechroot", u"proot", u"unbuffer", u"catchsegv", u"eatmydata", u"torsocks", u"torify",
      u"proxychains", u"nocache", u"faketime", u"cgexec", u"numactl", u"hwloc-bind", u"schedtool", u"trickle",
      u"cpulimit", u"chpst", u"daemonize", u"aa-exec", u"runcon", u"sandbox", u"lxc-attach", u"lxc-execute",
      u"docker", u"podman", u"kubectl", u"machinectl", u"ip", u"dpkg-architecture", u"vglrun", u"primusrun",
      u"optirun", u"prime-run", u"gamemoderun", u"mangohud", u"sudo", u"sudoedit", u"su", u"pkexec", u"doas",
      u"gksu", u"gksudo", u"kdesu", u"kdesudo", u"su-to-root", u"entr", u"find", u"xdotool", u"ydotool",
      u"wtype", u"xte", u"xdg-open", u"xdg-email", u"gio", u"kde-open", u"kde-open5", u"kioclient",
      u"kioclient5", u"gnome-open", u"exo-open", u"gtk-launch", u"dex", u"sensible-editor", u"sensible-pager",
      u"sensible-browser", u"editor", u"pager", u"ssh", u"mosh", u"rsh", u"rlwrap", u"socat", u"nc", u"ncat",
      u"netcat", u"telnet", u"yt-dlp", u"youtube-dl", u"aria2c", u"xterm", u"uxterm", u"gnome-terminal",
      u"konsole", u"x-terminal-emulator", u"xfce4-terminal", u"mate-terminal", u"lxterminal", u"qterminal",
      u"terminator", u"tilix", u"kitty", u"alacritty", u"urxvt", u"rxvt", u"rxvt-unicode", u"st", u"foot",
      u"wezterm", u"terminology", u"sakura", u"guake", u"tilda", u"yakuake", u"cool-retro-term", u"sotruss",
      u"memusage", u"xtrace", u"scriptlive", u"scriptreplay", u"tput", u"tset", u"reset", u"autossh",
      u"sshpass", u"sshfs", u"lftp", u"rclone", u"smbclient", u"heaptrack", u"trace-cmd", u"daemon", u"runit",
      u"sv", u"s6-setuidgid", u"rlogin", u"rexec", u"apt", u"aptitude", u"synaptic", u"ccache", u"bear",
      u"scan-build", u"intercept-build", u"analyze-build", u"run-clang-tidy", u"not", u"gtester", u"luit",
      u"uclampset", u"msgexec", u"msgfilter", u"run-mailcap", u"see", u"edit", u"compose", u"print",
      u"gapplication", u"gprofng", u"gp-collect-app", u"gcore", u"vgdb", u"pg_virtualenv", u"login", u"agetty",
      u"getty", u"sulogin", u"bashbug", u"select-editor", u"vorbistagedit", u"vipw", u"vigr", u"cscope",
      u"make-first-existing-target", u"pkcon", u"pkttyagent", u"pamexec", u"ppmtompeg", u"diff3",
      u"gio-launch-desktop", u"a2ps", u"enscript",
      u"scan-build-py",
      // Programs that start what a settings file they are given names
      // (xkbevd's shell command at a bell, cupsd's filters, a PPD's filters
      // for cupsfilter), or build shell commands from their arguments
      // (pnmindex; pnmtorle opens a name that begins with "|" as a command).
      u"xkbevd", u"cupsd", u"cupsfilter", u"cups-browsed", u"ippeveprinter", u"ippfind", u"pnmindex",
      u"pnmtorle", u"xrdb", u"x-www-browser", u"gnome-www-browser", u"www-browser", u"lynx", u"w3m",
      u"elinks", u"links", u"links2",
      // Window managers, compositors and session managers: each starts the
      // programs named in its arguments (openbox --startup, cage, sway -c)
      // or in the settings or session it is given. x-window-manager and
      // x-session-manager are Debian's alternatives for them.
      u"openbox", u"openbox-session", u"openbox-gnome-session", u"openbox-kde-session", u"openbox-lxde",
      u"openbox-autostart", u"openbox-xdg-autostart", u"x-window-manager", u"x-session-manager", u"9wm",
      u"w9wm", u"aewm", u"aewm++", u"afterstep", u"awesome", u"blackbox", u"bspwm", u"cinnamon", u"clfswm",
      u"ctwm", u"cwm", u"dwm", u"enlightenment", u"enlightenment_start", u"e16", u"evilwm", u"fluxbox",
      u"startfluxbox", u"flwm", u"fvwm", u"fvwm1", u"fvwm2", u"fvwm3", u"fvwm-crystal", u"herbstluftwm", u"i3",
      u"i3-with-shmlog", u"icewm", u"icewm-session", u"icewmbg", u"jwm", u"kwin", u"kwin_x11",
      u"kwin_wayland", u"lwm", u"marco", u"matchbox-window-manager", u"metacity", u"miwm", u"muffin",
      u"mutter", u"mwm", u"notion", u"pekwm", u"ratpoison", u"sawfish", u"spectrwm", u"scrotwm", u"stumpwm",
      u"subtle", u"twm", u"ukwm", u"vtwm", u"windowlab", u"wm2", u"wmaker", u"windowmaker", u"xfwm4",
      u"xmonad", u"compiz", u"gnome-shell", u"sway", u"weston", u"labwc", u"wayfire", u"hyprland", u"river",
      u"cage", u"gamescope", u"gnome-session", u"gnome-session-flashback", u"gnome-flashback",
      u"cinnamon-session", u"mate-session", u"lxqt-session", u"startlxqt", u"lxsession", u"startlxde",
      u"xfce4-session", u"startxfce4", u"startplasma-x11", u"startplasma-wayland", u"startkde",
      u"ksmserver", u"plasma_session", u"sugar", u"sugar-session", u"ukui-session", u"budgie-desktop",
      u"startdde"},
     u"runs the program named in its arguments"},
    {{u"ffmpeg", u"ffprobe", u"avconv", u"gst-launch", u"convert", u"magick", u"mogrify", u"montage",
      u"composite", u"import", u"gm", u"sox", u"lame", u"flac", u"oggenc", u"opusenc", u"mencoder", u"cp",
      u"mv", u"dd", u"tee", u"install", u"ln", u"rm", u"rmdir", u"shred", u"truncate", u"unlink", u"rsync",
      u"scp", u"sftp", u"rcp", u"ftp", u"tftp", u"tar", u"zip", u"unzip", u"7z", u"7za", u"7zr", u"xz", u"gzip",
      u"gunzip", u"bzip2", u"zstd", u"cpio", u"pax", u"ar", u"split", u"csplit", u"sort", u"uniq", u"shuf",
      u"patch", u"objcopy", u"strip", u"pandoc", u"xxd", u"iconv", u"qpdf", u"pdftk", u"mutool", u"exiftool",
      u"xmllint", u"xsltproc", u"rsvg-convert", u"wkhtmltopdf", u"wkhtmltoimage", u"gpg", u"openssl", u"curl",
      u"wget", u"dos2unix", u"unix2dos", u"tidy", u"recode", u"copy", u"xcopy", u"move", u"del", u"deltree",
      u"erase", u"ren", u"rename", u"replace", u"rd", u"type",
      // ImageMagick and GraphicsMagick tools (versioned names such as
      // convert-im6.q16 are read without their "-im6..." part).
      u"stream", u"animate", u"display", u"compare", u"conjure", u"identify", u"magick-script",
      // Poppler, Ghostscript and TeX helpers that write what they are told.
      u"pdfdetach", u"pdfattach", u"pdfimages", u"pdfseparate", u"pdfunite", u"pdftoppm", u"pdftocairo",
      u"pdftohtml", u"pdftops", u"pdftotext", u"pdfsig", u"ps2pdf", u"ps2pdf12", u"ps2pdf13", u"ps2pdf14",
      u"ps2pdfwr", u"ps2ps", u"ps2ps2", u"pdf2ps", u"pdf2dsc", u"eps2eps", u"ps2epsi", u"dvipdf", u"dvipdfm",
      u"dvipdfmx", u"pdfjam", u"img2pdf", u"ocrmypdf", u"tesseract",
      // Players, recorders and speech that write files (-w, -o, -report).
      u"ffplay", u"ffserver", u"mpg123", u"mpg321", u"ogg123", u"arecord", u"parecord", u"pw-record",
      u"pw-cat", u"rec", u"play", u"espeak", u"espeak-ng", u"pico2wave", u"flite", u"text2wave",
      u"timidity", u"fluidsynth", u"cdparanoia", u"wodim", u"cdrecord", u"growisofs", u"genisoimage",
      u"xorriso", u"mkisofs",
      // Packers and downloaders.
      u"bsdtar", u"bsdcpio", u"pigz", u"unpigz", u"lz4", u"lzip", u"lzma", u"unlzma", u"unxz", u"unzstd",
      u"zstdmt", u"brotli", u"bunzip2", u"unrar", u"rar", u"cabextract", u"lha", u"arj", u"compress",
      u"uncompress", u"rpm", u"rpm2cpio", u"alien", u"axel", u"http", u"https", u"ncftp",
      // Files moved, emptied, zeroed or made.
      u"savelog", u"fallocate", u"sponge", u"mkdir", u"mkfifo", u"mknod", u"link", u"srm",
      u"wipe", u"exiv2", u"jhead", u"jpegtran", u"cjpeg", u"djpeg", u"optipng", u"pngcrush", u"cwebp",
      u"dwebp", u"gifsicle", u"vips", u"potrace", u"dot", u"neato", u"circo", u"twopi", u"fdp", u"sfdp",
      u"osage", u"patchwork", u"elfedit", u"dwp", u"memusagestat", u"tic", u"captoinfo", u"infotocap",
      u"ssh-keygen", u"ssh-add", u"ssh-copy-id", u"hardlink", u"bzexe", u"gzexe", u"znew", u"zforce",
      u"bzip2recover", u"zipcloak", u"zipnote", u"zipsplit", u"unzipsfx", u"pzstd", u"ptar", u"rmt",
      u"rmt-tar", u"qt-faststart", u"split-file", u"vorbiscomment", u"vcut", u"oggdec", u"out123",
      u"speak-ng", u"ctags", u"etags", u"ctags-universal", u"helpztags", u"xgettext", u"gettextize",
      u"glib-gettextize", u"pygettext", u"h2xs", u"h2ph", u"xsubpp", u"enc2xs", u"pl2pm", u"instmodsh",
      u"libnetcfg", u"py3compile", u"py3clean", u"activate-global-python-argcomplete", u"sdiff", u"yq",
      u"tomlq", u"xq", u"xq-python", u"xclip-copyfile", u"xclip-pastefile", u"jpegexiforient",
      u"exifautotran", u"pngfix", u"psicc", u"linkicc", u"jpgicc", u"tificc", u"transicc", u"hb-view",
      u"hb-subset", u"pango-view", u"fonttosfnt", u"bdftopcf", u"ucs2any", u"mkfontdir", u"mkfontscale",
      u"gdk-pixbuf-thumbnailer", u"gdk-pixbuf-pixdata", u"glib-genmarshal", u"wayland-scanner", u"icupkg",
      u"genrb", u"makeconv", u"genccode", u"gencmn", u"gendict", u"genbrk", u"gencfu", u"gennorm2",
      u"gensprep", u"gencnval", u"derb", u"uconv", u"icuexportdata", u"osslsigncode", u"dsymutil",
      u"yaml2obj", u"find-all-symbols", u"hmaptool", u"jar", u"jarsigner", u"jlink", u"jmod", u"jpackage",
      u"keytool", u"jmap", u"jcmd", u"jfr", u"make-ssl-cert", u"c_rehash", u"rtmon", u"dbus-uuidgen",
      u"dbus-cleanup-sockets", u"cpgr", u"cppw", u"zic", u"iconvconfig", u"ldconfig", u"locale-gen",
      u"localedef", u"aspell-autobuildhash", u"ispell-autobuildhash", u"xmlcatalog", u"install-sgmlcatalog",
      u"pg_dump", u"pg_dumpall", u"pg_restore", u"pg_basebackup", u"pg_receivewal", u"pg_receivexlog",
      u"pg_recvlogical", u"pgbench", u"initdb", u"postgres", u"gp-archive", u"xauth", u"cscope-indexer",
      u"mandb", u"xclip-cutfile", u"fatbinary", u"ptxas", u"nvlink", u"cudafe++", u"h2pas",
      // Output files named in the arguments (appstreamcli can write an autostart entry, ptx its second name,
      // units its log).
      u"appstreamcli", u"gio-querymodules", u"gdbus-codegen", u"hb-shape", u"ptx", u"texindex", u"bison",
      u"yacc", u"flex", u"lex", u"indent", u"gperf", u"pamsplit", u"pnmsplit", u"pamdice", u"ppmfade",
      u"pnmquantall", u"units",
      // Free Pascal's utilities: each writes (delp, rmcvsdir and ppumove
      // delete or move) files named in its arguments.
      u"data2inc", u"ptop", u"delp", u"bin2obj", u"chmcmd", u"chmls", u"cldrparser", u"compileserver",
      u"fd2pascal", u"fpcjres", u"fpclasschart", u"fpcmkcfg", u"fpcres", u"fpcsubst", u"fpdoc", u"fprcp",
      u"h2paspp", u"json2pas", u"makeskel", u"pas2fpm", u"pas2jni", u"pas2js", u"pas2ut", u"plex", u"pyacc",
      u"postw32", u"ppumove", u"rmcvsdir", u"rstconv", u"unihelper", u"webidl2pas", u"samplecfg",
      // Netpbm's programs that write a file named in their arguments besides
      // their output (an alpha mask, an EXIF block, a map, files of a base
      // name), or that overwrite the files they are given.
      u"pktopbm", u"pbmtopk", u"ppmtoyuvsplit", u"pnmmontage", u"ppmquantall", u"ppmtorgb3", u"fiascotopnm",
      u"pnmtofiasco", u"pnmstitch", u"pamtotiff", u"pnmtotiff", u"ppmtowinicon", u"winicontoppm",
      u"pnmtoddif", u"pdbimgtopam", u"pnmhisteq", u"giftopnm", u"tifftopnm", u"tgatoppm", u"rletopnm",
      u"xpmtoppm", u"ximtoppm", u"jpegtopnm", u"pngtopam", u"pngtopnm", u"jbigtopnm", u"pnmtojbig", u"pamcomp",
      // util-linux's, iproute2's, CUPS's and X's that write named files (a
      // utmp file, blkid's cache, arpd's database, a PPD, a print file, a
      // session record).
      u"utmpdump", u"blkid", u"arpd", u"xkbprint", u"ppdc", u"ppdi", u"ppdmerge", u"ppdpo", u"sessreg",
      u"uuidd", u"exch", u"lvmdump"},
     u"writes files named in its arguments"},
    {{u"chmod", u"chown", u"chgrp", u"chattr", u"kill", u"killall", u"pkill", u"shutdown", u"reboot", u"halt",
      u"poweroff", u"systemctl", u"service", u"loginctl", u"crontab", u"mount", u"umount", u"mkfs", u"fdisk",
      u"format", u"sys", u"attrib", u"recover", u"net", u"net1", u"regedit", u"regedt32", u"regsrv",
      u"regsvr32", u"dconf", u"gsettings", u"kwriteconfig5", u"kwriteconfig6", u"xdg-mime", u"xdg-settings",
      u"dbus-send", u"gdbus", u"busctl", u"desktop-file-install", u"desktop-file-edit",
      u"update-desktop-database", u"xdg-desktop-menu", u"xdg-desktop-icon", u"xdg-icon-resource",
      u"xdg-user-dirs-update", u"update-mime-database", u"gtk-update-icon-cache", u"glib-compile-schemas",
      u"install-info", u"update-alternatives", u"debconf", u"debconf-set-selections", u"ucf", u"wipefs",
      u"blkdiscard", u"sfdisk", u"parted", u"gdisk", u"sgdisk", u"cfdisk", u"mkswap", u"swapon", u"swapoff",
      u"losetup", u"tune2fs", u"e2fsck", u"fsck", u"badblocks", u"hdparm", u"setfacl", u"setfattr",
      u"chcon", u"usermod", u"useradd", u"modprobe", u"insmod",
      u"rmmod", u"sysctl", u"timedatectl", u"hostnamectl", u"localectl", u"nmcli", u"iptables", u"nft",
      u"add-apt-repository", u"adduser", u"addgroup", u"deluser", u"delgroup", u"userdel", u"groupadd",
      u"groupdel", u"groupmod", u"groupmems", u"newusers", u"chpasswd", u"chgpasswd", u"gpasswd", u"chage",
      u"pwck", u"grpck", u"pwconv", u"pwunconv", u"grpconv", u"grpunconv", u"faillock", u"faillog",
      u"lastlog", u"add-shell", u"remove-shell", u"addpart", u"delpart", u"resizepart", u"partx",
      u"blockdev", u"resize2fs", u"e2image", u"e2undo", u"e4defrag", u"debugfs", u"mke2fs", u"e2scrub",
      u"e2scrub_all", u"dmsetup", u"fsfreeze", u"fstrim", u"swaplabel", u"zramctl", u"chmem", u"chcpu",
      u"rtcwake", u"ctrlaltdel", u"hwclock", u"switch_root", u"pivot_root", u"init", u"systemd", u"telinit",
      u"ldattach", u"slattach", u"ifconfig", u"route", u"arp", u"rarp", u"nameif", u"plipconfig",
      u"mii-tool", u"ipmaddr", u"iptunnel", u"tc", u"devlink", u"bridge", u"rdma", u"vdpa", u"tipc", u"dcb",
      u"genl", u"installkernel", u"kernel-install", u"invoke-rc.d", u"policy-rc.d", u"pam-auth-update",
      u"setcap", u"renice", u"skill", u"snice", u"xkill", u"fuser", u"wall", u"write", u"setxkbmap",
      u"xkbcomp", u"setterm", u"hostname", u"domainname", u"nisdomainname", u"ypdomainname", u"date",
      u"networkctl", u"dmesg", u"journalctl", u"ucfr", u"createdb", u"dropdb", u"createuser", u"dropuser",
      u"createlang", u"droplang", u"clusterdb", u"reindexdb", u"vacuumdb", u"vacuumlo", u"pg_ctl",
      u"addgnupghome", u"applygnupgdefaults", u"dirmngr", u"kbxutil", u"dbus-update-activation-environment",
      u"jinfo", u"mkhomedir_helper", u"ipcrm",
      // The shadow tools, and util-linux's, e2fsprogs' and LVM's that change
      // users, devices, file systems or the kernel's profile.
      u"passwd", u"chfn", u"chsh", u"shadowconfig", u"expiry", u"newuidmap", u"newgidmap", u"blkzone",
      u"blkdeactivate", u"readprofile", u"wdctl", u"rfkill", u"tunelp", u"fdformat", u"eject", u"e4crypt",
      u"e2label", u"mklost+found", u"grab_vcsa", u"fsadm", u"dmstats", u"lvm", u"lvmconfig", u"lvmdevices",
      u"lvmdiskscan", u"lvmpolld", u"lvmsadc", u"lvmsar", u"lvchange", u"lvconvert", u"lvcreate", u"lvextend",
      u"lvreduce", u"lvremove", u"lvrename", u"lvresize", u"pvchange", u"pvck", u"pvcreate", u"pvmove",
      u"pvremove", u"pvresize", u"pvscan", u"vgcfgbackup", u"vgcfgrestore", u"vgchange", u"vgck", u"vgconvert",
      u"vgcreate", u"vgexport", u"vgextend", u"vgimport", u"vgimportclone", u"vgimportdevices", u"vgmerge",
      u"vgmknodes", u"vgreduce", u"vgremove", u"vgrename", u"vgscan", u"vgsplit",
      // CUPS's printer and queue administration, iproute2's route flush and
      // socket kill (ss -K), X's access control and key map, openbox's
      // display-manager control.
      u"cupsctl", u"lpadmin", u"lpmove", u"lpc", u"lprm", u"cancel", u"lpoptions", u"cupsaccept",
      u"cupsreject", u"cupsenable", u"cupsdisable", u"accept", u"reject", u"routef", u"ss", u"xhost",
      u"xmodmap", u"gdm-control"},
     u"changes the system's settings, files or processes"},
};

// Families known by how their names begin (python3.11-dbg, qemu-x86_64,
// ld-linux-x86-64.so.2, perl5.36-x86_64-linux-gnu).
const TDenyGroup kDenyPrefixes[] = {
    {{u"python", u"pypy", u"ipython", u"jython", u"perl", u"ruby", u"php", u"lua", u"tclsh", u"wish", u"node",
      u"pip", u"guile", u"racket", u"octave", u"emacs", u"gdb", u"groff", u"git-", u"clang-", u"llvm-",
      u"gnat", u"fpc", u"java", u"f2py", u"ps2", u"pdf2", u"eps2", u"texi2"},
     u"runs code given on its command line or in a file it is given", true},
    {{u"qemu-", u"ld-linux", u"ld.so", u"apt-", u"gpg", u"ssh", u"systemd-", u"fakeroot", u"deb-systemd-",
      u"openbox", u"fvwm", u"icewm", u"startplasma", u"gnome-session", u"cups"},
     u"runs the program named in its arguments"},
    {{u"dpkg", u"mpg123", u"msg", u"pod2", u"appstream", u"hb-", u"gio-", u"glib-"},
     u"writes files named in its arguments"},
    {{u"update-", u"debconf", u"dh_", u"pg_", u"select-default-", u"remove-default-", u"lvm"},
     u"changes the system's settings, files or processes"},
};

// The group that holds a name; nil when none does.
const TDenyGroup* GroupOf(std::u16string_view name) {
  if (name.empty()) return nullptr;
  for (const TDenyGroup& g : kDenyGroups)
    for (std::u16string_view n : g.Names)
      if (n == name) return &g;
  return nullptr;
}

// The reason a name is refused; empty when no group holds it.
std::u16string_view GroupReason(std::u16string_view name) {
  const TDenyGroup* g = GroupOf(name);
  return g ? g->Reason : std::u16string_view();
}

template <size_t N>
bool InList(const char16_t* const (&list)[N], std::u16string_view name) {
  for (const char16_t* p : list)
    if (name == p) return true;
  return false;
}

// Whether a command's word names a document rather than a program: its
// extension is letters only and none that programs carry. Documents go to
// the opener, so the Linux names judge them only when they would run
// (IsProhibitedProgramFile): "install.txt" and "time.pdf" stay documents.
bool LooksLikeDocument(const std::u16string& word) {
  static const char16_t* const kProgramExtensions[] = {u"exe", u"com", u"bat", u"cmd", u"sh", u"bash", u"bin",
                                                       u"run", u"out", u"elf", u"so", u"appimage", u"py", u"pl",
                                                       u"rb", u"js", u"php", u"lua", u"tcl", u"jar"};
  const size_t dot = word.rfind(u'.');
  if (dot == std::u16string::npos || dot + 1 == word.size()) return false;
  const std::u16string ext = word.substr(dot + 1);
  for (char16_t c : ext)
    if (c < u'a' || c > u'z') return false;
  return !InList(kProgramExtensions, ext);
}

std::u16string StripVersion(std::u16string s) {
  while (!s.empty() &&
         ((s.back() >= u'0' && s.back() <= u'9') || s.back() == u'.' || s.back() == u'-' || s.back() == u'_'))
    s.pop_back();
  return s;
}

// The group that refuses a program name, lower-cased and without its
// folder; nil when none does. The name is judged as it is, cut at its first
// "." (python.exe), without a version at its end (perl5.36.0, tclsh8.6,
// python3.11, gst-launch-1.0), by the part after a target prefix
// (x86_64-linux-gnu-gcc-12 is gcc) and by the families' beginnings.
const TDenyGroup* ProhibitedNameGroup(const std::u16string& name) {
  if (name.empty()) return nullptr;
  const std::u16string cut = name.substr(0, name.find(u'.'));
  std::vector<std::u16string> forms{name, cut, StripVersion(name), StripVersion(cut)};
  // A statically linked build (bash-static, mksh-static) and ImageMagick's
  // versioned names (convert-im6.q16, magick-im7.q16hdri) are the program
  // itself.
  for (size_t i = 0, n = forms.size(); i < n; ++i) {
    const std::u16string f = forms[i];
    constexpr std::u16string_view kStatic = u"-static";
    if (f.size() > kStatic.size() && f.compare(f.size() - kStatic.size(), kStatic.size(), kStatic) == 0)
      forms.push_back(StripVersion(f.substr(0, f.size() - kStatic.size())));
    for (size_t im = f.find(u"-im"); im != std::u16string::npos; im = f.find(u"-im", im + 1))
      if (im > 0 && im + 3 < f.size() && f[im + 3] >= u'0' && f[im + 3] <= u'9') forms.push_back(f.substr(0, im));
  }
  // A tool behind a target prefix of at least three parts (x86_64-linux-gnu-,
  // arm-none-eabi-, i686-w64-mingw32-): what follows the third dash or a
  // later one (x86_64-linux-gnu-lto-dump-12 is lto-dump); "gnome-text-editor"
  // keeps its name.
  for (size_t i = 0, n = forms.size(); i < n; ++i) {
    const std::u16string f = forms[i];
    size_t dash = std::u16string::npos;
    for (int parts = 1; parts <= 8; ++parts) {
      dash = f.find(u'-', dash + 1);
      if (dash == std::u16string::npos || dash + 1 >= f.size()) break;
      if (parts >= 3) forms.push_back(f.substr(dash + 1));
    }
  }
  for (const std::u16string& f : forms)
    if (const TDenyGroup* g = GroupOf(f)) return g;
  for (const std::u16string& f : forms)
    for (const TDenyGroup& g : kDenyPrefixes)
      for (std::u16string_view p : g.Names)
        if (f.compare(0, p.size(), p) == 0) return &g;
  return nullptr;
}

// Why a program name is refused (the group's reason); empty when it is not.
std::u16string ProhibitedNameReason(const std::u16string& name) {
  const TDenyGroup* g = ProhibitedNameGroup(name);
  return g ? std::u16string(g->Reason) : std::u16string();
}

std::u16string LowerLastComponent(std::u16string_view path) {
  std::u16string s(path);
  if (size_t b = s.find_last_of(u"\\/"); b != std::u16string::npos) s.erase(0, b + 1);
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return s;
}

}  // namespace

// Departure: besides the system commands of the reduced name, the Linux
// groups judge the uncut word, a version suffix removed, unless it is a document.
std::u16string ProhibitedCommandReason(const std::u16string& command) {
  const std::u16string reduced = NormalizeCommand(command);
  if (reduced == u">") return u"the command writes its output to a file (\">\")";
  if (InList(kSystemCommands, reduced)) {
    const std::u16string_view reason = GroupReason(reduced);
    return u"\"" + reduced + u"\" " + std::u16string(reason.empty() ? u"is a system command" : reason);
  }
  const std::u16string word = CommandWord(command);
  if (LooksLikeDocument(word)) return {};
  const std::u16string reason = ProhibitedNameReason(word);
  return reason.empty() ? reason : u"\"" + word + u"\" " + reason;
}

bool IsProhibitedCommand(const std::u16string& command) { return !ProhibitedCommandReason(command).empty(); }

namespace {

// The names a program file goes by, lower-cased: its own, each link's on the
// way to the file it leads to (an alternatives link such as
// /etc/alternatives/convert among them) and that file's.
std::vector<std::u16string> ProgramFileNames(const std::string& path) {
  std::vector<std::u16string> names{LowerLastComponent(SystemUTF8ToWide(path))};
  auto add = [&](const std::string& p) {
    const std::u16string n = LowerLastComponent(SystemUTF8ToWide(p));
    if (!n.empty() && std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
  };
  std::string cur = path;
  for (int step = 0; step < 40; ++step) {  // the system's own limit on links followed
    char target[4096];
    const ssize_t n = readlink(cur.c_str(), target, sizeof target - 1);
    if (n <= 0) break;
    std::string next(target, size_t(n));
    if (next[0] != '/') {
      const size_t slash = cur.rfind('/');
      next = (slash == std::string::npos ? std::string() : cur.substr(0, slash + 1)) + next;
    }
    add(next);
    cur = next;
  }
  if (char* real = realpath(path.c_str(), nullptr)) {
    add(real);
    free(real);
  }
  return names;
}

// Why the program file is refused by a group (any, or only those of shells
// and interpreters): its own name, or the name of a link or file it leads to
// ("\"innocent\" is \"dash\", which is a shell"); empty when it is not.
std::u16string ProgramFileReason(const std::string& path, bool interpreters_only) {
  const std::vector<std::u16string> names = ProgramFileNames(path);
  for (size_t i = 0; i < names.size(); ++i) {
    const TDenyGroup* g = ProhibitedNameGroup(names[i]);
    if (!g || (interpreters_only && !g->Interpreter)) continue;
    if (i == 0) return u"\"" + names[0] + u"\" " + std::u16string(g->Reason);
    return u"\"" + names[0] + u"\" is \"" + names[i] + u"\", which " + std::u16string(g->Reason);
  }
  return {};
}

}  // namespace

std::u16string ProhibitedProgramReason(const std::string& path) { return ProgramFileReason(path, false); }

bool IsProhibitedProgramFile(const std::string& path) { return !ProhibitedProgramReason(path).empty(); }

std::string FindProgramOnPath(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return name;
  // The search execvp makes: PATH's folders in order (an empty entry is the
  // current folder), or the system's default when PATH is unset.
  const char* env = getenv("PATH");
  const std::string path_list = env ? env : "/bin:/usr/bin";
  size_t start = 0;
  for (;;) {
    const size_t colon = path_list.find(':', start);
    const std::string entry = path_list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    const std::string candidate = (entry.empty() ? std::string(".") : entry) + "/" + name;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (colon == std::string::npos) return {};
    start = colon + 1;
  }
}

namespace {
// A command text split at commas outside double quotes.
std::vector<std::u16string> SplitCommands(const std::u16string& text) {
  std::vector<std::u16string> commands;
  std::u16string cur;
  bool quoted = false;
  for (char16_t c : text) {
    if (c == u'"') quoted = !quoted;
    if (c == u',' && !quoted) {
      commands.push_back(cur);
      cur.clear();
      continue;
    }
    cur += c;
  }
  commands.push_back(cur);
  return commands;
}
}  // namespace

bool CheckCommandLine(const std::u16string& text, std::vector<TCommandPart>& parts) {
  parts.clear();
  const std::vector<std::u16string> commands = SplitCommands(text);
  for (const auto& c : commands)
    if (IsProhibitedCommand(c)) return false;
  for (const auto& c : commands) {
    size_t p = 0;
    while (p < c.size() && (c[p] == u' ' || c[p] == u'\t')) ++p;
    TCommandPart part;
    size_t rest;
    if (p < c.size() && c[p] == u'"') {
      const size_t close = c.find(u'"', p + 1);
      part.Program = c.substr(p, close == std::u16string::npos ? std::u16string::npos : close - p + 1);
      rest = close == std::u16string::npos ? c.size() : close + 1;
    } else {
      size_t e = p;
      while (e < c.size() && c[e] != u' ' && c[e] != u'\t') ++e;
      part.Program = c.substr(p, e - p);
      rest = e;
    }
    while (rest < c.size() && (c[rest] == u' ' || c[rest] == u'\t')) ++rest;
    part.Parameters = c.substr(std::min(rest, c.size()));
    parts.push_back(part);
  }
  return true;
}

std::vector<std::u16string> SplitArguments(const std::u16string& parameters) {
  std::vector<std::u16string> args;
  std::u16string cur;
  bool quoted = false, any = false;
  for (char16_t c : parameters) {
    if (c == u'"') {
      quoted = !quoted;
      any = true;
      continue;
    }
    if (!quoted && (c == u' ' || c == u'\t')) {
      if (any) args.push_back(cur);
      cur.clear();
      any = false;
      continue;
    }
    cur += c;
    any = true;
  }
  if (any) args.push_back(cur);
  return args;
}

namespace {
// Why `word`, as a program another program could start, is a shell or an
// interpreter: a path (as it is, so relative to the current folder the
// program starts in) or a bare name found on PATH, that is an executable
// file the deny list knows as one, by its name or the names its links lead
// to. Empty for anything else: a word that names no program ("Ruby",
// "--title=Wish", a folder of the show called "wish") is not one.
std::u16string InterpreterProgramReason(const std::u16string& word) {
  if (word.empty() || word.find(u'\0') != std::u16string::npos || word.size() > 4096) return {};
  const std::string utf8 = WideToSystemUTF8(word);
  const std::string file = FindProgramOnPath(utf8);
  struct stat st {};
  if (file.empty() || stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || access(file.c_str(), X_OK) != 0)
    return {};
  return ProgramFileReason(file, true);
}
}  // namespace

std::u16string ShellArgument(const std::u16string& parameters, std::u16string* why) {
  for (const std::u16string& arg : SplitArguments(parameters)) {
    // The argument, and each piece of a list or an option's value:
    // /bin/sh,-c,id and --shell=bash.
    std::u16string reason = InterpreterProgramReason(arg);
    for (size_t start = 0; reason.empty() && start <= arg.size();) {
      size_t end = arg.find_first_of(u",=:;", start);
      if (end == std::u16string::npos) end = arg.size();
      if (end - start < arg.size()) reason = InterpreterProgramReason(arg.substr(start, end - start));
      start = end + 1;
    }
    if (!reason.empty()) {
      if (why) *why = reason;
      return arg;
    }
  }
  return {};
}

// ---- Allowed programs ----

namespace {
std::string RealPath(const std::string& path) {
  if (path.empty()) return {};
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string r(real);
  free(real);
  return r;
}

// A program's name as the allowed list keeps it: a bare name as it is, a
// path made absolute and tidied (no "." or ".." parts, no doubled "/"),
// without resolving its links.
std::string ProgramName(const std::string& name) {
  if (name.find('/') == std::string::npos) return name;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
  return (ec ? std::filesystem::path(name) : absolute).lexically_normal().string();
}

bool Within(const std::string& real, const std::string& folder) {
  if (folder.empty()) return false;
  const size_t n = folder.back() == '/' ? folder.size() : folder.size() + 1;
  return real.size() > n && real.compare(0, folder.size(), folder) == 0 && real[n - 1] == '/';
}
}  // namespace

TAllowedPrograms MakeAllowedPrograms(const std::vector<std::string>& names, std::vector<std::string>* problems) {
  TAllowedPrograms allowed;
  for (const std::string& name : names) {
    if (name == "show") {
      allowed.ShowPrograms = true;
      continue;
    }
    const std::string file = name.find('/') == std::string::npos ? FindProgramOnPath(name) : ProgramName(name);
    const std::string real = RealPath(file);
    struct stat st {};
    if (real.empty() || stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      if (problems) problems->push_back("no program \"" + name + "\" was found; it allows nothing");
      continue;
    }
    // The second wall: what the deny list refuses stays refused.
    if (const std::u16string reason = ProhibitedProgramReason(file); !reason.empty()) {
      if (problems)
        problems->push_back("\"" + name + "\" is refused even when named: " + WideToSystemUTF8(reason) +
                            "; it allows nothing");
      continue;
    }
    allowed.Programs.push_back({ProgramName(name), real});
  }
  return allowed;
}

std::u16string ProgramRefusal(const TAllowedPrograms& allowed, const std::string& requested,
                              const std::string& program) {
  const std::string real = RealPath(program);
  if (real.empty()) return u"the program cannot be found";
  const std::string name = ProgramName(requested);
  std::string same_file;  // a name allowed for the same file, when the request used another
  for (const TAllowedProgram& p : allowed.Programs) {
    if (p.File != real) continue;
    if (p.Name == name) return {};
    same_file = p.Name;
  }
  if (allowed.ShowPrograms && Within(real, allowed.ShowFolder)) return {};
  if (!same_file.empty())
    return u"--allow-programs names \"" + SystemUTF8ToWide(same_file) +
           u"\", not this name of the same file (a program of many names does what its name says)";
  if (allowed.ShowPrograms && allowed.ShowFolder.empty())
    return u"the program is not one that --allow-programs names (\"show\" allows only the programs in the "
           u"folder of a show played from its folder; a packed show carries none the player starts)";
  return u"the program is not one that --allow-programs names";
}

bool IsProgramAllowed(const TAllowedPrograms& allowed, const std::string& requested, const std::string& program) {
  return ProgramRefusal(allowed, requested, program).empty();
}

// ---- Starting ----

namespace {
std::atomic<bool> g_allowed{false};
std::mutex g_spawn_lock;
TSpawnFn g_spawn;
std::mutex g_allowed_lock;
TAllowedPrograms g_allowed_programs;  // under g_allowed_lock

// Why the file `program`, asked for as `requested`, may not start: the deny
// list's reason, then the allowed list's; empty when it may.
std::u16string WhyNotStart(const std::string& requested, const std::string& program) {
  if (std::u16string reason = ProhibitedProgramReason(program); !reason.empty())
    return reason + u", and is refused even when named";
  std::lock_guard<std::mutex> lock(g_allowed_lock);
  return ProgramRefusal(g_allowed_programs, requested, program);
}

// Whether a path is one the person named (so the show may ask for it by
// that path).
bool IsNamedPath(const std::string& path) {
  const std::string name = ProgramName(path);
  std::lock_guard<std::mutex> lock(g_allowed_lock);
  for (const TAllowedProgram& p : g_allowed_programs.Programs)
    if (p.Name == name) return true;
  return false;
}

// Departure: only the addresses a show's actions make (web, mail). Other schemes
// (file:, smb:, a desktop's own handlers) would open local files or start
// programs through the opener.
bool IsAddress(const std::u16string& s) {
  std::u16string head = s.substr(0, 8);
  for (char16_t& c : head)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return head.rfind(u"http://", 0) == 0 || head.rfind(u"https://", 0) == 0 || head.rfind(u"mailto:", 0) == 0;
}

// A name that begins with a scheme ("file:", "smb:", "javascript:"); a
// drive letter is no scheme.
bool HasScheme(const std::u16string& s) {
  const size_t colon = s.find(u':');
  if (colon == std::u16string::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    const char16_t c = s[i];
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    if (!letter && (i == 0 || !((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'))) return false;
  }
  return true;
}

std::u16string Unquoted(const std::u16string& s) {
  if (s.size() > 5 && s.front() == u'"' && s.back() == u'"') return s.substr(1, s.size() - 2);
  return s;
}

bool HasFolderPart(const std::u16string& s) {
  return s.find(u'/') != std::u16string::npos || s.find(u'\\') != std::u16string::npos ||
         (s.size() >= 2 && s[1] == u':');
}

// A refusal goes to the log and to the person running the player (the
// show-problem sink: the terminal), once for each request and reason.
void LogRefused(const std::u16string& what, const std::u16string& why) {
  LogLine(u"ShellOpen: " + what + u" refused: " + why);
  ReportShowProblem(TShowProblemKind::Request, what, u"refused: " + why);
}

std::vector<std::string> ArgumentsFor(const std::string& program, const std::u16string& parameters) {
  std::vector<std::string> argv{program};
  for (const auto& a : SplitArguments(parameters)) argv.push_back(WideToSystemUTF8(a));
  return argv;
}

// Departure: the shell opened any document; a launcher is refused.
// Why a file of the show may not go to the desktop's opener: a program, a
// launcher or a package by its extension (the opener would start or
// install it); empty when it may.
std::u16string LauncherReason(const std::u16string& name) {
  static const char16_t* const kLaunchers[] = {
      u"desktop", u"exe", u"com", u"bat", u"cmd", u"msi", u"lnk", u"pif", u"scr", u"sh", u"bash", u"zsh", u"csh",
      u"ksh", u"command", u"run", u"bin", u"out", u"elf", u"so", u"appimage", u"flatpakref", u"flatpakrepo",
      u"deb", u"rpm", u"snap", u"jar", u"jnlp", u"py", u"pyc", u"pyw", u"pl", u"rb", u"js", u"php", u"lua",
      u"tcl", u"vbs", u"ps1", u"reg", u"kwinscript", u"plasmoid"};
  const std::u16string last = LowerLastComponent(name);
  const size_t dot = last.rfind(u'.');
  if (dot == std::u16string::npos) return {};
  const std::u16string ext = last.substr(dot + 1);
  if (!InList(kLaunchers, ext)) return {};
  return u"a \"." + ext + u"\" file is a program or a launcher, which the desktop's opener would start";
}

// The files of packed shows already written out for the opener, by the
// package's source and the entry's name: a request made again opens the
// same copy (a show asking over and over fills no disk).
struct TWrittenDocument {
  std::string Path;
  int64_t Size;
};
std::mutex g_documents_lock;
std::map<std::pair<int32_t, std::u16string>, TWrittenDocument> g_documents;  // under g_documents_lock
TPackedDocumentLimits g_document_limits;                                     // under g_documents_lock

std::u16string Megabytes(int64_t bytes) { return SystemUTF8ToWide(std::to_string(bytes >> 20)) + u" MB"; }

// Whether to give up copying a document: the caller's word (Escape), or the
// player ending on a signal. Asked every kStopStep bytes.
constexpr int64_t kStopStep = 1 << 20;
bool CopyStopped(const std::function<bool()>& stop) { return win::TerminationRequested() || (stop && stop()); }

// Reads `in` on to its end without keeping anything, to learn the size of
// a document whose size is not known before it is read through (a deflated
// entry): the bytes so far plus the rest; -1 once more than `limit`, and -2
// when `stop` says so first.
int64_t MeasureRest(TStream* in, int64_t so_far, int64_t limit, std::vector<uint8_t>& buffer,
                    const std::function<bool()>& stop) {
  for (int64_t since_check = 0;;) {
    const int64_t got = in->Read(buffer, int64_t(buffer.size()));
    if (got <= 0) return so_far;
    so_far += got;
    if (so_far > limit) return -1;
    if ((since_check += got) >= kStopStep) {
      since_check = 0;
      if (CopyStopped(stop)) return -2;
    }
  }
}

// A copy of the package's entry `name` in a new private temporary folder of
// the process (mode 0700, removed when the player ends), named as the entry
// is without its folders; empty when the package holds no such entry, and
// `error` says why when it holds one that is not written out (a launcher,
// one too large, damaged data, a full disk, a copy given up by `stop`).
// Nothing is written for a document that is refused: its size is known
// first (a deflated one's by inflating it once, at most just past its limit).
std::string WritePackedDocument(TFileAccessor* package, const std::u16string& name, std::u16string& error,
                                const std::function<bool()>& stop) {
  std::u16string entry = name;
  std::replace(entry.begin(), entry.end(), u'/', u'\\');
  const auto key = std::make_pair(package->Source()->Serial(), entry);
  std::lock_guard<std::mutex> lock(g_documents_lock);
  if (auto it = g_documents.find(key); it != g_documents.end()) {
    struct stat st {};
    if (lstat(it->second.Path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return it->second.Path;
    g_documents.erase(it);
  }
  // Departure: what a show writes out is bounded, so a small package cannot fill the temporary folder.
  // What the copies still on the disk take of the total (one removed
  // meanwhile frees its share).
  int64_t taken = 0;
  for (auto it = g_documents.begin(); it != g_documents.end();) {
    struct stat st {};
    if (lstat(it->second.Path.c_str(), &st) != 0) {
      it = g_documents.erase(it);
      continue;
    }
    taken += it->second.Size;
    ++it;
  }
  const TPackedDocumentLimits limits = g_document_limits;
  const std::u16string refused = u"the packed show's file \"" + name + u"\" is not written out for the opener: ";
  // `size` the document's size, or -1 when it is only known to be larger
  // than one document may be.
  auto too_big = [&](int64_t size) {
    if (size < 0)
      error = refused + u"it takes more than " + Megabytes(limits.PerDocument) + u", the most one document may take";
    else if (size > limits.PerDocument)
      error = refused + u"it takes " + Megabytes(size) + u", more than the " + Megabytes(limits.PerDocument) +
              u" one document may take";
    else
      error = refused + u"it takes " + Megabytes(size) + u", and the show's documents written out already take " +
              Megabytes(taken) + u" of the " + Megabytes(limits.Total) + u" they may take together";
    return std::string();
  };
  auto damaged = [&](const std::exception& e) {
    error = u"the packed show's file \"" + name + u"\" is damaged (" + SystemUTF8ToWide(e.what()) + u")";
    return std::string();
  };
  auto stopped = [&]() {
    error = refused + u"the copy was given up (Escape, or the player is ending)";
    return std::string();
  };
  Ref<TStream> in;
  try {
    // A deflated entry is inflated piece by piece as it is written, never
    // whole into memory.
    auto* packed = dynamic_cast<TPackedFileSource*>(package->Source());
    in = packed ? packed->OpenStreamed(entry) : package->Source()->OpenLocked(entry);
  } catch (const std::exception& e) {
    return damaged(e);
  }
  if (!in) return {};
  if (const std::u16string launcher = LauncherReason(entry); !launcher.empty()) {
    error = u"the packed show's file \"" + name + u"\": " + launcher;
    return {};
  }
  // A program (a script or a binary) by its first bytes: a packed show
  // starts none of its own, and the opener may run one.
  std::vector<uint8_t> buffer(64 * 1024);
  int64_t got = 0, size = 0;
  try {
    got = in->Read(buffer, int64_t(buffer.size()));
    auto begins = [&](std::string_view magic) {
      return got >= int64_t(magic.size()) && std::equal(magic.begin(), magic.end(), buffer.begin());
    };
    if (begins("#!") || begins("\x7f" "ELF") || begins("MZ")) {
      error = u"the packed show's file \"" + name + u"\" is a program, and a packed show starts none of its own";
      return {};
    }
    // The size before anything is written: a stored entry's is known, a
    // deflated one's is learned without writing (it is then known to every
    // later open of the entry).
    size = in->GetKnownSize();
    if (size < 0) {
      size = MeasureRest(in.get(), got, limits.PerDocument, buffer, stop);
      if (size == -2) return stopped();
      in->SetPosition(0);
      got = size < 0 ? 0 : in->Read(buffer, int64_t(buffer.size()));
    }
  } catch (const EAbort&) {
    return stopped();  // the player is ending: the entry's inflating gave up
  } catch (const std::exception& e) {
    return damaged(e);
  }
  if (size < 0 || size > limits.PerDocument || size > limits.Total - taken) return too_big(size);
  std::u16string base = entry.substr(entry.rfind(u'\\') + 1);
  if (base.empty() || base == u"." || base == u"..") base = u"document";
  std::u16string folder;
  std::string path;
  int fd = -1;
  int64_t written = 0;
  enum { kDone, kStopped, kChanged } end = kDone;
  try {
    folder = ProcessTempFolders().CreateLockedTempFolder(true);
    path = WideToSystemUTF8(folder + base);
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw EFileOpenError(path, errno);
    for (int64_t since_check = 0; got > 0; got = in->Read(buffer, int64_t(buffer.size()))) {
      // No more than the size checked, whatever the entry gives.
      if (got > size - written) {
        end = kChanged;
        break;
      }
      written += got;
      for (int64_t done = 0; done < got;) {
        const ssize_t w = write(fd, buffer.data() + done, size_t(got - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) throw EFileOpenError(path, errno);
        done += w;
      }
      if ((since_check += got) >= kStopStep) {
        since_check = 0;
        if (CopyStopped(stop)) {
          end = kStopped;
          break;
        }
      }
    }
    if (close(fd) != 0) {
      fd = -1;
      throw EFileOpenError(path, errno);
    }
    fd = -1;
  } catch (const std::exception& e) {
    if (fd >= 0) close(fd);
    if (!folder.empty()) ProcessTempFolders().RemoveFolder(folder);
    if (dynamic_cast<const EAbort*>(&e)) return stopped();
    error = u"the packed show's file \"" + name + u"\" cannot be written out for the opener (" +
            SystemUTF8ToWide(e.what()) + u")";
    return {};
  }
  if (end != kDone || written != size) {
    ProcessTempFolders().RemoveFolder(folder);
    if (end == kStopped) return stopped();
    error = u"the packed show's file \"" + name + u"\" is damaged (its size changed while it was written out)";
    return {};
  }
  g_documents[key] = {path, written};
  return path;
}
}  // namespace

// Departure: a show cannot allow this itself (its option "opt_allowrunapp"
// alone grants nothing); the person running the player must allow it too,
// with the command-line option "--allow-programs=NAME,...", which names the
// only programs that may start (the main form sets both).
void SetProgramStartAllowed(bool allowed) { g_allowed = allowed; }

void SetPackedDocumentLimits(TPackedDocumentLimits limits) {
  std::lock_guard<std::mutex> lock(g_documents_lock);
  g_document_limits = limits;
}
bool ProgramStartAllowed() { return g_allowed.load(); }

void SetAllowedPrograms(TAllowedPrograms allowed) {
  std::lock_guard<std::mutex> lock(g_allowed_lock);
  g_allowed_programs = std::move(allowed);
}

void SetSpawnFunction(TSpawnFn fn) {
  std::lock_guard<std::mutex> lock(g_spawn_lock);
  g_spawn = std::move(fn);
}

bool SpawnDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return false;
  // The player is ending on a signal: nothing more is started.
  if (win::TerminationRequested()) return false;
  {
    std::lock_guard<std::mutex> lock(g_spawn_lock);
    if (g_spawn) return g_spawn(argv);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  // A path is started as it is (the file that was checked); only a bare
  // name is looked up on PATH.
  const int r = argv[0].find('/') != std::string::npos
                    ? posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ)
                    : posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
  if (r != 0) return false;
  // Reaped in the background so no finished program is left behind.
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

int32_t ShellOpen(const std::u16string& file, const std::u16string& parameters, const std::u16string& folder,
                  TFileAccessor* package, const std::function<bool()>& stop) {
  if (!ProgramStartAllowed()) {
    LogRefused(file, u"starting programs and opening documents or addresses is not allowed "
                     u"(the player was not started with --allow-programs, or the show does not ask for it)");
    return kOpenRefused;
  }
  const std::u16string name = Unquoted(file);
  if (name.empty()) return kOpenFileNotFound;
  if (IsAddress(name)) return SpawnDetached({"xdg-open", WideToSystemUTF8(name)}) ? kOpenDone : kOpenFileNotFound;
  if (HasScheme(name)) {
    LogRefused(name, u"only web and mail addresses are opened");
    return kOpenRefused;
  }
  // Departure: a program the person named may still run a shell or an
  // interpreter it is handed; no argument may be the program of one.
  std::u16string interpreter;
  if (const std::u16string arg = ShellArgument(parameters, &interpreter); !arg.empty()) {
    LogRefused(name, u"its argument \"" + arg + u"\" names a shell or an interpreter (" + interpreter +
                         u"), which the program could run");
    return kOpenRefused;
  }
  const std::string utf8 = WideToSystemUTF8(name);
  // Each program the name could mean, in turn, and why it did not start.
  std::vector<std::u16string> refusals;
  auto try_program = [&](const std::string& requested, const std::string& program) -> int32_t {
    std::u16string why = WhyNotStart(requested, program);
    if (why.empty()) return SpawnDetached(ArgumentsFor(program, parameters)) ? kOpenDone : kOpenFileNotFound;
    refusals.push_back(u"\"" + SystemUTF8ToWide(program) + u"\": " + why);
    return 0;
  };
  // 1. As given: a plain name is a program on the system's path, found as
  // execvp would find it; a path is one only when the person named that
  // very path (any other is a name inside the show).
  if (!HasFolderPart(name)) {
    if (const std::string program = FindProgramOnPath(utf8); !program.empty())
      if (const int32_t r = try_program(utf8, program)) return r;
  } else if (name[0] == u'/' && IsNamedPath(utf8)) {
    if (const int32_t r = try_program(utf8, ProgramName(utf8))) return r;
  }
  // Departure: the shell opened a packed show's names beside its file.
  // 2. A file of a packed show comes from the package alone, written out
  // into a private temporary folder for the desktop's opener: the files
  // beside the package file are not the show's, and a packed show starts
  // no program of its own.
  if (package) {
    std::u16string error;
    if (const std::string copy = WritePackedDocument(package, name, error, stop); !copy.empty()) {
      if (refusals.empty()) return SpawnDetached({"xdg-open", copy}) ? kOpenDone : kOpenFileNotFound;
    } else {
      refusals.push_back(!error.empty() ? error
                                        : u"the packed show holds no file \"" + name +
                                              u"\" (files beside the package are never used)");
    }
  }
  // 2. A file of the show: resolved with every link, and it must stay inside
  // the show's folder (a link inside the show does not lead out of it).
  // A show's program that shares its name with one on PATH is judged as
  // itself, not as that one.
  if (!folder.empty() && !package) {
    std::u16string inside;
    std::string real;
    if (!SafePathCombine(folder, name, inside)) {
      if (refusals.empty() && HasFolderPart(name) && name[0] != u'/') return kOpenPathNotFound;
    } else if (FileAPI()->ResolveBeneath(folder, inside, real)) {
      struct stat st {};
      if (stat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (access(real.c_str(), X_OK) == 0) {
          // Asked for by its path in the show (links kept): a path the person
          // named is matched by that path.
          std::string requested;
          if (!MapToSystemPath(inside, requested) && !SystemPathText(inside, requested)) requested = real;
          if (const int32_t r = try_program(requested, real)) return r;
        } else if (const std::u16string launcher = LauncherReason(SystemUTF8ToWide(real)); !launcher.empty()) {
          refusals.push_back(u"the show's file \"" + SystemUTF8ToWide(real) + u"\": " + launcher);
        } else if (refusals.empty()) {
          // A document: the desktop's opener shows it.
          return SpawnDetached({"xdg-open", real}) ? kOpenDone : kOpenFileNotFound;
        }
      }
    } else if (errno == EXDEV) {
      refusals.push_back(u"a link in the show leads outside the show's folder");
    }
  }
  if (!refusals.empty()) {
    std::u16string why;
    for (const std::u16string& r : refusals) why += (why.empty() ? u"" : u"; ") + r;
    LogRefused(name, why);
    return kOpenRefused;
  }
  if (name[0] == u'/') {
    LogRefused(name, u"a path outside the show runs only when --allow-programs names that very path");
    return kOpenRefused;
  }
  return HasFolderPart(name) ? kOpenPathNotFound : kOpenFileNotFound;
}

void RunAppProc(const std::u16string& text, const std::u16string& folder,
                const std::function<void(const std::u16string&)>& message, TFileAccessor* package,
                const std::function<bool()>& stop) {
  if (text.empty()) return;
  std::vector<TCommandPart> parts;
  if (!CheckCommandLine(text, parts)) {
    // Which command, and why, for the log; the person sees the box.
    for (const std::u16string& command : SplitCommands(text))
      if (const std::u16string reason = ProhibitedCommandReason(command); !reason.empty())
      {
        LogLine(u"RunAppProc: " + command + u" refused: " + reason);
        ReportShowProblem(TShowProblemKind::Request, command, u"refused: " + reason);
      }
    if (message) message(u"Command line contains prohibited command and will not be performed.");
    return;
  }
  for (const auto& part : parts) {
    if (part.Program.empty()) continue;
    // Departure: one call tries the program as given (a program on the
    // system's path, a path the person named, an address), then the show's
    // own file, and the show's file is tried also when the first may not
    // start (not only when it is missing), so each is judged as itself.
    const int32_t r = ShellOpen(part.Program, part.Parameters, folder, package, stop);
    if (r <= 32 && r != kOpenRefused) LogLine(u"RunAppProc: cannot open " + part.Program);  // refusals log their reason
  }
}

}  // namespace kav
