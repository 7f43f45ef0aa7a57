#include "core/formats/JpegCodec.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <cstring>
#include <vector>

namespace ozm {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: we jump back to the
// setjmp in the calling function. Only plain C data lives in the frames between the two.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
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

// A progressive file may hold any number of scans; a damaged one can make the decoder spin
// through millions of empty scans. No honest file needs more than a few dozen.
constexpr int kMaxScans = 1000;

void ProgressMonitor(j_common_ptr cinfo) {
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxScans) ErrorExit(cinfo);
    }
}

void InstallErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = SilentOutput;
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
// created between setjmp and a possible longjmp.
bool DecodeInto(jpeg_decompress_struct& cinfo, ErrorManager& err, jpeg_progress_mgr& progress,
                std::span<const std::uint8_t> data, Bitmap& out,
                std::vector<std::uint8_t>& cmykRow) {
    if (setjmp(err.jump)) return false;
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    if (!IsAcceptableImageSize(cinfo.image_width, cinfo.image_height)) return false;

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
    jpeg_start_decompress(&cinfo);
    const int width = static_cast<int>(cinfo.output_width);
    const int height = static_cast<int>(cinfo.output_height);
    if (!out.Create(width, height, grey ? 8 : 24, false)) return false;
    if (grey) {
        auto& pal = out.Palette();
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            pal[static_cast<std::size_t>(i)] = RgbQuad{v, v, v, 0};
        }
    }
    // Padding bytes are cleared once so that a re-encoded BMP carries no stale memory.
    const std::size_t used = static_cast<std::size_t>(width) * (grey ? 1 : 3);
    if (out.Stride() > used) {
        for (int y = 0; y < height; ++y) std::memset(out.Row(y) + used, 0, out.Stride() - used);
    }
    if (cmyk) cmykRow.resize(static_cast<std::size_t>(width) * 4);
    const bool inverted = cinfo.saw_Adobe_marker;
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        if (cmyk) {
            JSAMPROW row = cmykRow.data();
            jpeg_read_scanlines(&cinfo, &row, 1);
            CmykRowToBgr(cmykRow.data(), out.Row(static_cast<int>(first)), cinfo.output_width,
                         inverted);
            continue;
        }
        JDIMENSION n = cinfo.output_height - first;
        if (n > 16) n = 16;
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = out.Row(static_cast<int>(first + i));
        jpeg_read_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

bool EncodeFrom(jpeg_compress_struct& cinfo, ErrorManager& err, const Bitmap& bitmap,
                std::FILE* file, int quality, std::vector<std::uint8_t>& rowBuffer) {
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
    const bool direct = bitmap.BitCount() == 24 || bitmap.BitCount() == 32;
    if (!direct) rowBuffer.resize(static_cast<std::size_t>(bitmap.Width()) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        JSAMPROW row;
        if (direct) {
            row = const_cast<JSAMPROW>(bitmap.Row(y));
        } else {
            for (int x = 0; x < bitmap.Width(); ++x) {
                const RgbQuad q = bitmap.PixelAt(x, y);
                rowBuffer[3 * static_cast<std::size_t>(x)] = q.blue;
                rowBuffer[3 * static_cast<std::size_t>(x) + 1] = q.green;
                rowBuffer[3 * static_cast<std::size_t>(x) + 2] = q.red;
            }
            row = rowBuffer.data();
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

}  // namespace

bool DecodeJpeg(std::span<const std::uint8_t> data, Bitmap& out, std::string* reason) {
    if (data.empty()) return false;
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    InstallErrorManager(err);
    cinfo.err = &err.pub;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = ProgressMonitor;
    std::vector<std::uint8_t> cmykRow;
    const bool ok = DecodeInto(cinfo, err, progress, data, out, cmykRow);
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

bool EncodeJpeg(const Bitmap& bitmap, std::FILE* file, int quality) {
    // JPEG stores 16-bit sides; libjpeg itself refuses more than 65500.
    if (bitmap.Empty() || bitmap.Width() > 65500 || bitmap.Height() > 65500) return false;
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    InstallErrorManager(err);
    cinfo.err = &err.pub;
    std::vector<std::uint8_t> rowBuffer;
    const bool ok = EncodeFrom(cinfo, err, bitmap, file, quality, rowBuffer);
    jpeg_destroy_compress(&cinfo);
    return ok;
}

}  // namespace ozm
