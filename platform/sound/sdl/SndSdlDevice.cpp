#include "platform/sound/sdl/SndSdlDevice.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "VoRav/vxLog.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpThreads2.h"

namespace kav {

namespace {

// SDL keeps per-thread state (its error text) for threads it did not create
// and frees it only when that thread asks: the player opens and closes its
// sound device on its engine thread, which would leave that state behind
// for every show opened. Dropped again after our calls off the GUI thread.
struct TSdlThreadStateScope {
  ~TSdlThreadStateScope() {
    if (!IsMainThread()) SDL_TLSCleanup();
  }
};

}  // namespace

TSndSdlDevice::TSndSdlDevice(uint16_t frames) {
  TSdlThreadStateScope thread_state;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return;
  SDL_AudioSpec want{};
  want.freq = int(kOutputRate);
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = frames;
  want.callback = &TSndSdlDevice::Callback;
  want.userdata = this;
  SDL_AudioSpec have{};
  // SDL converts if the hardware wants something else; the mixer always
  // produces the output format.
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return;
  }
  callback_frames_ = have.samples;
  last_callback_ = std::chrono::steady_clock::now();
  const char* driver = SDL_GetCurrentAudioDriver();
  LogLine(u"Sound device: the system's default output through SDL's \"" + SystemUTF8ToWide(driver ? driver : "") +
          u"\" driver, " + SystemUTF8ToWide(std::to_string(have.freq)) + u" Hz, " +
          SystemUTF8ToWide(std::to_string(int(have.channels))) + u" channels");
  SDL_PauseAudioDevice(device_, 0);
}

void TSndSdlDevice::Dispose() {
  if (device_ != 0) {
    TSdlThreadStateScope thread_state;
    // Closing waits for a running callback, so no callback sees the device
    // half freed.
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  TSndDevice::Dispose();
}

namespace {
std::atomic<uint16_t> g_frames{512};
std::atomic<void (*)()> g_no_device{nullptr};
std::atomic<bool> g_no_device_said{false};

// SDL loads the same libasound that is linked here, so this handler also
// takes the lines ALSA writes while SDL probes it ("cannot find card '0'"
// eight times on a machine without a sound card).
void QuietAlsaError(const char* file, int line, const char* function, int err, const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  std::string where = std::string(file ? file : "") + ":" + std::to_string(line) + ":(" +
                      (function ? function : "") + ") ";
  if (err != 0) where += std::string(snd_strerror(err)) + ": ";
  LogLine(u"ALSA lib " + SystemUTF8ToWide(where) + SystemUTF8ToWide(text));
}
}  // namespace

void TSndSdlDevice::Install(uint16_t frames, void (*no_device)()) {
  g_frames.store(frames);
  g_no_device.store(no_device);
  snd_lib_error_set_handler(&QuietAlsaError);
  SetSndDeviceFactory([]() -> Ref<TSndDevice> {
    auto device = MakeRef<TSndSdlDevice>(g_frames.load());
    if (device->Opened()) return Ref<TSndDevice>(device);
    if (void (*said)() = g_no_device.load(); said && !g_no_device_said.exchange(true)) said();
    return nullptr;
  });
}

void SDLCALL TSndSdlDevice::Callback(void* self, Uint8* stream, int len) {
  auto* device = static_cast<TSndSdlDevice*>(self);
  const uint32_t frames = uint32_t(len) / 4;
  std::lock_guard<std::recursive_mutex> hold(device->lock_);
  device->RenderLocked(reinterpret_cast<int16_t*>(stream), frames);
  device->last_frames_ = frames;
  device->last_callback_ = std::chrono::steady_clock::now();
}

uint32_t TSndSdlDevice::UnheardFramesLocked() {
  const auto elapsed = std::chrono::steady_clock::now() - last_callback_;
  const int64_t heard =
      std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * int64_t(kOutputRate) / 1000000;
  return uint32_t(std::max<int64_t>(int64_t(last_frames_) - heard, 0));
}

}  // namespace kav
