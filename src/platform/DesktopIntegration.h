#pragma once
// What stands in for the shell menu handler, its registration, the shortcuts and the
// uninstall entry: hook files of the five file managers (named after the handler names), a
// shared launcher in a folder named by the class identifier, a menu entry, a desktop
// shortcut, icons, and an install manifest listing every file written with its SHA-256.
// Every location comes from HOME and the XDG variables, so all of it can go to a scratch home.

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ozm {

inline constexpr std::string_view kHandlerClassId = "{961D0854-67F5-451F-BB89-D3380C1FF3A9}";
inline constexpr std::string_view kFileHandlerName = "OZMImageConvert";
inline constexpr std::string_view kFolderHandlerSuffix = " folder";
inline constexpr std::string_view kMakerFolderName = "OZM软件";
inline constexpr std::string_view kProgramFileName = "ozm-imgconv";
inline constexpr std::string_view kIconName = "ozm-imgconv";
// Sizes of the PNG icons installed into the hicolor theme (plus the scalable SVG).
inline constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// What the hook is for: the registry's roots "*" (every file) and "folder".
enum class HookRoot { Files, Folders };

struct DesktopLocations {
    std::filesystem::path home;
    std::filesystem::path dataHome;    // $XDG_DATA_HOME
    std::filesystem::path configHome;  // $XDG_CONFIG_HOME
    std::filesystem::path desktop;     // XDG_DESKTOP_DIR of user-dirs.dirs

    static DesktopLocations FromEnvironment();

    std::filesystem::path ProgramFolder() const;  // ~/.local/lib/ozm-imgconv
    std::filesystem::path ProgramFile() const;
    std::filesystem::path BinLink() const;  // ~/.local/bin/ozm-imgconv
    std::filesystem::path ClassFolder(std::string_view classId) const;
    std::filesystem::path Launcher(std::string_view classId) const;
    std::filesystem::path Applications() const;  // menu entries
    std::filesystem::path Autostart() const;
    std::filesystem::path Manifest(std::string_view title) const;
    std::filesystem::path MenuEntry(std::string_view title) const;
    std::filesystem::path DesktopShortcut(std::string_view title) const;
    std::filesystem::path ThunarActions() const;  // the shared uca.xml
    // The hook files of one handler name (Dolphin, Nautilus, Caja, Nemo; Thunar's actions
    // live in the shared uca.xml instead).
    std::vector<std::filesystem::path> HookFiles(std::string_view handlerName) const;
};

// `text` as one word for the POSIX shell: single-quoted, a quote inside written '\''.
std::string ShellQuote(std::string_view text);

// ---- Removal of the handler's registration -------------------------------------------------
// Missing files are no error and nothing is reported; a second run changes nothing.

// The file hook, the folder hook, then the class registration.
void RemoveHandlerRegistration(const DesktopLocations& at, std::string_view classId,
                               std::string_view fileHandlerName);

// Deletes the hook files named `handlerName`; each emptied parent folder goes, then its
// parent the same way (servicemenus, then kio). Thunar: only the action whose unique id is
// `handlerName` leaves uca.xml (replaced atomically); a file that does not parse is left.
void RemoveContextMenuHook(const DesktopLocations& at, HookRoot root, std::string_view handlerName);

// Deletes the launcher, then its folder when nothing else is left in it.
void RemoveClassRegistration(const DesktopLocations& at, std::string_view classId);

// ---- Install ---------------------------------------------------------------------------------

struct InstallSources {
    std::filesystem::path programBinary;
    std::filesystem::path helpPage;    // Help.html; skipped when empty
    std::filesystem::path iconFolder;  // ozm-imgconv.svg and ozm-imgconv-<size>.png
};

struct InstallReport {
    std::vector<std::filesystem::path> written;    // created or brought up to date
    std::vector<std::filesystem::path> unchanged;  // already as the installer would write it
    std::vector<std::filesystem::path> foreign;    // not ours: left as it was
    std::vector<std::string> errors;
    bool Complete() const { return foreign.empty() && errors.empty(); }
};

// The program file and Help.html into the program folder, the link in ~/.local/bin, the
// launcher and the ten hooks (five file managers, files and folders), the menu entry, the
// desktop shortcut and the icons, then the manifest. A file already at one of these paths
// is replaced only when the previous manifest lists it with the hash it still has (our own
// earlier install); anything else there is foreign and stays. Running it again writes
// nothing. Paths holding control characters are refused (a hook could not name them).
InstallReport InstallDesktopIntegration(const DesktopLocations& at, const InstallSources& from,
                                        std::string_view title);

// Records a cache file a desktop tool made during the install (it did not exist before),
// so the uninstall removes it while it still holds what it held then.
void AddCacheToManifest(const DesktopLocations& at, std::string_view title,
                        const std::filesystem::path& cacheFile);

// ---- The manifest ----------------------------------------------------------------------------

struct ManifestEntry {
    enum class Kind { File, Link, Folder, Cache };
    Kind kind = Kind::File;
    std::string value;  // the SHA-256 of a file or cache, the target of a link
    std::filesystem::path path;
};

// One entry a line: "file<TAB>sha256<TAB>path", "cache<TAB>sha256<TAB>path",
// "link<TAB>target<TAB>path", "dir<TAB><TAB>path". nullopt when the file is missing or
// unreadable; lines that do not parse are skipped.
std::optional<std::vector<ManifestEntry>> ReadInstallManifest(const std::filesystem::path& file);
std::string FormatInstallManifest(const std::vector<ManifestEntry>& entries);

// Deletes what the manifest lists, except the paths in `namedElsewhere`: a file or cache
// only while its hash is the recorded one, a link only while it points where it did; then
// the manifest; then the folders the installer made, deepest first, each only when empty.
// False when the manifest exists but could not be read or deleted.
bool RemoveManifestFiles(const std::filesystem::path& manifest,
                         const std::set<std::filesystem::path>& namedElsewhere);

// The folders the manifest says the installer made, deepest first.
std::vector<std::filesystem::path> ManifestFolders(const std::filesystem::path& manifest);

}  // namespace ozm
