#include "platform/ProgramFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/SpecialFolders.h"

namespace ozm {

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    return exe.parent_path();
}

bool IsSystemFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(folder, ec);
    if (ec) resolved = folder.lexically_normal();
    auto it = resolved.begin();
    // A relative path that cannot be resolved is not trusted either.
    if (it == resolved.end() || *it != "/") return true;
    ++it;
    if (it == resolved.end() || it->empty()) return true;  // the root folder itself
    const std::string top = it->string();
    static constexpr std::array<std::string_view, 13> kSystemTrees = {
        "usr",  "bin", "sbin", "opt", "etc", "var", "boot",
        "snap", "dev", "proc", "sys", "run", "srv"};
    for (std::string_view tree : kSystemTrees) {
        if (top == tree) return true;
    }
    return top.starts_with("lib");  // lib, lib32, lib64, libx32
}

std::filesystem::path ChooseProgramFolder(const std::filesystem::path& executableFolder,
                                          const std::filesystem::path& dataHome) {
    std::error_code ec;
    struct stat st {};
    if (!executableFolder.empty() && ::stat(executableFolder.c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & S_IWOTH) == 0 &&
        ::faccessat(AT_FDCWD, executableFolder.c_str(), W_OK | X_OK, AT_EACCESS) == 0 &&
        !IsSystemFolder(executableFolder)) {
        return executableFolder / "";
    }
    const std::filesystem::path folder = dataHome / "ozm-imgconv" / "";
    // A folder that cannot be made shows up later, as the settings store's write error.
    std::filesystem::create_directories(folder, ec);
    return folder;
}

std::filesystem::path ChooseDataFolder(const std::filesystem::path& executableFolder) {
    std::error_code ec;
    if (executableFolder.empty() || std::filesystem::exists(executableFolder / "Help.html", ec))
        return executableFolder;
    std::filesystem::path bin = executableFolder.lexically_normal();
    if (!bin.has_filename()) bin = bin.parent_path();
    if (bin.filename() == "bin") {
        const std::filesystem::path folder = bin.parent_path() / "share" / "ozm-imgconv";
        if (std::filesystem::is_directory(folder, ec)) return folder;
    }
    return executableFolder;
}

std::filesystem::path DataFolder() { return ChooseDataFolder(ExecutableFolder()); }

std::filesystem::path ProgramFolder() {
    return ChooseProgramFolder(ExecutableFolder(), DataHome());
}

}  // namespace ozm
