#pragma once
// The program folder: where the settings file, the recent-folder file and the default
// source and target folders live. It is the executable's own folder when the user may write
// there (a copy unpacked into the home folder), else $XDG_DATA_HOME/ozm-imgconv/ (an
// installation under /usr).

#include <filesystem>

namespace ozm {

// Folder of the running executable, from /proc/self/exe; empty when it cannot be found.
std::filesystem::path ExecutableFolder();

// `executableFolder` when it is a folder the process may write into, else
// `dataHome`/ozm-imgconv, created when missing. The result ends in a separator.
std::filesystem::path ChooseProgramFolder(const std::filesystem::path& executableFolder,
                                          const std::filesystem::path& dataHome);

// ChooseProgramFolder(ExecutableFolder(), DataHome()).
std::filesystem::path ProgramFolder();

}  // namespace ozm
