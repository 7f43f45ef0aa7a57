#include "platform/DesktopInstall.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "platform/AtomicFile.h"
#include "platform/FileHash.h"
#include "platform/InstallManifest.h"
#include "platform/ThunarActions.h"
#include "platform/TrustedLauncher.h"

namespace fs = std::filesystem;

namespace ozm {

namespace {

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::string ApplicationEntry(const DesktopLocations& at, std::string_view title) {
    const std::string program = DesktopExecQuote(at.ProgramFile().string());
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=" +
           std::string(title) +
           "\n"
           "GenericName=Batch image converter\n"
           "Comment=Convert pictures to JPG, PNG, BMP, GIF, TIFF, EMF and WMF\n"
           "Exec=" +
           program + "\nIcon=" + std::string(kIconName) +
           "\n"
           "Terminal=false\n"
           "Categories=Graphics;2DGraphics;RasterGraphics;\n"
           "Actions=uninstall;\n"
           "\n"
           "[Desktop Action uninstall]\n"
           "Name=卸载OZM软件\n"
           "Exec=" +
           program + " uninstall\n";
}

class Installer {
  public:
    Installer(const DesktopLocations& at, std::string_view title) : at_(at), title_(title) {
        const ManifestScope scope = InstallScope(at, title);
        if (auto old = ReadInstallManifest(at.Manifest(title))) {
            for (const ManifestEntry& e : *old) {
                if (!scope.Covers(e)) continue;
                if (e.kind == ManifestEntry::Kind::Folder) {
                    std::error_code ec;
                    if (fs::is_directory(fs::symlink_status(e.path, ec))) folders_.insert(e.path);
                } else if (e.kind == ManifestEntry::Kind::Cache) {
                    caches_.push_back(e);
                } else {
                    previous_[e.path] = e;
                }
            }
        }
    }

    InstallReport& Report() { return report_; }

    // Makes `folder` and its missing parents, remembering each folder it made.
    bool EnsureFolder(const fs::path& folder) {
        std::vector<fs::path> missing;
        fs::path walk = folder;
        std::error_code ec;
        while (!walk.empty() && walk != walk.root_path()) {
            const fs::file_status st = fs::status(walk, ec);
            if (fs::is_directory(st)) break;
            if (fs::exists(fs::symlink_status(walk, ec))) {
                report_.errors.push_back("not a folder: " + walk.string());
                return false;
            }
            missing.push_back(walk);
            walk = walk.parent_path();
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            if (::mkdir(it->c_str(), 0755) != 0 && errno != EEXIST) {
                report_.errors.push_back("cannot make the folder " + it->string());
                return false;
            }
            folders_.insert(*it);
        }
        return true;
    }

    // True when the file at `path` holds `bytes` afterwards, written now or already.
    bool PlaceFile(const fs::path& path, std::string_view bytes, mode_t mode) {
        if (HasControlCharacter(path.string())) {
            report_.errors.push_back("refused: the path holds a control character: " +
                                     path.string());
            return false;
        }
        if (!EnsureFolder(path.parent_path())) return false;
        const std::string hash = Sha256Hex(bytes);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISREG(st.st_mode)) {
                report_.foreign.push_back(path);
                return false;
            }
            const std::optional<std::string> current = FileSha256Hex(path);
            if (current && *current == hash) {
                if ((st.st_mode & 07777) != mode) ::chmod(path.c_str(), mode);
                report_.unchanged.push_back(path);
                Record({ManifestEntry::Kind::File, hash, path});
                return true;
            }
            auto earlier = previous_.find(path);
            if (!current || earlier == previous_.end() ||
                earlier->second.kind != ManifestEntry::Kind::File ||
                earlier->second.value != *current) {
                report_.foreign.push_back(path);
                return false;
            }
        }
        std::error_code ec;
        if (!ReplaceFileAtomically(path, bytes, ec) || ::chmod(path.c_str(), mode) != 0) {
            report_.errors.push_back("cannot write " + path.string() + ": " + ec.message());
            return false;
        }
        report_.written.push_back(path);
        Record({ManifestEntry::Kind::File, hash, path});
        return true;
    }

    // A file an earlier install wrote under a name no longer used: deleted while it holds
    // what that install wrote; anything else there stays.
    void RemoveOldFile(const fs::path& path) {
        auto earlier = previous_.find(path);
        if (earlier == previous_.end() || earlier->second.kind != ManifestEntry::Kind::File) return;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
        if (FileSha256Hex(path) != earlier->second.value) return;
        if (::unlink(path.c_str()) == 0) report_.removed.push_back(path);
    }

    void PlaceCopy(const fs::path& source, const fs::path& path, mode_t mode) {
        FileContent content = ReadWholeFile(source, std::size_t{1} << 30);
        if (content.status != ReadStatus::Ok) {
            report_.errors.push_back("cannot read " + source.string());
            return;
        }
        PlaceFile(path, content.bytes, mode);
    }

    void PlaceLink(const fs::path& link, const fs::path& target) {
        if (!EnsureFolder(link.parent_path())) return;
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(link, ec))) {
            const fs::path now = fs::read_symlink(link, ec);
            if (now == target) {
                report_.unchanged.push_back(link);
                Record({ManifestEntry::Kind::Link, target.string(), link});
                return;
            }
            auto earlier = previous_.find(link);
            if (earlier == previous_.end() || earlier->second.value != now.string()) {
                report_.foreign.push_back(link);
                return;
            }
            fs::remove(link, ec);
        } else if (fs::exists(fs::symlink_status(link, ec))) {
            report_.foreign.push_back(link);
            return;
        }
        fs::create_symlink(target, link, ec);
        if (ec) {
            report_.errors.push_back("cannot link " + link.string() + ": " + ec.message());
            return;
        }
        report_.written.push_back(link);
        Record({ManifestEntry::Kind::Link, target.string(), link});
    }

    void PlaceThunarActions(const std::vector<std::string>& handlerNames, const HookFilter& files) {
        const fs::path file = at_.ThunarActions();
        FileContent content = ReadWholeFile(file, kMaxSmallFile);
        if (content.status == ReadStatus::Failed) {
            report_.foreign.push_back(file);
            return;
        }
        std::string text =
            content.status == ReadStatus::Ok ? content.bytes : ThunarActionsStart(at_);
        if (!IsActionsFile(text)) {
            report_.foreign.push_back(file);  // does not parse: left as it is
            return;
        }
        for (const std::string& name : handlerNames) {
            text = WithThunarAction(std::move(text), name,
                                    ThunarActionXml(at_, name, EntryLabel(name), files));
        }
        if (content.status == ReadStatus::Ok && text == content.bytes) {
            report_.unchanged.push_back(file);
            return;
        }
        if (!EnsureFolder(file.parent_path())) return;
        std::error_code ec;
        if (!ReplaceFileAtomically(file, text, ec)) {
            report_.errors.push_back("cannot write " + file.string() + ": " + ec.message());
            return;
        }
        report_.written.push_back(file);
    }

    void WriteManifest() {
        const fs::path manifest = at_.Manifest(title_);
        if (!EnsureFolder(manifest.parent_path())) return;
        // The manifest does not list itself: the uninstall deletes it by name.
        std::vector<ManifestEntry> entries;
        for (const fs::path& folder : folders_) {
            entries.push_back({ManifestEntry::Kind::Folder, "", folder});
        }
        entries.insert(entries.end(), entries_.begin(), entries_.end());
        for (const ManifestEntry& c : caches_) {
            std::error_code ec;
            if (fs::exists(c.path, ec)) entries.push_back(c);
        }
        const std::string bytes = FormatInstallManifest(entries);
        FileContent old = ReadWholeFile(manifest, kMaxSmallFile);
        if (old.status == ReadStatus::Ok && old.bytes == bytes) {
            report_.unchanged.push_back(manifest);
            return;
        }
        std::error_code ec;
        if (!ReplaceFileAtomically(manifest, bytes, ec)) {
            report_.errors.push_back("cannot write " + manifest.string() + ": " + ec.message());
            return;
        }
        report_.written.push_back(manifest);
    }

  private:
    void Record(ManifestEntry entry) { entries_.push_back(std::move(entry)); }

    const DesktopLocations& at_;
    std::string title_;
    InstallReport report_;
    std::map<fs::path, ManifestEntry> previous_;
    std::vector<ManifestEntry> caches_;
    std::set<fs::path> folders_;
    std::vector<ManifestEntry> entries_;
};

}  // namespace

InstallReport InstallDesktopIntegration(const DesktopLocations& at, const InstallSources& from,
                                        std::string_view title) {
    Installer install(at, title);
    if (!from.hooksOnly) {
        install.PlaceCopy(from.programBinary, at.ProgramFile(), 0755);
        if (!from.helpPage.empty())
            install.PlaceCopy(from.helpPage, at.ProgramFolder() / "Help.html", 0644);
        install.PlaceLink(at.BinLink(), at.ProgramFile());
    }

    install.PlaceFile(at.Launcher(kHandlerClassId), LauncherScript(at, from.imageFiles), 0755);
    const std::string fileHandler(kFileHandlerName);
    const std::string folderHandler = FolderHandlerName(kFileHandlerName);
    for (const std::string& name : {fileHandler, folderHandler}) {
        const std::vector<fs::path> hooks = at.HookFiles(name);
        const std::string_view label = EntryLabel(name);
        // Dolphin runs only service menus that may be executed; the scripts must be too.
        if (!from.hooksOnly)
            install.PlaceFile(hooks[0], DolphinServiceMenu(at, name, label, from.imageFiles),
                              0755);
        install.PlaceFile(hooks[1], ScriptHook(at, name), 0755);
        install.PlaceFile(hooks[2], ScriptHook(at, name), 0755);
        if (!from.hooksOnly)
            install.PlaceFile(hooks[3], NemoAction(at, name, label, from.imageFiles), 0644);
        for (const fs::path& old : at.OldHookFiles(name)) install.RemoveOldFile(old);
    }
    install.PlaceThunarActions({fileHandler, folderHandler}, from.imageFiles);
    if (from.hooksOnly) {
        install.WriteManifest();
        return std::move(install.Report());
    }

    install.PlaceFile(at.MenuEntry(title), ApplicationEntry(at, title), 0644);
    const fs::path shortcut = at.DesktopShortcut(title);
    if (install.PlaceFile(shortcut, ApplicationEntry(at, title), 0755)) {
        MarkLauncherTrusted(shortcut);
    }

    const fs::path icons = at.dataHome / "icons" / "hicolor";
    const std::string iconFile(kIconName);
    install.PlaceCopy(from.iconFolder / (iconFile + ".svg"),
                      icons / "scalable" / "apps" / (iconFile + ".svg"), 0644);
    for (int size : kIconSizes) {
        const std::string dim = std::to_string(size) + "x" + std::to_string(size);
        install.PlaceCopy(from.iconFolder / (iconFile + "-" + std::to_string(size) + ".png"),
                          icons / dim / "apps" / (iconFile + ".png"), 0644);
    }
    install.WriteManifest();
    return std::move(install.Report());
}

ManifestScope InstallScope(const DesktopLocations& at, std::string_view title) {
    ManifestScope scope;
    std::vector<fs::path> paths = {at.ProgramFile(),
                                   at.ProgramFolder() / "Help.html",
                                   at.BinLink(),
                                   at.Launcher(kHandlerClassId),
                                   at.MenuEntry(title),
                                   at.DesktopShortcut(title),
                                   at.Applications() / "mimeinfo.cache"};
    for (const std::string& name :
         {std::string(kFileHandlerName), FolderHandlerName(kFileHandlerName)}) {
        for (const fs::path& hook : at.HookFiles(name)) paths.push_back(hook);
        for (const fs::path& hook : at.OldHookFiles(name)) paths.push_back(hook);
    }
    const fs::path icons = at.dataHome / "icons" / "hicolor";
    const std::string iconFile(kIconName);
    paths.push_back(icons / "scalable" / "apps" / (iconFile + ".svg"));
    for (int size : kIconSizes) {
        const std::string dim = std::to_string(size) + "x" + std::to_string(size);
        paths.push_back(icons / dim / "apps" / (iconFile + ".png"));
    }
    // The installer makes the missing folders above each path, but never the home or a
    // folder above it.
    const auto homeOrAbove = [&](const fs::path& folder) {
        const fs::path rel = at.home.lexically_relative(folder);
        return !rel.empty() && *rel.begin() != "..";
    };
    const auto addFolders = [&](const fs::path& path) {
        for (fs::path folder = path.parent_path();
             folder != folder.root_path() && !folder.empty() && !homeOrAbove(folder);
             folder = folder.parent_path()) {
            scope.folders.insert(folder);
        }
    };
    for (const fs::path& path : paths) {
        scope.files.insert(path);
        addFolders(path);
    }
    // uca.xml holds other programs' actions and the manifest goes by name: their folders only.
    addFolders(at.ThunarActions());
    addFolders(at.Manifest(title));
    return scope;
}

void AddCacheToManifest(const DesktopLocations& at, std::string_view title,
                        const fs::path& cacheFile) {
    const fs::path manifest = at.Manifest(title);
    std::optional<std::vector<ManifestEntry>> entries = ReadInstallManifest(manifest);
    std::optional<std::string> hash = FileSha256Hex(cacheFile);
    if (!entries || !hash) return;
    std::erase_if(*entries, [&](const ManifestEntry& e) { return e.path == cacheFile; });
    entries->push_back({ManifestEntry::Kind::Cache, *hash, cacheFile});
    std::error_code ec;
    ReplaceFileAtomically(manifest, FormatInstallManifest(*entries), ec);
}

}  // namespace ozm
