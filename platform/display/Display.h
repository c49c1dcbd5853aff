// The display service: what the system knows of the monitors attached to the
// desktop, and the system screen saver.
//
// One service runs per process; start-up installs it (SetDisplayService) and
// nothing else knows which backend runs. The null backend (null/) answers
// monitors configured by the caller (tests, headless runs); the SDL backend
// (sdl/) asks SDL2's video subsystem.
//
// Threads: the service keeps a snapshot of the monitors. Monitors(), Monitor()
// and Count() read that snapshot and may be called from any thread. Update()
// and the screen-saver calls talk to the window system and must run on the
// GUI thread (SDL may only be called there); the window layer calls Update()
// when the system reports a change of displays.
//
// This library uses nothing of the rest of the system, so the foundation
// library may build on it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kav {

// A rectangle in desktop pixels; right and bottom are exclusive.
struct TDisplayRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const noexcept { return Right - Left; }
  int32_t Height() const noexcept { return Bottom - Top; }
  bool IsEmpty() const noexcept { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TDisplayRect&, const TDisplayRect&) = default;
};

// One mode a monitor can show.
struct TDisplayMode {
  int32_t Width = 0, Height = 0;
  int32_t BitsPerPixel = 0;  // bits a pixel takes in memory: 16, 24 or 32 (0 unknown)
  int32_t RefreshRate = 0;   // Hz; 0 when the system does not report one
  friend bool operator==(const TDisplayMode&, const TDisplayMode&) = default;
};

// One monitor of the desktop.
struct TDisplayMonitor {
  TDisplayRect Bounds;       // the monitor's rectangle on the desktop
  TDisplayRect WorkArea;     // the part not taken by panels and docks
  bool Primary = false;      // exactly one monitor of a snapshot is primary
  int32_t BitsPerPixel = 32; // of the current mode
  int32_t RefreshRate = 0;   // Hz of the current mode; 0 when unknown
  int32_t DpiX = 96, DpiY = 96;
  std::string Name;          // the system's name for it (UTF-8), may be empty
  std::vector<TDisplayMode> Modes;  // the modes it offers, largest first; may be empty
};

class TDisplayService {
 public:
  TDisplayService() = default;
  virtual ~TDisplayService() = default;
  TDisplayService(const TDisplayService&) = delete;
  TDisplayService& operator=(const TDisplayService&) = delete;

  // Any thread: a copy of the current snapshot. Empty when the system
  // reports no monitor (the callers then stand in one of their own).
  std::vector<TDisplayMonitor> Monitors() const;
  // Any thread: the number of monitors in the snapshot.
  int32_t Count() const;
  // Any thread: monitor `index` of the snapshot; false (and `monitor` left
  // alone) when the index is out of range.
  bool Monitor(int32_t index, TDisplayMonitor& monitor) const;
  // Any thread: increases whenever Update() changed the snapshot.
  uint64_t Generation() const;

  // GUI thread: asks the system again; answers whether the snapshot changed.
  virtual bool Update() = 0;

  // GUI thread: allows (true) or prevents (false) the system screen saver
  // and display power saving. Answers false when the system refused.
  virtual bool SetScreenSaverEnabled(bool enabled) = 0;
  // GUI thread: tells the system that a screen saver run has ended. Systems
  // that do not track a running screen saver ignore it.
  virtual void ScreenSaverStopped() {}

 protected:
  // Replaces the snapshot (any thread); answers whether it differed. The
  // first monitor is made primary when none or several say so.
  bool Publish(std::vector<TDisplayMonitor> monitors);

 private:
  mutable std::mutex lock_;
  std::vector<TDisplayMonitor> monitors_;
  uint64_t generation_ = 0;
};

// The installed service; the null backend with one 1920 x 1080 monitor until
// start-up installs another. Never null.
std::shared_ptr<TDisplayService> DisplayService();
// Installs a service (null restores the default null one); answers the
// previous one. Meant for start-up and tests.
std::shared_ptr<TDisplayService> SetDisplayService(std::shared_ptr<TDisplayService> service);

}  // namespace kav
