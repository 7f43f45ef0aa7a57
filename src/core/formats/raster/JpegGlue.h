#pragma once
// The one libjpeg decode path, shared by the full decoder (JpegCodec) and the preview decoder
// (JpegPreview). The library, its error manager and the setjmp/longjmp error path live only in
// JpegCodec.cpp.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/bitmap/Bitmap.h"

namespace ozm {

struct JpegDecodeRequest {
    // 1, 2, 4 or 8: decode at 1/`denominator` of the full size, each side rounded up. The
    // caller checks the value. Ignored when no bitmap is asked for.
    int denominator = 1;
    // A multi-scan file keeps every coefficient at full size whatever the scale; it is refused
    // ("progressive JPEG too costly to decode") when they take more than this many bytes,
    // together with the full-size bitmap when `countBitmap`.
    std::uint64_t maxMultiScanBytes = 0;
    bool countBitmap = false;
    // When given: receives the payload of the first APP1 segment that starts with "Exif\0\0"
    // (that header included), or is emptied when there is none.
    std::vector<std::uint8_t>* exif = nullptr;
};

// Reads the header of `data` and, with `out`, decodes the picture into it (24 bits per pixel
// in blue, green, red order for colour, CMYK and YCCK; 8 bits with 256 greys for greyscale).
// On success `width` and `height`, when given, receive the picture's full size. The scan
// budget (1000 scans, 2^27 block visits) applies to every decode.
bool DecodeJpegRequest(std::span<const std::uint8_t> data, const JpegDecodeRequest& request,
                       Bitmap* out, int* width, int* height, std::string* reason);

}  // namespace ozm
