#include "platform/dialogs/SaveChooser.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/dialogs/FallbackChooser.h"
#include "platform/dialogs/PortalChooser.h"
#include "platform/dialogs/ProgramChooser.h"

namespace kav::dialogs {

TCreatedFile::~TCreatedFile() {
  if (fd_ >= 0) close(fd_);
}

TChooserChain::TChooserChain(std::vector<std::unique_ptr<TSaveFileChooser>> choosers)
    : choosers_(std::move(choosers)) {}

TSaveFileAnswer TChooserChain::Choose(const TSaveFileRequest& request) {
  TSaveFileAnswer failed;  // kUnavailable until a chooser fails
  std::string failed_by;
  for (auto& chooser : choosers_) {
    // After a failure the person has not been asked yet: a chooser that
    // picks a name by itself would save what nobody chose.
    if (failed.outcome == TSaveFileOutcome::kFailed && !chooser->Asks()) continue;
    TSaveFileAnswer answer = chooser->Choose(request);
    if (answer.outcome == TSaveFileOutcome::kUnavailable) continue;
    if (answer.outcome != TSaveFileOutcome::kFailed) {
      last_ = chooser->Name();
      return answer;
    }
    std::string why = answer.message.empty() ? std::string(chooser->Name()) + " failed" : answer.message;
    failed.outcome = TSaveFileOutcome::kFailed;
    failed.message += (failed.message.empty() ? "" : "; ") + why;
    failed_by = chooser->Name();
  }
  last_ = failed_by;
  return failed;
}

std::unique_ptr<TSaveFileChooser> NewDesktopChooser() {
  std::vector<std::unique_ptr<TSaveFileChooser>> list;
  list.push_back(std::make_unique<TPortalChooser>());
  list.push_back(NewZenityChooser());
  list.push_back(NewKDialogChooser());
  list.push_back(std::make_unique<TFallbackChooser>());
  return std::make_unique<TChooserChain>(std::move(list));
}

namespace {
std::unique_ptr<TSaveFileChooser>& Installed() {
  static std::unique_ptr<TSaveFileChooser> chooser;
  return chooser;
}
std::unique_ptr<TSaveFileChooser>& Default() {
  static std::unique_ptr<TSaveFileChooser> chooser;
  return chooser;
}
}  // namespace

TSaveFileChooser& SaveFileChooser() {
  if (Installed()) return *Installed();
  if (!Default()) Default() = NewDesktopChooser();
  return *Default();
}

std::unique_ptr<TSaveFileChooser> SetSaveFileChooser(std::unique_ptr<TSaveFileChooser> chooser) {
  std::unique_ptr<TSaveFileChooser> previous = std::move(Installed());
  Installed() = std::move(chooser);
  return previous;
}

std::string SafeProposedName(const std::string& name, const std::string& fallback) {
  size_t cut = name.find_last_of("/\\");
  std::string last = cut == std::string::npos ? name : name.substr(cut + 1);
  std::string clean;
  for (unsigned char c : last)
    if (c >= 0x20 && c != 0x7f) clean += static_cast<char>(c);
  size_t first = clean.find_first_not_of(". ");
  if (first == std::string::npos) return fallback;
  clean.erase(0, first);
  while (!clean.empty() && (clean.back() == '.' || clean.back() == ' ')) clean.pop_back();
  constexpr size_t kMaxNameBytes = 255;  // NAME_MAX of the common file systems
  if (clean.size() > kMaxNameBytes) {
    std::string ext = FileNameExtension(clean);
    if (ext.size() + 1 > kMaxNameBytes / 2) ext.clear();
    size_t keep = kMaxNameBytes - (ext.empty() ? 0 : ext.size() + 1);
    // Back up to the start of a UTF-8 sequence.
    while (keep > 0 && (static_cast<unsigned char>(clean[keep]) & 0xC0) == 0x80) --keep;
    clean = clean.substr(0, keep) + (ext.empty() ? std::string() : "." + ext);
  }
  return clean.empty() ? fallback : clean;
}

std::string FileNameExtension(const std::string& name) {
  size_t slash = name.find_last_of('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot <= start) return {};
  return name.substr(dot + 1);
}

std::string WithDefaultExtension(const std::string& path, const std::string& extension) {
  if (extension.empty() || path.empty() || path.back() == '/' || !FileNameExtension(path).empty()) return path;
  std::string longer = path + "." + extension;
  struct stat st;
  if (lstat(longer.c_str(), &st) == 0) return path;  // never turn the answer into a file nobody confirmed
  return longer;
}

}  // namespace kav::dialogs
