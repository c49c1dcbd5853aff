#include "platform/d3d/gl/GlDevice.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "VoRav/vxLog.h"
#include "platform/d3d/SwFormat.h"
#include "platform/d3d/gl/GlPrograms.h"
#include "platform/d3d/raster/SwDraw.h"

namespace kav {

namespace {

void LogGl(const std::string& text) { LogLine(std::u16string(text.begin(), text.end())); }

struct TFormatGl {
  GLint Internal = 0;
  GLenum Format = 0, Type = 0;
  GLint Swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
  int Bytes = 4;
};

TFormatGl FormatGl(TSwFormat f) {
  TFormatGl g;
  switch (f) {
    case TSwFormat::A8R8G8B8: g = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE}; break;
    case TSwFormat::X8R8G8B8:
      g = {GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE};
      g.Swizzle[3] = GL_ONE;
      break;
    case TSwFormat::R5G6B5: g = {GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5}; g.Bytes = 2; break;
    case TSwFormat::A1R5G5B5: g = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV}; g.Bytes = 2; break;
    case TSwFormat::X1R5G5B5:
      g = {GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV};
      g.Swizzle[3] = GL_ONE;
      g.Bytes = 2;
      break;
    case TSwFormat::A8:
      g = {GL_R8, GL_RED, GL_UNSIGNED_BYTE};
      g.Swizzle[0] = g.Swizzle[1] = g.Swizzle[2] = GL_ZERO;
      g.Swizzle[3] = GL_RED;
      g.Bytes = 1;
      break;
    case TSwFormat::L8:
      g = {GL_R8, GL_RED, GL_UNSIGNED_BYTE};
      g.Swizzle[0] = g.Swizzle[1] = g.Swizzle[2] = GL_RED;
      g.Swizzle[3] = GL_ONE;
      g.Bytes = 1;
      break;
    default: break;
  }
  return g;
}

GLenum BlendGl(uint32_t b) {
  switch (TSwBlend(b)) {
    case TSwBlend::Zero: return GL_ZERO;
    case TSwBlend::One: return GL_ONE;
    case TSwBlend::SrcColor: return GL_SRC_COLOR;
    case TSwBlend::InvSrcColor: return GL_ONE_MINUS_SRC_COLOR;
    case TSwBlend::SrcAlpha: return GL_SRC_ALPHA;
    case TSwBlend::InvSrcAlpha: return GL_ONE_MINUS_SRC_ALPHA;
    case TSwBlend::DestAlpha: return GL_DST_ALPHA;
    case TSwBlend::InvDestAlpha: return GL_ONE_MINUS_DST_ALPHA;
    case TSwBlend::DestColor: return GL_DST_COLOR;
    case TSwBlend::InvDestColor: return GL_ONE_MINUS_DST_COLOR;
  }
  return GL_ONE;
}

GLenum BlendOpGl(uint32_t op) {
  switch (TSwBlendOp(op)) {
    case TSwBlendOp::Add: return GL_FUNC_ADD;
    case TSwBlendOp::Subtract: return GL_FUNC_SUBTRACT;
    case TSwBlendOp::RevSubtract: return GL_FUNC_REVERSE_SUBTRACT;
    case TSwBlendOp::Min: return GL_MIN;
    case TSwBlendOp::Max: return GL_MAX;
  }
  return GL_FUNC_ADD;
}

GLenum PrimitiveGl(TSwPrimitive p) {
  switch (p) {
    case TSwPrimitive::PointList: return GL_POINTS;
    case TSwPrimitive::LineList: return GL_LINES;
    case TSwPrimitive::LineStrip: return GL_LINE_STRIP;
    case TSwPrimitive::TriangleList: return GL_TRIANGLES;
    case TSwPrimitive::TriangleStrip: return GL_TRIANGLE_STRIP;
    case TSwPrimitive::TriangleFan: return GL_TRIANGLE_FAN;
  }
  return GL_TRIANGLES;
}

GLint WrapGl(uint32_t a) {
  switch (TSwAddress(a)) {
    case TSwAddress::Mirror: return GL_MIRRORED_REPEAT;
    case TSwAddress::Clamp: return GL_CLAMP_TO_EDGE;
    default: return GL_REPEAT;
  }
}

bool LinearFilter(uint32_t f) { return f == uint32_t(TSwFilter::Linear) || f == uint32_t(TSwFilter::Anisotropic); }

GLuint Compile(GLenum kind, const std::string& src, std::string* log) {
  GLuint s = gl.CreateShader(kind);
  const char* text = src.c_str();
  gl.ShaderSource(s, 1, &text, nullptr);
  gl.CompileShader(s);
  GLint ok = 0;
  gl.GetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char buf[2048] = {};
    gl.GetShaderInfoLog(s, sizeof buf - 1, nullptr, buf);
    if (log) *log = buf;
    gl.DeleteShader(s);
    return 0;
  }
  return s;
}

}  // namespace

bool GlRendererIsSoftware(const std::string& renderer) {
  std::string r = renderer;
  for (char& c : r) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const char* soft : {"llvmpipe", "softpipe", "swrast", "software rasterizer", "swr "})
    if (r.find(soft) != std::string::npos) return true;
  return false;
}

std::string GlContextRenderer(TGlContext* context) {
  if (!context || !context->MakeCurrent(0)) return std::string();
  using TGetString = const GLubyte* (*)(GLenum);
  const auto get = reinterpret_cast<TGetString>(context->Lookup()("glGetString"));
  const GLubyte* s = get ? get(GL_RENDERER) : nullptr;
  std::string renderer = s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
  context->Release();
  return renderer;
}

bool HasGraphicsDeviceNode() {
  for (const char* node : {"/dev/dri", "/dev/nvidia0"})
    if (access(node, F_OK) == 0) return true;
  return false;
}

// ---- TGlSystem ----

Ref<TGlSystem> TGlSystem::Create(Ref<TGlContext> context, std::string* error) {
  if (!context) {
    if (error) *error = "no GL context";
    return nullptr;
  }
  Ref<TGlSystem> sys = Ref<TGlSystem>::Adopt(new TGlSystem(std::move(context)));
  std::lock_guard<std::recursive_mutex> g(sys->lock_);
  if (!sys->context_->MakeCurrent(0)) {
    if (error) *error = "the GL context cannot be made current";
    return nullptr;
  }
  sys->owner_ = std::this_thread::get_id();
  const bool ok = sys->InitContext(error);
  sys->Done(false);
  if (!ok) return nullptr;
  return sys;
}

bool TGlSystem::InitContext(std::string* error) {
  const char* missing = nullptr;
  if (!GlLoad(context_->Lookup(), &missing)) {
    if (error) *error = std::string("the GL function ") + (missing ? missing : "?") + " is missing";
    return false;
  }
  GLint major = 0, minor = 0;
  gl.GetIntegerv(GL_MAJOR_VERSION, &major);
  gl.GetIntegerv(GL_MINOR_VERSION, &minor);
  auto str = [](GLenum e) {
    const GLubyte* s = gl.GetString(e);
    return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
  };
  info_.Vendor = str(GL_VENDOR);
  info_.Renderer = str(GL_RENDERER);
  info_.Version = str(GL_VERSION);
  info_.Shading = str(GL_SHADING_LANGUAGE_VERSION);
  if (major < 3 || (major == 3 && minor < 3)) {
    if (error) *error = "OpenGL " + std::to_string(major) + "." + std::to_string(minor) + " is below 3.3";
    return false;
  }
  GLint strategy = 0;
  gl.GetIntegerv(GL_RESET_NOTIFICATION_STRATEGY, &strategy);
  gl.GetError();  // the query is unknown below 4.5 without the extension
  robust_ = strategy == GL_LOSE_CONTEXT_ON_RESET && gl.GetGraphicsResetStatus;
  std::string log;
  vertex_shader_ = Compile(GL_VERTEX_SHADER, GlVertexSource(), &log);
  if (!vertex_shader_) {
    if (error) *error = "the vertex shader does not compile: " + log;
    return false;
  }
  gl.GenVertexArrays(1, &vao_);
  gl.BindVertexArray(vao_);
  gl.GenBuffers(1, &vbo_);
  gl.BindBuffer(GL_ARRAY_BUFFER, vbo_);
  gl.GenTextures(1, &scratch_tex_);
  gl.GenFramebuffers(1, &scratch_fbo_);
  gl.Disable(GL_DITHER);
  gl.Disable(GL_DEPTH_TEST);
  gl.Enable(GL_SCISSOR_TEST);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
  gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
  if (gl.GetError() != GL_NO_ERROR) {
    if (error) *error = "GL setup failed";
    return false;
  }
  return true;
}

void TGlSystem::Dispose() {
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (Acquire(0)) {
      Forget(true);
      for (auto& [key, p] : programs_) gl.DeleteProgram(p.Name);
      programs_.clear();
      if (vertex_shader_) gl.DeleteShader(vertex_shader_);
      gl.DeleteVertexArrays(1, &vao_);
      gl.DeleteBuffers(1, &vbo_);
      gl.DeleteTextures(1, &scratch_tex_);
      gl.DeleteFramebuffers(1, &scratch_fbo_);
      Done(false);
    }
    rts_.clear();
    texs_.clear();
  }
  context_ = nullptr;
  TSwBackendFactory::Dispose();
}

size_t TGlSystem::KeptObjects() {
  std::lock_guard<std::recursive_mutex> g(lock_);
  return rts_.size() + texs_.size();
}

void TGlSystem::LogOnce(const std::string& what) {
  if (std::find(logged_.begin(), logged_.end(), what) != logged_.end()) return;
  logged_.push_back(what);
  LogGl("OpenGL device: " + what);
}

bool TGlSystem::Acquire(TSwWindow window) {
  const std::thread::id me = std::this_thread::get_id();
  if (owner_ != std::thread::id() && owner_ != me) {
    LogOnce("the context is in use on another thread; a call drew nothing");
    return false;
  }
  if (owner_ == me && (window == 0 || window == current_window_)) return true;
  if (GlNullActive()) {
    owner_ = me;
    return true;
  }
  TGlDriverTime driver;
  if (!context_ || !context_->MakeCurrent(window)) {
    LogOnce("the context cannot be made current" + std::string(window ? " on a window" : ""));
    return false;
  }
  owner_ = me;
  current_window_ = window;
  DeletePending();
  return true;
}

void TGlSystem::Done(bool keep) {
  if (keep || owner_ != std::this_thread::get_id()) return;
  TGlDriverTime driver;
  if (context_ && !GlNullActive()) context_->Release();
  owner_ = std::thread::id();
  current_window_ = 0;
}

void TGlSystem::DeletePending() {
  if (!dead_textures_.empty()) gl.DeleteTextures(GLsizei(dead_textures_.size()), dead_textures_.data());
  if (!dead_fbos_.empty()) gl.DeleteFramebuffers(GLsizei(dead_fbos_.size()), dead_fbos_.data());
  dead_textures_.clear();
  dead_fbos_.clear();
}

// Forgets every object kept for resources; `delete_names` false after a
// reset, when the names died with the old context.
void TGlSystem::Forget(bool delete_names) {
  for (auto& [key, r] : rts_) {
    if (!delete_names) continue;
    dead_textures_.push_back(r.Tex);
    dead_fbos_.push_back(r.Fbo);
  }
  for (auto& [key, t] : texs_)
    if (delete_names) dead_textures_.push_back(t.Name);
  for (auto& [key, w] : windows_)
    if (delete_names) {
      dead_textures_.push_back(w.Tex);
      dead_fbos_.push_back(w.Fbo);
    }
  rts_.clear();
  texs_.clear();
  windows_.clear();
  if (!delete_names) {
    dead_textures_.clear();
    dead_fbos_.clear();
  } else if (owner_ == std::this_thread::get_id()) {
    DeletePending();
  }
}

// Lets go of the objects of resources only this system still holds.
void TGlSystem::SweepUnused() {
  for (auto it = rts_.begin(); it != rts_.end();) {
    if (it->second.Keep->RefCount() == 1) {
      dead_textures_.push_back(it->second.Tex);
      dead_fbos_.push_back(it->second.Fbo);
      it = rts_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = texs_.begin(); it != texs_.end();) {
    if (it->second.Keep->RefCount() == 1) {
      dead_textures_.push_back(it->second.Name);
      it = texs_.erase(it);
    } else {
      ++it;
    }
  }
  if (owner_ == std::this_thread::get_id()) DeletePending();
}

void TGlSystem::HandleReset() {
  simulate_reset_ = false;
  LogGl("OpenGL device: the context was reset; the devices are lost");
  for (TSwDevice* d : devices_) d->InjectLoss();
  Forget(false);
  programs_.clear();  // their names died with the context
  vertex_shader_ = vao_ = vbo_ = scratch_tex_ = scratch_fbo_ = 0;
  context_->Release();
  owner_ = std::thread::id();
  current_window_ = 0;
  if (!context_->Recreate() || !context_->MakeCurrent(0)) {
    LogGl("OpenGL device: no new context yet");
    return;
  }
  owner_ = std::this_thread::get_id();
  std::string error;
  if (!InitContext(&error)) {
    LogGl("OpenGL device: the new context failed: " + error);
    return;
  }
  for (TSwDevice* d : devices_) d->EndLoss();
}

TGlSystem::TRt* TGlSystem::RtOf(TSwSurface* s) {
  if (!s) return nullptr;
  auto it = rts_.find(s);
  if (it != rts_.end()) return &it->second;
  TRt r;
  r.Keep = Ref<TSwSurface>(s);
  r.X8 = s->Format() == TSwFormat::X8R8G8B8;
  gl.GenTextures(1, &r.Tex);
  gl.BindTexture(GL_TEXTURE_2D, r.Tex);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(s->Width()), GLsizei(s->Height()), 0, GL_BGRA, GL_UNSIGNED_BYTE,
                nullptr);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl.GenFramebuffers(1, &r.Fbo);
  gl.BindFramebuffer(GL_FRAMEBUFFER, r.Fbo);
  gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, r.Tex, 0);
  // A new target holds zeros, as the device's memory does (alpha 1 where
  // the format has none).
  gl.Disable(GL_SCISSOR_TEST);
  gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  gl.ClearColor(0, 0, 0, r.X8 ? 1.0f : 0.0f);
  gl.Clear(GL_COLOR_BUFFER_BIT);
  gl.Enable(GL_SCISSOR_TEST);
  if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) LogOnce("a render target is incomplete");
  return &(rts_[s] = std::move(r));
}

TGlSystem::TTex* TGlSystem::TexOf(TSwBaseTexture* t) {
  auto it = texs_.find(t);
  TTex* e = nullptr;
  if (it == texs_.end()) {
    TTex n;
    n.Keep = Ref<TSwBaseTexture>(t);
    n.Volume = t->Type() == TSwResourceType::VolumeTexture;
    gl.GenTextures(1, &n.Name);
    n.Writes.assign(t->GetLevelCount(), ~0u);
    e = &(texs_[t] = std::move(n));
    const GLenum target = e->Volume ? GL_TEXTURE_3D : GL_TEXTURE_2D;
    gl.BindTexture(target, e->Name);
    const TFormatGl f = FormatGl(t->Format());
    gl.TexParameteriv(target, GL_TEXTURE_SWIZZLE_RGBA, f.Swizzle);
  } else {
    e = &it->second;
    gl.BindTexture(e->Volume ? GL_TEXTURE_3D : GL_TEXTURE_2D, e->Name);
  }
  const TFormatGl f = FormatGl(t->Format());
  if (e->Volume) {
    auto* v = static_cast<TSwVolumeTexture*>(t);
    const TSwVolumeTexture::TLevel& lv = v->Level(0);
    const uint32_t w = lv.Writes.load();
    if (e->Writes[0] != w) {
      e->Writes[0] = w;
      gl.PixelStorei(GL_UNPACK_ROW_LENGTH, lv.RowPitch / f.Bytes);
      gl.PixelStorei(GL_UNPACK_IMAGE_HEIGHT, lv.SlicePitch / lv.RowPitch);
      gl.TexImage3D(GL_TEXTURE_3D, 0, f.Internal, GLsizei(lv.Desc.Width), GLsizei(lv.Desc.Height),
                    GLsizei(lv.Desc.Depth), 0, f.Format, f.Type, lv.Block->Data());
      gl.PixelStorei(GL_UNPACK_IMAGE_HEIGHT, 0);
      gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
      gl.TexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAX_LEVEL, 0);
    }
    return e;
  }
  auto* tex = static_cast<TSwTexture*>(t);
  for (uint32_t l = 0; l < tex->GetLevelCount(); ++l) {
    TSwSurface* s = tex->Level(l);
    const uint32_t w = s->Writes();
    if (e->Writes[l] == w) continue;
    e->Writes[l] = w;
    if (!s->Unpack()) LogOnce("a texture's kept pixels were lost");
    gl.PixelStorei(GL_UNPACK_ROW_LENGTH, s->Pitch() / f.Bytes);
    gl.TexImage2D(GL_TEXTURE_2D, GLint(l), f.Internal, GLsizei(s->Width()), GLsizei(s->Height()), 0, f.Format, f.Type,
                  s->Bits());
    // The driver holds the pixels now: ours are only needed again for a
    // lock or a new context, so a managed texture keeps them packed.
    s->Pack();
  }
  gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  return e;
}

// Binds the texture of a stage with the stage's sampler states; returns its
// name (0 for none).
GLuint TGlSystem::BindTexture(int stage, TSwBaseTexture* t, const uint32_t* st) {
  if (!t) return 0;
  auto sampler = [&](TSwSamplerState s) { return st[size_t(s)]; };
  if (t->Type() == TSwResourceType::Texture && (static_cast<TSwTexture*>(t)->Usage() & SwUsageRenderTarget)) {
    TRt* r = RtOf(static_cast<TSwTexture*>(t)->Level(0));
    gl.ActiveTexture(GL_TEXTURE0 + GLenum(stage));
    gl.BindTexture(GL_TEXTURE_2D, r->Tex);
    // Render targets are sampled at their one level; parameters are set on
    // every use (the same texture may be a target again in between).
    const GLint filter_min = LinearFilter(sampler(TSwSamplerState::MinFilter)) ? GL_LINEAR : GL_NEAREST;
    const GLint filter_mag = LinearFilter(sampler(TSwSamplerState::MagFilter)) ? GL_LINEAR : GL_NEAREST;
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter_min);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter_mag);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, WrapGl(sampler(TSwSamplerState::AddressU)));
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, WrapGl(sampler(TSwSamplerState::AddressV)));
    const GLint alpha = r->X8 ? GL_ONE : GL_ALPHA;
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, alpha);
    return r->Tex;
  }
  const bool volume = t->Type() == TSwResourceType::VolumeTexture;
  gl.ActiveTexture(GL_TEXTURE0 + GLenum(volume ? kGlVolumeUnit + stage : stage));
  TTex* e = TexOf(t);
  const GLenum target = volume ? GL_TEXTURE_3D : GL_TEXTURE_2D;
  const bool min_linear = LinearFilter(sampler(TSwSamplerState::MinFilter));
  const bool mag_linear = LinearFilter(sampler(TSwSamplerState::MagFilter));
  const uint32_t mip = sampler(TSwSamplerState::MipFilter);
  const GLint levels = GLint(t->GetLevelCount());
  GLint min = min_linear ? GL_LINEAR : GL_NEAREST, mag = mag_linear ? GL_LINEAR : GL_NEAREST;
  GLint base = 0;
  if (volume) {
    // Volumes are sampled at level 0, trilinear when magnifying is linear.
    min = mag;
  } else {
    base = GLint(std::min<uint32_t>(sampler(TSwSamplerState::MaxMipLevel), uint32_t(levels - 1)));
    if (mip == uint32_t(TSwFilter::Point) && levels > 1)
      min = min_linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    else if (mip != uint32_t(TSwFilter::None) && levels > 1)
      min = min_linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
  }
  const GLint ws = WrapGl(sampler(TSwSamplerState::AddressU)), wt = WrapGl(sampler(TSwSamplerState::AddressV));
  const GLint wr = WrapGl(sampler(TSwSamplerState::AddressW));
  const float bias = std::bit_cast<float>(sampler(TSwSamplerState::MipMapLodBias));
  if (e->Min != min) gl.TexParameteri(target, GL_TEXTURE_MIN_FILTER, e->Min = min);
  if (e->Mag != mag) gl.TexParameteri(target, GL_TEXTURE_MAG_FILTER, e->Mag = mag);
  if (e->WrapS != ws) gl.TexParameteri(target, GL_TEXTURE_WRAP_S, e->WrapS = ws);
  if (e->WrapT != wt) gl.TexParameteri(target, GL_TEXTURE_WRAP_T, e->WrapT = wt);
  if (volume && e->WrapR != wr) gl.TexParameteri(target, GL_TEXTURE_WRAP_R, e->WrapR = wr);
  if (e->Base != base) {
    gl.TexParameteri(target, GL_TEXTURE_BASE_LEVEL, e->Base = base);
    gl.TexParameteri(target, GL_TEXTURE_MAX_LEVEL, volume ? 0 : levels - 1);
  }
  if (e->Bias != bias) gl.TexParameterf(target, GL_TEXTURE_LOD_BIAS, e->Bias = bias);
  return e->Name;
}

TGlSystem::TProgram* TGlSystem::ProgramFor(const std::string& key, const std::string& fragment) {
  auto it = programs_.find(key);
  if (it != programs_.end()) return it->second.Name ? &it->second : nullptr;
  TProgram p;
  std::string log;
  GLuint fs = Compile(GL_FRAGMENT_SHADER, fragment, &log);
  if (fs) {
    GLuint prog = gl.CreateProgram();
    gl.AttachShader(prog, vertex_shader_);
    gl.AttachShader(prog, fs);
    gl.LinkProgram(prog);
    gl.DeleteShader(fs);
    GLint ok = 0;
    gl.GetProgramiv(prog, GL_LINK_STATUS, &ok);
    if (ok) {
      p.Name = prog;
      gl.UseProgram(prog);
      for (int s = 0; s < 8; ++s) {
        const std::string n = std::to_string(s);
        GLint l2 = gl.GetUniformLocation(prog, ("s" + n).c_str());
        if (l2 >= 0) gl.Uniform1i(l2, s);
        GLint l3 = gl.GetUniformLocation(prog, ("t" + n).c_str());
        if (l3 >= 0) gl.Uniform1i(l3, kGlVolumeUnit + s);
      }
      p.Wvp = gl.GetUniformLocation(prog, "u_wvp");
      p.Vp = gl.GetUniformLocation(prog, "u_vp");
      p.Target = gl.GetUniformLocation(prog, "u_target");
      p.Rhw = gl.GetUniformLocation(prog, "u_rhw");
      p.Constants = gl.GetUniformLocation(prog, "c");
    } else {
      char buf[2048] = {};
      gl.GetProgramInfoLog(prog, sizeof buf - 1, nullptr, buf);
      log = buf;
      gl.DeleteProgram(prog);
    }
  }
  if (!p.Name) LogOnce("a program failed (" + key.substr(0, 40) + "): " + log);
  TProgram& stored = programs_[key] = p;
  return stored.Name ? &stored : nullptr;
}

Ref<TSwDeviceBackend> TGlSystem::NewDevice(TSwDevice& d) {
  std::lock_guard<std::recursive_mutex> g(lock_);
  devices_.push_back(&d);
  return MakeRef<TGlDevice>(Ref<TGlSystem>(this), d);
}

// ---- TGlDevice ----

TGlDevice::TGlDevice(Ref<TGlSystem> system, TSwDevice&) : sys_(std::move(system)) {}

TSwResult TGlDevice::Clear(TSwDevice& d, uint32_t count, const TSwRect* rects, uint32_t color,
                           const TSwRect& clip) {
  std::lock_guard<std::recursive_mutex> g(sys_->lock_);
  const auto& st = StateOf(d);
  if (!sys_->Acquire(0)) {
    missed_ = true;
    return TSwResult::Ok;
  }
  TSwSurface& rt = *st.Target;
  TGlSystem::TRt* r = sys_->RtOf(&rt);
  gl.BindFramebuffer(GL_FRAMEBUFFER, r->Fbo);
  const uint32_t c = r->X8 ? color | 0xFF000000u : color;
  gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  gl.ClearColor(float((c >> 16) & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f, float(c & 0xFF) / 255.0f,
                float(c >> 24) / 255.0f);
  auto fill = [&](const TSwRect& x) {
    if (x.Empty()) return;
    gl.Scissor(x.left, x.top, x.Width(), x.Height());
    gl.Clear(GL_COLOR_BUFFER_BIT);
  };
  if (count == 0)
    fill(clip);
  else
    for (uint32_t i = 0; i < count; ++i) fill(SwIntersect(rects[i], clip));
  sys_->Done(InSceneOf(d));
  return TSwResult::Ok;
}

TSwResult TGlDevice::Draw(TSwDevice& d, TSwPrimitive type, uint32_t count, const uint8_t* data, uint32_t stride,
                          uint32_t vertices, const TSwRect& clip) {
  std::lock_guard<std::recursive_mutex> g(sys_->lock_);
  const auto& st = StateOf(d);
  if (!sys_->Acquire(0)) {
    missed_ = true;
    return TSwResult::Ok;
  }
  (void)count;  // GL counts vertices
  TSwSurface& rt = *st.Target;
  TGlSystem::TRt* r = sys_->RtOf(&rt);
  const uint32_t fvf = st.Fvf;
  const int tex_sets = int((fvf & SwFvfTexCountMask) >> SwFvfTexCountShift);

  // The program: a kernel's, or the texture stages'.
  TGlSystem::TProgram* prog = nullptr;
  if (st.Shader) {
    const std::string& name = st.Shader->Name();
    std::string key = "k:" + name;
    auto it = sys_->programs_.find(key);
    if (it != sys_->programs_.end()) {
      prog = it->second.Name ? &it->second : nullptr;
    } else {
      const std::string body = SwKernelSource(name);
      if (body.empty()) {
        sys_->LogOnce("no GLSL for the kernel \"" + name + "\"");
        sys_->programs_[key] = TGlSystem::TProgram{};
      } else {
        prog = sys_->ProgramFor(key, GlKernelFragmentSource(body));
      }
    }
  } else {
    TGlStageKey stages[kSwMaxStages];
    int n = 0;
    for (int s = 0; s < kSwMaxStages; ++s) {
      const uint32_t* t = st.Stage[s];
      if (t[size_t(TSwStageState::ColorOp)] == uint32_t(TSwTextureOp::Disable)) break;
      TGlStageKey& k = stages[n++];
      k.ColorOp = uint8_t(t[size_t(TSwStageState::ColorOp)]);
      k.AlphaOp = uint8_t(t[size_t(TSwStageState::AlphaOp)]);
      k.ColorArg1 = uint8_t(t[size_t(TSwStageState::ColorArg1)]);
      k.ColorArg2 = uint8_t(t[size_t(TSwStageState::ColorArg2)]);
      k.AlphaArg1 = uint8_t(t[size_t(TSwStageState::AlphaArg1)]);
      k.AlphaArg2 = uint8_t(t[size_t(TSwStageState::AlphaArg2)]);
      k.TexCoordIndex = uint8_t(t[size_t(TSwStageState::TexCoordIndex)]);
      k.HasTexture = st.Textures[s] && st.Textures[s]->Type() == TSwResourceType::Texture;
    }
    std::string key(reinterpret_cast<const char*>(stages), sizeof(TGlStageKey) * size_t(n));
    key += char(tex_sets);
    key.insert(0, "f:");
    auto it = sys_->programs_.find(key);
    if (it != sys_->programs_.end())
      prog = it->second.Name ? &it->second : nullptr;
    else
      prog = sys_->ProgramFor(key, GlStagesSource(stages, n, tex_sets));
  }
  if (!prog) {
    sys_->Done(InSceneOf(d));
    return TSwResult::Ok;
  }

  // Textures (bound before the framebuffer: a stage may sample a target).
  for (int s = 0; s < kSwMaxStages; ++s) sys_->BindTexture(s, st.Textures[s].get(), st.Sampler[s]);

  gl.BindFramebuffer(GL_FRAMEBUFFER, r->Fbo);
  gl.UseProgram(prog->Name);
  gl.Viewport(0, 0, GLsizei(rt.Width()), GLsizei(rt.Height()));
  gl.Scissor(clip.left, clip.top, std::max(0, clip.Width()), std::max(0, clip.Height()));
  const TSwMatrix wvp = st.Transforms[0] * st.Transforms[1] * st.Transforms[2];
  gl.UniformMatrix4fv(prog->Wvp, 1, GL_FALSE, &wvp.m[0][0]);
  const float vp[4] = {float(st.Viewport.X), float(st.Viewport.Y), float(st.Viewport.Width),
                       float(st.Viewport.Height)};
  gl.Uniform4fv(prog->Vp, 1, vp);
  const float target[4] = {float(rt.Width()), float(rt.Height()), 0, 0};
  gl.Uniform2fv(prog->Target, 1, target);
  gl.Uniform1i(prog->Rhw, (fvf & SwFvfXYZRHW) ? 1 : 0);
  if (st.Shader && prog->Constants >= 0) gl.Uniform4fv(prog->Constants, kSwPixelConstants, &st.Constants[0][0]);

  // Vertices.
  const uint32_t vstride = SwFvfStride(fvf);
  const size_t bytes = vertices ? size_t(vertices - 1) * stride + vstride : 0;
  gl.BindBuffer(GL_ARRAY_BUFFER, sys_->vbo_);
  gl.BufferData(GL_ARRAY_BUFFER, GLsizeiptr(bytes), data, GL_STREAM_DRAW);
  uintptr_t off = 0;
  const bool rhw = (fvf & SwFvfXYZRHW) != 0;
  gl.EnableVertexAttribArray(kGlAttrPosition);
  gl.VertexAttribPointer(kGlAttrPosition, rhw ? 4 : 3, GL_FLOAT, GL_FALSE, GLsizei(stride), reinterpret_cast<void*>(off));
  off += rhw ? 16 : 12;
  if (fvf & SwFvfNormal) off += 12;
  if (fvf & SwFvfDiffuse) {
    gl.EnableVertexAttribArray(kGlAttrDiffuse);
    gl.VertexAttribPointer(kGlAttrDiffuse, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, GLsizei(stride),
                           reinterpret_cast<void*>(off));
    off += 4;
  } else {
    gl.DisableVertexAttribArray(kGlAttrDiffuse);
    gl.VertexAttrib4f(kGlAttrDiffuse, 1, 1, 1, 1);
  }
  if (fvf & SwFvfSpecular) {
    gl.EnableVertexAttribArray(kGlAttrSpecular);
    gl.VertexAttribPointer(kGlAttrSpecular, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, GLsizei(stride),
                           reinterpret_cast<void*>(off));
    off += 4;
  } else {
    gl.DisableVertexAttribArray(kGlAttrSpecular);
    gl.VertexAttrib4f(kGlAttrSpecular, 0, 0, 0, 0);
  }
  for (int s = 0; s < kSwMaxTexCoords; ++s) {
    if (s < tex_sets) {
      gl.EnableVertexAttribArray(GLuint(kGlAttrTex0 + s));
      gl.VertexAttribPointer(GLuint(kGlAttrTex0 + s), 2, GL_FLOAT, GL_FALSE, GLsizei(stride),
                             reinterpret_cast<void*>(off));
      off += 8;
    } else {
      gl.DisableVertexAttribArray(GLuint(kGlAttrTex0 + s));
      gl.VertexAttrib4f(GLuint(kGlAttrTex0 + s), 0, 0, 0, 1);
    }
  }

  // Output merging.
  auto rs = [&](TSwRenderState s) { return st.Render[size_t(s)]; };
  if (rs(TSwRenderState::AlphaBlendEnable)) {
    gl.Enable(GL_BLEND);
    const bool sep = rs(TSwRenderState::SeparateAlphaBlendEnable) != 0;
    const uint32_t src = rs(TSwRenderState::SrcBlend), dst = rs(TSwRenderState::DestBlend),
                   op = rs(TSwRenderState::BlendOp);
    gl.BlendFuncSeparate(BlendGl(src), BlendGl(dst), BlendGl(sep ? rs(TSwRenderState::SrcBlendAlpha) : src),
                         BlendGl(sep ? rs(TSwRenderState::DestBlendAlpha) : dst));
    gl.BlendEquationSeparate(BlendOpGl(op), BlendOpGl(sep ? rs(TSwRenderState::BlendOpAlpha) : op));
  } else {
    gl.Disable(GL_BLEND);
  }
  // Targets without alpha keep 1 there (what reading them as the
  // destination gives).
  gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, r->X8 ? GL_FALSE : GL_TRUE);
  // Rows run down in GL window coordinates here, so a triangle clockwise on
  // the screen is counter-clockwise (front-facing) to GL.
  switch (TSwCull(rs(TSwRenderState::CullMode))) {
    case TSwCull::CCW:
      gl.Enable(GL_CULL_FACE);
      gl.CullFace(GL_BACK);
      break;
    case TSwCull::CW:
      gl.Enable(GL_CULL_FACE);
      gl.CullFace(GL_FRONT);
      break;
    default: gl.Disable(GL_CULL_FACE); break;
  }
  gl.FrontFace(GL_CCW);
  if (!clip.Empty()) gl.DrawArrays(PrimitiveGl(type), 0, GLsizei(vertices));
  sys_->Done(InSceneOf(d));
  return TSwResult::Ok;
}

TSwResult TGlDevice::StretchRect(TSwDevice& d, TSwSurface& src, const TSwRect& sr, TSwSurface& dst,
                                 const TSwRect& dr) {
  std::lock_guard<std::recursive_mutex> g(sys_->lock_);
  if (!sys_->Acquire(0)) {
    missed_ = true;
    return TSwResult::Ok;
  }
  TGlSystem::TRt* to = sys_->RtOf(&dst);
  GLuint read_fbo = 0;
  TSwRect from = sr;
  if (src.GetDesc().Usage & SwUsageRenderTarget) {
    read_fbo = sys_->RtOf(&src)->Fbo;
  } else {
    // A surface in memory: its rectangle as 32-bit pixels in a scratch
    // texture.
    src.Unpack();
    std::vector<uint8_t>& px = sys_->pixels_;
    px.resize(size_t(sr.Width()) * size_t(sr.Height()) * 4);
    const int bpp = SwBytesPerPixel(src.Format());
    for (int32_t y = 0; y < sr.Height(); ++y)
      for (int32_t x = 0; x < sr.Width(); ++x) {
        const uint32_t v = SwReadArgb(src.Format(), src.Row(sr.top + y) + int64_t(sr.left + x) * bpp);
        std::memcpy(&px[(size_t(y) * size_t(sr.Width()) + size_t(x)) * 4], &v, 4);
      }
    gl.BindTexture(GL_TEXTURE_2D, sys_->scratch_tex_);
    gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, sr.Width(), sr.Height(), 0, GL_BGRA, GL_UNSIGNED_BYTE, px.data());
    gl.BindFramebuffer(GL_FRAMEBUFFER, sys_->scratch_fbo_);
    gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, sys_->scratch_tex_, 0);
    read_fbo = sys_->scratch_fbo_;
    from = TSwRect{0, 0, sr.Width(), sr.Height()};
  }
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, read_fbo);
  gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, to->Fbo);
  gl.Disable(GL_SCISSOR_TEST);
  gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, to->X8 ? GL_FALSE : GL_TRUE);
  gl.BlitFramebuffer(from.left, from.top, from.right, from.bottom, dr.left, dr.top, dr.right, dr.bottom,
                     GL_COLOR_BUFFER_BIT, GL_NEAREST);
  gl.Enable(GL_SCISSOR_TEST);
  gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
  sys_->Done(InSceneOf(d));
  return TSwResult::Ok;
}

TSwResult TGlDevice::ReadRenderTarget(TSwDevice& d, TSwSurface& rt, TSwSurface& dest) {
  std::lock_guard<std::recursive_mutex> g(sys_->lock_);
  if (!sys_->Acquire(0)) return TSwResult::DeviceLost;
  TGlSystem::TRt* r = sys_->RtOf(&rt);
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, r->Fbo);
  gl.PixelStorei(GL_PACK_ROW_LENGTH, dest.Pitch() / 4);
  gl.ReadPixels(0, 0, GLsizei(rt.Width()), GLsizei(rt.Height()), GL_BGRA, GL_UNSIGNED_BYTE, dest.Bits());
  gl.PixelStorei(GL_PACK_ROW_LENGTH, 0);
  gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
  sys_->Done(InSceneOf(d));
  return TSwResult::Ok;
}

TSwResult TGlDevice::Present(TSwDevice& d, TSwSwapChain& chain, const TSwRect& src, const TSwRect& dst,
                             TSwWindow window) {
  std::lock_guard<std::recursive_mutex> g(sys_->lock_);
  const bool windows = sys_->context_->HasWindows();
  if (!sys_->Acquire(windows ? window : 0)) {
    missed_ = false;
    return TSwResult::InvalidCall;
  }
  if (missed_) {
    missed_ = false;
    sys_->Done(false);
    return TSwResult::InvalidCall;
  }
  if (sys_->simulate_reset_ || (sys_->robust_ && gl.GetGraphicsResetStatus() != GL_NO_ERROR)) {
    sys_->HandleReset();
    sys_->Done(false);
    return TSwResult::DeviceLost;
  }
  sys_->SweepUnused();
  TGlSystem::TRt* bb = sys_->RtOf(chain.BackBuffer());
  if (windows) {
    // Frames go into a picture of the whole window at their place (as the
    // memory sinks keep them), which is then shown.
    uint32_t w = 0, h = 0;
    if (!sys_->context_->WindowSize(window, w, h) || w == 0 || h == 0) {
      sys_->Done(false);
      return TSwResult::Ok;
    }
    TGlSystem::TWindowTarget& wt = sys_->windows_[window];
    if (wt.Width != w || wt.Height != h) {
      if (!wt.Tex) gl.GenTextures(1, &wt.Tex);
      if (!wt.Fbo) gl.GenFramebuffers(1, &wt.Fbo);
      gl.BindTexture(GL_TEXTURE_2D, wt.Tex);
      gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(w), GLsizei(h), 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
      gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
      gl.BindFramebuffer(GL_FRAMEBUFFER, wt.Fbo);
      gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, wt.Tex, 0);
      gl.Disable(GL_SCISSOR_TEST);
      gl.ColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
      gl.ClearColor(0, 0, 0, 1);
      gl.Clear(GL_COLOR_BUFFER_BIT);
      wt.Width = w;
      wt.Height = h;
    }
    gl.Disable(GL_SCISSOR_TEST);
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, bb->Fbo);
    gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, wt.Fbo);
    gl.BlitFramebuffer(src.left, src.top, src.right, src.bottom, dst.left, dst.top, dst.right, dst.bottom,
                       GL_COLOR_BUFFER_BIT, GL_NEAREST);
    // Into the window, rows turned over once (its rows run up).
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, wt.Fbo);
    gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    gl.BlitFramebuffer(0, 0, GLint(w), GLint(h), 0, GLint(h), GLint(w), 0, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.Enable(GL_SCISSOR_TEST);
    if (!GlNullActive()) {
      TGlDriverTime driver;
      sys_->context_->Swap(window);
    }
    sys_->Done(false);
    return TSwResult::Ok;
  }
  // No windows: the frame is read back and handed to the sink.
  const Ref<TSwPresentSink>& sink = d.Direct3D()->Config().Sink;
  if (sink) {
    GLuint read = bb->Fbo;
    TSwRect from = src;
    if (src.Width() != dst.Width() || src.Height() != dst.Height()) {
      gl.BindTexture(GL_TEXTURE_2D, sys_->scratch_tex_);
      gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, dst.Width(), dst.Height(), 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
      gl.BindFramebuffer(GL_FRAMEBUFFER, sys_->scratch_fbo_);
      gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, sys_->scratch_tex_, 0);
      gl.Disable(GL_SCISSOR_TEST);
      gl.BindFramebuffer(GL_READ_FRAMEBUFFER, bb->Fbo);
      gl.BlitFramebuffer(src.left, src.top, src.right, src.bottom, 0, 0, dst.Width(), dst.Height(),
                         GL_COLOR_BUFFER_BIT, GL_NEAREST);
      gl.Enable(GL_SCISSOR_TEST);
      read = sys_->scratch_fbo_;
      from = TSwRect{0, 0, dst.Width(), dst.Height()};
    }
    std::vector<uint8_t>& px = sys_->pixels_;
    px.resize(size_t(from.Width()) * size_t(from.Height()) * 4);
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, read);
    gl.ReadPixels(from.left, from.top, from.Width(), from.Height(), GL_BGRA, GL_UNSIGNED_BYTE, px.data());
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    TSwFrameView view;
    view.Bits = px.data();
    view.Pitch = from.Width() * 4;
    view.Width = from.Width();
    view.Height = from.Height();
    view.Format = chain.BackBuffer()->Format();
    sink->Present(window, view, dst.left, dst.top);
  }
  sys_->Done(false);
  return TSwResult::Ok;
}

void TGlDevice::Sweep(TSwDevice&) {
  std::lock_guard<std::recursive_mutex> g(sys_->lock_);
  sys_->SweepUnused();
}

void TGlDevice::DeviceGone(TSwDevice& d) {
  std::lock_guard<std::recursive_mutex> g(sys_->lock_);
  std::erase(sys_->devices_, &d);
  sys_->SweepUnused();
}

}  // namespace kav
