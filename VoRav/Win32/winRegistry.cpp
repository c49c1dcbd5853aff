#include "VoRav/Win32/winRegistry.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "VoRav/Win32/winRegistryStore.h"
#include "VoRav/Win32/winShellFolders.h"
#include "VoRav/vxUTF8.h"

namespace kav {

using regstore::Fold;
using regstore::TStore;
using regstore::WithStore;

namespace {

thread_local int32_t g_last_error = kErrorSuccess;

bool Finish(int32_t code) {
  g_last_error = code;
  return code == kErrorSuccess;
}

const char16_t* RootName(THKey key) {
  switch (key) {
    case kHKeyClassesRoot: return u"HKEY_CLASSES_ROOT";
    case kHKeyCurrentUser: return u"HKEY_CURRENT_USER";
    case kHKeyLocalMachine: return u"HKEY_LOCAL_MACHINE";
    case kHKeyUsers: return u"HKEY_USERS";
    case kHKeyCurrentConfig: return u"HKEY_CURRENT_CONFIG";
    default: return nullptr;
  }
}

// An open key: its full path (as written and folded) and the access it was opened with.
struct TOpenKey {
  std::u16string Path;
  std::u16string Folded;
  uint32_t Access = 0;
  bool Root = false;
};

std::mutex g_handles_lock;
std::map<THKey, TOpenKey> g_handles;
THKey g_next_handle = 0x1000;

int32_t Resolve(THKey key, TOpenKey& out) {
  if (const char16_t* root = RootName(key)) {
    out.Path = root;
    out.Folded = Fold(out.Path);
    out.Access = kKeyAllAccess;
    out.Root = true;
    return kErrorSuccess;
  }
  std::lock_guard<std::mutex> hold(g_handles_lock);
  auto it = g_handles.find(key);
  if (it == g_handles.end()) return kErrorInvalidHandle;
  out = it->second;
  return kErrorSuccess;
}

THKey AddHandle(TOpenKey key) {
  std::lock_guard<std::mutex> hold(g_handles_lock);
  THKey handle = g_next_handle++;
  g_handles[handle] = std::move(key);
  return handle;
}

// The components of a subkey name (empty components dropped); false for a
// component longer than the store allows.
bool SplitName(const std::u16string& name, std::vector<std::u16string>& parts) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(u'\\', start);
    if (end == std::u16string::npos) end = name.size();
    if (end > start) {
      if (end - start > kMaxRegistryNameLength) return false;
      parts.push_back(name.substr(start, end - start));
    }
    start = end + 1;
  }
  return true;
}

// The key `name` below `base`.
bool Below(const TOpenKey& base, const std::u16string& name, TOpenKey& out) {
  std::vector<std::u16string> parts;
  if (!SplitName(name, parts)) return false;
  out.Path = base.Path;
  for (auto& p : parts) out.Path += u'\\' + p;
  out.Folded = Fold(out.Path);
  out.Root = parts.empty() && base.Root;
  return true;
}

bool KeyExists(TStore& store, const TOpenKey& key) { return key.Root || store.Find(key.Folded); }

regstore::TValue* FindValue(regstore::TKey& key, const std::u16string& name) {
  const std::u16string folded = Fold(name);
  for (auto& v : key.Values)
    if (Fold(v.Name) == folded) return &v;
  return nullptr;
}

// Copies a name into room for `length` characters with its NUL.
int32_t GiveName(const std::u16string& name, char16_t* buffer, uint32_t& length) {
  if (!buffer || name.size() + 1 > length) {
    length = static_cast<uint32_t>(name.size());
    return kErrorMoreData;
  }
  std::memcpy(buffer, name.data(), name.size() * sizeof(char16_t));
  buffer[name.size()] = 0;
  length = static_cast<uint32_t>(name.size());
  return kErrorSuccess;
}

int32_t GiveData(const regstore::TValue& v, uint32_t* type, uint8_t* data, uint32_t* size) {
  if (type) *type = v.Type;
  if (!size) return data ? kErrorInvalidParameter : kErrorSuccess;
  const uint32_t room = *size;
  *size = static_cast<uint32_t>(v.Data.size());
  if (!data) return kErrorSuccess;
  if (room < v.Data.size()) return kErrorMoreData;
  if (!v.Data.empty()) std::memcpy(data, v.Data.data(), v.Data.size());
  return kErrorSuccess;
}

// Runs `body` (store, key) on the store with an existing key opened with
// the `need` access; the result is the calling thread's last error.
template <class F>
bool OnKey(THKey key, uint32_t need, bool write, F&& body) {
  TOpenKey k;
  int32_t rc = Resolve(key, k);
  if (rc != kErrorSuccess) return Finish(rc);
  if (need && !(k.Access & need)) return Finish(kErrorAccessDenied);
  return Finish(WithStore(write, [&](TStore& store) -> int32_t {
    if (!KeyExists(store, k)) return kErrorKeyDeleted;
    return body(store, k);
  }));
}

}  // namespace

std::u16string RegistryStorePath() {
  std::u16string config;
  if (GetSpecialFolderPath(kFolderAppData, config) != 0 || config.empty()) return {};
  return config + u"/kavplayer/registry";
}

int32_t TRegApiGate::LastError() noexcept { return g_last_error; }

bool TRegApiGate::IsUnicode() { return true; }

bool TRegApiGate::EnumKey(THKey key, uint32_t index, char16_t* name, uint32_t& length) {
  return OnKey(key, kKeyEnumerateSubKeys, false, [&](TStore& store, const TOpenKey& k) -> int32_t {
    auto names = store.Subkeys(k.Folded);
    if (index >= names.size()) return kErrorNoMoreItems;
    return GiveName(names[index], name, length);
  });
}

bool TRegApiGate::GetKeyNames(THKey key, uint32_t index, std::u16string& name) {
  std::u16string buffer(260, u'\0');
  uint32_t length = static_cast<uint32_t>(buffer.size());
  bool ok = EnumKey(key, index, buffer.data(), length);
  if (!ok && LastError() == kErrorMoreData) {
    size_t room = std::max<size_t>(16384, size_t(length) + 1);
    if (room > buffer.size()) buffer.resize(room);
    length = static_cast<uint32_t>(buffer.size());
    ok = EnumKey(key, index, buffer.data(), length);
  }
  if (!ok) {
    name.clear();
    return false;
  }
  buffer.resize(length);
  name = std::move(buffer);
  return true;
}

bool TRegApiGate::CreateKey(THKey key, const std::u16string& name, THKey& result, uint32_t access) {
  TOpenKey base, target;
  int32_t rc = Resolve(key, base);
  if (rc != kErrorSuccess) return Finish(rc);
  if (!Below(base, name, target)) return Finish(kErrorInvalidParameter);
  target.Access = access;
  std::vector<std::u16string> parts;
  SplitName(name, parts);
  rc = WithStore(true, [&](TStore& store) {
    if (!KeyExists(store, base)) return int32_t(kErrorKeyDeleted);
    if (KeyExists(store, target)) return int32_t(kErrorSuccess);
    if (!(base.Access & kKeyCreateSubKey)) return int32_t(kErrorAccessDenied);
    std::u16string path = base.Path;
    for (auto& p : parts) {
      path += u'\\' + p;
      regstore::TKey& made = store.Keys[Fold(path)];
      if (made.Path.empty()) made.Path = path;
    }
    return int32_t(kErrorSuccess);
  });
  if (rc != kErrorSuccess) return Finish(rc);
  result = AddHandle(std::move(target));
  return Finish(kErrorSuccess);
}

bool TRegApiGate::DeleteKey(THKey key, const std::u16string& name) {
  TOpenKey base, target;
  int32_t rc = Resolve(key, base);
  if (rc != kErrorSuccess) return Finish(rc);
  if (!Below(base, name, target) || target.Folded == base.Folded) return Finish(kErrorInvalidParameter);
  return Finish(WithStore(true, [&](TStore& store) {
    if (!store.Find(target.Folded)) return int32_t(kErrorFileNotFound);
    if (store.HasSubkeys(target.Folded)) return int32_t(kErrorAccessDenied);
    store.Keys.erase(target.Folded);
    return int32_t(kErrorSuccess);
  }));
}

bool TRegApiGate::OpenKey(THKey key, const std::u16string& name, THKey& result, uint32_t access) {
  TOpenKey base, target;
  int32_t rc = Resolve(key, base);
  if (rc != kErrorSuccess) return Finish(rc);
  if (!Below(base, name, target)) return Finish(kErrorFileNotFound);
  target.Access = access;
  rc = WithStore(false, [&](TStore& store) {
    return KeyExists(store, target) ? int32_t(kErrorSuccess) : int32_t(kErrorFileNotFound);
  });
  if (rc != kErrorSuccess) return Finish(rc);
  result = AddHandle(std::move(target));
  return Finish(kErrorSuccess);
}

bool TRegApiGate::CloseKey(THKey key) {
  if (RootName(key)) return Finish(kErrorSuccess);
  std::lock_guard<std::mutex> hold(g_handles_lock);
  return Finish(g_handles.erase(key) ? kErrorSuccess : kErrorInvalidHandle);
}

bool TRegApiGate::SaveKey(THKey key, const std::u16string& file_name) {
  TOpenKey k;
  int32_t rc = Resolve(key, k);
  if (rc != kErrorSuccess) return Finish(rc);
  std::string text;
  rc = WithStore(false, [&](TStore& store) {
    if (!KeyExists(store, k)) return int32_t(kErrorKeyDeleted);
    text = store.Format(k.Folded);
    return int32_t(kErrorSuccess);
  });
  if (rc != kErrorSuccess) return Finish(rc);
  const std::string path = WideToSystemUTF8(file_name);
  if (path.empty()) return Finish(kErrorFileNotFound);
  if (!regstore::WriteNewFile(path, text)) return Finish(errno == EEXIST ? kErrorAlreadyExists : kErrorAccessDenied);
  return Finish(kErrorSuccess);
}

bool TRegApiGate::EnumValue(THKey key, uint32_t index, char16_t* name, uint32_t& name_length, uint32_t* type,
                            uint8_t* data, uint32_t* data_size) {
  return OnKey(key, kKeyQueryValue, false, [&](TStore& store, const TOpenKey& k) -> int32_t {
    regstore::TKey* found = store.Find(k.Folded);
    if (!found || index >= found->Values.size()) return kErrorNoMoreItems;
    const regstore::TValue& v = found->Values[index];
    int32_t r = GiveName(v.Name, name, name_length);
    if (r != kErrorSuccess) return r;
    return GiveData(v, type, data, data_size);
  });
}

bool TRegApiGate::DeleteValue(THKey key, const std::u16string& name) {
  return OnKey(key, kKeySetValue, true, [&](TStore& store, const TOpenKey& k) -> int32_t {
    regstore::TKey* found = store.Find(k.Folded);
    regstore::TValue* v = found ? FindValue(*found, name) : nullptr;
    if (!v) return kErrorFileNotFound;
    found->Values.erase(found->Values.begin() + (v - found->Values.data()));
    return kErrorSuccess;
  });
}

bool TRegApiGate::QueryValue(THKey key, const std::u16string& name, uint32_t* type, uint8_t* data,
                             uint32_t* data_size) {
  return OnKey(key, kKeyQueryValue, false, [&](TStore& store, const TOpenKey& k) -> int32_t {
    regstore::TKey* found = store.Find(k.Folded);
    regstore::TValue* v = found ? FindValue(*found, name) : nullptr;
    if (!v) return kErrorFileNotFound;
    return GiveData(*v, type, data, data_size);
  });
}

bool TRegApiGate::SetValue(THKey key, const std::u16string& name, uint32_t type, const uint8_t* data,
                           uint32_t data_size) {
  if (!data && data_size) return Finish(kErrorInvalidParameter);
  return SetValue(key, name, type, std::span<const uint8_t>(data, data ? data_size : 0));
}

bool TRegApiGate::SetValue(THKey key, const std::u16string& name, uint32_t type, std::span<const uint8_t> data) {
  if (name.size() > kMaxRegistryNameLength || data.size() > kMaxRegistryValueBytes)
    return Finish(kErrorInvalidParameter);
  return OnKey(key, kKeySetValue, true, [&](TStore& store, const TOpenKey& k) -> int32_t {
    regstore::TKey& found = store.Keys[k.Folded];
    if (found.Path.empty()) found.Path = k.Path;  // a root key gets its entry on its first value
    regstore::TValue* v = FindValue(found, name);
    if (!v) {
      found.Values.push_back({name, 0, {}});
      v = &found.Values.back();
    }
    v->Type = type;
    v->Data.assign(data.begin(), data.end());
    return kErrorSuccess;
  });
}

TRegApiGate* RegApiGate() {
  static Ref<TRegApiGate> gate = MakeRef<TRegApiGate>();
  return gate.get();
}

// ---- TRegistry

namespace {
constexpr uint32_t kAccessByIndex[3] = {kKeyRead, kKeyWrite, kKeyAllAccess};
}

void TRegistry::Dispose() {
  CloseKey();
  TRefObject::Dispose();
}

void TRegistry::CloseKey() {
  if (open_) RegApiGate()->CloseKey(key_);
  open_ = false;
  key_ = 0;
}

bool TRegistry::OpenKey(THKey root, const std::u16string& path, int32_t access) {
  CloseKey();
  uint32_t rights = access >= 0 && access <= 2 ? kAccessByIndex[access] : kKeyRead;
  THKey key = 0;
  open_ = RegApiGate()->OpenKey(root, path, key, rights);
  if (open_) key_ = key;
  return open_;
}

int64_t TRegistry::ValueSize(const std::u16string& name) {
  if (!open_) return -1;
  uint32_t size = 0;
  if (!RegApiGate()->QueryValue(key_, name, nullptr, nullptr, &size)) return -1;
  return size;
}

bool TRegistry::ReadBinaryData(const std::u16string& name, std::vector<uint8_t>& data) {
  data.clear();
  int64_t size = ValueSize(name);
  if (size < 0) return false;
  data.resize(static_cast<size_t>(size));
  uint32_t got = static_cast<uint32_t>(size);
  if (!RegApiGate()->QueryValue(key_, name, nullptr, data.data(), &got)) {
    data.clear();
    return false;
  }
  data.resize(got);
  return true;
}

bool TRegistry::ReadString(const std::u16string& name, std::u16string& text) {
  text.clear();
  std::vector<uint8_t> bytes;
  if (!ReadBinaryData(name, bytes)) return false;
  text.resize(bytes.size() / 2);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  if (!text.empty() && text.back() == 0) text.pop_back();
  return true;
}

bool TRegistry::ReadStringA(const std::u16string& name, std::string& text) {
  text.clear();
  std::vector<uint8_t> bytes;
  if (!ReadBinaryData(name, bytes)) return false;
  text.assign(bytes.begin(), bytes.end());
  if (!text.empty() && text.back() == 0) text.pop_back();
  return true;
}

bool TRegistry::WriteValue(const std::u16string& name, uint32_t type, const void* data, uint32_t size) {
  return open_ && RegApiGate()->SetValue(key_, name, type, static_cast<const uint8_t*>(data), size);
}

bool TRegistry::WriteBinaryData(const std::u16string& name, std::span<const uint8_t> data) {
  return open_ && RegApiGate()->SetValue(key_, name, kRegBinary, data);
}

bool TRegistry::DeleteValue(const std::u16string& name) { return open_ && RegApiGate()->DeleteValue(key_, name); }

bool TRegistry::ValueExists(const std::u16string& name) { return ValueSize(name) >= 0; }

}  // namespace kav
