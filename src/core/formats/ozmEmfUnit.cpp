#include "core/formats/ozmEmfUnit.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <unordered_map>
#include <vector>

#include "core/formats/CairoPtr.h"
#include "core/formats/EmfPlayer.h"
#include "core/formats/MetafileCanvas.h"
#include "core/formats/MetafileRecords.h"
#include "core/formats/MetafileWriter.h"
#include "core/formats/WmfPlayer.h"

namespace ozm {

namespace {

using namespace metafile;

// Pictures are drawn in tiles of at most this many pixels a side, which bounds the drawing
// surface's memory (64 MiB) whatever the picture's size and stays inside cairo's limits.
constexpr int kTileSide = 4096;

// Work allowed per tile: every pixel painted a few hundred times over, plus a fixed part
// for pictures of many small figures.
std::uint64_t WorkBudget(int w, int h) {
    return std::uint64_t{512} * static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) +
           (std::uint64_t{1} << 28);
}

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
std::optional<std::pair<int, int>> EmfPixelSize(const EmfHeader& h) {
    const std::int64_t fw = std::int64_t{h.frame.right} - h.frame.left;
    const std::int64_t fh = std::int64_t{h.frame.bottom} - h.frame.top;
    const auto w = MulDivRound(fw, h.devicePixels.cx, std::int64_t{h.deviceMillimetres.cx} * 100);
    const auto hh = MulDivRound(fh, h.devicePixels.cy, std::int64_t{h.deviceMillimetres.cy} * 100);
    if (!w || !hh || h.devicePixels.cx <= 0 || h.devicePixels.cy <= 0 ||
        !IsAcceptableImageSize(*w, *hh)) {
        return std::nullopt;
    }
    return std::pair<int, int>{static_cast<int>(*w), static_cast<int>(*hh)};
}

std::optional<std::pair<int, int>> WmfPixelSize(const PlaceableHeader& h) {
    const std::int64_t bw = std::int64_t{h.right} - h.left;
    const std::int64_t bh = std::int64_t{h.bottom} - h.top;
    const std::int64_t upi = h.unitsPerInch ? h.unitsPerInch : kScreenPixelsPerInch;
    if (bw <= 0 || bh <= 0) return std::nullopt;
    const auto frameW = MulDivRound(bw, 2540, upi);
    const auto frameH = MulDivRound(bh, 2540, upi);
    if (!frameW || !frameH) return std::nullopt;
    const auto w = MulDivRound(*frameW, kScreenPixelsPerInch, 2540);
    const auto hh = MulDivRound(*frameH, kScreenPixelsPerInch, 2540);
    if (!w || !hh || !IsAcceptableImageSize(*w, *hh)) return std::nullopt;
    return std::pair<int, int>{static_cast<int>(*w), static_cast<int>(*hh)};
}

std::vector<RgbQuad> DefaultPalette(int bitCount) {
    std::vector<RgbQuad> p;
    auto add = [&](int r, int g, int b) {
        p.push_back(RgbQuad{static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
                            static_cast<std::uint8_t>(r), 0});
    };
    if (bitCount == 1) {
        add(0, 0, 0);
        add(255, 255, 255);
    } else if (bitCount == 4) {
        static constexpr int kVga[16][3] = {
            {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
            {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
            {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (const auto& c : kVga) add(c[0], c[1], c[2]);
    } else {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b) add(r * 51, g * 51, b * 51);
        for (int i = 0; i < 40; ++i) add(i * 255 / 39, i * 255 / 39, i * 255 / 39);
    }
    return p;
}

// Stores drawn pixels (0x00RRGGBB words) into the bitmap at its own depth; palette depths
// take the nearest palette colour.
class PixelStore {
  public:
    explicit PixelStore(Bitmap& bitmap) : bitmap_(bitmap) {}

    void Row(int y, int x0, const std::uint32_t* pixels, int count) {
        std::uint8_t* row = bitmap_.Row(y);
        for (int i = 0; i < count; ++i) {
            const int x = x0 + i;
            const std::uint32_t c = pixels[i] & 0xFFFFFF;
            const std::uint8_t r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
            switch (bitmap_.BitCount()) {
                case 32:
                    row[4 * x] = b;
                    row[4 * x + 1] = g;
                    row[4 * x + 2] = r;
                    row[4 * x + 3] = 0;
                    break;
                case 24:
                    row[3 * x] = b;
                    row[3 * x + 1] = g;
                    row[3 * x + 2] = r;
                    break;
                case 16: {
                    const unsigned v = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                    row[2 * x] = static_cast<std::uint8_t>(v);
                    row[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                    break;
                }
                case 8:
                    row[x] = Nearest(c);
                    break;
                case 4: {
                    const std::uint8_t v = Nearest(c) & 0x0F;
                    std::uint8_t& byte = row[x >> 1];
                    byte = (x & 1) ? static_cast<std::uint8_t>((byte & 0xF0) | v)
                                   : static_cast<std::uint8_t>((byte & 0x0F) | (v << 4));
                    break;
                }
                case 1: {
                    std::uint8_t& byte = row[x >> 3];
                    const std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
                    byte = (Nearest(c) & 1) ? (byte | bit) : (byte & ~bit);
                    break;
                }
                default:
                    break;
            }
        }
    }

  private:
    std::uint8_t Nearest(std::uint32_t c) {
        auto found = cache_.find(c);
        if (found != cache_.end()) return found->second;
        const auto& palette = bitmap_.Palette();
        const int r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
        std::uint8_t best = 0;
        long bestDistance = -1;
        const std::size_t limit = std::min<std::size_t>(palette.size(), 1u << bitmap_.BitCount());
        for (std::size_t i = 0; i < limit; ++i) {
            const long dr = r - palette[i].red, dg = g - palette[i].green, db = b - palette[i].blue;
            const long d = dr * dr + dg * dg + db * db;
            if (bestDistance < 0 || d < bestDistance) {
                bestDistance = d;
                best = static_cast<std::uint8_t>(i);
                if (d == 0) break;
            }
        }
        cache_.emplace(c, best);
        return best;
    }

    Bitmap& bitmap_;
    std::unordered_map<std::uint32_t, std::uint8_t> cache_;
};

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

// Plays the picture into one tile of the target whose top left pixel is (x0, y0).
void PlayTile(const Picture& picture, cairo_surface_t* tile, int x0, int y0) {
    const int tw = cairo_image_surface_get_width(tile);
    const int th = cairo_image_surface_get_height(tile);
    const Affine toTile = Affine::Translate(-x0, -y0);
    const std::uint64_t budget = WorkBudget(tw, th);
    {
        ContextPtr cr(cairo_create(tile));
        cairo_set_source_rgb(cr.get(), 1, 1, 1);
        cairo_paint(cr.get());
    }

    auto playEmf = [&](std::span<const std::uint8_t> data, const EmfHeader& header) {
        const auto place = PlaceEmf(header, picture.width, picture.height);
        if (!place) throw RecordError("reference device of no size");
        Canvas canvas(tile, Affine::Compose(place->deviceToPicture, toTile),
                      place->devicePixelsPerMm);
        PlayEmf(data, header, canvas, budget);
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
    const double upi = ph.unitsPerInch ? ph.unitsPerInch : kScreenPixelsPerInch;
    Canvas canvas(tile, Affine::Compose(boxToPicture, toTile), {upi / 25.4, upi / 25.4});
    // The box maps onto the picture; records that set their own window remap into it.
    DcState& s = canvas.State();
    s.mapMode = gdi::kMmAnisotropic;
    s.windowOrg = s.viewportOrg = {double(ph.left), double(ph.top)};
    s.windowExt = s.viewportExt = {bw, bh};
    PlayWmf(picture.wmfData, canvas, budget);
}

std::optional<Picture> Identify(std::span<const std::uint8_t> data) {
    Picture picture;
    if (LooksLikeEmf(data)) {
        const auto header = ReadEmfHeader(data);
        if (!header) return std::nullopt;
        const auto size = EmfPixelSize(*header);
        if (!size) return std::nullopt;
        picture.kind = Kind::Emf;
        picture.emfData = data;
        picture.emf = *header;
        std::tie(picture.width, picture.height) = *size;
        return picture;
    }
    const auto placeable = ReadPlaceableHeader(data);
    if (!placeable) return std::nullopt;
    const auto size = WmfPixelSize(*placeable);
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
        const auto picture = Identify(data);
        if (!picture) return false;

        const int bitCount = IsValidBitCount(bitmap.BitCount()) ? bitmap.BitCount() : 24;
        std::vector<RgbQuad> palette = bitmap.Palette();
        if (bitCount <= 8 && palette.empty()) palette = DefaultPalette(bitCount);
        if (!bitmap.Create(picture->width, picture->height, bitCount)) return false;
        if (bitmap.HasPalette()) bitmap.Palette() = palette;

        PixelStore store(bitmap);
        for (int y0 = 0; y0 < picture->height; y0 += kTileSide) {
            for (int x0 = 0; x0 < picture->width; x0 += kTileSide) {
                const int tw = std::min(kTileSide, picture->width - x0);
                const int th = std::min(kTileSide, picture->height - y0);
                SurfacePtr tile = MakeImageSurface(CAIRO_FORMAT_RGB24, tw, th);
                if (!tile) return false;
                PlayTile(*picture, tile.get(), x0, y0);
                cairo_surface_flush(tile.get());
                const std::uint8_t* pixels = cairo_image_surface_get_data(tile.get());
                const int stride = cairo_image_surface_get_stride(tile.get());
                for (int y = 0; y < th; ++y) {
                    store.Row(y0 + y, x0,
                              reinterpret_cast<const std::uint32_t*>(
                                  pixels + static_cast<std::ptrdiff_t>(stride) * y),
                              tw);
                }
            }
        }
        return true;
    } catch (const RecordError&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

bool BuildMetafileFromBitmap(const Bitmap& bitmap, std::FILE* file, MetafileKind kind) {
    if (!file) return false;
    const auto bytes = kind == MetafileKind::Wmf ? BuildWmfBytes(bitmap) : BuildEmfBytes(bitmap);
    if (!bytes) return false;
    return std::fwrite(bytes->data(), 1, bytes->size(), file) == bytes->size();
}

}  // namespace ozm
