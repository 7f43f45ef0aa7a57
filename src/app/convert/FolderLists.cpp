#include "app/convert/FolderLists.h"

#include <algorithm>
#include <system_error>

#include "app/convert/OutputNaming.h"
#include "core/formats/ImageFormats.h"
#include "core/text/TextRules.h"

namespace ozm {

namespace {

int DigitValue(char c, bool hex) {
    if (c >= '0' && c <= '9') return c - '0';
    if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

std::int32_t ListSortKey(std::string_view name) {
    const std::string_view head = name.substr(0, 2);
    std::size_t i = 0;
    if (i < head.size() && head[i] == ' ') ++i;
    bool negative = false;
    if (i < head.size() && (head[i] == '-' || head[i] == '+')) {
        negative = head[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < head.size() && (head[i] == '$' || head[i] == 'x' || head[i] == 'X')) {
        hex = true;
        ++i;
    }
    std::int32_t value = 0;
    for (; i < head.size(); ++i) {
        const int digit = DigitValue(head[i], hex);
        if (digit < 0) break;
        value = value * (hex ? 16 : 10) + digit;
    }
    return negative ? -value : value;
}

void SortByListKey(std::vector<std::string>& names) {
    struct Keyed {
        std::int32_t key;
        std::string folded;
        std::string name;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) {
        keyed.push_back({ListSortKey(name), AsciiLower(name), std::move(name)});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.key != b.key) return a.key < b.key;
        if (a.folded != b.folded) return a.folded < b.folded;
        return a.name < b.name;
    });
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = std::move(keyed[i].name);
}

std::vector<std::string> ListImageFiles(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        // Regular files only, a link counting as what it points to: a FIFO would block the
        // reader, and a device, a socket or a dangling link holds no image.
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        std::string name = it->path().filename().string();
        if (IsSupportedImageFile(name)) names.push_back(std::move(name));
    }
    SortByListKey(names);
    return names;
}

FolderLists::FolderLists(SettingsModel& model, ProfileFile& profile, WindowFeedback& feedback,
                         std::string fallbackFolder)
    : model_(model),
      profile_(profile),
      feedback_(feedback),
      fallbackFolder_(std::move(fallbackFolder)) {}

bool FolderLists::EnsureFolder(const std::string& folder) {
    if (TrimControl(folder).empty()) return false;
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return true;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

void FolderLists::RefreshSourceList() {
    FolderSide& side = model_.source;
    side.currentFolder = side.editText;
    NormalizeFolderPath(side.currentFolder);
    side.editText = side.currentFolder;
    if (!EnsureFolder(side.currentFolder)) {
        feedback_.ShowMessage(std::string(kChoosePathMessage));
        side.editText = fallbackFolder_;
        side.currentFolder = fallbackFolder_;
        feedback_.Focus(FocusTarget::EdtPath);
        return;
    }
    // A refresh does not report a settings file it cannot write, nor waits for it.
    profile_.WriteSoon(keys::SourcePath.section, keys::SourcePath.name, side.currentFolder);
    side.list.SetEntries(ListImageFiles(side.currentFolder));
}

void FolderLists::RefreshTargetList() {
    FolderSide& side = model_.target;
    feedback_.StepProgress();
    // Blanks at the ends are part of the folder's name: not trimmed.
    side.currentFolder = side.editText;
    NormalizeFolderPath(side.currentFolder);
    side.editText = side.currentFolder;
    if (!EnsureFolder(side.currentFolder)) {
        side.editText = fallbackFolder_;
        feedback_.ShowMessage(std::string(kChoosePathMessage));
        feedback_.Focus(FocusTarget::EdtOutput);
        return;
    }
    side.list.SetEntries(ListImageFiles(side.currentFolder));
    feedback_.ResetProgress();
}

void FolderLists::SetSourceFolder(std::string_view folder) { SetFolder(ListSide::Source, folder); }

void FolderLists::SetTargetFolder(std::string_view folder) { SetFolder(ListSide::Target, folder); }

void FolderLists::SetFolder(ListSide which, std::string_view folder) {
    const bool source = which == ListSide::Source;
    FolderSide& side = source ? model_.source : model_.target;
    side.currentFolder = folder;
    side.editText = folder;
    model_.dialogFolder = folder;
    if (source)
        RefreshSourceList();
    else
        RefreshTargetList();
    // The folder as given replaces the normalised one the source refresh stored.
    const SettingKey& key = source ? keys::SourcePath : keys::TargetPath;
    WriteReport report;
    report.Add(profile_.WriteString(key.section, key.name, folder));
    side.caption =
        std::string(source ? kSourceCaptionPrefix : kTargetCaptionPrefix) + std::string(folder);
    report.ShowTo(feedback_);
}

std::optional<std::string> FolderLists::ShowPreview(ListSide which) {
    const bool source = which == ListSide::Source;
    FolderSide& side = source ? model_.source : model_.target;
    const std::string* entry = side.list.CurrentEntry();
    if (entry == nullptr) return std::nullopt;
    const std::string& folder = source ? side.currentFolder : side.editText;
    side.currentImage = folder + *entry;
    feedback_.SetHint("");
    side.caption = std::string(source ? kSourceCaptionPrefix : kTargetCaptionPrefix) +
                   std::string(ExtractFilePath(side.currentImage));
    std::optional<std::string> toLoad;
    if (side.previewSwitch && IsRegularFile(side.currentImage)) {
        side.previewPanelVisible = true;
        toLoad = side.currentImage;
    }
    // Stored on every click and every arrow key: the list must not wait for the disk.
    if (source) {
        profile_.WriteSoon(keys::LbDocListInd.section, keys::LbDocListInd.name,
                           std::to_string(side.list.CurrentIndex()));
    }
    return toLoad;
}

std::optional<std::string> FolderLists::ShowSourcePreview() {
    return ShowPreview(ListSide::Source);
}

std::optional<std::string> FolderLists::ShowTargetPreview() {
    return ShowPreview(ListSide::Target);
}

std::optional<std::string> FolderLists::PreviewSwitchClick(ListSide which, bool checked) {
    const bool source = which == ListSide::Source;
    FolderSide& side = source ? model_.source : model_.target;
    side.previewSwitch = checked;
    side.previewPanelVisible = checked;
    side.splitterVisible = checked;
    const SettingKey& key = source ? keys::PreviewSourceImg : keys::TargetImgPreview;
    WriteReport report;
    report.Add(profile_.WriteBool(key.section, key.name, checked));
    std::optional<std::string> toLoad;
    if (checked) toLoad = ShowPreview(which);
    report.ShowTo(feedback_);
    return toLoad;
}

void FolderLists::RestorePreviewSwitches(bool target, bool source) {
    model_.target.previewSwitch = target;
    model_.source.previewSwitch = source;
    model_.target.previewPanelVisible = false;
    model_.source.previewPanelVisible = false;
}

}  // namespace ozm
