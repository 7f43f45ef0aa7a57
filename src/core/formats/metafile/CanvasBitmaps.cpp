#include <algorithm>
#include <cmath>

#include "core/formats/metafile/CanvasDetail.h"
#include "core/formats/metafile/MetafileCanvas.h"

namespace ozm::metafile {

using namespace detail;

namespace {

// Where a destination rectangle lands in target pixels: its origin corner t0, the corner
// along its width tx and the one along its height ty; its outline; the pixels it touches.
struct Destination {
    PointD t0, tx, ty;
    bool axisAligned = false;
    Path area;
    PixelBox box;
};

// Nullopt when the destination covers no pixel of the target.
std::optional<Destination> PlaceDestination(const Affine& m, const RectD& dest, int width,
                                            int height) {
    Destination d;
    d.t0 = m.Apply({dest.left, dest.top});
    d.tx = m.Apply({dest.right, dest.top});
    d.ty = m.Apply({dest.left, dest.bottom});
    // Transfers land on whole device pixels when nothing rotates them.
    d.axisAligned = std::abs(m.b) < 1e-12 && std::abs(m.c) < 1e-12;
    if (d.axisAligned) {
        d.t0 = {std::round(d.t0.x), std::round(d.t0.y)};
        d.tx = {std::round(d.tx.x), d.t0.y};
        d.ty = {d.t0.x, std::round(d.ty.y)};
        if (d.tx.x == d.t0.x || d.ty.y == d.t0.y) return std::nullopt;
    }
    const PointD t0 = d.t0, tx = d.tx, ty = d.ty;
    const PointD t3{tx.x + ty.x - t0.x, tx.y + ty.y - t0.y};
    d.area.MoveTo(t0);
    d.area.LineTo(tx);
    d.area.LineTo(t3);
    d.area.LineTo(ty);
    d.area.Close();
    const double x0 = std::min({t0.x, tx.x, ty.x, t3.x}), x1 = std::max({t0.x, tx.x, ty.x, t3.x});
    const double y0 = std::min({t0.y, tx.y, ty.y, t3.y}), y1 = std::max({t0.y, tx.y, ty.y, t3.y});
    if (!std::isfinite(x0 + x1 + y0 + y1)) return std::nullopt;
    d.box = BoxOf(x0, y0, x1, y1, width, height);
    if (IsEmpty(d.box)) return std::nullopt;
    return d;
}

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

// The image's `src` rectangle as a source spread over the destination; edges repeat their
// pixels outward. With `exactPixels`, a copy pixel for pixel takes the pixels as they are.
// Null when the mapping cannot be inverted.
PatternPtr ImagePattern(const MetafileImage& image, const RectD& src, const Destination& d,
                        bool exactPixels) {
    const auto map = ImageToTarget(src, d.t0, d.tx, d.ty);
    if (!map) return nullptr;
    const auto inverse = Invert(*map);
    if (!inverse) return nullptr;
    PatternPtr pattern(cairo_pattern_create_for_surface(image.Surface()));
    const cairo_matrix_t pm = ToCairo(*inverse);
    cairo_pattern_set_matrix(pattern.get(), &pm);
    const bool oneToOne = exactPixels && d.axisAligned && std::abs(std::abs(map->a) - 1) < 1e-9 &&
                          std::abs(std::abs(map->d) - 1) < 1e-9 &&
                          std::abs(map->e - std::round(map->e)) < 1e-6 &&
                          std::abs(map->f - std::round(map->f)) < 1e-6;
    cairo_pattern_set_filter(pattern.get(), oneToOne ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(pattern.get(), CAIRO_EXTEND_PAD);
    return pattern;
}

// A surface of the box's size holding `source` painted over `area` (target pixels).
SurfacePtr PaintedOver(const PixelBox& box, const Path& area, cairo_pattern_t* source) {
    SurfacePtr pixels = MakeImageSurface(CAIRO_FORMAT_ARGB32, box.x1 - box.x0, box.y1 - box.y0);
    if (!pixels) return nullptr;
    ContextPtr c(cairo_create(pixels.get()));
    cairo_translate(c.get(), -box.x0, -box.y0);
    cairo_set_source(c.get(), source);
    AddPath(c.get(), area);
    cairo_fill(c.get());
    return pixels;
}

}  // namespace

void Canvas::Blit(const MetafileImage* image, const RectD& srcRect, const RectD& dest,
                  std::uint32_t rop) {
    const auto rop3 = static_cast<std::uint8_t>(rop >> 16);
    const bool usesSource = Rop3UsesSource(rop3);
    if (rop3 == 0xAA) return;  // destination unchanged
    if (usesSource && !image) return;

    const auto d = PlaceDestination(LogicalToTarget(), dest, width_, height_);
    if (!d) return;
    // Operations other than copies are evaluated bit by bit, pixel by pixel.
    const bool direct = rop3 == 0xCC || rop3 == 0x00 || rop3 == 0xFF || rop3 == 0xF0;
    ChargeArea(d->box, direct ? 2 * kCostPixel : kCostRop3Pixel);

    PatternPtr sourcePattern;
    if (usesSource) {
        sourcePattern = ImagePattern(*image, srcRect, *d, true);
        if (!sourcePattern) return;
    }
    EnsureClip();
    if (!direct) {
        BlitBitwise(d->area, d->box, rop3, sourcePattern.get());
        return;
    }
    // The common operations draw directly.
    DrawThroughMask(cr_.get(), state_.clip, [&](cairo_t* c) {
        if (rop3 == 0xCC) {
            cairo_set_source(c, sourcePattern.get());
        } else if (rop3 == 0x00 || rop3 == 0xFF) {
            const double v = rop3 ? 1 : 0;
            cairo_set_source_rgb(c, v, v, v);
        } else if (!SetBrushSource(c, state_.brush)) {
            return;
        }
        AddPath(c, d->area);
        cairo_fill(c);
    });
}

void Canvas::BlitBitwise(const Path& area, const PixelBox& box, std::uint8_t rop3,
                         cairo_pattern_t* source) {
    SurfacePtr coverage = MakeImageSurface(CAIRO_FORMAT_A8, box.x1 - box.x0, box.y1 - box.y0);
    if (!coverage) return;
    {
        ContextPtr cc = CoverageContext(coverage.get(), box);
        AddPath(cc.get(), area);
        if (state_.clip.mask) {
            cairo_clip(cc.get());
            cairo_mask_surface(cc.get(), state_.clip.mask->get(), 0, 0);
        } else {
            cairo_fill(cc.get());
        }
    }
    SurfacePtr sourcePixels, patternPixels;
    if (source) {
        sourcePixels = PaintedOver(box, area, source);
        if (!sourcePixels) return;
    }
    const Brush& brush = state_.brush;
    std::uint32_t constantPattern = Rgb(brush.colour);
    if (Rop3UsesPattern(rop3) && brush.style != gdi::kBsSolid && brush.style != gdi::kBsNull) {
        patternPixels = MakeImageSurface(CAIRO_FORMAT_ARGB32, box.x1 - box.x0, box.y1 - box.y0);
        if (!patternPixels) return;
        ContextPtr pc(cairo_create(patternPixels.get()));
        cairo_translate(pc.get(), -box.x0, -box.y0);
        if (SetBrushSource(pc.get(), brush)) {
            AddPath(pc.get(), area);
            cairo_fill(pc.get());
        }
    } else if (brush.style == gdi::kBsNull) {
        constantPattern = 0;
    }
    cairo_surface_flush(target_);
    ApplyRop3(target_, coverage.get(), box, rop3, sourcePixels.get(), patternPixels.get(),
              constantPattern);
}

void Canvas::AlphaBlend(const MetafileImage& image, const RectD& srcRect, const RectD& dest,
                        BlendFunction blend) {
    const auto d = PlaceDestination(LogicalToTarget(), dest, width_, height_);
    if (!d) return;
    PatternPtr pattern = ImagePattern(image, srcRect, *d, false);
    if (!pattern) return;
    ChargeArea(d->box, 2 * kCostPixel);
    EnsureClip();
    cairo_t* cr = cr_.get();
    cairo_save(cr);
    AddPath(cr, d->area);
    cairo_clip(cr);
    cairo_set_source(cr, pattern.get());
    const double alpha = blend.constantAlpha / 255.0;
    DrawThroughMask(cr, state_.clip, [&](cairo_t* c) { cairo_paint_with_alpha(c, alpha); });
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

}  // namespace ozm::metafile
