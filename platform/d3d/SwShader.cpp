#include "platform/d3d/SwShader.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace kav {

const char* const kSwKernelTexTimesConstant = "sw_tex_times_constant";
const char* const kSwKernelColorLookup = "sw_color_lookup";

namespace {

void TexTimesConstant(const TSwPixelContext& ctx, const TSwShaderInput& in, TSwColorF& out) {
  TSwColorF t = ctx.Sample(0, in.Tex[0][0], in.Tex[0][1]);
  const float* c = ctx.Constant(0);
  out = TSwColorF{t.b * c[2], t.g * c[1], t.r * c[0], t.a * c[3]};
}

void ColorLookup(const TSwPixelContext& ctx, const TSwShaderInput& in, TSwColorF& out) {
  TSwColorF t = ctx.Sample(0, in.Tex[0][0], in.Tex[0][1]);
  // A lookup of n texels maps 0 and 1 to the centres of its end texels; the
  // kernel assumes the usual 32 entries per axis.
  const float scale = 31.0f / 32.0f, offset = 0.5f / 32.0f;
  TSwColorF l = ctx.Sample3D(1, t.r * scale + offset, t.g * scale + offset, t.b * scale + offset);
  float m = ctx.Constant(0)[0];
  out = TSwColorF{t.b + (l.b - t.b) * m, t.g + (l.g - t.g) * m, t.r + (l.r - t.r) * m, t.a};
}

void TexTimesConstantSpan(const TSwPixelContext& ctx, const TSwSpanInput& in, TSwColorF* out) {
  ctx.SampleSpan(0, in.U[0], in.V[0], in.Count, out);
  const float* c = ctx.Constant(0);
  for (int32_t i = 0; i < in.Count; ++i) {
    TSwColorF& t = out[i];
    t = TSwColorF{t.b * c[2], t.g * c[1], t.r * c[0], t.a * c[3]};
  }
}

bool TexTimesConstantStage(const float (*c)[4], const float*, float* m, float* a) {
  const float mm[4] = {c[0][2], c[0][1], c[0][0], c[0][3]};
  for (int l = 0; l < 4; ++l) {
    m[l] = mm[l];
    a[l] = 0.0f;
  }
  return true;
}

void ColorLookupSpan(const TSwPixelContext& ctx, const TSwSpanInput& in, TSwColorF* out) {
  ctx.SampleSpan(0, in.U[0], in.V[0], in.Count, out);
  ctx.GradeSpan(1, ctx.Constant(0)[0], out, in.Count);
}

struct TEntry {
  TSwPixelKernel Pixel = nullptr;
  TSwSpanKernel Span = nullptr;
  TSwStageForm Stage = nullptr;
};

struct TRegistry {
  std::mutex lock;
  std::map<std::string, TEntry, std::less<>> kernels;
  TRegistry() {
    kernels[kSwKernelTexTimesConstant] = TEntry{&TexTimesConstant, &TexTimesConstantSpan, &TexTimesConstantStage};
    kernels[kSwKernelColorLookup] = TEntry{&ColorLookup, &ColorLookupSpan};
  }
};

TRegistry& Registry() {
  static TRegistry r;
  return r;
}

constexpr uint8_t kMagic[4] = {'K', 'V', 'P', 'S'};
constexpr size_t kMaxName = 63;

bool ValidName(std::string_view n) {
  if (n.empty() || n.size() > kMaxName) return false;
  for (char c : n)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

}  // namespace

void SwRegisterPixelKernel(std::string_view name, TSwPixelKernel kernel, TSwSpanKernel span, TSwStageForm stage) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  r.kernels[std::string(name)] = TEntry{kernel, span, stage};
}

TSwPixelKernel SwFindPixelKernel(std::string_view name, TSwSpanKernel* span, TSwStageForm* stage) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.kernels.find(name);
  if (span) *span = it == r.kernels.end() ? nullptr : it->second.Span;
  if (stage) *stage = it == r.kernels.end() ? nullptr : it->second.Stage;
  return it == r.kernels.end() ? nullptr : it->second.Pixel;
}

std::string SwPixelShaderBlob(std::string_view name) {
  std::string b(reinterpret_cast<const char*>(kMagic), 4);
  b += char(1);
  b += char(0);
  b += char(name.size() & 0xFF);
  b += char((name.size() >> 8) & 0xFF);
  b += name;
  return b;
}

TSwResult SwParsePixelShaderBlob(const void* data, size_t size, std::string& name) {
  name.clear();
  if (!data || size < 8) return TSwResult::InvalidCall;
  const auto* p = static_cast<const uint8_t*>(data);
  for (int i = 0; i < 4; ++i)
    if (p[i] != kMagic[i]) return TSwResult::InvalidCall;
  uint32_t version = p[4] | (p[5] << 8);
  uint32_t len = p[6] | (p[7] << 8);
  if (version != 1 || len != size - 8) return TSwResult::InvalidCall;
  std::string_view n(reinterpret_cast<const char*>(p + 8), len);
  if (!ValidName(n)) return TSwResult::InvalidCall;
  name.assign(n);
  return TSwResult::Ok;
}

}  // namespace kav
