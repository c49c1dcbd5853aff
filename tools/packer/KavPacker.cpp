#include "KavPacker.h"

#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace kav::packer {

namespace {

void PutInt64(std::vector<uint8_t>& out, int64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}

void PutText(std::vector<uint8_t>& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

// The stored bytes of an entry, as its method writes them.
std::vector<uint8_t> Payload(const Entry& e, const std::string& key) {
  if (e.method == kDeflated) return e.predeflated ? e.data : RawDeflate(e.data);
  if (e.method == kEnciphered) return Encipher(e.data, key);
  return e.data;
}

struct Placed : Placement {
  std::vector<std::vector<uint8_t>> payloads;
};

Placed Place(const std::vector<Entry>& entries, const Options& o) {
  Placed p;
  int64_t at = 0;
  for (const Entry& e : entries) {
    p.payloads.push_back(Payload(e, o.key));
    p.offsets.push_back(at);
    p.sizes.push_back(static_cast<int64_t>(p.payloads.back().size()));
    at += p.sizes.back();
  }
  p.directory_offset = at;
  return p;
}

int64_t Recorded(const Options& o, int64_t host_size) { return o.recorded_host_size.value_or(host_size); }

void Section(std::string& text, const std::string& name, const std::string& ps, const std::string& sz,
             const std::string* pm) {
  auto line = [&text](const char* key, const std::string& value) {
    text.append(key).append(value).append("\r\n");
  };
  text.append("[").append(EscapeName(name)).append("]\r\n");
  if (!ps.empty()) line("_ps=", ps);
  if (!sz.empty()) line("_sz=", sz);
  if (pm) line("_pm=", *pm);
  text.append("\r\n");
}

// The directory text for entries placed at `p` (only their names, methods
// and texts are read, never their data), after a host of `host_size` bytes.
std::string Directory(const std::vector<Entry>& entries, const Options& o, const Placement& p, int64_t host_size) {
  if (o.directory_text) return *o.directory_text;
  const int64_t base = Recorded(o, host_size);
  std::string text = "\xEF\xBB\xBF";
  if (o.host_entry) {
    const std::string zero = "0";
    Section(text, o.host_name, "0", std::to_string(host_size), &zero);
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const std::string pm = std::to_string(e.method);
    Section(text, e.name, e.ps_text.value_or(std::to_string(base + p.offsets[i])),
            e.sz_text.value_or(std::to_string(p.sizes[i])), e.write_pm ? &pm : nullptr);
  }
  if (o.protection) {
    text += "[$protection$]\r\n";
    const std::string strucpos = o.strucpos.value_or(std::to_string(base + p.directory_offset));
    if (!strucpos.empty()) text.append("strucpos=").append(strucpos).append("\r\n");
    if (o.allowmodify) text.append("allowmodify=").append(*o.allowmodify).append("\r\n");
    text.append("kavversion=").append(o.kavversion).append("\r\n");
  }
  text.append(o.extra_directory_text);
  return text;
}

// What follows the entries: the deflated directory and the trailer.
std::vector<uint8_t> Tail(const std::vector<Entry>& entries, const Options& o, const Placement& p, int64_t host_size) {
  const int64_t recorded = Recorded(o, host_size);
  const std::string text = Directory(entries, o, p, host_size);
  std::vector<uint8_t> out = RawDeflate(std::vector<uint8_t>(text.begin(), text.end()));
  const int64_t dir_pos = recorded + p.directory_offset;
  // EndPos as recorded: the package's bytes so far plus DirRel and the marker.
  const int64_t end_rel = p.directory_offset + static_cast<int64_t>(out.size()) + 12;
  switch (o.trailer) {
    case Trailer::kShort:
      PutInt64(out, dir_pos);
      PutText(out, ".dne");
      break;
    case Trailer::kLong:
      PutInt64(out, p.directory_offset);
      PutText(out, ".dne");
      PutInt64(out, end_rel);
      break;
    case Trailer::kLongBase0:
      PutInt64(out, dir_pos);
      PutText(out, ".dne");
      PutInt64(out, recorded + end_rel);
      break;
  }
  return out;
}

}  // namespace

std::string EscapeName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (c == '[') out += '<';
    else if (c == ']') out += '>';
    else if (c < 32) {
      out += '#';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else out += static_cast<char>(c);
  }
  return out;
}

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& data) {
  z_stream zs{};
  if (deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::vector<uint8_t> out(deflateBound(&zs, data.size()));
  zs.next_in = const_cast<uint8_t*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

std::vector<uint8_t> RawDeflateZeros(const std::vector<uint8_t>& head, int64_t total) {
  z_stream zs{};
  if (deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::vector<uint8_t> out;
  // Feeds `n` bytes with `flush`; the output goes on the end of `out`.
  auto feed = [&](const uint8_t* data, size_t n, int flush) {
    zs.next_in = const_cast<uint8_t*>(data);
    zs.avail_in = static_cast<uInt>(n);
    uint8_t piece[65536];
    int rc;
    do {
      zs.next_out = piece;
      zs.avail_out = sizeof piece;
      rc = deflate(&zs, flush);
      if (rc == Z_STREAM_ERROR) throw std::runtime_error("deflate");
      out.insert(out.end(), piece, piece + (sizeof piece - zs.avail_out));
    } while (zs.avail_out == 0 || zs.avail_in > 0);
    if (flush == Z_FINISH && rc != Z_STREAM_END) throw std::runtime_error("deflate");
  };
  // A full flush ends each piece on a byte with the history forgotten: the
  // next MiB of zeros deflates to the same bytes wherever it stands.
  feed(head.data(), head.size(), Z_FULL_FLUSH);
  constexpr int64_t kMiB = 1 << 20;
  int64_t rest = std::max<int64_t>(total - static_cast<int64_t>(head.size()), 0);
  const std::vector<uint8_t> zeros(static_cast<size_t>(std::min(rest, kMiB)));
  if (rest >= kMiB) {
    const size_t at = out.size();
    feed(zeros.data(), zeros.size(), Z_FULL_FLUSH);
    const std::vector<uint8_t> block(out.begin() + static_cast<std::ptrdiff_t>(at), out.end());
    for (rest -= kMiB; rest >= kMiB; rest -= kMiB) out.insert(out.end(), block.begin(), block.end());
  }
  feed(zeros.data(), static_cast<size_t>(rest), Z_FINISH);
  deflateEnd(&zs);
  return out;
}

std::vector<uint8_t> Encipher(std::vector<uint8_t> data, const std::string& key) {
  for (size_t i = 0; i < data.size(); ++i) data[i] ^= static_cast<uint8_t>(key[i % key.size()]);
  return data;
}

std::string DirectoryText(const std::vector<Entry>& entries, const Options& options) {
  return Directory(entries, options, Place(entries, options), static_cast<int64_t>(options.host.size()));
}

std::vector<uint8_t> Pack(const std::vector<Entry>& entries, const Options& o) {
  const Placed p = Place(entries, o);
  std::vector<uint8_t> out = o.host;
  for (const auto& payload : p.payloads) out.insert(out.end(), payload.begin(), payload.end());
  const auto tail = Tail(entries, o, p, static_cast<int64_t>(o.host.size()));
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

namespace {

// The piece the writer reads, and the piece it hands to the file.
constexpr size_t kPiece = size_t(1) << 20;

std::string SystemError(int error) { return std::strerror(error != 0 ? error : EIO); }

}  // namespace

StreamWriter::StreamWriter(int fd, Options options) : fd_(fd), options_(std::move(options)), in_(kPiece), out_(kPiece) {
  options_.host.clear();
}

StreamWriter::~StreamWriter() = default;

bool StreamWriter::AddHost(const std::string& path) {
  if (!entries_.empty()) throw std::logic_error("the host goes before every entry");
  const int64_t at = total_;
  if (!Copy(path, kStored)) return false;
  host_size_ += total_ - at;
  return true;
}

bool StreamWriter::AddFile(const std::string& name, const std::string& path, int method) {
  const int64_t at = total_;
  if (!Copy(path, method)) return false;
  Entry entry;
  entry.name = name;
  entry.method = method;
  entries_.push_back(std::move(entry));
  placed_.offsets.push_back(at - host_size_);
  placed_.sizes.push_back(total_ - at);
  return true;
}

bool StreamWriter::Finish() {
  placed_.directory_offset = total_ - host_size_;
  const std::vector<uint8_t> tail = Tail(entries_, options_, placed_, host_size_);
  return Put(tail.data(), tail.size()) && Flush();
}

bool StreamWriter::Put(const uint8_t* data, size_t size) {
  while (size > 0) {
    if (out_used_ == out_.size() && !Flush()) return false;
    const size_t n = std::min(size, out_.size() - out_used_);
    std::memcpy(out_.data() + out_used_, data, n);
    out_used_ += n;
    total_ += static_cast<int64_t>(n);
    data += n;
    size -= n;
  }
  return true;
}

bool StreamWriter::Flush() {
  size_t done = 0;
  while (done < out_used_) {
    const ssize_t n = ::write(fd_, out_.data() + done, out_used_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      write_error_ = n == 0 ? ENOSPC : errno;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  out_used_ = 0;
  return true;
}

// Feeds the bytes (none, with `finish`) through the deflater into the output.
bool StreamWriter::Deflate(z_stream& zs, const uint8_t* data, size_t size, bool finish) {
  zs.next_in = const_cast<uint8_t*>(data);
  zs.avail_in = static_cast<uInt>(size);
  for (;;) {
    if (out_used_ == out_.size() && !Flush()) return false;
    zs.next_out = out_.data() + out_used_;
    zs.avail_out = static_cast<uInt>(out_.size() - out_used_);
    const int rc = deflate(&zs, finish ? Z_FINISH : Z_NO_FLUSH);
    const size_t made = out_.size() - out_used_ - zs.avail_out;
    out_used_ += made;
    total_ += static_cast<int64_t>(made);
    if (rc == Z_STREAM_END) return true;
    if (rc != Z_OK && rc != Z_BUF_ERROR) throw std::runtime_error("deflate");
    // Everything taken and room left over: the deflater waits for more input.
    if (!finish && zs.avail_in == 0 && zs.avail_out > 0) return true;
  }
}

// Reads the file piece by piece and puts out its bytes as `method` stores
// them: deflated, enciphered, or (any other value) as they are.
bool StreamWriter::Copy(const std::string& path, int method) {
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error_ = "cannot read \"" + path + "\": " + SystemError(errno);
    return false;
  }
  z_stream zs{};
  if (method == kDeflated && deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    ::close(fd);
    throw std::runtime_error("deflateInit2");
  }
  bool ok = true;
  int64_t position = 0;  // within the entry: the cipher's key runs from its start
  for (bool end = false; ok && !end;) {
    const ssize_t n = ::read(fd, in_.data(), in_.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error_ = "cannot read \"" + path + "\": " + SystemError(errno);
      ok = false;
      break;
    }
    end = n == 0;
    const size_t size = static_cast<size_t>(n);
    if (method == kDeflated) {
      ok = Deflate(zs, in_.data(), size, end);
      continue;
    }
    if (method == kEnciphered) {
      const std::string& key = options_.key;
      for (size_t i = 0; i < size; ++i)
        in_[i] ^= static_cast<uint8_t>(key[static_cast<size_t>((position + int64_t(i)) % int64_t(key.size()))]);
    }
    ok = Put(in_.data(), size);
    position += n;
  }
  if (method == kDeflated) deflateEnd(&zs);
  ::close(fd);
  return ok;
}

}  // namespace kav::packer
