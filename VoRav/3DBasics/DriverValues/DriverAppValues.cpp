#include "VoRav/3DBasics/DriverValues/DriverAppValues.h"

#include "VoRav/Win32/winAPI0.h"
#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/Win32/winRegistry.h"
#include "VoRav/vxPaths.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

constexpr char16_t kMachinePrefix[] = u"\\Registry\\Machine\\";  // 18 characters

struct TValueToSet {
  const char16_t* Suffix;
  uint8_t Data[4];
};
constexpr TValueToSet kValues[] = {
    {u":D3DOGL_67207556", {0x00, 0x00, 0x00, 0x00}},
    {u":D3DOGL_70835937", {0x00, 0x00, 0x00, 0x00}},
    {u":D3D_60461791", {0x92, 0x52, 0x92, 0x60}},
};

}  // namespace

void TDriverAppValues::Init(const std::u16string& program_file_name, uint32_t platform_id, uint32_t major_version) {
  program_ = program_file_name;
  entries_.clear();
  path_.clear();
  if (platform_id != 2 || major_version != 5) return;

  auto map = MakeRef<TRegistry>();
  if (!map->OpenKey(kHKeyLocalMachine, u"HARDWARE\\DEVICEMAP\\VIDEO", TRegistry::kAccessRead)) return;
  std::u16string path;
  if (!map->ReadString(device_, path)) return;
  const std::u16string prefix = kMachinePrefix;
  if (path.compare(0, prefix.size(), prefix) == 0) path.erase(0, prefix.size());
  path_ = path;

  auto key = MakeRef<TRegistry>();
  if (!key->OpenKey(kHKeyLocalMachine, path_, TRegistry::kAccessAll)) return;
  std::u16string description;
  if (!key->ReadString(u"Device Description", description)) return;
  if (WideUpperCase(description).find(u"NVIDIA") == std::u16string::npos) return;

  for (const auto& v : kValues) {
    TEntry e;
    e.Program = program_;
    e.Name = u"_" + program_ + v.Suffix;
    uint32_t size = 0;
    // The old value's type is kept with its bytes, and an empty old value
    // counts as existing, so the end puts back exactly what was there.
    if (RegApiGate()->QueryValue(key->Key(), e.Name, &e.Type, nullptr, &size)) {
      e.Existed = key->ReadBinaryData(e.Name, e.Old);
      if (!e.Existed) return;
    }
    entries_.push_back(e);
    if (!key->WriteBinaryData(e.Name, v.Data)) return;
  }
}

void TDriverAppValues::Done() {
  if (path_.empty() || program_.empty() || entries_.empty()) {
    entries_.clear();
    return;
  }
  auto key = MakeRef<TRegistry>();
  if (key->OpenKey(kHKeyLocalMachine, path_, TRegistry::kAccessAll)) {
    for (const auto& e : entries_) {
      if (e.Program != program_) continue;
      if (e.Existed)
        key->WriteValue(e.Name, e.Type, e.Old.data(), static_cast<uint32_t>(e.Old.size()));
      else
        key->DeleteValue(e.Name);
    }
  }
  entries_.clear();
  path_.clear();
  program_.clear();
}

namespace {

TDriverAppValues& Twin(int device) {
  static TDriverAppValues video1(u"\\Device\\Video1");
  static TDriverAppValues video0(u"\\Device\\Video0");
  return device == 1 ? video1 : video0;
}

void InitTwin(int device) {
  const TOSVersionInfo& os = GetOSVersionInfo();
  Twin(device).Init(ExtractLastPathPart(GetProgramFileName()), os.PlatformId, os.MajorVersion);
}

}  // namespace

void InitDriverAppValues1() { InitTwin(1); }
void InitDriverAppValues0() { InitTwin(0); }
void DoneDriverAppValues1() { Twin(1).Done(); }
void DoneDriverAppValues0() { Twin(0).Done(); }

}  // namespace kav
