// The SDL2 sound device: SDL's audio thread pulls mixed output from the
// device (44,100 Hz, stereo, 16 bits). Play cursors follow what the audio
// device has consumed: the frames of the last callback count as unheard at
// first and as heard in step with the time that has passed since it.
#pragma once

#include <SDL2/SDL.h>

#include <chrono>

#include "platform/sound/SndDevice.h"

namespace kav {

class TSndSdlDevice : public TSndDevice {
 public:
  // Opens SDL's default audio output with `frames` frames per callback.
  // Opened() tells whether it worked; a device that did not open mixes
  // nothing and its cursors stand still.
  explicit TSndSdlDevice(uint16_t frames = 512);
  bool Opened() const { return device_ != 0; }
  // Frames per callback that SDL granted.
  uint32_t CallbackFrames() const { return callback_frames_; }

  // Installs the SDL backend (devices of `frames` frames per callback): the
  // factory answers null when SDL has no audio output, and then calls
  // `no_device` (when given) the first time only. ALSA's own error lines
  // (no card, no configuration) go to the log instead of the terminal.
  static void Install(uint16_t frames = 512, void (*no_device)() = nullptr);

 protected:
  void Dispose() override;
  uint32_t UnheardFramesLocked() override;

 private:
  static void SDLCALL Callback(void* self, Uint8* stream, int len);

  SDL_AudioDeviceID device_ = 0;
  uint32_t callback_frames_ = 0;
  uint32_t last_frames_ = 0;
  std::chrono::steady_clock::time_point last_callback_;
};

}  // namespace kav
