#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/formats/metafile/CanvasDetail.h"
#include "core/formats/metafile/MetafileCanvas.h"
#include "core/text/CodePages.h"
#include "core/text/TextRules.h"

namespace ozm::metafile {

using namespace detail;

// ---- Text ----------------------------------------------------------------------------------

namespace {

// Symbol fonts address their glyphs at U+F020..U+F0FF; fonts installed here usually carry
// them at the plain Latin-1 codes.
std::uint32_t TextCode(std::uint32_t cp, bool symbolFont) {
    if (symbolFont && cp >= 0xF020 && cp <= 0xF0FF) return cp - 0xF000;
    return cp;
}

}  // namespace

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

    double emPx;
    if (s.font.height < 0) {
        emPx = -s.font.height * scaleY;
    } else if (s.font.height > 0) {
        emPx = s.font.height / (metrics.ascent + metrics.descent) * scaleY;
    } else {
        emPx = 12 * std::sqrt(std::abs(deviceToTarget_.Determinant()));
    }
    // The font engine takes sizes below 65536 pixels (and cairo loses memory on larger
    // ones); letters of half that are already larger than a picture's side can be.
    if (!std::isfinite(emPx) || emPx < 0.05 || emPx > 32768) return;

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
    cairo_scaled_font_t* scaled = cairo_get_scaled_font(cr);

    // Glyphs and their natural advances in text space (pixels along the baseline).
    const std::size_t n = run.codes.size();
    std::vector<cairo_glyph_t> glyphs(n);
    std::vector<double> natural(n, 0);
    std::vector<bool> visible(n, true);
    const bool glyphIndexes = run.options & gdi::kEtoGlyphIndex;
    const bool symbol = s.font.charSet == 2;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned long index = 0;
        if (glyphIndexes) {
            index = run.codes[i];
        } else {
            const std::uint32_t cp = TextCode(run.codes[i], symbol);
            if (cp < 0x20) visible[i] = false;
            std::string utf8;
            AppendUtf8(utf8, visible[i] ? cp : 0x20);
            cairo_glyph_t* found = nullptr;
            int count = 0;
            if (cairo_scaled_font_text_to_glyphs(
                    scaled, 0, 0, utf8.data(), static_cast<int>(utf8.size()), &found, &count,
                    nullptr, nullptr, nullptr) == CAIRO_STATUS_SUCCESS &&
                count > 0) {
                index = found[0].index;
            }
            cairo_glyph_free(found);
        }
        glyphs[i].index = index;
        cairo_text_extents_t ext;
        cairo_glyph_t probe{index, 0, 0};
        cairo_scaled_font_glyph_extents(scaled, &probe, 1, &ext);
        natural[i] = std::isfinite(ext.x_advance) ? ext.x_advance : 0;
    }
    std::vector<double> advance(n);
    double total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        advance[i] = i < run.dx.size() ? run.dx[i] * advanceScale : natural[i];
        if (!std::isfinite(advance[i])) advance[i] = 0;
        total += advance[i];
    }
    if (!std::isfinite(total)) total = 0;

    double x = 0;
    if ((s.textAlign & gdi::kTaCenter) == gdi::kTaCenter) {
        x = -total / 2;
    } else if (s.textAlign & gdi::kTaRight) {
        x = -total;
    }
    double y = 0;
    const std::uint32_t vertical = s.textAlign & gdi::kTaBaseline;
    if (vertical == gdi::kTaBaseline) {
        y = 0;
    } else if (vertical == gdi::kTaBottom) {
        y = -metrics.descent * emPx;
    } else {
        y = metrics.ascent * emPx;
    }
    std::vector<cairo_glyph_t> shown;
    shown.reserve(n);
    double pen = x;
    for (std::size_t i = 0; i < n; ++i) {
        if (visible[i]) shown.push_back({glyphs[i].index, pen, y});
        pen += advance[i];
    }
    {
        // Every letter near this target is composited over its cell (large ones are filled
        // as outlines: tens of edges crossing the letter's rows); letters far away cost
        // only their look-up.
        const double c = std::cos(theta), sn = std::sin(theta);
        const double reach = 2 * emPx + 2;
        double near = 0;
        for (const cairo_glyph_t& g : shown) {
            const double gx = ref.x + g.x * c - g.y * sn;
            const double gy = ref.y + g.x * sn + g.y * c;
            if (gx > -reach && gx < width_ + reach && gy > -reach && gy < height_ + reach) ++near;
        }
        const double cell = std::min(emPx * emPx * 1.5, double(width_) * height_);
        const double perLetter =
            cell * kCostPixel + (emPx > 200 ? 10 * emPx * kCostEdgeRow + 60 * kCostEdge : 0);
        Charge(kCostCall + double(n) * kCostEdge + near * perLetter);
        if (s.bkMode == gdi::kOpaque && !(run.options & gdi::kEtoOpaque)) {
            ChargeArea(std::abs(total) * (metrics.ascent + metrics.descent) * emPx, emPx,
                       kCostPixel);
        }
    }

    if (inPath_) {
        cairo_new_path(cr);
        cairo_glyph_path(cr, shown.data(), static_cast<int>(shown.size()));
        cairo_identity_matrix(cr);
        CairoPathPtr copied(cairo_copy_path(cr));
        cairo_new_path(cr);
        if (copied && copied->status == CAIRO_STATUS_SUCCESS) {
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
        cairo_restore(cr);
    } else {
        auto draw = [&](cairo_t* c) {
            if (run.options & gdi::kEtoClipped && run.rect) {
                // The clip rectangle is logical; draw it through the full mapping.
                cairo_save(c);
                cairo_identity_matrix(c);
                AddPath(c, TargetRect(*run.rect, m));
                cairo_restore(c);
                cairo_clip(c);
            }
            if (s.bkMode == gdi::kOpaque && !(run.options & gdi::kEtoOpaque)) {
                SetColour(c, s.bkColour);
                cairo_rectangle(c, std::min(x, x + total), y - metrics.ascent * emPx,
                                std::abs(total), (metrics.ascent + metrics.descent) * emPx);
                cairo_fill(c);
            }
            SetColour(c, s.textColour);
            if (emPx > 200) {
                // Large letters as outlines: the glyph cache would hold huge bitmaps.
                cairo_new_path(c);
                cairo_glyph_path(c, shown.data(), static_cast<int>(shown.size()));
                cairo_fill(c);
            } else {
                cairo_show_glyphs(c, shown.data(), static_cast<int>(shown.size()));
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
        if (state_.clip.mask) {
            cairo_push_group(cr);
            draw(cr);
            cairo_pop_group_to_source(cr);
            cairo_identity_matrix(cr);
            cairo_mask_surface(cr, state_.clip.mask->get(), 0, 0);
        } else {
            draw(cr);
        }
        cairo_restore(cr);
    }

    if (s.textAlign & gdi::kTaUpdateCp) {
        // The current position moves along the logical x axis by the text's advance.
        const double along = total / advanceScale;
        state_.current = {refLogical.x + (ux.x < 0 ? -along : along), refLogical.y};
    }
}

}  // namespace ozm::metafile
