#include "platform/dialogs/FallbackChooser.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kav::dialogs {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') return pw->pw_dir;
  return {};
}

// The value of XDG_PICTURES_DIR in a user-dirs.dirs file: a shell-quoted
// "$HOME/..." or absolute path, as xdg-user-dirs writes it. Empty when the
// line is missing or in another form.
std::string ConfiguredPictures(const std::string& config_file, const std::string& home) {
  std::ifstream in(config_file);
  std::string line, found;
  while (std::getline(in, line)) {
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] == '#') continue;
    static const char kKey[] = "XDG_PICTURES_DIR=";
    if (line.compare(i, sizeof(kKey) - 1, kKey) != 0) continue;
    std::string value = line.substr(i + sizeof(kKey) - 1);
    if (value.size() < 2 || value.front() != '"') continue;
    size_t end = value.find('"', 1);
    if (end == std::string::npos) continue;
    std::string raw = value.substr(1, end - 1);
    std::string path;
    if (raw.compare(0, 5, "$HOME") == 0 && (raw.size() == 5 || raw[5] == '/')) {
      if (home.empty()) continue;
      path = home + raw.substr(5);
    } else if (!raw.empty() && raw[0] == '/') {
      path = raw;
    } else {
      continue;
    }
    // Backslash escapes the next character, as in the shell's quotes.
    std::string plain;
    for (size_t k = 0; k < path.size(); ++k) {
      if (path[k] == '\\' && k + 1 < path.size()) ++k;
      plain += path[k];
    }
    found = plain;  // the last assignment wins, as when the file is sourced
  }
  while (found.size() > 1 && found.back() == '/') found.pop_back();
  return found;
}

}  // namespace

std::string PicturesFolder() {
  std::string home = HomeFolder();
  std::string config;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') config = xdg;
  else if (!home.empty()) config = home + "/.config";
  if (!config.empty()) {
    std::string pictures = ConfiguredPictures(config + "/user-dirs.dirs", home);
    if (IsFolder(pictures)) return pictures;
  }
  if (!home.empty() && IsFolder(home + "/Pictures")) return home + "/Pictures";
  return home;
}

std::string CreateFreeFile(const std::string& folder, const std::string& name, int* fd_out) {
  std::string ext = FileNameExtension(name);
  std::string base = ext.empty() ? name : name.substr(0, name.size() - ext.size() - 1);
  std::string dot_ext = ext.empty() ? std::string() : "." + ext;
  std::string dir = folder;
  if (dir.empty() || dir.back() != '/') dir += '/';
  for (int n = 1; n <= 9999; ++n) {
    std::string path = dir + (n == 1 ? name : base + " (" + std::to_string(n) + ")" + dot_ext);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      if (fd_out) *fd_out = fd;
      else close(fd);
      return path;
    }
    if (errno != EEXIST) return {};
  }
  errno = EEXIST;
  return {};
}

TSaveFileAnswer TFallbackChooser::Choose(const TSaveFileRequest& request) {
  TSaveFileAnswer answer;
  std::string folder = IsFolder(request.folder) ? request.folder : PicturesFolder();
  if (folder.empty()) {
    answer.outcome = TSaveFileOutcome::kFailed;
    answer.message = "There is no pictures or home folder to save into.";
    return answer;
  }
  std::string name = SafeProposedName(request.proposed_name, "Slide");
  int fd = -1;
  std::string path = CreateFreeFile(folder, name, &fd);
  if (path.empty()) {
    answer.outcome = TSaveFileOutcome::kFailed;
    answer.message = "Cannot create a file in " + folder + ": " + std::strerror(errno);
    return answer;
  }
  answer.outcome = TSaveFileOutcome::kChosen;
  answer.path = path;
  answer.created = std::make_shared<TCreatedFile>(fd);
  answer.message = "No file chooser is available on this desktop. The slide is saved as " + path;
  return answer;
}

}  // namespace kav::dialogs
