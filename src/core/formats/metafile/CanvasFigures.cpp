#include <algorithm>
#include <cmath>

#include "core/formats/metafile/CanvasDetail.h"
#include "core/formats/metafile/MetafileCanvas.h"

namespace ozm::metafile {

using namespace detail;

namespace {

double SweepBetween(double t0, double t1, int direction) {
    double s = std::fmod(t1 - t0, 2 * kPi);
    if (direction > 0) {
        if (s <= 1e-9) s += 2 * kPi;
    } else {
        if (s >= -1e-9) s -= 2 * kPi;
    }
    return s;
}

}  // namespace

// ---- Figures -------------------------------------------------------------------------------

Path Canvas::LogicalPolyline(std::span<const PointD> points, bool close) const {
    const Affine m = LogicalToTarget();
    Path p;
    if (points.empty()) return p;
    p.MoveTo(m.Apply(points[0]));
    for (std::size_t i = 1; i < points.size(); ++i) p.LineTo(m.Apply(points[i]));
    if (close) p.Close();
    return p;
}

void Canvas::MoveTo(PointD p) {
    state_.current = p;
    if (inPath_) path_.MoveTo(LogicalToTarget().Apply(p));
}

void Canvas::LineTo(PointD p) {
    const PointD pts[2] = {state_.current, p};
    PolylineTo(std::span<const PointD>(pts + 1, 1));
}

void Canvas::PolylineTo(std::span<const PointD> points) {
    if (points.empty()) return;
    const Affine m = LogicalToTarget();
    if (inPath_) {
        if (!path_.HasCurrentPoint()) path_.MoveTo(m.Apply(state_.current));
        for (const PointD& p : points) path_.LineTo(m.Apply(p));
    } else {
        Path p;
        p.MoveTo(m.Apply(state_.current));
        for (const PointD& q : points) p.LineTo(m.Apply(q));
        StrokeTarget(p, state_.pen);
    }
    state_.current = points.back();
}

void Canvas::PolyBezierTo(std::span<const PointD> points) {
    const std::size_t n = points.size() / 3 * 3;
    if (n == 0) return;
    const Affine m = LogicalToTarget();
    Path local;
    Path& p = inPath_ ? path_ : local;
    if (!p.HasCurrentPoint()) p.MoveTo(m.Apply(state_.current));
    for (std::size_t i = 0; i < n; i += 3) {
        p.CurveTo(m.Apply(points[i]), m.Apply(points[i + 1]), m.Apply(points[i + 2]));
    }
    if (!inPath_) StrokeTarget(local, state_.pen);
    state_.current = points[n - 1];
}

void Canvas::PolyDraw(std::span<const PointD> points, std::span<const std::uint8_t> types) {
    const std::size_t n = std::min(points.size(), types.size());
    if (n == 0) return;
    const Affine m = LogicalToTarget();
    Path local;
    Path& p = inPath_ ? path_ : local;
    if (!p.HasCurrentPoint()) p.MoveTo(m.Apply(state_.current));
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t type = types[i];
        switch (type & ~1) {
            case 6:
                p.MoveTo(m.Apply(points[i]));
                break;
            case 2:
                p.LineTo(m.Apply(points[i]));
                break;
            case 4:
                if (i + 2 >= n) return;
                p.CurveTo(m.Apply(points[i]), m.Apply(points[i + 1]), m.Apply(points[i + 2]));
                i += 2;
                type = types[i];
                break;
            default:
                return;  // the graphics device draws nothing of a list with a bad type
        }
        state_.current = points[i];
        if (type & 1) p.Close();
    }
    if (!inPath_) StrokeTarget(local, state_.pen);
}

void Canvas::PolyBezier(std::span<const PointD> points) {
    if (points.size() < 4) return;
    const Affine m = LogicalToTarget();
    Path p;
    p.MoveTo(m.Apply(points[0]));
    for (std::size_t i = 1; i + 2 < points.size(); i += 3) {
        p.CurveTo(m.Apply(points[i]), m.Apply(points[i + 1]), m.Apply(points[i + 2]));
    }
    Emit(p, false, true);
}

void Canvas::Polyline(std::span<const PointD> points) {
    if (points.size() < 2) return;
    Emit(LogicalPolyline(points, false), false, true);
}

void Canvas::Polygon(std::span<const PointD> points) {
    if (points.size() < 2) return;
    Emit(LogicalPolyline(points, true), true, true);
}

// Figures whose counts run past the points end the list; figures under two points are skipped.
void Canvas::PolyPoly(std::span<const PointD> points, std::span<const std::uint32_t> counts,
                      bool closed) {
    Path all;
    std::size_t at = 0;
    for (std::uint32_t count : counts) {
        if (count > points.size() - at) break;
        if (count >= 2) all.Append(LogicalPolyline(points.subspan(at, count), closed));
        at += count;
    }
    if (!all.Empty()) Emit(all, closed, true);
}

void Canvas::PolyPolygon(std::span<const PointD> points, std::span<const std::uint32_t> counts) {
    PolyPoly(points, counts, true);
}

void Canvas::PolyPolyline(std::span<const PointD> points, std::span<const std::uint32_t> counts) {
    PolyPoly(points, counts, false);
}

void Canvas::Rectangle(const RectD& r) { Emit(TargetRect(r, LogicalToTarget()), true, true); }

void Canvas::RoundRect(const RectD& r, double ew, double eh) {
    Path p;
    AppendRoundRect(p, LogicalToTarget(), r.left, r.top, r.right, r.bottom, ew, eh);
    Emit(p, true, true);
}

void Canvas::Ellipse(const RectD& r) {
    Path p;
    AppendEllipse(p, LogicalToTarget(), r.left, r.top, r.right, r.bottom);
    Emit(p, true, true);
}

void Canvas::ArcShape(ArcKind kind, const RectD& box, PointD start, PointD end) {
    const Affine m = LogicalToTarget();
    const PointD c{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
    const double rx = std::abs(box.right - box.left) / 2;
    const double ry = std::abs(box.bottom - box.top) / 2;
    if (!(rx > 0) || !(ry > 0) || !std::isfinite(rx) || !std::isfinite(ry)) return;
    const double t0 = std::atan2((start.y - c.y) / ry, (start.x - c.x) / rx);
    const double t1 = std::atan2((end.y - c.y) / ry, (end.x - c.x) / rx);
    // Arc directions are as seen on the output: anticlockwise on a y-down target runs
    // toward smaller parameter angles unless the mapping mirrors.
    const bool mirrored = m.Determinant() < 0;
    const bool anticlockwise = state_.arcDirection != gdi::kAdClockwise;
    const int direction = (anticlockwise != mirrored) ? -1 : 1;
    const double sweep = SweepBetween(t0, t1, direction);

    Path local;
    Path& p = (inPath_ && kind == ArcKind::ArcTo) ? path_ : local;
    switch (kind) {
        case ArcKind::Arc:
            AppendEllipticArc(p, m, c, rx, ry, t0, sweep, false);
            break;
        case ArcKind::ArcTo:
            if (!p.HasCurrentPoint()) p.MoveTo(m.Apply(state_.current));
            AppendEllipticArc(p, m, c, rx, ry, t0, sweep, true);
            state_.current = {c.x + rx * std::cos(t0 + sweep), c.y + ry * std::sin(t0 + sweep)};
            break;
        case ArcKind::Chord:
            AppendEllipticArc(p, m, c, rx, ry, t0, sweep, false);
            p.Close();
            break;
        case ArcKind::Pie:
            p.MoveTo(m.Apply(c));
            AppendEllipticArc(p, m, c, rx, ry, t0, sweep, true);
            p.Close();
            break;
    }
    if (kind == ArcKind::ArcTo) {
        if (!inPath_) StrokeTarget(local, state_.pen);
        return;
    }
    const bool closed = kind == ArcKind::Chord || kind == ArcKind::Pie;
    Emit(local, closed, true);
}

void Canvas::AngleArc(PointD centre, double radius, double startDeg, double sweepDeg) {
    const Affine m = LogicalToTarget();
    if (!std::isfinite(radius) || !std::isfinite(startDeg) || !std::isfinite(sweepDeg)) return;
    const double sign = m.Determinant() < 0 ? 1 : -1;
    const double t0 = sign * startDeg * kPi / 180;
    double sweep = sign * sweepDeg * kPi / 180;
    sweep = std::clamp(sweep, -8 * kPi, 8 * kPi);
    Path local;
    Path& p = inPath_ ? path_ : local;
    if (!p.HasCurrentPoint()) p.MoveTo(m.Apply(state_.current));
    AppendEllipticArc(p, m, centre, radius, radius, t0, sweep, true);
    state_.current = {centre.x + radius * std::cos(t0 + sweep),
                      centre.y + radius * std::sin(t0 + sweep)};
    if (!inPath_) StrokeTarget(local, state_.pen);
}

void Canvas::SetPixel(PointD p, Colour c) {
    const PointD t = LogicalToTarget().Apply(p);
    const double sx = std::max(1.0, std::abs(deviceToTarget_.a));
    const double sy = std::max(1.0, std::abs(deviceToTarget_.d));
    Path r;
    const double x = std::floor(t.x), y = std::floor(t.y);
    r.MoveTo({x, y});
    r.LineTo({x + sx, y});
    r.LineTo({x + sx, y + sy});
    r.LineTo({x, y + sy});
    r.Close();
    Brush b;
    b.colour = c;
    FillTarget(r, b, false);
}

// ---- Path bracket --------------------------------------------------------------------------

void Canvas::BeginPath() {
    inPath_ = true;
    pathReady_ = false;
    path_.Clear();
}

void Canvas::EndPath() {
    if (!inPath_) return;
    inPath_ = false;
    pathReady_ = true;
}

void Canvas::AbortPath() {
    inPath_ = false;
    pathReady_ = false;
    path_.Clear();
}

void Canvas::CloseFigure() {
    if (inPath_) path_.Close();
}

void Canvas::FillPath() {
    EndPath();
    if (!pathReady_) return;
    FillTarget(path_, state_.brush, state_.polyFillMode == gdi::kAlternate);
    AbortPath();
}

void Canvas::StrokePath() {
    EndPath();
    if (!pathReady_) return;
    StrokeTarget(path_, state_.pen);
    AbortPath();
}

void Canvas::StrokeAndFillPath() {
    EndPath();
    if (!pathReady_) return;
    FillTarget(path_, state_.brush, state_.polyFillMode == gdi::kAlternate);
    StrokeTarget(path_, state_.pen);
    AbortPath();
}

// ---- Regions -------------------------------------------------------------------------------

void Canvas::FillRegion(std::span<const RectD> rects, const Brush& brush) {
    const Affine m = LogicalToTarget();
    Path p;
    for (const RectD& r : rects) p.Append(TargetRect(r, m));
    FillTarget(p, brush, false);
}

void Canvas::FrameRegion(std::span<const RectD> rects, const Brush& brush, double w, double h) {
    const Affine m = LogicalToTarget();
    Path p;
    for (const RectD& r : rects) {
        p.Append(TargetRect(r, m));
        const RectD inner{r.left + w, r.top + h, r.right - w, r.bottom - h};
        if (inner.left < inner.right && inner.top < inner.bottom) p.Append(TargetRect(inner, m));
    }
    FillTarget(p, brush, true);
}

void Canvas::InvertRegion(std::span<const RectD> rects) {
    for (const RectD& r : rects) Blit(nullptr, RectD{}, r, 0x00550009);
}

}  // namespace ozm::metafile
