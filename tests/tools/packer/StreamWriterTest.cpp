// The packer's writer that goes entry by entry: for the same host and files
// it writes the bytes the whole-show writer (Pack) writes, for every method
// and trailer, with entries larger than its pieces; a file it cannot read and
// a file it cannot write are told apart.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "KavPacker.h"
#include "Scratch.h"

using namespace kav::packer;
namespace fs = std::filesystem;

namespace {

// Writes the bytes to the named file of the folder; answers its path.
std::string Put(const TScratch& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  const fs::path p = dir.Path() / name;
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return p.string();
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Text that deflates well but not trivially, `size` bytes.
std::vector<uint8_t> Words(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"sea ", "mountain ", "caf\xC3\xA9 ", "slide ", "show\r\n", "a ", "the "};
  std::vector<uint8_t> out;
  while (out.size() < size) {
    seed = seed * 1103515245u + 12345u;
    const char* w = kWords[(seed >> 16) % 7];
    out.insert(out.end(), w, w + std::char_traits<char>::length(w));
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> Noise(size_t size, uint64_t seed) {
  std::vector<uint8_t> out(size);
  for (uint8_t& b : out) {
    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
    b = static_cast<uint8_t>(seed);
  }
  return out;
}

}  // namespace

TEST(StreamWriter, WritesWhatPackWritesForEveryMethodAndTrailer) {
  TScratch dir;
  ASSERT_FALSE(dir.Path().empty());
  // Larger than the writer's pieces (1 MiB), empty, and small.
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"Project.kav", Words(3000, 1)},
      {"Photos\\big.txt", Words((size_t(2) << 20) + 12345, 2)},
      {"Photos\\noise.bin", Noise((size_t(1) << 20) + 77, 3)},
      {"empty.txt", {}},
      {"Music\\[odd]\x01name", Words(100, 4)}};
  const std::vector<uint8_t> host = Noise(70000, 9);
  const std::string host_path = Put(dir, "host", host);

  struct TCase {
    int method;
    Trailer trailer;
    bool with_host;
  } cases[] = {{kDeflated, Trailer::kShort, false}, {kStored, Trailer::kShort, true},
               {kEnciphered, Trailer::kLong, true}, {kDeflated, Trailer::kLongBase0, true},
               {7, Trailer::kLong, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE("method " + std::to_string(c.method) + " trailer " + std::to_string(int(c.trailer)));
    Options options;
    options.trailer = c.trailer;
    options.host_entry = c.with_host;
    std::vector<Entry> entries;
    const fs::path out = dir.Path() / "out.kvshow";
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    {
      StreamWriter writer(fd, options);
      if (c.with_host) {
        ASSERT_TRUE(writer.AddHost(host_path));
      }
      for (size_t k = 0; k < files.size(); ++k) {
        const std::string path = Put(dir, "in" + std::to_string(k), files[k].second);
        ASSERT_TRUE(writer.AddFile(files[k].first, path, c.method)) << writer.Error();
        Entry e;
        e.name = files[k].first;
        e.data = files[k].second;
        e.method = c.method;
        entries.push_back(std::move(e));
      }
      ASSERT_TRUE(writer.Finish());
    }
    ASSERT_EQ(close(fd), 0);
    if (c.with_host) options.host = host;
    const std::vector<uint8_t> expected = Pack(entries, options);
    const std::vector<uint8_t> written = ReadAll(out);
    ASSERT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
  }
}

TEST(StreamWriter, AFileItCannotReadOrWriteIsToldApart) {
  TScratch dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::string file = Put(dir, "a", Words(2000, 5));
  {
    const int fd = open((dir.Path() / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    StreamWriter writer(fd, Options{});
    const std::string missing = (dir.Path() / "gone").string();
    EXPECT_FALSE(writer.AddFile("gone", missing, kDeflated));
    EXPECT_EQ(writer.Error(), "cannot read \"" + missing + "\": No such file or directory");
    EXPECT_EQ(writer.WriteError(), 0);
    close(fd);
  }
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  StreamWriter writer(full, Options{});
  // Buffered: the failure shows at the latest when the writer finishes.
  const bool added = writer.AddFile("a", file, kStored);
  EXPECT_FALSE(added && writer.Finish());
  EXPECT_EQ(writer.WriteError(), ENOSPC);
  EXPECT_EQ(writer.Error(), "");
  close(full);
}
