// A registry store of its own for one test: XDG_CONFIG_HOME points into a
// fresh folder while the object lives.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../TempFolder.h"
#include "VoRav/Win32/winRegistry.h"

namespace kav::test {

class TRegistryStoreFolder {
 public:
  TRegistryStoreFolder() {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    had_old_ = old != nullptr;
    if (old) old_ = old;
    setenv("XDG_CONFIG_HOME", dir_.Sys("config").c_str(), 1);
  }
  ~TRegistryStoreFolder() {
    if (had_old_)
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  const TTempFolder& Dir() const { return dir_; }

 private:
  TTempFolder dir_;
  bool had_old_ = false;
  std::string old_;
};

// Creates a key below HKEY_LOCAL_MACHINE and opens it with all access.
inline Ref<TRegistry> CreateRegistryKey(const std::u16string& path) {
  THKey key = 0;
  EXPECT_TRUE(RegApiGate()->CreateKey(kHKeyLocalMachine, path, key, kKeyAllAccess));
  RegApiGate()->CloseKey(key);
  auto reg = MakeRef<TRegistry>();
  EXPECT_TRUE(reg->OpenKey(kHKeyLocalMachine, path, TRegistry::kAccessAll));
  return reg;
}

}  // namespace kav::test
