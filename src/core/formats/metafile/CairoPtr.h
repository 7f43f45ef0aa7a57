#pragma once
// Owning holders for the cairo objects that metafile playback creates.

#include <cairo.h>

#include <memory>

namespace ozm::metafile {

struct CairoSurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoContextDeleter {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct CairoPatternDeleter {
    void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
struct CairoFontFaceDeleter {
    void operator()(cairo_font_face_t* f) const { cairo_font_face_destroy(f); }
};
struct CairoScaledFontDeleter {
    void operator()(cairo_scaled_font_t* f) const { cairo_scaled_font_destroy(f); }
};
struct CairoPathDeleter {
    void operator()(cairo_path_t* p) const { cairo_path_destroy(p); }
};

using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, CairoContextDeleter>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, CairoPatternDeleter>;
using FontFacePtr = std::unique_ptr<cairo_font_face_t, CairoFontFaceDeleter>;
using ScaledFontPtr = std::unique_ptr<cairo_scaled_font_t, CairoScaledFontDeleter>;
using CairoPathPtr = std::unique_ptr<cairo_path_t, CairoPathDeleter>;

// A new image surface, or null when cairo cannot make one of that size.
inline SurfacePtr MakeImageSurface(cairo_format_t format, int width, int height) {
    SurfacePtr s(cairo_image_surface_create(format, width, height));
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    return s;
}

}  // namespace ozm::metafile
