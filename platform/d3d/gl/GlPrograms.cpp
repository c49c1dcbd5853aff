#include "platform/d3d/gl/GlPrograms.h"

namespace kav {

std::string GlVertexSource() {
  return R"(#version 330 core
layout(location = 0) in vec4 a_pos;
layout(location = 1) in vec4 a_diffuse;
layout(location = 2) in vec4 a_specular;
layout(location = 3) in vec2 a_tex0;
layout(location = 4) in vec2 a_tex1;
layout(location = 5) in vec2 a_tex2;
layout(location = 6) in vec2 a_tex3;
layout(location = 7) in vec2 a_tex4;
layout(location = 8) in vec2 a_tex5;
layout(location = 9) in vec2 a_tex6;
layout(location = 10) in vec2 a_tex7;
uniform mat4 u_wvp;
uniform vec4 u_vp;      // viewport x, y, width, height
uniform vec2 u_target;  // render target width, height
uniform int u_rhw;      // positions are pixels and 1/w
out vec4 v_diffuse;
out vec4 v_specular;
out vec2 v_tex[8];
void main() {
  vec4 c;
  if (u_rhw != 0) {
    float w = 1.0 / a_pos.w;
    c = vec4(((a_pos.x + 0.5) * 2.0 / u_target.x - 1.0) * w, ((a_pos.y + 0.5) * 2.0 / u_target.y - 1.0) * w,
             (2.0 * a_pos.z - 1.0) * w, w);
  } else {
    vec4 p = u_wvp * vec4(a_pos.xyz, 1.0);
    float sx = u_vp.x * p.w + (p.x + p.w) * (u_vp.z * 0.5);
    float sy = u_vp.y * p.w + (p.w - p.y) * (u_vp.w * 0.5);
    c = vec4((sx + 0.5 * p.w) * (2.0 / u_target.x) - p.w, (sy + 0.5 * p.w) * (2.0 / u_target.y) - p.w,
             2.0 * p.z - p.w, p.w);
  }
  gl_Position = c;
  v_diffuse = a_diffuse;
  v_specular = a_specular;
  v_tex[0] = a_tex0; v_tex[1] = a_tex1; v_tex[2] = a_tex2; v_tex[3] = a_tex3;
  v_tex[4] = a_tex4; v_tex[5] = a_tex5; v_tex[6] = a_tex6; v_tex[7] = a_tex7;
}
)";
}

namespace {

const char* kFragmentHead = R"(#version 330 core
in vec4 v_diffuse;
in vec4 v_specular;
in vec2 v_tex[8];
uniform sampler2D s0, s1, s2, s3, s4, s5, s6, s7;
uniform sampler3D t0, t1, t2, t3, t4, t5, t6, t7;
uniform vec4 c[32];
layout(location = 0) out vec4 o_color;
)";

// Texture arguments (TSwTextureArg).
std::string Arg(uint8_t arg, const std::string& tex) {
  switch (arg) {
    case 0: return "diffuse";
    case 2: return tex;
    case 4: return "specular";
    default: return "cur";
  }
}

bool ReadsTexture(uint8_t op, uint8_t a1, uint8_t a2) {
  const bool r1 = op == 2 || op == 4, r2 = op == 3 || op == 4;
  return (r1 && a1 == 2) || (r2 && a2 == 2);
}

}  // namespace

std::string GlStagesSource(const TGlStageKey* stages, int count, int tex_sets) {
  std::string s = kFragmentHead;
  s += "void main() {\n  vec4 diffuse = v_diffuse;\n  vec4 specular = v_specular;\n  vec4 cur = diffuse;\n";
  for (int i = 0; i < count; ++i) {
    const TGlStageKey& k = stages[i];
    const std::string n = std::to_string(i);
    std::string tex = "cur";
    const bool uses = k.ColorArg1 == 2 || k.ColorArg2 == 2 || k.AlphaArg1 == 2 || k.AlphaArg2 == 2;
    s += "  {\n";
    if (k.HasTexture && uses) {
      const std::string coord = k.TexCoordIndex < tex_sets ? "v_tex[" + std::to_string(k.TexCoordIndex) + "]"
                                                            : std::string("vec2(0.0)");
      s += "    vec4 tex = texture(s" + n + ", " + coord + ");\n";
      tex = "tex";
    }
    // A stage without a texture passes its input through wherever an
    // operation reads the texture.
    const bool color_pass = !k.HasTexture && ReadsTexture(k.ColorOp, k.ColorArg1, k.ColorArg2);
    const bool alpha_pass = !k.HasTexture && ReadsTexture(k.AlphaOp, k.AlphaArg1, k.AlphaArg2);
    s += "    vec4 next = cur;\n";
    const std::string c1 = Arg(k.ColorArg1, tex), c2 = Arg(k.ColorArg2, tex);
    const std::string a1 = Arg(k.AlphaArg1, tex), a2 = Arg(k.AlphaArg2, tex);
    switch (color_pass ? 1 : k.ColorOp) {
      case 2: s += "    next.rgb = " + c1 + ".rgb;\n"; break;
      case 3: s += "    next.rgb = " + c2 + ".rgb;\n"; break;
      case 4: s += "    next.rgb = " + c1 + ".rgb * " + c2 + ".rgb;\n"; break;
      default: break;
    }
    switch (alpha_pass ? 1 : k.AlphaOp) {
      case 2: s += "    next.a = " + a1 + ".a;\n"; break;
      case 3: s += "    next.a = " + a2 + ".a;\n"; break;
      case 4: s += "    next.a = " + a1 + ".a * " + a2 + ".a;\n"; break;
      default: break;
    }
    s += "    cur = next;\n  }\n";
  }
  s += "  o_color = cur;\n}\n";
  return s;
}

std::string GlKernelFragmentSource(const std::string& body) {
  std::string s = kFragmentHead;
  s += R"(vec2 Tex(int set) { return v_tex[set]; }
vec4 Diffuse() { return v_diffuse; }
vec4 Specular() { return v_specular; }
vec4 C(int i) { return c[i]; }
)";
  s += body;
  s += "\nvoid main() { o_color = Kernel(); }\n";
  return s;
}

}  // namespace kav
