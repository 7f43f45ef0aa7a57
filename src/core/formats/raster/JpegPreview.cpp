#include "core/formats/raster/JpegPreview.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace ozm {

namespace {

// The full decoder's bounds on work: 2^27 block visits over all scans (about 2 s), at most
// 1000 scans. A multi-scan file's coefficients are kept at full size whatever the output
// scale; a preview may take 256 MiB for them (a progressive colour photo of about 85
// megapixels at 4:2:0), a full decode more.
constexpr std::uint64_t kMaxBlockVisits = std::uint64_t{1} << 27;
constexpr int kMaxScans = 1000;
constexpr std::uint64_t kMaxCoefficientBytes = std::uint64_t{256} << 20;

enum class Stop { None, Library, ImageSize, TooCostly, OutOfMemory };

// libjpeg's error_exit must not return: it jumps back to the setjmp of the decode, across
// frames that hold only plain C data.
struct Errors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    Stop stop;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<Errors*>(cinfo->err);
    if (err->stop == Stop::None) err->stop = Stop::Library;
    std::longjmp(err->jump, 1);
}

// A truncated or corrupt file ends the decode rather than showing invented pixels.
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

struct Progress {
    jpeg_progress_mgr pub;
    int lastScan;
    std::uint64_t blockVisits;
};

// Each new scan adds the blocks of its components before any of its data is decoded.
void MonitorProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    auto* progress = reinterpret_cast<Progress*>(cinfo->progress);
    if (d->input_scan_number == progress->lastScan) return;
    progress->lastScan = d->input_scan_number;
    bool tooCostly = d->input_scan_number > kMaxScans;
    for (int i = 0; i < d->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) {
        if (const jpeg_component_info* c = d->cur_comp_info[i])
            progress->blockVisits += std::uint64_t{c->width_in_blocks} * c->height_in_blocks;
    }
    if (tooCostly || progress->blockVisits > kMaxBlockVisits) {
        reinterpret_cast<Errors*>(cinfo->err)->stop = Stop::TooCostly;
        ErrorExit(cinfo);
    }
}

// Bytes of the whole-picture coefficient store of a multi-scan file (0 for one scan).
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

// Adobe CMYK files store inverted ink values; plain CMYK files store ink as is.
void CmykRowToBgr(const JSAMPLE* in, std::uint8_t* out, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x) {
        unsigned c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[3 * x] = static_cast<std::uint8_t>((y * k + 127) / 255);
        out[3 * x + 1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        out[3 * x + 2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    }
}

// Reads the header; with `denominator` > 0 also decodes at that scale into `out`. Nothing
// with a destructor lives between setjmp and a possible longjmp: `cmykRow` is the caller's.
bool Run(jpeg_decompress_struct& cinfo, Errors& err, Progress& progress,
         std::span<const std::uint8_t> data, int denominator, Bitmap* out,
         std::vector<std::uint8_t>& cmykRow) {
    if (setjmp(err.jump)) return false;
    jpeg_create_decompress(&cinfo);  // clears everything but the error manager
    cinfo.progress = &progress.pub;
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
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
    if (CoefficientBytes(cinfo) > kMaxCoefficientBytes) {
        err.stop = Stop::TooCostly;
        return false;
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned>(denominator);
    jpeg_start_decompress(&cinfo);
    const int width = static_cast<int>(cinfo.output_width);
    const int height = static_cast<int>(cinfo.output_height);
    if (!out->Create(width, height, grey ? 8 : 24, false)) {
        err.stop = Stop::OutOfMemory;
        return false;
    }
    if (grey) {
        auto& palette = out->Palette();
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            palette[static_cast<std::size_t>(i)] = RgbQuad{v, v, v, 0};
        }
    }
    const std::size_t used = static_cast<std::size_t>(width) * (grey ? 1 : 3);
    if (out->Stride() > used) {
        for (int y = 0; y < height; ++y) std::memset(out->Row(y) + used, 0, out->Stride() - used);
    }
    if (cmyk) cmykRow.resize(static_cast<std::size_t>(width) * 4);
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW row = cmyk ? cmykRow.data() : out->Row(y);
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) continue;
        if (cmyk) CmykRowToBgr(cmykRow.data(), out->Row(y), cinfo.output_width, inverted);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

std::string StopReason(const Errors& err, const jpeg_decompress_struct& cinfo) {
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
            return "damaged JPEG data";
    }
}

bool Decode(std::span<const std::uint8_t> data, int denominator, Bitmap* out, int* width,
            int* height, std::string* reason) {
    if (data.size() < 2 || data[0] != 0xFF || data[1] != 0xD8)
        return Refuse(reason, "not a JPEG file");
    jpeg_decompress_struct cinfo{};
    Errors err{};
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = EmitMessage;
    err.pub.output_message = SilentOutput;
    err.stop = Stop::None;
    Progress progress{};
    progress.pub.progress_monitor = MonitorProgress;
    progress.lastScan = 0;
    cinfo.err = &err.pub;
    std::vector<std::uint8_t> cmykRow;
    const bool ok = Run(cinfo, err, progress, data, denominator, out, cmykRow);
    if (ok && width) *width = static_cast<int>(cinfo.image_width);
    if (ok && height) *height = static_cast<int>(cinfo.image_height);
    if (!ok) Refuse(reason, StopReason(err, cinfo));
    jpeg_destroy_decompress(&cinfo);
    return ok;
}

}  // namespace

bool ReadJpegSize(std::span<const std::uint8_t> data, int& width, int& height,
                  std::string* reason) {
    return Decode(data, 0, nullptr, &width, &height, reason);
}

bool DecodeJpegScaled(std::span<const std::uint8_t> data, int denominator, Bitmap& out,
                      std::string* reason) {
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
        return Refuse(reason, "scale must be 1, 2, 4 or 8");
    return Decode(data, denominator, &out, nullptr, nullptr, reason);
}

}  // namespace ozm
