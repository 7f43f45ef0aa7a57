#pragma once
// The graphics objects a metafile creates and selects (pens, brushes, fonts; palettes and
// regions only hold their slot), and the stock objects every device context has.

#include <cstdint>
#include <optional>
#include <variant>

#include "core/formats/MetafileCanvas.h"

namespace ozm::metafile {

struct PlaceholderObject {};

using GdiObject = std::variant<PlaceholderObject, Pen, Brush, Font>;

// Makes the object the selected one of its kind.
inline void SelectInto(DcState& state, const GdiObject& object) {
    if (const auto* pen = std::get_if<Pen>(&object)) state.pen = *pen;
    if (const auto* brush = std::get_if<Brush>(&object)) state.brush = *brush;
    if (const auto* font = std::get_if<Font>(&object)) state.font = *font;
}

// Stock object number n (the index without its high bit); nullopt for numbers that name
// nothing drawable.
inline std::optional<GdiObject> StockObject(std::uint32_t n) {
    auto brush = [](std::uint8_t grey) {
        Brush b;
        b.colour = {grey, grey, grey};
        return b;
    };
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
