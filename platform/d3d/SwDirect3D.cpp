#include "platform/d3d/SwDirect3D.h"

#include <cstdlib>
#include <cstring>

#include "platform/d3d/SwDevice.h"

namespace kav {

TSwShaderProfile SwShaderProfileFromEnvironment() {
  const char* v = std::getenv("KAV_D3D_SHADER_LEVEL");
  if (v && std::strcmp(v, "0") == 0) return TSwShaderProfile::Level0;
  if (v && std::strcmp(v, "1") == 0) return TSwShaderProfile::Level1;
  return TSwShaderProfile::Level2;
}

TSwDirect3D::TSwDirect3D(TSwConfig config) : config_(std::move(config)) {
  if (config_.Monitors.empty()) config_.Monitors.push_back(TSwMonitor{});
  for (size_t i = 0; i < config_.Monitors.size(); ++i) {
    memory_.push_back(MakeRef<TSwVideoMemory>());
    memory_.back()->SetBudget(config_.VideoMemoryBudget);
  }
}

TSwRect TSwDirect3D::GetAdapterMonitorRect(uint32_t adapter) const {
  return adapter < GetAdapterCount() ? config_.Monitors[adapter].Bounds : TSwRect{};
}

TSwResult TSwDirect3D::GetAdapterDisplayMode(uint32_t adapter, TSwDisplayMode& mode) const {
  if (adapter >= GetAdapterCount()) return TSwResult::InvalidCall;
  const TSwMonitor& m = config_.Monitors[adapter];
  mode = TSwDisplayMode{uint32_t(m.Bounds.Width()), uint32_t(m.Bounds.Height()), m.RefreshRate, TSwFormat::X8R8G8B8};
  return TSwResult::Ok;
}

TSwResult TSwDirect3D::GetDeviceCaps(uint32_t adapter, TSwCaps& caps) const {
  if (adapter >= GetAdapterCount()) return TSwResult::InvalidCall;
  caps = TSwCaps{};
  caps.PixelShaderVersion = config_.Shaders == TSwShaderProfile::Level0 ? 0 : SwPixelShaderVersion(2, 0);
  caps.VertexShaderVersion = 0;
  caps.MaxTextureWidth = caps.MaxTextureHeight = kSwMaxTextureSize;
  caps.MaxVolumeExtent = 256;
  caps.MaxAnisotropy = 16;
  caps.RasterCaps = SwRasterCapsMipMapLodBias | SwRasterCapsAnisotropy;
  caps.MaxTextureBlendStages = caps.MaxSimultaneousTextures = kSwMaxStages;
  caps.MaxPrimitiveCount = kSwMaxPrimitiveCount;
  caps.NumSimultaneousRTs = 1;
  return TSwResult::Ok;
}

TSwResult TSwDirect3D::GetAdapterIdentifier(uint32_t adapter, uint32_t, TSwAdapterIdentifier& id) const {
  if (adapter >= GetAdapterCount()) return TSwResult::InvalidCall;
  id = TSwAdapterIdentifier{};
  id.Driver = "kavsw";
  id.Description = config_.Backend ? config_.Backend->Description() : "Software 3D device";
  id.DeviceName = "\\\\.\\DISPLAY" + std::to_string(adapter + 1);
  id.DriverVersion = 1;
  id.VendorId = config_.Shaders == TSwShaderProfile::Level1 ? 0x8086 : kSwVendorId;
  id.DeviceId = 1;
  return TSwResult::Ok;
}

TSwResult TSwDirect3D::CheckDeviceFormat(uint32_t adapter, TSwFormat, uint32_t usage, TSwResourceType type,
                                         TSwFormat format) const {
  if (adapter >= GetAdapterCount()) return TSwResult::InvalidCall;
  if (usage & SwUsageDepthStencil)
    return (format == TSwFormat::D24X8 || format == TSwFormat::D16) ? TSwResult::Ok : TSwResult::NotAvailable;
  if (!SwIsColorFormat(format) || type == TSwResourceType::VertexBuffer) return TSwResult::NotAvailable;
  if (usage & SwUsageRenderTarget)
    return (format == TSwFormat::A8R8G8B8 || format == TSwFormat::X8R8G8B8) ? TSwResult::Ok
                                                                            : TSwResult::NotAvailable;
  return TSwResult::Ok;
}

TSwVideoMemory* TSwDirect3D::VideoMemory(uint32_t adapter) const {
  return adapter < memory_.size() ? memory_[adapter].get() : nullptr;
}

TSwResult TSwDirect3D::CreateDevice(uint32_t adapter, TSwWindow focus, uint32_t, TSwPresentParams& params,
                                    Ref<TSwDevice>& out) {
  out = nullptr;
  if (adapter >= GetAdapterCount()) return TSwResult::InvalidCall;
  if (LossActive()) return TSwResult::DeviceLost;
  Ref<TSwDevice> d = Ref<TSwDevice>::Adopt(new TSwDevice(Ref<TSwDirect3D>(this), adapter, focus));
  TSwResult r = d->InitSwapChain(params);
  if (!SwOk(r)) return r;
  out = std::move(d);
  return TSwResult::Ok;
}

void TSwDirect3D::AttachDevice(TSwDevice* d) {
  std::lock_guard<std::mutex> g(lock_);
  devices_.push_back(d);
  if (loss_) d->InjectLoss();  // a device made while the loss lasts starts lost
}

void TSwDirect3D::DetachDevice(TSwDevice* d) {
  std::lock_guard<std::mutex> g(lock_);
  std::erase(devices_, d);
}

void TSwDirect3D::InjectDeviceLoss() {
  std::lock_guard<std::mutex> g(lock_);
  loss_ = true;
  for (TSwDevice* d : devices_) d->InjectLoss();
}

void TSwDirect3D::EndDeviceLoss() {
  std::lock_guard<std::mutex> g(lock_);
  loss_ = false;
  for (TSwDevice* d : devices_) d->EndLoss();
}

bool TSwDirect3D::LossActive() const {
  std::lock_guard<std::mutex> g(lock_);
  return loss_;
}

}  // namespace kav
