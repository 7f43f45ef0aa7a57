#pragma once
// Byte layouts of enhanced (32-bit) and Windows (16-bit) metafiles: record type numbers, the
// headers, and a bounded little-endian reader that every record field goes through.

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>

namespace ozm::metafile {

// A record whose sizes, counts or offsets do not fit inside it. Playback stops with a read
// failure when one is met.
class RecordError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A picture whose drawing would cost more than the work allowed for one picture. Playback
// stops before the costly step; the picture is refused, never drawn in part.
class WorkLimitError : public RecordError {
  public:
    WorkLimitError() : RecordError("metafile too complex to draw") {}
};

// Work allowed for one picture, shared by every tile it is drawn in. Units are estimates of
// nanoseconds on a current processor core; the estimates follow what the drawing library
// really does (pixels composited, edges times the scan lines they cross, images decoded),
// so that any file under a megabyte is drawn or refused within seconds.
class WorkMeter {
  public:
    explicit WorkMeter(double budget) : budget_(budget) {}
    // Adds `units` of work about to be done; throws WorkLimitError, before the work is
    // done, when the total would pass the budget.
    void Charge(double units) {
        if (!(units >= 0)) throw WorkLimitError();  // NaN: an estimate that cannot be trusted
        used_ += units;
        if (used_ > budget_) throw WorkLimitError();
    }

  private:
    double budget_;
    double used_ = 0;
};

// Reads little-endian fields of one record or header. Every read is checked against the
// span; a read past its end throws RecordError.
class RecordReader {
  public:
    explicit RecordReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t Size() const { return bytes_.size(); }
    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    // Throws unless `count` bytes at `offset` lie inside the record.
    void Need(std::size_t offset, std::size_t count) const;
    // Same with a count of elements of `elementSize` bytes, without overflowing.
    void NeedArray(std::size_t offset, std::uint64_t count, std::size_t elementSize) const;

    std::uint8_t U8(std::size_t offset) const;
    std::uint16_t U16(std::size_t offset) const;
    std::int16_t I16(std::size_t offset) const { return static_cast<std::int16_t>(U16(offset)); }
    std::uint32_t U32(std::size_t offset) const;
    std::int32_t I32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
    float F32(std::size_t offset) const;
    std::span<const std::uint8_t> Bytes(std::size_t offset, std::size_t count) const;
    std::span<const std::uint8_t> All() const { return bytes_; }

  private:
    std::span<const std::uint8_t> bytes_;
};

// Enhanced-metafile record types (the ones this program reads or writes).
namespace emr {
inline constexpr std::uint32_t kHeader = 1;
inline constexpr std::uint32_t kPolyBezier = 2;
inline constexpr std::uint32_t kPolygon = 3;
inline constexpr std::uint32_t kPolyline = 4;
inline constexpr std::uint32_t kPolyBezierTo = 5;
inline constexpr std::uint32_t kPolylineTo = 6;
inline constexpr std::uint32_t kPolyPolyline = 7;
inline constexpr std::uint32_t kPolyPolygon = 8;
inline constexpr std::uint32_t kSetWindowExtEx = 9;
inline constexpr std::uint32_t kSetWindowOrgEx = 10;
inline constexpr std::uint32_t kSetViewportExtEx = 11;
inline constexpr std::uint32_t kSetViewportOrgEx = 12;
inline constexpr std::uint32_t kSetBrushOrgEx = 13;
inline constexpr std::uint32_t kEof = 14;
inline constexpr std::uint32_t kSetPixelV = 15;
inline constexpr std::uint32_t kSetMapMode = 17;
inline constexpr std::uint32_t kSetBkMode = 18;
inline constexpr std::uint32_t kSetPolyFillMode = 19;
inline constexpr std::uint32_t kSetRop2 = 20;
inline constexpr std::uint32_t kSetStretchBltMode = 21;
inline constexpr std::uint32_t kSetTextAlign = 22;
inline constexpr std::uint32_t kSetTextColor = 24;
inline constexpr std::uint32_t kSetBkColor = 25;
inline constexpr std::uint32_t kOffsetClipRgn = 26;
inline constexpr std::uint32_t kMoveToEx = 27;
inline constexpr std::uint32_t kExcludeClipRect = 29;
inline constexpr std::uint32_t kIntersectClipRect = 30;
inline constexpr std::uint32_t kScaleViewportExtEx = 31;
inline constexpr std::uint32_t kScaleWindowExtEx = 32;
inline constexpr std::uint32_t kSaveDc = 33;
inline constexpr std::uint32_t kRestoreDc = 34;
inline constexpr std::uint32_t kSetWorldTransform = 35;
inline constexpr std::uint32_t kModifyWorldTransform = 36;
inline constexpr std::uint32_t kSelectObject = 37;
inline constexpr std::uint32_t kCreatePen = 38;
inline constexpr std::uint32_t kCreateBrushIndirect = 39;
inline constexpr std::uint32_t kDeleteObject = 40;
inline constexpr std::uint32_t kAngleArc = 41;
inline constexpr std::uint32_t kEllipse = 42;
inline constexpr std::uint32_t kRectangle = 43;
inline constexpr std::uint32_t kRoundRect = 44;
inline constexpr std::uint32_t kArc = 45;
inline constexpr std::uint32_t kChord = 46;
inline constexpr std::uint32_t kPie = 47;
inline constexpr std::uint32_t kCreatePalette = 49;
inline constexpr std::uint32_t kLineTo = 54;
inline constexpr std::uint32_t kArcTo = 55;
inline constexpr std::uint32_t kPolyDraw = 56;
inline constexpr std::uint32_t kSetArcDirection = 57;
inline constexpr std::uint32_t kSetMiterLimit = 58;
inline constexpr std::uint32_t kBeginPath = 59;
inline constexpr std::uint32_t kEndPath = 60;
inline constexpr std::uint32_t kCloseFigure = 61;
inline constexpr std::uint32_t kFillPath = 62;
inline constexpr std::uint32_t kStrokeAndFillPath = 63;
inline constexpr std::uint32_t kStrokePath = 64;
inline constexpr std::uint32_t kFlattenPath = 65;
inline constexpr std::uint32_t kWidenPath = 66;
inline constexpr std::uint32_t kSelectClipPath = 67;
inline constexpr std::uint32_t kAbortPath = 68;
inline constexpr std::uint32_t kComment = 70;
inline constexpr std::uint32_t kFillRgn = 71;
inline constexpr std::uint32_t kFrameRgn = 72;
inline constexpr std::uint32_t kInvertRgn = 73;
inline constexpr std::uint32_t kPaintRgn = 74;
inline constexpr std::uint32_t kExtSelectClipRgn = 75;
inline constexpr std::uint32_t kBitBlt = 76;
inline constexpr std::uint32_t kStretchBlt = 77;
inline constexpr std::uint32_t kSetDiBitsToDevice = 80;
inline constexpr std::uint32_t kStretchDiBits = 81;
inline constexpr std::uint32_t kExtCreateFontIndirectW = 82;
inline constexpr std::uint32_t kExtTextOutA = 83;
inline constexpr std::uint32_t kExtTextOutW = 84;
inline constexpr std::uint32_t kPolyBezier16 = 85;
inline constexpr std::uint32_t kPolygon16 = 86;
inline constexpr std::uint32_t kPolyline16 = 87;
inline constexpr std::uint32_t kPolyBezierTo16 = 88;
inline constexpr std::uint32_t kPolylineTo16 = 89;
inline constexpr std::uint32_t kPolyPolyline16 = 90;
inline constexpr std::uint32_t kPolyPolygon16 = 91;
inline constexpr std::uint32_t kPolyDraw16 = 92;
inline constexpr std::uint32_t kCreateMonoBrush = 93;
inline constexpr std::uint32_t kCreateDibPatternBrushPt = 94;
inline constexpr std::uint32_t kExtCreatePen = 95;
inline constexpr std::uint32_t kSmallTextOut = 108;
inline constexpr std::uint32_t kTransparentBlt = 116;
inline constexpr std::uint32_t kAlphaBlend = 114;
inline constexpr std::uint32_t kGradientFill = 118;
}  // namespace emr

// Windows-metafile record functions.
namespace meta {
inline constexpr std::uint16_t kEof = 0x0000;
inline constexpr std::uint16_t kSaveDc = 0x001E;
inline constexpr std::uint16_t kRestoreDc = 0x0127;
inline constexpr std::uint16_t kSetBkColor = 0x0201;
inline constexpr std::uint16_t kSetBkMode = 0x0102;
inline constexpr std::uint16_t kSetMapMode = 0x0103;
inline constexpr std::uint16_t kSetRop2 = 0x0104;
inline constexpr std::uint16_t kSetPolyFillMode = 0x0106;
inline constexpr std::uint16_t kSetStretchBltMode = 0x0107;
inline constexpr std::uint16_t kSetTextColor = 0x0209;
inline constexpr std::uint16_t kSetWindowOrg = 0x020B;
inline constexpr std::uint16_t kSetWindowExt = 0x020C;
inline constexpr std::uint16_t kSetViewportOrg = 0x020D;
inline constexpr std::uint16_t kSetViewportExt = 0x020E;
inline constexpr std::uint16_t kOffsetWindowOrg = 0x020F;
inline constexpr std::uint16_t kScaleWindowExt = 0x0410;
inline constexpr std::uint16_t kOffsetViewportOrg = 0x0211;
inline constexpr std::uint16_t kScaleViewportExt = 0x0412;
inline constexpr std::uint16_t kLineTo = 0x0213;
inline constexpr std::uint16_t kMoveTo = 0x0214;
inline constexpr std::uint16_t kExcludeClipRect = 0x0415;
inline constexpr std::uint16_t kIntersectClipRect = 0x0416;
inline constexpr std::uint16_t kArc = 0x0817;
inline constexpr std::uint16_t kEllipse = 0x0418;
inline constexpr std::uint16_t kPie = 0x081A;
inline constexpr std::uint16_t kRectangle = 0x041B;
inline constexpr std::uint16_t kRoundRect = 0x061C;
inline constexpr std::uint16_t kPatBlt = 0x061D;
inline constexpr std::uint16_t kSetPixel = 0x041F;
inline constexpr std::uint16_t kTextOut = 0x0521;
inline constexpr std::uint16_t kPolygon = 0x0324;
inline constexpr std::uint16_t kPolyline = 0x0325;
inline constexpr std::uint16_t kEscape = 0x0626;
inline constexpr std::uint16_t kSelectObject = 0x012D;
inline constexpr std::uint16_t kSetTextAlign = 0x012E;
inline constexpr std::uint16_t kChord = 0x0830;
inline constexpr std::uint16_t kExtTextOut = 0x0A32;
inline constexpr std::uint16_t kSetDibToDev = 0x0D33;
inline constexpr std::uint16_t kPolyPolygon = 0x0538;
inline constexpr std::uint16_t kDibBitBlt = 0x0940;
inline constexpr std::uint16_t kDibStretchBlt = 0x0B41;
inline constexpr std::uint16_t kDibCreatePatternBrush = 0x0142;
inline constexpr std::uint16_t kStretchDib = 0x0F43;
inline constexpr std::uint16_t kDeleteObject = 0x01F0;
inline constexpr std::uint16_t kCreatePalette = 0x00F7;
inline constexpr std::uint16_t kCreatePatternBrush = 0x01F9;
inline constexpr std::uint16_t kCreatePenIndirect = 0x02FA;
inline constexpr std::uint16_t kCreateFontIndirect = 0x02FB;
inline constexpr std::uint16_t kCreateBrushIndirect = 0x02FC;
inline constexpr std::uint16_t kCreateRegion = 0x06FF;
}  // namespace meta

inline constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
inline constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
inline constexpr std::uint32_t kEmfPlusComment = 0x2B464D45;         // "EMF+"
inline constexpr std::uint32_t kWmfEmbeddedEmfComment = 0x43464D57;  // "WMFC"
inline constexpr std::uint16_t kMfComment = 0x000F;
inline constexpr std::uint32_t kSrcCopy = 0x00CC0020;
inline constexpr std::uint32_t kDibRgbColors = 0;

// A rectangle as the files store it: left, top, right, bottom.
struct RectL {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct SizeL {
    std::int32_t cx = 0, cy = 0;
};

// The display this program records for and measures with: 96 pixels per inch, 1920 x 1440
// pixels, which is exactly 508 x 381 mm at that resolution (whole millimetres keep the
// pixel-to-frame conversions free of drift).
inline constexpr int kScreenPixelsPerInch = 96;
inline constexpr SizeL kScreenPixels{1920, 1440};
inline constexpr SizeL kScreenMillimetres{508, 381};

// The fields of an enhanced-metafile header that playback needs.
struct EmfHeader {
    std::uint32_t headerSize = 0;
    RectL bounds;  // device units, inclusive
    RectL frame;   // 0.01 mm
    std::uint32_t totalBytes = 0;
    std::uint32_t handleCount = 0;
    SizeL devicePixels;
    SizeL deviceMillimetres;
    SizeL deviceMicrometres;  // 0 when the header is older than this field
};

// The 22-byte header in front of a placeable Windows metafile.
struct PlaceableHeader {
    std::int16_t left = 0, top = 0, right = 0, bottom = 0;
    std::uint16_t unitsPerInch = 0;
    std::uint16_t checksum = 0;
};
inline constexpr std::size_t kPlaceableHeaderSize = 22;

// True for enhanced-metafile records that put something on the page (figures, paths filled
// or stroked, regions, bitmaps, text, gradients); false for state, objects and comments.
bool DrawsSomething(std::uint32_t type);

// True when the data starts with a record of type 1 that carries " EMF" at byte 40.
bool LooksLikeEmf(std::span<const std::uint8_t> data);
// Parses the header of data that LooksLikeEmf; nullopt when it does not fit the data.
std::optional<EmfHeader> ReadEmfHeader(std::span<const std::uint8_t> data);

// Exclusive-or of the ten 16-bit words in front of the checksum.
std::uint16_t PlaceableChecksum(std::span<const std::uint8_t> header);
// The placeable header when the key and the checksum are right, else nullopt.
std::optional<PlaceableHeader> ReadPlaceableHeader(std::span<const std::uint8_t> data);

// a * b / c rounded to the nearest integer (halves away from zero), in 64 bits with a
// 128-bit product; nullopt when c is 0 or the result does not fit 64 bits.
std::optional<std::int64_t> MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c);

}  // namespace ozm::metafile
