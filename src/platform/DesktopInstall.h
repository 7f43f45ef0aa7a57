#pragma once
// The per-user install: the program, the launcher, the ten hooks, the menu entry, the desktop
// shortcut and the icons, each recorded in the install manifest.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DesktopIntegration.h"
#include "platform/FileManagerHooks.h"
#include "platform/InstallManifest.h"

namespace ozm {

struct InstallSources {
    std::filesystem::path programBinary;
    std::filesystem::path helpPage;    // Help.html; skipped when empty
    std::filesystem::path iconFolder;  // ozm-imgconv.svg and ozm-imgconv-<size>.png
    HookFilter imageFiles;             // what the file hooks offer to take
    // The program is installed for the whole system (the Debian package, which carries the
    // Dolphin and Nemo hooks itself): only the launcher, the Nautilus and Caja scripts and
    // Thunar's actions, which have no system folder; the launcher then finds the program on
    // PATH.
    bool hooksOnly = false;
};

struct InstallReport {
    std::vector<std::filesystem::path> written;    // created or brought up to date
    std::vector<std::filesystem::path> unchanged;  // already as the installer would write it
    std::vector<std::filesystem::path> foreign;    // not ours: left as it was
    std::vector<std::filesystem::path> removed;    // an earlier install's, under an old name
    std::vector<std::string> errors;
    bool Complete() const { return foreign.empty() && errors.empty(); }
};

// The program file and Help.html into the program folder, the link in ~/.local/bin, the
// launcher and the ten hooks (five file managers, files and folders), the menu entry, the
// desktop shortcut (marked trusted where the session allows) and the icons, then the
// manifest. A file already at one of these paths is replaced only when the previous manifest
// lists it with the hash it still has (our own earlier install); anything else there is
// foreign and stays; so are the hooks an earlier install wrote under other names deleted.
// Running it again writes nothing. Paths holding control characters are refused (a hook
// could not name them). A new uca.xml starts from the system's own (ThunarActionsStart).
InstallReport InstallDesktopIntegration(const DesktopLocations& at, const InstallSources& from,
                                        std::string_view title);

// Every path the installer writes for `title` at these locations, today's names and the
// earlier ones, and the folders it may make for them: the uninstall deletes nothing else.
ManifestScope InstallScope(const DesktopLocations& at, std::string_view title);

// Records a cache file a desktop tool made during the install (it did not exist before),
// so the uninstall removes it while it still holds what it held then.
void AddCacheToManifest(const DesktopLocations& at, std::string_view title,
                        const std::filesystem::path& cacheFile);

}  // namespace ozm
