#pragma once
// The texts of the hooks the file managers run: the shared launcher script, Dolphin's
// service menu, the Nautilus and Caja scripts and Nemo's action. Each file hook offers itself
// for the files a HookFilter names; each folder hook for every folder. Thunar's action is in
// ThunarActions.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DesktopIntegration.h"

namespace ozm {

// The files a file hook offers to take: by extension (lower-case, without the dot) for the
// file managers that filter by name, by MIME type for Dolphin. The caller gives them in the
// order the hooks list them.
struct HookFilter {
    std::vector<std::string> extensions;
    std::vector<std::string> mimeTypes;
};

// The launcher every hook starts: it passes the files it is given (or, given none, the ones
// in the Nautilus or Caja script variable) to the program after "--"; with --folders, the
// files directly inside each folder given whose names end in one of the filter's extensions,
// in any case (hidden files and sub-folders not). With no file to pass it starts nothing.
// It starts `program` (by default the per-user link, at.BinLink()), or ozm-imgconv on PATH
// when that is not there.
std::string LauncherScript(const DesktopLocations& at, const HookFilter& files,
                           const std::filesystem::path& program = {});

// What a hook puts after the launcher: "--folders --" for a folder handler, else "--".
std::string LauncherArguments(std::string_view handlerName);

// One argument of a desktop entry's Exec key, quoted and escaped for it.
std::string DesktopExecQuote(std::string_view text);

std::string DolphinServiceMenu(const DesktopLocations& at, std::string_view handlerName,
                               std::string_view title, const HookFilter& files);

// The Nautilus and Caja script (the same for both).
std::string ScriptHook(const DesktopLocations& at, std::string_view handlerName);

std::string NemoAction(const DesktopLocations& at, std::string_view handlerName,
                       std::string_view title, const HookFilter& files);

}  // namespace ozm
