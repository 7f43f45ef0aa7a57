// ozm-stage-hooks ROOT: writes the system-wide file-manager hooks the Debian package carries
// under ROOT: the shared launcher in /usr/share/ozm-imgconv/, Dolphin's two service menus and
// Nemo's two actions in their system folders. They are the per-user hooks' texts with the
// system's data folder in place of the user's, and the launcher starts /usr/bin/ozm-imgconv.
// Nautilus, Caja and Thunar read scripts and actions from the home folder only; those come
// per user from `ozm-setup --hooks`.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/shell/HandlerRegistration.h"
#include "platform/FileManagerHooks.h"

namespace fs = std::filesystem;

namespace {

bool Write(const fs::path& root, const fs::path& file, const std::string& text, fs::perms mode) {
    const fs::path target = root / file.relative_path();
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out || (fs::permissions(target, mode, ec), ec)) {
        std::fprintf(stderr, "ozm-stage-hooks: cannot write %s\n", target.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: ozm-stage-hooks ROOT\n", stderr);
        return 2;
    }
    const fs::path root = argv[1];
    ozm::DesktopLocations at;
    at.home = "/nonexistent";
    at.dataHome = "/usr/share";
    at.configHome = "/etc/xdg";
    const ozm::HookFilter files = ozm::ImageHookFilter();
    const auto file = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                      fs::perms::others_read;
    const auto program = file | fs::perms::owner_exec | fs::perms::group_exec |
                         fs::perms::others_exec;
    bool ok = Write(root, at.Launcher(ozm::kHandlerClassId),
                    ozm::LauncherScript(at, files, "/usr/bin/ozm-imgconv"), program);
    const std::string fileHandler(ozm::kFileHandlerName);
    for (const std::string& name : {fileHandler, ozm::FolderHandlerName(fileHandler)}) {
        const auto hooks = at.HookFiles(name);
        const std::string_view label = ozm::EntryLabel(name);
        ok = Write(root, hooks[0], ozm::DolphinServiceMenu(at, name, label, files), file) && ok;
        ok = Write(root, hooks[3], ozm::NemoAction(at, name, label, files), file) && ok;
    }
    return ok ? 0 : 1;
}
