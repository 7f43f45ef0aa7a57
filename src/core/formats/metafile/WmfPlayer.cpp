#include "core/formats/metafile/WmfPlayer.h"

#include <set>
#include <vector>

#include "core/formats/metafile/MetafileImage.h"
#include "core/formats/metafile/MetafileObjects.h"
#include "core/formats/metafile/MetafileRecords.h"
#include "core/formats/metafile/RecordBitmaps.h"
#include "core/text/CodePages.h"

namespace ozm::metafile {

namespace {

constexpr std::size_t kWmfHeaderSize = 18;

struct WmfHeader {
    std::uint16_t objectCount = 0;
};

WmfHeader ReadWmfHeader(std::span<const std::uint8_t> wmf) {
    const RecordReader r(wmf);
    if (!r.Has(0, kWmfHeaderSize)) throw RecordError("metafile header missing");
    const std::uint16_t type = r.U16(0);
    if ((type != 1 && type != 2) || r.U16(2) != 9) throw RecordError("not a metafile header");
    return WmfHeader{r.U16(10)};
}

// Walks the records after the header; `visit` returns false to stop. Throws at a record
// whose size does not fit and when the data ends without an end record.
template <class Visit>
void ForEachRecord(std::span<const std::uint8_t> wmf, Visit&& visit) {
    std::size_t offset = kWmfHeaderSize;
    while (true) {
        if (wmf.size() - offset < 6) throw RecordError("metafile ends without its end record");
        const RecordReader head(wmf.subspan(offset, 6));
        const std::uint64_t bytes = std::uint64_t{head.U32(0)} * 2;
        const std::uint16_t function = head.U16(4);
        if (bytes < 6 || bytes > wmf.size() - offset) throw RecordError("record size out of range");
        const RecordReader record(wmf.subspan(offset, static_cast<std::size_t>(bytes)));
        if (function == meta::kEof || !visit(function, record)) return;
        offset += static_cast<std::size_t>(bytes);
    }
}

class WmfPlayer {
  public:
    WmfPlayer(const WmfHeader& header, Canvas& canvas)
        : canvas_(canvas), slots_(header.objectCount) {}

    void Record(std::uint16_t function, const RecordReader& r);

  private:
    PointD Point(const RecordReader& r, std::size_t at) const {
        // Points in parameter lists are stored y first.
        return {double(r.I16(at + 2)), double(r.I16(at))};
    }
    // Rectangle stored as bottom, right, top, left.
    RectD ReversedRect(const RecordReader& r, std::size_t at) const {
        return {double(r.I16(at + 6)), double(r.I16(at + 4)), double(r.I16(at + 2)),
                double(r.I16(at))};
    }
    std::vector<PointD> Points(const RecordReader& r, std::size_t at, std::uint64_t count) const {
        r.NeedArray(at, count, 4);
        std::vector<PointD> points;
        points.reserve(static_cast<std::size_t>(count));
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::size_t p = at + static_cast<std::size_t>(i) * 4;
            points.push_back({double(r.I16(p)), double(r.I16(p + 2))});
        }
        return points;
    }

    // Objects take the lowest free slot of the table the header sized.
    void Create(GdiObject object) {
        std::size_t slot;
        if (!freed_.empty() && *freed_.begin() < nextUnused_) {
            slot = *freed_.begin();
            freed_.erase(freed_.begin());
        } else {
            if (nextUnused_ >= slots_.size()) throw RecordError("object table full");
            slot = nextUnused_++;
        }
        slots_[slot] = std::move(object);
    }
    void CheckSlot(std::uint16_t index) const {
        if (index >= slots_.size()) throw RecordError("object index out of range");
    }

    std::shared_ptr<const MetafileImage> Dib(const RecordReader& r, std::size_t at,
                                             bool paletteIndexes) const;
    // The records by group; each returns false for a function that is not of its group.
    bool StateRecord(std::uint16_t function, const RecordReader& r);
    bool FigureRecord(std::uint16_t function, const RecordReader& r);
    bool PictureRecord(std::uint16_t function, const RecordReader& r);
    bool ObjectRecord(std::uint16_t function, const RecordReader& r);

    void Poly(std::uint16_t function, const RecordReader& r);
    void PolyPolygon(const RecordReader& r);
    void TextOut(const RecordReader& r);
    void ExtTextOut(const RecordReader& r);
    void PatBlt(const RecordReader& r);
    void StretchDib(const RecordReader& r);
    void DibBlit(std::uint16_t function, const RecordReader& r);
    void SetDibToDev(const RecordReader& r);
    void CreateFont(const RecordReader& r);
    void SelectObject(const RecordReader& r);
    void DeleteObject(const RecordReader& r);

    Canvas& canvas_;
    std::vector<std::optional<GdiObject>> slots_;
    std::set<std::size_t> freed_;
    std::size_t nextUnused_ = 0;
};

std::shared_ptr<const MetafileImage> WmfPlayer::Dib(const RecordReader& r, std::size_t at,
                                                    bool paletteIndexes) const {
    r.Need(at, 0);
    const auto parts = SplitPackedDib(r.All().subspan(at), paletteIndexes);
    if (!parts) throw RecordError("bitmap header outside the record");
    if (paletteIndexes) return nullptr;
    return DecodeRecordDib(canvas_, parts->info, parts->bits);
}

void WmfPlayer::TextOut(const RecordReader& r) {
    const std::uint16_t length = r.U16(6);
    const std::size_t padded = (std::size_t{length} + 1) & ~std::size_t{1};
    TextRun run;
    AddAnsi(run, r.Bytes(8, length), canvas_.State().font.charSet, {});
    run.reference = {double(r.I16(8 + padded + 2)), double(r.I16(8 + padded))};
    canvas_.Text(run);
}

void WmfPlayer::ExtTextOut(const RecordReader& r) {
    TextRun run;
    run.reference = Point(r, 6);
    const std::int16_t length = r.I16(10);
    if (length < 0) throw RecordError("negative text length");
    run.options = r.U16(12);
    std::size_t at = 14;
    if (run.options & (gdi::kEtoOpaque | gdi::kEtoClipped)) {
        const RectD rect{double(r.I16(14)), double(r.I16(16)), double(r.I16(18)),
                         double(r.I16(20))};
        if (rect.right > rect.left && rect.bottom > rect.top) run.rect = rect;
        at += 8;
    }
    const auto text = r.Bytes(at, static_cast<std::size_t>(length));
    at += (static_cast<std::size_t>(length) + 1) & ~std::size_t{1};
    std::vector<double> dx;
    if (r.Has(at, std::size_t{2} * length)) {
        for (std::int16_t i = 0; i < length; ++i) dx.push_back(r.I16(at + 2 * std::size_t(i)));
    }
    AddAnsi(run, text, canvas_.State().font.charSet, dx);
    canvas_.Text(run);
}

void WmfPlayer::DibBlit(std::uint16_t function, const RecordReader& r) {
    const std::uint32_t rop = r.U32(6);
    // Without a bitmap these records carry one more reserved word and no DIB.
    const bool noBitmap = r.Size() == (static_cast<std::size_t>(function >> 8) + 3) * 2;
    double srcH, srcW, ySrc, xSrc, h, w, y, x;
    std::size_t dibAt;
    if (function == meta::kDibStretchBlt) {
        srcH = r.I16(10);
        srcW = r.I16(12);
        ySrc = r.I16(14);
        xSrc = r.I16(16);
        const std::size_t d = noBitmap ? 20 : 18;
        h = r.I16(d);
        w = r.I16(d + 2);
        y = r.I16(d + 4);
        x = r.I16(d + 6);
        dibAt = 26;
    } else {
        ySrc = r.I16(10);
        xSrc = r.I16(12);
        const std::size_t d = noBitmap ? 16 : 14;
        h = r.I16(d);
        w = r.I16(d + 2);
        y = r.I16(d + 4);
        x = r.I16(d + 6);
        srcH = h;
        srcW = w;
        dibAt = 22;
    }
    const RectD dest{x, y, x + w, y + h};
    if (noBitmap) {
        canvas_.Blit(nullptr, RectD{}, dest, rop);
        return;
    }
    const auto image = Dib(r, dibAt, false);
    if (!image) return;
    canvas_.Blit(image.get(), RectD{xSrc, ySrc, xSrc + srcW, ySrc + srcH}, dest, rop);
}

void WmfPlayer::Record(std::uint16_t function, const RecordReader& r) {
    // Records of no group draw nothing here and are skipped by their size.
    if (StateRecord(function, r) || FigureRecord(function, r)) return;
    if (PictureRecord(function, r)) return;
    ObjectRecord(function, r);
}

// The device context's modes, colours and mapping, its stack, current position and clip.
bool WmfPlayer::StateRecord(std::uint16_t function, const RecordReader& r) {
    DcState& s = canvas_.State();
    switch (function) {
        case meta::kSaveDc:
            canvas_.SaveDc();
            return true;
        case meta::kRestoreDc:
            canvas_.RestoreDc(r.I16(6));
            return true;
        case meta::kSetBkColor:
            s.bkColour = Colour::FromRef(r.U32(6));
            return true;
        case meta::kSetBkMode:
            s.bkMode = r.U16(6);
            return true;
        case meta::kSetMapMode:
            canvas_.SetMapMode(r.U16(6));
            return true;
        case meta::kSetRop2:
            s.rop2 = r.U16(6);
            return true;
        case meta::kSetPolyFillMode:
            s.polyFillMode = r.U16(6);
            return true;
        case meta::kSetStretchBltMode:
            s.stretchMode = r.U16(6);
            return true;
        case meta::kSetTextColor:
            s.textColour = Colour::FromRef(r.U32(6));
            return true;
        case meta::kSetTextAlign:
            s.textAlign = r.U16(6);
            return true;
        case meta::kSetWindowOrg:
            canvas_.SetWindowOrg(Point(r, 6));
            return true;
        case meta::kSetWindowExt:
            canvas_.SetWindowExt(Point(r, 6));
            return true;
        case meta::kSetViewportOrg:
            canvas_.SetViewportOrg(Point(r, 6));
            return true;
        case meta::kSetViewportExt:
            canvas_.SetViewportExt(Point(r, 6));
            return true;
        case meta::kOffsetWindowOrg:
            canvas_.OffsetWindowOrg(Point(r, 6));
            return true;
        case meta::kOffsetViewportOrg:
            canvas_.OffsetViewportOrg(Point(r, 6));
            return true;
        case meta::kScaleWindowExt:
            canvas_.ScaleWindowExt(r.I16(12), r.I16(10), r.I16(8), r.I16(6));
            return true;
        case meta::kScaleViewportExt:
            canvas_.ScaleViewportExt(r.I16(12), r.I16(10), r.I16(8), r.I16(6));
            return true;
        case meta::kMoveTo:
            canvas_.MoveTo(Point(r, 6));
            return true;
        case meta::kExcludeClipRect:
            canvas_.ExcludeClipRect(ReversedRect(r, 6));
            return true;
        case meta::kIntersectClipRect:
            canvas_.IntersectClipRect(ReversedRect(r, 6));
            return true;
        default:
            return false;
    }
}

// Lines and closed figures.
bool WmfPlayer::FigureRecord(std::uint16_t function, const RecordReader& r) {
    switch (function) {
        case meta::kLineTo:
            canvas_.LineTo(Point(r, 6));
            return true;
        case meta::kArc:
            canvas_.ArcShape(ArcKind::Arc, ReversedRect(r, 14), Point(r, 10), Point(r, 6));
            return true;
        case meta::kPie:
            canvas_.ArcShape(ArcKind::Pie, ReversedRect(r, 14), Point(r, 10), Point(r, 6));
            return true;
        case meta::kChord:
            canvas_.ArcShape(ArcKind::Chord, ReversedRect(r, 14), Point(r, 10), Point(r, 6));
            return true;
        case meta::kEllipse:
            canvas_.Ellipse(ReversedRect(r, 6));
            return true;
        case meta::kRectangle:
            canvas_.Rectangle(ReversedRect(r, 6));
            return true;
        case meta::kRoundRect:
            canvas_.RoundRect(ReversedRect(r, 10), r.I16(8), r.I16(6));
            return true;
        case meta::kSetPixel:
            canvas_.SetPixel(Point(r, 10), Colour::FromRef(r.U32(6)));
            return true;
        case meta::kPolygon:
        case meta::kPolyline:
            Poly(function, r);
            return true;
        case meta::kPolyPolygon:
            PolyPolygon(r);
            return true;
        default:
            return false;
    }
}

// Text and bitmaps.
bool WmfPlayer::PictureRecord(std::uint16_t function, const RecordReader& r) {
    switch (function) {
        case meta::kTextOut:
            TextOut(r);
            return true;
        case meta::kExtTextOut:
            ExtTextOut(r);
            return true;
        case meta::kPatBlt:
            PatBlt(r);
            return true;
        case meta::kStretchDib:
            StretchDib(r);
            return true;
        case meta::kDibStretchBlt:
        case meta::kDibBitBlt:
            DibBlit(function, r);
            return true;
        case meta::kSetDibToDev:
            SetDibToDev(r);
            return true;
        default:
            return false;
    }
}

// Graphics objects made, selected and deleted.
bool WmfPlayer::ObjectRecord(std::uint16_t function, const RecordReader& r) {
    switch (function) {
        case meta::kCreatePenIndirect:
            Create(LogPen(r.U16(6), r.I16(8), r.U32(12)));
            return true;
        case meta::kCreateBrushIndirect:
            Create(LogBrush(r.U16(6), r.U32(8), r.U16(12)));
            return true;
        case meta::kCreateFontIndirect:
            CreateFont(r);
            return true;
        case meta::kDibCreatePatternBrush:
            Create(DibPatternBrush(Dib(r, 10, r.U16(8) != kDibRgbColors)));
            return true;
        case meta::kCreatePatternBrush:  // its bitmap is not read: mid grey stands in
            Create(SolidBrush({128, 128, 128}));
            return true;
        case meta::kCreatePalette:
        case meta::kCreateRegion:
            Create(PlaceholderObject{});
            return true;
        case meta::kSelectObject:
            SelectObject(r);
            return true;
        case meta::kDeleteObject:
            DeleteObject(r);
            return true;
        default:
            return false;
    }
}

void WmfPlayer::Poly(std::uint16_t function, const RecordReader& r) {
    const std::int16_t count = r.I16(6);
    if (count < 0) throw RecordError("negative point count");
    const auto points = Points(r, 8, static_cast<std::uint64_t>(count));
    if (function == meta::kPolygon) {
        canvas_.Polygon(points);
    } else {
        canvas_.Polyline(points);
    }
}

void WmfPlayer::PolyPolygon(const RecordReader& r) {
    const std::uint16_t polys = r.U16(6);
    r.NeedArray(8, polys, 2);
    std::vector<std::uint32_t> counts(polys);
    std::uint64_t total = 0;
    for (std::uint16_t i = 0; i < polys; ++i) {
        counts[i] = r.U16(8 + 2 * std::size_t{i});
        total += counts[i];
    }
    canvas_.PolyPolygon(Points(r, 8 + 2 * std::size_t{polys}, total), counts);
}

void WmfPlayer::PatBlt(const RecordReader& r) {
    const double h = r.I16(10), w = r.I16(12), y = r.I16(14), x = r.I16(16);
    canvas_.Blit(nullptr, RectD{}, RectD{x, y, x + w, y + h}, r.U32(6));
}

void WmfPlayer::StretchDib(const RecordReader& r) {
    const std::uint32_t rop = r.U32(6);
    const bool palIndexes = r.U16(10) != kDibRgbColors;
    const double srcH = r.I16(12), srcW = r.I16(14), ySrc = r.I16(16), xSrc = r.I16(18);
    const double h = r.I16(20), w = r.I16(22), y = r.I16(24), x = r.I16(26);
    const auto image = Dib(r, 28, palIndexes);
    if (!image) return;
    const double top = image->BottomUp() ? image->Height() - ySrc - srcH : ySrc;
    canvas_.Blit(image.get(), RectD{xSrc, top, xSrc + srcW, top + srcH}, RectD{x, y, x + w, y + h},
                 rop);
}

void WmfPlayer::SetDibToDev(const RecordReader& r) {
    const bool palIndexes = r.U16(6) != kDibRgbColors;
    const std::uint16_t scans = r.U16(8);
    const std::uint16_t startScan = r.U16(10);
    const double ySrc = r.I16(12), xSrc = r.I16(14);
    const double h = r.I16(16), w = r.I16(18), y = r.I16(20), x = r.I16(22);
    r.Need(24, 0);
    const auto parts = SplitPackedDib(r.All().subspan(24), palIndexes);
    if (!parts) throw RecordError("bitmap header outside the record");
    if (palIndexes || scans == 0) return;
    DrawDibScanLines(canvas_, parts->info, parts->bits, startScan, scans, {xSrc, ySrc}, {w, h},
                     {x, y});
}

void WmfPlayer::CreateFont(const RecordReader& r) {
    Font font = LogFontFields(r, 6, 2);
    std::vector<std::uint8_t> name;
    for (std::size_t i = 24; i < 24 + 32 && r.Has(i, 1); ++i) {
        if (r.U8(i) == 0) break;
        name.push_back(r.U8(i));
    }
    std::vector<std::uint16_t> units;
    for (const AnsiChar& c : DecodeAnsiText(name, font.charSet == 2 ? 0 : font.charSet)) {
        if (c.codePoint < 0x10000) units.push_back(static_cast<std::uint16_t>(c.codePoint));
    }
    font.face = Utf16ToUtf8(units);
    Create(font);
}

void WmfPlayer::SelectObject(const RecordReader& r) {
    const std::uint16_t index = r.U16(6);
    CheckSlot(index);
    if (slots_[index]) SelectInto(canvas_.State(), *slots_[index]);
}

void WmfPlayer::DeleteObject(const RecordReader& r) {
    const std::uint16_t index = r.U16(6);
    CheckSlot(index);
    if (slots_[index]) {
        slots_[index].reset();
        freed_.insert(index);
    }
}

}  // namespace

std::optional<std::vector<std::uint8_t>> FindEmbeddedEmf(std::span<const std::uint8_t> wmf) {
    try {
        ReadWmfHeader(wmf);
        std::vector<std::uint8_t> emf;
        std::uint32_t expected = 0;
        std::uint32_t pieces = 0;
        std::uint32_t announced = 0;
        bool broken = false;
        ForEachRecord(wmf, [&](std::uint16_t function, const RecordReader& r) {
            if (function != meta::kEscape || !r.Has(6, 4) || r.U16(6) != kMfComment) return true;
            if (!r.Has(10, 34) || r.U32(10) != kWmfEmbeddedEmfComment || r.U32(14) != 1)
                return true;
            // Identifier, type, version, checksum (16 bits), flags, then the piece counts.
            const std::uint32_t count = r.U32(28);
            const std::uint32_t chunk = r.U32(32);
            const std::uint32_t remaining = r.U32(36);
            const std::uint32_t total = r.U32(40);
            if (pieces == 0) {
                expected = total;
                announced = count;
                // The pieces are appended below; refuse a size no record series could carry.
                if (total > wmf.size()) broken = true;
            }
            if (broken || total != expected || count != announced || !r.Has(44, chunk) ||
                std::uint64_t{emf.size()} + chunk > expected ||
                remaining != expected - emf.size() - chunk) {
                broken = true;
                return false;
            }
            const auto bytes = r.Bytes(44, chunk);
            emf.insert(emf.end(), bytes.begin(), bytes.end());
            ++pieces;
            return pieces < announced;
        });
        if (broken || pieces == 0 || pieces != announced || emf.size() != expected ||
            !LooksLikeEmf(emf)) {
            return std::nullopt;
        }
        return emf;
    } catch (const RecordError&) {
        return std::nullopt;
    }
}

void PlayWmf(std::span<const std::uint8_t> wmf, Canvas& canvas) {
    const WmfHeader header = ReadWmfHeader(wmf);
    WmfPlayer player(header, canvas);
    ForEachRecord(wmf, [&](std::uint16_t function, const RecordReader& r) {
        canvas.Charge(kCostRecord);
        player.Record(function, r);
        if (!canvas.Healthy()) throw RecordError("drawing failed");
        return true;
    });
}

}  // namespace ozm::metafile
