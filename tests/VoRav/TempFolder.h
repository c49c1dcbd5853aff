// A fresh folder under the system's temporary folder for one test, removed
// with everything in it afterwards. Built on std::filesystem so the code
// under test does not check itself.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "VoRav/vxUTF8.h"

namespace kav::test {

class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavtest-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TTempFolder() {
    std::error_code ec;
    // Give back write permission first, so read-only folders go too.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      if (!it->is_symlink()) std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                                          std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  // The Linux path of a name inside ("" for the folder itself).
  std::string Sys(const std::string& name = "") const { return name.empty() ? path_ : path_ + "/" + name; }
  // The same as wide text, the form the code under test takes.
  std::u16string Wide(const std::string& name = "") const { return SystemUTF8ToWide(Sys(name)); }

  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(Sys(name)).parent_path());
    std::ofstream(Sys(name), std::ios::binary) << bytes;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(Sys(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& name) const {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(Sys(name), ec));
  }

 private:
  std::string path_;
};

}  // namespace kav::test
