#pragma once
// What stands in for the shell menu handler, its registration, the shortcuts and the
// uninstall entry: hook files of the five file managers (named after the handler names), a
// shared launcher in a folder named by the class identifier, a menu entry, a desktop
// shortcut, icons, and an install manifest listing every file written with its SHA-256.
// Every location comes from HOME and the XDG variables, so all of it can go to a scratch home.
//
// This file: the names, the locations and the removal of the registration. The hooks' texts
// are in FileManagerHooks, Thunar's shared actions file in ThunarActions, the install in
// DesktopInstall, the manifest in InstallManifest.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ozm {

inline constexpr std::string_view kHandlerClassId = "{961D0854-67F5-451F-BB89-D3380C1FF3A9}";
inline constexpr std::string_view kFileHandlerName = "OZMImageConvert";
inline constexpr std::string_view kFolderHandlerSuffix = " folder";
// The entries' labels in the file managers' menus. Caja and Nautilus show a script's file
// name as its label, so their two scripts bear these names.
inline constexpr std::string_view kFileEntryLabel = "图片批量转换";
inline constexpr std::string_view kFolderEntryLabel = "转换文件夹中的图片";
inline constexpr std::string_view kMakerFolderName = "OZM软件";
inline constexpr std::string_view kProgramFileName = "ozm-imgconv";
inline constexpr std::string_view kIconName = "ozm-imgconv";
// Sizes of the PNG icons installed into the hicolor theme (plus the scalable SVG).
inline constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};
// Hooks, entries, uca.xml and manifests are never read beyond this.
inline constexpr std::size_t kMaxSmallFile = 4 << 20;

// What the hook is for: the registry's roots "*" (every file) and "folder".
enum class HookRoot { Files, Folders };

struct DesktopLocations {
    std::filesystem::path home;
    std::filesystem::path dataHome;    // $XDG_DATA_HOME
    std::filesystem::path configHome;  // $XDG_CONFIG_HOME
    std::filesystem::path desktop;     // XDG_DESKTOP_DIR of user-dirs.dirs
    // $XDG_CONFIG_DIRS (default /etc/xdg), most important first; where the system keeps the
    // files a user's own copy starts from. Empty: none.
    std::vector<std::filesystem::path> configDirs = {};

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
    // The first Thunar/uca.xml of configDirs that exists; empty when there is none.
    std::filesystem::path SystemThunarActions() const;
    // The hook files of one handler name (Dolphin, Nautilus, Caja, Nemo; Thunar's actions
    // live in the shared uca.xml instead).
    std::vector<std::filesystem::path> HookFiles(std::string_view handlerName) const;
    // The Nautilus and Caja scripts as earlier versions named them (after the handler).
    std::vector<std::filesystem::path> OldHookFiles(std::string_view handlerName) const;
};

// The folder handler's name for a file handler's ("OZMImageConvert folder").
std::string FolderHandlerName(std::string_view fileHandlerName);
bool IsFolderHandler(std::string_view handlerName);
// kFolderEntryLabel for the folder handler, else kFileEntryLabel.
std::string_view EntryLabel(std::string_view handlerName);

// `text` as one word for the POSIX shell: single-quoted, a quote inside written '\''.
std::string ShellQuote(std::string_view text);

// ---- Removal of the handler's registration -------------------------------------------------
// Missing files are no error and nothing is reported; a second run changes nothing.

// The file hook, the folder hook, then the class registration.
void RemoveHandlerRegistration(const DesktopLocations& at, std::string_view classId,
                               std::string_view fileHandlerName);

// Deletes the hook files of `handlerName` (today's names and the earlier ones); each emptied
// parent folder goes, then its parent the same way (servicemenus, then kio). Thunar: only the
// action whose unique id is `handlerName` leaves uca.xml (replaced atomically); a file that
// does not parse is left; a file that is left exactly as the installer started it (empty, or
// the system's own copy, which Thunar reads anyway) goes.
void RemoveContextMenuHook(const DesktopLocations& at, HookRoot root, std::string_view handlerName);

// Deletes the launcher, then its folder when nothing else is left in it.
void RemoveClassRegistration(const DesktopLocations& at, std::string_view classId);

// rmdir: never recursive, so nothing another program left in the folder can go with it.
bool RemoveFolderIfEmpty(const std::filesystem::path& folder);

}  // namespace ozm
