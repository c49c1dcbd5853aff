// The draw manager's pixel programs in GLSL for the OpenGL device: each
// gives what its kernel in DrawShaders.cpp gives (same taps, same
// combination, same lookups), in the helpers the device supplies (Tex(set),
// Diffuse(), C(register), samplers s0..s7 for 2D stages and t0..t7 for
// volume stages).
#include "KavLib2/3DEngine/DrawShaders.h"
#include "platform/d3d/SwDeviceBackend.h"

namespace kav {

namespace {

// Shared helpers: YUV (BT.601 studio range), chroma key, field lines, the
// two kinds of grading and the seven-tap blur.
const char* kCommon = R"(
vec3 YuvToRgb(float y, float u, float v) {
  float yy = (y * 255.0 - 16.0) * 1.1643835616438356;
  float uu = u * 255.0 - 128.0, vv = v * 255.0 - 128.0;
  return clamp(vec3((yy + 1.596 * vv) / 255.0, (yy - 0.813 * vv - 0.391 * uu) / 255.0, (yy + 2.018 * uu) / 255.0),
               0.0, 1.0);
}
float KeyAlpha(float u, float v) {
  vec4 d = C(3), k = C(4);
  float dist = length(vec2(u - k.x, v - k.y));
  if (d.y > 0.0) return clamp((dist - d.x) * d.y, 0.0, 1.0);
  return dist > d.x ? 1.0 : 0.0;
}
float FieldY(vec2 uv, float y) {
  float height = C(1).x, step = C(1).y;
  int field = int(C(2).x) & 1;
  int line = int(floor(uv.y * height));
  if (((line + field) & 1) == 0) return y;
  return (texture(s0, uv - vec2(0.0, step)).r + texture(s0, uv + vec2(0.0, step)).r) * 0.5;
}
vec4 GradeVolume(sampler3D lut, vec4 c) {
  float t = C(0).x;
  if (t == 0.0) return c;
  vec4 l = textureLod(lut, c.rgb * (31.0 / 32.0) + 0.5 / 32.0, 0.0);
  return vec4(mix(c.rgb, l.rgb, t), c.a);
}
// Seven taps along `d` around `uv`, weights `w` from the outer pair to the centre.
vec4 Gauss7(vec2 uv, vec2 d, vec4 w) {
  vec4 o = texture(s0, uv) * w.w;
  o += (texture(s0, uv - d) + texture(s0, uv + d)) * w.z;
  o += (texture(s0, uv - 2.0 * d) + texture(s0, uv + 2.0 * d)) * w.y;
  o += (texture(s0, uv - 3.0 * d) + texture(s0, uv + 3.0 * d)) * w.x;
  return o;
}
)";

struct TSource {
  const char* Name;
  const char* Body;
};

const TSource kSources[] = {
    {"videomask", "vec4 Kernel() { return texture(s0, Tex(0)); }"},
    {"premul", "vec4 Kernel() { return texture(s0, Tex(0)); }"},
    {"premul2", "vec4 Kernel() { return texture(s0, Tex(0)); }"},
    {"premul3", R"(vec4 Kernel() {
  // Content (premultiplied) masked by the mask's luminance; the colour comes
  // out straight for source-alpha blending.
  vec4 c = texture(s0, Tex(0)), m = texture(s1, Tex(1));
  float mask = clamp(0.299 * m.r + 0.587 * m.g + 0.114 * m.b, 0.0, 1.0);
  float inv = c.a > 0.0 ? 1.0 / c.a : 0.0;
  return vec4(clamp(c.rgb * inv, 0.0, 1.0), c.a * mask);
})"},
    {"gauss_blur_h7", "vec4 Kernel() { return Gauss7(Tex(0), vec2(C(1).x, 0.0), C(0)); }"},
    {"gauss_blur_v7", "vec4 Kernel() { return Gauss7(Tex(0), vec2(0.0, C(1).x), C(0)); }"},
    {"gauss_mix", "vec4 Kernel() { return mix(texture(s0, Tex(0)), texture(s1, Tex(1)), C(0).x); }"},
    {"unsharp", R"(vec4 Kernel() {
  vec2 uv = Tex(0), inv = C(0).xy;
  float threshold = C(1).x, amount = C(2).x;
  vec4 c = texture(s0, uv);
  vec3 around = texture(s0, uv - vec2(inv.x, 0.0)).rgb + texture(s0, uv + vec2(inv.x, 0.0)).rgb +
                texture(s0, uv - vec2(0.0, inv.y)).rgb + texture(s0, uv + vec2(0.0, inv.y)).rgb;
  vec3 diff = c.rgb - (c.rgb * 4.0 + around) * 0.125;
  vec3 v = mix(c.rgb, c.rgb + amount * diff, vec3(greaterThan(abs(diff), vec3(threshold))));
  return vec4(min(vec3(c.a), max(vec3(0.0), v)), c.a);  // premultiplied: never above alpha
})"},
    {"color_grading", "vec4 Kernel() { return GradeVolume(t1, texture(s0, Tex(0))) * Diffuse(); }"},
    {"color_grade_linear", R"(vec4 Kernel() {
  vec4 c = texture(s0, Tex(0));
  float t = C(0).x;
  if (t != 0.0) {
    vec3 at = clamp(c.rgb, 0.0, 1.0) * (255.0 / 256.0) + 0.5 / 256.0;
    vec3 l = vec3(textureLod(s2, vec2(at.r, 0.5), 0.0).r, textureLod(s2, vec2(at.g, 0.5), 0.0).g,
                  textureLod(s2, vec2(at.b, 0.5), 0.0).b);
    c = vec4(mix(c.rgb, l, t), c.a);
  }
  return c * Diffuse();
})"},
    {"color_grade_video", R"(vec4 Kernel() {
  vec3 rgb = YuvToRgb(texture(s0, Tex(0)).r, texture(s1, Tex(1)).r, texture(s2, Tex(2)).r);
  return GradeVolume(t3, vec4(rgb, 1.0)) * Diffuse();
})"},
    {"color_grade_deinter", R"(vec4 Kernel() {
  float y = FieldY(Tex(0), texture(s0, Tex(0)).r);
  vec3 rgb = YuvToRgb(y, texture(s1, Tex(1)).r, texture(s2, Tex(2)).r);
  return GradeVolume(t3, vec4(rgb, 1.0)) * Diffuse();
})"},
    {"color_grade_chromakey", R"(vec4 Kernel() {
  float u = texture(s1, Tex(1)).r, v = texture(s2, Tex(2)).r;
  vec3 rgb = YuvToRgb(texture(s0, Tex(0)).r, u, v);
  return GradeVolume(t3, vec4(rgb, KeyAlpha(u, v))) * Diffuse();
})"},
    {"color_grade_chroma_deinter", R"(vec4 Kernel() {
  float u = texture(s1, Tex(1)).r, v = texture(s2, Tex(2)).r;
  vec3 rgb = YuvToRgb(FieldY(Tex(0), texture(s0, Tex(0)).r), u, v);
  return GradeVolume(t3, vec4(rgb, KeyAlpha(u, v))) * Diffuse();
})"},
};

}  // namespace

void RegisterDrawKernelSources() {
  for (const TSource& s : kSources) SwRegisterKernelSource(s.Name, std::string(kCommon) + s.Body);
}

}  // namespace kav
