#pragma once
// Desktops start a launcher on the desktop only when it is marked as trusted: Xfce wants the
// file's SHA-256 in metadata::xfce-exe-checksum (so a launcher changed since is refused
// again), GNOME wants metadata::trusted. Both marks live in the session's metadata store, set
// through gio.

#include <filesystem>

namespace ozm {

// Sets both marks on `launcher` (its bytes final) with gio, where a session bus is named
// (DBUS_SESSION_BUS_ADDRESS) and gio can be started. Nothing is reported: a desktop without
// the store, or without gio, simply asks the user before the first start.
void MarkLauncherTrusted(const std::filesystem::path& launcher);

}  // namespace ozm
