// The SDL device through SDL's "disk" driver: the mixed output lands in a
// file, and the play cursor tells how much of it was consumed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/sound/sdl/SndSdlDevice.h"

namespace kav {
namespace {

TEST(SndSdlDisk, OutputReachesTheDeviceAndTheCursorFollowsIt) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("kav_snd_disk_" + std::to_string(getpid()) + ".raw")).string();
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
  std::vector<int16_t> ramp(44100 * 2);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = int16_t(1 + i / 2 % 20000);
  uint32_t cursor = 0;
  {
    auto device = MakeRef<TSndSdlDevice>(256);
    ASSERT_TRUE(device->Opened()) << SDL_GetError();
    ASSERT_EQ(device->SetCooperativeLevel(nullptr, kSndCoopPriority), kSndOk);
    TSndBufferDesc desc;
    desc.Flags = kSndCapsCtrlVolume | kSndCapsGetCurrentPosition2;
    desc.BufferBytes = 44100 * 4;
    desc.Format = &kOutputWaveFormat;
    Ref<TSndBuffer> b;
    ASSERT_EQ(device->CreateSoundBuffer(desc, b), kSndOk);
    void *p1, *p2;
    uint32_t n1, n2;
    ASSERT_EQ(b->Lock(0, desc.BufferBytes, &p1, &n1, &p2, &n2, 0), kSndOk);
    std::memcpy(p1, ramp.data(), n1);
    b->Unlock(p1, n1, p2, n2);
    ASSERT_EQ(b->Play(0, 0, 0), kSndOk);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    uint32_t write = 0;
    b->GetCurrentPosition(&cursor, &write);
    // Heard lags what was mixed by at most one callback.
    EXPECT_LE(write - cursor, device->CallbackFrames() * 4);
    const uint64_t mixed_bytes = device->RenderedFrames() * 4;
    EXPECT_GE(mixed_bytes, write);
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove(path);
  ASSERT_GE(bytes.size(), size_t(cursor));
  // The ramp starts somewhere in the file, and follows sample for sample.
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  size_t onset = 0;
  while (onset < out.size() && out[onset] == 0) ++onset;
  ASSERT_LT(onset + 2000, out.size());
  for (size_t i = 0; i < 2000; ++i) ASSERT_EQ(out[onset + i], ramp[i]) << i;
  // Time moved on: about 300 ms were consumed (a loaded machine may be slower).
  EXPECT_GT(cursor, 44100u * 4 / 10);
}

}  // namespace
}  // namespace kav
