#include "core/formats/raster/GifCodec.h"

#include <gif_lib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/bitmap/RowsAs24.h"
#include "core/parallel/OrderedBands.h"

namespace ozm {

namespace {

// The file's bytes as the decoder sees them. When the first frame's data runs past the end
// of the file, the decoder is shown the file with its last data block shortened to the bytes
// that are there and the block chain closed after it: every pixel whose codes are in the file
// decodes, and a pixel that would need missing bytes ends the decode with an error.
struct MemoryReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    std::size_t patchAt = SIZE_MAX;  // index of the length byte to replace, or `size`
    std::uint8_t patchValue = 0;

    std::size_t VirtualSize() const { return patchAt == SIZE_MAX ? size : size + 1; }
    std::uint8_t At(std::size_t i) const {
        if (i == patchAt && i < size) return patchValue;
        return i < size ? data[i] : 0;  // the block terminator that closes the chain
    }
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int length) {
    auto* r = static_cast<MemoryReader*>(gif->UserData);
    const std::size_t end = r->VirtualSize();
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), end - r->pos);
    if (n == 0) return 0;
    if (r->patchAt == SIZE_MAX || r->pos + n <= r->patchAt) {
        std::memcpy(out, r->data + r->pos, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = r->At(r->pos + i);
    }
    r->pos += n;
    return static_cast<int>(n);
}

// Follows a chain of data sub-blocks from `pos` (a length byte). Returns the position after
// its terminator, or SIZE_MAX when the file ends inside the chain; `lastBlock` then gets the
// position of the length byte of the block that is cut (or `size` when the file ends right
// before a length byte).
std::size_t SkipSubBlocks(std::span<const std::uint8_t> data, std::size_t pos,
                          std::size_t& lastBlock) {
    for (;;) {
        if (pos >= data.size()) {
            lastBlock = data.size();
            return SIZE_MAX;
        }
        const std::size_t length = data[pos];
        if (length == 0) return pos + 1;
        if (data.size() - pos - 1 < length) {
            lastBlock = pos;
            return SIZE_MAX;
        }
        pos += 1 + length;
    }
}

// Sets up the reader's patch when the file ends inside the first frame's image data (after
// its descriptor, colour table and code size byte). True when it did.
bool PatchCutFirstFrame(std::span<const std::uint8_t> data, MemoryReader& reader) {
    constexpr std::size_t kScreenEnd = 13;
    if (data.size() < kScreenEnd) return false;
    std::size_t pos = kScreenEnd;
    if (data[10] & 0x80) pos += 3u << ((data[10] & 7) + 1);
    std::size_t cut = 0;
    while (pos < data.size()) {
        if (data[pos] == 0x21) {  // extension: label, then sub-blocks
            pos = SkipSubBlocks(data, pos + 2, cut);
            if (pos == SIZE_MAX) return false;
            continue;
        }
        if (data[pos] != 0x2C) return false;
        if (data.size() - pos < 11) return false;
        const std::uint8_t flags = data[pos + 9];
        pos += 10;
        if (flags & 0x80) pos += 3u << ((flags & 7) + 1);
        pos += 1;  // LZW minimum code size
        if (pos > data.size()) return false;
        if (SkipSubBlocks(data, pos, cut) != SIZE_MAX) return false;
        reader.patchAt = cut;
        reader.patchValue =
            cut < data.size() ? static_cast<std::uint8_t>(data.size() - cut - 1) : 0;
        return true;
    }
    return false;
}

// The reason for a refusal after giflib reported `error`.
std::string GifReason(int error, bool cutFrame) {
    switch (error) {
        case D_GIF_ERR_NOT_GIF_FILE:
            return "not a GIF file";
        case D_GIF_ERR_NOT_ENOUGH_MEM:
            return "out of memory";
        case D_GIF_ERR_READ_FAILED:
        case D_GIF_ERR_NO_SCRN_DSCR:  // the screen or its colour table could not be read
            return "truncated image data";
        default:
            break;
    }
    if (cutFrame) return "truncated image data";
    const char* text = GifErrorString(error);
    if (!text || !*text) return "damaged GIF data";
    std::string out = "damaged GIF data: ";
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    out += text + 1;
    return out;
}

int WriteToFile(GifFileType* gif, const GifByteType* data, int length) {
    auto* file = static_cast<std::FILE*>(gif->UserData);
    return static_cast<int>(std::fwrite(data, 1, static_cast<std::size_t>(length), file));
}

struct DecoderCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifDecoder = std::unique_ptr<GifFileType, DecoderCloser>;

void CopyColorMap(const ColorMapObject* map, Bitmap& out) {
    auto& pal = out.Palette();
    if (!map || map->ColorCount <= 0 || !map->Colors) {
        // A file without any colour table: indexes are shown as greys.
        SetGreyPalette(pal, 256);
        return;
    }
    const int count = std::min(map->ColorCount, 256);
    pal.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const GifColorType c = map->Colors[i];
        pal[static_cast<std::size_t>(i)] = RgbQuad{c.Blue, c.Green, c.Red, 0};
    }
}

// Row order of an interlaced frame: every 8th row from 0, every 8th from 4, every 4th from
// 2, every 2nd from 1.
std::vector<int> InterlacedRowOrder(int height) {
    std::vector<int> order;
    order.reserve(static_cast<std::size_t>(height));
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (int y = kStart[pass]; y < height; y += kStep[pass]) order.push_back(y);
    }
    return order;
}

// Palette indexes of row y of a 1-, 4- or 8-bit bitmap, one per pixel.
void IndexRow(const Bitmap& bitmap, int y, GifPixelType* out) {
    if (bitmap.BitCount() == 8) {
        std::memcpy(out, bitmap.Row(y), static_cast<std::size_t>(bitmap.Width()));
        return;
    }
    for (int x = 0; x < bitmap.Width(); ++x) out[x] = bitmap.IndexAt(x, y);
}

// 3-byte blue, green, red pixels to their index in the fixed 216-colour table.
void WebSafeRow(const std::uint8_t* bgr, int width, GifPixelType* out) {
    for (int x = 0; x < width; ++x, bgr += 3) out[x] = WebSafeIndex(bgr[2], bgr[1], bgr[0]);
}

}  // namespace

namespace {

// Pixels of palette bitmap `indexed` as 24 bits, the `transparent` index (and, for a frame
// smaller than the screen, every pixel the frame does not cover) showing `background`.
bool BlendIndexedOnto(const Bitmap& indexed, const std::vector<bool>& covered, int transparent,
                      RgbQuad background, Bitmap& out) {
    Bitmap blended;
    if (!blended.Create(indexed.Width(), indexed.Height(), 24, true)) return false;
    const auto& pal = indexed.Palette();
    for (int y = 0; y < indexed.Height(); ++y) {
        const std::uint8_t* in = indexed.Row(y);
        std::uint8_t* o = blended.Row(y);
        for (int x = 0; x < indexed.Width(); ++x, o += 3) {
            const std::size_t at = std::size_t(y) * std::size_t(indexed.Width()) + std::size_t(x);
            RgbQuad c{};
            if (in[x] == transparent || (!covered.empty() && !covered[at])) {
                c = background;
            } else if (in[x] < pal.size()) {
                c = pal[in[x]];
            }
            o[0] = c.blue;
            o[1] = c.green;
            o[2] = c.red;
        }
    }
    out = std::move(blended);
    return true;
}

bool DecodeGifWith(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason,
                   const RgbQuad* blendOnto) {
    if (data.size() < 6 || std::memcmp(data.data(), "GIF", 3) != 0) {
        return Refuse(reason, "not a GIF file");
    }
    MemoryReader reader{data.data(), data.size()};
    const bool cutFrame = PatchCutFirstFrame(data, reader);
    int error = 0;
    GifDecoder gif(DGifOpen(&reader, ReadFromMemory, &error));
    if (!gif) return Refuse(reason, GifReason(error, false));
    const auto failed = [&] { return Refuse(reason, GifReason(gif->Error, cutFrame)); };

    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return failed();
        if (type == TERMINATE_RECORD_TYPE) return Refuse(reason, "no image in the GIF file");
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) return failed();
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock gcb{};
                if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) {
                    transparent = gcb.TransparentColor;
                }
            }
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return failed();
            }
            continue;
        }
        if (type == IMAGE_DESC_RECORD_TYPE) break;
    }
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return failed();
    const GifImageDesc& desc = gif->Image;
    const int fw = desc.Width, fh = desc.Height;
    const int sw = gif->SWidth, sh = gif->SHeight;
    if (!IsAcceptableImageSize(fw, fh)) return Refuse(reason, ImageSizeReason(fw, fh));
    const ColorMapObject* frameMap = desc.ColorMap ? desc.ColorMap : gif->SColorMap;

    // The frame's rows come in file order (interlaced or not). A frame that is the whole
    // screen is decoded straight into the bitmap, any other into a buffer of its own and then
    // placed. Neither memory is touched before its rows are decoded: a header may announce
    // a frame of 2^28 pixels in a file of a few bytes.
    const std::vector<int> order = desc.Interlace ? InterlacedRowOrder(fh) : std::vector<int>{};
    const auto decodeRows = [&](std::uint8_t* rows, std::size_t stride) {
        for (int i = 0; i < fh; ++i) {
            const int y = desc.Interlace ? order[static_cast<std::size_t>(i)] : i;
            if (DGifGetLine(gif.get(), rows + static_cast<std::size_t>(y) * stride, fw) ==
                GIF_ERROR) {
                return false;
            }
        }
        return true;
    };

    const bool ownBitmap = (fw == sw && fh == sh) || sw <= 0 || sh <= 0;
    if (ownBitmap) {
        if (!out.Create(fw, fh, 8, false)) return Refuse(reason, "out of memory");
        if (!decodeRows(out.Data(), out.Stride())) {
            out.Clear();
            return failed();
        }
        for (int y = 0; y < fh; ++y) std::memset(out.Row(y) + fw, 0, out.Stride() - fw);
        CopyColorMap(frameMap, out);
        if (blendOnto && transparent != NO_TRANSPARENT_COLOR &&
            !BlendIndexedOnto(out, {}, transparent, *blendOnto, out)) {
            return Refuse(reason, "out of memory");
        }
        return true;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(fw) * static_cast<std::size_t>(fh);
    std::unique_ptr<std::uint8_t[]> frame(new (std::nothrow) std::uint8_t[frameBytes]);
    if (!frame) return Refuse(reason, "out of memory");
    if (!decodeRows(frame.get(), static_cast<std::size_t>(fw))) return failed();
    if (!IsAcceptableImageSize(sw, sh)) return Refuse(reason, ImageSizeReason(sw, sh));
    if (!out.Create(sw, sh, 8, false)) return Refuse(reason, "out of memory");
    CopyColorMap(gif->SColorMap ? gif->SColorMap : frameMap, out);
    const auto background = static_cast<std::uint8_t>(gif->SBackGroundColor);
    for (int y = 0; y < sh; ++y) std::memset(out.Row(y), background, out.Stride());
    // The frame is drawn at its offset, clipped to the screen; transparent pixels show the
    // background. A colour to blend onto shows wherever the frame leaves the screen empty.
    std::vector<bool> covered;
    if (blendOnto) covered.assign(std::size_t(sw) * std::size_t(sh), false);
    for (int y = 0; y < fh; ++y) {
        const long ty = static_cast<long>(desc.Top) + y;
        if (ty < 0 || ty >= sh) continue;
        std::uint8_t* row = out.Row(static_cast<int>(ty));
        const std::uint8_t* src = frame.get() + static_cast<std::size_t>(y) * fw;
        for (int x = 0; x < fw; ++x) {
            const long tx = static_cast<long>(desc.Left) + x;
            if (tx < 0 || tx >= sw) continue;
            if (src[x] == transparent) continue;
            row[tx] = src[x];
            if (blendOnto) covered[std::size_t(ty) * std::size_t(sw) + std::size_t(tx)] = true;
        }
    }
    if (blendOnto && !BlendIndexedOnto(out, covered, -1, *blendOnto, out)) {
        return Refuse(reason, "out of memory");
    }
    return true;
}

}  // namespace

bool DecodeGif(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason) {
    return DecodeGifWith(data, out, reason, nullptr);
}

bool DecodeGifOnto(std::span<const std::uint8_t> data, Bitmap& out, RgbQuad background,
                   std::string* reason) {
    return DecodeGifWith(data, out, reason, &background);
}

bool EncodeGif(const Bitmap& bitmap, std::FILE* file, int threads) {
    const int width = bitmap.Width(), height = bitmap.Height();
    if (bitmap.Empty() || width > kMaxSide16 || height > kMaxSide16) return false;

    // Colour table: the bitmap's palette padded to a power of two, or the fixed 216 colours.
    std::vector<GifColorType> colors;
    if (bitmap.HasPalette()) {
        const auto& pal = bitmap.Palette();
        std::size_t size = 2;
        while (size < pal.size() || size < (std::size_t{1} << std::min(bitmap.BitCount(), 8))) {
            size *= 2;
        }
        colors.assign(size, GifColorType{0, 0, 0});
        for (std::size_t i = 0; i < pal.size(); ++i) {
            colors[i] = GifColorType{pal[i].red, pal[i].green, pal[i].blue};
        }
    } else {
        colors.assign(256, GifColorType{0, 0, 0});
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b) {
                    colors[static_cast<std::size_t>(36 * r + 6 * g + b)] = GifColorType{
                        static_cast<GifByteType>(51 * r), static_cast<GifByteType>(51 * g),
                        static_cast<GifByteType>(51 * b)};
                }
    }
    int error = 0;
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(colors.size()), colors.data());
    if (!map) return false;
    GifFileType* gif = EGifOpen(file, WriteToFile, &error);
    if (!gif) {
        GifFreeMapObject(map);
        return false;
    }
    bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, map) != GIF_ERROR &&
              EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) != GIF_ERROR;
    // Rows are mapped in pieces of about 256 K pixels, each piece handed to the compressor
    // row by row once the pieces before it are in.
    const std::size_t lineBytes = static_cast<std::size_t>(width);
    const std::size_t rowsPerPiece = std::max<std::size_t>(1, (std::size_t{1} << 18) / lineBytes);
    std::vector<std::vector<GifPixelType>> slots(SlotCount(threads));
    std::vector<std::vector<std::uint8_t>> rgbRows(slots.size());
    const RowsAs24 rows(bitmap, ChannelOrder::Bgr);
    const auto produce = [&](std::size_t piece, std::size_t slot) {
        const int first = static_cast<int>(piece * rowsPerPiece);
        const int last = std::min(height, first + static_cast<int>(rowsPerPiece));
        std::vector<GifPixelType>& lines = slots[slot];
        lines.resize(static_cast<std::size_t>(last - first) * lineBytes);
        if (!bitmap.HasPalette()) rgbRows[slot].resize(lineBytes * 3);
        for (int y = first; y < last; ++y) {
            GifPixelType* line = lines.data() + static_cast<std::size_t>(y - first) * lineBytes;
            if (bitmap.HasPalette()) {
                IndexRow(bitmap, y, line);
            } else {
                const std::uint8_t* bgr = bitmap.Row(y);
                if (bitmap.BitCount() != 24) {
                    rows.CopyRow(y, rgbRows[slot].data());
                    bgr = rgbRows[slot].data();
                }
                WebSafeRow(bgr, width, line);
            }
        }
        return true;
    };
    const auto consume = [&](std::size_t, std::size_t slot) {
        std::vector<GifPixelType>& lines = slots[slot];
        for (std::size_t at = 0; at < lines.size(); at += lineBytes) {
            if (EGifPutLine(gif, lines.data() + at, width) == GIF_ERROR) return false;
        }
        return true;
    };
    BandRun run;
    run.count = (static_cast<std::size_t>(height) + rowsPerPiece - 1) / rowsPerPiece;
    run.threads = threads;
    if (ok) {
        try {
            ok = RunBandsInOrder(run, produce, consume);
        } catch (...) {
            // The encoder below must still be closed and freed.
            ok = false;
        }
    }
    // EGifCloseFile writes the trailer and frees the encoder (and the screen's colour map
    // copy) whether or not the frame went out.
    ok = EGifCloseFile(gif, &error) != GIF_ERROR && ok;
    GifFreeMapObject(map);
    return ok && !std::ferror(file);
}

}  // namespace ozm
