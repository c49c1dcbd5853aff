// The packed show container: a package of files appended to a host file (the
// player program or a separate show file), found from the end of the file.
//
// Layout (little-endian; S = file size):
//   short form: the 4 bytes at S-4 are ".dne": EndPos = S, Base = 0
//   long form:  else the 4 bytes at S-12 are ".dne": EndPos = S-8,
//               Base = EndPos - (int64 at S-8)
//   at EndPos-12: int64 DirRel, then ".dne"; the directory runs from
//   DirPos = DirRel + Base to EndPos-12 and is raw deflate of INI text with
//   one section per entry (_ps start, _sz stored length, _pm method) and the
//   integrity section "$protection$".
//
// Every value read from the file is checked before it is used: the trailer,
// the directory position and each entry's window must lie inside the
// package, and inflation is capped, so a damaged or hostile file gives an
// error text, a nil entry or an exception, never a read outside the file.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "KavLib2/KavViewer/KavZStream.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxStream.h"

namespace kav {

// Entry storage methods; any other value reads as stored.
enum : int32_t { kPackStored = 0, kPackDeflated = 1, kPackEnciphered = 2 };

// Inflation caps: a directory or a deflated entry that inflates to more
// raises EZDecompressionError "Inflated data exceed the size limit" (an
// entry where it is read past the cap). The entry cap is more than any
// sound, clip or picture of a show can use; it bounds the time a reader
// that asks a hostile entry's size spends learning it, not memory: an entry
// larger than kMaxHeldEntrySize is never held whole.
inline constexpr int64_t kMaxDirectorySize = 64ll << 20;
inline constexpr int64_t kMaxInflatedEntrySize = 16ll << 30;
inline constexpr int64_t kMaxHeldEntrySize = 32ll << 20;

// Error texts of an unpacker that did not open.
inline constexpr char16_t kShowNotFound[] = u"Slideshow File not Found";
inline constexpr char16_t kShowModified[] = u"Slide-show File Modified";
inline constexpr char16_t kShowDamaged[] = u"Slide-show File Damaged";

// The inflated directory.
class TUnpackStruc : public TRefObject {
 public:
  // Loads the document from `stream` at its position; raises EStreamError
  // when the text cannot be read.
  explicit TUnpackStruc(TStream* stream);
  TIniFile* Ini() const noexcept { return ini_.get(); }

 protected:
  void Dispose() override;

 private:
  Ref<TIniFile> ini_;
};

class TKavUnpack : public TRefObject {
 public:
  // Opens the file and reads its directory. When the file cannot be opened
  // the error text is "Slideshow File not Found"; a file without a trailer
  // leaves it empty; a trailer, directory or integrity rule that does not
  // hold gives "Slide-show File Damaged" or "Slide-show File Modified". In
  // every such case the unpacker is not open. Never raises for file contents.
  explicit TKavUnpack(const std::u16string& path);
  // The same on a stream that holds a whole package file (the unpacker keeps
  // a reference). OpenFile then answers nil: entries are opened with
  // OpenEntryStream on the caller's own stream.
  explicit TKavUnpack(Ref<TStream> file);

  bool IsOpen() const noexcept { return static_cast<bool>(file_); }
  // Frees the directory and the file stream.
  void Close();

  // Looks an entry up by name (escaped into its section name). False when not
  // open, when there is no such section, when _ps or _sz is missing or not a
  // number, or when the entry's window (_ps + shift, _sz) does not lie inside
  // the file. Method is _pm (0 when missing). A name with no section of its
  // own finds the entry whose name is the same show name (ShowNameMatchKey:
  // either separator, "." left out, any case or Unicode normal form).
  bool GetEntry(std::u16string_view name, int64_t& position, int32_t& method, int64_t& size) const;
  // A new stream on the package file (read access, positioned at 0); nil
  // when not open or when the file cannot be opened.
  Ref<TStream> OpenFile() const;

  // The stream of one entry on `file` (nil for nil): a window (start, size)
  // on it, owning it when `owns` is set, then by method: 1 the window
  // inflated whole into a memory stream when it inflates to at most
  // `held_limit` bytes (tried only while nothing says it does not), else a
  // TSeekableInflateStream over the window capped at kMaxInflatedEntrySize,
  // which inflates only where it is read, nothing at its open; 2 a cipher
  // stream with `key` over the window, anything else the window itself.
  // Raises EZDecompressionError for corrupt, truncated or oversized data
  // met while holding, and EStreamError "Insufficient Source Size" when the
  // window does not fit the file. With `keeper`, a streamed entry's
  // TInflateIndex (named `name` in its log line) is shared with every other
  // stream that unpacker opens on it (at most kMaxKeptIndexes entries), so
  // what one stream inflated (the states on the way, the size, a failure)
  // serves the others; an entry a stream found damaged or too large is
  // refused at its later opens. A `held_limit` of 0 holds no deflated entry.
  static Ref<TStream> OpenEntryStream(TStream* file, int32_t method, bool owns, const std::string& key,
                                      int64_t start, int64_t size, const TKavUnpack* keeper = nullptr,
                                      int64_t held_limit = kMaxHeldEntrySize, std::u16string_view name = {});
  static constexpr size_t kMaxKeptIndexes = 16;
  // The index of the streamed entry at (start, size); nil when none is kept
  // and `make` is not set, else a new one, kept while fewer than
  // kMaxKeptIndexes are.
  Ref<TInflateIndex> KeptIndex(int64_t start, int64_t size, std::u16string_view name, bool make) const;
  // The stream handed out for the entry `name`, or nil when there is none:
  // its own file stream, the entry stream, and a window whose chunk callback
  // (256-byte pieces) calls the global loading callback with `sender` after
  // each piece (a TChunkedStream doing the same for an entry whose size is
  // not known before it is read through). `sender` is passed on only; it must outlive the stream.
  // Decoding errors of a deflated entry are raised.
  Ref<TStream> OpenEntry(std::u16string_view name, TRefObject* sender) const;

  const std::u16string& FileName() const noexcept { return file_name_; }
  const std::u16string& Version() const noexcept { return version_; }
  const std::u16string& ErrorText() const noexcept { return error_text_; }
  const std::string& KeyText() const noexcept { return key_text_; }
  int64_t EndPosition() const noexcept { return end_position_; }
  int64_t EntryShift() const noexcept { return entry_shift_; }
  TUnpackStruc* Directory() const noexcept { return directory_.get(); }

 protected:
  void Dispose() override;

 private:
  // False (error text set or left empty) when the package does not hold.
  bool ReadDirectory();

  Ref<TStream> file_;
  int64_t end_position_ = 0;
  int64_t file_size_ = 0;
  int64_t entry_shift_ = 0;
  Ref<TUnpackStruc> directory_;
  // The entries by ShowNameMatchKey of their names (the first of equal
  // keys), made by the first GetEntry that misses an exact section (any
  // thread; the directory does not change while open).
  mutable std::once_flag entries_indexed_;
  // The indexes of streamed entries by their (start, stored size); the
  // first kMaxKeptIndexes made.
  mutable std::mutex kept_lock_;
  mutable std::map<std::pair<int64_t, int64_t>, Ref<TInflateIndex>> kept_indexes_;
  mutable std::unordered_map<std::u16string, TIniList*> entries_by_key_;
  std::u16string file_name_;
  std::u16string version_;
  std::u16string error_text_;
  std::string key_text_;
};

// The version text of the packed show at `path`; false when it does not open
// (any exception inside also gives false).
bool ReadPackedShowVersion(const std::u16string& path, std::u16string& version);

// An entry name as its section name: "[" -> "<", "]" -> ">", characters
// below 32 -> "#" and two upper-case hexadecimal digits.
std::u16string EscapeSectionName(std::u16string_view name);

}  // namespace kav
