// What a program the person names lets a show do: the programs that would
// hand the show a shell, code or any file are refused even when named; a
// name allows that name and the file it found, not every name of the file;
// a named path is asked for by that path; a show's own program is judged as
// itself, not as the program of the same name on PATH.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../../VoRav/LogCapture.h"
#include "KavLib2/KavEngine/KavViewerActions.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"
#include "tests/VoRav/TempFolder.h"

using namespace kav;

namespace {

// Records what would start instead of starting it; a folder of stand-in
// programs lies first on PATH.
struct TStarts {
  std::vector<std::vector<std::string>> calls;
  test::TTempFolder bin;
  std::string saved_path;
  std::string show_folder;

  TStarts() {
    SetSpawnFunction([this](const std::vector<std::string>& argv) {
      calls.push_back(argv);
      return true;
    });
    SetProgramStartAllowed(true);
    const char* path = getenv("PATH");
    saved_path = path ? path : "";
    setenv("PATH", (bin.Sys() + ":" + saved_path).c_str(), 1);
  }
  ~TStarts() {
    setenv("PATH", saved_path.c_str(), 1);
    SetSpawnFunction(nullptr);
    SetProgramStartAllowed(false);
    SetAllowedPrograms({});
  }
  // A harmless stand-in program of that name on PATH.
  std::string Program(const std::string& name) {
    bin.WriteFile(name, "#!/bin/true\n");
    chmod(bin.Sys(name).c_str(), 0755);
    return bin.Sys(name);
  }
  // Each name, a harmless stand-in on PATH, is allowed when named and
  // starts when the show asks for it.
  void ExpectStartWhenNamed(const std::vector<std::string>& names) {
    const size_t before = calls.size();
    for (const std::string& name : names) {
      Program(name);
      EXPECT_TRUE(Allow({name}).empty()) << name;
      EXPECT_EQ(ShellOpen(UTF8Decode(name), u"x", u""), kOpenDone) << name;
    }
    EXPECT_EQ(calls.size(), before + names.size());
  }
  // Each name, a harmless stand-in on PATH, is refused even when named (one
  // problem said) and does not start when the show asks for it.
  void ExpectRefusedEvenWhenNamed(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      Program(name);
      const std::vector<std::string> problems = Allow({name});
      ASSERT_EQ(problems.size(), 1u) << name;
      EXPECT_NE(problems[0].find("is refused even when named"), std::string::npos) << problems[0];
      EXPECT_EQ(ShellOpen(UTF8Decode(name), u"x", u""), kOpenRefused) << name;
    }
    EXPECT_TRUE(calls.empty());
  }
  // A harmless program file reached from `name` on PATH through an
  // alternatives link named `alternative`, as /usr/bin/NAME leads through
  // /etc/alternatives/ALTERNATIVE to the file that provides it.
  void LinkThroughAlternative(const std::string& name, const std::string& alternative) {
    store.WriteFile(name + "-file", "#!/bin/true\n");
    chmod(store.Sys(name + "-file").c_str(), 0755);
    ASSERT_EQ(symlink(store.Sys(name + "-file").c_str(), alternatives.Sys(alternative).c_str()), 0);
    ASSERT_EQ(symlink(alternatives.Sys(alternative).c_str(), bin.Sys(name).c_str()), 0);
  }
  test::TTempFolder alternatives, store;
  // Allows the names as "--allow-programs" gives them; answers the problems said.
  std::vector<std::string> Allow(const std::vector<std::string>& names) {
    std::vector<std::string> problems;
    TAllowedPrograms allowed = MakeAllowedPrograms(names, &problems);
    if (!show_folder.empty()) allowed.ShowFolder = std::filesystem::canonical(show_folder).string();
    SetAllowedPrograms(allowed);
    return problems;
  }
};

bool AnyLineHas(const std::vector<std::u16string>& lines, const std::vector<std::u16string>& parts) {
  for (const auto& line : lines) {
    bool all = true;
    for (const auto& p : parts) all = all && line.find(p) != std::u16string::npos;
    if (all) return true;
  }
  return false;
}

}  // namespace

TEST(AllowedPrograms, ProgramsThatRunOthersOrCodeOrWriteFilesAreRefusedEvenWhenNamed) {
  // Each hands the show a shell, runs code or writes a file the show names
  // (setpriv sh -c ..., bwrap --bind / / sh, xvfb-run sh -c ..., python3 -c
  // ..., find / -exec sh ..., ffmpeg -i show.bin -f data /any/path).
  const char* const names[] = {
      "setpriv", "bwrap", "xvfb-run", "env", "nice", "timeout", "xargs", "sudo", "su", "doas", "flatpak-spawn",
      "systemd-run", "nohup", "stdbuf", "busybox", "find", "awk", "gawk", "bash", "zsh", "fish", "python3",
      "python3.12", "pypy3", "perl", "perl5.36.0", "ruby3.1", "node", "lua5.4", "tclsh8.6", "php8.2", "ffmpeg",
      "xdotool", "prlimit", "choom", "logsave", "ctest", "cpack", "ninja", "gcc", "g++", "prove", "pdb3",
      "pydoc3", "groff", "dpkg-architecture", "capsh", "fakeroot", "firejail", "unshare", "x86_64-linux-gnu-gcc-12",
      "qemu-x86_64", "gst-launch-1.0", "convert", "curl", "wget", "tee", "dd", "cp", "sed", "vim", "git", "make"};
  TStarts starts;
  test::TTempFolder show;
  for (const char* name : names) {
    starts.Program(name);
    const std::vector<std::string> problems = starts.Allow({name});
    ASSERT_EQ(problems.size(), 1u) << name;
    EXPECT_EQ(problems[0].rfind(std::string("\"") + name + "\" is refused even when named: \"" + name + "\" ", 0),
              0u)
        << problems[0];
    kav::test::TLogCapture log;
    EXPECT_EQ(ShellOpen(UTF8Decode(name), u"-c id", u""), kOpenRefused) << name;
    // Asked for by the show's own command, too, with the reason in the log.
    RunAppProc(UTF8Decode(std::string(name) + " -c id"), show.Wide(), nullptr);
    EXPECT_TRUE(AnyLineHas(log.Take(), {UTF8Decode(std::string("\"") + name + "\" "), u"refused"})) << name;
  }
  EXPECT_TRUE(starts.calls.empty());

  // A harmless name that is a link to one of them is judged as what it leads to.
  starts.Program("busybox");
  ASSERT_EQ(symlink("busybox", starts.bin.Sys("ls").c_str()), 0);
  const std::vector<std::string> problems = starts.Allow({"ls"});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("\"ls\" is \"busybox\", which is a shell"), std::string::npos) << problems[0];
  EXPECT_EQ(ShellOpen(u"ls", u"", u""), kOpenRefused);
  EXPECT_TRUE(starts.calls.empty());

  // Ordinary programs, and names that only resemble the refused ones, start when named.
  starts.ExpectStartWhenNamed(
      {"viewer", "eog", "evince", "feh", "touch", "gnome-text-editor", "xdg-user-dir", "nicer", "gitk", "finder"});
}

TEST(AllowedPrograms, TheNameAndTheFileMustBothMatch) {
  // One program file of many names (as a multi-call program is): it does
  // what the name it was started by says.
  TStarts starts;
  const std::string multi = starts.Program("multi");
  ASSERT_EQ(symlink("multi", starts.bin.Sys("lister").c_str()), 0);
  ASSERT_EQ(symlink("multi", starts.bin.Sys("writer").c_str()), 0);
  EXPECT_TRUE(starts.Allow({"lister"}).empty());
  kav::test::TLogCapture log;
  EXPECT_EQ(ShellOpen(u"writer", u"/home/x/.bashrc", u""), kOpenRefused);
  EXPECT_EQ(ShellOpen(starts.bin.Wide("writer"), u"/home/x/.bashrc", u""), kOpenRefused);
  EXPECT_TRUE(starts.calls.empty());
  EXPECT_TRUE(AnyLineHas(log.Take(), {u"writer", u"--allow-programs names \"lister\""}));
  EXPECT_EQ(ShellOpen(u"lister", u"a", u""), kOpenDone);
  ASSERT_EQ(starts.calls.size(), 1u);
  EXPECT_EQ(starts.calls[0], (std::vector<std::string>{starts.bin.Sys("lister"), "a"}));

  // Named by a path: the same, the other name of the file is refused.
  starts.calls.clear();
  EXPECT_TRUE(starts.Allow({starts.bin.Sys("lister")}).empty());
  EXPECT_EQ(ShellOpen(starts.bin.Wide("writer"), u"a", u""), kOpenRefused);
  EXPECT_EQ(ShellOpen(u"writer", u"a", u""), kOpenRefused);
  EXPECT_TRUE(starts.calls.empty());
}

TEST(AllowedPrograms, ANamedPathIsAskedForByThatPath) {
  TStarts starts;
  test::TTempFolder tools, show;
  tools.WriteFile("touch-it", "#!/bin/true\n");
  chmod(tools.Sys("touch-it").c_str(), 0755);
  tools.WriteFile("other", "#!/bin/true\n");
  chmod(tools.Sys("other").c_str(), 0755);
  EXPECT_TRUE(starts.Allow({tools.Sys("touch-it")}).empty());
  // By its path, as a show's command and directly, also written untidily.
  RunAppProc(tools.Wide("touch-it") + u" a", show.Wide(), nullptr);
  EXPECT_EQ(ShellOpen(UTF8Decode(tools.Sys() + "/./x/../touch-it"), u"b", show.Wide()), kOpenDone);
  ASSERT_EQ(starts.calls.size(), 2u);
  EXPECT_EQ(starts.calls[0], (std::vector<std::string>{tools.Sys("touch-it"), "a"}));
  EXPECT_EQ(starts.calls[1], (std::vector<std::string>{tools.Sys("touch-it"), "b"}));
  starts.calls.clear();
  // Another path outside the show is refused, and says why.
  kav::test::TLogCapture log;
  EXPECT_EQ(ShellOpen(tools.Wide("other"), u"", show.Wide()), kOpenRefused);
  EXPECT_TRUE(starts.calls.empty());
  EXPECT_TRUE(AnyLineHas(log.Take(), {u"other", u"names that very path"}));
}

TEST(AllowedPrograms, AShowsProgramNamedLikeAPathProgramIsJudgedAsItself) {
  TStarts starts;
  test::TTempFolder show;
  starts.show_folder = show.Sys();
  const std::string on_path = starts.Program("lister");
  show.WriteFile("lister", "#!/bin/true\n");
  chmod(show.Sys("lister").c_str(), 0755);
  const std::string in_show = std::filesystem::canonical(show.Sys("lister")).string();

  // "show" alone: the show's own program starts, not the one on PATH.
  starts.Allow({"show"});
  RunAppProc(u"lister a", show.Wide(), nullptr);
  ASSERT_EQ(starts.calls.size(), 1u);
  EXPECT_EQ(starts.calls[0], (std::vector<std::string>{in_show, "a"}));
  starts.calls.clear();
  // The PATH program named alone: that one starts.
  starts.Allow({"lister"});
  RunAppProc(u"lister b", show.Wide(), nullptr);
  ASSERT_EQ(starts.calls.size(), 1u);
  EXPECT_EQ(starts.calls[0], (std::vector<std::string>{on_path, "b"}));
  starts.calls.clear();
  // Neither: nothing starts, and the log gives the reason for each.
  starts.Allow({"viewer-not-here"});
  kav::test::TLogCapture log;
  RunAppProc(u"lister c", show.Wide(), nullptr);
  EXPECT_TRUE(starts.calls.empty());
  const auto lines = log.Take();
  EXPECT_TRUE(AnyLineHas(lines, {UTF8Decode(on_path), UTF8Decode(in_show), u"not one that --allow-programs names"}));
}

TEST(AllowedPrograms, NoArgumentMayNameAShellOrAnInterpreter) {
  // A named program the deny list does not know may still run what it is
  // handed (as gcc -wrapper, setpriv or bwrap do). Stand-in interpreters of
  // these names lie on PATH, and a harmless name links to the system's shell.
  TStarts starts;
  const std::string wrap = starts.Program("mywrap");
  const std::string python = starts.Program("python3.11");
  for (const char* name : {"perl5.36", "lua", "ruby", "wish", "fish", "perl"}) starts.Program(name);
  ASSERT_EQ(symlink(FindProgramOnPath("sh").c_str(), starts.bin.Sys("helper").c_str()), 0);
  EXPECT_TRUE(starts.Allow({"mywrap"}).empty());
  kav::test::TLogCapture log;
  const std::u16string refused[] = {u"sh -c id", u"/bin/sh -c id", u"-wrapper /bin/sh,-c,id x.c", u"--shell=bash",
                                    u"-- \"" + UTF8Decode(python) + u"\" -c 1", u"perl5.36 x.pl", u"x --interp:lua",
                                    u"--run=" + starts.bin.Wide("helper")};
  for (const std::u16string& args : refused) EXPECT_EQ(ShellOpen(u"mywrap", args, u""), kOpenRefused) << UTF8Encode(args);
  EXPECT_TRUE(starts.calls.empty());
  const auto lines = log.Take();
  EXPECT_TRUE(AnyLineHas(lines, {u"mywrap", u"\"/bin/sh,-c,id\" names a shell or an interpreter"}));
  EXPECT_TRUE(AnyLineHas(lines, {u"mywrap", u"\"helper\" is \""}));
  // Words that name no such program stay: a folder or file of the show whose
  // last part is an interpreter's name, a title, another letter case.
  test::TTempFolder show;
  show.WriteFile("wish/notes.txt", "x");
  show.WriteFile("Perl", "x");
  const std::u16string harmless[] = {u"-x", u"shell.txt", u"bashful", u"a,b=c", u"run.sh", u"/home/u/python-notes.txt",
                                     u"Ruby", u"Fish", u"--title=Wish", show.Wide("wish"), show.Wide("Perl"),
                                     u"photos/wish", u"x:Perl"};
  for (const std::u16string& args : harmless) EXPECT_EQ(ShellOpen(u"mywrap", args, u""), kOpenDone) << UTF8Encode(args);
  EXPECT_EQ(starts.calls.size(), std::size(harmless));
}

TEST(AllowedPrograms, TheProgramsAndFamiliesThatRanWhatTheShowChoseAreRefused) {
  // Each ran a program or code the show chose, or wrote, moved or zeroed a
  // file it named (pic -U, gfortran -wrapper, apt-get -o
  // APT::Update::Pre-Invoke, ssh-copy-id -o ProxyCommand, pygmentize -x, nm
  // --plugin, tic then tput init, pdfdetach -savefile, dpkg-deb -x, ...);
  // with their families: versioned and target-prefixed names, static builds.
  const char* const names[] = {
      "troff", "nroff", "pic", "gpic", "tbl", "eqn", "refer", "soelim", "grog", "groff-1.22", "gfortran",
      "gfortran-12", "x86_64-linux-gnu-gfortran-12", "aarch64-linux-gnu-gcc", "gcc-12", "g++-12", "cc", "c99",
      "sotruss", "memusage", "apt-get", "apt", "aptitude", "apt-config", "ssh-copy-id", "ssh-keygen",
      "pygmentize", "nm", "gcc-nm", "ranlib", "gpgtar", "gpg-connect-agent", "gpgconf", "scriptlive", "tic",
      "tput", "tset", "stream", "pdfdetach", "pdftoppm", "convert-im6.q16", "magick-im7.q16hdri",
      "mogrify-im6.q16", "identify", "ffplay", "dpkg-deb", "dpkg", "desktop-file-install", "savelog",
      "fallocate", "bash-static", "mksh-static", "zsh-static", "busybox-static", "gjs", "qjs", "js91", "rhino",
      "d8", "duk", "luajit", "texlua", "tclsh8.6", "wish8.6", "expectk", "csi", "gosh", "guile-3.0", "racket",
      "sbcl", "ecl", "raku", "emacs-nox", "gdb-multiarch", "git-shell", "systemd-tmpfiles", "logrotate",
      "x86_64-linux-gnu-lto-dump-12", "clang-repl-14", "lli-14", "llvm-objcopy", "ccache", "msgexec",
      "run-mailcap", "zless", "update-alternatives", "useradd", "fakeroot-tcp", "firefox"};
  TStarts starts;
  ASSERT_NO_FATAL_FAILURE(starts.ExpectRefusedEvenWhenNamed({std::begin(names), std::end(names)}));

  // Judged by the file a name leads to: a harmless name that links to one
  // of them, and one whose links pass through an alternatives link of a
  // refused name on the way to a harmlessly named file.
  ASSERT_NO_FATAL_FAILURE(starts.LinkThroughAlternative("photo", "qjs"));
  ASSERT_EQ(symlink("convert-im6.q16", starts.bin.Sys("picture").c_str()), 0);
  ASSERT_EQ(symlink("bash-static", starts.bin.Sys("launcher").c_str()), 0);
  for (const auto& [name, via] : {std::pair<const char*, const char*>{"photo", "qjs"}, {"picture", "convert-im6.q16"},
                                  {"launcher", "bash-static"}}) {
    const std::vector<std::string> problems = starts.Allow({name});
    ASSERT_EQ(problems.size(), 1u) << name;
    EXPECT_NE(problems[0].find(std::string("\"") + name + "\" is \"" + via + "\", which"), std::string::npos)
        << problems[0];
    EXPECT_EQ(ShellOpen(UTF8Decode(name), u"x", u""), kOpenRefused) << name;
  }
  EXPECT_TRUE(starts.calls.empty());

  // Harmless programs, and names that only resemble the refused ones, start.
  starts.ExpectStartWhenNamed({"viewer", "picard", "ticker", "stream-deck", "cctv", "dotty", "okular", "zathura",
                               "mupdf", "gwenview", "ristretto", "atril", "totem", "rhythmbox", "audacious"});
}

TEST(AllowedPrograms, ToolsThatExecOrWriteWhereTheShowChoosesAreRefusedWithTheirFamilies) {
  // Each ran what a show chose or wrote where it chose (pamexec, diff3
  // --diff-program, gsnd -dNOSAFER, ppmtompeg's parameter file,
  // asan_symbolize --plugins, appstreamcli writing an autostart entry, javap
  // -J-javaagent, gio-querymodules, ptx's output name, hb-shape -o, f2py
  // --f77exec); with versioned names, the JDK's other tools, netpbm's,
  // Ghostscript's wrappers, glib's, appstream's and harfbuzz's tools.
  const char* const names[] = {
      "pamexec", "ppmtompeg", "pstopnm", "pamsplit", "diff3", "gsnd", "gslp", "gsdj500", "ps2ascii", "ps2pdf14",
      "pdf2ps", "pdf2svg", "asan_symbolize", "asan_symbolize-15", "hwasan_symbolize", "appstreamcli",
      "appstream-util", "appstream-compose", "javap", "javac", "jar", "jdb", "jshell", "jlink", "jpackage",
      "keytool", "jdeps", "jstack", "jwebserver", "javaws", "gio-querymodules", "gio-querymodules-64",
      "gio-launch-desktop", "glib-compile-resources", "glib-compile-schemas", "gdbus-codegen", "ptx", "texindex",
      "hb-shape", "hb-info", "f2py", "f2py3", "f2py3.11", "texi2pdf", "makeinfo", "enscript", "units",
      "pbmtextps"};
  TStarts starts;
  ASSERT_NO_FATAL_FAILURE(starts.ExpectRefusedEvenWhenNamed({std::begin(names), std::end(names)}));
  // Programs that only resemble them start.
  starts.ExpectStartWhenNamed({"diff", "cmp", "giotto", "ptxt", "hbar", "javelin", "appview", "gsview"});
}

TEST(AllowedPrograms, WindowManagersAndTheToolsThatRunSettingsOrWriteFilesAreRefusedWithTheirFamilies) {
  // Each ran what a show chose or wrote, deleted or changed what it named
  // (openbox --startup, xkbevd's command at a bell, data2inc and ptop
  // output files, utmpdump -r, blkid -c, delp, chsh, blkzone reset, cupsd
  // -c, arpd -b, pnmmontage -data, pnmindex's shell commands); with their
  // families: the other window and session managers Debian's alternatives
  // reach, Free Pascal's other utilities (versioned too), the shadow tools,
  // LVM's, CUPS's, netpbm's writers and X's.
  const char* const names[] = {
      "openbox", "x-window-manager", "x-session-manager", "xkbevd", "data2inc", "ptop", "utmpdump", "xkbprint",
      "blkid", "delp", "passwd", "chfn", "chsh", "shadowconfig", "blkdeactivate", "blkzone", "e4crypt",
      "readprofile", "cupsd", "arpd", "pktopbm", "pbmtopk", "ppmtoyuvsplit", "pnmmontage", "ppmquantall",
      "pnmindex", "openbox-session", "openbox-xdg-autostart", "fluxbox", "startfluxbox", "icewm-session",
      "fvwm3", "i3", "kwin_x11", "xfwm4", "mutter", "twm", "awesome", "sway", "cage", "gnome-session",
      "gnome-session-inhibit", "startxfce4", "xfce4-session", "lxsession", "startplasma-x11", "mate-session",
      "cinnamon-session", "data2inc-3.2.2", "delp-3.2.2", "ptop-3.2.2", "fpcres", "fpdoc", "ppumove",
      "rmcvsdir", "postw32", "chmls", "expiry", "newuidmap", "lvm", "lvremove", "vgcreate", "lvmconfig",
      "e2label", "wdctl", "rfkill", "cupsfilter", "cups-browsed", "lpadmin", "cupsctl", "ippfind",
      "ippeveprinter", "ppdc", "routef", "pnmtorle", "pamtotiff", "pnmtotiff", "jpegtopnm", "giftopnm",
      "pnmstitch", "ppmtorgb3", "xrdb", "xhost", "sessreg", "x-www-browser"};
  TStarts starts;
  ASSERT_NO_FATAL_FAILURE(starts.ExpectRefusedEvenWhenNamed({std::begin(names), std::end(names)}));

  // A harmless name whose links pass through the window manager's
  // alternatives link is judged as that link.
  ASSERT_NO_FATAL_FAILURE(starts.LinkThroughAlternative("desk", "x-window-manager"));
  const std::vector<std::string> problems = starts.Allow({"desk"});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("\"desk\" is \"x-window-manager\", which runs the program"), std::string::npos)
      << problems[0];
  EXPECT_EQ(ShellOpen(u"desk", u"--startup x", u""), kOpenRefused);
  EXPECT_TRUE(starts.calls.empty());

  // Their harmless neighbours start.
  starts.ExpectStartWhenNamed(
      {"xkbbell", "xkbwatch", "lsblk", "lpstat", "ppmtopgm", "filefrag", "obxprop", "passwords", "boxes"});
}

TEST(AllowedPrograms, ThePersonIsToldWhyARequestIsRefused) {
  // Refusals reach the show-problem sink (the terminal of the person
  // running the player), not the log alone.
  TStarts starts;
  starts.Program("mywrap");
  starts.Program("gjs");
  EXPECT_TRUE(starts.Allow({"mywrap"}).empty());
  std::vector<TShowProblem> said;
  SetShowProblemSink([&](const TShowProblem& p) { said.push_back(p); });
  EXPECT_EQ(ShellOpen(u"mywrap", u"-wrapper /bin/sh,-c,id", u""), kOpenRefused);
  EXPECT_EQ(ShellOpen(u"gjs", u"x.js", u""), kOpenRefused);
  test::TTempFolder show;
  RunAppProc(u"nice sh -c id", show.Wide(), nullptr);
  SetShowProblemSink(nullptr);
  EXPECT_TRUE(starts.calls.empty());
  ASSERT_EQ(said.size(), 3u);
  for (const TShowProblem& p : said) EXPECT_EQ(p.Kind, TShowProblemKind::Request);
  EXPECT_EQ(said[0].Name, u"mywrap");
  EXPECT_NE(said[0].Reason.find(u"\"/bin/sh,-c,id\" names a shell or an interpreter"), std::u16string::npos);
  EXPECT_NE(said[1].Reason.find(u"\"gjs\" runs code"), std::u16string::npos);
  EXPECT_NE(said[2].Reason.find(u"\"nice\" runs the program named in its arguments"), std::u16string::npos);
}
