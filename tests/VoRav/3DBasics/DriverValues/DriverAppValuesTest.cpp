#include <gtest/gtest.h>

#include <cstdlib>

#include "../../Win32/RegistryStoreFolder.h"
#include "VoRav/3DBasics/DriverValues/DriverAppValues.h"
#include "VoRav/Win32/winRegistry.h"

namespace kav {
namespace {

const std::u16string kKey0 = u"SYSTEM\\CurrentControlSet\\Control\\Video\\{11}\\0000";
const std::u16string kKey1 = u"SYSTEM\\CurrentControlSet\\Control\\Video\\{22}\\0000";

// A registry store in a test folder with a device map and two driver keys.
class DriverValues : public ::testing::Test {
 protected:
  void SetUp() override {
    auto map = Create(u"HARDWARE\\DEVICEMAP\\VIDEO");
    WriteText(map.get(), u"\\Device\\Video0", u"\\Registry\\Machine\\" + kKey0);
    WriteText(map.get(), u"\\Device\\Video1", u"\\REGISTRY\\Machine\\" + kKey1);  // the prefix is compared exactly
    WriteText(Create(kKey0).get(), u"Device Description", u"nVidia GeForce 6600");
    WriteText(Create(kKey1).get(), u"Device Description", u"Other Vendor");
  }
  static Ref<TRegistry> Create(const std::u16string& path) { return test::CreateRegistryKey(path); }
  static void WriteText(TRegistry* reg, const std::u16string& name, std::u16string text) {
    text += u'\0';
    ASSERT_TRUE(reg->WriteValue(name, kRegSz, text.data(), static_cast<uint32_t>(text.size() * 2)));
  }
  static std::vector<uint8_t> Read(const std::u16string& key, const std::u16string& name, uint32_t* type = nullptr) {
    auto reg = MakeRef<TRegistry>();
    std::vector<uint8_t> data;
    if (!reg->OpenKey(kHKeyLocalMachine, key, TRegistry::kAccessRead) || !reg->ReadBinaryData(name, data))
      return {0xDE, 0xAD};
    if (type) RegApiGate()->QueryValue(reg->Key(), name, type, nullptr, nullptr);
    return data;
  }

  test::TRegistryStoreFolder store_;
};

const std::vector<uint8_t> kMissing = {0xDE, 0xAD};

TEST_F(DriverValues, NvidiaDriverOnNt5GetsTheThreeValuesAndTheOldOnesBack) {
  // One value existed before, with a type of its own; one existed empty.
  auto key = MakeRef<TRegistry>();
  ASSERT_TRUE(key->OpenKey(kHKeyLocalMachine, kKey0, TRegistry::kAccessAll));
  uint32_t old = 0x01020304;
  ASSERT_TRUE(key->WriteValue(u"_show.exe:D3DOGL_70835937", kRegDword, &old, 4));
  ASSERT_TRUE(key->WriteValue(u"_show.exe:D3D_60461791", kRegBinary, nullptr, 0));

  TDriverAppValues twin(u"\\Device\\Video0");
  twin.Init(u"show.exe", 2, 5);
  EXPECT_EQ(twin.DriverKeyPath(), kKey0);
  EXPECT_EQ(twin.TouchedCount(), 3u);
  EXPECT_EQ(Read(kKey0, u"_show.exe:D3DOGL_67207556"), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(Read(kKey0, u"_show.exe:D3DOGL_70835937"), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(Read(kKey0, u"_show.exe:D3D_60461791"), (std::vector<uint8_t>{0x92, 0x52, 0x92, 0x60}));

  twin.Done();
  EXPECT_EQ(Read(kKey0, u"_show.exe:D3DOGL_67207556"), kMissing);
  uint32_t type = 0;
  EXPECT_EQ(Read(kKey0, u"_show.exe:D3DOGL_70835937", &type), (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(type, uint32_t(kRegDword));
  EXPECT_EQ(Read(kKey0, u"_show.exe:D3D_60461791"), std::vector<uint8_t>{});
  twin.Done();  // once only
  EXPECT_EQ(Read(kKey0, u"_show.exe:D3D_60461791"), std::vector<uint8_t>{});
}

TEST_F(DriverValues, OtherVersionsPlatformsAndVendorsTouchNothing) {
  struct TCase {
    const char16_t* device;
    uint32_t platform, major;
  } cases[] = {
      {u"\\Device\\Video0", 2, 6},   // NT 6 and later
      {u"\\Device\\Video0", 2, 10},  // what this system reports
      {u"\\Device\\Video0", 1, 5},   // not NT
      {u"\\Device\\Video1", 2, 5},   // not NVIDIA (and its path keeps the odd prefix)
      {u"\\Device\\Video7", 2, 5},   // no such device
  };
  for (auto& c : cases) {
    TDriverAppValues twin(c.device);
    twin.Init(u"show.exe", c.platform, c.major);
    EXPECT_EQ(twin.TouchedCount(), 0u);
    EXPECT_EQ(Read(kKey0, u"_show.exe:D3D_60461791"), kMissing);
    twin.Done();
  }
  // The running program's twins do nothing on this system.
  InitDriverAppValues0();
  InitDriverAppValues1();
  DoneDriverAppValues1();
  DoneDriverAppValues0();
}

TEST_F(DriverValues, UpperCaseMatchAndBothTwinsRestoreTheirOwn) {
  WriteText(Create(kKey1).get(), u"Device Description", u"NVIDIA Quadro");
  auto map = Create(u"HARDWARE\\DEVICEMAP\\VIDEO");
  WriteText(map.get(), u"\\Device\\Video1", u"\\Registry\\Machine\\" + kKey1);
  TDriverAppValues twin0(u"\\Device\\Video0"), twin1(u"\\Device\\Video1");
  twin0.Init(u"show.exe", 2, 5);
  twin1.Init(u"show.exe", 2, 5);
  EXPECT_EQ(twin1.TouchedCount(), 3u);
  twin1.Done();
  EXPECT_EQ(Read(kKey1, u"_show.exe:D3D_60461791"), kMissing);
  EXPECT_EQ(Read(kKey0, u"_show.exe:D3D_60461791"), (std::vector<uint8_t>{0x92, 0x52, 0x92, 0x60}));
  twin0.Done();
  EXPECT_EQ(Read(kKey0, u"_show.exe:D3D_60461791"), kMissing);
}

}  // namespace
}  // namespace kav
