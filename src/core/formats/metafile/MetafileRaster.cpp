#include "core/formats/metafile/MetafileRaster.h"

#include <algorithm>

namespace ozm::metafile {

namespace {

// Evaluates a boolean function given as a truth table over `inputs` variables, bit by bit
// on 24-bit colour words. Bit i of `table` is the result for the input combination whose
// binary digits are the variables (first variable most significant).
std::uint32_t EvalTable(std::uint32_t table, int inputs, const std::uint32_t* vars) {
    std::uint32_t result = 0;
    const int combos = 1 << inputs;
    for (int k = 0; k < combos; ++k) {
        if (!((table >> k) & 1)) continue;
        std::uint32_t term = 0xFFFFFF;
        for (int v = 0; v < inputs; ++v) {
            const bool set = (k >> (inputs - 1 - v)) & 1;
            term &= set ? vars[v] : ~vars[v];
        }
        result |= term;
    }
    return result & 0xFFFFFF;
}

// Un-premultiplies an ARGB32 pixel to its colour; transparent pixels give black.
std::uint32_t Colour(std::uint32_t argb) {
    const unsigned a = argb >> 24;
    if (a == 255) return argb & 0xFFFFFF;
    if (a == 0) return 0;
    std::uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const unsigned c = std::min(255u, (((argb >> shift) & 0xFF) * 255 + a / 2) / a);
        out |= c << shift;
    }
    return out;
}

template <class Fn>
void ForCovered(cairo_surface_t* target, cairo_surface_t* coverage, const PixelBox& box, Fn fn) {
    cairo_surface_flush(target);
    cairo_surface_flush(coverage);
    std::uint8_t* dst = cairo_image_surface_get_data(target);
    const std::uint8_t* cov = cairo_image_surface_get_data(coverage);
    if (!dst || !cov) return;
    const int dstStride = cairo_image_surface_get_stride(target);
    const int covStride = cairo_image_surface_get_stride(coverage);
    const int x0 = std::max(box.x0, 0), y0 = std::max(box.y0, 0);
    const int x1 = std::min({box.x1, cairo_image_surface_get_width(target),
                             box.x0 + cairo_image_surface_get_width(coverage)});
    const int y1 = std::min({box.y1, cairo_image_surface_get_height(target),
                             box.y0 + cairo_image_surface_get_height(coverage)});
    for (int y = y0; y < y1; ++y) {
        auto* row =
            reinterpret_cast<std::uint32_t*>(dst + static_cast<std::ptrdiff_t>(dstStride) * y);
        const std::uint8_t* crow = cov + static_cast<std::ptrdiff_t>(covStride) * (y - box.y0);
        for (int x = x0; x < x1; ++x) {
            // Bitwise results are not blended: a pixel is in the figure or not.
            if (crow[x - box.x0] < 128) continue;
            const std::uint32_t d = row[x] & 0xFFFFFF;
            row[x] = fn(x - box.x0, y - box.y0, d);
        }
    }
    cairo_surface_mark_dirty(target);
}

const std::uint32_t* Pixels(cairo_surface_t* s, int& stride) {
    if (!s) return nullptr;
    cairo_surface_flush(s);
    stride = cairo_image_surface_get_stride(s) / 4;
    return reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(s));
}

}  // namespace

void ApplyRop2(cairo_surface_t* target, cairo_surface_t* coverage, const PixelBox& box, int rop2,
               std::uint32_t penRgb) {
    // With the pen fixed, each bit's result depends only on the destination bit: evaluate
    // the operation once for a destination of all ones and once for all zeros.
    const std::uint32_t table = static_cast<std::uint32_t>(rop2 - 1) & 0x0F;
    const std::uint32_t withOnes[2] = {penRgb, 0xFFFFFF};
    const std::uint32_t withZeros[2] = {penRgb, 0};
    const std::uint32_t ifSet = EvalTable(table, 2, withOnes);
    const std::uint32_t ifClear = EvalTable(table, 2, withZeros);
    ForCovered(target, coverage, box,
               [&](int, int, std::uint32_t d) { return (d & ifSet) | (~d & ifClear & 0xFFFFFF); });
}

void ApplyRop3(cairo_surface_t* target, cairo_surface_t* coverage, const PixelBox& box,
               std::uint8_t rop3, cairo_surface_t* source, cairo_surface_t* pattern,
               std::uint32_t constantPattern) {
    int srcStride = 0, patStride = 0;
    const std::uint32_t* src = Pixels(source, srcStride);
    const std::uint32_t* pat = Pixels(pattern, patStride);
    ForCovered(target, coverage, box, [&](int x, int y, std::uint32_t d) {
        const std::uint32_t s =
            src ? Colour(src[static_cast<std::ptrdiff_t>(srcStride) * y + x]) : 0;
        const std::uint32_t p =
            pat ? Colour(pat[static_cast<std::ptrdiff_t>(patStride) * y + x]) : constantPattern;
        const std::uint32_t vars[3] = {p, s, d};
        return EvalTable(rop3, 3, vars);
    });
}

}  // namespace ozm::metafile
