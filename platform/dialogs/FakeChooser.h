// A chooser for tests: records every request and gives the answers it was
// handed, in order (the last one again when they run out; kCancelled when
// none was given). It calls the request's pump once, as a real chooser
// would while it waits. `asks` says whether it stands for a chooser that
// asks the person.
#pragma once

#include <vector>

#include "platform/dialogs/SaveChooser.h"

namespace kav::dialogs {

class TFakeChooser final : public TSaveFileChooser {
 public:
  explicit TFakeChooser(std::vector<TSaveFileAnswer> answers = {}) : answers_(std::move(answers)) {}
  const char* Name() const override { return "fake"; }
  bool Asks() const override { return asks; }
  TSaveFileAnswer Choose(const TSaveFileRequest& request) override {
    requests.push_back(request);
    if (request.pump) request.pump();
    if (answers_.empty()) return {TSaveFileOutcome::kCancelled, {}, {}};
    TSaveFileAnswer answer = answers_.front();
    if (answers_.size() > 1) answers_.erase(answers_.begin());
    return answer;
  }

  std::vector<TSaveFileRequest> requests;
  bool asks = true;

 private:
  std::vector<TSaveFileAnswer> answers_;
};

}  // namespace kav::dialogs
