#include "core/formats/metafile/EmfPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "core/formats/metafile/MetafileImage.h"
#include "core/formats/metafile/MetafileObjects.h"
#include "core/formats/metafile/RecordBitmaps.h"
#include "core/text/CodePages.h"

namespace ozm::metafile {

namespace {

constexpr std::uint32_t kStockBit = 0x80000000u;
constexpr std::uint32_t kEtoNoRect = 0x100;
constexpr std::uint32_t kEtoSmallChars = 0x200;

class EmfPlayer {
  public:
    EmfPlayer(const EmfHeader& header, Canvas& canvas) : header_(header), canvas_(canvas) {}

    // Returns false at the end record.
    bool Record(std::uint32_t type, const RecordReader& r);

  private:
    RectD Rect(const RecordReader& r, std::size_t at) const {
        return {double(r.I32(at)), double(r.I32(at + 4)), double(r.I32(at + 8)),
                double(r.I32(at + 12))};
    }
    PointD Point(const RecordReader& r, std::size_t at) const {
        return {double(r.I32(at)), double(r.I32(at + 4))};
    }
    Affine Xform(const RecordReader& r, std::size_t at) const {
        return {r.F32(at),      r.F32(at + 4),  r.F32(at + 8),
                r.F32(at + 12), r.F32(at + 16), r.F32(at + 20)};
    }
    std::vector<PointD> Points(const RecordReader& r, std::size_t at, std::uint64_t count,
                               bool small) const;
    std::vector<RectD> Region(const RecordReader& r, std::size_t at, std::uint32_t size) const;
    std::shared_ptr<const MetafileImage> Dib(const RecordReader& r, std::size_t offInfoAt,
                                             bool useAlpha) const;

    void CheckSlot(std::uint32_t index) const {
        if (index == 0 || index >= header_.handleCount) {
            throw RecordError("object index out of range");
        }
    }
    void Store(std::uint32_t index, GdiObject object) {
        CheckSlot(index);
        objects_[index] = std::move(object);
    }
    const GdiObject* Find(std::uint32_t index) const {
        auto it = objects_.find(index);
        return it == objects_.end() ? nullptr : &it->second;
    }

    // The records by group; each returns false for a type that is not of its group.
    bool StateRecord(std::uint32_t type, const RecordReader& r);
    bool ObjectRecord(std::uint32_t type, const RecordReader& r);
    bool FigureRecord(std::uint32_t type, const RecordReader& r);
    bool PictureRecord(std::uint32_t type, const RecordReader& r);

    // The brush a region record names; nullopt when its slot holds none.
    std::optional<Brush> RegionBrush(std::uint32_t index) const;

    void SetMiterLimit(const RecordReader& r);
    void ExtSelectClipRgn(const RecordReader& r);
    void CreatePen(const RecordReader& r);
    void CreateDibPatternBrush(const RecordReader& r);
    void CreateFont(const RecordReader& r);
    void SelectObject(const RecordReader& r);
    void DeleteObject(const RecordReader& r);
    void Poly(std::uint32_t type, const RecordReader& r, bool small);
    void PolyPoly(std::uint32_t type, const RecordReader& r, bool small);
    void PolyDraw(const RecordReader& r, bool small);
    void FillRgn(const RecordReader& r);
    void FrameRgn(const RecordReader& r);
    void ExtTextOut(const RecordReader& r, bool wide);
    void SmallTextOut(const RecordReader& r);
    void BitBltRecord(const RecordReader& r, bool stretch);
    void StretchDiBits(const RecordReader& r);
    void SetDiBitsToDevice(const RecordReader& r);
    void AlphaBlendRecord(const RecordReader& r);
    void TransparentBlt(const RecordReader& r);
    void GradientFill(const RecordReader& r);
    Pen ExtPen(const RecordReader& r);

    const EmfHeader& header_;
    Canvas& canvas_;
    std::unordered_map<std::uint32_t, GdiObject> objects_;
};

std::vector<PointD> EmfPlayer::Points(const RecordReader& r, std::size_t at, std::uint64_t count,
                                      bool small) const {
    const std::size_t size = small ? 4 : 8;
    r.NeedArray(at, count, size);
    std::vector<PointD> points;
    points.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t p = at + static_cast<std::size_t>(i) * size;
        if (small) {
            points.push_back({double(r.I16(p)), double(r.I16(p + 2))});
        } else {
            points.push_back({double(r.I32(p)), double(r.I32(p + 4))});
        }
    }
    return points;
}

// RGNDATA: a 32-byte header (size, type, count, byte size, bounds), then the rectangles.
std::vector<RectD> EmfPlayer::Region(const RecordReader& r, std::size_t at,
                                     std::uint32_t size) const {
    r.Need(at, size);
    if (size < 32) throw RecordError("region header outside the record");
    const std::uint32_t count = r.U32(at + 8);
    if (count > (size - 32) / 16) throw RecordError("region count beyond its data");
    std::vector<RectD> rects;
    rects.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i)
        rects.push_back(Rect(r, at + 32 + 16 * std::size_t{i}));
    return rects;
}

// Reads the four offset/size fields (info offset, info size, bits offset, bits size) that
// start at `offInfoAt` and decodes the DIB. Null when the image cannot be drawn; throws when
// the fields point outside the record or the DIB claims more than it carries.
std::shared_ptr<const MetafileImage> EmfPlayer::Dib(const RecordReader& r, std::size_t offInfoAt,
                                                    bool useAlpha) const {
    const std::uint32_t offInfo = r.U32(offInfoAt);
    const std::uint32_t infoSize = r.U32(offInfoAt + 4);
    const std::uint32_t offBits = r.U32(offInfoAt + 8);
    const std::uint32_t bitsSize = r.U32(offInfoAt + 12);
    const auto info = r.Bytes(offInfo, infoSize);
    const auto bits = r.Bytes(offBits, bitsSize);
    return DecodeRecordDib(canvas_, info, bits, useAlpha);
}

void EmfPlayer::Poly(std::uint32_t type, const RecordReader& r, bool small) {
    const std::uint32_t count = r.U32(24);
    const auto points = Points(r, 28, count, small);
    switch (type) {
        case emr::kPolygon:
        case emr::kPolygon16:
            canvas_.Polygon(points);
            break;
        case emr::kPolyline:
        case emr::kPolyline16:
            canvas_.Polyline(points);
            break;
        case emr::kPolyBezier:
        case emr::kPolyBezier16:
            canvas_.PolyBezier(points);
            break;
        case emr::kPolyBezierTo:
        case emr::kPolyBezierTo16:
            canvas_.PolyBezierTo(points);
            break;
        case emr::kPolylineTo:
        case emr::kPolylineTo16:
            canvas_.PolylineTo(points);
            break;
        default:
            break;
    }
}

void EmfPlayer::PolyPoly(std::uint32_t type, const RecordReader& r, bool small) {
    const std::uint32_t polys = r.U32(24);
    const std::uint32_t total = r.U32(28);
    r.NeedArray(32, polys, 4);
    std::vector<std::uint32_t> counts(polys);
    std::uint64_t sum = 0;
    for (std::uint32_t i = 0; i < polys; ++i) {
        counts[i] = r.U32(32 + 4 * std::size_t{i});
        sum += counts[i];
    }
    if (sum != total) throw RecordError("polygon counts do not add up");
    const auto points = Points(r, 32 + 4 * std::size_t{polys}, total, small);
    if (type == emr::kPolyPolygon || type == emr::kPolyPolygon16) {
        canvas_.PolyPolygon(points, counts);
    } else {
        canvas_.PolyPolyline(points, counts);
    }
}

void EmfPlayer::PolyDraw(const RecordReader& r, bool small) {
    const std::uint32_t count = r.U32(24);
    const auto points = Points(r, 28, count, small);
    const std::size_t typesAt = 28 + std::size_t{count} * (small ? 4 : 8);
    const auto types = r.Bytes(typesAt, count);
    canvas_.PolyDraw(points, types);
}

Pen EmfPlayer::ExtPen(const RecordReader& r) {
    Pen pen;
    pen.style = r.U32(28);
    const std::uint32_t width = r.U32(32);
    const std::uint32_t brushStyle = r.U32(36);
    pen.colour = Colour::FromRef(r.U32(40));
    const std::uint32_t entries = r.U32(48);
    pen.cosmetic = !(pen.style & gdi::kPsGeometric);
    pen.width = pen.cosmetic ? 0 : width;
    if (brushStyle == gdi::kBsNull) pen.style = (pen.style & ~gdi::kPsStyleMask) | gdi::kPsNull;
    if ((pen.style & gdi::kPsStyleMask) == gdi::kPsUserStyle) {
        r.NeedArray(52, entries, 4);
        // Sixteen entries is the most the graphics device takes.
        for (std::uint32_t i = 0; i < entries && i < 16; ++i) {
            pen.userDashes.push_back(r.U32(52 + 4 * std::size_t{i}));
        }
        if (pen.userDashes.empty()) pen.style &= ~gdi::kPsStyleMask;
    }
    return pen;
}

void EmfPlayer::ExtTextOut(const RecordReader& r, bool wide) {
    TextRun run;
    run.reference = Point(r, 36);
    const std::uint32_t chars = r.U32(44);
    const std::uint32_t offString = r.U32(48);
    run.options = r.U32(52);
    std::uint32_t offDx;
    if (run.options & kEtoNoRect) {
        offDx = r.U32(56);
    } else {
        const RectD rect = Rect(r, 56);
        if (rect.right > rect.left && rect.bottom > rect.top) run.rect = rect;
        offDx = r.U32(72);
    }
    r.NeedArray(offString, chars, wide ? 2 : 1);
    std::vector<double> dx;
    const bool pairs = run.options & gdi::kEtoPdy;
    if (offDx != 0 && chars > 0) {
        r.NeedArray(offDx, std::uint64_t{chars} * (pairs ? 2 : 1), 4);
        for (std::uint32_t i = 0; i < chars; ++i) {
            dx.push_back(r.I32(offDx + (pairs ? 8 : 4) * std::size_t{i}));
        }
    }
    if (wide) {
        std::vector<std::uint16_t> units(chars);
        for (std::uint32_t i = 0; i < chars; ++i) units[i] = r.U16(offString + 2 * std::size_t{i});
        AddUtf16(run, units, dx);
    } else {
        AddAnsi(run, r.Bytes(offString, chars), canvas_.State().font.charSet, dx);
    }
    canvas_.Text(run);
}

void EmfPlayer::SmallTextOut(const RecordReader& r) {
    TextRun run;
    run.reference = Point(r, 8);
    const std::uint32_t chars = r.U32(16);
    run.options = r.U32(20);
    std::size_t at = 36;
    if (!(run.options & kEtoNoRect)) {
        const RectD rect = Rect(r, 36);
        if (rect.right > rect.left && rect.bottom > rect.top) run.rect = rect;
        at += 16;
    }
    const bool small = run.options & kEtoSmallChars;
    r.NeedArray(at, chars, small ? 1 : 2);
    if (small) {
        AddAnsi(run, r.Bytes(at, chars), canvas_.State().font.charSet, {});
    } else {
        std::vector<std::uint16_t> units(chars);
        for (std::uint32_t i = 0; i < chars; ++i) units[i] = r.U16(at + 2 * std::size_t{i});
        AddUtf16(run, units, {});
    }
    canvas_.Text(run);
}

void EmfPlayer::BitBltRecord(const RecordReader& r, bool stretch) {
    const double x = r.I32(24), y = r.I32(28), cx = r.I32(32), cy = r.I32(36);
    const std::uint32_t rop = r.U32(40);
    const double xSrc = r.I32(44), ySrc = r.I32(48);
    const std::uint32_t infoSize = r.U32(88);
    const RectD dest{x, y, x + cx, y + cy};
    if (infoSize == 0) {
        canvas_.Blit(nullptr, RectD{}, dest, rop);
        return;
    }
    const auto image = Dib(r, 84, false);
    if (!image) return;
    double cxSrc = cx, cySrc = cy;
    if (stretch) {
        cxSrc = r.I32(100);
        cySrc = r.I32(104);
    }
    // The source's own world transform places the source rectangle in its bitmap.
    const Affine srcXform = Xform(r, 52);
    PointD s0{xSrc, ySrc}, s1{xSrc + cxSrc, ySrc + cySrc};
    if (srcXform.IsFinite() && srcXform.Determinant() != 0) {
        s0 = srcXform.Apply(s0);
        s1 = srcXform.Apply(s1);
    }
    canvas_.Blit(image.get(), RectD{s0.x, s0.y, s1.x, s1.y}, dest, rop);
}

void EmfPlayer::StretchDiBits(const RecordReader& r) {
    const double x = r.I32(24), y = r.I32(28);
    const double xSrc = r.I32(32), ySrc = r.I32(36), cxSrc = r.I32(40), cySrc = r.I32(44);
    const std::uint32_t usage = r.U32(64);
    const std::uint32_t rop = r.U32(68);
    const double cx = r.I32(72), cy = r.I32(76);
    const RectD dest{x, y, x + cx, y + cy};
    if (r.U32(52) == 0) {
        canvas_.Blit(nullptr, RectD{}, dest, rop);
        return;
    }
    if (usage != kDibRgbColors) return;
    const auto image = Dib(r, 48, false);
    if (!image) return;
    // Source rows of a bottom-up DIB are counted from its lower edge.
    const double top = image->BottomUp() ? image->Height() - ySrc - cySrc : ySrc;
    canvas_.Blit(image.get(), RectD{xSrc, top, xSrc + cxSrc, top + cySrc}, dest, rop);
}

void EmfPlayer::SetDiBitsToDevice(const RecordReader& r) {
    const double x = r.I32(24), y = r.I32(28);
    const double xSrc = r.I32(32), ySrc = r.I32(36), cxSrc = r.I32(40), cySrc = r.I32(44);
    const std::uint32_t usage = r.U32(64);
    const std::uint32_t startScan = r.U32(68);
    const std::uint32_t scans = r.U32(72);
    if (usage != kDibRgbColors || r.U32(52) == 0 || scans == 0) return;
    const auto info = r.Bytes(r.U32(48), r.U32(52));
    const auto bits = r.Bytes(r.U32(56), r.U32(60));
    DrawDibScanLines(canvas_, info, bits, startScan, scans, {xSrc, ySrc}, {cxSrc, cySrc}, {x, y});
}

void EmfPlayer::AlphaBlendRecord(const RecordReader& r) {
    const double x = r.I32(24), y = r.I32(28), cx = r.I32(32), cy = r.I32(36);
    BlendFunction blend;
    blend.constantAlpha = r.U8(42);
    blend.perPixelAlpha = r.U8(43) & 1;
    const double xSrc = r.I32(44), ySrc = r.I32(48);
    if (r.U32(88) == 0) return;
    const auto image = Dib(r, 84, blend.perPixelAlpha);
    if (!image) return;
    const double cxSrc = r.I32(100), cySrc = r.I32(104);
    canvas_.AlphaBlend(*image, RectD{xSrc, ySrc, xSrc + cxSrc, ySrc + cySrc},
                       RectD{x, y, x + cx, y + cy}, blend);
}

void EmfPlayer::TransparentBlt(const RecordReader& r) {
    const double x = r.I32(24), y = r.I32(28), cx = r.I32(32), cy = r.I32(36);
    const std::uint32_t key = r.U32(40);
    const double xSrc = r.I32(44), ySrc = r.I32(48);
    if (r.U32(88) == 0) return;
    const auto image = Dib(r, 84, false);
    if (!image) return;
    const double cxSrc = r.I32(100), cySrc = r.I32(104);
    const Colour c = Colour::FromRef(key);
    const auto keyed =
        image->WithTransparentColour((std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b);
    if (!keyed) return;
    canvas_.AlphaBlend(*keyed, RectD{xSrc, ySrc, xSrc + cxSrc, ySrc + cySrc},
                       RectD{x, y, x + cx, y + cy}, BlendFunction{255, true});
}

void EmfPlayer::GradientFill(const RecordReader& r) {
    const std::uint32_t vertices = r.U32(24);
    const std::uint32_t shapes = r.U32(28);
    const std::uint32_t mode = r.U32(32);
    r.NeedArray(36, vertices, 16);
    std::vector<Canvas::GradientVertex> v(vertices);
    for (std::uint32_t i = 0; i < vertices; ++i) {
        const std::size_t at = 36 + 16 * std::size_t{i};
        v[i].p = {double(r.I32(at)), double(r.I32(at + 4))};
        v[i].r = r.U16(at + 8) / 65535.0;
        v[i].g = r.U16(at + 10) / 65535.0;
        v[i].b = r.U16(at + 12) / 65535.0;
    }
    const std::size_t at = 36 + 16 * std::size_t{vertices};
    auto vertex = [&](std::uint32_t index) -> const Canvas::GradientVertex& {
        if (index >= vertices) throw RecordError("gradient vertex out of range");
        return v[index];
    };
    if (mode == 2) {
        r.NeedArray(at, shapes, 12);
        for (std::uint32_t i = 0; i < shapes; ++i) {
            const std::size_t s = at + 12 * std::size_t{i};
            canvas_.GradientTriangle(vertex(r.U32(s)), vertex(r.U32(s + 4)), vertex(r.U32(s + 8)));
        }
    } else if (mode == 0 || mode == 1) {
        r.NeedArray(at, shapes, 8);
        for (std::uint32_t i = 0; i < shapes; ++i) {
            const std::size_t s = at + 8 * std::size_t{i};
            canvas_.GradientRect(vertex(r.U32(s)), vertex(r.U32(s + 4)), mode == 1);
        }
    }
}

bool EmfPlayer::Record(std::uint32_t type, const RecordReader& r) {
    if (type == emr::kEof) return false;
    // Records of no group draw nothing here (the header, EMF+ and other comments among them)
    // and are skipped by their size.
    if (StateRecord(type, r) || ObjectRecord(type, r) || FigureRecord(type, r)) return true;
    PictureRecord(type, r);
    return true;
}

// The device context's modes, colours and mapping, its stack and current position.
bool EmfPlayer::StateRecord(std::uint32_t type, const RecordReader& r) {
    DcState& s = canvas_.State();
    switch (type) {
        case emr::kSaveDc:
            canvas_.SaveDc();
            return true;
        case emr::kRestoreDc:
            canvas_.RestoreDc(r.I32(8));
            return true;
        case emr::kSetMapMode:
            canvas_.SetMapMode(static_cast<int>(r.U32(8)));
            return true;
        case emr::kSetWindowExtEx:
            canvas_.SetWindowExt(Point(r, 8));
            return true;
        case emr::kSetWindowOrgEx:
            canvas_.SetWindowOrg(Point(r, 8));
            return true;
        case emr::kSetViewportExtEx:
            canvas_.SetViewportExt(Point(r, 8));
            return true;
        case emr::kSetViewportOrgEx:
            canvas_.SetViewportOrg(Point(r, 8));
            return true;
        case emr::kScaleViewportExtEx:
            canvas_.ScaleViewportExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20));
            return true;
        case emr::kScaleWindowExtEx:
            canvas_.ScaleWindowExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20));
            return true;
        case emr::kSetBrushOrgEx:
            s.brushOrigin = Point(r, 8);
            return true;
        case emr::kSetWorldTransform:
            canvas_.SetWorldTransform(Xform(r, 8));
            return true;
        case emr::kModifyWorldTransform:
            canvas_.ModifyWorldTransform(Xform(r, 8), static_cast<int>(r.U32(32)));
            return true;
        case emr::kSetBkMode:
            s.bkMode = static_cast<int>(r.U32(8));
            return true;
        case emr::kSetPolyFillMode:
            s.polyFillMode = static_cast<int>(r.U32(8));
            return true;
        case emr::kSetRop2:
            s.rop2 = static_cast<int>(r.U32(8));
            return true;
        case emr::kSetStretchBltMode:
            s.stretchMode = static_cast<int>(r.U32(8));
            return true;
        case emr::kSetTextAlign:
            s.textAlign = r.U32(8);
            return true;
        case emr::kSetTextColor:
            s.textColour = Colour::FromRef(r.U32(8));
            return true;
        case emr::kSetBkColor:
            s.bkColour = Colour::FromRef(r.U32(8));
            return true;
        case emr::kSetArcDirection:
            s.arcDirection = static_cast<int>(r.U32(8));
            return true;
        case emr::kSetMiterLimit:
            SetMiterLimit(r);
            return true;
        case emr::kMoveToEx:
            canvas_.MoveTo(Point(r, 8));
            return true;
        default:
            return false;
    }
}

// Graphics objects made, selected and deleted; the clipping records.
bool EmfPlayer::ObjectRecord(std::uint32_t type, const RecordReader& r) {
    switch (type) {
        case emr::kCreatePen:
            CreatePen(r);
            return true;
        case emr::kExtCreatePen:
            Store(r.U32(8), ExtPen(r));
            return true;
        case emr::kCreateBrushIndirect:
            Store(r.U32(8), LogBrush(r.U32(12), r.U32(16), r.U32(20)));
            return true;
        case emr::kCreateDibPatternBrushPt:
        case emr::kCreateMonoBrush:
            CreateDibPatternBrush(r);
            return true;
        case emr::kExtCreateFontIndirectW:
            CreateFont(r);
            return true;
        case emr::kCreatePalette:  // a palette only holds its slot
            Store(r.U32(8), PlaceholderObject{});
            return true;
        case emr::kSelectObject:
            SelectObject(r);
            return true;
        case emr::kDeleteObject:
            DeleteObject(r);
            return true;
        case emr::kExcludeClipRect:
            canvas_.ExcludeClipRect(Rect(r, 8));
            return true;
        case emr::kIntersectClipRect:
            canvas_.IntersectClipRect(Rect(r, 8));
            return true;
        case emr::kOffsetClipRgn:
            canvas_.OffsetClip(Point(r, 8));
            return true;
        case emr::kSelectClipPath:
            canvas_.SelectClipPath(static_cast<int>(r.U32(8)));
            return true;
        case emr::kExtSelectClipRgn:
            ExtSelectClipRgn(r);
            return true;
        default:
            return false;
    }
}

// Lines, curves, closed figures and the path bracket.
bool EmfPlayer::FigureRecord(std::uint32_t type, const RecordReader& r) {
    switch (type) {
        case emr::kLineTo:
            canvas_.LineTo(Point(r, 8));
            return true;
        case emr::kPolygon:
        case emr::kPolyline:
        case emr::kPolyBezier:
        case emr::kPolyBezierTo:
        case emr::kPolylineTo:
            Poly(type, r, false);
            return true;
        case emr::kPolygon16:
        case emr::kPolyline16:
        case emr::kPolyBezier16:
        case emr::kPolyBezierTo16:
        case emr::kPolylineTo16:
            Poly(type, r, true);
            return true;
        case emr::kPolyPolygon:
        case emr::kPolyPolyline:
            PolyPoly(type, r, false);
            return true;
        case emr::kPolyPolygon16:
        case emr::kPolyPolyline16:
            PolyPoly(type, r, true);
            return true;
        case emr::kPolyDraw:
        case emr::kPolyDraw16:
            PolyDraw(r, type == emr::kPolyDraw16);
            return true;
        case emr::kRectangle:
            canvas_.Rectangle(Rect(r, 8));
            return true;
        case emr::kEllipse:
            canvas_.Ellipse(Rect(r, 8));
            return true;
        case emr::kRoundRect:
            canvas_.RoundRect(Rect(r, 8), r.I32(24), r.I32(28));
            return true;
        case emr::kArc:
            canvas_.ArcShape(ArcKind::Arc, Rect(r, 8), Point(r, 24), Point(r, 32));
            return true;
        case emr::kChord:
            canvas_.ArcShape(ArcKind::Chord, Rect(r, 8), Point(r, 24), Point(r, 32));
            return true;
        case emr::kPie:
            canvas_.ArcShape(ArcKind::Pie, Rect(r, 8), Point(r, 24), Point(r, 32));
            return true;
        case emr::kArcTo:
            canvas_.ArcShape(ArcKind::ArcTo, Rect(r, 8), Point(r, 24), Point(r, 32));
            return true;
        case emr::kAngleArc:
            canvas_.AngleArc(Point(r, 8), r.U32(16), r.F32(20), r.F32(24));
            return true;
        case emr::kSetPixelV:
            canvas_.SetPixel(Point(r, 8), Colour::FromRef(r.U32(16)));
            return true;
        case emr::kBeginPath:
            canvas_.BeginPath();
            return true;
        case emr::kEndPath:
            canvas_.EndPath();
            return true;
        case emr::kAbortPath:
            canvas_.AbortPath();
            return true;
        case emr::kCloseFigure:
            canvas_.CloseFigure();
            return true;
        case emr::kFillPath:
            canvas_.FillPath();
            return true;
        case emr::kStrokePath:
            canvas_.StrokePath();
            return true;
        case emr::kStrokeAndFillPath:
            canvas_.StrokeAndFillPath();
            return true;
        default:
            return false;
    }
}

// Regions, text, bitmaps and gradients.
bool EmfPlayer::PictureRecord(std::uint32_t type, const RecordReader& r) {
    switch (type) {
        case emr::kFillRgn:
            FillRgn(r);
            return true;
        case emr::kFrameRgn:
            FrameRgn(r);
            return true;
        case emr::kPaintRgn:
            canvas_.FillRegion(Region(r, 28, r.U32(24)), canvas_.State().brush);
            return true;
        case emr::kInvertRgn:
            canvas_.InvertRegion(Region(r, 28, r.U32(24)));
            return true;
        case emr::kExtTextOutW:
        case emr::kExtTextOutA:
            ExtTextOut(r, type == emr::kExtTextOutW);
            return true;
        case emr::kSmallTextOut:
            SmallTextOut(r);
            return true;
        case emr::kBitBlt:
        case emr::kStretchBlt:
            BitBltRecord(r, type == emr::kStretchBlt);
            return true;
        case emr::kStretchDiBits:
            StretchDiBits(r);
            return true;
        case emr::kSetDiBitsToDevice:
            SetDiBitsToDevice(r);
            return true;
        case emr::kAlphaBlend:
            AlphaBlendRecord(r);
            return true;
        case emr::kTransparentBlt:
            TransparentBlt(r);
            return true;
        case emr::kGradientFill:
            GradientFill(r);
            return true;
        default:
            return false;
    }
}

// Written as a whole number by some producers and as a float by others.
void EmfPlayer::SetMiterLimit(const RecordReader& r) {
    const std::uint32_t raw = r.U32(8);
    const double limit = raw < 0x10000 ? double(raw) : double(r.F32(8));
    if (std::isfinite(limit) && limit >= 1 && limit < 1000) canvas_.State().miterLimit = limit;
}

void EmfPlayer::ExtSelectClipRgn(const RecordReader& r) {
    const std::uint32_t size = r.U32(8);
    const int mode = static_cast<int>(r.U32(12));
    if (size == 0) {
        canvas_.SelectClipRegion({}, mode);
    } else {
        canvas_.SelectClipRegion(Region(r, 16, size), mode);
    }
}

void EmfPlayer::CreatePen(const RecordReader& r) {
    const std::uint32_t style =
        r.U32(12) & (gdi::kPsStyleMask | gdi::kPsEndcapMask | gdi::kPsJoinMask);
    Store(r.U32(8), LogPen(style, r.I32(16), r.U32(24)));
}

void EmfPlayer::CreateDibPatternBrush(const RecordReader& r) {
    const std::uint32_t index = r.U32(8);
    CheckSlot(index);
    std::shared_ptr<const MetafileImage> pattern;
    if (r.U32(12) == kDibRgbColors) pattern = Dib(r, 16, false);
    Store(index, DibPatternBrush(std::move(pattern)));
}

void EmfPlayer::CreateFont(const RecordReader& r) {
    Font font = LogFontFields(r, 12, 4);
    std::vector<std::uint16_t> name;
    for (std::size_t i = 0; i < 32 && r.Has(40 + 2 * i, 2); ++i) {
        const std::uint16_t c = r.U16(40 + 2 * i);
        if (c == 0) break;
        name.push_back(c);
    }
    font.face = Utf16ToUtf8(name);
    Store(r.U32(8), font);
}

void EmfPlayer::SelectObject(const RecordReader& r) {
    const std::uint32_t index = r.U32(8);
    if (index & kStockBit) {
        if (auto stock = StockObject(index & ~kStockBit)) SelectInto(canvas_.State(), *stock);
    } else {
        CheckSlot(index);
        if (const GdiObject* object = Find(index)) SelectInto(canvas_.State(), *object);
    }
}

void EmfPlayer::DeleteObject(const RecordReader& r) {
    const std::uint32_t index = r.U32(8);
    if (!(index & kStockBit)) {
        CheckSlot(index);
        objects_.erase(index);
    }
}

// A stock number naming no brush keeps the selected one.
std::optional<Brush> EmfPlayer::RegionBrush(std::uint32_t index) const {
    if (index & kStockBit) {
        const auto stock = StockObject(index & ~kStockBit);
        const Brush* brush = stock ? std::get_if<Brush>(&*stock) : nullptr;
        return brush ? *brush : canvas_.State().brush;
    }
    CheckSlot(index);
    const GdiObject* object = Find(index);
    if (!object || !std::holds_alternative<Brush>(*object)) return std::nullopt;
    return std::get<Brush>(*object);
}

void EmfPlayer::FillRgn(const RecordReader& r) {
    const std::uint32_t size = r.U32(24);
    const std::uint32_t index = r.U32(28);
    const auto rects = Region(r, 32, size);
    if (const auto brush = RegionBrush(index)) canvas_.FillRegion(rects, *brush);
}

void EmfPlayer::FrameRgn(const RecordReader& r) {
    const std::uint32_t size = r.U32(24);
    const std::uint32_t index = r.U32(28);
    const double w = r.I32(32), h = r.I32(36);
    const auto rects = Region(r, 40, size);
    if (const auto brush = RegionBrush(index)) canvas_.FrameRegion(rects, *brush, w, h);
}

}  // namespace

void PlayEmf(std::span<const std::uint8_t> data, const EmfHeader& header, Canvas& canvas) {
    EmfPlayer player(header, canvas);
    std::size_t offset = header.headerSize;
    while (true) {
        if (data.size() - offset < 8) throw RecordError("metafile ends without its end record");
        const RecordReader head(data.subspan(offset, 8));
        const std::uint32_t type = head.U32(0);
        const std::uint32_t size = head.U32(4);
        if (size < 8 || size > data.size() - offset) throw RecordError("record size out of range");
        const RecordReader record(data.subspan(offset, size));
        canvas.Charge(kCostRecord);
        if (!player.Record(type, record)) return;
        if (!canvas.Healthy()) throw RecordError("drawing failed");
        offset += size;
    }
}

}  // namespace ozm::metafile
