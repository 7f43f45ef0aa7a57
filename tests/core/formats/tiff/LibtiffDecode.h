#pragma once
// Second opinion on TIFF files for the TIFF tests: libtiff, reached through its command-line
// tools.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace ozm::test {

inline std::string RunAndCapture(const std::string& cmd) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
    std::string out;
    if (!pipe) return out;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) out.append(buf, n);
    return out;
}

// False, with the reason, when the tools below are not installed.
inline bool HaveLibtiffTools(std::string& why) {
    why = "tiffinfo, tiff2rgba (libtiff-tools) or convert (imagemagick) is not installed";
    return HaveTool("tiffinfo") && HaveTool("tiff2rgba") && HaveTool("convert");
}

// Page `page` of the file as libtiff decodes it: tiff2rgba turns every page into RGBA with
// libtiff's own decoder, and convert hands that page over as a PPM. nullopt with `why` when
// libtiff refuses the file.
inline std::optional<RgbImage> DecodeWithLibtiff(const std::filesystem::path& file, int page,
                                                 std::string& why) {
    ScratchDir dir;
    const std::string rgba = (dir / "rgba.tif").string();
    const std::string out = RunAndCapture("tiff2rgba -c none '" + file.string() + "' '" + rgba +
                                          "' 2>/dev/null && convert '" + rgba + "[" +
                                          std::to_string(page) + "]' -depth 8 ppm:- 2>/dev/null");
    RgbImage img;
    int maxValue = 0, header = 0;
    if (std::sscanf(out.c_str(), "P6 %d %d %d%n", &img.width, &img.height, &maxValue, &header) !=
            3 ||
        maxValue != 255 ||
        out.size() != header + 1 + static_cast<std::size_t>(img.width) * img.height * 3) {
        why = "libtiff refused " + file.string();
        return std::nullopt;
    }
    img.rgb.assign(out.begin() + header + 1, out.end());
    return img;
}

// libtiff's own check of a file: `tiffinfo -D` reads every directory and its data. Empty when
// the file passes (exit status 0, no error and no warning); otherwise what tiffinfo said.
inline std::string TiffinfoComplaints(const std::filesystem::path& file) {
    const std::string out = RunAndCapture("out=$(tiffinfo -D '" + file.string() +
                                          "' 2>&1 >/dev/null); status=$?; printf '%s\\n' \"$out\" "
                                          "| grep -v -e '^$'; echo \"exit=$status\"");
    return out == "exit=0\n" ? std::string() : out;
}

// ImageMagick's strict reading (`identify -regard-warnings`), which fails on any warning of
// libtiff. Empty when every file passes; otherwise what identify said.
inline std::string StrictImageMagickComplaints(const std::vector<std::filesystem::path>& files) {
    std::string cmd = "identify -regard-warnings";
    for (const auto& f : files) cmd += " '" + f.string() + "'";
    const std::string out = RunAndCapture(cmd + " 2>&1 >/dev/null && echo ok");
    return out == "ok\n" ? std::string() : out;
}

}  // namespace ozm::test
