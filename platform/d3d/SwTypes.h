// Value types of the software 3D device: result codes, formats, pools, usage
// and lock flags, rectangles, matrices, render/stage/sampler states and the
// records the device fills (capabilities, adapter identity, display mode).
//
// The device follows the Direct3D 9 model (row-vector transforms v*W*V*P,
// pixel centres on integer coordinates, top-left fill rule) under names of
// its own.
#pragma once

#include <cstdint>
#include <string>

namespace kav {

// Result of every device call.
enum class TSwResult : int32_t {
  Ok = 0,
  InvalidCall,       // bad argument, or a call the current state forbids
  OutOfVideoMemory,  // the adapter's video-memory budget would be exceeded
  DeviceLost,        // the device is lost and cannot be reset yet
  DeviceNotReset,    // the device is lost and can be reset now
  NotAvailable,      // format, feature or kernel not supported
  OutOfMemory,       // the host allocation failed
};
inline bool SwOk(TSwResult r) { return r == TSwResult::Ok; }
const char* SwResultText(TSwResult r);

enum class TSwFormat : uint32_t {
  Unknown = 0,
  A8R8G8B8,  // 32-bit, bytes in memory B, G, R, A
  X8R8G8B8,  // as A8R8G8B8; the alpha byte is ignored and reads as 255
  R5G6B5,
  X1R5G5B5,
  A1R5G5B5,
  A8,
  L8,
  D16,    // depth formats: answered by CheckDeviceFormat, never created
  D24X8,
};
// Bytes per pixel of a colour format; 0 for depth and unknown formats.
int SwBytesPerPixel(TSwFormat f);
bool SwIsColorFormat(TSwFormat f);
const char* SwFormatName(TSwFormat f);

enum class TSwPool : uint8_t { Default, Managed, SystemMem, Scratch };

enum TSwUsage : uint32_t {
  SwUsageRenderTarget = 0x1,
  SwUsageDepthStencil = 0x2,
  SwUsageDynamic = 0x200,
};

enum TSwLockFlags : uint32_t {
  SwLockReadOnly = 0x10,
  SwLockNoSysLock = 0x800,
  SwLockNoOverwrite = 0x1000,
  SwLockDiscard = 0x2000,
  SwLockNoDirtyUpdate = 0x8000,
};

enum class TSwResourceType : uint8_t { Surface, Texture, VolumeTexture, VertexBuffer };

struct TSwRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const TSwRect&, const TSwRect&) = default;
};
TSwRect SwIntersect(const TSwRect& a, const TSwRect& b);

struct TSwBox {
  int32_t left = 0, top = 0, right = 0, bottom = 0, front = 0, back = 0;
};

struct TSwLockedRect {
  int32_t Pitch = 0;
  void* Bits = nullptr;
};

struct TSwLockedBox {
  int32_t RowPitch = 0;
  int32_t SlicePitch = 0;
  void* Bits = nullptr;
};

struct TSwViewport {
  uint32_t X = 0, Y = 0, Width = 0, Height = 0;
  float MinZ = 0.0f, MaxZ = 1.0f;
};

// Row-major 4x4 matrix for row vectors: m[3][0..2] is the translation.
struct TSwMatrix {
  float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  static TSwMatrix Identity() { return TSwMatrix(); }
  friend TSwMatrix operator*(const TSwMatrix& a, const TSwMatrix& b);
};

enum class TSwTransform : uint8_t { World, View, Projection };

enum class TSwPrimitive : uint8_t { PointList, LineList, LineStrip, TriangleList, TriangleStrip, TriangleFan };

// Flexible vertex format bits; components lie in memory in the order
// position, normal, diffuse, specular, texture coordinates (two floats each).
enum TSwFvf : uint32_t {
  SwFvfXYZ = 0x002,
  SwFvfXYZRHW = 0x004,  // already transformed: x, y in pixels, z, 1/w
  SwFvfNormal = 0x010,
  SwFvfDiffuse = 0x040,
  SwFvfSpecular = 0x080,
  SwFvfTexCountShift = 8,
  SwFvfTexCountMask = 0xF00,
};
constexpr uint32_t SwFvfTex(int n) { return uint32_t(n) << SwFvfTexCountShift; }
// Stride of a vertex format in bytes; 0 for a format the device does not take
// (no position, more than 8 coordinate sets, or coordinate sizes other than 2).
uint32_t SwFvfStride(uint32_t fvf);

enum TSwClearFlags : uint32_t { SwClearTarget = 1, SwClearZBuffer = 2, SwClearStencil = 4 };

// ---- Render states ----
enum class TSwRenderState : uint8_t {
  ZEnable,
  ZWriteEnable,
  FillMode,
  ShadeMode,
  CullMode,
  Lighting,
  AlphaBlendEnable,
  SrcBlend,
  DestBlend,
  BlendOp,
  SeparateAlphaBlendEnable,
  SrcBlendAlpha,
  DestBlendAlpha,
  BlendOpAlpha,
  ScissorTestEnable,  // 0 or 1: draws and clears cut to the scissor rectangle
  Count
};
enum class TSwCull : uint32_t { None = 1, CW = 2, CCW = 3 };
enum class TSwFill : uint32_t { Point = 1, Wireframe = 2, Solid = 3 };
enum class TSwShade : uint32_t { Flat = 1, Gouraud = 2 };
enum class TSwBlend : uint32_t {
  Zero = 1, One, SrcColor, InvSrcColor, SrcAlpha, InvSrcAlpha, DestAlpha, InvDestAlpha, DestColor, InvDestColor
};
enum class TSwBlendOp : uint32_t { Add = 1, Subtract, RevSubtract, Min, Max };

// ---- Texture stage states (stages 0..7) ----
enum class TSwStageState : uint8_t { ColorOp, ColorArg1, ColorArg2, AlphaOp, AlphaArg1, AlphaArg2, TexCoordIndex, Count };
enum class TSwTextureOp : uint32_t { Disable = 1, SelectArg1, SelectArg2, Modulate };
enum class TSwTextureArg : uint32_t { Diffuse = 0, Current = 1, Texture = 2, Specular = 4 };

// ---- Sampler states (samplers 0..7) ----
enum class TSwSamplerState : uint8_t {
  AddressU, AddressV, AddressW, MagFilter, MinFilter, MipFilter,
  MipMapLodBias,  // a float stored bit for bit in the 32-bit value
  MaxMipLevel, MaxAnisotropy, Count
};
enum class TSwAddress : uint32_t { Wrap = 1, Mirror, Clamp };
enum class TSwFilter : uint32_t { None = 0, Point, Linear, Anisotropic };

constexpr int kSwMaxStages = 8;
constexpr int kSwMaxTexCoords = 8;
constexpr int kSwPixelConstants = 32;

// ---- Adapter records ----
enum TSwRasterCaps : uint32_t {
  SwRasterCapsMipMapLodBias = 0x2000,
  SwRasterCapsAnisotropy = 0x20000,
};
// Shader version token: 0xFFFF0000 | major << 8 | minor.
constexpr uint32_t SwPixelShaderVersion(uint32_t major, uint32_t minor) {
  return 0xFFFF0000u | (major << 8) | minor;
}

struct TSwCaps {
  uint32_t PixelShaderVersion = 0;
  uint32_t VertexShaderVersion = 0;
  uint32_t MaxTextureWidth = 0, MaxTextureHeight = 0, MaxVolumeExtent = 0;
  uint32_t MaxAnisotropy = 0;
  uint32_t RasterCaps = 0;
  uint32_t MaxTextureBlendStages = 0, MaxSimultaneousTextures = 0;
  uint32_t MaxPrimitiveCount = 0;
  uint32_t NumSimultaneousRTs = 0;
};

struct TSwAdapterIdentifier {
  std::string Driver, Description, DeviceName;
  uint64_t DriverVersion = 0;
  uint32_t VendorId = 0, DeviceId = 0, SubSysId = 0, Revision = 0;
};

struct TSwDisplayMode {
  uint32_t Width = 0, Height = 0, RefreshRate = 0;
  TSwFormat Format = TSwFormat::Unknown;
};

// A native window as the presentation sinks know it (0: none).
using TSwWindow = uint64_t;

enum class TSwSwapEffect : uint32_t { Discard = 1, Flip = 2, Copy = 3 };

struct TSwPresentParams {
  uint32_t BackBufferWidth = 0, BackBufferHeight = 0;  // 0: the window's client size
  TSwFormat BackBufferFormat = TSwFormat::X8R8G8B8;
  uint32_t BackBufferCount = 1;
  TSwSwapEffect SwapEffect = TSwSwapEffect::Copy;
  TSwWindow DeviceWindow = 0;
  bool Windowed = true;
  bool EnableAutoDepthStencil = false;  // the device has no depth buffer: must be false
  uint32_t FullScreenRefreshRate = 0;
  uint32_t PresentationInterval = 0;
};

enum TSwCreateFlags : uint32_t {
  SwCreateFpuPreserve = 0x2,
  SwCreateMultithreaded = 0x4,
  SwCreateSoftwareVertexProcessing = 0x20,
};

}  // namespace kav
