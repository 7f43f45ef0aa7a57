// ozmconv: the headless batch converter. Same engine and same results as the desktop program.
//
//   ozmconv [--to LIST] [--out DIR] [--quality N] FILE...
//
// Exit status: 0 when every file was written in every format, 1 when anything failed,
// 2 on a usage error.

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/convert/OutputNaming.h"
#include "core/bitmap/Bitmap.h"
#include "core/formats/ImageFormats.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/text/TextRules.h"

namespace {

using namespace ozm;

constexpr const char* kUsage =
    "usage: ozmconv [--to LIST] [--out DIR] [--quality N] FILE...\n"
    "  --to LIST     comma list of bmp, jpg, jpeg, png, emf, wmf, gif, tif (default jpg)\n"
    "  --out DIR     folder for the converted files (default: each file's own folder)\n"
    "  --quality N   JPEG quality 1..100 (default 75)\n";

struct CliOptions {
    std::array<bool, 8> formats{};  // by row of OutputFormatTable
    std::string outFolder;          // empty: each file's own folder
    int quality = 75;
    std::vector<std::string> files;
};

int UsageError(const std::string& why) {
    std::fprintf(stderr, "ozmconv: %s\n%s", why.c_str(), kUsage);
    return 2;
}

bool ParseFormats(std::string_view list, std::array<bool, 8>& formats) {
    formats.fill(false);
    bool any = false;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string item = AsciiLower(TrimControl(list.substr(0, comma)));
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        if (item.empty()) continue;
        const std::string_view name = item == "tiff" ? std::string_view("tif") : item;
        bool found = false;
        const auto& table = OutputFormatTable();
        for (std::size_t i = 0; i < table.size(); ++i) {
            if (table[i].extension.substr(1) == name) {
                formats[i] = true;
                found = any = true;
            }
        }
        if (!found) return false;
    }
    return any;
}

// Returns -1 when parsing succeeded, else the exit code.
int ParseArguments(int argc, char** argv, CliOptions& options) {
    options.formats[1] = true;  // JPG
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view name) -> const char* {
            if (i + 1 >= argc) return nullptr;
            (void)name;
            return argv[++i];
        };
        if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
            options.files.emplace_back(arg);
        } else if (arg == "--") {
            onlyFiles = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--to") {
            const char* v = value(arg);
            if (!v || !ParseFormats(v, options.formats)) return UsageError("bad --to list");
        } else if (arg == "--out") {
            const char* v = value(arg);
            if (!v || !*v) return UsageError("--out needs a folder");
            options.outFolder = v;
            NormalizeFolderPath(options.outFolder);
        } else if (arg == "--quality") {
            const char* v = value(arg);
            const auto q = v ? ParseWholeNumber(v) : std::nullopt;
            if (!q || *q < 1 || *q > 100) return UsageError("--quality needs a number 1..100");
            options.quality = *q;
        } else if (arg == "--resize" || arg == "--scale" || arg == "--rotate" || arg == "--jobs") {
            return UsageError(std::string(arg) + " is not available in this version");
        } else {
            return UsageError("unknown option " + std::string(arg));
        }
    }
    if (options.files.empty()) return UsageError("no files given");
    return -1;
}

// Converts one file in every chosen format; true when every format was written.
bool ConvertFile(const std::string& source, const CliOptions& options) {
    Bitmap bitmap;
    const MessageCallback onMessage = [&](const std::string& text) {
        std::fprintf(stderr, "ozmconv: %s: %s\n", source.c_str(), text.c_str());
    };
    if (!ReadImageFile(source, bitmap, onMessage)) {
        std::fprintf(stderr, "ozmconv: %s: cannot read\n", source.c_str());
        return false;
    }
    std::string folder = options.outFolder;
    if (folder.empty()) {
        folder = std::string(ExtractFilePath(source));
        if (folder.empty()) folder = "./";
    }
    const std::string baseName(ExtractFileName(source));
    WriteSettings settings;
    settings.jpegQuality = options.quality;
    settings.replaceExisting = false;
    bool ok = true;
    const auto& table = OutputFormatTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (!options.formats[i]) continue;
        const std::string name = ChangeFileExt(baseName, table[i].extension);
        const auto target = MakeUniqueOutputPath(folder, name);
        if (!target || !WriteImageFile(bitmap, *target, table[i].code, settings)) {
            std::fprintf(stderr, "ozmconv: %s: cannot write %s\n", source.c_str(),
                         target ? target->c_str() : (folder + name + " (all numbered names taken)").c_str());
            ok = false;
            continue;
        }
        std::printf("%s\n", target->c_str());
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    if (const int code = ParseArguments(argc, argv, options); code >= 0) return code;
    bool allOk = true;
    for (const std::string& file : options.files) allOk = ConvertFile(file, options) && allOk;
    std::fflush(stdout);
    return allOk ? 0 : 1;
}
