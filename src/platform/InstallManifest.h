#pragma once
// The install manifest: every file, link, cache and folder the installer made, so that the
// uninstall removes exactly those, and only while they still hold what the installer put
// there.

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ozm {

struct ManifestEntry {
    enum class Kind { File, Link, Folder, Cache };
    Kind kind = Kind::File;
    std::string value;  // the SHA-256 of a file or cache, the target of a link
    std::filesystem::path path;
};

// The paths an install can have written. A manifest line naming anything else is ignored,
// whatever its hash: a planted or tampered manifest cannot reach the user's own files.
struct ManifestScope {
    std::set<std::filesystem::path> files;    // files, links and caches
    std::set<std::filesystem::path> folders;  // the folders the installer may make for them
    bool Covers(const ManifestEntry& entry) const;
};

// One entry a line: "file<TAB>sha256<TAB>path", "cache<TAB>sha256<TAB>path",
// "link<TAB>target<TAB>path", "dir<TAB><TAB>path". nullopt when the file is missing or
// unreadable; lines that do not parse are skipped.
std::optional<std::vector<ManifestEntry>> ReadInstallManifest(const std::filesystem::path& file);
std::string FormatInstallManifest(const std::vector<ManifestEntry>& entries);

// Deletes what the manifest lists within `scope`, except the paths in `namedElsewhere`: a
// file or cache only while its hash is the recorded one, a link only while it points where it
// did; then the manifest; then the folders the installer made, deepest first, each only when
// empty. False when the manifest exists but could not be read or deleted.
bool RemoveManifestFiles(const std::filesystem::path& manifest, const ManifestScope& scope,
                         const std::set<std::filesystem::path>& namedElsewhere);

// The folders within `scope` the manifest says the installer made, deepest first.
std::vector<std::filesystem::path> ManifestFolders(const std::filesystem::path& manifest,
                                                   const ManifestScope& scope);

}  // namespace ozm
