#include "KavLib2/KavEngine/KavViewerActions.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cmath>
#include <mutex>
#include <thread>

#include "KavLib2/KavClasses/KavSource.h"
#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
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

// The same kind of commands on Linux: shells and interpreters, system and
// file changers, privilege and remote tools, terminals, and the wrappers
// that run another program given as an argument (nice sh -c ...,
// git -c alias.x=!..., make --eval ...).
const char16_t* const kLinuxCommands[] = {
    // Shells.
    u"sh", u"bash", u"rbash", u"dash", u"ash", u"zsh", u"ksh", u"mksh", u"lksh", u"pdksh", u"oksh", u"yash",
    u"posh", u"csh", u"tcsh", u"fish", u"elvish", u"xonsh", u"nu", u"busybox", u"toybox",
    // Interpreters and programs that run code given to them.
    u"python", u"pypy", u"ipython", u"perl", u"ruby", u"irb", u"node", u"nodejs", u"deno", u"bun", u"php",
    u"lua", u"luajit", u"tclsh", u"wish", u"jimsh", u"expect", u"awk", u"gawk", u"mawk", u"nawk",
    u"original-awk", u"sed", u"guile", u"julia", u"r", u"rscript", u"java", u"jshell", u"jrunscript", u"mono",
    u"dotnet", u"osascript", u"sqlite3", u"gdb", u"gdbserver", u"lldb", u"git", u"make", u"gmake", u"cmake",
    u"vim", u"vi", u"nvim", u"view", u"ex", u"ed", u"emacs", u"less", u"more", u"man", u"tar", u"zip",
    // Wrappers that start the program named in their arguments.
    u"env", u"exec", u"eval", u"source", u"builtin", u"xargs", u"nohup", u"setsid", u"nice", u"timeout",
    u"stdbuf", u"setarch", u"linux32", u"linux64", u"i386", u"x86_64", u"uname26", u"flock", u"script",
    u"ionice", u"unshare", u"taskset", u"chrt", u"nsenter", u"chroot", u"runuser", u"sg", u"newgrp",
    u"systemd-run", u"run-parts", u"start-stop-daemon", u"strace", u"ltrace", u"valgrind", u"watch", u"time",
    u"parallel", u"tmux", u"screen", u"dbus-launch", u"dbus-run-session", u"ssh-agent", u"flatpak-spawn",
    u"batch", u"ld-linux", u"ld", u"ldd",
    // Privilege, system and file changers.
    u"sudo", u"sudoedit", u"su", u"pkexec", u"doas", u"rm", u"mv", u"cp", u"dd", u"ln", u"install", u"tee",
    u"truncate", u"shred", u"unlink", u"mkfs", u"chmod", u"chown", u"chgrp", u"chattr", u"find", u"kill",
    u"killall", u"pkill", u"shutdown", u"reboot", u"halt", u"poweroff", u"systemctl", u"service", u"crontab",
    u"mount", u"umount",
    // Network tools, terminals and openers.
    u"wget", u"curl", u"nc", u"ncat", u"netcat", u"socat", u"ssh", u"scp", u"sftp", u"rsync", u"telnet",
    u"xterm", u"gnome-terminal", u"konsole", u"x-terminal-emulator", u"powershell", u"pwsh", u"wscript",
    u"cscript", u"mshta", u"wine", u"xdg-open", u"gio", u"kde-open", u"kde-open5", u"gnome-open", u"exo-open",
    u"dbus-send"};

template <size_t N>
bool InList(const char16_t* const (&list)[N], std::u16string_view name) {
  for (const char16_t* p : list)
    if (name == p) return true;
  return false;
}

bool ListedName(std::u16string_view name) { return InList(kSystemCommands, name) || InList(kLinuxCommands, name); }

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

// Whether a program name, lower-cased and without its folder, is on the
// list: as the name is cut at its first "." (python.exe), and without a
// version at its end (perl5.36.0, tclsh8.6, python3.11, lua5.4), which the
// first form alone would keep (perl5, tclsh8).
bool ProhibitedName(std::u16string name) {
  if (name.empty()) return false;
  if (ListedName(name)) return true;
  const std::u16string cut = name.substr(0, name.find(u'.'));
  if (ListedName(cut)) return true;
  auto strip_version = [](std::u16string s) {
    while (!s.empty() && ((s.back() >= u'0' && s.back() <= u'9') || s.back() == u'.' || s.back() == u'-' ||
                          s.back() == u'_'))
      s.pop_back();
    return s;
  };
  if (ListedName(strip_version(name)) || ListedName(strip_version(cut))) return true;
  // The dynamic loader runs any program handed to it: ld-linux-x86-64.so.2.
  return name.rfind(u"ld-linux", 0) == 0 || name.rfind(u"ld.so", 0) == 0;
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
// list judges the uncut word, a version suffix removed, unless it is a document.
bool IsProhibitedCommand(const std::u16string& command) {
  if (InList(kSystemCommands, NormalizeCommand(command))) return true;
  const std::u16string word = CommandWord(command);
  return !LooksLikeDocument(word) && ProhibitedName(word);
}

bool IsProhibitedProgramFile(const std::string& path) {
  if (ProhibitedName(LowerLastComponent(SystemUTF8ToWide(path)))) return true;
  // What a link leads to counts too: /usr/bin/awk is mawk, python3 is
  // python3.11, a show's "viewer" may be /bin/sh.
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return false;
  const std::string resolved(real);
  free(real);
  return ProhibitedName(LowerLastComponent(SystemUTF8ToWide(resolved)));
}

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

bool CheckCommandLine(const std::u16string& text, std::vector<TCommandPart>& parts) {
  parts.clear();
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
}  // namespace

TAllowedPrograms MakeAllowedPrograms(const std::vector<std::string>& names, std::vector<std::string>* unknown) {
  TAllowedPrograms allowed;
  for (const std::string& name : names) {
    if (name == "show") {
      allowed.ShowPrograms = true;
      continue;
    }
    const std::string real = RealPath(FindProgramOnPath(name));
    struct stat st {};
    if (real.empty() || stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      if (unknown) unknown->push_back(name);
      continue;
    }
    allowed.Files.push_back(real);
  }
  return allowed;
}

bool IsProgramAllowed(const TAllowedPrograms& allowed, const std::string& program) {
  const std::string real = RealPath(program);
  if (real.empty()) return false;
  for (const std::string& f : allowed.Files)
    if (f == real) return true;
  if (!allowed.ShowPrograms || allowed.ShowFolder.empty()) return false;
  const std::string& folder = allowed.ShowFolder;
  const size_t n = folder.back() == '/' ? folder.size() : folder.size() + 1;
  return real.size() > n && real.compare(0, folder.size(), folder) == 0 && real[n - 1] == '/';
}

// ---- Starting ----

namespace {
std::atomic<bool> g_allowed{false};
std::mutex g_spawn_lock;
TSpawnFn g_spawn;
std::mutex g_allowed_lock;
TAllowedPrograms g_allowed_programs;  // under g_allowed_lock

void LogRefused(const std::u16string& what, const std::u16string& why);

// The deny list's judgement, then the allowed list's, of the file that
// would start; false (logged) when it may not.
bool MayStart(const std::u16string& name, const std::string& program) {
  if (IsProhibitedProgramFile(program)) {
    LogRefused(name, u"the program it starts is a prohibited command");
    return false;
  }
  bool allowed;
  {
    std::lock_guard<std::mutex> lock(g_allowed_lock);
    allowed = IsProgramAllowed(g_allowed_programs, program);
  }
  if (!allowed) LogRefused(name, u"the program is not one that --allow-programs names");
  return allowed;
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

void LogRefused(const std::u16string& what, const std::u16string& why) {
  LogLine(u"ShellOpen: " + what + u" refused: " + why);
}

std::vector<std::string> ArgumentsFor(const std::string& program, const std::u16string& parameters) {
  std::vector<std::string> argv{program};
  for (const auto& a : SplitArguments(parameters)) argv.push_back(WideToSystemUTF8(a));
  return argv;
}
}  // namespace

// Departure: a show cannot allow this itself (its option "opt_allowrunapp"
// alone grants nothing); the person running the player must allow it too,
// with the command-line option "--allow-programs=NAME,...", which names the
// only programs that may start (the main form sets both).
void SetProgramStartAllowed(bool allowed) { g_allowed = allowed; }
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

int32_t ShellOpen(const std::u16string& file, const std::u16string& parameters, const std::u16string& folder) {
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
  // A file of the show: resolved with every link, and it must stay inside
  // the show's folder (a link inside the show does not lead out of it).
  std::string real;
  bool in_show = false;
  if (!folder.empty()) {
    std::u16string inside;
    if (!SafePathCombine(folder, name, inside)) {
      if (HasFolderPart(name)) return kOpenPathNotFound;
    } else if (FileAPI()->ResolveBeneath(folder, inside, real)) {
      struct stat st {};
      in_show = stat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    } else if (errno == EXDEV) {
      LogRefused(name, u"a link in the show leads outside the show's folder");
      return kOpenRefused;
    }
  }
  if (!in_show) {
    // Names with a folder part are looked up inside the show's folder only.
    if (HasFolderPart(name)) return folder.empty() ? kOpenPathNotFound : kOpenFileNotFound;
    // A plain program name is looked up on the system's path as execvp
    // would, and the file found is what is checked and started.
    const std::string program = FindProgramOnPath(WideToSystemUTF8(name));
    if (program.empty()) return kOpenFileNotFound;
    if (!MayStart(name, program)) return kOpenRefused;
    return SpawnDetached(ArgumentsFor(program, parameters)) ? kOpenDone : kOpenFileNotFound;
  }
  if (access(real.c_str(), X_OK) == 0) {
    if (!MayStart(name, real)) return kOpenRefused;
    return SpawnDetached(ArgumentsFor(real, parameters)) ? kOpenDone : kOpenFileNotFound;
  }
  return SpawnDetached({"xdg-open", real}) ? kOpenDone : kOpenFileNotFound;
}

void RunAppProc(const std::u16string& text, const std::u16string& folder,
                const std::function<void(const std::u16string&)>& message) {
  if (text.empty()) return;
  std::vector<TCommandPart> parts;
  if (!CheckCommandLine(text, parts)) {
    if (message) message(u"Command line contains prohibited command and will not be performed.");
    return;
  }
  for (const auto& part : parts) {
    if (part.Program.empty()) continue;
    // Tried as given (a program on the system's path, an address), then
    // inside the show folder.
    int32_t r = ShellOpen(part.Program, part.Parameters, u"");
    if (r == kOpenFileNotFound || r == kOpenPathNotFound) r = ShellOpen(part.Program, part.Parameters, folder);
    if (r <= 32 && r != kOpenRefused) LogLine(u"RunAppProc: cannot open " + part.Program);  // refusals log their reason
  }
}

}  // namespace kav
