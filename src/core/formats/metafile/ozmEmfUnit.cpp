#include "core/formats/metafile/ozmEmfUnit.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "core/formats/metafile/CairoPtr.h"
#include "core/formats/metafile/EmfPlayer.h"
#include "core/formats/metafile/MetafileCanvas.h"
#include "core/formats/metafile/MetafileRecords.h"
#include "core/formats/metafile/MetafileWriter.h"
#include "core/formats/metafile/WmfPlayer.h"

namespace ozm {

namespace {

using namespace metafile;

// Pictures are drawn in tiles of at most this many pixels a side, which bounds the drawing
// surface's memory (64 MiB) whatever the picture's size and stays inside cairo's limits.
constexpr int kTileSide = 4096;

// Memory a picture may take while it is drawn: its bitmap, a tile and the images decoded
// from its records. The largest bitmap allowed (2^28 pixels, 768 MiB) and a tile fit.
constexpr std::uint64_t kDrawingMemory = std::uint64_t{896} << 20;

// Work allowed for drawing one picture, whatever its size and however many tiles it takes,
// in the units of WorkMeter (about a nanosecond of one core each): a few seconds, which
// leaves room within ten for reading the file, clearing the tiles and storing the pixels.
constexpr double kPictureWorkBudget = 5e9;

struct Placement {
    int width = 0;  // pixels
    int height = 0;
    Affine deviceToPicture;  // the metafile's device units to picture pixels
    PointD devicePixelsPerMm;
};

// Where an enhanced metafile's device units land when its frame is stretched over a
// picture of `width` x `height` pixels.
std::optional<Placement> PlaceEmf(const EmfHeader& h, int width, int height) {
    const SizeL px = h.devicePixels;
    const SizeL mm = h.deviceMillimetres;
    if (px.cx <= 0 || px.cy <= 0 || mm.cx <= 0 || mm.cy <= 0) return std::nullopt;
    const double kx = double(px.cx) / (double(mm.cx) * 100);
    const double ky = double(px.cy) / (double(mm.cy) * 100);
    const double fx0 = h.frame.left * kx, fx1 = h.frame.right * kx;
    const double fy0 = h.frame.top * ky, fy1 = h.frame.bottom * ky;
    if (!(fx1 > fx0) || !(fy1 > fy0)) return std::nullopt;
    Placement p;
    p.width = width;
    p.height = height;
    const double sx = width / (fx1 - fx0);
    const double sy = height / (fy1 - fy0);
    p.deviceToPicture = Affine{sx, 0, 0, sy, -fx0 * sx, -fy0 * sy};
    const SizeL um = h.deviceMicrometres;
    if (um.cx > 0 && um.cy > 0) {
        p.devicePixelsPerMm = {px.cx * 1000.0 / um.cx, px.cy * 1000.0 / um.cy};
    } else {
        p.devicePixelsPerMm = {double(px.cx) / mm.cx, double(px.cy) / mm.cy};
    }
    return p;
}

// The picture's size in pixels: the frame at the reference device's resolution.
std::optional<std::pair<int, int>> EmfPixelSize(const EmfHeader& h, std::string* reason) {
    if (h.devicePixels.cx <= 0 || h.devicePixels.cy <= 0 || h.deviceMillimetres.cx <= 0 ||
        h.deviceMillimetres.cy <= 0) {
        Refuse(reason, "metafile reference device has no size");
        return std::nullopt;
    }
    const std::int64_t fw = std::int64_t{h.frame.right} - h.frame.left;
    const std::int64_t fh = std::int64_t{h.frame.bottom} - h.frame.top;
    const auto w = MulDivRound(fw, h.devicePixels.cx, std::int64_t{h.deviceMillimetres.cx} * 100);
    const auto hh = MulDivRound(fh, h.devicePixels.cy, std::int64_t{h.deviceMillimetres.cy} * 100);
    if (!w || !hh || !IsAcceptableImageSize(*w, *hh)) {
        Refuse(reason, ImageSizeReason(w.value_or(0), hh.value_or(0)));
        return std::nullopt;
    }
    return std::pair<int, int>{static_cast<int>(*w), static_cast<int>(*hh)};
}

std::optional<std::pair<int, int>> WmfPixelSize(const PlaceableHeader& h, std::string* reason) {
    // A box measured in units of no size has no size: such a header is damaged.
    if (h.unitsPerInch == 0) {
        Refuse(reason, "units per inch of 0");
        return std::nullopt;
    }
    const std::int64_t bw = std::int64_t{h.right} - h.left;
    const std::int64_t bh = std::int64_t{h.bottom} - h.top;
    const std::int64_t upi = h.unitsPerInch;
    const auto frameW = MulDivRound(bw, 2540, upi);
    const auto frameH = MulDivRound(bh, 2540, upi);
    const auto w = MulDivRound(frameW.value_or(0), kScreenPixelsPerInch, 2540);
    const auto hh = MulDivRound(frameH.value_or(0), kScreenPixelsPerInch, 2540);
    if (bw <= 0 || bh <= 0 || !w || !hh || !IsAcceptableImageSize(*w, *hh)) {
        Refuse(reason, ImageSizeReason(w.value_or(0), hh.value_or(0)));
        return std::nullopt;
    }
    return std::pair<int, int>{static_cast<int>(*w), static_cast<int>(*hh)};
}

// Stores a row of drawn pixels (0x00RRGGBB words) as 24-bit blue, green, red.
void StoreRow(std::uint8_t* row, const std::uint32_t* pixels, int count) {
    for (int i = 0; i < count; ++i) {
        const std::uint32_t c = pixels[i];
        row[3 * i] = static_cast<std::uint8_t>(c);
        row[3 * i + 1] = static_cast<std::uint8_t>(c >> 8);
        row[3 * i + 2] = static_cast<std::uint8_t>(c >> 16);
    }
}

enum class Kind { Emf, Wmf };

struct Picture {
    Kind kind = Kind::Emf;
    std::span<const std::uint8_t> emfData;
    EmfHeader emf;
    std::span<const std::uint8_t> wmfData;  // from the 18-byte metafile header on
    PlaceableHeader placeable;
    std::vector<std::uint8_t> embeddedEmf;  // a converted WMF's original, when it carries one
    int width = 0;
    int height = 0;
};

// Plays the picture into one tile of the target whose top left pixel is (x0, y0); the tile
// starts white.
void PlayTile(const Picture& picture, cairo_surface_t* tile, int x0, int y0, WorkMeter& meter,
              ImageCache& images) {
    const Affine toTile = Affine::Translate(-x0, -y0);

    auto playEmf = [&](std::span<const std::uint8_t> data, const EmfHeader& header) {
        const auto place = PlaceEmf(header, picture.width, picture.height);
        if (!place) throw RecordError("reference device of no size");
        Canvas canvas(tile, Affine::Compose(place->deviceToPicture, toTile),
                      place->devicePixelsPerMm, meter, &images);
        PlayEmf(data, header, canvas);
    };

    if (picture.kind == Kind::Emf) {
        playEmf(picture.emfData, picture.emf);
        return;
    }
    if (!picture.embeddedEmf.empty()) {
        if (const auto header = ReadEmfHeader(picture.embeddedEmf)) {
            try {
                playEmf(picture.embeddedEmf, *header);
                return;
            } catch (const WorkLimitError&) {
                throw;  // the 16-bit records are the same picture, as costly
            } catch (const RecordError&) {
                // The 16-bit records below are the same picture; draw those instead.
                ContextPtr cr(cairo_create(tile));
                cairo_set_source_rgb(cr.get(), 1, 1, 1);
                cairo_paint(cr.get());
            }
        }
    }
    const PlaceableHeader& ph = picture.placeable;
    const double bw = double(ph.right) - ph.left;
    const double bh = double(ph.bottom) - ph.top;
    const double sx = picture.width / bw;
    const double sy = picture.height / bh;
    const Affine boxToPicture{sx, 0, 0, sy, -ph.left * sx, -ph.top * sy};
    const double upi = ph.unitsPerInch;
    Canvas canvas(tile, Affine::Compose(boxToPicture, toTile), {upi / 25.4, upi / 25.4}, meter,
                  &images);
    // The box maps onto the picture; records that set their own window remap into it.
    DcState& s = canvas.State();
    s.mapMode = gdi::kMmAnisotropic;
    s.windowOrg = s.viewportOrg = {double(ph.left), double(ph.top)};
    s.windowExt = s.viewportExt = {bw, bh};
    PlayWmf(picture.wmfData, canvas);
}

// Whether an enhanced metafile carries its picture only as EMF+ records (inside comment
// records), which this player does not draw: no record outside the comments draws anything.
// A dual file, whose plain records draw the same picture, is played from those.
bool OnlyEmfPlus(std::span<const std::uint8_t> data, const EmfHeader& header) {
    bool emfPlus = false;
    std::size_t offset = header.headerSize;
    while (data.size() - offset >= 8) {
        const RecordReader head(data.subspan(offset, 8));
        const std::uint32_t type = head.U32(0);
        const std::uint32_t size = head.U32(4);
        if (size < 8 || size > data.size() - offset) break;
        if (type == emr::kEof) break;
        if (type == emr::kComment) {
            const RecordReader r(data.subspan(offset, size));
            if (r.Has(8, 8) && r.U32(12) == kEmfPlusComment) emfPlus = true;
        } else if (DrawsSomething(type)) {
            return false;
        }
        offset += size;
    }
    return emfPlus;
}

std::optional<Picture> Identify(std::span<const std::uint8_t> data, std::string* reason) {
    Picture picture;
    if (LooksLikeEmf(data)) {
        const auto header = ReadEmfHeader(data);
        if (!header) {
            Refuse(reason, "damaged metafile header");
            return std::nullopt;
        }
        const auto size = EmfPixelSize(*header, reason);
        if (!size) return std::nullopt;
        if (OnlyEmfPlus(data, *header)) {
            Refuse(reason, "EMF+ records are not supported");
            return std::nullopt;
        }
        picture.kind = Kind::Emf;
        picture.emfData = data;
        picture.emf = *header;
        std::tie(picture.width, picture.height) = *size;
        return picture;
    }
    const auto placeable = ReadPlaceableHeader(data);
    if (!placeable) {
        const RecordReader r(data);
        if (r.Has(0, 4) && r.U32(0) == kPlaceableKey) {
            Refuse(reason, "placeable metafile header has a wrong checksum");
        } else if (r.Has(0, 18) && (r.U16(0) == 1 || r.U16(0) == 2) && r.U16(2) == 9) {
            Refuse(reason, "non-placeable WMF files are not supported");
        } else {
            Refuse(reason, "not a metafile");
        }
        return std::nullopt;
    }
    const auto size = WmfPixelSize(*placeable, reason);
    if (!size) return std::nullopt;
    picture.kind = Kind::Wmf;
    picture.placeable = *placeable;
    picture.wmfData = data.subspan(kPlaceableHeaderSize);
    std::tie(picture.width, picture.height) = *size;
    if (auto emf = FindEmbeddedEmf(picture.wmfData)) picture.embeddedEmf = std::move(*emf);
    return picture;
}

}  // namespace

bool PlayMetafileIntoBitmap(std::span<const std::uint8_t> data, Bitmap& bitmap,
                            std::string* reason) {
    try {
        const auto picture = Identify(data, reason);
        if (!picture) return false;

        // Every picture is drawn into a fresh 24-bit bitmap: what the bitmap held before
        // (another file's depth and palette) has no say in this one's colours.
        if (!bitmap.Create(picture->width, picture->height, 24, false)) {
            return Refuse(reason, "out of memory");
        }
        WorkMeter meter(kPictureWorkBudget);
        // One block of memory serves every tile in turn: fresh memory for each would be
        // cleared by the system once more per tile.
        const std::size_t tilePixels = std::size_t(std::min(kTileSide, picture->width)) *
                                       std::size_t(std::min(kTileSide, picture->height));
        const auto pixelsOfTile = std::make_unique_for_overwrite<std::uint32_t[]>(tilePixels);
        // A picture of several tiles keeps the images its records decode for the next tiles,
        // in what memory the picture and its tile leave of kDrawingMemory.
        const std::uint64_t held = std::uint64_t{bitmap.DataSize()} + 4 * tilePixels;
        const bool severalTiles = picture->width > kTileSide || picture->height > kTileSide;
        ImageCache images(severalTiles && held < kDrawingMemory ? kDrawingMemory - held : 0);
        for (int y0 = 0; y0 < picture->height; y0 += kTileSide) {
            for (int x0 = 0; x0 < picture->width; x0 += kTileSide) {
                const int tw = std::min(kTileSide, picture->width - x0);
                const int th = std::min(kTileSide, picture->height - y0);
                // White, the colour of everything the picture leaves unpainted.
                std::fill_n(pixelsOfTile.get(), std::size_t(tw) * std::size_t(th), 0xFFFFFFFFu);
                SurfacePtr tile(cairo_image_surface_create_for_data(
                    reinterpret_cast<unsigned char*>(pixelsOfTile.get()), CAIRO_FORMAT_RGB24, tw,
                    th, tw * 4));
                if (cairo_surface_status(tile.get()) != CAIRO_STATUS_SUCCESS) {
                    bitmap.Clear();
                    return Refuse(reason, "out of memory");
                }
                PlayTile(*picture, tile.get(), x0, y0, meter, images);
                cairo_surface_flush(tile.get());
                const std::uint8_t* pixels = cairo_image_surface_get_data(tile.get());
                const int stride = cairo_image_surface_get_stride(tile.get());
                const bool lastColumn = x0 + tw == picture->width;
                const std::size_t used = std::size_t{3} * picture->width;
                for (int y = 0; y < th; ++y) {
                    std::uint8_t* row = bitmap.Row(y0 + y);
                    StoreRow(row + std::size_t{3} * x0,
                             reinterpret_cast<const std::uint32_t*>(
                                 pixels + static_cast<std::ptrdiff_t>(stride) * y),
                             tw);
                    if (lastColumn) std::fill(row + used, row + bitmap.Stride(), std::uint8_t{0});
                }
            }
        }
        return true;
    } catch (const RecordError& e) {
        bitmap.Clear();
        return Refuse(reason, e.what());
    } catch (const std::bad_alloc&) {
        bitmap.Clear();
        return Refuse(reason, "out of memory");
    } catch (const std::length_error&) {
        bitmap.Clear();
        return Refuse(reason, "out of memory");
    }
}

bool BuildMetafileFromBitmap(const Bitmap& bitmap, std::FILE* file, MetafileKind kind) {
    if (!file) return false;
    return kind == MetafileKind::Wmf ? WriteWmf(bitmap, file) : WriteEmf(bitmap, file);
}

}  // namespace ozm
