// kavpack: writes a packed show from a folder (test tool).
//
//   kavpack [--long | --long-base0] [--host FILE] [--method 0|1|2] OUT FOLDER
//
// Every regular file under FOLDER becomes an entry named by its path relative
// to FOLDER with backslashes, stored by the given method (default 1).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "KavPacker.h"

namespace fs = std::filesystem;
using namespace kav::packer;

static std::vector<uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int main(int argc, char** argv) {
  Options options;
  int method = kDeflated;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    if (!std::strcmp(argv[i], "--long")) options.trailer = Trailer::kLong;
    else if (!std::strcmp(argv[i], "--long-base0")) options.trailer = Trailer::kLongBase0;
    else if (!std::strcmp(argv[i], "--host") && i + 1 < argc) options.host = ReadBytes(argv[++i]);
    else if (!std::strcmp(argv[i], "--method") && i + 1 < argc) method = std::atoi(argv[++i]);
    else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (argc - i != 2) {
    std::fprintf(stderr, "usage: kavpack [--long|--long-base0] [--host FILE] [--method N] OUT FOLDER\n");
    return 2;
  }
  const fs::path folder = argv[i + 1];
  std::vector<Entry> entries;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    std::string name = fs::relative(e.path(), folder).string();
    for (char& c : name) if (c == '/') c = '\\';
    Entry entry;
    entry.name = name;
    entry.data = ReadBytes(e.path());
    entry.method = method;
    entries.push_back(std::move(entry));
  }
  options.host_entry = !options.host.empty();
  if (!WriteFileBytes(argv[i], Pack(entries, options))) {
    std::fprintf(stderr, "cannot write %s\n", argv[i]);
    return 1;
  }
  return 0;
}
