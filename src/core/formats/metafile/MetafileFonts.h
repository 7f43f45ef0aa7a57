#pragma once
// Finds an installed font for a metafile's logical font (face name, weight, italic, pitch
// and family) through fontconfig, and keeps the faces found for one playback.

#include <map>
#include <string>
#include <tuple>

#include "core/formats/metafile/CairoPtr.h"

namespace ozm::metafile {

struct FontRequest {
    std::string face;  // UTF-8, may be empty
    int weight = 400;  // 100..900
    bool italic = false;
    std::uint8_t pitchAndFamily = 0;
    std::uint8_t charSet = 0;

    auto Key() const { return std::tie(face, weight, italic, pitchAndFamily, charSet); }
    friend bool operator<(const FontRequest& a, const FontRequest& b) { return a.Key() < b.Key(); }
};

// Vertical sizes of a face per unit of em, the way the graphics device measures a cell.
struct FaceMetrics {
    double ascent = 0.8;
    double descent = 0.2;
};

class FontCache {
  public:
    // A face for the request; never null (cairo's own default face when matching fails).
    cairo_font_face_t* Face(const FontRequest& request);
    FaceMetrics Metrics(const FontRequest& request);

    static constexpr std::size_t kMaxFaces = 256;

  private:
    struct Entry {
        FontFacePtr face;
        FaceMetrics metrics;
    };
    Entry& Lookup(const FontRequest& request);
    std::map<FontRequest, Entry> entries_;
};

}  // namespace ozm::metafile
