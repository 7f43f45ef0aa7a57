#include "platform/TrustedLauncher.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/FileHash.h"
#include "platform/Processes.h"

namespace ozm {

void MarkLauncherTrusted(const std::filesystem::path& launcher) {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr || bus[0] == '\0') return;
    const std::optional<std::string> sum = FileSha256Hex(launcher);
    if (!sum) return;
    // gio talks to the metadata daemon; 5 s each is ample for a local store.
    RunAndWait(
        {"gio", "set", "-t", "string", launcher.string(), "metadata::xfce-exe-checksum", *sum},
        5000);
    RunAndWait({"gio", "set", launcher.string(), "metadata::trusted", "true"}, 5000);
}

}  // namespace ozm
