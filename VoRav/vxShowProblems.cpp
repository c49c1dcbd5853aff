#include "VoRav/vxShowProblems.h"

#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "VoRav/wpStringUtils.h"


namespace kav {

namespace {

// The number of distinct problems said; past it a hostile show's problems
// are dropped rather than flood the terminal.
constexpr size_t kMaxRemembered = 10'000;

struct TState {
  std::mutex lock;
  TShowProblemSink sink;
  std::set<std::tuple<int, std::u16string, std::u16string, int32_t>> said;
  std::map<std::u16string, int32_t> file_lines;  // by the name in upper case
};

thread_local int32_t t_line = 0;

TState& State() {
  static TState* state = new TState;  // used by threads that may outlive statics
  return *state;
}

}  // namespace

TShowProblemSink SetShowProblemSink(TShowProblemSink sink) {
  TState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  s.said.clear();
  s.file_lines.clear();
  std::swap(s.sink, sink);
  return sink;
}

void ResetShowProblems() {
  TState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  s.said.clear();
  s.file_lines.clear();
}

void NoteShowFileLine(const std::u16string& name, int32_t line) {
  if (name.empty() || line <= 0) return;
  TState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.file_lines.size() < kMaxRemembered) s.file_lines.emplace(WideUpperCase(name), line);
}

std::u16string ShowProblemText(const TShowProblem& problem) { return problem.Name + u": " + problem.Reason; }

TShowProblemLine::TShowProblemLine(int32_t line) noexcept : saved_(t_line) { t_line = line; }
TShowProblemLine::~TShowProblemLine() { t_line = saved_; }

void ReportShowProblem(const TShowProblem& problem_in) {
  TShowProblem problem = problem_in;
  if (problem.Line == 0) problem.Line = t_line;
  TState& s = State();
  TShowProblemSink sink;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    // A file's problem said by a reader that does not know the line (the
    // picture loader) gets the line that names the file.
    if (problem.Line == 0 && problem.Kind == TShowProblemKind::File && !s.file_lines.empty())
      if (auto it = s.file_lines.find(WideUpperCase(problem.Name)); it != s.file_lines.end()) problem.Line = it->second;
    // Objects of the same name on other lines are other objects.
    auto key = std::make_tuple(int(problem.Kind), problem.Name, problem.Reason,
                               problem.Kind == TShowProblemKind::Object ? problem.Line : 0);
    if (s.said.count(key) || s.said.size() >= kMaxRemembered) return;
    s.said.insert(std::move(key));
    sink = s.sink;
  }
  if (sink) sink(problem);
}

void ReportShowProblem(TShowProblemKind kind, std::u16string name, std::u16string reason, int32_t line, bool error) {
  TShowProblem p;
  p.Kind = kind;
  p.Name = std::move(name);
  p.Reason = std::move(reason);
  p.Line = line;
  p.Error = error;
  ReportShowProblem(p);
}

}  // namespace kav
