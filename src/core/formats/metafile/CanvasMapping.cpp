#include <cmath>

#include "core/formats/metafile/CanvasDetail.h"
#include "core/formats/metafile/MetafileCanvas.h"

namespace ozm::metafile {

using namespace detail;

// Logical units to target pixels: the mapping mode, window and viewport, world transform.

void Canvas::SetMapMode(int mode) {
    if (mode < gdi::kMmText || mode > gdi::kMmAnisotropic) return;
    DcState& s = state_;
    const int old = s.mapMode;
    s.mapMode = mode;
    double unitMm = 0;
    switch (mode) {
        case gdi::kMmText:
            s.windowExt = {1, 1};
            s.viewportExt = {1, 1};
            return;
        case gdi::kMmLoMetric:
            unitMm = 0.1;
            break;
        case gdi::kMmHiMetric:
            unitMm = 0.01;
            break;
        case gdi::kMmLoEnglish:
            unitMm = 0.254;
            break;
        case gdi::kMmHiEnglish:
            unitMm = 0.0254;
            break;
        case gdi::kMmTwips:
            unitMm = 25.4 / 1440;
            break;
        case gdi::kMmIsotropic:
            if (old == gdi::kMmIsotropic) return;
            unitMm = 0.1;  // starts from the 0.1 mm extents
            break;
        case gdi::kMmAnisotropic:
            return;  // keeps the extents it had
    }
    s.windowExt = {1, 1};
    s.viewportExt = {devicePixelsPerMm_.x * unitMm, -devicePixelsPerMm_.y * unitMm};
}

void Canvas::ApplyIsotropic() {
    DcState& s = state_;
    if (s.mapMode != gdi::kMmIsotropic) return;
    const double xs = s.viewportExt.x / s.windowExt.x;
    const double ys = s.viewportExt.y / s.windowExt.y;
    if (!std::isfinite(xs) || !std::isfinite(ys)) return;
    if (std::abs(xs) < std::abs(ys)) {
        s.viewportExt.y = std::copysign(std::abs(s.windowExt.y * xs), s.viewportExt.y);
    } else {
        s.viewportExt.x = std::copysign(std::abs(s.windowExt.x * ys), s.viewportExt.x);
    }
}

void Canvas::SetWindowOrg(PointD p) { state_.windowOrg = p; }
void Canvas::SetViewportOrg(PointD p) { state_.viewportOrg = p; }
void Canvas::OffsetWindowOrg(PointD d) {
    state_.windowOrg.x += d.x;
    state_.windowOrg.y += d.y;
}
void Canvas::OffsetViewportOrg(PointD d) {
    state_.viewportOrg.x += d.x;
    state_.viewportOrg.y += d.y;
}

// Extents only count in the isotropic and anisotropic modes; zero sizes and factors are ignored.
void Canvas::SetExtent(PointD& extent, PointD e) {
    if (state_.mapMode < gdi::kMmIsotropic || e.x == 0 || e.y == 0) return;
    extent = e;
    ApplyIsotropic();
}

void Canvas::ScaleExtent(PointD& extent, double xNum, double xDen, double yNum, double yDen) {
    if (state_.mapMode < gdi::kMmIsotropic || xDen == 0 || yDen == 0 || xNum == 0 || yNum == 0) {
        return;
    }
    extent.x = extent.x * xNum / xDen;
    extent.y = extent.y * yNum / yDen;
    ApplyIsotropic();
}

void Canvas::SetWindowExt(PointD e) { SetExtent(state_.windowExt, e); }

void Canvas::SetViewportExt(PointD e) { SetExtent(state_.viewportExt, e); }

void Canvas::ScaleWindowExt(double xNum, double xDen, double yNum, double yDen) {
    ScaleExtent(state_.windowExt, xNum, xDen, yNum, yDen);
}

void Canvas::ScaleViewportExt(double xNum, double xDen, double yNum, double yDen) {
    ScaleExtent(state_.viewportExt, xNum, xDen, yNum, yDen);
}

void Canvas::SetWorldTransform(const Affine& m) {
    if (m.IsFinite() && m.Determinant() != 0) state_.world = m;
}

void Canvas::ModifyWorldTransform(const Affine& m, int mode) {
    switch (mode) {
        case 1:
            state_.world = Affine{};
            break;
        case 2:
            if (m.IsFinite()) state_.world = Affine::Compose(m, state_.world);
            break;
        case 3:
            if (m.IsFinite()) state_.world = Affine::Compose(state_.world, m);
            break;
        case 4:
            SetWorldTransform(m);
            break;
        default:
            break;
    }
}

Affine Canvas::LogicalToTarget() const {
    const DcState& s = state_;
    const double sx = s.viewportExt.x / s.windowExt.x;
    const double sy = s.viewportExt.y / s.windowExt.y;
    const Affine page{
        sx, 0, 0, sy, s.viewportOrg.x - s.windowOrg.x * sx, s.viewportOrg.y - s.windowOrg.y * sy};
    return Affine::Compose(Affine::Compose(s.world, page), deviceToTarget_);
}

Path Canvas::TargetRect(const RectD& r, const Affine& m) const {
    Path p;
    p.MoveTo(m.Apply({r.left, r.top}));
    p.LineTo(m.Apply({r.right, r.top}));
    p.LineTo(m.Apply({r.right, r.bottom}));
    p.LineTo(m.Apply({r.left, r.bottom}));
    p.Close();
    return p;
}

}  // namespace ozm::metafile
