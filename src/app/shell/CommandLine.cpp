#include "app/shell/CommandLine.h"

#include "core/formats/ImageFormats.h"
#include "core/text/TextRules.h"

namespace ozm {

namespace {

bool IsControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 1 && u < 32;
}

// `oneEach`: the files came one per argument after "--", as the file managers' hooks pass
// them; then a file the program reads but does not list (".tiff") starts the quick menu too.
StartupDecision ChooseMode(std::vector<std::string> files, bool oneEach = false) {
    StartupDecision decision;
    decision.commandLineFiles = std::move(files);
    if (decision.commandLineFiles.empty()) return decision;
    for (const std::string& file : decision.commandLineFiles) {
        if (IsSupportedImageFile(file) || (oneEach && IsDesktopReadableFile(file))) {
            decision.mode = StartupMode::QuickConversion;
            decision.quickMode = true;
            return decision;
        }
    }
    decision.mode = StartupMode::SilentExit;
    return decision;
}

}  // namespace

std::vector<std::string> ParseCommandLineFiles(std::string_view firstArgument) {
    std::vector<std::string> items;
    const std::string_view text = TrimControl(firstArgument);
    std::size_t p = 0;
    while (p < text.size()) {
        const std::size_t start = p;
        while (p < text.size() && text[p] != '?' && !IsControl(text[p])) ++p;
        items.emplace_back(text.substr(start, p - start));
        while (p < text.size() && IsControl(text[p])) ++p;
        if (p < text.size() && text[p] == '?') {
            if (p + 1 == text.size()) items.emplace_back();
            ++p;
            while (p < text.size() && IsControl(text[p])) ++p;
        }
    }
    return items;
}

StartupDecision DecideStartup(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return ChooseMode({});
    const std::string& first = arguments.front();
    if (first == kFilesFollowArgument) {
        return ChooseMode(std::vector<std::string>(arguments.begin() + 1, arguments.end()), true);
    }
    if (first == kUninstallArgument) {
        StartupDecision decision = ChooseMode(ParseCommandLineFiles(first));
        decision.mode = StartupMode::Uninstall;
        decision.quickMode = false;
        return decision;
    }
    return ChooseMode(ParseCommandLineFiles(first));
}

}  // namespace ozm
