#include "KavLib2/KavViewer/KavUnpack.h"

#include <algorithm>
#include <cstring>

#include "KavLib2/KavViewer/KavShowNames.h"
#include "KavLib2/KavViewer/KavZStream.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxStreamUtils.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpFileStream.h"
#include "VoRav/wpLoadCallBack.h"

namespace kav {

namespace {

// The cipher key of method-2 entries.
constexpr char kKeyText[] = "7E3B90D14C6F2A58B1E07D9364AC2F85";
constexpr char kMarker[4] = {'.', 'd', 'n', 'e'};
constexpr int64_t kInflateBlock = 65536;

// Reads the int64 or the marker at `at`; false when it is not all there.
bool ReadAt(TStream* s, int64_t at, void* out, int64_t n) {
  s->SetPosition(at);
  return s->Read(std::span<uint8_t>(static_cast<uint8_t*>(out), static_cast<size_t>(n)), n) == n;
}

bool MarkerAt(TStream* s, int64_t at) {
  char m[4];
  return at >= 0 && ReadAt(s, at, m, 4) && std::memcmp(m, kMarker, 4) == 0;
}

int64_t Int64At(TStream* s, int64_t at) {
  uint8_t b[8];
  if (!ReadAt(s, at, b, 8)) throw EStreamReadError();
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  return static_cast<int64_t>(v);
}

// A whole decimal integer with an optional sign; false for anything else,
// including a value outside the 64-bit range.
bool ParseInt64(std::string_view text, int64_t& value) {
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  if (text.empty()) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, negative ? '0' - c : c - '0', &v))
      return false;
  }
  value = v;
  return true;
}

bool KeyInt64(TIniList* section, std::string_view key, int64_t& value) {
  TIniItem* item = section->FindKeyByBytes(key);
  return item && ParseInt64(item->GetValueBytes(), value);
}

// Inflates the whole window into memory; nil when it inflates to more than
// `cap` bytes.
Ref<TStream> InflateWhole(TStream* window, int64_t cap) {
  auto inflate = MakeRef<TInflateStream>(window);
  auto out = MakeRef<TMemoryStream>();
  std::vector<uint8_t> block(kInflateBlock);
  while (int64_t n = inflate->Read(block, kInflateBlock)) {
    if (out->GetSize() + n > cap) return nullptr;
    if (out->Write(block, n) < n) throw EStreamWriteError();
  }
  out->SetPosition(0);
  return out;
}

// The same for an entry that is held only when it is small: nil as soon as
// the ratio of what has come out to the stored bytes taken in so far says
// that the whole of the window's `stored` bytes inflates to more than
// `cap`, so that a large entry is not inflated far into memory only to be
// streamed from its start after all. The guess decides only how the entry
// is read: one it sends to the streamed reader reads the same bytes.
Ref<TStream> InflateHeld(TStream* window, int64_t cap, int64_t stored) {
  constexpr int64_t kGuessAfter = 1 << 20;
  auto inflate = MakeRef<TInflateStream>(window);
  auto out = MakeRef<TMemoryStream>();
  std::vector<uint8_t> block(kInflateBlock);
  while (int64_t n = inflate->Read(block, kInflateBlock)) {
    const int64_t made = out->GetSize() + n;
    // Stored bytes taken so far: the window's position (the inflater reads
    // ahead by at most one block, which only makes the guess smaller).
    const int64_t taken = std::max<int64_t>(window->GetPosition(), 1);
    if (made > cap || (made > kGuessAfter && double(made) * double(stored) > double(cap) * double(taken)))
      return nullptr;
    if (out->Write(block, n) < n) throw EStreamWriteError();
  }
  out->SetPosition(0);
  return out;
}

// Whether a character of an entry name is written otherwise in its section name.
bool EscapedInSection(char16_t c) { return c < 32 || c == u'[' || c == u']'; }

void CallLoadCallbackFor(void* sender, TStream*) { CallLoadCallback(static_cast<TRefObject*>(sender)); }

// The package file: an existing file, read access, others may read.
Ref<TStream> OpenPackageFile(const std::u16string& path) {
  return MakeRef<TFileStream>(path, kGenericRead, kFileShareRead, kOpenExisting);
}

}  // namespace

// ---- TUnpackStruc ----

TUnpackStruc::TUnpackStruc(TStream* stream) : ini_(MakeRef<TIniFile>()) {
  if (!ini_->LoadFrom(stream)) throw EStreamReadError("Packed directory cannot be read");
}

void TUnpackStruc::Dispose() {
  ini_ = nullptr;
  TRefObject::Dispose();
}

// ---- TKavUnpack ----

TKavUnpack::TKavUnpack(const std::u16string& path) : file_name_(path), key_text_(kKeyText) {
  try {
    file_ = OpenPackageFile(path);
  } catch (const Exception&) {
    file_ = nullptr;
  }
  if (!file_) {
    error_text_ = kShowNotFound;
    return;
  }
  if (!ReadDirectory()) Close();
}

TKavUnpack::TKavUnpack(Ref<TStream> file) : file_(std::move(file)), key_text_(kKeyText) {
  if (!file_ || !ReadDirectory()) Close();
}

void TKavUnpack::Dispose() {
  Close();
  TRefObject::Dispose();
}

void TKavUnpack::Close() {
  entries_by_key_.clear();
  {
    std::lock_guard<std::mutex> hold(kept_lock_);
    kept_indexes_.clear();
  }
  directory_ = nullptr;
  file_ = nullptr;
}

bool TKavUnpack::ReadDirectory() {
  TStream* s = file_.get();
  int64_t dir_pos = 0;
  try {
    // Trailer: the short form wins when both markers are there.
    const int64_t size = s->GetSize();
    file_size_ = size;
    int64_t base = 0;
    if (size >= 4 && MarkerAt(s, size - 4)) {
      end_position_ = size;
    } else if (size >= 12 && MarkerAt(s, size - 12)) {
      end_position_ = size - 8;
      const int64_t v = Int64At(s, size - 8);
      if (__builtin_sub_overflow(end_position_, v, &base) || base < 0 || base > end_position_) {
        error_text_ = kShowDamaged;
        return false;
      }
    } else {
      return false;  // no package: the caller reports its own message
    }
    if (end_position_ < 12) {  // no room for the directory position
      error_text_ = kShowDamaged;
      return false;
    }
    const int64_t dir_rel = Int64At(s, end_position_ - 12);
    if (__builtin_add_overflow(dir_rel, base, &dir_pos) || dir_pos < 0 || dir_pos > end_position_ - 12) {
      error_text_ = kShowDamaged;
      return false;
    }
    Ref<TStream> dir = OpenEntryStream(s, kPackStored, false, key_text_, dir_pos, end_position_ - 12 - dir_pos);
    Ref<TStream> text = InflateWhole(dir.get(), kMaxDirectorySize);
    if (!text) throw EZDecompressionError(kInflatedSizeLimitText);
    directory_ = MakeRef<TUnpackStruc>(text.get());
  } catch (const Exception&) {
    // Truncated, corrupt or oversized directory data.
    error_text_ = kShowDamaged;
    return false;
  }

  TIniList* protection = directory_->Ini()->FindSection(u"$protection$");
  TIniItem* strucpos = protection ? protection->FindKey(u"strucpos") : nullptr;
  const std::string recorded = strucpos ? strucpos->GetValueBytes() : std::string();
  if (!recorded.empty() && recorded != std::to_string(dir_pos)) {
    TIniItem* allow = protection->FindKey(u"allowmodify");
    if (!(allow && allow->GetBool(false))) {
      error_text_ = kShowModified;
      return false;
    }
    // A negative recorded position is allowed (entries then move further
    // on); only a shift that does not fit 64 bits is damage. Entry windows
    // are checked against the file either way.
    int64_t at = 0;
    if (!ParseInt64(recorded, at) || at > dir_pos || __builtin_sub_overflow(dir_pos, at, &entry_shift_)) {
      entry_shift_ = 0;
      error_text_ = kShowDamaged;
      return false;
    }
  }
  TIniItem* version = protection ? protection->FindKey(u"kavversion") : nullptr;
  try {
    version_ = version ? UTF8Decode(version->GetValueBytes()) : std::u16string();
  } catch (const Exception&) {
    version_.clear();  // not UTF-8: no version
  }
  return true;
}

bool TKavUnpack::GetEntry(std::u16string_view name, int64_t& position, int32_t& method, int64_t& size) const {
  if (!IsOpen() || !directory_ || name.empty()) return false;
  // Most names need no escaping: they are looked up as they are.
  const bool plain = std::none_of(name.begin(), name.end(), EscapedInSection);
  const std::u16string escaped = plain ? std::u16string() : EscapeSectionName(name);
  const std::u16string_view section_name = plain ? name : std::u16string_view(escaped);
  TIniList* section = directory_->Ini()->FindSection(section_name);
  if (!section) {
    // Departure: a show names its files in any of the forms a folder takes
    // (either separator, ".", doubled separators, another case or Unicode
    // normal form), so the package finds them by the same rule; the exact
    // section, as packages of other tools name it, is looked up first.
    // The index is made on the first such look-up: most shows name their
    // files as they are packed, and the keys cost more than the directory.
    std::call_once(entries_indexed_, [this] {
      TIniFile* ini = directory_->Ini();
      for (int32_t i = 0; i < ini->Count(); ++i)
        if (auto* s = dynamic_cast<TIniSection*>(ini->GetItem(i))) {
          std::u16string key = ShowNameMatchKey(s->GetName());
          if (!key.empty()) entries_by_key_.try_emplace(std::move(key), s);
        }
    });
    auto it = entries_by_key_.find(ShowNameMatchKey(section_name));
    if (it == entries_by_key_.end()) return false;
    section = it->second;
  }
  int64_t ps = 0, sz = 0, at = 0;
  if (!KeyInt64(section, "_ps", ps) || !KeyInt64(section, "_sz", sz)) return false;
  // The window must lie inside the file: 0 <= at, 0 <= sz, at + sz <= size.
  if (__builtin_add_overflow(ps, entry_shift_, &at) || at < 0 || sz < 0 || at > file_size_ || sz > file_size_ - at)
    return false;
  TIniItem* pm = section->FindKeyByBytes("_pm");
  position = at;
  size = sz;
  method = pm ? pm->GetInteger(0) : 0;
  return true;
}

Ref<TStream> TKavUnpack::OpenFile() const {
  if (!IsOpen() || file_name_.empty()) return nullptr;
  try {
    return OpenPackageFile(file_name_);
  } catch (const Exception&) {
    return nullptr;
  }
}

Ref<TStream> TKavUnpack::OpenEntryStream(TStream* file, int32_t method, bool owns, const std::string& key,
                                         int64_t start, int64_t size, const TKavUnpack* keeper,
                                         int64_t held_limit, std::u16string_view name) {
  if (!file) return nullptr;
  auto window = MakeRef<TPartialStream>(file, owns, start, size);
  if (method == kPackDeflated) {
    // Departure: one inflating past the held limit is inflated where read, not held, so long sounds and clips play;
    // its damage raises where it is read, not at the open.
    // An entry already streamed (its index kept) is streamed again. Deflate
    // data more than twice the limit inflate to more (stored blocks add 5
    // bytes in 65,535): they are not tried in memory first.
    Ref<TInflateIndex> index = keeper ? keeper->KeptIndex(start, size, name, false) : nullptr;
    if (!index) {
      window->SetPosition(0);
      if (size <= 2 * held_limit)
        if (Ref<TStream> held = InflateHeld(window.get(), held_limit, size)) return held;
      if (keeper) index = keeper->KeptIndex(start, size, name, true);
    }
    window->SetPosition(0);
    if (!index) return MakeRef<TSeekableInflateStream>(window.get(), kMaxInflatedEntrySize);
    // Data a stream found damaged or too large are refused from then on.
    if (const std::string failure = index->Failure(); !failure.empty()) throw EZDecompressionError(failure);
    return MakeRef<TSeekableInflateStream>(window.get(), kMaxInflatedEntrySize, index.get());
  }
  if (method == kPackEnciphered) return MakeRef<TCryptStream>(window.release(), key, true);
  return window;
}

Ref<TInflateIndex> TKavUnpack::KeptIndex(int64_t start, int64_t size, std::u16string_view name, bool make) const {
  std::lock_guard<std::mutex> hold(kept_lock_);
  const std::pair<int64_t, int64_t> at(start, size);
  if (auto it = kept_indexes_.find(at); it != kept_indexes_.end()) return it->second;
  if (!make) return nullptr;
  auto index = MakeRef<TInflateIndex>();
  index->SetName(std::u16string(name));
  if (kept_indexes_.size() < kMaxKeptIndexes) kept_indexes_.emplace(at, index);
  return index;
}

Ref<TStream> TKavUnpack::OpenEntry(std::u16string_view name, TRefObject* sender) const {
  int64_t position = 0, size = 0;
  int32_t method = 0;
  if (!GetEntry(name, position, method, size)) return nullptr;
  Ref<TStream> file = OpenFile();
  if (!file) return nullptr;
  Ref<TStream> entry = OpenEntryStream(file.release(), method, true, key_text_, position, size, this,
                                       kMaxHeldEntrySize, name);
  // The piece-by-piece reads call the loading callback through a window: the
  // one inside a cipher stream, the entry's own, or a new one over memory.
  TPartialStream* window = nullptr;
  if (auto* crypt = dynamic_cast<TCryptStream*>(entry.get())) {
    window = dynamic_cast<TPartialStream*>(crypt->Source());
  } else if (entry->GetKnownSize() < 0) {
    // A large deflated entry, whose size is not known before it is read through.
    auto whole = MakeRef<TChunkedStream>(entry.release());
    whole->SetChunkCallback(32768, TChunkCallback::FromFunction(&CallLoadCallbackFor, sender));
    return whole;
  } else if (!(window = dynamic_cast<TPartialStream*>(entry.get()))) {
    const int64_t length = entry->GetSize();
    auto wrap = MakeRef<TPartialStream>(entry.release(), true, 0, length);
    window = wrap.get();
    entry = std::move(wrap);
  }
  if (window) window->SetChunkCallback(32768, TChunkCallback::FromFunction(&CallLoadCallbackFor, sender));
  return entry;
}

bool ReadPackedShowVersion(const std::u16string& path, std::u16string& version) {
  try {
    auto unpack = MakeRef<TKavUnpack>(path);
    if (!unpack->IsOpen()) return false;
    version = unpack->Version();
    return true;
  } catch (...) {
    return false;
  }
}

std::u16string EscapeSectionName(std::u16string_view name) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out;
  out.reserve(name.size());
  for (char16_t c : name) {
    if (!EscapedInSection(c)) out += c;
    else if (c == u'[') out += u'<';
    else if (c == u']') out += u'>';
    else {
      out += u'#';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace kav
