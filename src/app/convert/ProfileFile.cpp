#include "app/convert/ProfileFile.h"

#include <sys/stat.h>

#include "core/text/TextRules.h"
#include "platform/AtomicFile.h"

namespace ozm {

namespace {

std::string_view TrimBlanks(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    return text.substr(b, e - b);
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

// The name of a "[section]" line.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return TrimBlanks(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view key = TrimBlanks(line.substr(0, eq));
    if (key.empty() || key.front() == '[') return std::nullopt;
    std::string_view value = TrimBlanks(line.substr(eq + 1));
    // A value in matching quotes is given without them.
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return KeyLine{key, value};
}

bool IsBlankOrQuote(char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; }

// The value as it goes after "key=": a value whose first or last character the reader
// would strip (a blank, or a quote that could pair with one at the other end) is put in
// double quotes, of which the reader removes exactly one pair.
std::string QuotedForFile(std::string_view value) {
    if (!value.empty() && (IsBlankOrQuote(value.front()) || IsBlankOrQuote(value.back()))) {
        return "\"" + std::string(value) + "\"";
    }
    return std::string(value);
}

std::string TruncateToCharacters(std::string text, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars == maxChars) {
            text.resize(i);
            break;
        }
        ++chars;
    }
    return text;
}

}  // namespace

std::string UnableToWriteMessage(const std::filesystem::path& file) {
    return "Unable to write to " + file.string();
}

bool ProfileFile::Stamp::operator==(const Stamp& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
}

ProfileFile::ProfileFile(std::filesystem::path file) : path_(std::move(file)) {}

ProfileFile::Stamp ProfileFile::CurrentStamp() const {
    Stamp stamp;
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified = st.st_mtim;
    return stamp;
}

void ProfileFile::Refresh(bool force) {
    const Stamp now = CurrentStamp();
    if (!force && stamp_ && *stamp_ == now) return;
    stamp_ = now;
    lines_.clear();
    lineEnd_ = "\n";
    unreadable_ = false;
    const FileContent file = ReadWholeFile(path_, kMaxProfileFileBytes);
    if (file.status == ReadStatus::Missing) return;
    if (file.status == ReadStatus::Failed) {
        unreadable_ = true;
        return;
    }
    // The bytes stay as they are; only a byte-order mark some editors put first goes.
    std::string_view text = file.bytes;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    const std::size_t firstBreak = text.find_first_of("\r\n");
    if (firstBreak != std::string_view::npos && text.substr(firstBreak, 2) == "\r\n") {
        lineEnd_ = "\r\n";
    }
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines_.emplace_back(text.substr(pos));
            break;
        }
        lines_.emplace_back(text.substr(pos, end - pos));
        pos = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
    }
}

ProfileFile::Position ProfileFile::Locate(std::string_view section, std::string_view key) const {
    std::size_t i = 0;
    bool sectionFound = false;
    while (i < lines_.size() && !sectionFound) {
        const auto name = SectionName(lines_[i]);
        sectionFound = name && SameName(*name, section);
        ++i;
    }
    if (!sectionFound) return {lines_.size(), false, false};
    // The section's lines run up to the next section header. A new key goes after the last
    // line that is not blank, so blank lines before the next section stay where they are.
    std::size_t insertAt = i;
    for (; i < lines_.size(); ++i) {
        if (SectionName(lines_[i])) break;
        if (const auto kv = ParseKeyLine(lines_[i]); kv && SameName(kv->key, key)) {
            return {i, true, true};
        }
        if (!TrimBlanks(lines_[i]).empty()) insertAt = i + 1;
    }
    return {insertAt, false, true};
}

std::optional<std::string> ProfileFile::FindValue(std::string_view section,
                                                  std::string_view key) const {
    const Position pos = Locate(section, key);
    if (!pos.keyFound) return std::nullopt;
    return std::string(ParseKeyLine(lines_[pos.index])->value);
}

void ProfileFile::RememberRead(std::string_view section, std::string_view key, std::string value) {
    known_.try_emplace({AsciiLower(section), AsciiLower(key)}, std::move(value));
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) {
    const std::lock_guard lock(mutex_);
    if (auto soon = PendingValue(section, key)) {
        return TruncateToCharacters(*std::move(soon), kMaxProfileTextLength);
    }
    Refresh();
    auto value = FindValue(section, key);
    std::string result = value ? TruncateToCharacters(*std::move(value), kMaxProfileTextLength)
                               : std::string(defaultValue);
    RememberRead(section, key, result);
    return result;
}

std::int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                                      std::int32_t defaultValue) {
    const std::lock_guard lock(mutex_);
    if (const auto soon = PendingValue(section, key)) {
        return ParseWholeNumber(*soon).value_or(defaultValue);
    }
    Refresh();
    const auto value = FindValue(section, key);
    const std::int32_t result =
        value ? ParseWholeNumber(*value).value_or(defaultValue) : defaultValue;
    RememberRead(section, key, std::to_string(result));
    return result;
}

bool ProfileFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) {
    const std::lock_guard lock(mutex_);
    if (const auto soon = PendingValue(section, key)) {
        return ParseWholeNumber(*soon).value_or(defaultValue ? 1 : 0) != 0;
    }
    Refresh();
    const auto value = FindValue(section, key);
    const bool result =
        value ? ParseWholeNumber(*value).value_or(defaultValue ? 1 : 0) != 0 : defaultValue;
    RememberRead(section, key, result ? "1" : "0");
    return result;
}

std::string ProfileFile::Serialize() const {
    std::string out;
    for (const std::string& line : lines_) {
        out += line;
        out += lineEnd_;
    }
    return out;
}

bool ProfileFile::SetLine(std::string_view section, std::string_view key, std::string_view value) {
    const Position pos = Locate(section, key);
    const std::string quoted = QuotedForFile(value);
    if (pos.keyFound) {
        const KeyLine old = *ParseKeyLine(lines_[pos.index]);
        if (old.value == value) return false;
        lines_[pos.index] = std::string(old.key) + "=" + quoted;
    } else if (pos.sectionFound) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(pos.index),
                      std::string(key) + "=" + quoted);
    } else {
        lines_.push_back("[" + std::string(section) + "]");
        lines_.push_back(std::string(key) + "=" + quoted);
    }
    return true;
}

template <typename Apply>
WriteResult ProfileFile::LockedUpdate(Apply&& apply) {
    std::error_code ec;
    const FileLock fileLock(path_, ec);
    if (!fileLock.Locked()) return {UnableToWriteMessage(path_)};
    // Another process may have written since the last look, within the stamp's precision.
    Refresh(true);
    if (unreadable_) return {UnableToWriteMessage(path_)};
    if (!apply()) return {};
    if (!ReplaceFileAtomically(path_, Serialize(), ec)) {
        stamp_.reset();  // lines_ holds what is not on disk: load again next time
        return {UnableToWriteMessage(path_)};
    }
    stamp_ = CurrentStamp();
    return {};
}

WriteResult ProfileFile::WriteString(std::string_view section, std::string_view key,
                                     std::string_view value) {
    return Reported(WriteStringLocked(section, key, value));
}

WriteResult ProfileFile::WriteChangedValues(const std::vector<ProfileValue>& values) {
    return Reported(WriteChangedValuesLocked(values));
}

WriteResult ProfileFile::WriteStringLocked(std::string_view section, std::string_view key,
                                           std::string_view value) {
    // A line break would split the value into lines of its own.
    if (value.find_first_of("\r\n") != std::string_view::npos) {
        return {UnableToWriteMessage(path_)};
    }
    const std::lock_guard lock(mutex_);
    DropPending(section, key);
    WriteResult result = LockedUpdate([&] { return SetLine(section, key, value); });
    if (result.Ok()) known_[{AsciiLower(section), AsciiLower(key)}] = std::string(value);
    return result;
}

WriteResult ProfileFile::WriteChangedValuesLocked(const std::vector<ProfileValue>& values) {
    for (const ProfileValue& v : values) {
        if (v.value.find_first_of("\r\n") != std::string::npos) {
            return {UnableToWriteMessage(path_)};
        }
    }
    const std::lock_guard lock(mutex_);
    for (const ProfileValue& v : values) DropPending(v.section, v.key);
    std::vector<const ProfileValue*> changed;
    for (const ProfileValue& v : values) {
        const auto it = known_.find({AsciiLower(v.section), AsciiLower(v.key)});
        if (it == known_.end() || it->second != v.value) changed.push_back(&v);
    }
    if (changed.empty()) return {};
    return StoreLocked(changed);
}

WriteResult ProfileFile::StoreLocked(const std::vector<const ProfileValue*>& values) {
    WriteResult result = LockedUpdate([&] {
        bool any = false;
        for (const ProfileValue* v : values) any = SetLine(v->section, v->key, v->value) || any;
        return any;
    });
    if (result.Ok()) {
        for (const ProfileValue* v : values) {
            known_[{AsciiLower(v->section), AsciiLower(v->key)}] = v->value;
        }
    }
    return result;
}

ProfileFile::~ProfileFile() {
    {
        const std::lock_guard lock(pendingMutex_);
        stopping_ = true;
    }
    pendingChanged_.notify_all();
    if (writer_.joinable()) writer_.join();
}

std::optional<std::string> ProfileFile::PendingValue(std::string_view section,
                                                     std::string_view key) {
    const std::lock_guard lock(pendingMutex_);
    const auto it = pending_.find({AsciiLower(section), AsciiLower(key)});
    if (it == pending_.end()) return std::nullopt;
    return it->second.value;
}

void ProfileFile::DropPending(std::string_view section, std::string_view key) {
    const std::lock_guard lock(pendingMutex_);
    pending_.erase({AsciiLower(section), AsciiLower(key)});
}

void ProfileFile::WriteSoon(std::string_view section, std::string_view key, std::string value) {
    if (value.find_first_of("\r\n") != std::string::npos) {
        Reported({UnableToWriteMessage(path_)});
        return;
    }
    {
        const std::lock_guard lock(pendingMutex_);
        pending_[{AsciiLower(section), AsciiLower(key)}] =
            Pending{std::string(section), std::string(key), std::move(value)};
        if (!writer_.joinable()) writer_ = std::thread(&ProfileFile::WriteBehind, this);
    }
    pendingChanged_.notify_all();
}

void ProfileFile::Flush() {
    std::unique_lock lock(pendingMutex_);
    pendingChanged_.wait(lock, [&] { return pending_.empty() && !writingPending_; });
}

void ProfileFile::WriteBehind() {
    for (;;) {
        {
            std::unique_lock lock(pendingMutex_);
            pendingChanged_.wait(lock, [&] { return !pending_.empty() || stopping_; });
            if (pending_.empty()) return;
        }
        std::map<KeyName, Pending> batch;
        WriteResult result;
        {
            // Taken under mutex_, so that a write through the other calls, which drops the
            // key from pending_ under the same lock, comes wholly before or after this one.
            const std::lock_guard fileLock(mutex_);
            {
                const std::lock_guard lock(pendingMutex_);
                batch.swap(pending_);
                writingPending_ = true;
            }
            std::vector<ProfileValue> values;
            for (const auto& [name, p] : batch) values.push_back({p.section, p.key, p.value});
            std::vector<const ProfileValue*> all;
            for (const ProfileValue& v : values) all.push_back(&v);
            result = StoreLocked(all);
        }
        Reported(result);
        {
            const std::lock_guard lock(pendingMutex_);
            writingPending_ = false;
        }
        pendingChanged_.notify_all();
    }
}

WriteResult ProfileFile::WriteInteger(std::string_view section, std::string_view key,
                                      std::int32_t value) {
    return WriteString(section, key, std::to_string(value));
}

WriteResult ProfileFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

}  // namespace ozm
