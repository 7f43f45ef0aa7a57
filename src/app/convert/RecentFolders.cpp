#include "app/convert/RecentFolders.h"

#include <algorithm>
#include <optional>

#include "app/convert/OutputNaming.h"
#include "core/text/TextRules.h"
#include "platform/AtomicFile.h"

namespace ozm {

namespace {

// Ten folder lines are a few kilobytes; anything far larger is not this program's file.
constexpr std::size_t kMaxHistoryFileBytes = 1024 * 1024;

std::string Normalized(std::string_view folder) {
    std::string text(folder);
    NormalizeFolderPath(text);
    return text;
}

// The folder as the list keeps it, or nothing when it cannot be an entry: a blank text, or
// one holding a line break (it would split into two lines of the file).
std::optional<std::string> Entry(std::string_view folder) {
    std::string wanted = Normalized(folder);
    if (TrimControl(wanted).empty() || wanted.find_first_of("\r\n") != std::string::npos) {
        return std::nullopt;
    }
    return wanted;
}

// The list's own insertion rule on a normalised entry.
bool Insert(std::vector<std::string>& items, const std::string& wanted) {
    for (const std::string& item : items) {
        if (Normalized(item) == wanted) return false;
    }
    items.insert(items.begin(), wanted);
    if (items.size() > kMaxRecentFolders) items.pop_back();
    return true;
}

// The lines of the file, byte for byte: blank lines skipped, the first ten kept.
std::vector<std::string> ParseLines(std::string_view text) {
    std::vector<std::string> items;
    std::size_t pos = 0;
    while (pos < text.size() && items.size() < kMaxRecentFolders) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        if (!TrimControl(line).empty()) items.emplace_back(line);
        pos = end + 1;
    }
    return items;
}

}  // namespace

bool RecentFolders::AddRecentFolder(std::string_view folder) {
    const std::optional<std::string> wanted = Entry(folder);
    if (!wanted) return false;
    if (std::find(added_.begin(), added_.end(), *wanted) == added_.end()) {
        added_.push_back(*wanted);
    }
    return Insert(items_, *wanted);
}

void RecentFolders::Load(const std::filesystem::path& file) {
    items_.clear();
    added_.clear();
    const FileContent content = ReadWholeFile(file, kMaxHistoryFileBytes);
    if (content.status == ReadStatus::Ok) items_ = ParseLines(content.bytes);
}

WriteResult RecentFolders::Save(const std::filesystem::path& file) const {
    std::error_code ec;
    const FileLock lock(file, ec);
    if (!lock.Locked()) return {UnableToWriteMessage(file)};
    // Another process may have saved its folders since this one loaded the list: its list
    // is the base, with this process's folders added on top by the list's own rule. A file
    // that is there but cannot be loaded is left alone.
    const FileContent content = ReadWholeFile(file, kMaxHistoryFileBytes);
    if (content.status == ReadStatus::Failed) return {UnableToWriteMessage(file)};
    std::vector<std::string> items;
    if (content.status == ReadStatus::Ok) items = ParseLines(content.bytes);
    for (const std::string& folder : added_) Insert(items, folder);
    std::string text;
    for (const std::string& item : items) {
        text += item;
        text += '\n';
    }
    if (!ReplaceFileAtomically(file, text, ec)) return {UnableToWriteMessage(file)};
    return {};
}

}  // namespace ozm
