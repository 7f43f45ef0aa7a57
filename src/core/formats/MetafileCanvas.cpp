#include "core/formats/MetafileCanvas.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/formats/MetafileRaster.h"
#include "core/formats/MetafileRecords.h"
#include "core/text/TextRules.h"

namespace ozm::metafile {

namespace {

constexpr double kPi = std::numbers::pi;
// Coordinates beyond this many pixels from the target are pulled in: cairo's fixed-point
// numbers hold about +-8 million, and nothing that far out is visible anyway.
constexpr double kCoordLimit = 4.0e6;
// Clip shapes kept as paths before they are merged into a mask.
constexpr std::size_t kMaxClipShapes = 16;

double ClampCoord(double v) {
    if (!std::isfinite(v)) return 0;
    return std::clamp(v, -kCoordLimit, kCoordLimit);
}

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

// Sum of segment lengths (curves by their control polygon, which is never shorter).
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

// The pixels a path can touch, widened by `margin`, within a target of w x h.
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

double Area(const PixelBox& b) { return double(b.x1 - b.x0) * double(b.y1 - b.y0); }

bool IsRectilinear(const Path& path) {
    PointD last{};
    for (const PathElement& e : path.Elements()) {
        if (e.op == PathOp::Curve) return false;
        if (e.op == PathOp::Line && e.p[0].x != last.x && e.p[0].y != last.y) return false;
        if (e.op != PathOp::Close) last = e.p[0];
    }
    return true;
}

// What the drawing library's work costs, in the meter's units (about a nanosecond of one
// core each), measured on the operations it runs: compositing a pixel, stepping one edge of
// a polygon across one scan line (its scan converter keeps every crossing edge active on
// every line, and sorts them), setting up an edge, a pixel under a clip mask, a pixel of a
// bitwise operation, a pixel of a shaded mesh. Overestimates only refuse absurd pictures.
constexpr double kCostPixel = 2;
constexpr double kCostUnalignedBoxPixel = 8;  // boxes between pixel edges take a slow path
constexpr double kCostMaskedPixel = 40;
constexpr double kCostBitwisePixel = 8;
constexpr double kCostRop3Pixel = 60;
constexpr double kCostMeshPixel = 250;
constexpr double kCostEdgeRow = 200;
constexpr double kCostEdge = 100;
constexpr double kCostCall = 1000;

// Edges a path becomes and the scan lines those edges cross between rows y0 and y1; curves
// count as the segments the library flattens them into (at a tolerance of 0.1 pixel) and
// cross at most the rows of their control polygon.
struct EdgeCount {
    double edges = 0;
    double rows = 0;
};

EdgeCount CountEdges(const Path& path, double y0, double y1, double widen = 0) {
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

std::uint32_t Rgb(const Colour& c) {
    return (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
}

void SetColour(cairo_t* cr, const Colour& c) {
    cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
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

cairo_matrix_t ToCairo(const Affine& m) {
    cairo_matrix_t c;
    cairo_matrix_init(&c, m.a, m.b, m.c, m.d, m.e, m.f);
    return c;
}

double SweepBetween(double t0, double t1, int direction) {
    double s = std::fmod(t1 - t0, 2 * kPi);
    if (direction > 0) {
        if (s <= 1e-9) s += 2 * kPi;
    } else {
        if (s >= -1e-9) s -= 2 * kPi;
    }
    return s;
}

// 8 x 8 hatch tiles, one row per byte, most significant bit leftmost.
constexpr std::uint8_t kHatches[6][8] = {
    {0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00},  // horizontal
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // forward diagonal
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // backward diagonal
    {0x08, 0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08},  // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // diagonal cross
};

}  // namespace

Canvas::Canvas(cairo_surface_t* target, const Affine& deviceToTarget, PointD devicePixelsPerMm,
               WorkMeter& meter, ImageCache* images)
    : target_(target),
      cr_(cairo_create(target)),
      width_(cairo_image_surface_get_width(target)),
      height_(cairo_image_surface_get_height(target)),
      deviceToTarget_(deviceToTarget),
      devicePixelsPerMm_(devicePixelsPerMm),
      meter_(meter),
      images_(images ? images : &ownImages_) {
    state_.pen.colour = {0, 0, 0};
    state_.brush.colour = {255, 255, 255};
    state_.font.face = "";
    cairo_set_tolerance(cr_.get(), 0.1);
}

bool Canvas::Healthy() const { return cairo_status(cr_.get()) == CAIRO_STATUS_SUCCESS; }

void Canvas::Charge(double units) { meter_.Charge(units); }

void Canvas::ChargeArea(double pixels, double rows, double perPixel) {
    if (!std::isfinite(pixels) || pixels < 0) pixels = double(width_) * height_;
    pixels = std::min(pixels, double(width_) * height_ + 1024);
    rows = std::isfinite(rows) ? std::clamp(rows, 0.0, double(height_)) : double(height_);
    // Under a clip mask every figure is drawn into a group and masked onto the target.
    const double masked = state_.clip.mask ? kCostMaskedPixel : 0;
    meter_.Charge(kCostCall + pixels * (perPixel + masked + clipCostPerPixel_) +
                  clipCostPerRow_ * rows);
}

void Canvas::ChargeArea(const PixelBox& box, double perPixel) {
    ChargeArea(Area(box), std::max(0, box.y1 - box.y0), perPixel);
}

void Canvas::ChargePath(const Path& path, const PixelBox& box, double widen) {
    const EdgeCount n = CountEdges(path, box.y0, box.y1, widen);
    meter_.Charge(n.edges * kCostEdge + n.rows * kCostEdgeRow);
}

// ---- Mapping -------------------------------------------------------------------------------

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

// ---- Device-context stack ------------------------------------------------------------------

bool Canvas::SaveDc() {
    if (saved_.size() >= kMaxSaveDepth) return false;
    saved_.push_back(state_);
    return true;
}

bool Canvas::RestoreDc(int index) {
    const auto depth = static_cast<std::int64_t>(saved_.size());
    const std::int64_t target = index < 0 ? depth + index : std::int64_t{index} - 1;
    if (target < 0 || target >= depth) return false;
    state_ = saved_[static_cast<std::size_t>(target)];
    saved_.resize(static_cast<std::size_t>(target));
    ++clipVersion_;
    return true;
}

// ---- Clipping ------------------------------------------------------------------------------

void Canvas::ApplyClip(cairo_t* cr) const {
    cairo_reset_clip(cr);
    for (const auto& shape : state_.clip.shapes) {
        AddPath(cr, shape->path);
        cairo_set_fill_rule(cr,
                            shape->evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        cairo_clip(cr);
    }
    cairo_new_path(cr);
}

void Canvas::EnsureClip() {
    if (appliedClipVersion_ == clipVersion_) return;
    // Shapes other than axis-aligned boxes are scan converted again for every figure drawn
    // through them: each drawing pays for their edges on its rows and their coverage.
    clipCostPerRow_ = 0;
    clipCostPerPixel_ = 0;
    for (const auto& shape : state_.clip.shapes) {
        if (shape->rectilinear) continue;
        const EdgeCount n = CountEdges(shape->path, 0, height_);
        meter_.Charge(n.edges * kCostEdge + n.rows * kCostEdgeRow);
        clipCostPerRow_ += (n.edges * kCostEdge + n.rows * kCostEdgeRow) / std::max(1, height_);
        clipCostPerPixel_ += kCostPixel;
    }
    ApplyClip(cr_.get());
    appliedClipVersion_ = clipVersion_;
}

SurfacePtr Canvas::RasterizeClip() const {
    SurfacePtr mask = MakeImageSurface(CAIRO_FORMAT_A8, width_, height_);
    if (!mask) return nullptr;
    ContextPtr cr(cairo_create(mask.get()));
    ApplyClip(cr.get());
    if (state_.clip.mask) {
        cairo_mask_surface(cr.get(), state_.clip.mask->get(), 0, 0);
    } else {
        cairo_paint(cr.get());
    }
    cairo_surface_flush(mask.get());
    return mask;
}

void Canvas::CombineClip(const Path& targetPath, bool evenOdd, int mode) {
    ClipState& clip = state_.clip;
    ++clipVersion_;
    const double m = 64;
    auto inverted = [&]() {
        auto shape = std::make_shared<ClipShape>();
        shape->path.MoveTo({-m, -m});
        shape->path.LineTo({width_ + m, -m});
        shape->path.LineTo({width_ + m, height_ + m});
        shape->path.LineTo({-m, height_ + m});
        shape->path.Close();
        shape->path.Append(targetPath);
        shape->evenOdd = true;
        shape->rectilinear = IsRectilinear(shape->path);
        return shape;
    };
    auto plain = [&]() {
        auto shape = std::make_shared<ClipShape>();
        shape->path = targetPath;
        shape->evenOdd = evenOdd;
        shape->rectilinear = IsRectilinear(targetPath);
        return shape;
    };
    // Every drawing re-applies the shapes: past a few, they are merged into one mask.
    auto limitShapes = [&]() {
        if (clip.shapes.size() <= kMaxClipShapes) return;
        Charge(2 * kCostPixel * width_ * height_);
        SurfacePtr mask = RasterizeClip();
        if (!mask) return;
        clip = ClipState{};
        clip.mask = std::make_shared<SurfacePtr>(std::move(mask));
    };
    switch (mode) {
        case gdi::kRgnCopy:
            clip = ClipState{};
            clip.shapes.push_back(plain());
            return;
        case gdi::kRgnAnd:
            clip.shapes.push_back(plain());
            limitShapes();
            return;
        case gdi::kRgnDiff:
            clip.shapes.push_back(inverted());
            limitShapes();
            return;
        case gdi::kRgnOr:
        case gdi::kRgnXor: {
            if (clip.IsDefault()) {
                // Everything united with anything stays everything.
                if (mode == gdi::kRgnXor) clip.shapes.push_back(inverted());
                return;
            }
            Charge(3 * kCostPixel * width_ * height_);
            ChargePath(targetPath, PixelBox{0, 0, width_, height_}, 0);
            SurfacePtr mask = RasterizeClip();
            if (!mask) return;
            ContextPtr cr(cairo_create(mask.get()));
            AddPath(cr.get(), targetPath);
            cairo_set_fill_rule(cr.get(),
                                evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
            cairo_set_operator(cr.get(),
                               mode == gdi::kRgnOr ? CAIRO_OPERATOR_OVER : CAIRO_OPERATOR_XOR);
            cairo_fill(cr.get());
            cairo_surface_flush(mask.get());
            clip = ClipState{};
            clip.mask = std::make_shared<SurfacePtr>(std::move(mask));
            return;
        }
        default:
            --clipVersion_;
            return;
    }
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

void Canvas::IntersectClipRect(const RectD& r) {
    CombineClip(TargetRect(r, LogicalToTarget()), false, gdi::kRgnAnd);
}

void Canvas::ExcludeClipRect(const RectD& r) {
    CombineClip(TargetRect(r, LogicalToTarget()), false, gdi::kRgnDiff);
}

void Canvas::SelectClipRegion(std::span<const RectD> deviceRects, int mode) {
    if (deviceRects.empty()) {
        if (mode == gdi::kRgnCopy) {
            state_.clip = ClipState{};
            ++clipVersion_;
        }
        return;
    }
    Path p;
    for (const RectD& r : deviceRects) p.Append(TargetRect(r, deviceToTarget_));
    CombineClip(p, false, mode);
}

void Canvas::OffsetClip(PointD logical) {
    const PointD d = LogicalToTarget().ApplyLinear(logical);
    if (!std::isfinite(d.x) || !std::isfinite(d.y)) return;
    const Affine shift = Affine::Translate(d.x, d.y);
    ClipState& clip = state_.clip;
    for (auto& shape : clip.shapes) {
        auto moved = std::make_shared<ClipShape>(*shape);
        moved->path = shape->path.Transformed(shift);
        shape = moved;
    }
    if (clip.mask) {
        Charge(kCostPixel * width_ * height_);
        SurfacePtr mask = MakeImageSurface(CAIRO_FORMAT_A8, width_, height_);
        if (mask) {
            ContextPtr cr(cairo_create(mask.get()));
            cairo_set_source_surface(cr.get(), clip.mask->get(), ClampCoord(d.x), ClampCoord(d.y));
            cairo_paint(cr.get());
            cairo_surface_flush(mask.get());
            clip.mask = std::make_shared<SurfacePtr>(std::move(mask));
        }
    }
    ++clipVersion_;
}

// ---- Painting ------------------------------------------------------------------------------

template <class PaintFn>
void Canvas::Paint(const Colour& colour, const PixelBox& box, PaintFn&& paint) {
    if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
    EnsureClip();
    cairo_t* cr = cr_.get();
    const int rop2 = state_.rop2;
    if (rop2 == gdi::kR2Nop) return;
    if (rop2 == gdi::kR2CopyPen || rop2 < 1 || rop2 > 16) {
        if (state_.clip.mask) {
            cairo_push_group(cr);
            paint(cr, false);
            cairo_pop_group_to_source(cr);
            cairo_mask_surface(cr, state_.clip.mask->get(), 0, 0);
        } else {
            paint(cr, false);
        }
        return;
    }
    // Bitwise pen modes: draw the figure's coverage over its box, then combine pixel by
    // pixel. Without anti-aliasing, as the graphics device draws: producers rely on a figure
    // drawn twice in exclusive-or mode leaving no trace.
    SurfacePtr coverage = MakeImageSurface(CAIRO_FORMAT_A8, box.x1 - box.x0, box.y1 - box.y0);
    if (!coverage) return;
    ContextPtr cc(cairo_create(coverage.get()));
    cairo_set_antialias(cc.get(), CAIRO_ANTIALIAS_NONE);
    cairo_translate(cc.get(), -box.x0, -box.y0);
    ApplyClip(cc.get());
    if (state_.clip.mask) {
        cairo_push_group(cc.get());
        paint(cc.get(), true);
        cairo_pop_group_to_source(cc.get());
        cairo_mask_surface(cc.get(), state_.clip.mask->get(), 0, 0);
    } else {
        paint(cc.get(), true);
    }
    cairo_surface_flush(coverage.get());
    cairo_surface_flush(target_);
    ApplyRop2(target_, coverage.get(), box, rop2, Rgb(colour));
}

bool Canvas::SetBrushSource(cairo_t* cr, const Brush& brush) {
    switch (brush.style) {
        case gdi::kBsNull:
            return false;
        case gdi::kBsHatched: {
            if (brush.hatch > 5) {
                SetColour(cr, brush.colour);
                return true;
            }
            SurfacePtr tile = MakeImageSurface(CAIRO_FORMAT_ARGB32, 8, 8);
            if (!tile) return false;
            cairo_surface_flush(tile.get());
            auto* px = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(tile.get()));
            const int stride = cairo_image_surface_get_stride(tile.get()) / 4;
            const std::uint32_t fg = 0xFF000000u | Rgb(brush.colour);
            const std::uint32_t bg =
                state_.bkMode == gdi::kOpaque ? 0xFF000000u | Rgb(state_.bkColour) : 0;
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    px[y * stride + x] = (kHatches[brush.hatch][y] >> (7 - x)) & 1 ? fg : bg;
                }
            }
            cairo_surface_mark_dirty(tile.get());
            PatternPtr pattern(cairo_pattern_create_for_surface(tile.get()));
            cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_REPEAT);
            cairo_pattern_set_filter(pattern.get(), CAIRO_FILTER_NEAREST);
            const PointD origin = deviceToTarget_.Apply(state_.brushOrigin);
            cairo_matrix_t m;
            cairo_matrix_init_translate(&m, -ClampCoord(origin.x), -ClampCoord(origin.y));
            cairo_pattern_set_matrix(pattern.get(), &m);
            cairo_set_source(cr, pattern.get());
            return true;
        }
        case gdi::kBsPattern:
        case gdi::kBsDibPattern:
        case gdi::kBsDibPatternPt: {
            if (!brush.pattern) {
                SetColour(cr, brush.colour);
                return true;
            }
            PatternPtr pattern(cairo_pattern_create_for_surface(brush.pattern->Surface()));
            cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_REPEAT);
            // Pattern pixels are device pixels, placed from the brush origin.
            Affine toTarget = Affine::Compose(
                Affine::Translate(state_.brushOrigin.x, state_.brushOrigin.y), deviceToTarget_);
            const bool unit = std::abs(std::abs(toTarget.a) - 1) < 1e-6 &&
                              std::abs(std::abs(toTarget.d) - 1) < 1e-6 && toTarget.b == 0 &&
                              toTarget.c == 0;
            cairo_pattern_set_filter(pattern.get(),
                                     unit ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
            const auto inverse = Invert(toTarget);
            if (!inverse) {
                SetColour(cr, brush.colour);
                return true;
            }
            const cairo_matrix_t m = ToCairo(*inverse);
            cairo_pattern_set_matrix(pattern.get(), &m);
            cairo_set_source(cr, pattern.get());
            return true;
        }
        default:
            SetColour(cr, brush.colour);
            return true;
    }
}

void Canvas::FillTarget(const Path& path, const Brush& brush, bool evenOdd) {
    if (brush.style == gdi::kBsNull || path.Empty()) return;
    const PixelBox box = BoxOfPath(path, 1, width_, height_);
    if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
    const bool bitwise = state_.rop2 != gdi::kR2CopyPen && state_.rop2 != gdi::kR2Nop;
    const bool slowBoxes = IsRectilinear(path) && !OnWholePixels(path);
    ChargeArea(box, bitwise ? kCostBitwisePixel : slowBoxes ? kCostUnalignedBoxPixel : kCostPixel);
    ChargePath(path, box, 0);
    Paint(brush.colour, box, [&](cairo_t* cr, bool coverageOnly) {
        AddPath(cr, path);
        cairo_set_fill_rule(cr, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        if (coverageOnly) {
            cairo_set_source_rgb(cr, 0, 0, 0);
        } else if (!SetBrushSource(cr, brush)) {
            cairo_new_path(cr);
            return;
        }
        cairo_fill(cr);
    });
}

double Canvas::PenWidthPixels(const Pen& pen) const {
    if (pen.cosmetic || pen.width <= 0) return 1;
    const double scale = std::sqrt(std::abs(LogicalToTarget().Determinant()));
    const double w = pen.width * scale;
    if (!std::isfinite(w)) return 1;
    return std::clamp(w, 1.0, kCoordLimit);
}

void Canvas::StrokeTarget(const Path& path, const Pen& pen) {
    const std::uint32_t style = pen.style & gdi::kPsStyleMask;
    if (style == gdi::kPsNull || path.Empty()) return;
    const double width = PenWidthPixels(pen);

    // Patterns of one-pixel lines are in pixels; wider ones in multiples of the line width.
    std::vector<double> dashes;
    const bool c = pen.cosmetic || width < 1.5;
    const double u = width;
    switch (style) {
        case gdi::kPsDash:
            dashes = c ? std::vector<double>{18, 6} : std::vector<double>{3 * u, u};
            break;
        case gdi::kPsDot:
            dashes = c ? std::vector<double>{3, 3} : std::vector<double>{u, u};
            break;
        case gdi::kPsDashDot:
            dashes = c ? std::vector<double>{9, 6, 3, 6} : std::vector<double>{3 * u, u, u, u};
            break;
        case gdi::kPsDashDotDot:
            dashes = c ? std::vector<double>{9, 3, 3, 3, 3, 3}
                       : std::vector<double>{3 * u, u, u, u, u, u};
            break;
        case gdi::kPsAlternate:
            dashes = {1, 1};
            break;
        case gdi::kPsUserStyle: {
            const double scale =
                pen.cosmetic ? 1.0 : std::sqrt(std::abs(LogicalToTarget().Determinant()));
            for (double d : pen.userDashes) dashes.push_back(std::max(0.0, d * scale));
            break;
        }
        default:
            break;
    }
    double period = 0;
    for (double d : dashes) period += d;
    // A pattern far finer than the line is long would make millions of dashes: draw solid.
    if (!std::isfinite(period) || period < 0.5 || PathLength(path) / period > 200000) {
        dashes.clear();
    }

    cairo_line_cap_t cap = CAIRO_LINE_CAP_ROUND;
    cairo_line_join_t join = CAIRO_LINE_JOIN_ROUND;
    if (pen.cosmetic) {
        cap = CAIRO_LINE_CAP_BUTT;
        join = CAIRO_LINE_JOIN_MITER;
    } else {
        switch (pen.style & gdi::kPsEndcapMask) {
            case gdi::kPsEndcapSquare:
                cap = CAIRO_LINE_CAP_SQUARE;
                break;
            case gdi::kPsEndcapFlat:
                cap = CAIRO_LINE_CAP_BUTT;
                break;
            default:
                break;
        }
        switch (pen.style & gdi::kPsJoinMask) {
            case gdi::kPsJoinBevel:
                join = CAIRO_LINE_JOIN_BEVEL;
                break;
            case gdi::kPsJoinMiter:
                join = CAIRO_LINE_JOIN_MITER;
                break;
            default:
                break;
        }
    }
    const PixelBox box =
        BoxOfPath(path, width * std::max(1.0, state_.miterLimit) / 2 + 2, width_, height_);
    if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
    {
        // The library strokes by filling the outline: two sides per segment, each crossing
        // the segment's rows and the pen's width; every dash is a figure of its own.
        const double length = PathLength(path);
        const bool bitwise = state_.rop2 != gdi::kR2CopyPen && state_.rop2 != gdi::kR2Nop;
        const double passes = !dashes.empty() && state_.bkMode == gdi::kOpaque ? 2 : 1;
        const EdgeCount n = CountEdges(path, box.y0, box.y1, width / 2 + 1);
        const double dashCount = dashes.empty() ? 0 : std::min(length / period, 200000.0);
        for (int i = 0; i < passes; ++i) {
            ChargeArea(std::min(length * (width + 2), Area(box)), box.y1 - box.y0,
                       bitwise ? kCostBitwisePixel : kCostPixel);
            Charge(2 * (n.edges * kCostEdge + n.rows * kCostEdgeRow) + 4 * dashCount * kCostEdge);
        }
    }

    auto stroke = [&](cairo_t* cr, const Colour& colour, bool dashed, bool coverageOnly) {
        AddPath(cr, path);
        cairo_set_line_width(cr, width);
        cairo_set_line_cap(cr, cap);
        cairo_set_line_join(cr, join);
        cairo_set_miter_limit(cr, std::max(1.0, state_.miterLimit));
        if (dashed && !dashes.empty()) {
            cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), 0);
        } else {
            cairo_set_dash(cr, nullptr, 0, 0);
        }
        if (coverageOnly) {
            cairo_set_source_rgb(cr, 0, 0, 0);
        } else {
            SetColour(cr, colour);
        }
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0);
    };
    // Styled lines fill their gaps with the background colour in opaque background mode.
    if (!dashes.empty() && state_.bkMode == gdi::kOpaque) {
        Paint(state_.bkColour, box, [&](cairo_t* cr, bool coverageOnly) {
            stroke(cr, state_.bkColour, false, coverageOnly);
        });
    }
    Paint(pen.colour, box,
          [&](cairo_t* cr, bool coverageOnly) { stroke(cr, pen.colour, true, coverageOnly); });
}

void Canvas::Emit(const Path& targetPath, bool fill, bool stroke) {
    if (inPath_) {
        path_.Append(targetPath);
        return;
    }
    if (fill) FillTarget(targetPath, state_.brush, state_.polyFillMode == gdi::kAlternate);
    if (stroke) StrokeTarget(targetPath, state_.pen);
}

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

void Canvas::SelectClipPath(int mode) {
    EndPath();
    if (!pathReady_) return;
    CombineClip(path_, state_.polyFillMode == gdi::kAlternate, mode);
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

// ---- Bitmaps -------------------------------------------------------------------------------

namespace {

// Maps the source rectangle of an image onto a destination given in target pixels.
std::optional<Affine> ImageToTarget(const RectD& src, PointD t0, PointD tx, PointD ty) {
    const double sw = src.right - src.left;
    const double sh = src.bottom - src.top;
    if (sw == 0 || sh == 0 || !std::isfinite(sw) || !std::isfinite(sh)) return std::nullopt;
    // Unit vectors of the destination per source pixel.
    Affine m;
    m.a = (tx.x - t0.x) / sw;
    m.b = (tx.y - t0.y) / sw;
    m.c = (ty.x - t0.x) / sh;
    m.d = (ty.y - t0.y) / sh;
    m.e = t0.x - m.a * src.left - m.c * src.top;
    m.f = t0.y - m.b * src.left - m.d * src.top;
    if (!m.IsFinite() || std::abs(m.Determinant()) < 1e-12) return std::nullopt;
    return m;
}

}  // namespace

void Canvas::Blit(const MetafileImage* image, const RectD& srcRect, const RectD& dest,
                  std::uint32_t rop) {
    const auto rop3 = static_cast<std::uint8_t>(rop >> 16);
    const bool usesSource = Rop3UsesSource(rop3);
    const bool usesPattern = Rop3UsesPattern(rop3);
    if (rop3 == 0xAA) return;  // destination unchanged
    if (usesSource && !image) return;

    const Affine m = LogicalToTarget();
    PointD t0 = m.Apply({dest.left, dest.top});
    PointD tx = m.Apply({dest.right, dest.top});
    PointD ty = m.Apply({dest.left, dest.bottom});
    // Transfers land on whole device pixels when nothing rotates them.
    const bool axisAligned = std::abs(m.b) < 1e-12 && std::abs(m.c) < 1e-12;
    if (axisAligned) {
        t0 = {std::round(t0.x), std::round(t0.y)};
        tx = {std::round(tx.x), t0.y};
        ty = {t0.x, std::round(ty.y)};
        if (tx.x == t0.x || ty.y == t0.y) return;
    }
    const PointD t3{tx.x + ty.x - t0.x, tx.y + ty.y - t0.y};
    Path area;
    area.MoveTo(t0);
    area.LineTo(tx);
    area.LineTo(t3);
    area.LineTo(ty);
    area.Close();

    double minX = std::min({t0.x, tx.x, ty.x, t3.x}), maxX = std::max({t0.x, tx.x, ty.x, t3.x});
    double minY = std::min({t0.y, tx.y, ty.y, t3.y}), maxY = std::max({t0.y, tx.y, ty.y, t3.y});
    if (!std::isfinite(minX + maxX + minY + maxY)) return;
    const PixelBox box = BoxOf(minX, minY, maxX, maxY, width_, height_);
    if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
    {
        // Operations other than copies are evaluated bit by bit, pixel by pixel.
        const bool direct = rop3 == 0xCC || rop3 == 0x00 || rop3 == 0xFF || rop3 == 0xF0;
        ChargeArea(box, direct ? 2 * kCostPixel : kCostRop3Pixel);
    }

    PatternPtr sourcePattern;
    if (usesSource) {
        const auto map = ImageToTarget(srcRect, t0, tx, ty);
        if (!map) return;
        const auto inverse = Invert(*map);
        if (!inverse) return;
        sourcePattern.reset(cairo_pattern_create_for_surface(image->Surface()));
        const cairo_matrix_t pm = ToCairo(*inverse);
        cairo_pattern_set_matrix(sourcePattern.get(), &pm);
        const bool oneToOne = axisAligned && std::abs(std::abs(map->a) - 1) < 1e-9 &&
                              std::abs(std::abs(map->d) - 1) < 1e-9 &&
                              std::abs(map->e - std::round(map->e)) < 1e-6 &&
                              std::abs(map->f - std::round(map->f)) < 1e-6;
        cairo_pattern_set_filter(sourcePattern.get(),
                                 oneToOne ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(sourcePattern.get(), CAIRO_EXTEND_PAD);
    }

    EnsureClip();
    cairo_t* cr = cr_.get();
    auto fillArea = [&](cairo_t* c) {
        AddPath(c, area);
        cairo_fill(c);
    };
    auto withMask = [&](auto&& draw) {
        if (state_.clip.mask) {
            cairo_push_group(cr);
            draw(cr);
            cairo_pop_group_to_source(cr);
            cairo_mask_surface(cr, state_.clip.mask->get(), 0, 0);
        } else {
            draw(cr);
        }
    };

    // The common operations draw directly.
    if (rop3 == 0xCC) {
        withMask([&](cairo_t* c) {
            cairo_set_source(c, sourcePattern.get());
            fillArea(c);
        });
        return;
    }
    if (rop3 == 0x00 || rop3 == 0xFF) {
        withMask([&](cairo_t* c) {
            const double v = rop3 ? 1 : 0;
            cairo_set_source_rgb(c, v, v, v);
            fillArea(c);
        });
        return;
    }
    if (rop3 == 0xF0) {
        withMask([&](cairo_t* c) {
            if (SetBrushSource(c, state_.brush)) fillArea(c);
        });
        return;
    }

    // Everything else is computed bit by bit over the destination's box.
    const int bw = box.x1 - box.x0, bh = box.y1 - box.y0;
    SurfacePtr coverage = MakeImageSurface(CAIRO_FORMAT_A8, bw, bh);
    if (!coverage) return;
    {
        ContextPtr cc(cairo_create(coverage.get()));
        cairo_set_antialias(cc.get(), CAIRO_ANTIALIAS_NONE);
        cairo_translate(cc.get(), -box.x0, -box.y0);
        ApplyClip(cc.get());
        AddPath(cc.get(), area);
        if (state_.clip.mask) {
            cairo_clip(cc.get());
            cairo_mask_surface(cc.get(), state_.clip.mask->get(), 0, 0);
        } else {
            cairo_fill(cc.get());
        }
    }
    SurfacePtr sourcePixels, patternPixels;
    if (usesSource) {
        sourcePixels = MakeImageSurface(CAIRO_FORMAT_ARGB32, bw, bh);
        if (!sourcePixels) return;
        ContextPtr sc(cairo_create(sourcePixels.get()));
        cairo_translate(sc.get(), -box.x0, -box.y0);
        cairo_set_source(sc.get(), sourcePattern.get());
        AddPath(sc.get(), area);
        cairo_fill(sc.get());
    }
    std::uint32_t constantPattern = Rgb(state_.brush.colour);
    if (usesPattern && state_.brush.style != gdi::kBsSolid && state_.brush.style != gdi::kBsNull) {
        patternPixels = MakeImageSurface(CAIRO_FORMAT_ARGB32, bw, bh);
        if (!patternPixels) return;
        ContextPtr pc(cairo_create(patternPixels.get()));
        cairo_translate(pc.get(), -box.x0, -box.y0);
        if (SetBrushSource(pc.get(), state_.brush)) {
            AddPath(pc.get(), area);
            cairo_fill(pc.get());
        }
    } else if (state_.brush.style == gdi::kBsNull) {
        constantPattern = 0;
    }
    cairo_surface_flush(target_);
    ApplyRop3(target_, coverage.get(), box, rop3, sourcePixels.get(), patternPixels.get(),
              constantPattern);
}

void Canvas::AlphaBlend(const MetafileImage& image, const RectD& srcRect, const RectD& dest,
                        BlendFunction blend) {
    const Affine m = LogicalToTarget();
    PointD t0 = m.Apply({dest.left, dest.top});
    PointD tx = m.Apply({dest.right, dest.top});
    PointD ty = m.Apply({dest.left, dest.bottom});
    if (std::abs(m.b) < 1e-12 && std::abs(m.c) < 1e-12) {
        t0 = {std::round(t0.x), std::round(t0.y)};
        tx = {std::round(tx.x), t0.y};
        ty = {t0.x, std::round(ty.y)};
    }
    const auto map = ImageToTarget(srcRect, t0, tx, ty);
    if (!map) return;
    const auto inverse = Invert(*map);
    if (!inverse) return;
    const PointD t3{tx.x + ty.x - t0.x, tx.y + ty.y - t0.y};
    Path area;
    area.MoveTo(t0);
    area.LineTo(tx);
    area.LineTo(t3);
    area.LineTo(ty);
    area.Close();
    {
        const double x0 = std::min({t0.x, tx.x, ty.x, t3.x}),
                     x1 = std::max({t0.x, tx.x, ty.x, t3.x});
        const double y0 = std::min({t0.y, tx.y, ty.y, t3.y}),
                     y1 = std::max({t0.y, tx.y, ty.y, t3.y});
        if (!std::isfinite(x0 + x1 + y0 + y1)) return;
        const PixelBox box = BoxOf(x0, y0, x1, y1, width_, height_);
        if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
        ChargeArea(box, 2 * kCostPixel);
    }

    PatternPtr pattern(cairo_pattern_create_for_surface(image.Surface()));
    const cairo_matrix_t pm = ToCairo(*inverse);
    cairo_pattern_set_matrix(pattern.get(), &pm);
    cairo_pattern_set_filter(pattern.get(), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD);
    EnsureClip();
    cairo_t* cr = cr_.get();
    cairo_save(cr);
    AddPath(cr, area);
    cairo_clip(cr);
    cairo_set_source(cr, pattern.get());
    const double alpha = blend.constantAlpha / 255.0;
    if (state_.clip.mask) {
        cairo_push_group(cr);
        cairo_paint_with_alpha(cr, alpha);
        cairo_pop_group_to_source(cr);
        cairo_mask_surface(cr, state_.clip.mask->get(), 0, 0);
    } else {
        cairo_paint_with_alpha(cr, alpha);
    }
    cairo_restore(cr);
}

void Canvas::BitsToDevice(const MetafileImage& image, const RectD& srcRect, PointD destLogical,
                          PointD sizeDevice) {
    const PointD origin = LogicalToTarget().Apply(destLogical);
    const PointD size = deviceToTarget_.ApplyLinear(sizeDevice);
    // Blit in target pixels: use an identity logical mapping for the call.
    const DcState keep = state_;
    state_.world = Affine{};
    state_.windowOrg = {0, 0};
    state_.viewportOrg = {0, 0};
    state_.windowExt = {1, 1};
    state_.viewportExt = {1, 1};
    const Affine savedDevice = deviceToTarget_;
    deviceToTarget_ = Affine{};
    Blit(&image, srcRect, RectD{origin.x, origin.y, origin.x + size.x, origin.y + size.y},
         0x00CC0020);
    deviceToTarget_ = savedDevice;
    const ClipState clip = state_.clip;
    state_ = keep;
    state_.clip = clip;
}

// ---- Gradients -----------------------------------------------------------------------------

void Canvas::FillWithPattern(const Path& targetPath, cairo_pattern_t* pattern, double perPixel) {
    const PixelBox box = BoxOfPath(targetPath, 1, width_, height_);
    if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
    ChargeArea(box, perPixel);
    ChargePath(targetPath, box, 0);
    Paint(Colour{}, box, [&](cairo_t* cr, bool) {
        AddPath(cr, targetPath);
        cairo_set_source(cr, pattern);
        cairo_fill(cr);
    });
}

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

// ---- Text ----------------------------------------------------------------------------------

namespace {

// Symbol fonts address their glyphs at U+F020..U+F0FF; fonts installed here usually carry
// them at the plain Latin-1 codes.
std::uint32_t TextCode(std::uint32_t cp, bool symbolFont) {
    if (symbolFont && cp >= 0xF020 && cp <= 0xF0FF) return cp - 0xF000;
    return cp;
}

}  // namespace

void AddUtf16(TextRun& run, std::span<const std::uint16_t> units, std::span<const double> dx) {
    const bool glyphIndexes = run.options & gdi::kEtoGlyphIndex;
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t cp = units[i];
        double advance = i < dx.size() ? dx[i] : 0;
        if (!glyphIndexes && cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() &&
            units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            if (i + 1 < dx.size()) advance += dx[i + 1];
            ++i;
        }
        run.codes.push_back(cp);
        if (!dx.empty()) run.dx.push_back(advance);
    }
}

void AddAnsi(TextRun& run, std::span<const std::uint8_t> bytes, std::uint8_t charSet,
             std::span<const double> dx) {
    std::size_t at = 0;
    for (const AnsiChar& c : DecodeAnsiText(bytes, charSet)) {
        double advance = 0;
        for (std::size_t k = 0; k < c.bytes; ++k) {
            if (at + k < dx.size()) advance += dx[at + k];
        }
        at += c.bytes;
        run.codes.push_back(c.codePoint);
        if (!dx.empty()) run.dx.push_back(advance);
    }
}

void Canvas::Text(const TextRun& run) {
    const DcState& s = state_;
    const Affine m = LogicalToTarget();
    const PointD ux = m.ApplyLinear({1, 0});
    const PointD uy = m.ApplyLinear({0, 1});
    const double scaleX = std::hypot(ux.x, ux.y);
    const double scaleY = std::hypot(uy.x, uy.y);
    if (!std::isfinite(scaleX) || !std::isfinite(scaleY) || scaleX <= 0 || scaleY <= 0) return;

    if ((run.options & gdi::kEtoOpaque) && run.rect && !inPath_) {
        Brush bk;
        bk.colour = s.bkColour;
        const int rop2 = state_.rop2;
        state_.rop2 = gdi::kR2CopyPen;
        FillTarget(TargetRect(*run.rect, m), bk, false);
        state_.rop2 = rop2;
    }
    if (run.codes.empty()) return;

    FontRequest request;
    request.face = s.font.face;
    request.weight = s.font.weight;
    request.italic = s.font.italic;
    request.pitchAndFamily = s.font.pitchAndFamily;
    request.charSet = s.font.charSet;
    cairo_font_face_t* face = fonts_.Face(request);
    const FaceMetrics metrics = fonts_.Metrics(request);

    double emPx;
    if (s.font.height < 0) {
        emPx = -s.font.height * scaleY;
    } else if (s.font.height > 0) {
        emPx = s.font.height / (metrics.ascent + metrics.descent) * scaleY;
    } else {
        emPx = 12 * std::sqrt(std::abs(deviceToTarget_.Determinant()));
    }
    // The font engine takes sizes below 65536 pixels (and cairo loses memory on larger
    // ones); letters of half that are already larger than a picture's side can be.
    if (!std::isfinite(emPx) || emPx < 0.05 || emPx > 32768) return;

    // The baseline turns with the mapping's rotation and the font's escapement; letters stay
    // upright when the mapping only mirrors.
    double rotation = 0;
    if (std::abs(ux.y) > 1e-9 * scaleX) rotation = std::atan2(ux.y, ux.x);
    const double theta = rotation - s.font.escapement * kPi / 1800;
    const double advanceScale = scaleX;

    PointD refLogical = run.reference;
    if (s.textAlign & gdi::kTaUpdateCp) refLogical = s.current;
    const PointD ref = m.Apply(refLogical);
    if (!std::isfinite(ref.x) || !std::isfinite(ref.y)) return;

    cairo_t* cr = cr_.get();
    EnsureClip();
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_translate(cr, ClampCoord(ref.x), ClampCoord(ref.y));
    cairo_rotate(cr, theta);
    cairo_set_font_face(cr, face);
    cairo_matrix_t fontMatrix;
    cairo_matrix_init_scale(&fontMatrix, emPx, emPx);
    cairo_set_font_matrix(cr, &fontMatrix);
    std::unique_ptr<cairo_font_options_t, decltype(&cairo_font_options_destroy)> options(
        cairo_font_options_create(), cairo_font_options_destroy);
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
    cairo_set_font_options(cr, options.get());
    cairo_scaled_font_t* scaled = cairo_get_scaled_font(cr);

    // Glyphs and their natural advances in text space (pixels along the baseline).
    const std::size_t n = run.codes.size();
    std::vector<cairo_glyph_t> glyphs(n);
    std::vector<double> natural(n, 0);
    std::vector<bool> visible(n, true);
    const bool glyphIndexes = run.options & gdi::kEtoGlyphIndex;
    const bool symbol = s.font.charSet == 2;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned long index = 0;
        if (glyphIndexes) {
            index = run.codes[i];
        } else {
            const std::uint32_t cp = TextCode(run.codes[i], symbol);
            if (cp < 0x20) visible[i] = false;
            std::string utf8;
            AppendUtf8(utf8, visible[i] ? cp : 0x20);
            cairo_glyph_t* found = nullptr;
            int count = 0;
            if (cairo_scaled_font_text_to_glyphs(
                    scaled, 0, 0, utf8.data(), static_cast<int>(utf8.size()), &found, &count,
                    nullptr, nullptr, nullptr) == CAIRO_STATUS_SUCCESS &&
                count > 0) {
                index = found[0].index;
            }
            cairo_glyph_free(found);
        }
        glyphs[i].index = index;
        cairo_text_extents_t ext;
        cairo_glyph_t probe{index, 0, 0};
        cairo_scaled_font_glyph_extents(scaled, &probe, 1, &ext);
        natural[i] = std::isfinite(ext.x_advance) ? ext.x_advance : 0;
    }
    std::vector<double> advance(n);
    double total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        advance[i] = i < run.dx.size() ? run.dx[i] * advanceScale : natural[i];
        if (!std::isfinite(advance[i])) advance[i] = 0;
        total += advance[i];
    }
    if (!std::isfinite(total)) total = 0;

    double x = 0;
    if ((s.textAlign & gdi::kTaCenter) == gdi::kTaCenter) {
        x = -total / 2;
    } else if (s.textAlign & gdi::kTaRight) {
        x = -total;
    }
    double y = 0;
    const std::uint32_t vertical = s.textAlign & gdi::kTaBaseline;
    if (vertical == gdi::kTaBaseline) {
        y = 0;
    } else if (vertical == gdi::kTaBottom) {
        y = -metrics.descent * emPx;
    } else {
        y = metrics.ascent * emPx;
    }
    std::vector<cairo_glyph_t> shown;
    shown.reserve(n);
    double pen = x;
    for (std::size_t i = 0; i < n; ++i) {
        if (visible[i]) shown.push_back({glyphs[i].index, pen, y});
        pen += advance[i];
    }
    {
        // Every letter near this target is composited over its cell (large ones are filled
        // as outlines: tens of edges crossing the letter's rows); letters far away cost
        // only their look-up.
        const double c = std::cos(theta), sn = std::sin(theta);
        const double reach = 2 * emPx + 2;
        double near = 0;
        for (const cairo_glyph_t& g : shown) {
            const double gx = ref.x + g.x * c - g.y * sn;
            const double gy = ref.y + g.x * sn + g.y * c;
            if (gx > -reach && gx < width_ + reach && gy > -reach && gy < height_ + reach) ++near;
        }
        const double cell = std::min(emPx * emPx * 1.5, double(width_) * height_);
        const double perLetter =
            cell * kCostPixel + (emPx > 200 ? 10 * emPx * kCostEdgeRow + 60 * kCostEdge : 0);
        Charge(kCostCall + double(n) * kCostEdge + near * perLetter);
        if (s.bkMode == gdi::kOpaque && !(run.options & gdi::kEtoOpaque)) {
            ChargeArea(std::abs(total) * (metrics.ascent + metrics.descent) * emPx, emPx,
                       kCostPixel);
        }
    }

    if (inPath_) {
        cairo_new_path(cr);
        cairo_glyph_path(cr, shown.data(), static_cast<int>(shown.size()));
        cairo_identity_matrix(cr);
        CairoPathPtr copied(cairo_copy_path(cr));
        cairo_new_path(cr);
        if (copied && copied->status == CAIRO_STATUS_SUCCESS) {
            for (int i = 0; i < copied->num_data; i += copied->data[i].header.length) {
                const cairo_path_data_t* d = &copied->data[i];
                switch (d->header.type) {
                    case CAIRO_PATH_MOVE_TO:
                        path_.MoveTo({d[1].point.x, d[1].point.y});
                        break;
                    case CAIRO_PATH_LINE_TO:
                        path_.LineTo({d[1].point.x, d[1].point.y});
                        break;
                    case CAIRO_PATH_CURVE_TO:
                        path_.CurveTo({d[1].point.x, d[1].point.y}, {d[2].point.x, d[2].point.y},
                                      {d[3].point.x, d[3].point.y});
                        break;
                    case CAIRO_PATH_CLOSE_PATH:
                        path_.Close();
                        break;
                }
            }
        }
        cairo_restore(cr);
    } else {
        auto draw = [&](cairo_t* c) {
            if (run.options & gdi::kEtoClipped && run.rect) {
                // The clip rectangle is logical; draw it through the full mapping.
                cairo_save(c);
                cairo_identity_matrix(c);
                AddPath(c, TargetRect(*run.rect, m));
                cairo_restore(c);
                cairo_clip(c);
            }
            if (s.bkMode == gdi::kOpaque && !(run.options & gdi::kEtoOpaque)) {
                SetColour(c, s.bkColour);
                cairo_rectangle(c, std::min(x, x + total), y - metrics.ascent * emPx,
                                std::abs(total), (metrics.ascent + metrics.descent) * emPx);
                cairo_fill(c);
            }
            SetColour(c, s.textColour);
            if (emPx > 200) {
                // Large letters as outlines: the glyph cache would hold huge bitmaps.
                cairo_new_path(c);
                cairo_glyph_path(c, shown.data(), static_cast<int>(shown.size()));
                cairo_fill(c);
            } else {
                cairo_show_glyphs(c, shown.data(), static_cast<int>(shown.size()));
            }
            const double thickness = std::max(emPx / 14, 0.5);
            if (s.font.underline) {
                cairo_rectangle(c, x, y + emPx * 0.1, total, thickness);
                cairo_fill(c);
            }
            if (s.font.strikeOut) {
                cairo_rectangle(c, x, y - emPx * 0.3, total, thickness);
                cairo_fill(c);
            }
        };
        if (state_.clip.mask) {
            cairo_push_group(cr);
            draw(cr);
            cairo_pop_group_to_source(cr);
            cairo_identity_matrix(cr);
            cairo_mask_surface(cr, state_.clip.mask->get(), 0, 0);
        } else {
            draw(cr);
        }
        cairo_restore(cr);
    }

    if (s.textAlign & gdi::kTaUpdateCp) {
        // The current position moves along the logical x axis by the text's advance.
        const double along = total / advanceScale;
        state_.current = {refLogical.x + (ux.x < 0 ? -along : along), refLogical.y};
    }
}

}  // namespace ozm::metafile
