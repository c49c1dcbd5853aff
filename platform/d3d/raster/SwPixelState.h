// The state one draw call's pixels are shaded with, resolved from the
// device's state when the draw starts: bound textures with their sampler
// settings, the texture stages, the pixel kernel with its constants,
// blending and the render target.
#pragma once

#include <cstdint>

#include "platform/d3d/SwShader.h"
#include "platform/d3d/SwTypes.h"

namespace kav {

constexpr int kSwMaxLevels = 16;

struct TSwLevelView {
  const uint8_t* Bits = nullptr;
  int32_t Pitch = 0;
  int32_t Width = 0, Height = 0;
};

struct TSwSamplerView {
  enum TKind : uint8_t { None, Tex2D, Volume } Kind = None;
  TSwFormat Format = TSwFormat::Unknown;
  int32_t Levels = 0;
  TSwLevelView Level[kSwMaxLevels];
  // Volume level 0.
  int32_t Depth = 0, SlicePitch = 0;
  TSwAddress AddressU = TSwAddress::Wrap, AddressV = TSwAddress::Wrap, AddressW = TSwAddress::Wrap;
  TSwFilter MagFilter = TSwFilter::Point, MinFilter = TSwFilter::Point, MipFilter = TSwFilter::None;
  float LodBias = 0.0f;
  int32_t BaseLevel = 0;  // the sampler's largest allowed level, clamped to the chain
};

struct TSwStageOps {
  TSwTextureOp ColorOp = TSwTextureOp::Disable, AlphaOp = TSwTextureOp::Disable;
  TSwTextureArg ColorArg1 = TSwTextureArg::Texture, ColorArg2 = TSwTextureArg::Current;
  TSwTextureArg AlphaArg1 = TSwTextureArg::Texture, AlphaArg2 = TSwTextureArg::Current;
  int32_t TexCoordIndex = 0;
};

struct TSwBlendState {
  bool Enable = false;
  TSwBlend Src = TSwBlend::One, Dest = TSwBlend::Zero, SrcAlpha = TSwBlend::One, DestAlpha = TSwBlend::Zero;
  TSwBlendOp Op = TSwBlendOp::Add, OpAlpha = TSwBlendOp::Add;
};

struct TSwPixelState {
  TSwSamplerView Samplers[kSwMaxStages];
  TSwStageOps Stages[kSwMaxStages];
  int32_t StageCount = 0;  // stages before the first disabled one
  TSwBlendState Blend;
  TSwPixelKernel Kernel = nullptr;
  TSwSpanKernel SpanKernel = nullptr;
  TSwStageForm KernelStage = nullptr;
  float Constants[kSwPixelConstants][4] = {};
  // Vertex format facts the pixel stage needs.
  bool HasDiffuse = false, HasSpecular = false;
  int32_t TexSets = 0;
  // Render target and the rectangle drawing may touch (viewport and target).
  uint8_t* Target = nullptr;
  int32_t TargetPitch = 0;
  TSwFormat TargetFormat = TSwFormat::A8R8G8B8;
  TSwRect Clip;
};

}  // namespace kav
