#pragma once
// The graphics objects a metafile creates and selects (pens, brushes, fonts; palettes and
// regions only hold their slot), the parts of their records both metafile kinds share, and the
// stock objects every device context has.

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>

#include "core/formats/metafile/MetafileCanvas.h"
#include "core/formats/metafile/MetafileRecords.h"

namespace ozm::metafile {

struct PlaceholderObject {};

using GdiObject = std::variant<PlaceholderObject, Pen, Brush, Font>;

// A plain pen: `style` holds the style, end cap and join bits, `width` is in logical units
// (zero or less draws one pixel wide). User styles and alternate dots need an extended pen
// and draw solid here. Wide dashed pens keep their dashes (the graphics device would draw
// them solid), as the producers of such files mean them and draw them themselves.
inline Pen LogPen(std::uint32_t style, std::int32_t width, std::uint32_t colourRef) {
    Pen pen;
    pen.style = style;
    pen.width = width;
    pen.colour = Colour::FromRef(colourRef);
    pen.cosmetic = pen.width <= 0;
    if ((pen.style & gdi::kPsStyleMask) > gdi::kPsInsideFrame) pen.style &= ~gdi::kPsStyleMask;
    return pen;
}

inline Brush SolidBrush(Colour colour) {
    Brush brush;
    brush.colour = colour;
    return brush;
}

// A plain brush; the pattern styles carry no pattern in this record and draw solid.
inline Brush LogBrush(std::uint32_t style, std::uint32_t colourRef, std::uint32_t hatch) {
    Brush brush;
    brush.style = style;
    brush.colour = Colour::FromRef(colourRef);
    brush.hatch = hatch;
    if (brush.style != gdi::kBsSolid && brush.style != gdi::kBsNull &&
        brush.style != gdi::kBsHatched) {
        brush.style = gdi::kBsSolid;
    }
    return brush;
}

// A brush tiled with a bitmap; mid grey fills where the bitmap cannot be drawn (null).
inline Brush DibPatternBrush(std::shared_ptr<const MetafileImage> pattern) {
    Brush brush;
    brush.style = gdi::kBsDibPatternPt;
    brush.colour = {128, 128, 128};
    brush.pattern = std::move(pattern);
    return brush;
}

// The font fields in front of the face name: height, width, escapement, orientation and
// weight as signed integers of `intSize` bytes (2 in 16-bit metafiles, 4 in enhanced ones)
// from `at`, then italic, underline, strike-out, character set, three bytes of precision and
// quality, and pitch and family.
inline Font LogFontFields(const RecordReader& r, std::size_t at, std::size_t intSize) {
    auto integer = [&](std::size_t i) -> std::int32_t {
        return intSize == 4 ? r.I32(at + 4 * i) : r.I16(at + 2 * i);
    };
    const std::size_t flags = at + 5 * intSize;
    Font font;
    font.height = integer(0);
    font.width = integer(1);
    font.escapement = integer(2);
    font.weight = integer(4);
    font.italic = r.U8(flags) != 0;
    font.underline = r.U8(flags + 1) != 0;
    font.strikeOut = r.U8(flags + 2) != 0;
    font.charSet = r.U8(flags + 3);
    font.pitchAndFamily = r.U8(flags + 7);
    return font;
}

// Makes the object the selected one of its kind.
inline void SelectInto(DcState& state, const GdiObject& object) {
    if (const auto* pen = std::get_if<Pen>(&object)) state.pen = *pen;
    if (const auto* brush = std::get_if<Brush>(&object)) state.brush = *brush;
    if (const auto* font = std::get_if<Font>(&object)) state.font = *font;
}

// Stock object number n (the index without its high bit); nullopt for numbers that name
// nothing drawable.
inline std::optional<GdiObject> StockObject(std::uint32_t n) {
    auto brush = [](std::uint8_t grey) { return SolidBrush({grey, grey, grey}); };
    auto pen = [](std::uint8_t grey, bool null) {
        Pen p;
        p.colour = {grey, grey, grey};
        p.style = null ? gdi::kPsNull : gdi::kPsSolid;
        return p;
    };
    auto font = [](const char* face, std::uint8_t pitch) {
        Font f;
        f.height = -12;
        f.face = face;
        f.pitchAndFamily = pitch;
        return f;
    };
    switch (n) {
        case 0:
            return brush(255);
        case 1:
            return brush(192);
        case 2:
            return brush(128);
        case 3:
            return brush(64);
        case 4:
            return brush(0);
        case 5: {
            Brush b;
            b.style = gdi::kBsNull;
            return b;
        }
        case 6:
            return pen(255, false);
        case 7:
            return pen(0, false);
        case 8:
            return pen(0, true);
        case 10:
        case 11:
        case 16:
            return font("monospace", 0x31);
        case 12:
        case 13:
        case 14:
        case 17:
            return font("sans-serif", 0x22);
        case 18:
            return brush(255);
        case 19:
            return pen(0, false);
        default:
            return std::nullopt;
    }
}

}  // namespace ozm::metafile
