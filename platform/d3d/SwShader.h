// Pixel shaders of the software device: registered C++ kernels.
//
// A pixel shader is created from a byte blob of our own format:
//   offset 0  4 bytes  magic "KVPS"
//   offset 4  2 bytes  format version, little-endian, 1
//   offset 6  2 bytes  kernel-name length N, little-endian, 1..63
//   offset 8  N bytes  kernel name: letters, digits and '_'
// and nothing after. The name selects a kernel registered with
// SwRegisterPixelKernel. A kernel is called once per covered pixel with the
// interpolated inputs and reaches the samplers bound to the device's stages
// and the float4 constant registers through TSwPixelContext. A kernel may
// also have a span form, called once per run of up to 256 pixels of a row
// with arrays of inputs; sampling whole arrays (SampleSpan) is several times
// faster than sampling pixel by pixel, so heavy kernels (blurs, video) should
// have one. The reference path always uses the per-pixel form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "VoRav/SysObj2.h"
#include "platform/d3d/SwTypes.h"

namespace kav {

// A colour as the pixel pipeline carries it: channels 0..1 in memory order
// of A8R8G8B8 (blue first).
struct TSwColorF {
  float b = 0, g = 0, r = 0, a = 0;
};

struct TSwShaderInput {
  float Tex[kSwMaxTexCoords][2] = {};  // texture-coordinate sets of the vertex format
  TSwColorF Diffuse;                   // 1,1,1,1 when the format has no diffuse colour
  TSwColorF Specular;
  int32_t X = 0, Y = 0;  // the pixel
};

struct TSwPixelState;  // the rasteriser's per-draw state

// The texels a 2D stage samples, for span kernels that read them directly.
struct TSwTexelView {
  const uint8_t* Bits = nullptr;
  int32_t Pitch = 0, Width = 0, Height = 0;
  TSwFormat Format = TSwFormat::Unknown;
  TSwFilter Filter = TSwFilter::Point;  // Point or None: nearest texel; any other: bilinear
  TSwAddress AddressU = TSwAddress::Wrap, AddressV = TSwAddress::Wrap;
};

// The inputs of a run of pixels for the span form of a kernel.
struct TSwSpanInput {
  int32_t X = 0, Y = 0, Count = 0;       // pixels [X, X + Count) of row Y
  const float* U[kSwMaxTexCoords] = {};  // Count values per coordinate set of the vertex format
  const float* V[kSwMaxTexCoords] = {};
  const TSwColorF* Diffuse = nullptr;    // Count values (white without a diffuse colour)
  const TSwColorF* Specular = nullptr;   // Count values (black without a specular colour)
};

// What a kernel may read besides its inputs. Valid only during the call.
class TSwPixelContext {
 public:
  // `fast`: sample in vector registers (the same results).
  TSwPixelContext(const TSwPixelState* state, const float (*derivs)[4], bool fast = false)
      : state_(state), derivs_(derivs), fast_(fast) {}
  // Samples the 2D texture of stage `stage` with that sampler's filters and
  // address modes. The level of detail comes from the screen-space
  // derivatives of the texture-coordinate set with the stage's index (level 0
  // when the format has no such set). An empty stage reads (0, 0, 0, 1).
  TSwColorF Sample(int stage, float u, float v) const;
  // Samples the volume texture of stage `stage` (level 0, trilinear when the
  // sampler's filters are linear). An empty stage reads (0, 0, 0, 1).
  TSwColorF Sample3D(int stage, float u, float v, float w) const;
  // Constant register `i` (0..31) as x, y, z, w.
  const float* Constant(int i) const;

  // Span kernels: samples stage `stage` at `count` coordinate pairs, entry i
  // for pixel X + i of the span (its footprint picks the level), exactly as
  // Sample would for that pixel; 32-bit textures sampled at one level with
  // clamping take eight pairs per step.
  void SampleSpan(int stage, const float* u, const float* v, int32_t count, TSwColorF* out) const;
  // Volume lookups of `count` coordinate triples, as Sample3D.
  void Sample3DSpan(int stage, const float* u, const float* v, const float* w, int32_t count, TSwColorF* out) const;

  // Span kernels: grades `count` colours in place through the volume texture
  // of stage `stage`: each colour c looks up l = Sample3D(stage, c.r * 31/32
  // + 1/64, c.g * 31/32 + 1/64, c.b * 31/32 + 1/64) (texel centres of a
  // 32-entry volume at the ends of the unit range) and becomes c + (l - c) *
  // mix in blue, green and red, its alpha kept; the same floats as those
  // calls, several times faster for clamped 32-bit volumes.
  void GradeSpan(int stage, float mix, TSwColorF* colors, int32_t count) const;

  // Span kernels: the one level and filter stage `stage` samples at every
  // pixel; false when the stage has no 2D texture or its level or filter
  // depends on the footprint (sample through SampleSpan then).
  bool TexelView(int stage, TSwTexelView& out) const;

  // Span mode (set by the rasteriser): derivatives per pixel, laid out
  // [pixel][coordinate set][4]; null when no sampler needs them.
  void SetSpanDerivatives(const float* derivs) { span_derivs_ = derivs; }

 private:
  const TSwPixelState* state_;
  const float (*derivs_)[4];
  bool fast_;
  const float* span_derivs_ = nullptr;
};

// The span form of a kernel: shades in.Count pixels into out[0..Count).
// It must give the pixels the per-pixel form gives (the reference path
// calls the per-pixel form, the fast path the span form when there is one).
using TSwSpanKernel = void (*)(const TSwPixelContext& ctx, const TSwSpanInput& in, TSwColorF* out);

using TSwPixelKernel = void (*)(const TSwPixelContext& ctx, const TSwShaderInput& in, TSwColorF& out);

// The stage form of a kernel: for the constant registers `c` and a diffuse
// colour `d` that is the same at every pixel, answers true when the kernel's
// colour is then the texture of stage 0, sampled at coordinate set 0 exactly
// as Sample does, times m plus a per channel (b, g, r, a), computed as
// texel * m + a in floats (so m = 1, a = 0 is the texel itself and a = 0
// the product alone). Rectangles drawn with such a kernel take the row
// kernels of plain texturing.
using TSwStageForm = bool (*)(const float (*c)[4], const float* d, float* m, float* a);

// Registers (or replaces) a kernel under `name`, with its optional span
// and stage forms. Thread-safe.
void SwRegisterPixelKernel(std::string_view name, TSwPixelKernel kernel, TSwSpanKernel span = nullptr,
                           TSwStageForm stage = nullptr);
// The kernel registered under `name`, or null; `span` and `stage` receive
// its other forms.
TSwPixelKernel SwFindPixelKernel(std::string_view name, TSwSpanKernel* span = nullptr, TSwStageForm* stage = nullptr);

// The blob that binds kernel `name`.
std::string SwPixelShaderBlob(std::string_view name);
// Reads a blob; InvalidCall for anything not exactly of the format above.
TSwResult SwParsePixelShaderBlob(const void* data, size_t size, std::string& name);

class TSwPixelShader : public TRefObject {
 public:
  TSwPixelShader(std::string name, TSwPixelKernel kernel, TSwSpanKernel span = nullptr, TSwStageForm stage = nullptr)
      : name_(std::move(name)), kernel_(kernel), span_(span), stage_(stage) {}
  const std::string& Name() const { return name_; }
  TSwPixelKernel Kernel() const { return kernel_; }
  TSwSpanKernel SpanKernel() const { return span_; }
  TSwStageForm StageForm() const { return stage_; }

 private:
  std::string name_;
  TSwPixelKernel kernel_;
  TSwSpanKernel span_;
  TSwStageForm stage_;
};

// Names of the two sample kernels registered with the library (both with a
// span form):
// "sw_tex_times_constant": stage 0 sampled at coordinate set 0, times c0
// (with a stage form).
// "sw_color_lookup": stage 0 sampled at set 0; its red, green and blue look
// up the volume texture of stage 1 (red along u, green along v, blue along
// w, texel centres at the ends of the unit range); the result mixes the
// colour toward the lookup by c0.x; alpha stays the sampled alpha.
extern const char* const kSwKernelTexTimesConstant;
extern const char* const kSwKernelColorLookup;

}  // namespace kav
