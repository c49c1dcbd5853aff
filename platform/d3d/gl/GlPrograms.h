// The GLSL the GL device runs: one vertex shader for both vertex kinds
// (transformed through world, view and projection, or already in pixels
// with 1/w), the texture stages generated per combination of their states,
// and the named kernels' registered GLSL wrapped with the helpers they use.
//
// Coordinates: GL textures and framebuffer objects hold rows top first, as
// the device's memory does, so texture coordinates pass unchanged and a
// pixel row y of the device is GL window row y; pixel centres of the device
// lie on integers, GL's on halves, hence the half-pixel shift. Clip depth
// 0..w maps to GL's -w..w. Presenting flips rows once into the window.
#pragma once

#include <cstdint>
#include <string>

#include "platform/d3d/SwTypes.h"

namespace kav {

// Vertex attribute locations.
constexpr int kGlAttrPosition = 0, kGlAttrDiffuse = 1, kGlAttrSpecular = 2, kGlAttrTex0 = 3;
// Texture units: 2D textures of stage s on unit s, volume textures on 8 + s.
constexpr int kGlVolumeUnit = 8;

std::string GlVertexSource();

// One texture stage as the fragment shader needs it.
struct TGlStageKey {
  uint8_t ColorOp = 0, AlphaOp = 0, ColorArg1 = 0, ColorArg2 = 0, AlphaArg1 = 0, AlphaArg2 = 0;
  uint8_t TexCoordIndex = 0;
  bool HasTexture = false;  // a 2D texture is bound
};

// The fragment shader of the texture stages [0, count) with `tex_sets`
// coordinate sets in the vertex format.
std::string GlStagesSource(const TGlStageKey* stages, int count, int tex_sets);
// The fragment shader of a kernel whose GLSL is `body` (defines vec4 Kernel()).
std::string GlKernelFragmentSource(const std::string& body);

}  // namespace kav
