#include "KavPacker.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

namespace kav::packer {

namespace {

void PutInt64(std::vector<uint8_t>& out, int64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}

void PutText(std::vector<uint8_t>& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

// The stored bytes of an entry, as its method writes them.
std::vector<uint8_t> Payload(const Entry& e, const std::string& key) {
  if (e.method == kDeflated) return RawDeflate(e.data);
  if (e.method == kEnciphered) return Encipher(e.data, key);
  return e.data;
}

struct Placed {
  std::vector<std::vector<uint8_t>> payloads;
  std::vector<int64_t> offsets;  // within the package
  int64_t directory_offset = 0;
};

Placed Place(const std::vector<Entry>& entries, const Options& o) {
  Placed p;
  int64_t at = 0;
  for (const Entry& e : entries) {
    p.payloads.push_back(Payload(e, o.key));
    p.offsets.push_back(at);
    at += static_cast<int64_t>(p.payloads.back().size());
  }
  p.directory_offset = at;
  return p;
}

int64_t Recorded(const Options& o) {
  return o.recorded_host_size.value_or(static_cast<int64_t>(o.host.size()));
}

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

std::string Directory(const std::vector<Entry>& entries, const Options& o, const Placed& p) {
  if (o.directory_text) return *o.directory_text;
  const int64_t base = Recorded(o);
  std::string text = "\xEF\xBB\xBF";
  if (o.host_entry) {
    const std::string zero = "0";
    Section(text, o.host_name, "0", std::to_string(o.host.size()), &zero);
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const std::string pm = std::to_string(e.method);
    Section(text, e.name, e.ps_text.value_or(std::to_string(base + p.offsets[i])),
            e.sz_text.value_or(std::to_string(p.payloads[i].size())), e.write_pm ? &pm : nullptr);
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

std::vector<uint8_t> Encipher(std::vector<uint8_t> data, const std::string& key) {
  for (size_t i = 0; i < data.size(); ++i) data[i] ^= static_cast<uint8_t>(key[i % key.size()]);
  return data;
}

std::string DirectoryText(const std::vector<Entry>& entries, const Options& options) {
  return Directory(entries, options, Place(entries, options));
}

std::vector<uint8_t> Pack(const std::vector<Entry>& entries, const Options& o) {
  const Placed p = Place(entries, o);
  const int64_t recorded = Recorded(o);
  std::vector<uint8_t> out = o.host;
  for (const auto& payload : p.payloads) out.insert(out.end(), payload.begin(), payload.end());
  const std::string text = Directory(entries, o, p);
  const auto directory = RawDeflate(std::vector<uint8_t>(text.begin(), text.end()));
  out.insert(out.end(), directory.begin(), directory.end());
  const int64_t dir_pos = recorded + p.directory_offset;
  // EndPos as recorded: the package's bytes so far plus DirRel and the marker.
  const int64_t end_rel = p.directory_offset + static_cast<int64_t>(directory.size()) + 12;
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

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace kav::packer
