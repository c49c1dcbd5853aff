// What went wrong with a show, told to its author: the readers of a show
// (project text, objects, effects, pictures, sounds) report each thing they
// could not use here, with its name, the reason and, where known, the line
// of the project text. A report goes to the installed sink once: the same
// problem met again (every loop of a show, every slide that shows the
// picture) is not said again until ResetShowProblems; an object's problem
// on another line is another object's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kav {

enum class TShowProblemKind {
  File,     // a file the show names: missing, empty or not decodable
  Effect,   // an effect name that names no effect
  Object,   // an object kind the player does not know
  Section,  // a line or section header that cannot be read
  Key,      // a key no reader knows (a misspelt one)
  Value,    // a value that cannot be read
  Request,  // a program, document or address the show asked for that is refused
};

// A picture whose data ends before the picture does (the check and the
// decoders say it in these words, so it is said once): a JPEG is drawn as
// far as it goes, a PNG not at all.
inline constexpr char16_t kPictureCutShort[] = u"the picture is cut short: only part of it is drawn";
inline constexpr char16_t kPngCutShort[] = u"the picture is cut short: it shows as a placeholder";

struct TShowProblem {
  TShowProblemKind Kind = TShowProblemKind::Value;
  bool Error = false;  // a file that is not there; the rest are warnings
  std::u16string Name;
  std::u16string Reason;
  int32_t Line = 0;  // of the project text; 0 when not known
};

using TShowProblemSink = std::function<void(const TShowProblem&)>;

// Installs the sink (none for an empty one: the readers' own log lines
// are then all that is said); answers the previous one. Also forgets the
// problems said.
TShowProblemSink SetShowProblemSink(TShowProblemSink sink);
// Hands the problem to the sink unless the same kind, name and reason (and
// for an object, line) was handed before. Any thread; the sink is called outside the lock.
void ReportShowProblem(const TShowProblem& problem);
void ReportShowProblem(TShowProblemKind kind, std::u16string name, std::u16string reason, int32_t line = 0,
                       bool error = false);
// While one lives, reports made on its thread without a line get `line`
// (a decoder reporting damage while a reader of the project text that
// knows the line has it decode).
class TShowProblemLine {
 public:
  explicit TShowProblemLine(int32_t line) noexcept;
  ~TShowProblemLine();
  TShowProblemLine(const TShowProblemLine&) = delete;
  TShowProblemLine& operator=(const TShowProblemLine&) = delete;

 private:
  int32_t saved_;
};
// Forgets the problems said and the files' lines (a new show is opened).
void ResetShowProblems();
// The line of the project text that names the file `name` (the first one
// noted counts): a file problem reported without a line, as the picture
// loader reports one, gets it. Names are matched in any case.
void NoteShowFileLine(const std::u16string& name, int32_t line);
// "Photos\sea.jpg: no such file" (the line is not part of it).
std::u16string ShowProblemText(const TShowProblem& problem);

}  // namespace kav
