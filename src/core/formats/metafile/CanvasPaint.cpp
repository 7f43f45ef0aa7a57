#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/formats/metafile/CanvasDetail.h"
#include "core/formats/metafile/MetafileCanvas.h"

namespace ozm::metafile {

using namespace detail;

// Painting: figures in target pixels filled with a brush or stroked with a pen, under the
// clip and the pen mode.

namespace {

// 8 x 8 hatch tiles, one row per byte, most significant bit leftmost.
constexpr std::uint8_t kHatches[6][8] = {
    {0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00},  // horizontal
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // forward diagonal
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // backward diagonal
    {0x08, 0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08},  // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // diagonal cross
};

// Dash lengths in target pixels for a pen drawing `width` pixels wide; empty for solid lines.
// Patterns of one-pixel lines are in pixels; wider ones in multiples of the line width.
std::vector<double> DashPattern(const Pen& pen, double width, const Affine& logicalToTarget) {
    std::vector<double> dashes;
    const bool c = pen.cosmetic || width < 1.5;
    const double u = width;
    switch (pen.style & gdi::kPsStyleMask) {
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
                pen.cosmetic ? 1.0 : std::sqrt(std::abs(logicalToTarget.Determinant()));
            for (double d : pen.userDashes) dashes.push_back(std::max(0.0, d * scale));
            break;
        }
        default:
            break;
    }
    return dashes;
}

// The farthest a point of the w x h canvas lies from a point of the path: at most the largest
// distance between a canvas corner and a corner of the path's bounds (as drawn, clamped).
double FarthestReach(const Path& path, int w, int h) {
    double x0 = kCoordLimit, y0 = kCoordLimit, x1 = -kCoordLimit, y1 = -kCoordLimit;
    for (const PathElement& e : path.Elements()) {
        const int points = e.op == PathOp::Curve ? 3 : e.op == PathOp::Close ? 0 : 1;
        for (int i = 0; i < points; ++i) {
            x0 = std::min(x0, ClampCoord(e.p[i].x)), x1 = std::max(x1, ClampCoord(e.p[i].x));
            y0 = std::min(y0, ClampCoord(e.p[i].y)), y1 = std::max(y1, ClampCoord(e.p[i].y));
        }
    }
    const double dx = std::max({std::abs(x0), std::abs(x1), std::abs(x0 - w), std::abs(x1 - w)});
    const double dy = std::max({std::abs(y0), std::abs(y1), std::abs(y0 - h), std::abs(y1 - h)});
    return std::hypot(dx, dy);
}

// Whether the path draws anything (a line or a curve) and whether it does so in a figure left
// open, which then gets caps at its ends.
struct PathShape {
    bool draws = false;
    bool openFigureDraws = false;
};

PathShape ShapeOf(const Path& path) {
    PathShape shape;
    bool figureDraws = false;
    for (const PathElement& e : path.Elements()) {
        switch (e.op) {
            case PathOp::Move:
                shape.openFigureDraws |= figureDraws;
                figureDraws = false;
                break;
            case PathOp::Line:
            case PathOp::Curve:
                figureDraws = shape.draws = true;
                break;
            case PathOp::Close:
                figureDraws = false;
                break;
        }
    }
    shape.openFigureDraws |= figureDraws;
    return shape;
}

// Cosmetic pens have flat ends and mitred corners; geometric ones take their style's.
std::pair<cairo_line_cap_t, cairo_line_join_t> CapAndJoin(const Pen& pen) {
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
    return {cap, join};
}

}  // namespace

ContextPtr Canvas::CoverageContext(cairo_surface_t* coverage, const PixelBox& box) const {
    ContextPtr cc(cairo_create(coverage));
    cairo_set_antialias(cc.get(), CAIRO_ANTIALIAS_NONE);
    cairo_translate(cc.get(), -box.x0, -box.y0);
    ApplyClip(cc.get());
    return cc;
}

template <class PaintFn>
void Canvas::Paint(const Colour& colour, const PixelBox& box, PaintFn&& paint) {
    if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
    EnsureClip();
    cairo_t* cr = cr_.get();
    const int rop2 = state_.rop2;
    if (rop2 == gdi::kR2Nop) return;
    if (rop2 == gdi::kR2CopyPen || rop2 < 1 || rop2 > 16) {
        DrawThroughMask(cr, state_.clip, [&](cairo_t* c) { paint(c, false); });
        return;
    }
    // Bitwise pen modes: draw the figure's coverage over its box, then combine pixel by
    // pixel. Without anti-aliasing, as the graphics device draws: producers rely on a figure
    // drawn twice in exclusive-or mode leaving no trace.
    SurfacePtr coverage = MakeImageSurface(CAIRO_FORMAT_A8, box.x1 - box.x0, box.y1 - box.y0);
    if (!coverage) return;
    ContextPtr cc = CoverageContext(coverage.get(), box);
    DrawThroughMask(cc.get(), state_.clip, [&](cairo_t* c) { paint(c, true); });
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

    std::vector<double> dashes = DashPattern(pen, width, LogicalToTarget());
    double period = 0;
    for (double d : dashes) period += d;
    // A pattern far finer than the line is long would make millions of dashes: draw solid.
    if (!std::isfinite(period) || period < 0.5 || PathLength(path) / period > 200000) {
        dashes.clear();
    }

    // Plain names rather than a structured binding: the lambda below captures them.
    const auto capJoin = CapAndJoin(pen);
    const cairo_line_cap_t cap = capJoin.first;
    const cairo_line_join_t join = capJoin.second;
    const PixelBox box =
        BoxOfPath(path, width * std::max(1.0, state_.miterLimit) / 2 + 2, width_, height_);
    if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
    // A round cap is a disc as wide as the pen. When half the pen reaches from every point of
    // the path past the whole canvas, any cap covers every canvas pixel, and the stroke is
    // drawn as the canvas rectangle it amounts to: the library would draw each cap of each
    // dash with a polygon of the pen's size, tens of thousands of corners apiece.
    const PathShape shape = ShapeOf(path);
    const bool capsCoverCanvas = cap == CAIRO_LINE_CAP_ROUND && shape.draws &&
                                 width / 2 >= FarthestReach(path, width_, height_);
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
        // Each dash's round caps: a polygon of the pen's size each (about 2 pi sqrt(r / 0.2)
        // corners for a radius of r pixels), the time a dash takes levelling off for pens
        // wider than the canvas reaches.
        if (cap == CAIRO_LINE_CAP_ROUND && !capsCoverCanvas) {
            const double corners = std::min(6.3 * std::sqrt(width / 0.4), 4000.0);
            Charge(dashCount * corners * kCostEdge);
        }
    }

    auto stroke = [&](cairo_t* cr, const Colour& colour, bool dashed, bool coverageOnly) {
        const bool hasCaps = shape.openFigureDraws || (dashed && !dashes.empty());
        if (capsCoverCanvas && hasCaps) {
            cairo_new_path(cr);
            cairo_rectangle(cr, 0, 0, width_, height_);
            if (coverageOnly) {
                cairo_set_source_rgb(cr, 0, 0, 0);
            } else {
                SetColour(cr, colour);
            }
            cairo_fill(cr);
            return;
        }
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

}  // namespace ozm::metafile
