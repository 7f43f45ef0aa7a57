// The codec floor: for each JPEG file given, the library calls a conversion cannot avoid
// (read the file, decode it with libjpeg-turbo to BGR rows, encode with the same settings as
// ozmconv) and nothing else. Usage: codec_floor png|jpg OUTDIR FILE...

// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <png.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Image {
    unsigned width = 0, height = 0;
    std::vector<unsigned char> bgr;
};

Image DecodeJpegFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    Image img;
    img.width = cinfo.output_width;
    img.height = cinfo.output_height;
    const std::size_t stride = (img.width * 3 + 3) & ~3u;
    img.bgr.resize(stride * img.height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[16];
        unsigned n = std::min(16u, cinfo.output_height - cinfo.output_scanline);
        for (unsigned i = 0; i < n; ++i)
            rows[i] = img.bgr.data() + stride * (cinfo.output_scanline + i);
        jpeg_read_scanlines(&cinfo, rows, n);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return img;
}

void WriteJpeg(const Image& img, std::FILE* f) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = img.width;
    cinfo.image_height = img.height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t stride = (img.width * 3 + 3) & ~3u;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(img.bgr.data() + stride * cinfo.next_scanline);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
}

void WritePng(const Image& img, std::FILE* f) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, img.width, img.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    png_set_bgr(png);
    const std::size_t stride = (img.width * 3 + 3) & ~3u;
    for (unsigned y = 0; y < img.height; ++y) png_write_row(png, img.bgr.data() + stride * y);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: codec_floor png|jpg OUTDIR FILE...\n");
        return 2;
    }
    const std::string kind = argv[1];
    for (int i = 3; i < argc; ++i) {
        const Image img = DecodeJpegFile(argv[i]);
        const std::string out = std::string(argv[2]) + "/floor" + std::to_string(i) + "." + kind;
        std::FILE* f = std::fopen(out.c_str(), "wb");
        if (kind == "png")
            WritePng(img, f);
        else
            WriteJpeg(img, f);
        std::fclose(f);
    }
    return 0;
}
