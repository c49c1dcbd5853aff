#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "RegistryStoreFolder.h"
#include "VoRav/Win32/winRegistry.h"
#include "VoRav/vxUTF8.h"

namespace kav {
namespace {

// Each test gets its own config folder, so its store starts empty.
class RegistryTest : public ::testing::Test {
 protected:
  std::string StoreFile() const { return dir_.Sys("config/kavplayer/registry"); }
  test::TRegistryStoreFolder store_;
  const test::TTempFolder& dir_ = store_.Dir();
};

Ref<TRegistry> OpenCreated(const std::u16string& path) { return test::CreateRegistryKey(path); }

TEST_F(RegistryTest, ValuesWrittenAreReadBackFromTheStoreInTheConfigFolder) {
  EXPECT_EQ(WideToSystemUTF8(RegistryStorePath()), StoreFile());
  auto reg = MakeRef<TRegistry>();
  EXPECT_FALSE(reg->OpenKey(kHKeyLocalMachine, u"Software\\Kav", TRegistry::kAccessAll));  // missing
  EXPECT_EQ(reg->ValueSize(u"x"), -1);
  EXPECT_FALSE(reg->WriteBinaryData(u"x", std::vector<uint8_t>{1}));  // no key open

  reg = OpenCreated(u"Software\\Kav");
  const std::vector<uint8_t> bytes = {0x92, 0x52, 0x92, 0x60};
  ASSERT_TRUE(reg->WriteBinaryData(u"_a.exe:D3D_60461791", bytes));
  const std::u16string text = u"Caf\u00e9 \U0001F600";
  std::u16string with_nul = text + u'\0';
  ASSERT_TRUE(reg->WriteValue(u"Name", kRegSz, with_nul.data(), static_cast<uint32_t>(with_nul.size() * 2)));
  ASSERT_TRUE(reg->WriteValue(u"Empty", kRegBinary, nullptr, 0));
  reg = nullptr;

  // Another handle on the same key, names in another case.
  auto again = MakeRef<TRegistry>();
  ASSERT_TRUE(again->OpenKey(kHKeyLocalMachine, u"SOFTWARE\\kav", TRegistry::kAccessRead));
  std::vector<uint8_t> read;
  ASSERT_TRUE(again->ReadBinaryData(u"_A.EXE:d3d_60461791", read));
  EXPECT_EQ(read, bytes);
  std::u16string s;
  ASSERT_TRUE(again->ReadString(u"name", s));
  EXPECT_EQ(s, text);  // the final NUL dropped
  EXPECT_EQ(again->ValueSize(u"Empty"), 0);
  EXPECT_TRUE(again->ValueExists(u"Empty"));
  EXPECT_FALSE(again->ReadString(u"missing", s));
  EXPECT_TRUE(s.empty());
  EXPECT_FALSE(again->ReadBinaryData(u"missing", read));
  EXPECT_TRUE(read.empty());
  // Read access cannot change anything.
  EXPECT_FALSE(again->DeleteValue(u"Name"));
  EXPECT_EQ(TRegApiGate::LastError(), kErrorAccessDenied);

  struct stat st;
  ASSERT_EQ(stat(StoreFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);  // private to the user
}

TEST_F(RegistryTest, WriteOnlyKeysCannotBeReadAndDeletedValuesAreGone) {
  auto reg = OpenCreated(u"K");
  ASSERT_TRUE(reg->WriteBinaryData(u"v", std::vector<uint8_t>{7}));
  auto writer = MakeRef<TRegistry>();
  ASSERT_TRUE(writer->OpenKey(kHKeyLocalMachine, u"K", TRegistry::kAccessWrite));
  EXPECT_EQ(writer->ValueSize(u"v"), -1);
  EXPECT_TRUE(writer->DeleteValue(u"v"));
  EXPECT_FALSE(reg->ValueExists(u"v"));
  EXPECT_FALSE(writer->DeleteValue(u"v"));
  EXPECT_EQ(TRegApiGate::LastError(), kErrorFileNotFound);
}

TEST_F(RegistryTest, QueryValueReportsTheSizeAndRefusesTooLittleRoom) {
  auto reg = OpenCreated(u"Q");
  ASSERT_TRUE(reg->WriteBinaryData(u"v", std::vector<uint8_t>{1, 2, 3, 4, 5}));
  uint8_t small[2] = {0xEE, 0xEE};
  uint32_t size = 2, type = 0;
  EXPECT_FALSE(RegApiGate()->QueryValue(reg->Key(), u"v", &type, small, &size));
  EXPECT_EQ(TRegApiGate::LastError(), kErrorMoreData);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(small[0], 0xEE);  // nothing written past the room
  EXPECT_EQ(type, uint32_t(kRegBinary));
}

TEST_F(RegistryTest, KeysNestEnumerateAndRefuseDeletionWhileTheyHaveSubkeys) {
  THKey key = 0;
  ASSERT_TRUE(RegApiGate()->CreateKey(kHKeyLocalMachine, u"HARDWARE\\DEVICEMAP\\VIDEO", key, kKeyAllAccess));
  RegApiGate()->CloseKey(key);
  const std::u16string long_name(300, u'n');  // longer than the first buffer
  ASSERT_TRUE(RegApiGate()->CreateKey(kHKeyLocalMachine, u"HARDWARE\\" + long_name, key, kKeyAllAccess));
  RegApiGate()->CloseKey(key);
  ASSERT_TRUE(RegApiGate()->OpenKey(kHKeyLocalMachine, u"hardware", key, kKeyRead));
  std::u16string name;
  ASSERT_TRUE(RegApiGate()->GetKeyNames(key, 0, name));
  EXPECT_EQ(name, u"DEVICEMAP");
  ASSERT_TRUE(RegApiGate()->GetKeyNames(key, 1, name));
  EXPECT_EQ(name, long_name);
  EXPECT_FALSE(RegApiGate()->GetKeyNames(key, 2, name));
  EXPECT_EQ(TRegApiGate::LastError(), kErrorNoMoreItems);
  RegApiGate()->CloseKey(key);

  EXPECT_FALSE(RegApiGate()->DeleteKey(kHKeyLocalMachine, u"HARDWARE\\DEVICEMAP"));
  EXPECT_EQ(TRegApiGate::LastError(), kErrorAccessDenied);
  ASSERT_TRUE(RegApiGate()->OpenKey(kHKeyLocalMachine, u"HARDWARE\\DEVICEMAP\\VIDEO", key, kKeyAllAccess));
  EXPECT_TRUE(RegApiGate()->DeleteKey(kHKeyLocalMachine, u"HARDWARE\\DEVICEMAP\\VIDEO"));
  // The handle of a deleted key answers that it is gone.
  EXPECT_FALSE(RegApiGate()->SetValue(key, u"x", kRegBinary, std::vector<uint8_t>{1}));
  EXPECT_EQ(TRegApiGate::LastError(), kErrorKeyDeleted);
  EXPECT_TRUE(RegApiGate()->CloseKey(key));
  EXPECT_FALSE(RegApiGate()->CloseKey(key));
  EXPECT_EQ(TRegApiGate::LastError(), kErrorInvalidHandle);
  // Read access cannot create below a key.
  ASSERT_TRUE(RegApiGate()->OpenKey(kHKeyLocalMachine, u"HARDWARE", key, kKeyRead));
  THKey made = 0;
  EXPECT_FALSE(RegApiGate()->CreateKey(key, u"New", made, kKeyAllAccess));
  RegApiGate()->CloseKey(key);
}

TEST_F(RegistryTest, ValuesEnumerateWithTheirNamesTypesAndData) {
  auto reg = OpenCreated(u"E");
  reg->WriteBinaryData(u"one", std::vector<uint8_t>{1});
  uint32_t v = 42;
  reg->WriteValue(u"two", kRegDword, &v, 4);
  char16_t name[8];
  uint32_t len = 8, type = 0, size = 4;
  uint8_t data[4];
  ASSERT_TRUE(RegApiGate()->EnumValue(reg->Key(), 1, name, len, &type, data, &size));
  EXPECT_EQ(std::u16string(name, len), u"two");
  EXPECT_EQ(type, uint32_t(kRegDword));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(data[0], 42);
  len = 2;
  EXPECT_FALSE(RegApiGate()->EnumValue(reg->Key(), 0, name, len, nullptr, nullptr, nullptr));
  EXPECT_EQ(TRegApiGate::LastError(), kErrorMoreData);
  EXPECT_EQ(len, 3u);
}

TEST_F(RegistryTest, ChangesFromTwoProcessesAtOnceAreAllKept) {
  OpenCreated(u"Shared");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  auto write_many = [](char16_t tag) {
    auto reg = MakeRef<TRegistry>();
    if (!reg->OpenKey(kHKeyLocalMachine, u"Shared", TRegistry::kAccessAll)) return false;
    for (int i = 0; i < 40; ++i) {
      std::u16string n = std::u16string(1, tag) + SystemUTF8ToWide(std::to_string(i));
      if (!reg->WriteBinaryData(n, std::vector<uint8_t>{static_cast<uint8_t>(i)})) return false;
    }
    return true;
  };
  if (child == 0) _exit(write_many(u'c') ? 0 : 1);
  bool mine = write_many(u'p');
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(mine);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  auto reg = MakeRef<TRegistry>();
  ASSERT_TRUE(reg->OpenKey(kHKeyLocalMachine, u"Shared", TRegistry::kAccessRead));
  for (int i = 0; i < 40; ++i) {
    EXPECT_TRUE(reg->ValueExists(u"c" + SystemUTF8ToWide(std::to_string(i))));
    EXPECT_TRUE(reg->ValueExists(u"p" + SystemUTF8ToWide(std::to_string(i))));
  }
}

TEST_F(RegistryTest, DamagedStoreLinesAreLeftOutAndForeignFilesReadAsEmpty) {
  dir_.WriteFile("config/kavplayer/registry",
                 "KAVREG 1\n"
                 "garbage without a key\n"
                 "[HKEY_LOCAL_MACHINE%5CGood]\n"
                 "ok=3:0102\n"
                 "odd=3:010\n"
                 "badhex=3:zz\n"
                 "badtype=x:00\n"
                 "bigtype=99999999999:00\n"
                 "%G1=3:00\n"
                 "%=3:00\n"
                 "[unterminated\n"
                 "after=3:01\n"
                 "[]\n"
                 "[HKEY_LOCAL_MACHINE%5CGood]\n"
                 "second=4:2a000000");
  auto reg = MakeRef<TRegistry>();
  ASSERT_TRUE(reg->OpenKey(kHKeyLocalMachine, u"Good", TRegistry::kAccessRead));
  EXPECT_EQ(reg->ValueSize(u"ok"), 2);
  EXPECT_EQ(reg->ValueSize(u"second"), 4);
  for (auto n : {u"odd", u"badhex", u"badtype", u"bigtype", u"after"}) EXPECT_FALSE(reg->ValueExists(n)) << WideToSystemUTF8(n);

  dir_.WriteFile("config/kavplayer/registry", std::string("\x00\xff\xfe[", 4));
  EXPECT_FALSE(reg->ValueExists(u"ok"));
  // ... and is not written over by a change.
  auto writer = MakeRef<TRegistry>();
  ASSERT_TRUE(writer->OpenKey(kHKeyLocalMachine, u"", TRegistry::kAccessAll));
  EXPECT_FALSE(writer->WriteBinaryData(u"x", std::vector<uint8_t>{1}));
  EXPECT_EQ(dir_.ReadFile("config/kavplayer/registry"), std::string("\x00\xff\xfe[", 4));
  // A store too big to read counts as empty too.
  dir_.WriteFile("config/kavplayer/registry", "KAVREG 1\n" + std::string(kMaxRegistryStoreBytes, '#'));
  EXPECT_FALSE(reg->ValueExists(u"ok"));
}

TEST_F(RegistryTest, SaveKeyWritesANewFileAndNeverThroughALink) {
  auto reg = OpenCreated(u"Save\\Sub");
  reg->WriteBinaryData(u"v", std::vector<uint8_t>{0xAB});
  auto other = OpenCreated(u"Other");
  other->WriteBinaryData(u"w", std::vector<uint8_t>{1});
  THKey key = 0;
  ASSERT_TRUE(RegApiGate()->OpenKey(kHKeyLocalMachine, u"Save", key, kKeyRead));
  ASSERT_TRUE(RegApiGate()->SaveKey(key, dir_.Wide("saved")));
  std::string saved = dir_.ReadFile("saved");
  EXPECT_NE(saved.find("Save\\Sub]"), std::string::npos);
  EXPECT_NE(saved.find("v=3:ab"), std::string::npos);
  EXPECT_EQ(saved.find("Other"), std::string::npos);
  EXPECT_FALSE(RegApiGate()->SaveKey(key, dir_.Wide("saved")));
  EXPECT_EQ(TRegApiGate::LastError(), kErrorAlreadyExists);
  symlink(dir_.Sys("target").c_str(), dir_.Sys("link").c_str());
  EXPECT_FALSE(RegApiGate()->SaveKey(key, dir_.Wide("link")));
  EXPECT_FALSE(dir_.Exists("target"));
  RegApiGate()->CloseKey(key);
}

}  // namespace
}  // namespace kav
