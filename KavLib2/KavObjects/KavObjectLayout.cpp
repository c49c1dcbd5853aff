// Layout of slide objects in the slide's 3D space, visibility over time,
// drawing order, hit testing and the resolution survey.
#include <algorithm>
#include <cmath>

#include "KavLib2/KavObjects/KavObjects.h"
#include "KavLib2/KavObjects/KavSlide.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

using TMat3 = std::array<float, 9>;  // row-major

TMat3 Mul(const TMat3& a, const TMat3& b) {
  TMat3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += double(a[size_t(i * 3 + k)]) * double(b[size_t(k * 3 + j)]);
      r[size_t(i * 3 + j)] = float(s);
    }
  return r;
}

TVector3 Column(const TMat3& m, int c) { return Vector3(m[size_t(c)], m[size_t(3 + c)], m[size_t(6 + c)]); }

double Dot(const TVector3& a, const TVector3& b) {
  return double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z;
}

bool SameFrame(const TFrame3D& a, const TFrame3D& b) {
  auto eq = [](const TVector3& p, const TVector3& q) { return p.x == q.x && p.y == q.y && p.z == q.z; };
  return eq(a.Origin, b.Origin) && eq(a.AxisX, b.AxisX) && eq(a.AxisY, b.AxisY) && eq(a.AxisZ, b.AxisZ);
}

}  // namespace

double TKavObject::OriginTime(int32_t origin) { return GetSlide()->OriginTime(origin); }

float TKavObject::ScaledValue() { return GetSlide()->GetScalePercent() * Opacity() / 100.0f; }

TFloatPoint TKavObject::CopySize() { return parent_ ? parent_->Size() : Size(); }

TKavFrame TKavObject::CopyTransform() { return parent_ ? parent_->WorldFrame() : TKavFrame{}; }

void TKavObject::UpdateAtTime(bool recursive, double time) {
  if (props_) props_->Evaluate(time - OriginTime(0));
  if (recursive)
    for (Ref<TKavObject>& c : children_) c->UpdateAtTime(true, time);
  const double start = OriginTime(0) + (props_ ? props_->DeltaTime1() : 0.0);
  const double end = OriginTime(3) - (props_ ? props_->DeltaTime2() : 0.0);
  const bool visible = time - start > -0.00001 && time - end < 0.00001;
  if (visible != visible_) VisibilityChanged = 1;
  visible_ = visible;
}

void TKavObject::Calculate(bool recursive) {
  TKavSlide* slide = GetSlide();
  const TFloatPoint parent_size = CopySize();
  const double w = size_.x, h = size_.y, w0 = parent_size.x, h0 = parent_size.y;

  // 1-2. Fit into the parent and the size scales.
  const TFloatPoint fitted = FitSize();
  const double fw = fitted.x, fh = fitted.y;
  double fit = 0;
  if (fw != 0 && fh != 0) {
    switch (LayoutFitMode()) {
      case kFitPlaceInto: fit = std::min(w0 / fw, h0 / fh); break;
      case kFitCover: fit = std::max(w0 / fw, h0 / fh); break;
      // No fit: the object keeps its own size (the layout has no rule for
      // this mode and would otherwise stop the slide's layout).
      default: fit = 1; break;
    }
  }
  size_scale_ = FloatPoint(float(ScaleX() * fit * 0.01), float(ScaleY() * fit * 0.01));

  // 3. Rotations about x, y, then z, after the size scales; the parent's
  // matrix on top.
  const double rad = M_PI / 180.0;
  const double ax = AngleX() * rad, ay = AngleY() * rad, az = Angle() * rad;
  const float cx = float(std::cos(ax)), sx = float(std::sin(ax));
  const float cy = float(std::cos(ay)), sy = float(std::sin(ay));
  const float cz = float(std::cos(az)), sz = float(std::sin(az));
  const TMat3 rx{1, 0, 0, 0, cx, -sx, 0, sx, cx};
  const TMat3 ry{cy, 0, sy, 0, 1, 0, -sy, 0, cy};
  const TMat3 rz{cz, -sz, 0, sz, cz, 0, 0, 0, 1};
  const TMat3 scale{size_scale_.x, 0, 0, 0, size_scale_.y, 0, 0, 0, 1};
  TMat3 m = Mul(rz, Mul(ry, Mul(rx, scale)));
  if (parent_) m = Mul(parent_->matrix_, m);
  const bool matrix_moved = m != matrix_;
  matrix_ = m;
  const float depth_factor = slide->DepthFactor();
  TVector3 axes[3];
  for (int i = 0; i < 3; ++i) {
    axes[i] = Column(m, i);
    axes[i].z *= depth_factor;
  }

  // 4. Position in the parent's frame.
  TFloatPoint pos = Pos();
  if (PosMode == kModePercent) pos = FloatPoint(float(pos.x * w0 * 0.005), float(pos.y * h0 * 0.005));
  else KAV_ASSERT(PosMode == kModeAbsolute);
  const float depth = float(PosZ() * h0 / 200.0);
  const TKavFrame parent_frame = CopyTransform();
  const TVector3 origin = Frame3DToWorld(parent_frame.Frame, Vector3(pos.x, pos.y, depth));

  // 5. The world frame.
  TKavFrame frame;
  frame.Valid = InitFrame3D(frame.Frame, origin, axes[0], axes[1], axes[2]);
  const bool frame_moved = !SameFrame(frame.Frame, frame_.Frame) || frame.Valid != frame_.Valid;
  frame_ = frame;

  // 6. The local rectangle around the centre point.
  const TFloatPoint c = Center();
  if (CenterMode == kModePercent)
    local_origin_ = FloatPoint(float(-w * c.x * 0.005 - w * 0.5), float(-h * c.y * 0.005 - h * 0.5));
  else  // an absolute centre is given in the object's own units (no rule for it otherwise)
    local_origin_ = FloatPoint(float(-c.x - w * 0.5), float(-c.y - h * 0.5));

  // 9. Hiddenness passes down the tree.
  hidden_ = (ChildInvis && !FacingShown()) || (parent_ && parent_->hidden_);

  // 10. Changed when anything drawn moved.
  if (ScaledValue() != drawn_opacity_ || Blur() != drawn_blur_ || matrix_moved || frame_moved) Changed = 1;

  if (recursive)
    for (Ref<TKavObject>& child : children_) child->Calculate(true);
}

bool TKavObject::FacingShown() {
  TKavObjectHost* host = ParentQuery();
  const TVector3 camera = host ? host->CameraPosition() : Vector3(0, 0, 0);
  const TVector3 n = CrossVectors3(frame_.Frame.AxisX, frame_.Frame.AxisY);
  // Without a camera in front of the slide the viewer looks along +z.
  const double side = camera.z < 0 ? Dot(n, SubVectors3(frame_.Frame.Origin, camera))  // camera - origin
                                    : -double(n.z);
  return side < 0 ? !HideFacing : !HideAway;
}

// ---- Drawing -----------------------------------------------------------------

bool TKavObject::NeedsDraw() {
  if (TDrawItem::NeedsDraw()) return true;
  for (Ref<TKavObject>& c : children_)
    if (c->NeedsDraw()) return true;
  return false;
}

float TKavObject::LayerValue() { return GetSlide()->Size().x * Blur(); }

void TKavObject::AfterDraw(TDeviceDrawer* drawer) {
  for (Ref<TKavObject>& c : children_) c->AfterDraw(drawer);
}

void TKavObject::Draw(TDeviceDrawer* drawer) {
  if (visible_ && !hidden_ && FacingShown()) {
    try {
      DrawSelf(drawer);
    } catch (...) {
      // One object that fails to draw must not keep the rest of the slide
      // from drawing.
    }
  }
  CommitState(false);
  for (size_t i = 0; i < children_.size(); ++i) {
    Ref<TKavObject> child = children_[i];
    drawer->Render(child.get());
  }
}

void TKavObject::CommitState(bool recursive) {
  drawn_opacity_ = ScaledValue();
  drawn_blur_ = Blur();
  Changed = 0;
  VisibilityChanged = 0;
  if (recursive)
    for (Ref<TKavObject>& c : children_) c->CommitState(true);
}

// ---- Resources -----------------------------------------------------------------

void TKavObject::PrepareResources(TKavResourceVisitor* visitor) {
  if (!visitor || !visitor->Ready()) return;
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->PrepareResources(visitor);
}

void TKavObject::PrepareResourcesAt(TKavResourceVisitor* visitor, int32_t a, int32_t b) {
  if (!visitor || !visitor->Ready()) return;
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->PrepareResourcesAt(visitor, a, b);
}

void TKavObject::ReleaseResources(TKavResourceVisitor* visitor) {
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->ReleaseResources(visitor);
}

// ---- Hit testing ---------------------------------------------------------------

TKavObject* TKavObject::HitTestChildren(TFloatPoint& local, const THitFilter& filter, float x, float y) {
  for (size_t i = children_.size(); i-- > 0;)
    if (TKavObject* hit = children_[i]->HitTestChildren(local, filter, x, y)) return hit;
  TFloatPoint own;
  if (!HitTestSelf(x, y, own)) return nullptr;
  if (filter && !filter(this)) return nullptr;
  local = own;
  return this;
}

TKavObject* TKavObject::HitTest(TFloatPoint& local, bool deep, float x, float y) {
  if (deep) return HitTestChildren(local, THitFilter(), x, y);
  return HitTestSelf(x, y, local) ? this : nullptr;
}

bool TKavObject::HitTestSelf(float x, float y, TFloatPoint& local) {
  TKavFrame frame = frame_;
  if (!frame.Valid) {
    // An object without a usable frame is tested only when the host asks
    // for it, laid flat on the slide at the slide's scale.
    if (!AskHost()) return false;
    frame = GetSlide()->CopyTransform();
    if (!frame.Valid) return false;
  }
  TKavObjectHost* host = ParentQuery();
  TVector3 camera = host ? host->CameraPosition() : Vector3(0, 0, 0);
  TVector3 dir;
  if (camera.z < 0) {
    dir = SubVectors3(camera, Vector3(x, y, 0));  // screen point - camera
  } else {  // no perspective: straight along the depth axis
    camera = Vector3(x, y, -1);
    dir = Vector3(0, 0, 1);
  }
  const TVector3 n = CrossVectors3(frame.Frame.AxisX, frame.Frame.AxisY);
  const double denom = Dot(n, dir);
  if (std::fabs(denom) < 1e-12) return false;
  const double t = Dot(n, SubVectors3(camera, frame.Frame.Origin)) / denom;
  const TVector3 p = CombineVectors3(camera, 1.0f, dir, float(t));
  const TVector3 uv = Frame3DFromWorld(frame.Frame, p);
  const float u = uv.x, v = uv.y;
  if (!(u >= local_origin_.x && u <= local_origin_.x + size_.x && v >= local_origin_.y &&
        v <= local_origin_.y + size_.y))
    return false;
  local = FloatPoint(u, v);
  return true;
}

// ---- Geometry ------------------------------------------------------------------

void TKavObject::GetCornerPoints(TVector3* points, int32_t count, float inflate) const {
  KAV_ASSERT(points != nullptr && count >= 4);
  const TFrame3D& f = frame_.Frame;
  const float x0 = local_origin_.x, y0 = local_origin_.y, x1 = x0 + size_.x, y1 = y0 + size_.y;
  const TFloatPoint corners[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
  TVector3 ux{1, 0, 0}, uy{0, 1, 0};
  if (inflate != 0) {
    const float lx = Distance3(f.AxisX, Vector3(0, 0, 0)), ly = Distance3(f.AxisY, Vector3(0, 0, 0));
    if (lx >= 0.000001f) ux = ScaleVector3(f.AxisX, 1.0f / lx);
    if (ly >= 0.000001f) uy = ScaleVector3(f.AxisY, 1.0f / ly);
  }
  static const float kSign[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  for (int i = 0; i < 4; ++i) {
    TVector3 p = Frame3DToWorld(f, Vector3(corners[i].x, corners[i].y, 0));
    if (inflate != 0) p = CombineVectors3Three(p, 1.0f, ux, kSign[i][0] * inflate, uy, kSign[i][1] * inflate);
    points[i] = p;
  }
}

void TKavObject::InsetAxes(float inset, TVector3& origin, TVector3& x_axis, TVector3& y_axis) const {
  const TFrame3D& f = frame_.Frame;
  const float x0 = local_origin_.x + inset, y0 = local_origin_.y + inset;
  const float x1 = local_origin_.x + size_.x - inset, y1 = local_origin_.y + size_.y - inset;
  origin = Frame3DToWorld(f, Vector3(x0, y0, 0));
  // SubVectors3(a, b) is b - a.
  x_axis = SubVectors3(origin, Frame3DToWorld(f, Vector3(x1, y0, 0)));
  y_axis = SubVectors3(origin, Frame3DToWorld(f, Vector3(x0, y1, 0)));
}

void TKavObject::DrawInsideBorder(TDeviceDrawer* drawer, float width, TColor32 color, float opacity,
                                  bool antialias) const {
  if (!drawer || !(width > 0)) return;
  TBoxParams box = DefaultBoxParams();
  box.Opacity = opacity;
  box.ColorA = box.ColorB = color;
  box.EdgeLeft = box.EdgeTop = box.EdgeRight = box.EdgeBottom = antialias;
  const TFrame3D& f = frame_.Frame;
  auto world = [&](float x, float y) { return Frame3DToWorld(f, Vector3(x, y, 0)); };
  // Strips in the object's own frame, so that they turn and scale with it.
  auto strip = [&](float x, float y, float sw, float sh) {
    const TVector3 p0 = world(x, y);
    drawer->FillBox(p0, FloatPoint(1, 1), box, SubVectors3(p0, world(x + sw, y)), SubVectors3(p0, world(x, y + sh)));
  };
  const float x0 = local_origin_.x, y0 = local_origin_.y, w = size_.x, h = size_.y;
  strip(x0, y0, width, h);
  strip(x0 + w - width, y0, width, h);
  strip(x0 + width, y0, w - 2 * width, width);
  strip(x0 + width, y0 + h - width, w - 2 * width, width);
}

// ---- Resolution survey -----------------------------------------------------------

void TKavObject::SurveyReset() {
  survey_width_ = 0;
  survey_height_ = 0;
  survey_depth_ = 1000000;
  for (Ref<TKavObject>& c : children_) c->SurveyReset();
}

void TKavObject::SurveyState() {
  TVector3 c[4];
  GetCornerPoints(c, 4, 0);
  const double zoom = FrameS() * 0.01;
  survey_width_ = std::max(survey_width_, zoom * std::max(Distance3(c[0], c[1]), Distance3(c[2], c[3])));
  survey_height_ = std::max(survey_height_, zoom * std::max(Distance3(c[0], c[3]), Distance3(c[1], c[2])));
  for (const TVector3& p : c) survey_depth_ = std::min(survey_depth_, double(p.z));
  for (Ref<TKavObject>& child : children_) child->SurveyState();
}

bool TKavObject::ApplyRequiredResolution(bool changed) {
  TKavObjectHost* host = ParentQuery();
  const double cz = host ? host->CameraPosition().z : 0.0;
  double factor = 1.0;
  if (cz < 0 && survey_depth_ > cz) factor = 1.0 / (1.0 - survey_depth_ / cz);
  // Close to the camera the factor grows without bound; the pictures made
  // for the object are held to a few times their flat size.
  factor = std::min(factor, kMaxPerspectiveFactor);
  const TFloatPoint required = FloatPoint(float(survey_width_ * factor), float(survey_height_ * factor));
  bool any = changed;
  if (std::fabs(required.x - required_.x) > 0.000001f || std::fabs(required.y - required_.y) > 0.000001f) {
    Changed = 1;
    any = true;
  }
  required_ = required;
  for (Ref<TKavObject>& child : children_) any = child->ApplyRequiredResolution(changed) || any;
  return any;
}

}  // namespace kav
