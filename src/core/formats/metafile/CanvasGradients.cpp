#include <cmath>
#include <vector>

#include "core/formats/metafile/CanvasDetail.h"
#include "core/formats/metafile/MetafileCanvas.h"

namespace ozm::metafile {

using namespace detail;

// Gradient rectangles and shaded triangles.

void Canvas::GradientRect(const GradientVertex& a, const GradientVertex& b, bool vertical) {
    const Affine m = LogicalToTarget();
    const auto inverse = Invert(m);
    if (!inverse) return;
    const RectD r{a.p.x, a.p.y, b.p.x, b.p.y};
    const Path area = TargetRect(r, m);
    PatternPtr pattern(vertical ? cairo_pattern_create_linear(0, a.p.y, 0, b.p.y)
                                : cairo_pattern_create_linear(a.p.x, 0, b.p.x, 0));
    cairo_pattern_add_color_stop_rgb(pattern.get(), 0, a.r, a.g, a.b);
    cairo_pattern_add_color_stop_rgb(pattern.get(), 1, b.r, b.g, b.b);
    cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD);
    const cairo_matrix_t pm = ToCairo(*inverse);
    cairo_pattern_set_matrix(pattern.get(), &pm);
    FillWithPattern(area, pattern.get(), 2 * kCostPixel);
}

namespace {

struct ShadedPoint {
    PointD p;
    double r, g, b;
};

ShadedPoint Lerp(const ShadedPoint& u, const ShadedPoint& v, double t) {
    return {{u.p.x + (v.p.x - u.p.x) * t, u.p.y + (v.p.y - u.p.y) * t},
            u.r + (v.r - u.r) * t,
            u.g + (v.g - u.g) * t,
            u.b + (v.b - u.b) * t};
}

// Cuts a shaded polygon to the half plane where `inside` holds; colours along the cut are
// interpolated, which keeps the shading linear, so the cut piece shades exactly as before.
template <class Inside, class Cross>
std::vector<ShadedPoint> CutPolygon(const std::vector<ShadedPoint>& in, Inside inside,
                                    Cross cross) {
    std::vector<ShadedPoint> out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const ShadedPoint& cur = in[i];
        const ShadedPoint& prev = in[(i + in.size() - 1) % in.size()];
        const bool curIn = inside(cur.p), prevIn = inside(prev.p);
        if (curIn != prevIn) out.push_back(Lerp(prev, cur, cross(prev.p, cur.p)));
        if (curIn) out.push_back(cur);
    }
    return out;
}

}  // namespace

void Canvas::GradientTriangle(const GradientVertex& a, const GradientVertex& b,
                              const GradientVertex& c) {
    const Affine m = LogicalToTarget();
    std::vector<ShadedPoint> poly = {{m.Apply(a.p), a.r, a.g, a.b},
                                     {m.Apply(b.p), b.r, b.g, b.b},
                                     {m.Apply(c.p), c.r, c.g, c.b}};
    for (const ShadedPoint& v : poly) {
        if (!std::isfinite(v.p.x) || !std::isfinite(v.p.y)) return;
    }
    // The shading's cost grows with the triangle's size, not with what is visible: keep only
    // the part over the target (and a pixel around it).
    const double x0 = -1, y0 = -1, x1 = width_ + 1, y1 = height_ + 1;
    poly = CutPolygon(
        poly, [&](PointD p) { return p.x >= x0; },
        [&](PointD u, PointD v) { return (x0 - u.x) / (v.x - u.x); });
    poly = CutPolygon(
        poly, [&](PointD p) { return p.x <= x1; },
        [&](PointD u, PointD v) { return (x1 - u.x) / (v.x - u.x); });
    poly = CutPolygon(
        poly, [&](PointD p) { return p.y >= y0; },
        [&](PointD u, PointD v) { return (y0 - u.y) / (v.y - u.y); });
    poly = CutPolygon(
        poly, [&](PointD p) { return p.y <= y1; },
        [&](PointD u, PointD v) { return (y1 - u.y) / (v.y - u.y); });
    if (poly.size() < 3) return;

    PatternPtr pattern(cairo_pattern_create_mesh());
    Path outline;
    outline.MoveTo(poly[0].p);
    for (std::size_t i = 1; i < poly.size(); ++i) {
        outline.LineTo(poly[i].p);
        if (i + 1 >= poly.size()) continue;
        // A fan of triangles; each is a patch with its three corners' colours.
        const ShadedPoint* corners[3] = {&poly[0], &poly[i], &poly[i + 1]};
        cairo_mesh_pattern_begin_patch(pattern.get());
        for (int k = 0; k < 3; ++k) {
            if (k == 0) {
                cairo_mesh_pattern_move_to(pattern.get(), corners[k]->p.x, corners[k]->p.y);
            } else {
                cairo_mesh_pattern_line_to(pattern.get(), corners[k]->p.x, corners[k]->p.y);
            }
            cairo_mesh_pattern_set_corner_color_rgb(pattern.get(), k, corners[k]->r, corners[k]->g,
                                                    corners[k]->b);
        }
        cairo_mesh_pattern_end_patch(pattern.get());
    }
    outline.Close();
    FillWithPattern(outline, pattern.get(), kCostMeshPixel);
}

}  // namespace ozm::metafile
