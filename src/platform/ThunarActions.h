#pragma once
// Thunar's custom actions, which live in one file that several programs share (uca.xml). The
// file is checked with a real XML parser, then edited as text: the other programs' actions
// keep their exact bytes, and an install followed by a removal gives the file back byte for
// byte.

#include <optional>
#include <string>
#include <string_view>

#include "platform/DesktopIntegration.h"
#include "platform/FileManagerHooks.h"

namespace ozm {

// A new uca.xml before the actions go in; a file that is exactly this once ours are gone is
// removed again.
inline constexpr std::string_view kEmptyActionsFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n";

// What the installer starts a new uca.xml from: the system's own file (the first
// Thunar/uca.xml of the configuration folders), so that Thunar's default actions stay; else,
// or when that one is no actions file, kEmptyActionsFile.
std::string ThunarActionsStart(const DesktopLocations& at);

// The action of `handlerName`: for the files whose names end in one of the filter's
// extensions, in either case, or for every folder.
std::string ThunarActionXml(const DesktopLocations& at, std::string_view handlerName,
                            std::string_view title, const HookFilter& files);

// Well-formed, with <actions> as its root element.
bool IsActionsFile(std::string_view bytes);

// `text`, an actions file, with the action whose unique id is `uniqueId` replaced by
// `action`; when it has none, `action` goes on a line of its own before </actions>.
std::string WithThunarAction(std::string text, std::string_view uniqueId, std::string_view action);

// `text` without the actions whose unique id is `uniqueId`, each with the blanks and the line
// break before it; nullopt when it holds none.
std::optional<std::string> WithoutThunarAction(std::string text, std::string_view uniqueId);

}  // namespace ozm
