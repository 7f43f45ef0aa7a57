#include <algorithm>
#include <cmath>

#include "core/formats/metafile/CanvasDetail.h"
#include "core/formats/metafile/MetafileCanvas.h"

namespace ozm::metafile {

using namespace detail;

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

}  // namespace ozm::metafile
