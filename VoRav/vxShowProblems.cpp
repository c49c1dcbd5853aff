#include "VoRav/vxShowProblems.h"

#include <mutex>
#include <set>
#include <tuple>


namespace kav {

namespace {

// The number of distinct problems said; past it a hostile show's problems
// are dropped rather than flood the terminal.
constexpr size_t kMaxRemembered = 10'000;

struct TState {
  std::mutex lock;
  TShowProblemSink sink;
  std::set<std::tuple<int, std::u16string, std::u16string>> said;
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
  std::swap(s.sink, sink);
  return sink;
}

void ResetShowProblems() {
  TState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  s.said.clear();
}

std::u16string ShowProblemText(const TShowProblem& problem) { return problem.Name + u": " + problem.Reason; }

TShowProblemLine::TShowProblemLine(int32_t line) noexcept : saved_(t_line) { t_line = line; }
TShowProblemLine::~TShowProblemLine() { t_line = saved_; }

void ReportShowProblem(const TShowProblem& problem_in) {
  TShowProblem lined;
  const bool use_line = problem_in.Line == 0 && t_line != 0;
  if (use_line) {
    lined = problem_in;
    lined.Line = t_line;
  }
  const TShowProblem& problem = use_line ? lined : problem_in;
  TState& s = State();
  TShowProblemSink sink;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    auto key = std::make_tuple(int(problem.Kind), problem.Name, problem.Reason);
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
