// The per-user store behind the registry gate (winRegistry.h): one loaded
// image of the store file, its text form, and the locked load-change-save
// cycle. Used by the gate only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kav::regstore {

struct TValue {
  std::u16string Name;
  uint32_t Type = 0;
  std::vector<uint8_t> Data;
};

struct TKey {
  std::u16string Path;  // full path as first written: root name, "\", subkeys
  std::vector<TValue> Values;
};

// A full key path folded for lookups.
std::u16string Fold(std::u16string_view text);

class TStore {
 public:
  // Keys by folded full path; root keys are implied, never stored.
  std::map<std::u16string, TKey> Keys;

  // Reads the text form; lines that cannot be read are left out. False when
  // the text is not a store at all.
  bool Parse(std::string_view text);
  // The text form of every key whose folded path is `folded_prefix` or lies
  // below it (all keys for an empty prefix).
  std::string Format(const std::u16string& folded_prefix = {}) const;

  TKey* Find(const std::u16string& folded) {
    auto it = Keys.find(folded);
    return it == Keys.end() ? nullptr : &it->second;
  }
  // Whether any key lies below `folded`.
  bool HasSubkeys(const std::u16string& folded) const;
  // The names of the direct subkeys of `folded`, in folded order.
  std::vector<std::u16string> Subkeys(const std::u16string& folded) const;
};

// Runs `change` on the store loaded from its file under the store's lock
// (shared for reads, exclusive for writes); with `write`, saves the store
// when `change` answers 0. Answers `change`'s code, or kErrorAccessDenied
// when the store cannot be locked or written.
int32_t WithStore(bool write, const std::function<int32_t(TStore&)>& change);

// Writes `text` to a new file (never through a link); false when the file
// exists (errno EEXIST) or cannot be written.
bool WriteNewFile(const std::string& path, std::string_view text);

}  // namespace kav::regstore
