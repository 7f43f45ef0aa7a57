#include "platform/InstallManifest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "platform/AtomicFile.h"
#include "platform/DesktopIntegration.h"
#include "platform/FileHash.h"
#include "platform/ProgramFolder.h"

namespace fs = std::filesystem;

namespace ozm {

bool ManifestScope::Covers(const ManifestEntry& entry) const {
    return entry.kind == ManifestEntry::Kind::Folder ? folders.count(entry.path) != 0
                                                     : files.count(entry.path) != 0;
}

std::string FormatInstallManifest(const std::vector<ManifestEntry>& entries) {
    std::string out = "# ozm-imgconv install manifest: kind, hash or link target, path\n";
    for (const ManifestEntry& e : entries) {
        switch (e.kind) {
            case ManifestEntry::Kind::File:
                out += "file";
                break;
            case ManifestEntry::Kind::Cache:
                out += "cache";
                break;
            case ManifestEntry::Kind::Link:
                out += "link";
                break;
            case ManifestEntry::Kind::Folder:
                out += "dir";
                break;
        }
        out += "\t" + e.value + "\t" + e.path.string() + "\n";
    }
    return out;
}

std::optional<std::vector<ManifestEntry>> ReadInstallManifest(const fs::path& file) {
    FileContent content = ReadWholeFile(file, kMaxSmallFile);
    if (content.status != ReadStatus::Ok) return std::nullopt;
    std::vector<ManifestEntry> entries;
    std::size_t pos = 0;
    const std::string& text = content.bytes;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos) continue;
        const std::string_view kind = line.substr(0, tab1);
        ManifestEntry e;
        if (kind == "file") {
            e.kind = ManifestEntry::Kind::File;
        } else if (kind == "cache") {
            e.kind = ManifestEntry::Kind::Cache;
        } else if (kind == "link") {
            e.kind = ManifestEntry::Kind::Link;
        } else if (kind == "dir") {
            e.kind = ManifestEntry::Kind::Folder;
        } else {
            continue;
        }
        e.value = std::string(line.substr(tab1 + 1, tab2 - tab1 - 1));
        e.path = std::string(line.substr(tab2 + 1));
        // Only absolute paths: a damaged line must not name something under the current folder.
        if (!e.path.is_absolute()) continue;
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<fs::path> ManifestFolders(const fs::path& manifest, const ManifestScope& scope) {
    std::vector<fs::path> folders;
    if (auto entries = ReadInstallManifest(manifest)) {
        for (const ManifestEntry& e : *entries) {
            if (e.kind == ManifestEntry::Kind::Folder && scope.Covers(e)) folders.push_back(e.path);
        }
    }
    // Deepest first: a folder before its parent.
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
        const auto depth = [](const fs::path& p) { return std::distance(p.begin(), p.end()); };
        return depth(a) != depth(b) ? depth(a) > depth(b) : a < b;
    });
    return folders;
}

bool RemoveManifestFiles(const fs::path& manifest, const ManifestScope& scope,
                         const std::set<fs::path>& namedElsewhere) {
    std::optional<std::vector<ManifestEntry>> entries = ReadInstallManifest(manifest);
    if (!entries) {
        std::error_code ec;
        return !fs::exists(fs::symlink_status(manifest, ec));
    }
    for (const ManifestEntry& e : *entries) {
        // A damaged or planted manifest must not reach into the system's own folders.
        if (!scope.Covers(e) || namedElsewhere.count(e.path) != 0 ||
            IsSystemFolder(e.path.parent_path())) {
            continue;
        }
        struct stat st {};
        if (::lstat(e.path.c_str(), &st) != 0) continue;
        if (e.kind == ManifestEntry::Kind::File || e.kind == ManifestEntry::Kind::Cache) {
            if (!S_ISREG(st.st_mode) || FileSha256Hex(e.path) != e.value) continue;
            ::unlink(e.path.c_str());
        } else if (e.kind == ManifestEntry::Kind::Link) {
            std::error_code ec;
            if (!S_ISLNK(st.st_mode) || fs::read_symlink(e.path, ec).string() != e.value) continue;
            ::unlink(e.path.c_str());
        }
    }
    const std::vector<fs::path> folders = ManifestFolders(manifest, scope);
    if (::unlink(manifest.c_str()) != 0 && errno != ENOENT) return false;
    for (const fs::path& folder : folders) {
        if (namedElsewhere.count(folder) == 0 && !IsSystemFolder(folder)) {
            RemoveFolderIfEmpty(folder);
        }
    }
    return true;
}

}  // namespace ozm
