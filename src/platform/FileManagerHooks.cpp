#include "platform/FileManagerHooks.h"

namespace ozm {

// One argument of a desktop entry's Exec key: double-quoted with the characters the entry
// format reserves escaped, a percent sign doubled, then every backslash escaped once more
// because the key's value is itself a string with escapes.
std::string DesktopExecQuote(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

namespace {

// A string value of a key file (GKeyFile reads Nemo actions): backslashes escaped.
std::string KeyFileString(std::string_view text) {
    std::string value;
    for (char c : text) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

// A shell pattern for the names ending in one of the extensions, in any case
// ("*.[jJ][pP][gG]|..."); a pattern that matches nothing when there are none.
std::string AnyCasePattern(const std::vector<std::string>& extensions) {
    std::string pattern;
    for (const std::string& ext : extensions) {
        if (!pattern.empty()) pattern += '|';
        pattern += "*.";
        for (char c : ext) {
            const bool letter = c >= 'a' && c <= 'z';
            if (letter) {
                pattern += '[';
                pattern += c;
                pattern += static_cast<char>(c - 'a' + 'A');
                pattern += ']';
            } else if ((c >= '0' && c <= '9') || c == '-' || c == '_' || c == '+') {
                pattern += c;
            } else {
                pattern += '\\';
                pattern += c;
            }
        }
    }
    return pattern.empty() ? "/" : pattern;
}

}  // namespace

std::string LauncherScript(const DesktopLocations& at, const HookFilter& files,
                           const std::filesystem::path& program) {
    return "#!/bin/sh\n"
           "# Starts ozm-imgconv with what a file manager's hook hands over, one argument per\n"
           "# file after \"--\". Usage: launch [--folders] [--] [FILE...]. Without files it\n"
           "# takes the Nautilus or Caja script variable (one path a line, so a name holding a\n"
           "# newline cannot come that way). Relative names count from the current folder.\n"
           "# --folders passes the pictures directly inside each folder given (by extension,\n"
           "# in any case; no hidden files, no sub-folders); with none, nothing is started.\n"
           "program=" +
           ShellQuote((program.empty() ? at.BinLink() : program).string()) +
           "\n"
           "[ -x \"$program\" ] || program=ozm-imgconv\n"
           "folders=0\n"
           "if [ \"$#\" -gt 0 ] && [ \"$1\" = --folders ]; then folders=1; shift; fi\n"
           "if [ \"$#\" -gt 0 ] && [ \"$1\" = -- ]; then shift; fi\n"
           "if [ \"$#\" -eq 0 ]; then\n"
           "    list=${NAUTILUS_SCRIPT_SELECTED_FILE_PATHS:-${CAJA_SCRIPT_SELECTED_FILE_PATHS:-}}\n"
           "    set -f\n"
           "    saved=$IFS\n"
           "    IFS='\n'\n"
           "    set -- $list\n"
           "    IFS=$saved\n"
           "    set +f\n"
           "fi\n"
           "count=$#\n"
           "while [ \"$count\" -gt 0 ]; do\n"
           "    item=$1\n"
           "    shift\n"
           "    count=$((count - 1))\n"
           "    case $item in\n"
           "        /*) ;;\n"
           "        *) item=$PWD/$item ;;\n"
           "    esac\n"
           "    if [ \"$folders\" = 1 ] && [ -d \"$item\" ]; then\n"
           "        for file in \"$item\"/*; do\n"
           "            [ -f \"$file\" ] || continue\n"
           "            case $file in\n"
           "                " +
           AnyCasePattern(files.extensions) +
           ") set -- \"$@\" \"$file\" ;;\n"
           "            esac\n"
           "        done\n"
           "    else\n"
           "        set -- \"$@\" \"$item\"\n"
           "    fi\n"
           "done\n"
           "[ \"$#\" -gt 0 ] || exit 0\n"
           "exec \"$program\" -- \"$@\"\n";
}

std::string LauncherArguments(std::string_view handlerName) {
    return IsFolderHandler(handlerName) ? "--folders --" : "--";
}

std::string DolphinServiceMenu(const DesktopLocations& at, std::string_view handlerName,
                               std::string_view title, const HookFilter& files) {
    const bool folders = IsFolderHandler(handlerName);
    std::string types = "inode/directory;";
    if (!folders) {
        types.clear();
        for (const std::string& type : files.mimeTypes) types += type + ";";
    }
    return "[Desktop Entry]\n"
           "Type=Service\n"
           "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
           "MimeType=" +
           types +
           "\n"
           "Actions=ozmImageConvert;\n"
           "\n"
           "[Desktop Action ozmImageConvert]\n"
           "Name=" +
           std::string(title) + "\nIcon=" + std::string(kIconName) +
           "\nExec=" + DesktopExecQuote(at.Launcher(kHandlerClassId).string()) + " " +
           LauncherArguments(handlerName) + " %F\n";
}

std::string ScriptHook(const DesktopLocations& at, std::string_view handlerName) {
    return "#!/bin/sh\n"
           "# The file manager passes the selected items as arguments (and in its variable).\n"
           "exec " +
           ShellQuote(at.Launcher(kHandlerClassId).string()) + " " +
           LauncherArguments(handlerName) + " \"$@\"\n";
}

std::string NemoAction(const DesktopLocations& at, std::string_view handlerName,
                       std::string_view title, const HookFilter& files) {
    std::string extensions;
    if (IsFolderHandler(handlerName)) {
        extensions = "dir;";
    } else {
        for (const std::string& ext : files.extensions) extensions += ext + ";";
    }
    // Nemo puts each path, shell-quoted, in place of %F and splits the line as a shell would.
    return "[Nemo Action]\n"
           "Name=" +
           std::string(title) + "\nComment=" + std::string(title) +
           "\nExec=" + KeyFileString(ShellQuote(at.Launcher(kHandlerClassId).string())) + " " +
           LauncherArguments(handlerName) + " %F\nIcon-Name=" + std::string(kIconName) +
           "\nSelection=notnone\nExtensions=" + extensions + "\n";
}

}  // namespace ozm
