// The packer: writes packed shows for the tests and benchmarks, and for
// kavpack (StreamWriter). It is not part of the player; it knows the package
// layout independently of the reader so that the two check each other.
//
// Layout written: [host bytes][entry data...][raw-deflate directory][trailer]
// Short trailer: DirPos (int64) ".dne". Long trailer: DirRel (int64) ".dne"
// V (int64), with Base = EndPos - V.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <zlib.h>

namespace kav::packer {

// The cipher key of method-2 entries.
inline constexpr char kDefaultKey[] = "7E3B90D14C6F2A58B1E07D9364AC2F85";

enum Method : int { kStored = 0, kDeflated = 1, kEnciphered = 2 };

struct Entry {
  std::string name;            // UTF-8; escaped into the section name
  std::vector<uint8_t> data;
  int method = kStored;        // the value written as _pm (other values store the data)
  bool predeflated = false;    // with kDeflated: `data` already are the raw deflate to store
  bool write_pm = true;
  // Texts written in place of the real _ps / _sz; an empty text leaves the key out.
  std::optional<std::string> ps_text;
  std::optional<std::string> sz_text;
};

enum class Trailer {
  kShort,     // DirPos absolute, the last 4 bytes ".dne"
  kLong,      // positions relative to the package's start (Base = host size)
  kLongBase0  // long form with Base 0: DirRel absolute
};

struct Options {
  std::vector<uint8_t> host;   // the program in front of the package
  bool host_entry = false;     // first section names the host itself (_ps 0)
  std::string host_name = "kavplayer";
  Trailer trailer = Trailer::kShort;
  // Positions (_ps, strucpos and, for the short form, DirPos) are computed as
  // if the host had this size; the real host is written all the same.
  std::optional<int64_t> recorded_host_size;
  // The "$protection$" section: absent when false.
  bool protection = true;
  // strucpos: nullopt writes the recorded directory position; "" leaves the
  // key out; any other text is written as it is.
  std::optional<std::string> strucpos;
  std::optional<std::string> allowmodify;  // written as given ("1", "0", ...)
  std::string kavversion = "8.0.1";
  std::string key = kDefaultKey;
  // Written after the generated directory text (raw INI lines).
  std::string extra_directory_text;
  // When set, the directory text used instead of the generated one.
  std::optional<std::string> directory_text;
};

// Escapes an entry name into its section name: "[" -> "<", "]" -> ">",
// bytes below 32 -> "#" and two upper-case hex digits.
std::string EscapeName(const std::string& name);
// Raw deflate (window bits -15) at the best compression.
std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& data);
// Raw deflate of `head` followed by zeros up to `total` bytes, made in time
// and memory proportional to its own size, not to `total`: each MiB of zeros
// is one block that never refers back, so a few MB hold gigabytes (for an
// Entry with predeflated set).
std::vector<uint8_t> RawDeflateZeros(const std::vector<uint8_t>& head, int64_t total);
// XOR with key[(position + i) mod key length], position 0 at the entry's start.
std::vector<uint8_t> Encipher(std::vector<uint8_t> data, const std::string& key);

// The whole file: host, package and trailer.
std::vector<uint8_t> Pack(const std::vector<Entry>& entries, const Options& options);
// The directory text Pack would write (for seeds and inspection).
std::string DirectoryText(const std::vector<Entry>& entries, const Options& options);

// Writes bytes to a file; false on failure.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Writes a package into an open file entry by entry: the host and each
// entry are read, stored and written in pieces of a fixed size, so the
// writer never holds a whole entry and a folder larger than the memory can
// be packed. The bytes are those Pack writes for the same host and entries
// (options.host is not used: AddHost names the host's file).
// Where entries lie in the package (after the host) and their stored sizes.
struct Placement {
  std::vector<int64_t> offsets, sizes;
  int64_t directory_offset = 0;
};

class StreamWriter {
 public:
  // Writes to `fd` from its current position; the descriptor stays the caller's.
  StreamWriter(int fd, Options options);
  ~StreamWriter();
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  // The bytes of the file at `path` in front of the package; before any entry.
  bool AddHost(const std::string& path);
  // The file at `path` as the entry `name`, stored by `method` (as Entry::method).
  bool AddFile(const std::string& name, const std::string& path, int method);
  // The directory and the trailer; then every byte has been handed to the file.
  bool Finish();
  // After a failure to read: what could not be read, and why.
  const std::string& Error() const noexcept { return error_; }
  // After a failure to write: the system's error code (0 after a read failure).
  int WriteError() const noexcept { return write_error_; }

 private:
  bool Copy(const std::string& path, int method);
  bool Put(const uint8_t* data, size_t size);
  bool Flush();
  bool Deflate(z_stream& zs, const uint8_t* data, size_t size, bool finish);

  int fd_;
  Options options_;
  std::vector<Entry> entries_;  // names and methods, no data
  Placement placed_;
  int64_t host_size_ = 0;
  int64_t total_ = 0;  // every byte put out so far, the host's too
  std::vector<uint8_t> in_, out_;
  size_t out_used_ = 0;
  std::string error_;
  int write_error_ = 0;
};

}  // namespace kav::packer
