#include "app/convert/OutputNaming.h"

#include <sys/stat.h>

#include "core/text/TextRules.h"

namespace ozm {

namespace {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(from, pos)) != std::string::npos;
         pos = hit + from.size()) {
        out.append(text, pos, hit - pos);
        out += to;
    }
    out.append(text, pos, std::string::npos);
    text = std::move(out);
}

}  // namespace

bool IsExistingFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsNameTaken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::optional<std::string> MakeUniqueOutputPath(std::string_view folder,
                                                std::string_view fileName) {
    return MakeUniqueOutputPath(folder, fileName, IsNameTaken);
}

std::optional<std::string> MakeUniqueOutputPath(
    std::string_view folder, std::string_view fileName,
    const std::function<bool(const std::string& path)>& isTaken) {
    std::string joined(folder);
    joined += fileName;
    if (!isTaken(joined)) return joined;
    const std::string ext(ExtractFileExt(joined));
    const std::string stem = joined.substr(0, joined.size() - ext.size());
    for (int i = 1; i <= kMaxNumberedNames; ++i) {
        std::string candidate = stem + "(" + std::to_string(i) + ")" + ext;
        if (!isTaken(candidate)) return candidate;
    }
    return std::nullopt;
}

void NormalizeFolderPath(std::string& folder) {
    // Blanks at either end are part of a name here ("x " and "x" are two folders), so the
    // text is never trimmed; only a text of nothing but blanks counts as no folder.
    if (TrimControl(folder).empty()) return;
    std::string out = folder;
    out += '/';
    ReplaceAll(out, "///", "/");
    ReplaceAll(out, "//", "/");
    folder = std::move(out);
}

}  // namespace ozm
