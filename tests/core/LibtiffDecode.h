#pragma once
// Second opinion on TIFF files for the TIFF tests: libtiff, reached through its command-line
// tools.

#include <cctype>
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

// Page `page` of the file as libtiff decodes it: tiff2rgba turns every page into RGBA with
// libtiff's own decoder, and convert hands that page over as a PPM. nullopt with `why` when a
// tool is missing or refuses the file.
inline std::optional<RgbImage> DecodeWithLibtiff(const std::filesystem::path& file, int page,
                                                 std::string& why) {
    if (!HaveTool("tiff2rgba") || !HaveTool("convert")) {
        why = "tiff2rgba (libtiff-tools) or convert (imagemagick) is not installed";
        return std::nullopt;
    }
    ScratchDir dir;
    const std::string rgba = (dir / "rgba.tif").string();
    const std::string out = RunAndCapture("tiff2rgba -c none '" + file.string() + "' '" + rgba +
                                          "' 2>/dev/null && convert '" + rgba + "[" +
                                          std::to_string(page) + "]' -depth 8 ppm:- 2>/dev/null");
    // P6, width, height, maximum value, each after blanks or "#" comments, then one blank.
    std::size_t at = 0;
    const auto token = [&]() -> std::string {
        while (at < out.size()) {
            if (out[at] == '#') {
                while (at < out.size() && out[at] != '\n') ++at;
            } else if (std::isspace(static_cast<unsigned char>(out[at]))) {
                ++at;
            } else {
                break;
            }
        }
        const std::size_t start = at;
        while (at < out.size() && !std::isspace(static_cast<unsigned char>(out[at]))) ++at;
        return out.substr(start, at - start);
    };
    RgbImage img;
    if (token() != "P6") {
        why = "libtiff refused " + file.string();
        return std::nullopt;
    }
    img.width = std::atoi(token().c_str());
    img.height = std::atoi(token().c_str());
    const bool eightBit = token() == "255";
    ++at;
    const std::size_t size = static_cast<std::size_t>(img.width) * img.height * 3;
    if (!eightBit || at + size != out.size()) {
        why = "convert gave an unexpected image for " + file.string();
        return std::nullopt;
    }
    img.rgb.assign(out.begin() + static_cast<std::ptrdiff_t>(at), out.end());
    return img;
}

// libtiff's own check of a file: `tiffinfo -D` reads every directory and its data. Empty when
// the file passes (exit status 0, no error); otherwise what tiffinfo said. Warnings do not
// count: the Software string of our files has no terminating NUL, which libtiff mentions.
inline std::string TiffinfoComplaints(const std::filesystem::path& file) {
    const std::string out = RunAndCapture("out=$(tiffinfo -D '" + file.string() +
                                          "' 2>&1 >/dev/null); status=$?; printf '%s\\n' \"$out\" "
                                          "| grep -v -e Warning -e '^$'; echo \"exit=$status\"");
    return out == "exit=0\n" ? std::string() : out;
}

}  // namespace ozm::test
