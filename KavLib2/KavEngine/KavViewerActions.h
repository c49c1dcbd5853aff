// What the viewer's actions need besides the form: the slide times for
// "previous", "next" and "go to slide", and starting programs and opening
// documents and addresses for a show, guarded against commands that could
// harm the system.
//
// Programs are never started through a shell: a command is split into a
// program and its arguments and started directly; documents and web or mail
// addresses go to "xdg-open". Nothing runs, opens or is addressed unless the
// person running the player allowed it ("--allow-programs=NAME[,NAME...]");
// a show cannot allow it itself. A program starts only when the show asks
// for it by a name the person named and the file that would start (found on
// PATH as execvp finds it, links resolved) is the one that name found, or
// when it is a file of the show played from its folder and "show" was
// named. Naming a program lets the show start it with any arguments, so the
// deny list is a second wall that holds even for named programs: the
// shells, interpreters and programs it knows to run code or another program
// given on their command line, to write files named there, or to change the
// system are refused by their name and by the names of the links and the
// file that name leads to. It refuses what it knows; it cannot know every
// program, so it makes no named program safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kav {

class TFileAccessor;
class TKavSource;

// ---- Slide times (ms) ----

// Where "previous" goes from show time t: the start of the current slide
// (its begin plus its transition), or the slide before it when t is within
// 500 ms of that start; 0 before the second slide.
int32_t PrevSlideTime(TKavSource* source, double t);
// Where "next" goes from show time t; a paused show lands on the fully shown
// slide (its transition over).
int32_t NextSlideTime(TKavSource* source, double t, bool paused);
// The start time of slide `index` (0-based; negative counts as 0).
int32_t SlideStartTime(TKavSource* source, int32_t index);
// The first slide whose id is `id`; -1 when none.
int32_t SlideIndexById(TKavSource* source, const std::u16string& id);

// ---- Command guard ----

// The program name a command starts, reduced the way the guard compares it.
std::u16string NormalizeCommand(const std::u16string& command);
// Whether the command's program is on the deny list: its reduced name, also
// without a version at its end (perl5.36.0, tclsh8.6).
bool IsProhibitedCommand(const std::u16string& command);
// The same, with the reason: which name and why ("\"nice\" runs the program
// named in its arguments"); empty when the command is not prohibited.
std::u16string ProhibitedCommandReason(const std::u16string& command);
// The same judgement of a program file (a system path): its own name and
// the name of the file its links lead to.
bool IsProhibitedProgramFile(const std::string& path);
std::u16string ProhibitedProgramReason(const std::string& path);
// The file execvp would start for `name`: a name with a "/" as it is, else
// the first executable regular file of that name in PATH's folders (the
// system's default folders without PATH); empty when there is none.
std::string FindProgramOnPath(const std::string& name);

// The first argument of `parameters` that names a shell or an interpreter
// program (itself, or a piece of a list or an option's value:
// "/bin/sh,-c,id", "--shell=bash", "python3.11"): a path, or a bare name
// found on PATH, of an executable file that the deny list knows as one by
// its name or the names its links lead to; `why` then says which. Words
// that name no such file ("Ruby", "--title=Wish", "photos/wish") are not
// one. Empty when none is.
std::u16string ShellArgument(const std::u16string& parameters, std::u16string* why = nullptr);

struct TCommandPart {
  std::u16string Program;
  std::u16string Parameters;
};
// Splits a text at commas outside double quotes into commands, each into a
// program and its parameters. False (and nothing in `parts`) when any
// command is prohibited.
bool CheckCommandLine(const std::u16string& text, std::vector<TCommandPart>& parts);
// The parameters as arguments: blanks separate them outside double quotes.
std::vector<std::u16string> SplitArguments(const std::u16string& parameters);

// ---- Allowed programs ----

// The programs the person running the player allowed.
struct TAllowedProgram {
  std::string Name;  // as named: a bare name, or a path made absolute (links kept)
  std::string File;  // the real path of the file that name found
};
struct TAllowedPrograms {
  std::vector<TAllowedProgram> Programs;
  bool ShowPrograms = false;  // "show": the programs the show carries in its folder
  std::string ShowFolder;     // the real path of the folder of a show played from its
                              // folder; empty for a packed show and before a show opens
};
// The list for the names of "--allow-programs": each a program name, found
// on PATH as execvp would, or a path (relative to the current folder); the
// word "show" allows the show's own programs. A name that leads to no file,
// or to one the deny list refuses, allows nothing and is said in `problems`
// (a sentence each, with the name and the reason).
TAllowedPrograms MakeAllowedPrograms(const std::vector<std::string>& names, std::vector<std::string>* problems);
// Whether the file `program` (a system path, the one that would start),
// asked for by the show as `requested`, is allowed: the list holds that
// name (a bare name, or the same path) for that very file, links resolved;
// or the file lies inside the show's folder when the list allows the show's
// programs. A program of many names (one file that does what the name it
// is started by says) is allowed only by the names the person gave.
bool IsProgramAllowed(const TAllowedPrograms& allowed, const std::string& requested, const std::string& program);
// Why it is not allowed; empty when it is.
std::u16string ProgramRefusal(const TAllowedPrograms& allowed, const std::string& requested,
                              const std::string& program);

// ---- Starting ----

// Off by default; the main form switches it on when the player was started
// with "--allow-programs=..." and the show asks for it. Documents and
// addresses then open; programs start only when the allowed list has them.
void SetProgramStartAllowed(bool allowed);
bool ProgramStartAllowed();
void SetAllowedPrograms(TAllowedPrograms allowed);

// Starts argv[0] (a path as it is, a bare name found through PATH) with the
// arguments, without a shell and without waiting; false when it cannot be
// started. Replaceable for tests.
using TSpawnFn = std::function<bool(const std::vector<std::string>& argv)>;
void SetSpawnFunction(TSpawnFn fn);
bool SpawnDetached(const std::vector<std::string>& argv);

// What a packed show's documents may take on the disk when they are written
// out for the opener: one document at most PerDocument bytes, all documents
// of the process together at most Total. Documents a show opens (PDFs,
// office files) are far smaller; a request beyond either is refused with
// the document's size and the reason, before anything is written.
inline constexpr int64_t kMaxPackedDocumentSize = int64_t(256) << 20;
inline constexpr int64_t kMaxPackedDocumentsTotal = int64_t(1) << 30;
struct TPackedDocumentLimits {
  int64_t PerDocument = kMaxPackedDocumentSize;
  int64_t Total = kMaxPackedDocumentsTotal;
};
// Replaces the limits (tests use small ones).
void SetPackedDocumentLimits(TPackedDocumentLimits limits);

// Result codes of ShellOpen: above 32 success; 2 file not found, 3 path not
// found, 5 refused.
enum : int32_t { kOpenFileNotFound = 2, kOpenPathNotFound = 3, kOpenRefused = 5, kOpenDone = 42 };

// Opens `file`: a web or mail address through xdg-open (other schemes are
// refused), or the first of these that may start: the program as given (a
// plain name on PATH, or a path the person named by that very path), then
// the show's own file of that name: for a packed show (`package`, its
// accessor) the package's entry alone, written into a private temporary
// folder of the process and handed to xdg-open; else the file inside
// `folder` (a program, or any other file through xdg-open). A link in the
// show that leads out of the folder is refused, and so is a file the opener
// would start (a launcher such as ".desktop", a program by its extension).
// Refused (kOpenRefused, logged and said to the show-problem sink with each
// program and the reason) without the permission, or when nothing the name
// means may start. Writing a packed show's document out is given up, and
// nothing of it left, when `stop` answers true (asked every MiB; the GUI
// thread's caller answers for Escape) or the player is ending on a signal.
int32_t ShellOpen(const std::u16string& file, const std::u16string& parameters, const std::u16string& folder,
                  TFileAccessor* package = nullptr, const std::function<bool()>& stop = {});

// Runs a command text from a show: refused as a whole when a command is
// prohibited (the message is shown through `message`, the command and the
// reason go to the log); each program is tried as given, then inside the
// show folder, or inside the package of a packed show (ShellOpen, with `stop`).
void RunAppProc(const std::u16string& text, const std::u16string& folder,
                const std::function<void(const std::u16string&)>& message, TFileAccessor* package = nullptr,
                const std::function<bool()>& stop = {});

}  // namespace kav
