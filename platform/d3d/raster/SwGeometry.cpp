#include "platform/d3d/raster/SwGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kav {

namespace {

constexpr float kMinW = 1e-6f;

inline float LoadF(const uint8_t* p) {
  float f;
  std::memcpy(&f, p, 4);
  return f;
}

inline void ColorToAttrs(uint32_t c, float* a) {
  a[0] = float(c & 255) / 255.0f;
  a[1] = float((c >> 8) & 255) / 255.0f;
  a[2] = float((c >> 16) & 255) / 255.0f;
  a[3] = float(c >> 24) / 255.0f;
}

// Signed distances to the clip planes: inside when >= 0.
inline float PlaneDist(const TSwClipVertex& v, int plane, float g) {
  switch (plane) {
    case 0: return v.w - kMinW;
    case 1: return v.z;         // near
    case 2: return v.w - v.z;   // far
    case 3: return g * v.w - v.x;
    case 4: return g * v.w + v.x;
    case 5: return g * v.w - v.y;
    default: return g * v.w + v.y;
  }
}

TSwClipVertex Lerp(const TSwClipVertex& a, const TSwClipVertex& b, float t, int32_t nattr) {
  TSwClipVertex r;
  r.x = a.x + (b.x - a.x) * t;
  r.y = a.y + (b.y - a.y) * t;
  r.z = a.z + (b.z - a.z) * t;
  r.w = a.w + (b.w - a.w) * t;
  for (int k = 0; k < nattr; ++k) r.a[k] = a.a[k] + (b.a[k] - a.a[k]) * t;
  return r;
}

}  // namespace

TSwViewMapping TSwViewMapping::From(const TSwViewport& vp) {
  TSwViewMapping m;
  m.X = float(vp.X);
  m.Y = float(vp.Y);
  m.HalfW = float(vp.Width) * 0.5f;
  m.HalfH = float(vp.Height) * 0.5f;
  // Keep screen coordinates within about 2^21 pixels so the fixed-point edge
  // functions of the setup cannot overflow.
  float extent = std::max({1.0f, m.HalfW, m.HalfH});
  m.Guard = std::max(1.0f, 1048576.0f / extent);
  return m;
}

int32_t SwAttrCount(uint32_t fvf) {
  return kSwAttrTex + 2 * int32_t((fvf & SwFvfTexCountMask) >> SwFvfTexCountShift);
}

void SwTransformVertices(const TSwVertexSource& src, const TSwMatrix& m, const TSwViewMapping& map,
                         std::vector<TSwClipVertex>& out) {
  out.resize(src.Count);
  const bool rhw = (src.Fvf & SwFvfXYZRHW) != 0;
  const int tex = int((src.Fvf & SwFvfTexCountMask) >> SwFvfTexCountShift);
  for (uint32_t i = 0; i < src.Count; ++i) {
    const uint8_t* p = src.Data + size_t(i) * src.Stride;
    TSwClipVertex& v = out[i];
    float x = LoadF(p), y = LoadF(p + 4), z = LoadF(p + 8);
    if (rhw) {
      float r = LoadF(p + 12);
      float w = r != 0.0f ? 1.0f / r : 1.0f;
      v.x = map.HalfW > 0 ? ((x - map.X) / map.HalfW - 1.0f) * w : 0.0f;
      v.y = map.HalfH > 0 ? (1.0f - (y - map.Y) / map.HalfH) * w : 0.0f;
      v.z = z * w;
      v.w = w;
      p += 16;
    } else {
      v.x = x * m.m[0][0] + y * m.m[1][0] + z * m.m[2][0] + m.m[3][0];
      v.y = x * m.m[0][1] + y * m.m[1][1] + z * m.m[2][1] + m.m[3][1];
      v.z = x * m.m[0][2] + y * m.m[1][2] + z * m.m[2][2] + m.m[3][2];
      v.w = x * m.m[0][3] + y * m.m[1][3] + z * m.m[2][3] + m.m[3][3];
      p += 12;
    }
    if (src.Fvf & SwFvfNormal) p += 12;
    uint32_t diffuse = 0xFFFFFFFFu, specular = 0;
    if (src.Fvf & SwFvfDiffuse) { std::memcpy(&diffuse, p, 4); p += 4; }
    if (src.Fvf & SwFvfSpecular) { std::memcpy(&specular, p, 4); p += 4; }
    ColorToAttrs(diffuse, v.a + kSwAttrDiffuse);
    ColorToAttrs(specular, v.a + kSwAttrSpecular);
    for (int t = 0; t < tex; ++t) {
      v.a[kSwAttrTex + 2 * t] = LoadF(p);
      v.a[kSwAttrTex + 2 * t + 1] = LoadF(p + 4);
      p += 8;
    }
  }
}

void SwAssembleTriangles(TSwPrimitive type, uint32_t count, std::vector<uint32_t>& idx) {
  idx.clear();
  idx.reserve(size_t(count) * 3);
  for (uint32_t i = 0; i < count; ++i) {
    switch (type) {
      case TSwPrimitive::TriangleList: idx.insert(idx.end(), {3 * i, 3 * i + 1, 3 * i + 2}); break;
      case TSwPrimitive::TriangleStrip:
        // Every other triangle is flipped so all keep the first one's winding.
        if (i & 1) idx.insert(idx.end(), {i + 1, i, i + 2});
        else idx.insert(idx.end(), {i, i + 1, i + 2});
        break;
      case TSwPrimitive::TriangleFan: idx.insert(idx.end(), {i + 1, i + 2, 0}); break;
      default: break;
    }
  }
}

TSwScreenVertex SwToScreen(const TSwClipVertex& v, int32_t nattr, const TSwViewMapping& map) {
  TSwScreenVertex s;
  float iw = 1.0f / v.w;
  s.x = (v.x * iw + 1.0f) * map.HalfW + map.X;
  s.y = (1.0f - v.y * iw) * map.HalfH + map.Y;
  s.w = v.w;
  std::memcpy(s.a, v.a, sizeof(float) * size_t(nattr));
  return s;
}

void SwClipTriangle(const TSwClipVertex& a, const TSwClipVertex& b, const TSwClipVertex& c, int32_t nattr,
                    bool clip_depth, const TSwViewMapping& map, std::vector<TSwScreenVertex>& out) {
  const TSwClipVertex* tri[3] = {&a, &b, &c};
  for (const TSwClipVertex* v : tri)
    if (!std::isfinite(v->x) || !std::isfinite(v->y) || !std::isfinite(v->z) || !std::isfinite(v->w)) return;
  uint32_t outside = 0;
  for (int p = 0; p < 7; ++p) {
    if (!clip_depth && (p == 1 || p == 2)) continue;
    int n = 0;
    for (int i = 0; i < 3; ++i) n += PlaneDist(*tri[i], p, map.Guard) < 0.0f;
    if (n == 3) return;  // wholly outside one plane
    if (n) outside |= 1u << p;
  }
  if (!outside) {
    for (int i = 0; i < 3; ++i) out.push_back(SwToScreen(*tri[i], nattr, map));
    return;
  }
  // Sutherland-Hodgman against the planes the triangle crosses; at most
  // 3 + 7 vertices remain.
  TSwClipVertex buf[2][12];
  int n = 3;
  for (int i = 0; i < 3; ++i) buf[0][i] = *tri[i];
  int cur = 0;
  for (int p = 0; p < 7 && n >= 3; ++p) {
    if (!(outside & (1u << p))) continue;
    const TSwClipVertex* in = buf[cur];
    TSwClipVertex* res = buf[cur ^ 1];
    int m = 0;
    for (int i = 0; i < n; ++i) {
      const TSwClipVertex& s = in[i];
      const TSwClipVertex& e = in[(i + 1) % n];
      float ds = PlaneDist(s, p, map.Guard), de = PlaneDist(e, p, map.Guard);
      if (ds >= 0) res[m++] = s;
      if ((ds >= 0) != (de >= 0) && m < 12) res[m++] = Lerp(s, e, ds / (ds - de), nattr);
    }
    n = m;
    cur ^= 1;
  }
  if (n < 3) return;
  TSwScreenVertex s0 = SwToScreen(buf[cur][0], nattr, map);
  TSwScreenVertex prev = SwToScreen(buf[cur][1], nattr, map);
  for (int i = 2; i < n; ++i) {
    TSwScreenVertex next = SwToScreen(buf[cur][i], nattr, map);
    out.push_back(s0);
    out.push_back(prev);
    out.push_back(next);
    prev = next;
  }
}

}  // namespace kav
