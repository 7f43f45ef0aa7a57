#pragma once
// The drawing model that metafile records address: a device context with its mapping,
// selected pen, brush and font, colours, modes, clipping and path, drawing onto a cairo
// image surface. Both players (enhanced and 16-bit) drive this one canvas; coordinates given
// to it are logical unless a name says otherwise. Its sections (mapping, clipping, painting,
// figures, bitmaps, gradients, text) are defined in one file each; see README.md.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/formats/metafile/CairoPtr.h"
#include "core/formats/metafile/MetafileFonts.h"
#include "core/formats/metafile/MetafileGeometry.h"
#include "core/formats/metafile/MetafileImage.h"
#include "core/formats/metafile/MetafileRaster.h"
#include "core/formats/metafile/MetafileRecords.h"

namespace ozm::metafile {

// Reading a record and dispatching it, whatever it draws, in the units of WorkMeter.
inline constexpr double kCostRecord = 200;

struct Colour {
    std::uint8_t r = 0, g = 0, b = 0;
    // From a COLORREF, 0x00BBGGRR.
    static Colour FromRef(std::uint32_t ref) {
        return {static_cast<std::uint8_t>(ref), static_cast<std::uint8_t>(ref >> 8),
                static_cast<std::uint8_t>(ref >> 16)};
    }
};

// Pen styles, brush styles and the mode values records carry.
namespace gdi {
inline constexpr std::uint32_t kPsSolid = 0, kPsDash = 1, kPsDot = 2, kPsDashDot = 3,
                               kPsDashDotDot = 4, kPsNull = 5, kPsInsideFrame = 6, kPsUserStyle = 7,
                               kPsAlternate = 8, kPsStyleMask = 0x0F;
inline constexpr std::uint32_t kPsEndcapRound = 0x000, kPsEndcapSquare = 0x100,
                               kPsEndcapFlat = 0x200, kPsEndcapMask = 0xF00;
inline constexpr std::uint32_t kPsJoinRound = 0x0000, kPsJoinBevel = 0x1000, kPsJoinMiter = 0x2000,
                               kPsJoinMask = 0xF000;
inline constexpr std::uint32_t kPsGeometric = 0x10000;
inline constexpr std::uint32_t kBsSolid = 0, kBsNull = 1, kBsHatched = 2, kBsPattern = 3,
                               kBsDibPattern = 5, kBsDibPatternPt = 6;
inline constexpr int kTransparent = 1, kOpaque = 2;
inline constexpr int kAlternate = 1, kWinding = 2;
inline constexpr int kR2CopyPen = 13, kR2Nop = 11;
inline constexpr int kMmText = 1, kMmLoMetric = 2, kMmHiMetric = 3, kMmLoEnglish = 4,
                     kMmHiEnglish = 5, kMmTwips = 6, kMmIsotropic = 7, kMmAnisotropic = 8;
inline constexpr int kRgnAnd = 1, kRgnOr = 2, kRgnXor = 3, kRgnDiff = 4, kRgnCopy = 5;
inline constexpr std::uint32_t kTaUpdateCp = 1, kTaRight = 2, kTaCenter = 6, kTaBottom = 8,
                               kTaBaseline = 24;
inline constexpr std::uint32_t kEtoOpaque = 0x2, kEtoClipped = 0x4, kEtoGlyphIndex = 0x10,
                               kEtoPdy = 0x2000;
inline constexpr int kAdCounterClockwise = 1, kAdClockwise = 2;
inline constexpr int kStretchHalftone = 4;
}  // namespace gdi

struct Pen {
    std::uint32_t style = gdi::kPsSolid;  // style, end cap, join and type bits
    double width = 0;                     // logical units; 0: one pixel whatever the mapping
    bool cosmetic = true;                 // one pixel wide, dashes in pixels
    Colour colour;
    std::vector<double> userDashes;  // PS_USERSTYLE lengths (logical units, or pixels)
};

struct Brush {
    std::uint32_t style = gdi::kBsSolid;
    Colour colour{255, 255, 255};
    std::uint32_t hatch = 0;
    std::shared_ptr<const MetafileImage> pattern;
};

struct Font {
    double height = 0;  // negative: em height; positive: cell height; logical units
    double width = 0;
    double escapement = 0;  // tenths of a degree, anticlockwise
    int weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    std::uint8_t charSet = 0;
    std::uint8_t pitchAndFamily = 0;
    std::string face;  // UTF-8
};

// A clip shape in target pixels; the clip is the intersection of all shapes and the mask.
struct ClipShape {
    Path path;
    bool evenOdd = false;
    bool rectilinear = false;  // only axis-aligned straight edges: cheap to clip with
};

struct ClipState {
    std::vector<std::shared_ptr<const ClipShape>> shapes;
    std::shared_ptr<SurfacePtr> mask;  // A8 coverage, target size; for unions and xors
    bool IsDefault() const { return shapes.empty() && !mask; }
};

struct DcState {
    int mapMode = gdi::kMmText;
    PointD windowOrg{0, 0}, windowExt{1, 1};
    PointD viewportOrg{0, 0}, viewportExt{1, 1};
    Affine world;
    Pen pen;
    Brush brush;
    Font font;
    Colour textColour{0, 0, 0};
    Colour bkColour{255, 255, 255};
    int bkMode = gdi::kOpaque;
    int polyFillMode = gdi::kAlternate;
    int rop2 = gdi::kR2CopyPen;
    int stretchMode = 1;
    std::uint32_t textAlign = 0;
    double miterLimit = 10;
    int arcDirection = gdi::kAdCounterClockwise;
    PointD current{0, 0};
    PointD brushOrigin{0, 0};
    ClipState clip;
};

// A rectangle in logical units (or device units where a name says so).
struct RectD {
    double left = 0, top = 0, right = 0, bottom = 0;
};

struct TextRun {
    PointD reference;
    std::vector<std::uint32_t> codes;  // characters, or glyph indexes with ETO_GLYPH_INDEX
    std::vector<double> dx;            // advances along the baseline, logical; may be empty
    std::uint32_t options = 0;
    std::optional<RectD> rect;  // for ETO_OPAQUE and ETO_CLIPPED
};

// Appends 16-bit text to a run (set its options first): a surrogate pair becomes one
// character taking both advances; glyph indexes are kept as they are.
void AddUtf16(TextRun& run, std::span<const std::uint16_t> units, std::span<const double> dx);
// Appends 8-bit text in the font's character set; a double-byte character takes both
// advances.
void AddAnsi(TextRun& run, std::span<const std::uint8_t> bytes, std::uint8_t charSet,
             std::span<const double> dx);

enum class ArcKind { Arc, Chord, Pie, ArcTo };

struct BlendFunction {
    std::uint8_t constantAlpha = 255;
    bool perPixelAlpha = false;
};

class Canvas {
  public:
    // `deviceToTarget` maps the metafile's device units to pixels of `target`, an RGB24
    // surface; `devicePixelsPerMm` gives the device resolution for the metric mapping modes.
    // `meter` counts the work of every drawing; a drawing that would pass its budget throws
    // WorkLimitError before it starts.
    // `images` keeps decoded images from tile to tile; without it each is decoded per use.
    Canvas(cairo_surface_t* target, const Affine& deviceToTarget, PointD devicePixelsPerMm,
           WorkMeter& meter, ImageCache* images = nullptr);

    DcState& State() { return state_; }

    // Mapping.
    void SetMapMode(int mode);
    void SetWindowOrg(PointD p);
    void SetWindowExt(PointD e);
    void SetViewportOrg(PointD p);
    void SetViewportExt(PointD e);
    void OffsetWindowOrg(PointD d);
    void OffsetViewportOrg(PointD d);
    void ScaleWindowExt(double xNum, double xDen, double yNum, double yDen);
    void ScaleViewportExt(double xNum, double xDen, double yNum, double yDen);
    void SetWorldTransform(const Affine& m);
    // 1 identity, 2 left multiply (m applied first), 3 right multiply, 4 set.
    void ModifyWorldTransform(const Affine& m, int mode);
    Affine LogicalToTarget() const;

    // Device-context stack; false when the depth limit is reached or the index is bad.
    bool SaveDc();
    bool RestoreDc(int index);
    static constexpr std::size_t kMaxSaveDepth = 1024;

    // Figures.
    void MoveTo(PointD p);
    void LineTo(PointD p);
    void Polyline(std::span<const PointD> points);
    void Polygon(std::span<const PointD> points);
    void PolyPolygon(std::span<const PointD> points, std::span<const std::uint32_t> counts);
    void PolyPolyline(std::span<const PointD> points, std::span<const std::uint32_t> counts);
    void PolyBezier(std::span<const PointD> points);
    void PolyBezierTo(std::span<const PointD> points);
    void PolylineTo(std::span<const PointD> points);
    // Points with a type each: move (6), line (2) or Bezier (4), bit 1 closing the figure.
    void PolyDraw(std::span<const PointD> points, std::span<const std::uint8_t> types);
    void Rectangle(const RectD& r);
    void RoundRect(const RectD& r, double ew, double eh);
    void Ellipse(const RectD& r);
    void ArcShape(ArcKind kind, const RectD& box, PointD start, PointD end);
    void AngleArc(PointD centre, double radius, double startDeg, double sweepDeg);
    void SetPixel(PointD p, Colour c);

    // Path bracket.
    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void SelectClipPath(int mode);

    // Clipping.
    void IntersectClipRect(const RectD& r);
    void ExcludeClipRect(const RectD& r);
    // Rectangles in device units; an empty list with RGN_COPY restores the default clip.
    void SelectClipRegion(std::span<const RectD> deviceRects, int mode);
    void OffsetClip(PointD logical);

    // Regions in logical units.
    void FillRegion(std::span<const RectD> rects, const Brush& brush);
    void FrameRegion(std::span<const RectD> rects, const Brush& brush, double w, double h);
    void InvertRegion(std::span<const RectD> rects);

    void Text(const TextRun& run);

    // Draws `srcRect` of the image (pixels, top-down, may be partly outside) into `dest`
    // with a ternary raster operation; without an image only the pattern and destination
    // take part.
    void Blit(const MetafileImage* image, const RectD& srcRect, const RectD& dest,
              std::uint32_t rop);
    void AlphaBlend(const MetafileImage& image, const RectD& srcRect, const RectD& dest,
                    BlendFunction blend);
    // Device-unit size at a logical point, as a bits-to-device transfer places its pixels.
    void BitsToDevice(const MetafileImage& image, const RectD& srcRect, PointD destLogical,
                      PointD sizeDevice);

    struct GradientVertex {
        PointD p;
        double r = 0, g = 0, b = 0;  // 0..1
    };
    void GradientRect(const GradientVertex& a, const GradientVertex& b, bool vertical);
    void GradientTriangle(const GradientVertex& a, const GradientVertex& b,
                          const GradientVertex& c);

    // Whether every cairo call so far succeeded.
    bool Healthy() const;

    // Adds work done outside the canvas to the meter.
    void Charge(double units);
    // Decodes a record's image (see ImageCache::Decode), charging the meter.
    std::shared_ptr<const MetafileImage> DecodeImage(std::span<const std::uint8_t> info,
                                                     const std::uint8_t* keyInfo,
                                                     std::span<const std::uint8_t> bits,
                                                     bool useAlpha, std::uint32_t lines = 0) {
        return images_->Decode(info, keyInfo, bits, useAlpha, lines, meter_);
    }

  private:
    // Work charging.
    // Compositing `pixels` over `rows` scan lines at `perPixel`, plus what the clip adds.
    void ChargeArea(double pixels, double rows, double perPixel);
    void ChargeArea(const PixelBox& box, double perPixel);
    // Scan converting a path over the rows of `box` (its edges widened by `widen` pixels).
    void ChargePath(const Path& path, const PixelBox& box, double widen);

    // Mapping.
    void ApplyIsotropic();
    void SetExtent(PointD& extent, PointD e);
    void ScaleExtent(PointD& extent, double xNum, double xDen, double yNum, double yDen);
    Path TargetRect(const RectD& r, const Affine& m) const;

    // Clipping.
    void ApplyClip(cairo_t* cr) const;
    void EnsureClip();
    void CombineClip(const Path& targetPath, bool evenOdd, int mode);
    SurfacePtr RasterizeClip() const;

    // Painting.
    // Draws a figure built in target pixels: into the open path bracket, or filled with the
    // brush and outlined with the pen.
    void Emit(const Path& targetPath, bool fill, bool stroke);
    void FillTarget(const Path& path, const Brush& brush, bool evenOdd);
    void StrokeTarget(const Path& path, const Pen& pen);
    bool SetBrushSource(cairo_t* cr, const Brush& brush);
    double PenWidthPixels(const Pen& pen) const;
    // Runs `paint` on the canvas context with clip and ROP2 applied; `box` bounds what the
    // figure can touch.
    template <class PaintFn>
    void Paint(const Colour& colour, const PixelBox& box, PaintFn&& paint);
    // A context that draws the coverage of a bitwise operation into `coverage` (A8, the size
    // of `box`): target pixels, the clip's shapes applied, no anti-aliasing.
    ContextPtr CoverageContext(cairo_surface_t* coverage, const PixelBox& box) const;
    // Fills a path in target pixels with a cairo pattern (the gradients) through Paint.
    void FillWithPattern(const Path& targetPath, cairo_pattern_t* pattern, double perPixel);

    // Figures.
    void PolyPoly(std::span<const PointD> points, std::span<const std::uint32_t> counts,
                  bool closed);
    Path LogicalPolyline(std::span<const PointD> points, bool close) const;

    // Bitmaps: blits that combine source, pattern and destination bit by bit over `box`.
    void BlitBitwise(const Path& area, const PixelBox& box, std::uint8_t rop3,
                     cairo_pattern_t* source);

    // Text, in steps.
    struct GlyphLine;
    GlyphLine LayOutGlyphs(cairo_scaled_font_t* scaled, const TextRun& run, double advanceScale,
                           double emPx, const FaceMetrics& metrics) const;
    void ChargeText(const GlyphLine& line, PointD ref, double theta, bool fillsBackground);
    void AppendGlyphOutlines(cairo_t* cr, const GlyphLine& line);
    void DrawGlyphs(cairo_t* cr, const GlyphLine& line, const TextRun& run, const Affine& m);

    cairo_surface_t* target_;
    ContextPtr cr_;
    int width_;
    int height_;
    Affine deviceToTarget_;
    PointD devicePixelsPerMm_;
    WorkMeter& meter_;
    ImageCache ownImages_;
    ImageCache* images_;
    DcState state_;
    std::vector<DcState> saved_;
    bool inPath_ = false;
    Path path_;  // target pixels
    bool pathReady_ = false;
    std::uint64_t clipVersion_ = 1;
    std::uint64_t appliedClipVersion_ = 0;
    double clipCostPerRow_ = 0;    // extra work per scan line a figure covers under the clip
    double clipCostPerPixel_ = 0;  // and per pixel
    FontCache fonts_;
};

}  // namespace ozm::metafile
