#include "KavLib2/KavEngine/KavViewerActions.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

#include "KavLib2/KavClasses/KavSource.h"
#include "VoRav/Win32/winPathMap.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"

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

std::u16string NormalizeCommand(const std::u16string& command) {
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
  if (size_t d = word.find(u'.'); d != std::u16string::npos) word.erase(d);
  return word;
}

bool IsProhibitedCommand(const std::u16string& command) {
  static const char16_t* const kProhibited[] = {
      u">", u"at", u"attrib", u"call", u"cmd", u"command", u"copy", u"del", u"deltree", u"erase", u"for",
      u"format", u"fdisk", u"runonce", u"move", u"net", u"runas", u"net1", u"ren", u"rename", u"replace", u"rmdir",
      u"rd", u"recover", u"regedit", u"rundll", u"qstart", u"start", u"sys", u"type", u"xcopy", u"regsrv",
      u"regedt32", u"regsvr32", u"rcp", u"ftp", u"tftp",
      // The same kind of commands on Linux: shells and interpreters, system
      // and file changers, privilege and remote tools, terminals.
      u"sh", u"bash", u"dash", u"zsh", u"ksh", u"csh", u"tcsh", u"fish", u"busybox", u"env", u"exec", u"eval",
      u"source", u"xargs", u"nohup", u"setsid", u"sudo", u"su", u"pkexec", u"doas", u"rm", u"mv", u"cp", u"dd",
      u"ln", u"mkfs", u"chmod", u"chown", u"chgrp", u"chattr", u"find", u"kill", u"killall", u"pkill",
      u"shutdown", u"reboot", u"halt", u"poweroff", u"systemctl", u"crontab", u"mount", u"umount", u"python",
      u"python2", u"python3", u"perl", u"ruby", u"node", u"php", u"lua", u"tclsh", u"awk", u"gawk", u"sed",
      u"wget", u"curl", u"nc", u"ncat", u"netcat", u"socat", u"ssh", u"scp", u"sftp", u"rsync", u"telnet",
      u"xterm", u"gnome-terminal", u"konsole", u"x-terminal-emulator", u"powershell", u"pwsh", u"wscript",
      u"cscript", u"mshta", u"wine", u"xdg-open", u"gio", u"dbus-send", u"ld-linux", u"ldd"};
  const std::u16string name = NormalizeCommand(command);
  for (const char16_t* p : kProhibited)
    if (name == p) return true;
  return false;
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

// ---- Starting ----

namespace {
std::atomic<bool> g_allowed{false};
std::mutex g_spawn_lock;
TSpawnFn g_spawn;

bool IsAddress(const std::u16string& s) {
  return s.find(u"://") != std::u16string::npos || s.rfind(u"mailto:", 0) == 0;
}

std::u16string Unquoted(const std::u16string& s) {
  if (s.size() > 5 && s.front() == u'"' && s.back() == u'"') return s.substr(1, s.size() - 2);
  return s;
}

bool HasFolderPart(const std::u16string& s) {
  return s.find(u'/') != std::u16string::npos || s.find(u'\\') != std::u16string::npos ||
         (s.size() >= 2 && s[1] == u':');
}
}  // namespace

void SetProgramStartAllowed(bool allowed) { g_allowed = allowed; }
bool ProgramStartAllowed() { return g_allowed.load(); }

void SetSpawnFunction(TSpawnFn fn) {
  std::lock_guard<std::mutex> lock(g_spawn_lock);
  g_spawn = std::move(fn);
}

bool SpawnDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return false;
  {
    std::lock_guard<std::mutex> lock(g_spawn_lock);
    if (g_spawn) return g_spawn(argv);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
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
    LogLine(u"ShellOpen: starting programs is not allowed for this show: " + file);
    return kOpenRefused;
  }
  const std::u16string name = Unquoted(file);
  if (name.empty()) return kOpenFileNotFound;
  if (IsAddress(name)) return SpawnDetached({"xdg-open", WideToSystemUTF8(name)}) ? kOpenDone : kOpenFileNotFound;
  std::string path;
  if (HasFolderPart(name)) {
    // A name with a folder part stays inside the show's folder.
    std::u16string inside;
    if (folder.empty() || !SafePathCombine(folder, name, inside) || !MapToSystemPath(inside, path))
      return kOpenPathNotFound;
  } else if (!folder.empty()) {
    std::u16string inside;
    if (SafePathCombine(folder, name, inside)) MapToSystemPath(inside, path);
  }
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (HasFolderPart(name)) return kOpenFileNotFound;
    // A plain program name is looked up on the system's path.
    std::vector<std::string> argv{WideToSystemUTF8(name)};
    for (const auto& a : SplitArguments(parameters)) argv.push_back(WideToSystemUTF8(a));
    return SpawnDetached(argv) ? kOpenDone : kOpenFileNotFound;
  }
  if (access(path.c_str(), X_OK) == 0) {
    std::vector<std::string> argv{path};
    for (const auto& a : SplitArguments(parameters)) argv.push_back(WideToSystemUTF8(a));
    return SpawnDetached(argv) ? kOpenDone : kOpenFileNotFound;
  }
  return SpawnDetached({"xdg-open", path}) ? kOpenDone : kOpenFileNotFound;
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
    if (r <= 32) LogLine(u"RunAppProc: cannot open " + part.Program);
  }
}

}  // namespace kav
