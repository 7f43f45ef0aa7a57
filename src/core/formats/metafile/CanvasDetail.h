#pragma once
// What the canvas's files share and nothing else uses: coordinates made safe for cairo,
// paths handed to cairo, the pixels a figure can touch, the costs of the drawing library's
// work, and drawing through a clip mask.

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>

#include "core/formats/metafile/MetafileCanvas.h"
#include "core/formats/metafile/MetafileGeometry.h"
#include "core/formats/metafile/MetafileRaster.h"

namespace ozm::metafile::detail {

inline constexpr double kPi = std::numbers::pi;
// Coordinates beyond this many pixels from the target are pulled in: cairo's fixed-point
// numbers hold about +-8 million, and nothing that far out is visible anyway.
inline constexpr double kCoordLimit = 4.0e6;

// What the drawing library's work costs, in the meter's units (about a nanosecond of one
// core each), measured on the operations it runs: compositing a pixel, stepping one edge of
// a polygon across one scan line (its scan converter keeps every crossing edge active on
// every line, and sorts them), setting up an edge, a pixel under a clip mask, a pixel of a
// bitwise operation, a pixel of a shaded mesh. Overestimates only refuse absurd pictures.
inline constexpr double kCostPixel = 2;
inline constexpr double kCostUnalignedBoxPixel = 8;  // boxes between pixel edges: a slow path
inline constexpr double kCostMaskedPixel = 40;
inline constexpr double kCostBitwisePixel = 8;
inline constexpr double kCostRop3Pixel = 60;
inline constexpr double kCostMeshPixel = 250;
inline constexpr double kCostEdgeRow = 200;
inline constexpr double kCostEdge = 100;
inline constexpr double kCostCall = 1000;

inline double ClampCoord(double v) {
    if (!std::isfinite(v)) return 0;
    return std::clamp(v, -kCoordLimit, kCoordLimit);
}
// Replaces the context's path by `path` (target pixels, clamped).
void AddPath(cairo_t* cr, const Path& path);
// Sum of segment lengths (curves by their control polygon, which is never shorter).
double PathLength(const Path& path);
// The pixels from (x0, y0) to (x1, y1) and one around them, within a target of w x h.
PixelBox BoxOf(double x0, double y0, double x1, double y1, int w, int h);
// The pixels a path can touch, widened by `margin`, within a target of w x h.
PixelBox BoxOfPath(const Path& path, double margin, int w, int h);
inline double Area(const PixelBox& b) { return double(b.x1 - b.x0) * double(b.y1 - b.y0); }
inline bool IsEmpty(const PixelBox& b) { return b.x0 >= b.x1 || b.y0 >= b.y1; }
// Only axis-aligned straight edges.
bool IsRectilinear(const Path& path);
// Every point on whole pixel coordinates.
bool OnWholePixels(const Path& path);

// Edges a path becomes and the scan lines those edges cross between rows y0 and y1; curves
// count as the segments the library flattens them into (at a tolerance of 0.1 pixel) and
// cross at most the rows of their control polygon.
struct EdgeCount {
    double edges = 0;
    double rows = 0;
};
EdgeCount CountEdges(const Path& path, double y0, double y1, double widen = 0);

inline std::uint32_t Rgb(const Colour& c) {
    return (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
}
inline void SetColour(cairo_t* cr, const Colour& c) {
    cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}
// The inverse mapping; nullopt when `m` cannot be inverted in doubles.
std::optional<Affine> Invert(const Affine& m);
inline cairo_matrix_t ToCairo(const Affine& m) {
    cairo_matrix_t c;
    cairo_matrix_init(&c, m.a, m.b, m.c, m.d, m.e, m.f);
    return c;
}

// Runs `draw(cr)` through the clip mask when there is one: into a group that the mask's
// coverage then composites. The mask lies in target pixels, which is the context's user space
// unless `resetMatrix` says the context draws in a space of its own (text).
template <class Draw>
void DrawThroughMask(cairo_t* cr, const ClipState& clip, Draw&& draw, bool resetMatrix = false) {
    if (!clip.mask) {
        draw(cr);
        return;
    }
    cairo_push_group(cr);
    draw(cr);
    cairo_pop_group_to_source(cr);
    if (resetMatrix) cairo_identity_matrix(cr);
    cairo_mask_surface(cr, clip.mask->get(), 0, 0);
}

}  // namespace ozm::metafile::detail
