#include "app/maintenance/Uninstall.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>

#include "app/convert/SettingsKeys.h"
#include "platform/DesktopInstall.h"
#include "platform/InstallManifest.h"
#include "platform/ProgramFolder.h"

namespace fs = std::filesystem;

namespace ozm {

namespace {

// Deletes a file; a missing one is no failure.
bool DeleteFile(const fs::path& file) { return ::unlink(file.c_str()) == 0 || errno == ENOENT; }

fs::path ShellFolder(const DesktopLocations& at, ShortcutKind kind) {
    switch (kind) {
        case ShortcutKind::Desktop:
            return at.desktop;
        case ShortcutKind::StartMenu:
        case ShortcutKind::Programs:
            return at.Applications();
        case ShortcutKind::Startup:
            return at.Autostart();
    }
    return {};
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

UninstallPlaces UninstallPlaces::ForThisProcess(std::string_view title) {
    UninstallPlaces places;
    places.desktop = DesktopLocations::FromEnvironment();
    const fs::path folder = ExecutableFolder();
    places.programFile = folder.empty() ? fs::path() : folder / kProgramFileName;
    std::error_code ec;
    if (fs::path self = fs::read_symlink("/proc/self/exe", ec); !ec) places.programFile = self;
    places.settingsFolder = ProgramFolder();
    const char* tmp = std::getenv("TMPDIR");
    places.tempFolder = tmp != nullptr && tmp[0] == '/' ? fs::path(tmp) : fs::path("/tmp");
    places.title = std::string(title);
    places.processId = static_cast<long>(::getpid());
    return places;
}

bool RemoveFolder(const fs::path& folder, Trash& trash) {
    std::string text = folder.string();
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(0, 1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    if (text.empty()) return true;
    return trash.MoveToTrash(text);
}

bool RemoveShortcut(const DesktopLocations& at, const fs::path& relativePath, ShortcutKind kind,
                    std::string_view subFolder, Trash& trash) {
    fs::path relative = relativePath;
    if (kind == ShortcutKind::Programs && !subFolder.empty()) {
        relative = fs::path(subFolder) / relativePath;
    }
    const fs::path base = ShellFolder(at, kind);
    if (base.empty() || IsSystemFolder(base)) return true;
    const fs::path target = base / relative;
    fs::path entry = target;
    entry += ".desktop";
    struct stat st {};
    if (::lstat(entry.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return DeleteFile(entry);
    if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return RemoveFolder(target, trash);
    }
    return true;
}

std::string MakeSelfDeleteScript(const fs::path& programFile, const std::vector<fs::path>& folders,
                                 const fs::path& script, long processId, int waitSeconds) {
    std::string text =
        "#!/bin/sh\n"
        "# Deletes the uninstalled program once its process has ended (at most " +
        std::to_string(waitSeconds) +
        " s of waiting), then its emptied folders, then this script.\n"
        "cd / || exit 1\n"
        "tries=0\n"
        "while kill -0 " +
        std::to_string(processId) + " 2>/dev/null && [ \"$tries\" -lt " +
        std::to_string(waitSeconds * 10) +
        " ]; do\n"
        "    sleep 0.1\n"
        "    tries=$((tries + 1))\n"
        "done\n"
        "rm -f -- " +
        ShellQuote(programFile.string()) + "\n";
    for (const fs::path& folder : folders) {
        text += "rmdir -- " + ShellQuote(folder.string()) + " 2>/dev/null\n";
    }
    text += "rm -f -- " + ShellQuote(script.string()) + "\n";
    return text;
}

fs::path WriteSelfDeleteScript(const fs::path& tempFolder, const fs::path& programFile,
                               const std::vector<fs::path>& folders, long processId,
                               int waitSeconds) {
    std::string name = (tempFolder / "uisXXXXXX.sh").string();
    // mkstemps creates the file exclusively (never through an existing name or link).
    const int fd = ::mkstemps(name.data(), 3);
    if (fd < 0) return {};
    const fs::path script = name;
    const std::string text =
        MakeSelfDeleteScript(programFile, folders, script, processId, waitSeconds);
    const bool ok = ::fchmod(fd, 0700) == 0 && WriteAll(fd, text);
    if (::close(fd) != 0 || !ok) {
        ::unlink(script.c_str());
        return {};
    }
    return script;
}

Uninstall::Uninstall(UninstallPlaces places, Trash& trash, UninstallHost& host)
    : places_(std::move(places)), trash_(trash), host_(host) {}

bool Uninstall::Start() {
    const DesktopLocations& at = places_.desktop;
    const std::string& title = places_.title;

    // 1. The program folder.
    const fs::path programFolder = places_.programFile.parent_path();
    const bool mayDeleteProgram = !places_.programFile.empty() && !IsSystemFolder(programFolder);

    // 2. The desktop shortcut; 3. the menu entry.
    const fs::path maker(kMakerFolderName);
    if (!RemoveShortcut(at, maker / title, ShortcutKind::Desktop, "", trash_)) return false;
    if (!RemoveShortcut(at, title, ShortcutKind::Programs, kMakerFolderName, trash_)) {
        return false;
    }

    // 4. The uninstall entry: the manifest and what it lists that no other step names, only
    // where the installer itself writes (a line naming anything else is ignored).
    const fs::path manifest = at.Manifest(title);
    const ManifestScope scope = InstallScope(at, title);
    const fs::path settingsFile = places_.settingsFolder / kSettingsFileName;
    std::set<fs::path> namedElsewhere = {places_.programFile,
                                         at.ProgramFile(),
                                         at.DesktopShortcut(title),
                                         at.MenuEntry(title),
                                         settingsFile,
                                         at.Launcher(kHandlerClassId),
                                         at.ClassFolder(kHandlerClassId)};
    for (std::string handler :
         {std::string(kFileHandlerName),
          std::string(kFileHandlerName) + std::string(kFolderHandlerSuffix)}) {
        for (const fs::path& hook : at.HookFiles(handler)) namedElsewhere.insert(hook);
        for (const fs::path& hook : at.OldHookFiles(handler)) namedElsewhere.insert(hook);
    }
    // The folders the installer made that hold the program file go after it, in the script.
    std::vector<fs::path> scriptFolders = {programFolder};
    for (const fs::path& folder : ManifestFolders(manifest, scope)) {
        const auto rel = programFolder.lexically_relative(folder);
        if (folder != programFolder && !rel.empty() && *rel.begin() != "..") {
            scriptFolders.push_back(folder);
            namedElsewhere.insert(folder);
        }
    }
    namedElsewhere.insert(programFolder);
    if (!RemoveManifestFiles(manifest, scope, namedElsewhere)) return false;

    // 5. The settings file.
    if (!IsSystemFolder(places_.settingsFolder) && !DeleteFile(settingsFile)) return false;

    // 6. The message at the pointer.
    std::string message(kUninstalledMessage);
    message.replace(message.find("%s"), 2, title);
    host_.ShowMessageAtPointer(message);

    // 7. The self-delete.
    if (mayDeleteProgram) {
        const fs::path script =
            WriteSelfDeleteScript(places_.tempFolder, places_.programFile, scriptFolders,
                                  places_.processId, places_.scriptWaitSeconds);
        if (script.empty()) return false;
        if (!host_.StartScript(script)) {
            ::unlink(script.c_str());
            return false;
        }
    }
    host_.EndProcess();
    return true;
}

}  // namespace ozm
