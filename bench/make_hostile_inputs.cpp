// Writes the hostile inputs of hostile_inputs.sh into a folder: files that are small or
// sparse on disk but ask a reader for a great deal of time or memory.
//   progressive_883.jpg  16384 x 16384 grey, 883 valid scans (DC, then each AC coefficient
//                        with 13 successive-approximation refinements), under 1 MB
//   progressive_5.jpg    the same picture with an ordinary 5-scan progression
//   sparse_2g.bmp        2 GiB, all zero bytes, a hole on disk
//   sparse_1g_header.bmp 1 GiB: a valid header of a 64 x 64 24-bit picture, its pixels,
//                        then a hole

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/formats/raster/FlatProgressiveJpeg.h"

namespace {

bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_hostile_inputs FOLDER\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    using ozm::test::FlatJpegWriter;
    FlatJpegWriter writer;
    bool ok =
        WriteFile(dir / "progressive_883.jpg",
                  writer.Write(16384, 16384, 1, FlatJpegWriter::CoefficientByCoefficient(13)));
    ok = ok && WriteFile(dir / "progressive_5.jpg",
                         writer.Write(16384, 16384, 1, FlatJpegWriter::Ordinary()));

    std::error_code ec;
    {
        std::ofstream(dir / "sparse_2g.bmp", std::ios::binary | std::ios::trunc);
        std::filesystem::resize_file(dir / "sparse_2g.bmp", std::uint64_t{2} << 30, ec);
        ok = ok && !ec;
    }
    {
        constexpr std::uint32_t side = 64, pixels = side * side * 3;
        std::vector<std::uint8_t> bmp(54 + pixels, 0x80);
        bmp[0] = 'B';
        bmp[1] = 'M';
        Put32(bmp, 2, 54 + pixels);
        Put32(bmp, 6, 0);
        Put32(bmp, 10, 54);
        Put32(bmp, 14, 40);
        Put32(bmp, 18, side);
        Put32(bmp, 22, side);
        Put32(bmp, 26, 1 | (24 << 16));
        for (std::size_t i = 30; i < 54; ++i) bmp[i] = 0;
        ok = ok && WriteFile(dir / "sparse_1g_header.bmp", bmp);
        std::filesystem::resize_file(dir / "sparse_1g_header.bmp", std::uint64_t{1} << 30, ec);
        ok = ok && !ec;
    }
    if (!ok) std::fprintf(stderr, "make_hostile_inputs: cannot write into %s\n", argv[1]);
    return ok ? 0 : 1;
}
