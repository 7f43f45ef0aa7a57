#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/formats/metafile/CanvasDetail.h"
#include "core/formats/metafile/MetafileCanvas.h"
#include "core/text/CodePages.h"
#include "core/text/TextRules.h"

namespace ozm::metafile {

using namespace detail;

namespace {

// Symbol fonts address their glyphs at U+F020..U+F0FF; fonts installed here usually carry
// them at the plain Latin-1 codes.
std::uint32_t TextCode(std::uint32_t cp, bool symbolFont) {
    if (symbolFont && cp >= 0xF020 && cp <= 0xF0FF) return cp - 0xF000;
    return cp;
}

// The em size of the selected font in target pixels; nullopt when letters would be too small
// to see or too large for the font engine.
std::optional<double> EmPixels(const Font& font, const FaceMetrics& metrics, double scaleY,
                               const Affine& deviceToTarget) {
    double emPx;
    if (font.height < 0) {
        emPx = -font.height * scaleY;
    } else if (font.height > 0) {
        emPx = font.height / (metrics.ascent + metrics.descent) * scaleY;
    } else {
        emPx = 12 * std::sqrt(std::abs(deviceToTarget.Determinant()));
    }
    // The font engine takes sizes below 65536 pixels (and cairo loses memory on larger
    // ones); letters of half that are already larger than a picture's side can be.
    if (!std::isfinite(emPx) || emPx < 0.05 || emPx > 32768) return std::nullopt;
    return emPx;
}

// Text space: the origin at the reference point, x along the baseline turned by `theta`,
// the face at `emPx` pixels, outlines unhinted.
void SetUpTextSpace(cairo_t* cr, PointD ref, double theta, cairo_font_face_t* face, double emPx) {
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
}

struct FoundGlyph {
    unsigned long index = 0;
    double natural = 0;  // the glyph's own advance, text space
    bool visible = true;
};

// The font's glyph for one character; index 0 (the font's "missing" glyph) when it has none.
FoundGlyph GlyphForCode(cairo_scaled_font_t* scaled, std::uint32_t cp) {
    FoundGlyph g;
    std::string utf8;
    AppendUtf8(utf8, cp);
    cairo_glyph_t* glyphs = nullptr;
    int count = 0;
    if (cairo_scaled_font_text_to_glyphs(scaled, 0, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         &glyphs, &count, nullptr, nullptr,
                                         nullptr) == CAIRO_STATUS_SUCCESS &&
        count > 0) {
        g.index = glyphs[0].index;
    }
    cairo_glyph_free(glyphs);
    return g;
}

double NaturalAdvance(cairo_scaled_font_t* scaled, unsigned long index) {
    cairo_text_extents_t ext;
    cairo_glyph_t probe{index, 0, 0};
    cairo_scaled_font_glyph_extents(scaled, &probe, 1, &ext);
    return std::isfinite(ext.x_advance) ? ext.x_advance : 0;
}

// The font's glyph for each code of the run (control characters take a space's advance and
// show nothing).
std::vector<FoundGlyph> FindGlyphs(cairo_scaled_font_t* scaled, const TextRun& run,
                                   bool symbolFont) {
    std::vector<FoundGlyph> found(run.codes.size());
    const bool glyphIndexes = run.options & gdi::kEtoGlyphIndex;
    for (std::size_t i = 0; i < found.size(); ++i) {
        FoundGlyph& g = found[i];
        if (glyphIndexes) {
            g.index = run.codes[i];
        } else {
            const std::uint32_t cp = TextCode(run.codes[i], symbolFont);
            const bool visible = cp >= 0x20;
            g = GlyphForCode(scaled, visible ? cp : 0x20);
            g.visible = visible;
        }
        g.natural = NaturalAdvance(scaled, g.index);
    }
    return found;
}

// The letter groups a text layout joins into one glyph by default, with the font's
// presentation form of each. Longer groups first, so that "ffi" is not taken for "ff" + "i".
struct Ligature {
    std::u32string_view letters;
    std::uint32_t joined;
};
constexpr Ligature kLigatures[] = {
    {U"ffi", 0xFB03}, {U"ffl", 0xFB04}, {U"ff", 0xFB00}, {U"fi", 0xFB01}, {U"fl", 0xFB02},
};

// An office suite lays text out with the font's ligatures and writes each joined group as
// the ligature's advance on its first letter and 0 on the others; drawn letter by letter,
// the letters after the group would stack on the next one ("Metaf le"). Where such a group
// has the zero advances, the font has the ligature, and the first advance is nearer the
// ligature's width than the first letter's own, the ligature is drawn in the group's place.
// Advances that really overlap keep their letters: a group whose first advance is that
// letter's own, letters that do not join, a font without the ligature.
void JoinLigatures(cairo_scaled_font_t* scaled, const TextRun& run, std::span<const double> advance,
                   std::vector<FoundGlyph>& found) {
    const std::size_t n = std::min(found.size(), run.dx.size());
    std::optional<FoundGlyph> joined[std::size(kLigatures)];
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (run.codes[i] != U'f' || !(advance[i] > 0) || advance[i + 1] != 0) continue;
        for (std::size_t l = 0; l < std::size(kLigatures); ++l) {
            const std::u32string_view letters = kLigatures[l].letters;
            if (i + letters.size() > n) continue;
            bool group = true;
            for (std::size_t k = 1; k < letters.size(); ++k) {
                group = group && run.codes[i + k] == letters[k] && advance[i + k] == 0;
            }
            if (!group) continue;
            if (!joined[l]) {
                joined[l] = GlyphForCode(scaled, kLigatures[l].joined);
                joined[l]->natural = NaturalAdvance(scaled, joined[l]->index);
            }
            const FoundGlyph& ligature = *joined[l];
            if (ligature.index == 0 || advance[i] < (found[i].natural + ligature.natural) / 2)
                continue;
            found[i] = ligature;
            for (std::size_t k = 1; k < letters.size(); ++k) found[i + k].visible = false;
            i += letters.size() - 1;
            break;
        }
    }
}

}  // namespace

// The glyphs of a run placed in text space.
struct Canvas::GlyphLine {
    std::vector<cairo_glyph_t> shown;  // the visible glyphs
    std::size_t count = 0;             // glyphs in the run, shown or not
    double x = 0, y = 0;               // where the line starts: the alignment's offset
    double total = 0;                  // the line's advance
    double emPx = 0;
    FaceMetrics metrics;
};

// Advances are the run's own (logical, scaled by `advanceScale`) or the glyphs' natural ones;
// the text alignment places the line around the reference point.
Canvas::GlyphLine Canvas::LayOutGlyphs(cairo_scaled_font_t* scaled, const TextRun& run,
                                       double advanceScale, double emPx,
                                       const FaceMetrics& metrics) const {
    const DcState& s = state_;
    const bool symbolFont = s.font.charSet == 2;
    std::vector<FoundGlyph> found = FindGlyphs(scaled, run, symbolFont);
    GlyphLine line;
    line.count = found.size();
    line.emPx = emPx;
    line.metrics = metrics;
    std::vector<double> advance(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        advance[i] = i < run.dx.size() ? run.dx[i] * advanceScale : found[i].natural;
        if (!std::isfinite(advance[i])) advance[i] = 0;
        line.total += advance[i];
    }
    if (!std::isfinite(line.total)) line.total = 0;
    if (!(run.options & gdi::kEtoGlyphIndex) && !symbolFont)
        JoinLigatures(scaled, run, advance, found);
    if ((s.textAlign & gdi::kTaCenter) == gdi::kTaCenter) {
        line.x = -line.total / 2;
    } else if (s.textAlign & gdi::kTaRight) {
        line.x = -line.total;
    }
    const std::uint32_t vertical = s.textAlign & gdi::kTaBaseline;
    if (vertical == gdi::kTaBaseline) {
        line.y = 0;
    } else if (vertical == gdi::kTaBottom) {
        line.y = -metrics.descent * emPx;
    } else {
        line.y = metrics.ascent * emPx;
    }
    line.shown.reserve(found.size());
    double pen = line.x;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (found[i].visible) line.shown.push_back({found[i].index, pen, line.y});
        pen += advance[i];
    }
    return line;
}

// Every letter near this target is composited over its cell (large ones are filled as
// outlines: tens of edges crossing the letter's rows); letters far away cost only their
// look-up.
void Canvas::ChargeText(const GlyphLine& line, PointD ref, double theta, bool fillsBackground) {
    const double emPx = line.emPx;
    const double c = std::cos(theta), sn = std::sin(theta);
    const double reach = 2 * emPx + 2;
    double near = 0;
    for (const cairo_glyph_t& g : line.shown) {
        const double gx = ref.x + g.x * c - g.y * sn;
        const double gy = ref.y + g.x * sn + g.y * c;
        if (gx > -reach && gx < width_ + reach && gy > -reach && gy < height_ + reach) ++near;
    }
    const double cell = std::min(emPx * emPx * 1.5, double(width_) * height_);
    const double perLetter =
        cell * kCostPixel + (emPx > 200 ? 10 * emPx * kCostEdgeRow + 60 * kCostEdge : 0);
    Charge(kCostCall + double(line.count) * kCostEdge + near * perLetter);
    if (fillsBackground) {
        ChargeArea(std::abs(line.total) * (line.metrics.ascent + line.metrics.descent) * emPx, emPx,
                   kCostPixel);
    }
}

// Inside a path bracket the letters' outlines join the path, in target pixels.
void Canvas::AppendGlyphOutlines(cairo_t* cr, const GlyphLine& line) {
    cairo_new_path(cr);
    cairo_glyph_path(cr, line.shown.data(), static_cast<int>(line.shown.size()));
    cairo_identity_matrix(cr);
    CairoPathPtr copied(cairo_copy_path(cr));
    cairo_new_path(cr);
    if (!copied || copied->status != CAIRO_STATUS_SUCCESS) return;
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

// Draws the line in text space: the background box in opaque mode, the letters, underline
// and strike-out; clipped to the run's rectangle (logical, through `m`) when it asks.
void Canvas::DrawGlyphs(cairo_t* cr, const GlyphLine& line, const TextRun& run, const Affine& m) {
    const DcState& s = state_;
    const double emPx = line.emPx, x = line.x, y = line.y, total = line.total;
    const FaceMetrics& metrics = line.metrics;
    auto draw = [&](cairo_t* c) {
        if (run.options & gdi::kEtoClipped && run.rect) {
            cairo_save(c);
            cairo_identity_matrix(c);
            AddPath(c, TargetRect(*run.rect, m));
            cairo_restore(c);
            cairo_clip(c);
        }
        if (s.bkMode == gdi::kOpaque && !(run.options & gdi::kEtoOpaque)) {
            SetColour(c, s.bkColour);
            cairo_rectangle(c, std::min(x, x + total), y - metrics.ascent * emPx, std::abs(total),
                            (metrics.ascent + metrics.descent) * emPx);
            cairo_fill(c);
        }
        SetColour(c, s.textColour);
        if (emPx > 200) {
            // Large letters as outlines: the glyph cache would hold huge bitmaps.
            cairo_new_path(c);
            cairo_glyph_path(c, line.shown.data(), static_cast<int>(line.shown.size()));
            cairo_fill(c);
        } else {
            cairo_show_glyphs(c, line.shown.data(), static_cast<int>(line.shown.size()));
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
    DrawThroughMask(cr, state_.clip, draw, true);
}

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
    const auto emPx = EmPixels(s.font, metrics, scaleY, deviceToTarget_);
    if (!emPx) return;

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
    SetUpTextSpace(cr, ref, theta, face, *emPx);
    const GlyphLine line =
        LayOutGlyphs(cairo_get_scaled_font(cr), run, advanceScale, *emPx, metrics);
    ChargeText(line, ref, theta, s.bkMode == gdi::kOpaque && !(run.options & gdi::kEtoOpaque));
    if (inPath_) {
        AppendGlyphOutlines(cr, line);
    } else {
        DrawGlyphs(cr, line, run, m);
    }
    cairo_restore(cr);

    if (s.textAlign & gdi::kTaUpdateCp) {
        // The current position moves along the logical x axis by the text's advance.
        const double along = line.total / advanceScale;
        state_.current = {refLogical.x + (ux.x < 0 ? -along : along), refLogical.y};
    }
}

}  // namespace ozm::metafile
