#include <algorithm>
#include <cmath>

#include "core/formats/metafile/CanvasDetail.h"
#include "core/formats/metafile/MetafileCanvas.h"

namespace ozm::metafile {

using namespace detail;

// The clip: shapes in target pixels while they are few and intersect, one coverage mask once
// they are many or united.

namespace {

// Clip shapes kept as paths before they are merged into a mask.
constexpr std::size_t kMaxClipShapes = 16;

}  // namespace

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

void Canvas::SelectClipPath(int mode) {
    EndPath();
    if (!pathReady_) return;
    CombineClip(path_, state_.polyFillMode == gdi::kAlternate, mode);
    AbortPath();
}

}  // namespace ozm::metafile
