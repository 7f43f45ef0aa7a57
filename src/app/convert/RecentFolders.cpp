#include "app/convert/RecentFolders.h"

#include "app/convert/OutputNaming.h"
#include "core/text/TextRules.h"
#include "platform/AtomicFile.h"
#include "platform/TextEncoding.h"

namespace ozm {

namespace {

// Ten folder lines are a few kilobytes; anything far larger is not this program's file.
constexpr std::size_t kMaxHistoryFileBytes = 1024 * 1024;

std::string Normalized(std::string_view folder) {
    std::string text(folder);
    NormalizeFolderPath(text);
    return text;
}

}  // namespace

bool RecentFolders::AddRecentFolder(std::string_view folder) {
    const std::string wanted = Normalized(folder);
    // A line break would split the folder into two lines of the history file.
    if (TrimControl(wanted).empty() || wanted.find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    for (const std::string& item : items_) {
        if (Normalized(item) == wanted) return false;
    }
    items_.insert(items_.begin(), wanted);
    if (items_.size() > kMaxRecentFolders) items_.pop_back();
    return true;
}

void RecentFolders::Load(const std::filesystem::path& file) {
    items_.clear();
    const FileContent content = ReadWholeFile(file, kMaxHistoryFileBytes);
    if (content.status != ReadStatus::Ok) return;
    const std::string text = DecodeSettingsText(content.bytes);
    std::size_t pos = 0;
    while (pos < text.size() && items_.size() < kMaxRecentFolders) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = std::string_view(text).substr(pos, end - pos);
        if (!TrimControl(line).empty()) items_.emplace_back(line);
        pos = end + 1;
    }
}

WriteResult RecentFolders::Save(const std::filesystem::path& file) const {
    std::string text;
    for (const std::string& item : items_) {
        text += item;
        text += '\n';
    }
    std::error_code ec;
    if (!ReplaceFileAtomically(file, text, ec)) return {UnableToWriteMessage(file)};
    return {};
}

}  // namespace ozm
