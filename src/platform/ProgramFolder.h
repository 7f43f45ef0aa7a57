#pragma once
// The program folder: where the settings file, the recent-folder file and the default
// source and target folders live. It is the executable's own folder when the user owns it
// and may write there (a copy unpacked into the home folder), never a system folder such as
// /usr/bin, whoever runs the program (root included); else $XDG_DATA_HOME/ozm-imgconv/.

#include <filesystem>

namespace ozm {

// Folder of the running executable, from /proc/self/exe; empty when it cannot be found.
std::filesystem::path ExecutableFolder();

// Where the program's own read-only files (Help.html) are: `executableFolder` when they are
// there (a build tree, a per-user install); for a program in <prefix>/bin (the system
// package's /usr/bin), <prefix>/share/ozm-imgconv when that folder exists; else
// `executableFolder`.
std::filesystem::path ChooseDataFolder(const std::filesystem::path& executableFolder);

// ChooseDataFolder(ExecutableFolder()).
std::filesystem::path DataFolder();

// True for the root folder and for folders in the system's own trees (/usr, /bin, /sbin,
// /lib*, /opt, /etc, /var, /boot, /snap, /dev, /proc, /sys, /run, /srv), after links and
// "." and ".." are resolved.
bool IsSystemFolder(const std::filesystem::path& folder);

// `executableFolder` when it is a folder that is not a system folder, owned by the
// process's effective user, which may write into it, and not writable by everyone (where
// anyone could put a link named like the settings file, the settings would be written
// wherever it points); else `dataHome`/ozm-imgconv, created when missing. The result ends
// in a separator.
std::filesystem::path ChooseProgramFolder(const std::filesystem::path& executableFolder,
                                          const std::filesystem::path& dataHome);

// ChooseProgramFolder(ExecutableFolder(), DataHome()).
std::filesystem::path ProgramFolder();

}  // namespace ozm
