#pragma once
// The uninstaller's work behind its window: the shortcuts, the uninstall entry (the install
// manifest and what it lists), the settings file, and a script that deletes the program
// file once this process has ended.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DesktopIntegration.h"
#include "platform/Trash.h"

namespace ozm {

inline constexpr std::string_view kUninstalledMessage = "你已成功卸载『%s』";
// How long the removal script waits for this process to end before it deletes anyway.
inline constexpr int kScriptWaitSeconds = 30;

// Where a shortcut lies: the desktop, the menu (kinds 1 and 2) or the autostart folder.
enum class ShortcutKind { Desktop = 0, StartMenu = 1, Programs = 2, Startup = 3 };

struct UninstallPlaces {
    DesktopLocations desktop;
    std::filesystem::path programFile;     // the running executable
    std::filesystem::path settingsFolder;  // where defualt.ini lives
    std::filesystem::path tempFolder;      // where the removal script is made
    std::string title;                     // the application title
    long processId = 0;                    // the process the script waits for
    int scriptWaitSeconds = kScriptWaitSeconds;

    // The running program, its program folder, $TMPDIR (else /tmp) and the XDG places.
    static UninstallPlaces ForThisProcess(std::string_view title);
};

// What the uninstaller needs from its window.
class UninstallHost {
  public:
    virtual ~UninstallHost() = default;
    virtual void ShowMessageAtPointer(const std::string& text) = 0;
    // Starts the script detached, without a shell reading its path; false when it could not.
    virtual bool StartScript(const std::filesystem::path& script) = 0;
    // Ends the process at once (the script waits for it).
    virtual void EndProcess() = 0;
};

// "OZM软件/<title>" below the shell folder of `kind` (for Programs, `subFolder` first): its
// ".desktop" file is deleted, or else a folder of that name goes to the trash. False only
// when something there could not be removed.
bool RemoveShortcut(const DesktopLocations& at, const std::filesystem::path& relativePath,
                    ShortcutKind kind, std::string_view subFolder, Trash& trash);

// The folder (a trailing separator dropped) moved to the trash; false when it could not be.
bool RemoveFolder(const std::filesystem::path& folder, Trash& trash);

// The text of the removal script: wait (at most `waitSeconds`) for `processId` to end, delete
// the program file once, remove each of `folders` in order when it is empty (never
// recursively), delete the script itself. Every path is single-quoted, every command takes
// "--" before its paths.
std::string MakeSelfDeleteScript(const std::filesystem::path& programFile,
                                 const std::vector<std::filesystem::path>& folders,
                                 const std::filesystem::path& script, long processId,
                                 int waitSeconds);

// Creates "uis<random>.sh" in `tempFolder` exclusively with mode 0700 and writes the removal
// script into it; its path, or empty when the file could not be made or written.
std::filesystem::path WriteSelfDeleteScript(const std::filesystem::path& tempFolder,
                                            const std::filesystem::path& programFile,
                                            const std::vector<std::filesystem::path>& folders,
                                            long processId, int waitSeconds);

class Uninstall {
  public:
    Uninstall(UninstallPlaces places, Trash& trash, UninstallHost& host);

    // The start button's steps in order: program folder, desktop shortcut, menu entry, the
    // uninstall entry, the settings file, the message, the self-delete. A failing step ends
    // the sequence silently (false; the window stays). Nothing in the system's own folders
    // (/usr, /bin, /opt, /etc, ...) is ever deleted.
    bool Start();

  private:
    UninstallPlaces places_;
    Trash& trash_;
    UninstallHost& host_;
};

}  // namespace ozm
