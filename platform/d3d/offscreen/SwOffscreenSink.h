// The offscreen presentation sink: keeps the last presented picture of each
// window in memory and writes it as PNG. Windows are known once they are
// given a client size (SetClientSize) or first presented to; a window's
// picture grows to hold every presented rectangle. Thread-safe.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/d3d/SwPresentSink.h"

namespace kav {

class TSwOffscreenSink : public TSwPresentSink {
 public:
  bool Present(TSwWindow window, const TSwFrameView& frame, int32_t x, int32_t y) override;
  bool ClientSize(TSwWindow window, uint32_t& width, uint32_t& height) override;

  // Declares a window with its client size; its picture starts black.
  void SetClientSize(TSwWindow window, uint32_t width, uint32_t height);

  struct TFrame {
    uint32_t Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;  // A8R8G8B8, alpha 255
    uint64_t Presents = 0;         // presents received
  };
  // A copy of the window's picture; false for an unknown window.
  bool LastFrame(TSwWindow window, TFrame& out) const;
  // Writes the window's picture as an 8-bit RGB PNG; false for an unknown
  // window or when the file cannot be written.
  bool WritePng(TSwWindow window, const std::string& path) const;

 private:
  mutable std::mutex lock_;
  std::map<TSwWindow, TFrame> frames_;
};

// Writes 32-bit A8R8G8B8 pixels as an 8-bit RGB PNG (alpha dropped).
bool SwWritePngFile(const std::string& path, const uint32_t* pixels, uint32_t width, uint32_t height);

}  // namespace kav
