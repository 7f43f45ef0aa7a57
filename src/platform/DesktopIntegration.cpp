#include "platform/DesktopIntegration.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "platform/AtomicFile.h"
#include "platform/ProgramFolder.h"
#include "platform/SpecialFolders.h"
#include "platform/ThunarActions.h"

namespace fs = std::filesystem;

namespace ozm {

namespace {

bool IsEmptyFolder(const fs::path& folder) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(folder, ec)) && fs::is_empty(folder, ec) && !ec;
}

// Removes `file` (not a folder); then its parent and grandparent, each only when empty.
void RemoveWithEmptyParents(const fs::path& file, int parents) {
    if (IsSystemFolder(file.parent_path())) return;  // never in the system's own folders
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) return;
    fs::path folder = file.parent_path();
    for (int i = 0; i < parents && IsEmptyFolder(folder); ++i) {
        if (!RemoveFolderIfEmpty(folder)) return;
        folder = folder.parent_path();
    }
}

}  // namespace

std::string FolderHandlerName(std::string_view fileHandlerName) {
    return std::string(fileHandlerName) + std::string(kFolderHandlerSuffix);
}

bool IsFolderHandler(std::string_view handlerName) {
    return handlerName.ends_with(kFolderHandlerSuffix);
}

std::string_view EntryLabel(std::string_view handlerName) {
    return IsFolderHandler(handlerName) ? kFolderEntryLabel : kFileEntryLabel;
}

bool RemoveFolderIfEmpty(const fs::path& folder) { return ::rmdir(folder.c_str()) == 0; }

// ---- Locations -------------------------------------------------------------------------------

DesktopLocations DesktopLocations::FromEnvironment() {
    DesktopLocations at{HomeFolder(), DataHome(), ConfigHome(), UserDirPath(UserDir::Desktop)};
    // Relative entries are invalid and skipped, as the base directory rules say.
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    const std::string list = dirs != nullptr && dirs[0] != '\0' ? dirs : "/etc/xdg";
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t end = list.find(':', pos);
        if (end == std::string::npos) end = list.size();
        const fs::path dir = list.substr(pos, end - pos);
        if (dir.is_absolute()) at.configDirs.push_back(dir);
        pos = end + 1;
    }
    return at;
}

fs::path DesktopLocations::ProgramFolder() const { return home / ".local" / "lib" / "ozm-imgconv"; }
fs::path DesktopLocations::ProgramFile() const { return ProgramFolder() / kProgramFileName; }
fs::path DesktopLocations::BinLink() const { return home / ".local" / "bin" / kProgramFileName; }
fs::path DesktopLocations::ClassFolder(std::string_view classId) const {
    return dataHome / "ozm-imgconv" / classId;
}
fs::path DesktopLocations::Launcher(std::string_view classId) const {
    return ClassFolder(classId) / "launch";
}
fs::path DesktopLocations::Applications() const { return dataHome / "applications"; }
fs::path DesktopLocations::Autostart() const { return configHome / "autostart"; }
fs::path DesktopLocations::Manifest(std::string_view title) const {
    return dataHome / "ozm-imgconv" / (std::string(title) + ".manifest");
}
fs::path DesktopLocations::MenuEntry(std::string_view title) const {
    return Applications() / kMakerFolderName / (std::string(title) + ".desktop");
}
fs::path DesktopLocations::DesktopShortcut(std::string_view title) const {
    return desktop / kMakerFolderName / (std::string(title) + ".desktop");
}
fs::path DesktopLocations::ThunarActions() const { return configHome / "Thunar" / "uca.xml"; }

fs::path DesktopLocations::SystemThunarActions() const {
    for (const fs::path& dir : configDirs) {
        std::error_code ec;
        const fs::path file = dir / "Thunar" / "uca.xml";
        if (fs::is_regular_file(file, ec)) return file;
    }
    return {};
}

std::vector<fs::path> DesktopLocations::HookFiles(std::string_view handlerName) const {
    const std::string name(handlerName);
    const std::string label(EntryLabel(handlerName));
    return {dataHome / "kio" / "servicemenus" / (name + ".desktop"),
            dataHome / "nautilus" / "scripts" / label, configHome / "caja" / "scripts" / label,
            dataHome / "nemo" / "actions" / (name + ".nemo_action")};
}

std::vector<fs::path> DesktopLocations::OldHookFiles(std::string_view handlerName) const {
    const std::string name(handlerName);
    return {dataHome / "nautilus" / "scripts" / name, configHome / "caja" / "scripts" / name};
}

std::string ShellQuote(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    out += '\'';
    return out;
}

// ---- Removal ---------------------------------------------------------------------------------

void RemoveContextMenuHook(const DesktopLocations& at, HookRoot /*root*/,
                           std::string_view handlerName) {
    // Each hook file, then its folder and that folder's parent, each only when empty, as
    // the shared parent keys of the registration are.
    for (const fs::path& hook : at.OldHookFiles(handlerName)) RemoveWithEmptyParents(hook, 2);
    for (const fs::path& hook : at.HookFiles(handlerName)) RemoveWithEmptyParents(hook, 2);

    const fs::path file = at.ThunarActions();
    FileContent content = ReadWholeFile(file, kMaxSmallFile);
    if (content.status != ReadStatus::Ok || !IsActionsFile(content.bytes)) return;
    const std::optional<std::string> text = WithoutThunarAction(content.bytes, handlerName);
    if (!text) return;
    if (*text == kEmptyActionsFile || *text == ThunarActionsStart(at)) {
        // Nothing is left but what the installer started the file from.
        RemoveWithEmptyParents(file, 1);
        return;
    }
    std::error_code ec;
    ReplaceFileAtomically(file, *text, ec);
}

void RemoveClassRegistration(const DesktopLocations& at, std::string_view classId) {
    if (IsSystemFolder(at.ClassFolder(classId))) return;
    ::unlink(at.Launcher(classId).c_str());
    RemoveFolderIfEmpty(at.ClassFolder(classId));
}

void RemoveHandlerRegistration(const DesktopLocations& at, std::string_view classId,
                               std::string_view fileHandlerName) {
    RemoveContextMenuHook(at, HookRoot::Files, fileHandlerName);
    RemoveContextMenuHook(at, HookRoot::Folders, FolderHandlerName(fileHandlerName));
    RemoveClassRegistration(at, classId);
}

}  // namespace ozm
