#include "core/formats/metafile/MetafileGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ozm::metafile {

bool Affine::IsFinite() const {
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) &&
           std::isfinite(e) && std::isfinite(f);
}

Affine Affine::Compose(const Affine& m, const Affine& n) {
    return {n.a * m.a + n.c * m.b, n.b * m.a + n.d * m.b,       n.a * m.c + n.c * m.d,
            n.b * m.c + n.d * m.d, n.a * m.e + n.c * m.f + n.e, n.b * m.e + n.d * m.f + n.f};
}

void Path::MoveTo(PointD p) {
    elements_.push_back({PathOp::Move, {p, {}, {}}});
    current_ = figureStart_ = p;
    hasCurrent_ = true;
}

void Path::LineTo(PointD p) {
    if (!hasCurrent_) {
        MoveTo(p);
        return;
    }
    elements_.push_back({PathOp::Line, {p, {}, {}}});
    current_ = p;
}

void Path::CurveTo(PointD c1, PointD c2, PointD p) {
    if (!hasCurrent_) MoveTo(c1);
    elements_.push_back({PathOp::Curve, {c1, c2, p}});
    current_ = p;
}

void Path::Close() {
    if (!hasCurrent_) return;
    elements_.push_back({PathOp::Close, {}});
    current_ = figureStart_;
    hasCurrent_ = false;
}

void Path::Append(const Path& other) {
    elements_.insert(elements_.end(), other.elements_.begin(), other.elements_.end());
    if (!other.elements_.empty()) {
        current_ = other.current_;
        figureStart_ = other.figureStart_;
        hasCurrent_ = other.hasCurrent_;
    }
}

Path Path::Transformed(const Affine& m) const {
    Path out = *this;
    for (PathElement& e : out.elements_) {
        for (PointD& p : e.p) p = m.Apply(p);
    }
    out.current_ = m.Apply(current_);
    out.figureStart_ = m.Apply(figureStart_);
    return out;
}

void AppendEllipticArc(Path& path, const Affine& m, PointD c, double rx, double ry, double t0,
                       double sweep, bool connect) {
    auto at = [&](double t) { return m.Apply({c.x + rx * std::cos(t), c.y + ry * std::sin(t)}); };
    const PointD start = at(t0);
    if (connect && path.HasCurrentPoint()) {
        path.LineTo(start);
    } else {
        path.MoveTo(start);
    }
    // Quarter turns at most per curve keep the cubic within 0.03% of the ellipse.
    const int pieces = std::clamp(
        static_cast<int>(std::ceil(std::abs(sweep) / (std::numbers::pi / 2) - 1e-9)), 1, 8);
    const double step = sweep / pieces;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    double t = t0;
    for (int i = 0; i < pieces; ++i) {
        const double t1 = t + step;
        const PointD d0{-rx * std::sin(t), ry * std::cos(t)};
        const PointD d1{-rx * std::sin(t1), ry * std::cos(t1)};
        const PointD p0{c.x + rx * std::cos(t), c.y + ry * std::sin(t)};
        const PointD p1{c.x + rx * std::cos(t1), c.y + ry * std::sin(t1)};
        path.CurveTo(m.Apply({p0.x + k * d0.x, p0.y + k * d0.y}),
                     m.Apply({p1.x - k * d1.x, p1.y - k * d1.y}), m.Apply(p1));
        t = t1;
    }
}

void AppendEllipse(Path& path, const Affine& m, double left, double top, double right,
                   double bottom) {
    const PointD c{(left + right) / 2, (top + bottom) / 2};
    AppendEllipticArc(path, m, c, std::abs(right - left) / 2, std::abs(bottom - top) / 2, 0,
                      2 * std::numbers::pi, false);
    path.Close();
}

void AppendRoundRect(Path& path, const Affine& m, double left, double top, double right,
                     double bottom, double ew, double eh) {
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    const double rx = std::min(std::abs(ew) / 2, (right - left) / 2);
    const double ry = std::min(std::abs(eh) / 2, (bottom - top) / 2);
    const double pi = std::numbers::pi;
    if (rx <= 0 || ry <= 0) {
        path.MoveTo(m.Apply({left, top}));
        path.LineTo(m.Apply({right, top}));
        path.LineTo(m.Apply({right, bottom}));
        path.LineTo(m.Apply({left, bottom}));
        path.Close();
        return;
    }
    AppendEllipticArc(path, m, {right - rx, top + ry}, rx, ry, -pi / 2, pi / 2, false);
    AppendEllipticArc(path, m, {right - rx, bottom - ry}, rx, ry, 0, pi / 2, true);
    AppendEllipticArc(path, m, {left + rx, bottom - ry}, rx, ry, pi / 2, pi / 2, true);
    AppendEllipticArc(path, m, {left + rx, top + ry}, rx, ry, pi, pi / 2, true);
    path.Close();
}

}  // namespace ozm::metafile
