// ozm-setup: installs ozm-imgconv for the current user, without root: the program and its
// help page into ~/.local/lib/ozm-imgconv/, a link in ~/.local/bin, the file-manager hooks,
// the menu entry, the desktop shortcut and the icons, and the manifest the uninstaller reads.
// HOME and the XDG variables say where, so it can install into a scratch home.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/shell/HandlerRegistration.h"
#include "app/shell/ProductInfo.h"
#include "platform/DesktopInstall.h"
#include "platform/Processes.h"
#include "platform/ProgramFolder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: ozm-setup [--program FILE] [--help-page FILE] [--icons FOLDER]\n"
    "       ozm-setup --hooks\n"
    "Installs ozm-imgconv into ~/.local (HOME and XDG_* are honoured). By default the program\n"
    "and Help.html are taken from this program's folder and the icons from the source tree.\n"
    "Run from the package (beside its share/ozm-imgconv), it does what --hooks does.\n"
    "--hooks: the program is installed for the whole system (the package); adds only this\n"
    "user's Nautilus, Caja and Thunar entries, which have no system folder.\n"
    "Remove it again with: ozm-imgconv uninstall\n";

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string list = path;
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t end = list.find(':', pos);
        if (end == std::string::npos) end = list.size();
        std::error_code ec;
        if (end > pos && fs::exists(fs::path(list.substr(pos, end - pos)) / program, ec)) {
            return true;
        }
        pos = end + 1;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path here = ozm::ExecutableFolder();
    ozm::InstallSources from{here / "ozm-imgconv", here / "Help.html", OZM_PACKAGING_ICONS,
                             ozm::ImageHookFilter()};
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--hooks") {
            from.hooksOnly = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        if (option == "--program") {
            from.programBinary = argv[++i];
        } else if (option == "--help-page") {
            from.helpPage = argv[++i];
        } else if (option == "--icons") {
            from.iconFolder = argv[++i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    std::error_code ec;
    // Beside a package's share folder the program is already installed for everyone: a copy
    // for this user would only double every menu entry, and the icons of the source tree are
    // not there to copy (they are in the package's own icon folders). What such a user lacks
    // are the entries of their own home. --program or --icons still make a copy.
    const bool chosen = from.programBinary != here / "ozm-imgconv" ||
                        from.iconFolder != fs::path(OZM_PACKAGING_ICONS);
    if (!from.hooksOnly && !chosen &&
        fs::is_regular_file(here.parent_path() / "share" / "ozm-imgconv" / "Help.html", ec)) {
        std::printf("ozm-setup: ozm-imgconv is installed for all users here; adding this "
                    "user's file-manager entries (--hooks)\n");
        from.hooksOnly = true;
    }
    if (!fs::is_regular_file(from.helpPage, ec)) from.helpPage.clear();

    const ozm::DesktopLocations at = ozm::DesktopLocations::FromEnvironment();
    const std::string title(ozm::kApplicationTitle);
    const ozm::InstallReport report = ozm::InstallDesktopIntegration(at, from, title);
    for (const fs::path& p : report.written) std::printf("installed %s\n", p.c_str());
    for (const fs::path& p : report.removed) std::printf("removed %s\n", p.c_str());
    if (!report.unchanged.empty()) {
        std::printf("%zu files were already in place\n", report.unchanged.size());
    }
    for (const fs::path& p : report.foreign) {
        std::fprintf(stderr, "ozm-setup: left alone, not written by this installer: %s\n",
                     p.c_str());
    }
    for (const std::string& e : report.errors) std::fprintf(stderr, "ozm-setup: %s\n", e.c_str());

    // The menu's cache of file types; when this run made it, the uninstall removes it again
    // (while it still holds what it holds now).
    if (OnPath("update-desktop-database")) {
        const fs::path cache = at.Applications() / "mimeinfo.cache";
        const bool hadCache = fs::exists(fs::symlink_status(cache, ec));
        ozm::RunAndWait({"update-desktop-database", "-q", at.Applications().string()}, 30000);
        if (!hadCache && fs::is_regular_file(fs::symlink_status(cache, ec))) {
            ozm::AddCacheToManifest(at, title, cache);
        }
    }
    if (report.Complete() && from.hooksOnly) {
        std::printf("ozm-setup: the file managers' entries are installed for this user\n");
        return 0;
    }
    if (report.Complete()) {
        std::printf("ozm-setup: installed into %s\n", at.ProgramFolder().c_str());
        if (!OnPath("ozm-imgconv")) {
            std::printf("ozm-setup: add %s to PATH to start ozm-imgconv by name\n",
                        at.BinLink().parent_path().c_str());
        }
        return 0;
    }
    std::fprintf(stderr, "ozm-setup: the install is incomplete (see above)\n");
    return 1;
}
