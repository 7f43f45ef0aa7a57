#include "platform/ProgramFolder.h"

#include <unistd.h>

#include <system_error>

#include "platform/SpecialFolders.h"

namespace ozm {

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    return exe.parent_path();
}

std::filesystem::path ChooseProgramFolder(const std::filesystem::path& executableFolder,
                                          const std::filesystem::path& dataHome) {
    std::error_code ec;
    if (!executableFolder.empty() && std::filesystem::is_directory(executableFolder, ec) &&
        ::access(executableFolder.c_str(), W_OK | X_OK) == 0) {
        return executableFolder / "";
    }
    const std::filesystem::path folder = dataHome / "ozm-imgconv" / "";
    // A folder that cannot be made shows up later, as the settings store's write error.
    std::filesystem::create_directories(folder, ec);
    return folder;
}

std::filesystem::path ProgramFolder() {
    return ChooseProgramFolder(ExecutableFolder(), DataHome());
}

}  // namespace ozm
