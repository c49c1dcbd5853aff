// kavseeds: writes the small seed corpus of the fuzz targets (test tool).
//
//   kavseeds CORPUS_DIR     (writes CORPUS_DIR/inflate/* and CORPUS_DIR/container/*)
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "KavPacker.h"

namespace fs = std::filesystem;
using namespace kav::packer;

static std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

static std::vector<uint8_t> Wrapped(const std::vector<uint8_t>& data) {
  uLongf n = compressBound(data.size());
  std::vector<uint8_t> out(n);
  compress2(out.data(), &n, data.data(), data.size(), 9);
  out.resize(n);
  return out;
}

static Entry Make(const std::string& name, const std::string& data, int method) {
  Entry e;
  e.name = name;
  e.data = Bytes(data);
  e.method = method;
  return e;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kavseeds CORPUS_DIR\n");
    return 2;
  }
  const fs::path root = argv[1];
  fs::create_directories(root / "inflate");
  fs::create_directories(root / "container");
  auto put = [&](const char* dir, const char* name, const std::vector<uint8_t>& b) {
    if (!WriteFileBytes((root / dir / name).string(), b)) std::fprintf(stderr, "cannot write %s\n", name);
  };

  const std::string text = "[Main]\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\nSlides=3\r\n";
  auto raw = RawDeflate(Bytes(text));
  put("inflate", "raw_text", raw);
  put("inflate", "zlib_text", Wrapped(Bytes(text)));
  put("inflate", "raw_truncated", std::vector<uint8_t>(raw.begin(), raw.begin() + raw.size() / 2));
  put("inflate", "raw_stored_block", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'});
  put("inflate", "raw_repeats", RawDeflate(std::vector<uint8_t>(3000, 'x')));

  const std::vector<Entry> entries = {Make("Project.kav", text, kDeflated), Make("a[1].jpg", "JPEGDATA", kStored),
                                      Make("a\x01" "b", "enciphered bytes", kEnciphered)};
  Options o;
  put("container", "short_three_methods", Pack(entries, o));
  o.trailer = Trailer::kLong;
  o.host = Bytes("\x7F" "ELF host program bytes");
  o.host_entry = true;
  put("container", "long_with_host", Pack(entries, o));
  o.trailer = Trailer::kLongBase0;
  put("container", "long_base0", Pack(entries, o));
  o.trailer = Trailer::kLong;
  o.recorded_host_size = 4;
  o.allowmodify = "1";
  put("container", "moved_allowmodify", Pack(entries, o));
  o.allowmodify.reset();
  put("container", "moved_modified", Pack(entries, o));
  Options hostile;
  std::vector<Entry> bad = entries;
  bad[1].ps_text = "9223372036854775807";
  bad[2].sz_text = "-5";
  put("container", "hostile_windows", Pack(bad, hostile));
  auto cut = Pack(entries, hostile);
  cut.erase(cut.end() - 30, cut.end() - 12);  // the directory loses bytes
  put("container", "truncated_directory", cut);
  return 0;
}
