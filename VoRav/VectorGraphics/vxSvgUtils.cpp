#include "VoRav/VectorGraphics/vxSvgUtils.h"

#include <charconv>
#include <cmath>
#include <string>

namespace kav {

namespace {

bool IsSeparator(char c) { return uint8_t(c) <= 32; }
bool IsNumberChar(char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'E' || c == 'e'; }
bool StartsNumber(char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'; }

class TPathTextParser {
 public:
  TPathTextParser(std::string_view text, TPointArray& path) : text_(text), path_(path) {}

  bool Run() {
    for (;;) {
      SkipSeparators();
      if (pos_ >= text_.size()) return true;
      const char c = text_[pos_];
      if (IsCommandLetter(c)) {
        ++pos_;
        command_ = c;
        if (c == 'Z' || c == 'z') {
          if (!CloseFigure()) return false;
          continue;
        }
        if (need_move_ && c != 'M' && c != 'm') return false;
      } else if (StartsNumber(c)) {
        // A number repeats the previous command; none, or an end of figure,
        // cannot be repeated.
        if (command_ == 0 || command_ == 'Z' || command_ == 'z') return false;
      } else {
        return false;
      }
      if (!ReadArguments()) return false;
    }
  }

  size_t Position() const { return pos_; }

 private:
  enum TKind { kNone, kMove, kLine, kCurve };

  static bool IsCommandLetter(char c) {
    switch (c) {
      case 'M': case 'm': case 'L': case 'l': case 'H': case 'h': case 'V': case 'v': case 'C': case 'c':
      case 'S': case 's': case 'Q': case 'q': case 'T': case 't': case 'Z': case 'z':
        return true;
      default:
        return false;
    }
  }

  void SkipSeparators() {
    while (pos_ < text_.size() && IsSeparator(text_[pos_])) ++pos_;
  }

  // One number, then optional separators and at most one comma.
  bool ReadNumber(double& value) {
    SkipSeparators();
    const size_t start = pos_;
    while (pos_ < text_.size() && IsNumberChar(text_[pos_])) ++pos_;
    std::string_view run = text_.substr(start, pos_ - start);
    if (run.empty()) return false;
    if (run.size() > 1 && run[0] == '+' && run[1] != '+' && run[1] != '-') run.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(run.data(), run.data() + run.size(), v);
    // A run that is no number, or one beyond the float range, is an error.
    if (ec != std::errc() || end != run.data() + run.size() || !std::isfinite(float(v))) {
      pos_ = start;
      return false;
    }
    value = v;
    SkipSeparators();
    if (pos_ < text_.size() && text_[pos_] == ',') {
      ++pos_;
      SkipSeparators();
    }
    return true;
  }

  bool Relative() const { return command_ >= 'a'; }

  // A coordinate pair, relative to the current point for lower-case commands.
  bool ReadPoint(TFloatPoint& p) {
    double x = 0, y = 0;
    if (!ReadNumber(x) || !ReadNumber(y)) return false;
    if (Relative()) {
      x += cur_.x;
      y += cur_.y;
    }
    p = TFloatPoint{float(x), float(y)};
    return std::isfinite(p.x) && std::isfinite(p.y);
  }

  bool ReadCoordinate(float& out, float base) {
    double v = 0;
    if (!ReadNumber(v)) return false;
    if (Relative()) v += base;
    out = float(v);
    return std::isfinite(out);
  }

  bool Append(TFloatPoint p, int32_t code) {
    // Paths are capped: a longer text is refused instead of parsed on.
    if (path_.Count() >= kMaxParsedPathPoints) return false;
    path_.Add(p.x, p.y, code);
    return true;
  }

  bool CloseFigure() {
    if (need_move_) return false;
    if (!Append(cur_, kPathClose)) return false;
    cur_ = figure_start_;
    need_move_ = true;
    kind_ = kNone;
    return true;
  }

  // The first control point of S and T: the previous control point
  // reflected about the current point, else the current point.
  bool SmoothControl(TFloatPoint& c) {
    if (kind_ != kLine && kind_ != kCurve) return false;
    c = has_control_ ? TFloatPoint{2 * cur_.x - control_.x, 2 * cur_.y - control_.y} : cur_;
    return std::isfinite(c.x) && std::isfinite(c.y);
  }

  bool ReadArguments() {
    TFloatPoint a, b, e;
    switch (command_) {
      case 'M':
      case 'm':
        if (!ReadPoint(e) || !Append(e, kPathMove)) return false;
        figure_start_ = e;
        need_move_ = false;
        // Numbers after a move are lines.
        command_ = command_ == 'M' ? 'L' : 'l';
        return EndSegment(e, kMove, false);
      case 'L':
      case 'l':
        if (!ReadPoint(e) || !Append(e, kPathLine)) return false;
        return EndSegment(e, kLine, false);
      case 'H':
      case 'h':
        e = cur_;
        if (!ReadCoordinate(e.x, cur_.x) || !Append(e, kPathLine)) return false;
        return EndSegment(e, kLine, false);
      case 'V':
      case 'v':
        e = cur_;
        if (!ReadCoordinate(e.y, cur_.y) || !Append(e, kPathLine)) return false;
        return EndSegment(e, kLine, false);
      case 'C':
      case 'c':
        if (!ReadPoint(a) || !ReadPoint(b) || !ReadPoint(e)) return false;
        if (!Append(a, kPathCubic) || !Append(b, kPathCubic) || !Append(e, kPathCubic)) return false;
        control_ = b;
        return EndSegment(e, kCurve, true);
      case 'S':
      case 's':
        if (!SmoothControl(a) || !ReadPoint(b) || !ReadPoint(e)) return false;
        if (!Append(a, kPathCubic) || !Append(b, kPathCubic) || !Append(e, kPathCubic)) return false;
        control_ = b;
        return EndSegment(e, kCurve, true);
      case 'Q':
      case 'q':
        if (!ReadPoint(a) || !ReadPoint(e)) return false;
        if (!Append(a, kPathQuadratic) || !Append(e, kPathQuadratic)) return false;
        control_ = a;
        return EndSegment(e, kCurve, true);
      case 'T':
      case 't':
        if (!SmoothControl(a) || !ReadPoint(e)) return false;
        if (!Append(a, kPathQuadratic) || !Append(e, kPathQuadratic)) return false;
        control_ = a;
        return EndSegment(e, kCurve, true);
      default:
        return false;
    }
  }

  bool EndSegment(TFloatPoint end, TKind kind, bool has_control) {
    cur_ = end;
    kind_ = kind;
    has_control_ = has_control;
    return true;
  }

  std::string_view text_;
  TPointArray& path_;
  size_t pos_ = 0;
  char command_ = 0;
  // A path must start with a move, as after an end of figure.
  bool need_move_ = true;
  TKind kind_ = kNone;
  bool has_control_ = false;
  TFloatPoint cur_{};
  TFloatPoint figure_start_{};
  TFloatPoint control_{};
};

template <bool kCubic>
TFloatPoint CurvePoint(const TFlattenContext& c, double t) {
  if constexpr (kCubic)
    return TFloatPoint{float(CubicBezier(t, c.P[0].x, c.P[1].x, c.P[2].x, c.P[3].x)),
                       float(CubicBezier(t, c.P[0].y, c.P[1].y, c.P[2].y, c.P[3].y))};
  else
    return TFloatPoint{float(QuadraticBezier(t, c.P[0].x, c.P[1].x, c.P[2].x)),
                       float(QuadraticBezier(t, c.P[0].y, c.P[1].y, c.P[2].y))};
}

template <bool kCubic>
void Flatten(TFlattenContext& c, TFloatPoint start, TFloatPoint end, int32_t depth, double t1, double t0) {
  --depth;
  if (depth > 0 && t1 > t0 && c.SplitBudget > 0) {
    const double tm = (t0 + t1) / 2;
    const TFloatPoint m = CurvePoint<kCubic>(c, tm);
    // The middle point takes part in the flatness test, so a piece whose
    // chord is short but which bulges or loops (a curve whose ends meet) is
    // still split.
    if (!c.IsFlat(c.Data, start, end, m)) {
      --c.SplitBudget;
      Flatten<kCubic>(c, start, m, depth, tm, t0);
      Flatten<kCubic>(c, m, end, depth, t1, tm);
      return;
    }
  }
  c.AddLine(c.Data, end.x, end.y);
}

}  // namespace

bool ParsePathText(std::string_view text, TPointArray& path, size_t* error_pos) {
  path.Clear();
  TPathTextParser parser(text, path);
  if (parser.Run()) return true;
  path.Clear();
  if (error_pos) *error_pos = parser.Position();
  return false;
}

double QuadraticBezier(double t, double p0, double p1, double p2) {
  return t * t * (p0 - 2 * p1 + p2) - 2 * t * (p0 - p1) + p0;
}

double CubicBezier(double t, double p0, double p1, double p2, double p3) {
  const double a = p3 - p0 + 3 * (p1 - p2);
  const double b = 3 * (p0 - 2 * p1 + p2);
  const double c = 3 * (p1 - p0);
  return ((a * t + b) * t + c) * t + p0;
}

float CubicBezierSingle(float t, float p0, float p1, float p2, float p3) {
  return float(CubicBezier(t, p0, p1, p2, p3));
}

// A recursion depth of 32 could ask for 2^31 segments per curve: the depth
// is capped at kMaxFlattenDepth and the splits by the context's budget.
void FlattenQuadratic(TFlattenContext& context, TFloatPoint start, TFloatPoint end, int32_t depth, double t1,
                      double t0) {
  Flatten<false>(context, start, end, depth < kMaxFlattenDepth ? depth : kMaxFlattenDepth, t1, t0);
}

void FlattenCubic(TFlattenContext& context, TFloatPoint start, TFloatPoint end, int32_t depth, double t1,
                  double t0) {
  Flatten<true>(context, start, end, depth < kMaxFlattenDepth ? depth : kMaxFlattenDepth, t1, t0);
}

}  // namespace kav
