// A CUPS scheduler of the tests' own: a private configuration in a
// temporary folder, the loopback address and a free port, and one queue
// whose device is a small capture backend that keeps the document it
// receives (page.pdf in the folder) and the job's options beside it.
// Shared by the printer's tests and the test tool kavtestcups.
#pragma once

#include <arpa/inet.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kav::testcups {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kTimeout = 90s;  // generous: a loaded machine under ASan

inline std::string FindFile(const std::vector<std::string>& candidates) {
  for (const std::string& c : candidates)
    if (access(c.c_str(), X_OK) == 0) return c;
  return {};
}

inline std::string FindProgram(const std::string& name) {
  std::vector<std::string> candidates;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream dirs(path);
    for (std::string dir; std::getline(dirs, dir, ':');)
      if (!dir.empty()) candidates.push_back(dir + "/" + name);
  }
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin", "/sbin"})
    candidates.push_back(std::string(dir) + "/" + name);
  return FindFile(candidates);
}

inline void WriteFile(const fs::path& path, const std::string& text, mode_t mode = 0644) {
  std::ofstream(path, std::ios::binary) << text;
  chmod(path.c_str(), mode);
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

inline bool PortAnswers(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// Starts a program (no shell) with its output into `log`; -1 on failure.
inline pid_t Spawn(const std::vector<std::string>& args, const fs::path& log) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for a child; kills it when it outlives the time-out. Its exit code,
// or -1.
inline int WaitFor(pid_t pid, std::chrono::seconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(20ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <class F>
inline bool WaitUntil(F&& done) {
  const auto end = std::chrono::steady_clock::now() + kTimeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// A5 with margins of 1/4 inch at the sides and 1/2 inch at top and bottom,
// 100 dpi: what the queue's description makes CUPS report.
constexpr char kPpd[] = R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "KAVTEST.PPD"
*Manufacturer: "Test"
*Product: "(Test)"
*ModelName: "Kav Test"
*ShortNickName: "Kav Test"
*NickName: "Kav Test"
*PSVersion: "(3010.000) 0"
*LanguageLevel: "3"
*ColorDevice: True
*DefaultColorSpace: RGB
*FileSystem: False
*Throughput: "1"
*LandscapeOrientation: Plus90
*TTRasterizer: Type42
*cupsVersion: 2.4
*cupsFilter2: "application/pdf application/pdf 0 -"
*OpenUI *PageSize/Media Size: PickOne
*OrderDependency: 10 AnySetup *PageSize
*DefaultPageSize: A5
*PageSize A5/A5: "<</PageSize[420 595]>>setpagedevice"
*CloseUI: *PageSize
*OpenUI *PageRegion: PickOne
*OrderDependency: 10 AnySetup *PageRegion
*DefaultPageRegion: A5
*PageRegion A5/A5: "<</PageSize[420 595]>>setpagedevice"
*CloseUI: *PageRegion
*DefaultImageableArea: A5
*ImageableArea A5/A5: "18 36 402 559"
*DefaultPaperDimension: A5
*PaperDimension A5/A5: "420 595"
*OpenUI *Resolution/Resolution: PickOne
*OrderDependency: 10 AnySetup *Resolution
*DefaultResolution: 100dpi
*Resolution 100dpi/100 DPI: "<</HWResolution[100 100]>>setpagedevice"
*CloseUI: *Resolution
)PPD";
// The same in hundredths of a millimetre as CUPS reports it.
constexpr int32_t kSheetWidth = 14817, kSheetLength = 20990;
constexpr int32_t kMarginSide = 635, kMarginEnd = 1270;
constexpr int32_t kDpi = 100;

// The capture backend: keeps the document and a line with the copies and
// one with the job's options beside it; moves the document into place last,
// so that its presence means the job is done.
constexpr char kBackend[] = R"SH(#!/bin/sh
if [ $# -eq 0 ]; then echo 'direct kavcapture "Unknown" "Kav capture"'; exit 0; fi
out="${DEVICE_URI#kavcapture:}"
printf '%s\n%s\n' "$4" "$5" > "$out.options"
if [ -n "$6" ]; then cat "$6" > "$out.tmp"; else cat > "$out.tmp"; fi
mv "$out.tmp" "$out"
)SH";

class TPrivateCups {
 public:
  // Empty when everything needed is there, else why not.
  static std::string Missing() {
    if (Cupsd().empty()) return "cupsd is not installed";
    if (DaemonDir().empty()) return "cupsd's helper cups-exec is not installed";
    if (!fs::exists("/usr/share/cups/mime/mime.types")) return "CUPS's MIME types are not installed";
    if (FindProgram("pdftoppm").empty()) return "pdftoppm is not installed";
    return {};
  }

  // `with_printer`: one queue, the default; `accepting`: whether it takes
  // jobs; `queues`: that many queues in all, the default "kavtest" first
  // (writing page.pdf), then "kavtest002" and on (names that sort in
  // their order), each writing <name>.pdf.
  explicit TPrivateCups(bool with_printer, bool accepting = true, int queues = 1) {
    char templ[] = "/tmp/kavcups.XXXXXX";
    dir_ = mkdtemp(templ);
    port_ = FreePort();
    for (const char* d : {"spool", "spool/temp", "log", "cache", "state", "ppd", "bin", "bin/backend", "bin/filter"})
      fs::create_directories(dir_ / d);
    fs::create_directory_symlink(DaemonDir(), dir_ / "bin" / "daemon");
    WriteFile(dir_ / "bin/backend/kavcapture", kBackend, 0700);
    const std::string d = dir_.string();
    WriteFile(dir_ / "cupsd.conf", "Listen 127.0.0.1:" + std::to_string(port_) +
                                       "\nLogLevel debug\nWebInterface No\nBrowsing Off\nDefaultAuthType None\n"
                                       "<Location />\nOrder allow,deny\nAllow all\n</Location>\n"
                                       "<Policy default>\n<Limit All>\nOrder deny,allow\n</Limit>\n</Policy>\n");
    std::string files = "FileDevice Yes\nPrintcap " + d + "/printcap\nServerRoot " + d + "\nStateDir " + d +
                        "/state\nCacheDir " + d + "/cache\nDataDir /usr/share/cups\nServerBin " + d +
                        "/bin\nRequestRoot " + d + "/spool\nTempDir " + d + "/spool/temp\nAccessLog " + d +
                        "/log/access_log\nErrorLog " + d + "/log/error_log\nPageLog " + d + "/log/page_log\n";
    // Run by an ordinary user, the scheduler and its backend run as that
    // user; run by root, it keeps its own default user for helpers.
    if (geteuid() != 0) {
      files += "User " + std::to_string(geteuid()) + "\nGroup " + std::to_string(getegid()) + "\n";
    }
    WriteFile(dir_ / "cups-files.conf", files);
    if (with_printer) {
      std::string conf;
      for (int i = 1; i <= std::max(queues, 1); ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%03d", i);
        const std::string name = i == 1 ? std::string("kavtest") : "kavtest" + std::string(number);
        const std::string tag = i == 1 ? "DefaultPrinter" : "Printer";
        WriteFile(dir_ / "ppd" / (name + ".ppd"), kPpd);
        conf += "<" + tag + " " + name + ">\nInfo Kav test\nDeviceURI kavcapture:" + d + "/" +
                (i == 1 ? std::string("page") : name) + ".pdf\nState Idle\nAccepting " +
                (accepting ? "Yes" : "No") + "\nShared No\n</" + tag + ">\n";
      }
      WriteFile(dir_ / "printers.conf", conf);
    }
    pid_ = Spawn({Cupsd(), "-f", "-c", d + "/cupsd.conf", "-s", d + "/cups-files.conf"}, dir_ / "log/cupsd.txt");
    if (pid_ > 0)
      ready_ =
          WaitUntil([&] { return PortAnswers(port_) || waitpid(pid_, nullptr, WNOHANG) != 0; }) && PortAnswers(port_);
    PointClientAt(port_, dir_);
  }

  ~TPrivateCups() {
    PointClientAt(0, {});
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      WaitFor(pid_, 30s);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // The CUPS client (this process) asks the scheduler on that port, with
  // no user or system defaults of its own; port 0 restores the defaults.
  static void PointClientAt(int port, const fs::path& home) {
    static std::string saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (port) {
      setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
      setenv("HOME", home.c_str(), 1);
      setenv("CUPS_SERVERROOT", home.c_str(), 1);
      unsetenv("PRINTER");
      unsetenv("LPDEST");
    } else {
      unsetenv("CUPS_SERVER");
      unsetenv("CUPS_SERVERROOT");
      setenv("HOME", saved_home.c_str(), 1);
    }
    cupsSetServer(nullptr);  // read the environment again
  }

  bool Ready() const { return ready_; }
  const fs::path& Dir() const { return dir_; }
  fs::path Page() const { return dir_ / "page.pdf"; }
  std::string Log() const {
    const std::string log = ReadFile(dir_ / "log/error_log");
    return ReadFile(dir_ / "log/cupsd.txt") + log.substr(log.size() > 6000 ? log.size() - 6000 : 0);
  }

 private:
  static std::string Cupsd() { return FindProgram("cupsd"); }
  static std::string DaemonDir() {
    for (const char* d : {"/usr/lib/cups/daemon", "/usr/libexec/cups/daemon", "/usr/local/lib/cups/daemon"})
      if (access((std::string(d) + "/cups-exec").c_str(), X_OK) == 0) return d;
    return {};
  }

  fs::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// A scheduler that is no help: on a loopback port, it either never takes
// a connection from the listening queue (`byte_every` zero: the client's
// connect succeeds and its request waits for ever), or takes every
// connection and answers one byte every `byte_every` of a header line that
// never ends. Runs until destroyed.
class TFakeScheduler {
 public:
  explicit TFakeScheduler(std::chrono::milliseconds byte_every) : every_(byte_every) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener_, 64) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    if (every_.count() > 0) thread_ = std::thread([this] { Serve(); });
  }
  ~TFakeScheduler() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  int Port() const { return port_; }
  // Bytes sent so far (all connections).
  int Sent() const { return sent_; }

 private:
  void Serve() {
    static const std::string kStart = "HTTP/1.1 200 OK\r\nX-Slow: ";
    struct TClient {
      int fd;
      size_t next;
    };
    std::vector<TClient> clients;
    auto due = std::chrono::steady_clock::now();
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) clients.push_back({fd, 0});
      }
      char drain[4096];
      for (TClient& c : clients)
        while (read(c.fd, drain, sizeof drain) > 0) {
        }
      if (std::chrono::steady_clock::now() < due) continue;
      due += every_;
      for (TClient& c : clients) {
        const char byte = c.next < kStart.size() ? kStart[c.next] : 'a';
        if (send(c.fd, &byte, 1, MSG_NOSIGNAL) == 1) {
          ++c.next;
          ++sent_;
        }
      }
    }
    for (TClient& c : clients) close(c.fd);
  }

  std::chrono::milliseconds every_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::thread thread_;
};

}  // namespace kav::testcups
