// kavbigentry: packs a folder with entries made large (test tool). Every
// file of FOLDER becomes a deflated entry named by its path below the folder
// (backslashes), as kavpack names it; each entry NAME holds its file's bytes
// followed by zeros up to SIZE bytes, deflated without ever holding or
// deflating the zeros (RawDeflateZeros), so a package of a few MB holds
// entries of many GiB. The folder's files are held in memory while packing.
//
//   kavbigentry OUT.kvshow FOLDER NAME SIZE [NAME SIZE]...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "KavPacker.h"

namespace fs = std::filesystem;
using namespace kav::packer;

namespace {

std::vector<uint8_t> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: kavbigentry OUT.kvshow FOLDER NAME SIZE [NAME SIZE]...\n");
    return 2;
  }
  const fs::path folder = argv[2];
  std::map<std::string, long long> large;
  for (int i = 3; i + 1 < argc; i += 2) large[argv[i]] = std::atoll(argv[i + 1]);
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::vector<Entry> entries;
  for (const fs::path& path : files) {
    Entry e;
    e.name = path.lexically_relative(folder).string();
    std::replace(e.name.begin(), e.name.end(), '/', '\\');
    e.method = kDeflated;
    e.data = FileBytes(path);
    if (auto it = large.find(e.name); it != large.end()) {
      e.data = RawDeflateZeros(e.data, it->second);
      e.predeflated = true;
      large.erase(it);
    }
    entries.push_back(std::move(e));
  }
  if (!large.empty()) {
    std::fprintf(stderr, "kavbigentry: no file \"%s\" in the folder\n", large.begin()->first.c_str());
    return 1;
  }
  if (!WriteFileBytes(argv[1], Pack(entries, Options{}))) {
    std::fprintf(stderr, "kavbigentry: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
