#pragma once
// Bitwise raster operations of the graphics device that cairo's blend operators cannot
// express: the binary operations of a pen or brush with the destination (ROP2) and the
// ternary operations of pattern, source and destination (ROP3), applied per pixel where a
// coverage mask says the figure lies.

#include <cairo.h>

#include <cstdint>

namespace ozm::metafile {

struct PixelBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open
};

// `target` is RGB24; `coverage` is A8 and covers `box` of the target (its pixel 0, 0 is the
// box's top left); pixels at least half covered take the operation's result, the others stay.
void ApplyRop2(cairo_surface_t* target, cairo_surface_t* coverage, const PixelBox& box, int rop2,
               std::uint32_t penRgb);

// `source` and `pattern` are ARGB32 surfaces covering `box` like the coverage, or null when
// the operation does not read them (then `constantPattern` stands for the pattern).
void ApplyRop3(cairo_surface_t* target, cairo_surface_t* coverage, const PixelBox& box,
               std::uint8_t rop3, cairo_surface_t* source, cairo_surface_t* pattern,
               std::uint32_t constantPattern);

// Whether a ternary operation reads the source, the pattern.
inline bool Rop3UsesSource(std::uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }
inline bool Rop3UsesPattern(std::uint8_t rop) { return ((rop >> 4) ^ rop) & 0x0F; }

}  // namespace ozm::metafile
