// The software 3D system object: adapters (one per configured monitor),
// their capabilities, display modes and format support, and device
// creation. Its configuration also carries the test switches: the shader
// level the adapters report, the video-memory budget and device loss.
#pragma once

#include <mutex>
#include <vector>

#include "platform/d3d/SwDeviceBackend.h"
#include "platform/d3d/SwMemory.h"
#include "platform/d3d/SwPresentSink.h"
#include "platform/d3d/SwTypes.h"

namespace kav {

class TSwDevice;

struct TSwMonitor {
  TSwRect Bounds{0, 0, 1920, 1080};
  uint32_t RefreshRate = 60;
};

// What the adapters report about pixel shaders, and so the shader level the
// callers derive from vendor and version: Level2 a non-Intel vendor with
// pixel shaders 2.0; Level1 Intel's vendor id with 2.0; Level0 no pixel
// shaders (creating one fails).
enum class TSwShaderProfile : uint8_t { Level0, Level1, Level2 };

// The profile named by the environment variable KAV_D3D_SHADER_LEVEL ("0",
// "1" or "2"); Level2 when it is unset or holds anything else.
TSwShaderProfile SwShaderProfileFromEnvironment();

struct TSwConfig {
  std::vector<TSwMonitor> Monitors = std::vector<TSwMonitor>(1);
  TSwShaderProfile Shaders = SwShaderProfileFromEnvironment();
  Ref<TSwPresentSink> Sink;       // null: presented frames go nowhere
  int32_t RasterThreads = 0;      // 0: every hardware thread
  uint64_t VideoMemoryBudget = uint64_t(1) << 31;  // per adapter
  Ref<TSwBackendFactory> Backend = SwDefaultBackend();  // null: the software rasteriser draws
};

constexpr uint32_t kSwVendorId = 0x4B56;  // not Intel's 0x8086
constexpr uint32_t kSwMaxTextureSize = 8192;
// Primitives per draw call: bounds the memory one draw sets up.
constexpr uint32_t kSwMaxPrimitiveCount = 1u << 16;

class TSwDirect3D : public TRefObject {
 public:
  explicit TSwDirect3D(TSwConfig config);

  uint32_t GetAdapterCount() const { return uint32_t(config_.Monitors.size()); }
  // The desktop rectangle of the adapter's monitor (empty for a bad index).
  TSwRect GetAdapterMonitorRect(uint32_t adapter) const;
  TSwResult GetAdapterDisplayMode(uint32_t adapter, TSwDisplayMode& mode) const;
  TSwResult GetDeviceCaps(uint32_t adapter, TSwCaps& caps) const;
  TSwResult GetAdapterIdentifier(uint32_t adapter, uint32_t flags, TSwAdapterIdentifier& id) const;
  // Ok when `format` can be used as `type` with `usage` on a display of
  // `display_format`; NotAvailable otherwise. Depth formats D24X8 and D16
  // are accepted as depth-stencil usage (though devices never create them).
  TSwResult CheckDeviceFormat(uint32_t adapter, TSwFormat display_format, uint32_t usage, TSwResourceType type,
                              TSwFormat format) const;
  // Creates a device whose implicit swap chain presents to
  // `params.DeviceWindow` (or `focus` when that is 0). DeviceLost while a
  // loss injected here is active.
  TSwResult CreateDevice(uint32_t adapter, TSwWindow focus, uint32_t behaviour, TSwPresentParams& params,
                         Ref<TSwDevice>& out);

  const TSwConfig& Config() const { return config_; }
  TSwVideoMemory* VideoMemory(uint32_t adapter) const;

  // Test hooks. InjectDeviceLoss makes every live device (and device
  // creation) report a lost device; EndDeviceLoss lets them report
  // "not reset", after which Reset restores them.
  void InjectDeviceLoss();
  void EndDeviceLoss();
  bool LossActive() const;

  // Device registration (the devices call these).
  void AttachDevice(TSwDevice* d);
  void DetachDevice(TSwDevice* d);

 private:
  TSwConfig config_;
  std::vector<Ref<TSwVideoMemory>> memory_;
  mutable std::mutex lock_;
  std::vector<TSwDevice*> devices_;
  bool loss_ = false;
};

}  // namespace kav
