// The registry gate and registry keys.
//
// All registry access goes through one gate object, as file access goes
// through the file gate. This system has no registry: the gate keeps keys and
// values in a small per-user store, the file "kavplayer/registry" in the XDG
// config folder ($XDG_CONFIG_HOME, default ~/.config), so a value written is
// read back by later calls and later runs. Every root key (HKEY_LOCAL_MACHINE
// included) lives in that one per-user store.
//
// Each operation reads the store afresh and each change writes it back whole
// (a new file renamed over the old one), under an advisory lock that other
// processes of the program take too; operations may come from any thread.
// Key and value names match without regard to case, as Windows names do.
// The store is read with every size capped; lines it cannot read are left
// out. A store file that cannot be read at all (too big, not a store, a
// link) reads as empty and is never written over: changes then fail, as
// they do when the store cannot be written.
//
// Every gate operation answers true when it succeeds; the Windows error code
// of the last operation on the calling thread is LastError().
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "VoRav/SysObj2.h"

namespace kav {

// A key handle: a root key, or a key opened through the gate.
using THKey = uintptr_t;
inline constexpr THKey kHKeyClassesRoot = 0x80000000u;
inline constexpr THKey kHKeyCurrentUser = 0x80000001u;
inline constexpr THKey kHKeyLocalMachine = 0x80000002u;
inline constexpr THKey kHKeyUsers = 0x80000003u;
inline constexpr THKey kHKeyCurrentConfig = 0x80000005u;

// Value types.
enum : uint32_t { kRegNone = 0, kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7 };

// Access rights.
enum : uint32_t {
  kKeyQueryValue = 0x0001,
  kKeySetValue = 0x0002,
  kKeyCreateSubKey = 0x0004,
  kKeyEnumerateSubKeys = 0x0008,
  kKeyRead = 0x20019,
  kKeyWrite = 0x20006,
  kKeyAllAccess = 0xF003F,
};

// Error codes the gate leaves in LastError().
enum : int32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorInvalidParameter = 87,
  kErrorAlreadyExists = 183,
  kErrorMoreData = 234,
  kErrorNoMoreItems = 259,
  kErrorKeyDeleted = 1018,
};

// Limits of the store: bigger files are not read, longer names and bigger
// values are refused.
inline constexpr int64_t kMaxRegistryStoreBytes = 4 << 20;
inline constexpr size_t kMaxRegistryNameLength = 16383;
inline constexpr size_t kMaxRegistryValueBytes = 1 << 20;

class TRegApiGate : public TRefObject {
 public:
  // The error code of the calling thread's last gate operation.
  static int32_t LastError() noexcept;

  // True: names are wide text.
  virtual bool IsUnicode();
  // The name of subkey `index` of `key` into `name` (room for `length`
  // characters with the final NUL); on success `length` is the name's length.
  // When the room is too small: kErrorMoreData, and `length` the name's length.
  // kErrorNoMoreItems past the last subkey. Needs kKeyEnumerateSubKeys.
  virtual bool EnumKey(THKey key, uint32_t index, char16_t* name, uint32_t& length);
  // The name of subkey `index` whatever its length: first with room for 260
  // characters, then once more with 16384 or one more than the reported
  // length, whichever is larger.
  virtual bool GetKeyNames(THKey key, uint32_t index, std::u16string& name);
  // Opens `name` below `key`, creating it and every missing key on the way.
  // Creating needs kKeyCreateSubKey on `key`.
  virtual bool CreateKey(THKey key, const std::u16string& name, THKey& result, uint32_t access);
  // Deletes the key `name` below `key`; refused (kErrorAccessDenied) while it has subkeys.
  virtual bool DeleteKey(THKey key, const std::u16string& name);
  // Opens an existing key `name` below `key` (an empty name opens `key` again).
  virtual bool OpenKey(THKey key, const std::u16string& name, THKey& result, uint32_t access);
  // Closes a key opened through the gate (root keys stay open).
  virtual bool CloseKey(THKey key);
  // Writes the key with its values and subkeys to a new file in the store's
  // text form; kErrorAlreadyExists when the file exists. Never follows a link.
  virtual bool SaveKey(THKey key, const std::u16string& file_name);
  // Value `index` of `key`: its name (room and length as for EnumKey), and
  // when asked its type and data. `data_size` is the room on entry and the
  // value's size on return; a null `data` asks only for the size; too little
  // room gives kErrorMoreData. Needs kKeyQueryValue.
  virtual bool EnumValue(THKey key, uint32_t index, char16_t* name, uint32_t& name_length, uint32_t* type,
                         uint8_t* data, uint32_t* data_size);
  // Deletes a value; needs kKeySetValue.
  virtual bool DeleteValue(THKey key, const std::u16string& name);
  // A value's type and data; sizes as for EnumValue. kErrorFileNotFound for a
  // missing value. Needs kKeyQueryValue.
  virtual bool QueryValue(THKey key, const std::u16string& name, uint32_t* type, uint8_t* data,
                          uint32_t* data_size);
  // Creates or replaces a value; needs kKeySetValue.
  virtual bool SetValue(THKey key, const std::u16string& name, uint32_t type, const uint8_t* data,
                        uint32_t data_size);
  // The same from a byte span.
  virtual bool SetValue(THKey key, const std::u16string& name, uint32_t type, std::span<const uint8_t> data);
};

// The process-wide gate, made on first use.
TRegApiGate* RegApiGate();

// The store's file (empty when no config folder can be found).
std::u16string RegistryStorePath();

// One open key with typed reads and writes. Nothing raises: every operation
// answers false (or -1 for a size) when no key is open or the gate fails.
class TRegistry : public TRefObject {
 public:
  // Access by index.
  enum : int32_t { kAccessRead = 0, kAccessWrite = 1, kAccessAll = 2 };

  // Closes the key held and opens `path` below `root` with the access of the
  // index (read, write, all); an unknown index opens for reading.
  bool OpenKey(THKey root, const std::u16string& path, int32_t access);
  void CloseKey();
  bool IsOpen() const noexcept { return open_; }
  THKey Key() const noexcept { return key_; }

  // The value's size in bytes; -1 when no key is open or the value is missing.
  int64_t ValueSize(const std::u16string& name);
  // The value as wide text without its final NUL; false (and empty text)
  // when it is missing.
  bool ReadString(const std::u16string& name, std::u16string& text);
  // The same as 8-bit text.
  bool ReadStringA(const std::u16string& name, std::string& text);
  // The value's bytes; false (and no bytes) when the read fails.
  bool ReadBinaryData(const std::u16string& name, std::vector<uint8_t>& data);
  bool WriteValue(const std::u16string& name, uint32_t type, const void* data, uint32_t size);
  // Writes kRegBinary with the bytes given.
  bool WriteBinaryData(const std::u16string& name, std::span<const uint8_t> data);
  bool DeleteValue(const std::u16string& name);
  bool ValueExists(const std::u16string& name);

 protected:
  void Dispose() override;

 private:
  THKey key_ = 0;
  bool open_ = false;
};

}  // namespace kav
