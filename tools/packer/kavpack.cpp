// kavpack: packs a show's project folder into one show file for kavplay.
//
//   kavpack [OPTIONS] SHOW.kvshow FOLDER      (kavpack --help says more)
//
// Every regular file under FOLDER becomes an entry named by its path relative
// to FOLDER with backslashes, stored by the given method (default 1). The
// bytes are packed as they are: the project text keeps its own encoding.
// Before packing, the folder must hold the project text "Project.kav" and the
// text must be a show's (a [Main] section or slides); each picture the
// project shows that a camera stored turned (EXIF orientation 3, 6 or 8) and
// that [RotationState] does not turn is reported with the line that does.
// The project is then read by the player's own readers: each thing the
// player could not use is printed with its line ("file:line: warning: …"),
// and a file the project names that is not in the folder stops the packing,
// as does a link that leads out of the folder. The show file is written
// entry by entry, so the memory it takes does not grow with the folder. Once
// written, every file name the project uses is looked up in the show file as
// the player looks it up there and opened; a name it misses (a full path),
// or an entry it cannot read, is an error.
// The show file is written under a new name beside it and takes the show
// file's name only once it is whole and checked: an error, Ctrl+C or a
// SIGTERM leaves an earlier show file of the name as it was, and no new
// file. The file of a run that was killed (SIGKILL) is removed by the next
// run into the same name, unless a live kavpack is still writing it.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "KavLib2/KavClasses/KavShowCheck.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "KavLib2/KavViewer/KavPackedSource.h"
#include "KavLib2/KavViewer/KavUnpack.h"
#include "KavLib2/KavViewer/KavShowNames.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "KavLib2/Zel.Exif/Exif.h"
#include "KavPacker.h"
#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpStringUtils.h"

namespace fs = std::filesystem;
using namespace kav::packer;

namespace {

constexpr char kUsage[] =
    "Usage: kavpack [OPTIONS] SHOW.kvshow FOLDER\n"
    "\n"
    "Packs the project folder FOLDER into the show file SHOW.kvshow, which\n"
    "kavplay plays:\n"
    "\n"
    "  kavpack myshow.kvshow examples/myshow\n"
    "  kavplay myshow.kvshow\n"
    "\n"
    "FOLDER holds the project text \"Project.kav\" (UTF-8 or Windows-1252) and\n"
    "the files it names (pictures, music, clips), which the project names by\n"
    "their paths below FOLDER, as in ImageName=Photos\\beach.jpg (slashes, \".\\\"\n"
    "and doubled separators read the same, in any case). Every file under\n"
    "FOLDER is packed. A link that leads out of FOLDER (or nowhere) is an\n"
    "error that names it.\n"
    "\n"
    "Pictures are shown as they are stored. A photo that a camera or phone\n"
    "stored turned (EXIF orientation 3, 6 or 8) shows sideways or upside down\n"
    "unless the project's [RotationState] section turns it; kavpack warns\n"
    "about each such picture and prints the line that shows it upright.\n"
    "\n"
    "Before packing, the project is read as kavplay reads it. Each thing the\n"
    "player could not use is printed with its line (FILE:LINE: warning: ...):\n"
    "a misspelt key, a line or section header it cannot read, an object kind or\n"
    "effect it does not know (also in the effect list of [Main]), a value it\n"
    "cannot read, a transition longer than its slide, a slide count that does\n"
    "not match the [SlideN] sections or end times, no [Times] section or no\n"
    "opt_slidescount, a slide whose ref names a kind missing from the effect\n"
    "list of [Main], a slide object without its GUID, an Image without its\n"
    "ImageName, music without its FileName or Duration, a GUID used twice, an\n"
    "object without its \"end\", a file that is empty, music that is no sound\n"
    "kavplay plays (a photo named as music), a name to which several files of\n"
    "FOLDER answer (DSC_4711.JPG and dsc_4711.jpg: names that differ only in\n"
    "case), and a picture it cannot decode (a HEIC, WebP or TIFF picture:\n"
    "convert it to JPEG or PNG), that is cut short or whose data is damaged.\n"
    "A file the project names that is not in FOLDER is an error: nothing is\n"
    "written and the exit code is 1. So is a name the show file would miss\n"
    "although FOLDER has the file (a full path): each name is looked up in the\n"
    "show file written, as kavplay looks it up there.\n"
    "\n"
    "SHOW.kvshow lies outside FOLDER. It is written under a new name beside it\n"
    "and takes its name only once it is whole and checked: after an error or\n"
    "Ctrl+C an earlier show file of the name is as it was. A run that was\n"
    "killed leaves that new file (.SHOW.kvshow.kavpack-XXXXXX); the next run\n"
    "into the same name removes it.\n"
    "\n"
    "Options:\n"
    "  -h, --help           show this text and exit\n"
    "  --method N           store entries as they are (0), deflated (1, the\n"
    "                       default) or enciphered (2)\n"
    "  --long, --long-base0 write the long package trailer (for tests)\n"
    "  --host FILE          write the package after the bytes of FILE; with the\n"
    "                       player as FILE the show file plays itself and is\n"
    "                       written runnable (mode 0777 less the umask):\n"
    "                         kavpack --host \"$(command -v kavplay)\" myshow FOLDER\n"
    "                         ./myshow\n";

constexpr char kProjectName[] = "Project.kav";

void Fail(const std::string& text) { std::fprintf(stderr, "kavpack: %s\n", text.c_str()); }

bool ReadBytes(const fs::path& p, std::vector<uint8_t>& bytes) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

std::string Upper(const std::string& utf8) { return kav::WideToSystemUTF8(kav::WideUpperCase(kav::SystemUTF8ToWide(utf8))); }

struct TFolderFile {
  std::string name;  // relative, with backslashes (UTF-8)
  fs::path path;
};

// Whether `path` (links resolved) is `root` (a real path) or lies beneath it.
bool Within(const fs::path& path, const fs::path& root) {
  auto p = path.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++p)
    if (p == path.end() || *p != *r) return false;
  return true;
}

// The regular files under the folder, sorted by name. False, with a
// message, when the folder cannot be read, when a link in it leads out of it
// or nowhere (the player finds a show's names only beneath its folder, and a
// link to a key or a password file must never end up in a show that is
// handed on), or when one of its files is the show file `out` (by device and
// inode: a hard link or a link elsewhere too), which writing would replace.
bool ListFolder(const fs::path& folder, const fs::path& out, std::vector<TFolderFile>& files) {
  std::error_code ec;
  const fs::path root = fs::canonical(folder, ec);
  if (ec) {
    Fail("cannot read the folder \"" + folder.string() + "\": " + ec.message());
    return false;
  }
  fs::recursive_directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code kind_ec;
    if (it->is_symlink(kind_ec)) {
      std::error_code link_ec;
      const fs::path target = fs::canonical(it->path(), link_ec);
      if (link_ec) {
        Fail("the link \"" + it->path().string() + "\" leads nowhere (" + link_ec.message() +
             "): nothing written");
        return false;
      }
      if (!Within(target, root)) {
        Fail("the link \"" + it->path().string() + "\" leads outside the folder, to \"" + target.string() +
             "\": nothing written (copy the file into the folder if the show needs it)");
        return false;
      }
    }
    if (!it->is_regular_file(kind_ec)) continue;
    if (fs::equivalent(it->path(), out, kind_ec)) {
      Fail("the show file \"" + out.string() + "\" is the file \"" + it->path().string() +
           "\" of the folder: give the show file another name, outside the folder");
      return false;
    }
    // By the name it has in the folder (fs::relative would follow a link to its target's name).
    std::string name = it->path().lexically_relative(folder).string();
    std::replace(name.begin(), name.end(), '/', '\\');
    files.push_back({name, it->path()});
  }
  if (ec) {
    Fail("cannot read the folder \"" + folder.string() + "\": " + ec.message());
    return false;
  }
  std::sort(files.begin(), files.end(), [](const TFolderFile& a, const TFolderFile& b) { return a.name < b.name; });
  return true;
}

// The files of the folder by the key under which the player finds a name
// (ShowNameMatchKey: any name form, case or normal form), each key's files
// in the folder's order; a key with more than one is a name that leads to
// several files.
using TFilesByKey = std::map<std::u16string, std::vector<size_t>>;
TFilesByKey FilesByMatchKey(const std::vector<TFolderFile>& files) {
  TFilesByKey by_key;
  for (size_t i = 0; i < files.size(); ++i)
    by_key[kav::ShowNameMatchKey(kav::SystemUTF8ToWide(files[i].name))].push_back(i);
  return by_key;
}

// For the show check: a name the project uses to which several files of
// the folder answer (their names differ only in case, as DSC_4711.JPG and
// dsc_4711.jpg, or in the form of their accents). The folder source and
// the package each pick one of them by rules of their own, so the folder
// may show one and the show file another. Empty for any other name.
std::u16string AmbiguousName(const TFilesByKey& by_key, const std::vector<TFolderFile>& files,
                             const std::u16string& name) {
  const auto found = by_key.find(kav::ShowNameMatchKey(name));
  if (found == by_key.end() || found->second.size() < 2) return {};
  const std::vector<size_t>& twins = found->second;
  std::vector<std::u16string> names;
  for (size_t k : twins) names.push_back(kav::SystemUTF8ToWide(files[k].name));
  // Names that differ in the form of their accents look the same: each is
  // said with its form (a precomposed letter, or a letter and its marks).
  const auto folded = [](const std::u16string& n) { return kav::CaseFoldRange(n, 0, ptrdiff_t(n.size())); };
  const bool forms_differ = std::any_of(names.begin(), names.end(), [&](const std::u16string& n) {
    return folded(n) != folded(names.front());
  });
  std::u16string list;
  for (size_t k = 0; k < names.size(); ++k) {
    if (k > 0) list += k + 1 == names.size() ? u" and " : u", ";
    list += names[k];
    if (forms_differ)
      list += folded(names[k]) != kav::FileNameMatchKey(names[k]) ? u" (its accents composed)"
                                                                   : u" (its accents decomposed, as a Mac stores them)";
  }
  return kav::SystemUTF8ToWide(std::to_string(twins.size())) +
         u" files of the folder answer to this name (their names differ only in case or in the form of their "
         u"accents): " +
         list + u"; kavplay may show one from the folder and another from the show file: rename all but one";
}

// Every "ImageName" below an object of the document, in document order, once each.
void CollectImageNames(const kav::TIniList* list, std::vector<std::u16string>& names, std::set<std::u16string>& seen) {
  for (int32_t i = 0; i < list->Count(); ++i) {
    const kav::TIniItem* item = list->GetItem(i);
    if (const auto* sub = dynamic_cast<const kav::TIniList*>(item)) {
      CollectImageNames(sub, names, seen);
    } else if (item && item->IsNamedKey() && kav::WideUpperCase(item->GetName()) == u"IMAGENAME") {
      std::u16string name = item->GetString();
      if (const size_t bar = name.find(u'|'); bar != std::u16string::npos) name.resize(bar);
      if (!name.empty() && seen.insert(kav::WideUpperCase(name)).second) names.push_back(name);
    }
  }
}

const char* TurnText(int code) { return code == 3 ? "upside down" : "sideways"; }

// Whether [RotationState] holds the picture's line without its leading
// ";" ("Photos\IMG.jpg"=6 instead of ;"Photos\IMG.jpg"=6): read as a key,
// it turns nothing.
bool HasLineWithoutSemicolon(const kav::TIniList* section, const std::string& picture) {
  if (!section) return false;
  for (int32_t i = 0; i < section->Count(); ++i) {
    const kav::TIniItem* item = section->GetItem(i);
    if (!item || !item->IsNamedKey()) continue;
    std::string name(item->NameBytes());
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    if (Upper(name) == Upper(picture)) return true;
  }
  return false;
}

// Warns for each picture of the project that is stored turned and that
// [RotationState] leaves as it is. Answers the number of warnings.
int WarnTurnedPictures(kav::TIniFile* project, const std::vector<TFolderFile>& files) {
  const TFilesByKey by_name = FilesByMatchKey(files);
  auto rotations = kav::MakeRef<kav::TMappedFileSource>();
  rotations->LoadMappings(project->FindSection(u"RotationState"));
  const bool has_section = project->FindSection(u"RotationState") != nullptr;

  std::vector<std::u16string> names;
  std::set<std::u16string> seen;
  CollectImageNames(project, names, seen);
  int warnings = 0;
  for (const std::u16string& name : names) {
    const std::string utf8 = kav::WideToSystemUTF8(name);
    auto found = by_name.find(kav::ShowNameMatchKey(name));
    if (found == by_name.end() || rotations->OrientationCode(name) != 0) continue;
    // Read from the file as far as the EXIF data go, not whole: the name may
    // be of a clip or a sound of hundreds of MiB.
    kav::Ref<kav::TStream> stream =
        kav::OpenShowDiskFile(kav::SystemUTF8ToWide(files[found->second.front()].path.string()), false);
    if (!stream) continue;
    kav::TExif exif;
    try {
      exif.Decode(stream.get());
    } catch (const kav::Exception&) {
      continue;  // a damaged picture shows the player's placeholder; nothing to turn
    }
    const int code = exif.OrientationCode;
    if (!exif.Found || (code != 3 && code != 6 && code != 8)) continue;
    ++warnings;
    if (HasLineWithoutSemicolon(project->FindSection(u"RotationState"), utf8)) {
      std::fprintf(stderr,
                   "kavpack: warning: the picture %s is stored turned (EXIF orientation %d) and will show %s.\n"
                   "Its line in [RotationState] must start with \";\" as printed (without it the line is not "
                   "read); write it as:\n"
                   ";\"%s\"=%d\n",
                   utf8.c_str(), code, TurnText(code), utf8.c_str(), code);
      continue;
    }
    std::fprintf(stderr,
                 "kavpack: warning: the picture %s is stored turned (EXIF orientation %d) and will show %s.\n"
                 "To show it upright, add this line %s:\n"
                 ";\"%s\"=%d\n",
                 utf8.c_str(), code, TurnText(code),
                 has_section ? "to the [RotationState] section of Project.kav"
                             : "below a line [RotationState] at the end of Project.kav",
                 utf8.c_str(), code);
  }
  return warnings;
}

std::string Counted(size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// "Project.kav:LINE", or the project alone for a problem without a line.
std::string ProblemPlace(const fs::path& project_path, const kav::TShowProblem& p) {
  // Appended piece by piece: ":" + a temporary string makes GCC 12 warn (-Wrestrict).
  std::string where = project_path.string();
  if (p.Line > 0) {
    where += ':';
    where += std::to_string(p.Line);
  }
  return where;
}

// The project read by the player's own readers, every picture decoded:
// each problem with its line, then the count. A file the project names
// that is not in the folder is an error (false: nothing is written); the
// rest are warnings.
bool CheckProject(const fs::path& project_path, const std::vector<TFolderFile>& files) {
  std::vector<kav::TShowProblem> problems;
  kav::SetShowProblemSink([&problems](const kav::TShowProblem& p) { problems.push_back(p); });
  kav::RegisterImageLoaders();
  std::error_code ec;
  const fs::path absolute = fs::absolute(project_path, ec);
  kav::Ref<kav::TKavShowLocator> locator = kav::LoadProjectShow(kav::SystemUTF8ToWide(absolute.string()));
  if (!locator || !locator->Ini()) {
    kav::SetShowProblemSink(nullptr);
    Fail("cannot read \"" + project_path.string() + "\" as kavplay reads it");
    return false;
  }
  {
    // Sounds are judged by the decoders kavplay plays them with.
    kav::InstallSoundDecoders();
    kav::TShowCheckOptions options;
    options.DecodePictures = true;
    options.SoundLength = kav::SoundFileLength;
    options.SoundProblem = [](kav::TStream* stream, const std::u16string& name) {
      return kav::SoundFileProblem(stream, name);
    };
    const TFilesByKey by_key = FilesByMatchKey(files);
    options.NameProblem = [&](const std::u16string& name) { return AmbiguousName(by_key, files, name); };
    kav::CheckShowProject(locator->Ini(), locator->Accessor(), options);
  }
  kav::SetShowProblemSink(nullptr);
  kav::PopAllShowLocators();
  size_t errors = 0;
  for (const kav::TShowProblem& p : problems) {
    errors += p.Error;
    std::fprintf(stderr, "%s: %s: %s\n", ProblemPlace(project_path, p).c_str(), p.Error ? "error" : "warning",
                 kav::WideToSystemUTF8(kav::ShowProblemText(p)).c_str());
  }
  if (!problems.empty())
    std::fprintf(stderr, "kavpack: %s, %s%s\n", Counted(errors, "error").c_str(),
                 Counted(problems.size() - errors, "warning").c_str(),
                 errors > 0 ? ": nothing written (a file the project names is not in the folder)" : "");
  return errors == 0;
}

// The name a file of the folder has in the show file: its path below the
// folder with backslashes; empty when `name` is no full path below it.
std::string NameBelowFolder(const std::u16string& name, const fs::path& folder) {
  std::string path = kav::WideToSystemUTF8(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(folder, ec);
  if (ec || path.empty() || path[0] != '/') return {};
  const fs::path relative = fs::path(path).lexically_normal().lexically_relative(root);
  std::string below = relative.string();
  if (relative.empty() || below.compare(0, 2, "..") == 0) return {};
  std::replace(below.begin(), below.end(), '/', '\\');
  return below;
}

// Every file name the project uses, looked up in the show file `show` just
// written (`out` once in place) as the player looks it up there. The
// folder's check found each of them; a name the show file misses (a full
// path, a path variable's folder) would show a placeholder or stay silent
// once the show is given away. Each is an error with its line.
bool CheckPackedNames(const fs::path& show, const fs::path& out, const fs::path& folder,
                      const fs::path& project_path) {
  std::vector<kav::TShowProblem> problems;
  kav::SetShowProblemSink([&problems](const kav::TShowProblem& p) { problems.push_back(p); });
  std::error_code ec;
  std::u16string error;
  auto unpack = kav::MakeRef<kav::TKavUnpack>(kav::SystemUTF8ToWide(fs::absolute(show, ec).string()));
  kav::Ref<kav::TKavShowLocator> locator;
  if (unpack->IsOpen()) {
    // The entries are found and opened as the player finds and opens them
    // (its name map, its lookup, its entry streams), except that once the
    // project text is read no deflated entry is held whole in memory: each
    // is inflated where it is read, as the player reads a large one, so the
    // check of a named sound or clip of hundreds of MiB holds none of it.
    auto source = kav::MakeRef<kav::TPackedFileSource>(unpack.get(), true);
    locator = kav::MakeRef<kav::TKavShowLocator>(kav::MakeRef<kav::TFileAccessor>(source.get()).get(),
                                                 kav::kProjectEntryName);
    error = locator->Error();
    source->SetHeldLimit(0);
    if (locator->Ini()) {
      kav::TShowCheckOptions options;
      options.CheckFiles = true;
      kav::CheckShowProject(locator->Ini(), locator->Accessor(), options);
    }
  } else {
    error = unpack->ErrorText();
  }
  kav::SetShowProblemSink(nullptr);
  kav::PopAllShowLocators();
  if (!locator || !locator->Ini()) {
    Fail("cannot read back the show file \"" + out.string() + "\" as kavplay reads it" +
         (error.empty() ? std::string() : ": " + kav::WideToSystemUTF8(error)));
    return false;
  }
  size_t missing = 0, unreadable = 0;
  for (const kav::TShowProblem& p : problems) {
    if (p.Kind != kav::TShowProblemKind::File) continue;
    // An entry that raises when opened (one inflating past the player's
    // limit) is said too: the player would not read it either.
    if (!p.Error && p.Reason.starts_with(u"cannot be read")) {
      ++unreadable;
      std::fprintf(stderr, "%s: error: %s: in the show file, %s: store it with --method 0\n",
                   ProblemPlace(project_path, p).c_str(), kav::WideToSystemUTF8(p.Name).c_str(),
                   kav::WideToSystemUTF8(p.Reason).c_str());
      continue;
    }
    if (!p.Error) continue;
    ++missing;
    const std::string below = NameBelowFolder(p.Name, folder);
    std::fprintf(stderr, "%s: error: %s: found in the folder but not in the show file: %s\n",
                 ProblemPlace(project_path, p).c_str(),
                 kav::WideToSystemUTF8(p.Name).c_str(),
                 below.empty() ? "copy the file into the folder and write its path below the folder instead, "
                                 "such as Photos\\sea.jpg"
                               : ("write its path below the folder instead: " + below).c_str());
  }
  if (missing + unreadable > 0)
    std::fprintf(stderr, "kavpack: %s: nothing written (the show file would %s)\n",
                 Counted(missing + unreadable, "error").c_str(),
                 unreadable == 0 ? "miss files the project names" : "hold files the player cannot read");
  return missing + unreadable == 0;
}

// The show file being written under its new name, removed when a signal
// ends kavpack: the handler may only use async-signal-safe calls, so the
// name is kept as bytes in a fixed buffer, set while the signals are blocked.
char g_partial_path[PATH_MAX];
volatile sig_atomic_t g_partial_set = 0;
// The signals whose default action ends kavpack and that may come from
// outside: Ctrl+C and Ctrl+\, a kill, a closed terminal, the reader of its
// error output gone (SIGPIPE), a CPU time limit, timers and the user's own.
// SIGXFSZ (a file size limit, `ulimit -f`) is ignored instead: the write
// past the limit then fails with EFBIG and is reported as any write error.
constexpr int kEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGPIPE, SIGXCPU, SIGALRM,
                                  SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR};

extern "C" void RemovePartialAndRaise(int signal_number) {
  if (g_partial_set) ::unlink(g_partial_path);
  // The handler is reset to the default (SA_RESETHAND): raised again, the
  // signal ends kavpack as it would have, once this handler returns.
  ::raise(signal_number);
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = RemovePartialAndRaise;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int s : kEndingSignals) {
    struct sigaction old {};
    // Only a signal at its default action: one ignored by whoever started
    // kavpack (nohup) stays ignored, one handled by a tool in the process
    // (a profiler's SIGPROF) stays handled.
    if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) ::sigaction(s, &action, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

// Blocks the ending signals for its life, so that the name the handler
// removes and the file on disk change together.
class TSignalsBlocked {
 public:
  TSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kEndingSignals) sigaddset(&set, s);
    ::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~TSignalsBlocked() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  TSignalsBlocked(const TSignalsBlocked&) = delete;
  TSignalsBlocked& operator=(const TSignalsBlocked&) = delete;

 private:
  sigset_t old_;
};

// The show file being written: its name beside the show file, and a
// descriptor that holds an exclusive lock (flock) on it from its making
// until it is renamed or removed, whatever happens to the descriptor it is
// written through. The lock tells a later kavpack into the same name that
// the file is no leftover; it goes with the process, so the file of a run
// that was killed (SIGKILL) or lost its machine is unlocked.
struct TPartialFile {
  fs::path Path;
  int LockFd = -1;

  TPartialFile() = default;
  TPartialFile(const TPartialFile&) = delete;
  TPartialFile& operator=(const TPartialFile&) = delete;
  ~TPartialFile() { Release(); }
  void Release() {
    if (LockFd >= 0) ::close(LockFd);
    LockFd = -1;
  }
};

// Removes the file written under its new name (after an error).
void RemovePartial(TPartialFile& partial) {
  {
    const TSignalsBlocked blocked;
    ::unlink(partial.Path.c_str());
    g_partial_set = 0;
  }
  partial.Release();
}

// The names a show file is written under before it takes its own: the
// show file's name in front (a file left by a power cut tells what it
// was), then six letters or digits (mkostemp's).
std::string PartialPrefix(const fs::path& target) {
  return "." + target.filename().string().substr(0, 200) + ".kavpack-";
}
constexpr char kPartialTemplate[] = "XXXXXX";

bool IsPartialName(std::string_view name, std::string_view prefix) {
  constexpr size_t kTail = sizeof kPartialTemplate - 1;
  if (name.size() != prefix.size() + kTail || !name.starts_with(prefix)) return false;
  return std::all_of(name.begin() + prefix.size(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

// Whether `st` and `named` are the same file.
bool SameFile(const struct stat& st, const struct stat& named) {
  return st.st_dev == named.st_dev && st.st_ino == named.st_ino;
}

// Removes what earlier runs into the same name left in `folder` (a run
// killed by SIGKILL, or by a crash): every regular file named as this run's
// own file will be (`prefix` and six letters or digits) that no live
// kavpack holds locked. A link or any other kind of file is left as it is
// and never followed; so is a file whose lock another kavpack holds (one
// writing into the same name at this moment), and a name that no longer
// leads to the file that was locked.
void RemoveLeftovers(const fs::path& folder, const std::string& prefix) {
  DIR* listing = ::opendir(folder.c_str());
  if (!listing) return;
  const int dir = ::dirfd(listing);
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(listing))
    if (IsPartialName(e->d_name, prefix)) names.push_back(e->d_name);
  for (const std::string& name : names) {
    struct stat named {}, opened {};
    if (::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)) continue;
    // Opened for writing where it may be (an NFS mount takes an exclusive
    // lock only on such a descriptor), without following a link, without
    // waiting on a lease, and never made the controlling terminal.
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::openat(dir, name.c_str(), O_RDWR | kFlags);
    if (fd < 0 && errno == EACCES) fd = ::openat(dir, name.c_str(), O_RDONLY | kFlags);
    if (fd < 0) continue;
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(opened, named))
      ::unlinkat(dir, name.c_str(), 0);
    ::close(fd);
  }
  ::closedir(listing);
}

// Makes the new file of a name of its own from `pattern` (created
// exclusively, so no other file is ever written through) and locks it;
// -1 with errno when it cannot be made. A kavpack that took the file for a
// leftover between its making and its lock holds the lock or has removed
// it (the name no longer leads to it): the file is made again under another
// name. On a file system without locks the file stays unlocked: no later
// run can lock it either, so none takes it for a leftover.
int MakePartial(std::string& pattern, TPartialFile& partial) {
  const std::string tmpl = pattern;
  for (int tries = 0; tries < 100; ++tries) {
    pattern = tmpl;
    int fd;
    {
      const TSignalsBlocked blocked;
      do fd = ::mkostemp(pattern.data(), O_CLOEXEC);
      while (fd < 0 && errno == EINTR);
      if (fd >= 0) {
        std::memcpy(g_partial_path, pattern.c_str(), pattern.size() + 1);
        g_partial_set = 1;
      }
    }
    if (fd < 0) return -1;
    partial.Path = pattern;
    partial.LockFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    bool taken = false;
    if (partial.LockFd >= 0) {
      int locked;
      do locked = ::flock(partial.LockFd, LOCK_EX | LOCK_NB);
      while (locked != 0 && errno == EINTR);
      taken = locked != 0 && errno == EWOULDBLOCK;
    }
    struct stat st {}, named {};
    if (!taken && ::fstat(fd, &st) == 0 && ::lstat(pattern.c_str(), &named) == 0 && SameFile(st, named)) return fd;
    ::close(fd);
    {
      const TSignalsBlocked blocked;
      g_partial_set = 0;
    }
    partial.Release();
    partial.Path.clear();
  }
  errno = EEXIST;
  return -1;
}

// The folder a show file's name puts it in ("." for a bare name).
fs::path FolderOf(const fs::path& target) { return target.has_parent_path() ? target.parent_path() : fs::path("."); }

// Gives the written file the show file's name, replacing the file of that
// name in one step, then syncs the folder so that the name lasts.
bool PutInPlace(TPartialFile& partial, const fs::path& target, const fs::path& out) {
  int error = 0;
  {
    const TSignalsBlocked blocked;
    if (::rename(partial.Path.c_str(), target.c_str()) == 0) g_partial_set = 0;
    else error = errno;
  }
  if (error != 0) {
    Fail("cannot write \"" + out.string() + "\": " + std::strerror(error));
    RemovePartial(partial);
    return false;
  }
  partial.Release();
  const fs::path folder = FolderOf(target);
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// The file the show file's name leads to: a link is followed (as writing
// through it did), so the show replaces the file it names, not the link.
bool FollowLinks(const fs::path& out, fs::path& target) {
  target = out;
  for (int steps = 0; steps < 40; ++steps) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(target, ec))) return true;
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) return false;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  return false;
}

// The mode the show file gets. With a host program in front it is a program
// that plays itself: it gets the run bit as a compiler gives its output, 0777
// less the umask. A plain show file keeps the mode of the file it replaces,
// else 0666 less the umask.
mode_t ShowMode(const fs::path& target, bool runnable) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st {};
  if (!runnable && ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  return (runnable ? 0777 : 0666) & ~mask;
}

// Writes the show file entry by entry, never holding a whole file of the
// folder, into a new file of a name of its own beside `target`, locked
// (TPartialFile), once the leftovers of earlier runs into the name are
// removed. True with the file's name in `partial`, written, synced and
// closed (its lock still held); false with a message (`partial` then names
// the file to remove, when one was made).
bool WriteShow(const fs::path& out, const fs::path& target, const std::vector<TFolderFile>& files, int method,
               const fs::path& host, const Options& options, TPartialFile& partial) {
  const bool runnable = !host.empty();
  const fs::path folder = FolderOf(target);
  const std::string prefix = PartialPrefix(target);
  std::string pattern = (folder / (prefix + kPartialTemplate)).string();
  if (pattern.size() >= sizeof g_partial_path) {
    Fail("cannot write \"" + out.string() + "\": " + std::strerror(ENAMETOOLONG));
    return false;
  }
  RemoveLeftovers(folder, prefix);
  const int fd = MakePartial(pattern, partial);
  if (fd < 0) {
    const int error = errno;
    Fail("cannot write \"" + out.string() + "\": " + std::strerror(error) +
         (error == EACCES || error == EROFS ? " (its folder takes no new file)" : ""));
    return false;
  }
  int write_error = ::fchmod(fd, ShowMode(target, runnable)) != 0 ? errno : 0;
  StreamWriter writer(fd, options);
  bool ok = write_error == 0 && (!runnable || writer.AddHost(host.string()));
  for (size_t k = 0; ok && k < files.size(); ++k) ok = writer.AddFile(files[k].name, files[k].path.string(), method);
  ok = ok && writer.Finish();
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    write_error = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    write_error = errno;
  }
  if (ok) return true;
  if (write_error == 0) write_error = writer.WriteError();
  if (write_error != 0 || writer.Error().empty())
    Fail("cannot write \"" + out.string() + "\": " + (write_error != 0 ? std::strerror(write_error) : "the write failed"));
  else
    Fail(writer.Error());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  fs::path host;
  int method = kDeflated;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--")) {
      ++i;
      break;
    }
    if (!std::strcmp(argv[i], "--long")) options.trailer = Trailer::kLong;
    else if (!std::strcmp(argv[i], "--long-base0")) options.trailer = Trailer::kLongBase0;
    else if (!std::strcmp(argv[i], "--host") && i + 1 < argc) {
      host = argv[++i];
      std::error_code size_ec;
      const auto size = fs::file_size(host, size_ec);
      if (size_ec || !std::ifstream(host, std::ios::binary)) {
        Fail(std::string("cannot read the host file \"") + argv[i] + "\"");
        return 1;
      }
      options.host_entry = size > 0;  // the host names itself in the directory
    } else if (!std::strcmp(argv[i], "--method") && i + 1 < argc) method = std::atoi(argv[++i]);
    else {
      Fail(std::string("unknown option ") + argv[i] + " (kavpack --help lists the options)");
      return 2;
    }
  }
  if (argc - i != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const fs::path out = argv[i];
  const fs::path folder = argv[i + 1];

  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (!fs::exists(status)) {
    Fail("the project folder \"" + folder.string() + "\" does not exist");
    return 1;
  }
  if (!fs::is_directory(status)) {
    Fail("\"" + folder.string() + "\" is not a folder: give the folder that holds " + kProjectName);
    return 1;
  }
  if (fs::is_directory(out, ec)) {
    Fail("\"" + out.string() + "\" is a folder: give the name of the show file to write, such as myshow.kvshow");
    return 1;
  }

  if (!host.empty() && fs::equivalent(host, out, ec)) {
    Fail("the host file \"" + host.string() + "\" is the show file to write: give the show file another name");
    return 1;
  }
  fs::path target;
  if (!FollowLinks(out, target)) {
    Fail("cannot write \"" + out.string() + "\": " + std::strerror(ELOOP));
    return 1;
  }
  // Renamed over a device or a pipe, the show file would take its place.
  if (const fs::file_status st = fs::status(target, ec); fs::exists(st) && !fs::is_regular_file(st)) {
    Fail("\"" + out.string() + "\" is no file a show can replace: give the name of the show file to write, "
         "such as myshow.kvshow");
    return 1;
  }
  // Written inside the folder, the show file would be packed into the next
  // show, or replace a file of the folder.
  if (const fs::path root = fs::canonical(folder, ec), place = fs::weakly_canonical(target, ec);
      !root.empty() && !place.empty() && Within(place, root)) {
    Fail("the show file \"" + out.string() + "\" lies inside the folder \"" + folder.string() +
         "\" that it packs: write it outside the folder, such as myshow.kvshow beside it");
    return 1;
  }

  std::vector<TFolderFile> files;
  if (!ListFolder(folder, target, files)) return 1;
  const auto project = std::find_if(files.begin(), files.end(),
                                    [](const TFolderFile& f) { return Upper(f.name) == Upper(kProjectName); });
  if (project == files.end()) {
    Fail("the folder \"" + folder.string() + "\" holds no project text \"" + kProjectName +
         "\" (kavpack --help says what a project folder holds)");
    return 1;
  }

  // Every file opens before anything is written: one that cannot be read
  // stops the packing while an earlier show file of the name is still whole.
  // So does one the player would not read whole once deflated (it reads no
  // more of a deflated entry than its cap).
  for (const TFolderFile& f : files) {
    std::ifstream in(f.path, std::ios::binary);
    if (!in) {
      Fail("cannot read \"" + f.path.string() + "\"");
      return 1;
    }
    std::error_code size_error;
    if (const uintmax_t size = fs::file_size(f.path, size_error);
        method == kDeflated && !size_error && size > uintmax_t(kav::kMaxInflatedEntrySize)) {
      Fail("\"" + f.path.string() + "\" takes " + std::to_string(size >> 30) + " GiB, more than the " +
           std::to_string(kav::kMaxInflatedEntrySize >> 30) +
           " GiB the player reads of a file deflated into a show file: store the files as they are with "
           "--method 0");
      return 1;
    }
  }
  std::vector<uint8_t> text;
  if (!ReadBytes(project->path, text)) {
    Fail("cannot read \"" + project->path.string() + "\"");
    return 1;
  }

  // The project text as the player reads it.
  auto ini = kav::MakeRef<kav::TIniFile>();
  auto text_stream = kav::MakeRef<kav::TStringStream>(std::string(text.begin(), text.end()));
  if (!ini->LoadFrom(text_stream.get())) {
    Fail("cannot read \"" + project->path.string() + "\" as a text");
    return 1;
  }
  const kav::TIniItem* slides = ini->FindSection(u"Times") ? ini->FindSection(u"Times")->FindKey(u"opt_slidescount")
                                                           : nullptr;
  if (!ini->FindSection(u"Main") && (!slides || slides->GetInteger(0) <= 0)) {
    Fail("\"" + project->path.string() +
         "\" is no show's project text: it has no [Main] section and no slides (kavpack --help)");
    return 1;
  }
  WarnTurnedPictures(ini.get(), files);
  if (!CheckProject(project->path, files)) return 1;

  InstallSignalHandlers();
  TPartialFile partial;
  bool written = false;
  try {
    written = WriteShow(out, target, files, method, host, options, partial) &&
              CheckPackedNames(partial.Path, out, folder, project->path);
  } catch (const std::exception& e) {
    Fail("cannot write \"" + out.string() + "\": " + e.what());
  }
  if (!written) {
    if (!partial.Path.empty()) RemovePartial(partial);
    return 1;
  }
  return PutInPlace(partial, target, out) ? 0 : 1;
}
