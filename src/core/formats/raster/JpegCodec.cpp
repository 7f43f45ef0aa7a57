#include "core/formats/raster/JpegCodec.h"

#include "core/formats/raster/JpegGlue.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "core/bitmap/RowsAs24.h"
#include "core/formats/io/ByteOrder.h"

namespace ozm {

namespace {

// Why a decode stopped, kept as plain data while libjpeg may still jump; the text is made
// once the library is done.
enum class Stop { None, Library, ImageSize, TooCostly, OutOfMemory };

// libjpeg reports fatal errors through error_exit, which must not return: we jump back to the
// setjmp in the calling function. Only plain C data lives in the frames between the two.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    Stop stop;
    char message[JMSG_LENGTH_MAX];  // the library's text of the error that stopped the decode
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (err->stop == Stop::None) {
        err->stop = Stop::Library;
        cinfo->err->format_message(cinfo, err->message);
    }
    std::longjmp(err->jump, 1);
}

// Ends the decode with a refusal of our own.
[[noreturn]] void StopDecode(j_common_ptr cinfo, Stop stop) {
    reinterpret_cast<ErrorManager*>(cinfo->err)->stop = stop;
    ErrorExit(cinfo);
}

// Warnings that mean pixels were lost or invented (a truncated or corrupt file) end the
// decode; the harmless ones (stray bytes between markers, unknown JFIF versions) do not.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    switch (cinfo->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_BOGUS_PROGRESSION:
            ErrorExit(cinfo);
        default:
            break;
    }
}

void SilentOutput(j_common_ptr) {}

// A multi-scan file costs the decoder a visit to every block of a scan's components for each
// scan, however little data the scan holds: an end-of-band run codes 32767 empty blocks in a
// few bits, so a file under 1 MB can ask for billions of visits (at about 15 ns each). The
// budget is 32 scans over the largest one-component picture (2^22 blocks), about 2 s;
// ordinary progressive files use 5 to 15 scans per component. The scan count has its own
// cap for damaged files that repeat scans.
constexpr std::uint64_t kMaxBlockVisits = std::uint64_t{1} << 27;
constexpr int kMaxScans = 1000;

// A multi-scan file also keeps every coefficient of the picture (128 bytes per 8 x 8 block
// and component) until the last scan is read. Coefficients and the decoded bitmap together
// may take this much, so that a decode stays within 1 GiB with the program around it; it
// admits the largest greyscale picture (512 MiB + 256 MiB).
constexpr std::uint64_t kMaxMultiScanBytes = std::uint64_t{896} << 20;

struct ProgressMonitor {
    jpeg_progress_mgr pub;
    int lastScan;
    std::uint64_t blockVisits;
};

// Called before each step of input (one row of blocks, or one marker) and of output: each new
// scan adds its blocks to the count before any of its data is decoded.
void MonitorProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    auto* monitor = reinterpret_cast<ProgressMonitor*>(cinfo->progress);
    if (d->input_scan_number == monitor->lastScan) return;
    monitor->lastScan = d->input_scan_number;
    if (d->input_scan_number > kMaxScans) StopDecode(cinfo, Stop::TooCostly);
    for (int i = 0; i < d->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) {
        const jpeg_component_info* c = d->cur_comp_info[i];
        if (c) monitor->blockVisits += std::uint64_t{c->width_in_blocks} * c->height_in_blocks;
    }
    if (monitor->blockVisits > kMaxBlockVisits) StopDecode(cinfo, Stop::TooCostly);
}

// The block visits the scans of `data` announce, read from their headers before any is
// decoded: for each scan, the blocks of the components it names. Marker segments are skipped
// by their length; entropy-coded data, in which 0xFF is always followed by 0 or a restart
// marker, byte by byte. The progress monitor still counts what the decoder really does.
std::uint64_t AnnouncedBlockVisits(std::span<const std::uint8_t> data,
                                   const jpeg_decompress_struct& cinfo) {
    std::uint64_t visits = 0;
    const std::size_t n = data.size();
    std::size_t pos = 2;  // after the start-of-image marker
    while (pos + 1 < n) {
        if (data[pos] != 0xFF) {
            ++pos;
            continue;
        }
        const std::uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;  // stuffed byte, TEM, restart marker: no length follows
            continue;
        }
        if (marker == 0xD9 || n - pos < 4) break;
        const std::size_t length = LoadBe16(data.data() + pos + 2);
        if (marker == 0xDA && length >= 3 && n - pos - 2 >= length) {
            const std::size_t count = data[pos + 4];
            for (std::size_t i = 0; i < count && 3 + 2 * i < length; ++i) {
                const int id = data[pos + 5 + 2 * i];
                for (int ci = 0; ci < cinfo.num_components; ++ci) {
                    const jpeg_component_info& c = cinfo.comp_info[ci];
                    if (c.component_id != id) continue;
                    visits += std::uint64_t{c.width_in_blocks} * c.height_in_blocks;
                    break;
                }
            }
        }
        pos += 2 + length;
    }
    return visits;
}

// Bytes of the whole-picture coefficient store a multi-scan file needs (0 for a file of one
// scan), as the library sizes it: each component rounded up to whole sampling units.
std::uint64_t CoefficientBytes(const jpeg_decompress_struct& cinfo) {
    if (!cinfo.progressive_mode && cinfo.comps_in_scan >= cinfo.num_components) return 0;
    std::uint64_t blocks = 0;
    for (int ci = 0; ci < cinfo.num_components; ++ci) {
        const jpeg_component_info& c = cinfo.comp_info[ci];
        const std::uint64_t h = static_cast<std::uint64_t>(std::max(c.h_samp_factor, 1));
        const std::uint64_t v = static_cast<std::uint64_t>(std::max(c.v_samp_factor, 1));
        blocks += (c.width_in_blocks + h - 1) / h * h * ((c.height_in_blocks + v - 1) / v * v);
    }
    return blocks * DCTSIZE2 * sizeof(JCOEF);
}

void InstallErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = SilentOutput;
    err.stop = Stop::None;
    err.message[0] = '\0';
}

// Adobe CMYK files store inverted ink values; plain CMYK files store ink as is.
void CmykRowToBgr(const JSAMPLE* in, std::uint8_t* out, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x) {
        unsigned c = in[4 * x], m = in[4 * x + 1], yv = in[4 * x + 2], k = in[4 * x + 3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            yv = 255 - yv;
            k = 255 - k;
        }
        out[3 * x] = static_cast<std::uint8_t>((yv * k + 127) / 255);
        out[3 * x + 1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        out[3 * x + 2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
}

// The decode proper. `cmykRow` is a caller-owned buffer so that nothing with a destructor is
// created between setjmp and a possible longjmp. Without `out` only the header is read.
bool DecodeInto(jpeg_decompress_struct& cinfo, ErrorManager& err, ProgressMonitor& progress,
                std::span<const std::uint8_t> data, const JpegDecodeRequest& request, Bitmap* out,
                std::vector<std::uint8_t>& cmykRow) {
    if (setjmp(err.jump)) return false;
    jpeg_create_decompress(&cinfo);  // clears everything but the error manager
    cinfo.progress = &progress.pub;
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    if (request.exif) {
        request.exif->clear();
        jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    }
    jpeg_read_header(&cinfo, TRUE);
    if (request.exif) {
        for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
            if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
                std::memcmp(m->data, "Exif\0\0", 6) == 0) {
                request.exif->assign(m->data, m->data + m->data_length);
                break;
            }
        }
    }
    if (!IsAcceptableImageSize(cinfo.image_width, cinfo.image_height)) {
        err.stop = Stop::ImageSize;
        return false;
    }
    if (out == nullptr) return true;

    bool cmyk = false;
    bool grey = false;
    switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
            cinfo.out_color_space = JCS_GRAYSCALE;
            grey = true;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            cinfo.out_color_space = JCS_CMYK;
            cmyk = true;
            break;
        default:
            cinfo.out_color_space = JCS_EXT_BGR;
            break;
    }
    // Checked before the library allocates anything for the picture.
    const std::uint64_t coefficients = CoefficientBytes(cinfo);
    if (coefficients > 0) {
        std::uint64_t bytes = coefficients;
        if (request.countBitmap) {
            const auto stride = RowStride(cinfo.image_width, grey ? 8 : 24);
            bytes += stride ? std::uint64_t{*stride} * cinfo.image_height : 0;
        }
        if (bytes > request.maxMultiScanBytes ||
            AnnouncedBlockVisits(data, cinfo) > kMaxBlockVisits) {
            err.stop = Stop::TooCostly;
            return false;
        }
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned>(request.denominator);
    jpeg_start_decompress(&cinfo);
    const int width = static_cast<int>(cinfo.output_width);
    const int height = static_cast<int>(cinfo.output_height);
    if (!out->Create(width, height, grey ? 8 : 24, false)) {
        err.stop = Stop::OutOfMemory;
        return false;
    }
    if (grey) SetGreyPalette(out->Palette(), 256);
    // Padding bytes are cleared once so that a re-encoded BMP carries no stale memory.
    const std::size_t used = static_cast<std::size_t>(width) * (grey ? 1 : 3);
    if (out->Stride() > used) {
        for (int y = 0; y < height; ++y) std::memset(out->Row(y) + used, 0, out->Stride() - used);
    }
    if (cmyk) cmykRow.resize(static_cast<std::size_t>(width) * 4);
    const bool inverted = cinfo.saw_Adobe_marker;
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        if (cmyk) {
            JSAMPROW row = cmykRow.data();
            jpeg_read_scanlines(&cinfo, &row, 1);
            CmykRowToBgr(cmykRow.data(), out->Row(static_cast<int>(first)), cinfo.output_width,
                         inverted);
            continue;
        }
        JDIMENSION n = cinfo.output_height - first;
        if (n > 16) n = 16;
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = out->Row(static_cast<int>(first + i));
        jpeg_read_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

// `rows` is the caller's, for the same reason as DecodeInto's buffer.
// `exif` is a whole APP1 payload ("Exif\0\0" first) or empty; `icc` a profile or empty.
bool EncodeFrom(jpeg_compress_struct& cinfo, ErrorManager& err, const Bitmap& bitmap,
                std::FILE* file, int quality, RowsAs24& rows, std::span<const std::uint8_t> exif,
                std::span<const std::uint8_t> icc) {
    if (setjmp(err.jump)) return false;
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
    cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
    cinfo.input_components = bitmap.BitCount() == 32 ? 4 : 3;
    cinfo.in_color_space = bitmap.BitCount() == 32 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (!exif.empty()) {
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    }
    // In APP2 pieces of at most 65519 bytes, numbered.
    if (!icc.empty()) jpeg_write_icc_profile(&cinfo, icc.data(), static_cast<unsigned>(icc.size()));
    // 32-bit rows go in as they are (the library skips the fourth byte); 24-bit ones are
    // handed on by `rows` unchanged.
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        JSAMPROW row = const_cast<JSAMPROW>(bitmap.BitCount() == 32 ? bitmap.Row(y) : rows.Row(y));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

// The reason for a decode that stopped, from what the error manager kept.
std::string StopReason(const ErrorManager& err, const jpeg_decompress_struct& cinfo) {
    switch (err.stop) {
        case Stop::ImageSize:
            return ImageSizeReason(cinfo.image_width, cinfo.image_height);
        case Stop::TooCostly:
            return "progressive JPEG too costly to decode";
        case Stop::OutOfMemory:
            return "out of memory";
        case Stop::None:
        case Stop::Library:
            break;
    }
    switch (err.pub.msg_code) {
        case JERR_NO_SOI:
            return "not a JPEG file";
        case JERR_INPUT_EMPTY:
        case JERR_INPUT_EOF:
        case JWRN_JPEG_EOF:
            return "truncated image data";
        case JERR_OUT_OF_MEMORY:
            return "out of memory";
        default:
            break;
    }
    std::string text = err.message;
    if (text.empty()) return "damaged JPEG data";
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return "damaged JPEG data: " + text;
}

}  // namespace

bool DecodeJpegRequest(std::span<const std::uint8_t> data, const JpegDecodeRequest& request,
                       Bitmap* out, int* width, int* height, std::string* reason) {
    if (data.size() < 2 || data[0] != 0xFF || data[1] != 0xD8) {
        return Refuse(reason, "not a JPEG file");
    }
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    InstallErrorManager(err);
    cinfo.err = &err.pub;
    ProgressMonitor progress{};
    progress.pub.progress_monitor = MonitorProgress;
    std::vector<std::uint8_t> cmykRow;
    const bool ok = DecodeInto(cinfo, err, progress, data, request, out, cmykRow);
    if (ok && width) *width = static_cast<int>(cinfo.image_width);
    if (ok && height) *height = static_cast<int>(cinfo.image_height);
    if (!ok) Refuse(reason, StopReason(err, cinfo));
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

bool DecodeJpeg(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason) {
    return DecodeJpegRequest(data, {1, kMaxMultiScanBytes, true}, &out, nullptr, nullptr, reason);
}

bool EncodeJpeg(const Bitmap& bitmap, std::FILE* file, int quality, const PhotoMetadata* metadata) {
    // JPEG stores 16-bit sides; libjpeg itself refuses more than 65500.
    if (bitmap.Empty() || bitmap.Width() > 65500 || bitmap.Height() > 65500) return false;
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    InstallErrorManager(err);
    cinfo.err = &err.pub;
    RowsAs24 rows(bitmap, ChannelOrder::Bgr);
    std::vector<std::uint8_t> exif;
    std::span<const std::uint8_t> icc;
    if (metadata) {
        // A block too large for one segment is left out.
        if (!metadata->exif.empty() && metadata->exif.size() <= kMaxJpegExifBytes) {
            exif.assign({'E', 'x', 'i', 'f', 0, 0});
            exif.insert(exif.end(), metadata->exif.begin(), metadata->exif.end());
        }
        if (metadata->icc.size() <= kMaxIccBytes) icc = metadata->icc;
    }
    const bool ok = EncodeFrom(cinfo, err, bitmap, file, quality, rows, exif, icc);
    jpeg_destroy_compress(&cinfo);
    return ok;
}

}  // namespace ozm
