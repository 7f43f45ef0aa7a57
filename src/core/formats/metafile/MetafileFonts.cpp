#include "core/formats/metafile/MetafileFonts.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <memory>

namespace ozm::metafile {

namespace {

struct FcPatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using FcPatternPtr = std::unique_ptr<FcPattern, FcPatternDeleter>;

// The generic family the logical font's family bits ask for, tried after the face name.
const char* GenericFamily(std::uint8_t pitchAndFamily) {
    switch (pitchAndFamily & 0xF0) {
        case 0x10:
            return "serif";
        case 0x30:
            return "monospace";
        case 0x40:
            return "cursive";
        case 0x50:
            return "fantasy";
        default:
            break;
    }
    return (pitchAndFamily & 0x03) == 1 ? "monospace" : "sans-serif";
}

int FcWeightFor(int weight) {
    if (weight <= 0) weight = 400;
    return static_cast<int>(FcWeightFromOpenTypeDouble(weight));
}

}  // namespace

FontCache::Entry& FontCache::Lookup(const FontRequest& asked) {
    auto found = entries_.find(asked);
    if (found != entries_.end()) return found->second;
    // Matching a face takes a while; a picture naming hundreds of fonts gets the generic
    // family for the rest (of which there are only a few dozen kinds).
    FontRequest request = asked;
    if (entries_.size() >= kMaxFaces) {
        request = FontRequest{};
        request.weight = asked.weight >= 600 ? 700 : 400;
        request.italic = asked.italic;
        request.pitchAndFamily = asked.pitchAndFamily & 0xF3;
        found = entries_.find(request);
        if (found != entries_.end()) return found->second;
    }

    Entry entry;
    FcPatternPtr pattern(FcPatternCreate());
    if (pattern) {
        std::string face = request.face;
        // Vertical-writing variants are named with a leading "@"; the face is the same.
        if (!face.empty() && face[0] == '@') face.erase(0, 1);
        if (!face.empty()) {
            FcPatternAddString(pattern.get(), FC_FAMILY,
                               reinterpret_cast<const FcChar8*>(face.c_str()));
        }
        FcPatternAddString(pattern.get(), FC_FAMILY,
                           reinterpret_cast<const FcChar8*>(GenericFamily(request.pitchAndFamily)));
        FcPatternAddInteger(pattern.get(), FC_WEIGHT, FcWeightFor(request.weight));
        FcPatternAddInteger(pattern.get(), FC_SLANT,
                            request.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
        FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
        FcDefaultSubstitute(pattern.get());
        FcResult result = FcResultNoMatch;
        FcPatternPtr match(FcFontMatch(nullptr, pattern.get(), &result));
        if (match && result == FcResultMatch) {
            entry.face.reset(cairo_ft_font_face_create_for_pattern(match.get()));
            if (cairo_font_face_status(entry.face.get()) != CAIRO_STATUS_SUCCESS)
                entry.face.reset();
        }
    }
    if (!entry.face) {
        entry.face.reset(cairo_toy_font_face_create(
            "sans-serif", request.italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
            request.weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL));
    }

    // Measure at a large size so that rounding inside the font engine does not show.
    constexpr double kProbe = 1024;
    cairo_matrix_t fontMatrix, identity;
    cairo_matrix_init_scale(&fontMatrix, kProbe, kProbe);
    cairo_matrix_init_identity(&identity);
    std::unique_ptr<cairo_font_options_t, decltype(&cairo_font_options_destroy)> options(
        cairo_font_options_create(), cairo_font_options_destroy);
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    ScaledFontPtr scaled(
        cairo_scaled_font_create(entry.face.get(), &fontMatrix, &identity, options.get()));
    if (cairo_scaled_font_status(scaled.get()) == CAIRO_STATUS_SUCCESS) {
        cairo_font_extents_t extents;
        cairo_scaled_font_extents(scaled.get(), &extents);
        if (extents.ascent > 0 && extents.descent >= 0 && extents.ascent + extents.descent > 0) {
            entry.metrics.ascent = extents.ascent / kProbe;
            entry.metrics.descent = extents.descent / kProbe;
        }
    }
    return entries_.emplace(request, std::move(entry)).first->second;
}

cairo_font_face_t* FontCache::Face(const FontRequest& request) {
    return Lookup(request).face.get();
}

FaceMetrics FontCache::Metrics(const FontRequest& request) { return Lookup(request).metrics; }

}  // namespace ozm::metafile
