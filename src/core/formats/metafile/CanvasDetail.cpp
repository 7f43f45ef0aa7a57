#include "core/formats/metafile/CanvasDetail.h"

#include <algorithm>
#include <cmath>

namespace ozm::metafile::detail {

void AddPath(cairo_t* cr, const Path& path) {
    cairo_new_path(cr);
    for (const PathElement& e : path.Elements()) {
        switch (e.op) {
            case PathOp::Move:
                cairo_move_to(cr, ClampCoord(e.p[0].x), ClampCoord(e.p[0].y));
                break;
            case PathOp::Line:
                cairo_line_to(cr, ClampCoord(e.p[0].x), ClampCoord(e.p[0].y));
                break;
            case PathOp::Curve:
                cairo_curve_to(cr, ClampCoord(e.p[0].x), ClampCoord(e.p[0].y), ClampCoord(e.p[1].x),
                               ClampCoord(e.p[1].y), ClampCoord(e.p[2].x), ClampCoord(e.p[2].y));
                break;
            case PathOp::Close:
                cairo_close_path(cr);
                break;
        }
    }
}

double PathLength(const Path& path) {
    double length = 0;
    PointD last{};
    for (const PathElement& e : path.Elements()) {
        auto add = [&](PointD p) {
            length += std::hypot(p.x - last.x, p.y - last.y);
            last = p;
        };
        switch (e.op) {
            case PathOp::Move:
                last = e.p[0];
                break;
            case PathOp::Line:
                add(e.p[0]);
                break;
            case PathOp::Curve:
                add(e.p[0]);
                add(e.p[1]);
                add(e.p[2]);
                break;
            case PathOp::Close:
                break;
        }
    }
    return std::isfinite(length) ? length : 1e300;
}

PixelBox BoxOf(double x0, double y0, double x1, double y1, int w, int h) {
    PixelBox b;
    b.x0 = static_cast<int>(std::clamp(std::floor(x0) - 1, 0.0, double(w)));
    b.y0 = static_cast<int>(std::clamp(std::floor(y0) - 1, 0.0, double(h)));
    b.x1 = static_cast<int>(std::clamp(std::ceil(x1) + 1, 0.0, double(w)));
    b.y1 = static_cast<int>(std::clamp(std::ceil(y1) + 1, 0.0, double(h)));
    return b;
}

PixelBox BoxOfPath(const Path& path, double margin, int w, int h) {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const PathElement& e : path.Elements()) {
        const int points = e.op == PathOp::Curve ? 3 : (e.op == PathOp::Close ? 0 : 1);
        for (int i = 0; i < points; ++i) {
            x0 = std::min(x0, ClampCoord(e.p[i].x));
            y0 = std::min(y0, ClampCoord(e.p[i].y));
            x1 = std::max(x1, ClampCoord(e.p[i].x));
            y1 = std::max(y1, ClampCoord(e.p[i].y));
        }
    }
    if (x0 > x1) return PixelBox{};
    return BoxOf(x0 - margin, y0 - margin, x1 + margin, y1 + margin, w, h);
}

bool IsRectilinear(const Path& path) {
    PointD last{};
    for (const PathElement& e : path.Elements()) {
        if (e.op == PathOp::Curve) return false;
        if (e.op == PathOp::Line && e.p[0].x != last.x && e.p[0].y != last.y) return false;
        if (e.op != PathOp::Close) last = e.p[0];
    }
    return true;
}

EdgeCount CountEdges(const Path& path, double y0, double y1, double widen) {
    EdgeCount n;
    PointD last{}, start{};
    auto rowsOf = [&](double a, double b) {
        const double lo = std::max(std::min(a, b) - widen, y0);
        const double hi = std::min(std::max(a, b) + widen, y1);
        return hi > lo ? hi - lo + 1 : 0.0;
    };
    auto segment = [&](PointD a, PointD b) {
        n.edges += 1;
        n.rows += rowsOf(ClampCoord(a.y), ClampCoord(b.y));
    };
    for (const PathElement& e : path.Elements()) {
        switch (e.op) {
            case PathOp::Move:
                if (last.x != start.x || last.y != start.y) segment(last, start);
                last = start = e.p[0];
                break;
            case PathOp::Line:
                segment(last, e.p[0]);
                last = e.p[0];
                break;
            case PathOp::Curve: {
                double length = 0;
                double lo = ClampCoord(last.y), hi = lo;
                PointD prev = last;
                for (int i = 0; i < 3; ++i) {
                    length += std::hypot(ClampCoord(e.p[i].x) - ClampCoord(prev.x),
                                         ClampCoord(e.p[i].y) - ClampCoord(prev.y));
                    lo = std::min(lo, ClampCoord(e.p[i].y));
                    hi = std::max(hi, ClampCoord(e.p[i].y));
                    prev = e.p[i];
                }
                const double pieces = 1 + std::sqrt(length / 0.8);
                n.edges += pieces;
                n.rows += rowsOf(lo, hi);
                last = e.p[2];
                break;
            }
            case PathOp::Close:
                segment(last, start);
                last = start;
                break;
        }
    }
    if (last.x != start.x || last.y != start.y) segment(last, start);
    return n;
}

bool OnWholePixels(const Path& path) {
    for (const PathElement& e : path.Elements()) {
        if (e.op == PathOp::Close) continue;
        if (e.p[0].x != std::round(e.p[0].x) || e.p[0].y != std::round(e.p[0].y)) return false;
    }
    return true;
}

std::optional<Affine> Invert(const Affine& m) {
    const double det = m.Determinant();
    if (!std::isfinite(det) || std::abs(det) < 1e-12) return std::nullopt;
    Affine r;
    r.a = m.d / det;
    r.b = -m.b / det;
    r.c = -m.c / det;
    r.d = m.a / det;
    r.e = -(r.a * m.e + r.c * m.f);
    r.f = -(r.b * m.e + r.d * m.f);
    if (!r.IsFinite()) return std::nullopt;
    return r;
}

}  // namespace ozm::metafile::detail
