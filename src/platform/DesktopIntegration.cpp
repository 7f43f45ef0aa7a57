#include "platform/DesktopIntegration.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>

#include "platform/AtomicFile.h"
#include "platform/FileHash.h"
#include "platform/Processes.h"
#include "platform/ProgramFolder.h"
#include "platform/SpecialFolders.h"

namespace fs = std::filesystem;

namespace ozm {

namespace {

// A new uca.xml before the actions go in; a file that is exactly this once ours are gone is
// removed again.
constexpr std::string_view kEmptyActionsFile =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n";
constexpr std::size_t kMaxSmallFile = 4 << 20;  // hooks, entries, uca.xml, manifests

// The extensions the program takes, for the file managers that filter by name.
constexpr std::string_view kImageExtensions[] = {"jpg", "jpeg", "jpe", "jfif", "bmp", "dib",
                                                 "gif", "tif",  "png", "emf",  "wmf", "ico"};
constexpr std::string_view kImageMimeTypes =
    "image/jpeg;image/pjpeg;image/bmp;image/x-bmp;image/x-ms-bmp;image/gif;image/tiff;"
    "image/png;image/emf;image/x-emf;image/wmf;image/x-wmf;image/vnd.microsoft.icon;"
    "image/x-icon;";

std::string FolderHandlerName(std::string_view fileHandlerName) {
    return std::string(fileHandlerName) + std::string(kFolderHandlerSuffix);
}

bool IsFolderHandler(std::string_view handlerName) {
    return handlerName.ends_with(kFolderHandlerSuffix);
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

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

// A string value of a key file (GKeyFile reads Nemo actions): backslashes escaped.
std::string KeyFileString(std::string_view text) {
    std::string value;
    for (char c : text) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string LauncherScript(const DesktopLocations& at) {
    return "#!/bin/sh\n"
           "# Starts ozm-imgconv with what a file manager's hook hands over, one argument per\n"
           "# file after \"--\". Usage: launch [--folders] [--] [FILE...]. Without files it\n"
           "# takes the Nautilus or Caja script variable (one path a line, so a name holding a\n"
           "# newline cannot come that way). Relative names count from the current folder.\n"
           "# --folders passes the files directly inside each folder given.\n"
           "program=" +
           ShellQuote(at.BinLink().string()) +
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
           "        for file in \"$item\"/* \"$item\"/.[!.]* \"$item\"/..?*; do\n"
           "            if [ -f \"$file\" ]; then set -- \"$@\" \"$file\"; fi\n"
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
                               std::string_view title) {
    const bool folders = IsFolderHandler(handlerName);
    return "[Desktop Entry]\n"
           "Type=Service\n"
           "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
           "MimeType=" +
           std::string(folders ? "inode/directory;" : kImageMimeTypes) +
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
                       std::string_view title) {
    std::string extensions;
    if (IsFolderHandler(handlerName)) {
        extensions = "dir;";
    } else {
        for (std::string_view ext : kImageExtensions) extensions += std::string(ext) + ";";
    }
    // Nemo puts each path, shell-quoted, in place of %F and splits the line as a shell would.
    return "[Nemo Action]\n"
           "Name=" +
           std::string(title) + "\nComment=" + std::string(title) +
           "\nExec=" + KeyFileString(ShellQuote(at.Launcher(kHandlerClassId).string())) + " " +
           LauncherArguments(handlerName) + " %F\nIcon-Name=" + std::string(kIconName) +
           "\nSelection=notnone\nExtensions=" + extensions + "\n";
}

std::string ThunarActionXml(const DesktopLocations& at, std::string_view handlerName,
                            std::string_view title) {
    const bool folders = IsFolderHandler(handlerName);
    std::string patterns = "*";
    if (!folders) {
        patterns.clear();
        // Thunar compares the patterns as they stand: both cases are listed.
        for (std::string_view ext : kImageExtensions) {
            std::string upper(ext);
            for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
            patterns += "*." + std::string(ext) + ";*." + upper + ";";
        }
    }
    return "<action>\n\t<icon>" + XmlEscape(kIconName) + "</icon>\n\t<name>" + XmlEscape(title) +
           "</name>\n\t<submenu></submenu>\n\t<unique-id>" + XmlEscape(handlerName) +
           "</unique-id>\n\t<command>" +
           XmlEscape(ShellQuote(at.Launcher(kHandlerClassId).string()) + " " +
                     LauncherArguments(handlerName) + " %F") +
           "</command>\n\t<description>" + XmlEscape(title) +
           "</description>\n\t<range></range>\n\t<patterns>" + XmlEscape(patterns) +
           "</patterns>\n\t" + (folders ? "<directories/>" : "<image-files/>") + "\n</action>";
}

std::string ApplicationEntry(const DesktopLocations& at, std::string_view title) {
    const std::string program = DesktopExecQuote(at.ProgramFile().string());
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=" +
           std::string(title) +
           "\n"
           "GenericName=Batch image converter\n"
           "Comment=Convert pictures to JPG, PNG, BMP, GIF, TIFF, EMF and WMF\n"
           "Exec=" +
           program + "\nIcon=" + std::string(kIconName) +
           "\n"
           "Terminal=false\n"
           "Categories=Graphics;2DGraphics;RasterGraphics;\n"
           "Actions=uninstall;\n"
           "\n"
           "[Desktop Action uninstall]\n"
           "Name=卸载OZM软件\n"
           "Exec=" +
           program + " uninstall\n";
}

// ---- Small file operations -------------------------------------------------------------------

bool IsEmptyFolder(const fs::path& folder) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(folder, ec)) && fs::is_empty(folder, ec) && !ec;
}

// rmdir: never recursive, so nothing another program left in the folder can go with it.
bool RemoveFolderIfEmpty(const fs::path& folder) { return ::rmdir(folder.c_str()) == 0; }

// Removes `file` (not a folder); then its parent and grandparent, each only when empty.
void RemoveWithEmptyParents(const fs::path& file, int parents) {
    if (IsSystemFolder(file.parent_path())) return;  // never in the system's own folders
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) return;
    fs::path folder = file.parent_path();
    for (int i = 0; i < parents && IsEmptyFolder(folder); ++i) {
        if (!RemoveFolderIfEmpty(folder)) return;
        folder = folder.parent_path();
    }
}

// ---- uca.xml ---------------------------------------------------------------------------------
// The file is checked with a real XML parser, then edited as text: the other programs'
// actions keep their exact bytes, and an install followed by a removal gives the file back
// byte for byte.

// Well-formed, with <actions> as its root element.
bool IsActionsFile(std::string_view bytes) {
    // No network, no entity expansion: the file is only checked, never interpreted.
    xmlDoc* doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "uca.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) return false;
    xmlNode* root = xmlDocGetRootElement(doc);
    const bool ok =
        root != nullptr && xmlStrcmp(root->name, reinterpret_cast<const xmlChar*>("actions")) == 0;
    xmlFreeDoc(doc);
    return ok;
}

struct ActionSpan {
    std::size_t begin = 0;  // the "<" of <action>
    std::size_t end = 0;    // just after </action>
    std::string uniqueId;
};

struct ActionsLayout {
    std::vector<ActionSpan> actions;          // the <action> children of the root
    std::size_t rootEnd = std::string::npos;  // the "<" of </actions>
};

std::string XmlUnescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const std::size_t semi = text.find(';', i);
        if (semi == std::string_view::npos) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, semi - i - 1);
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else
            out += "&" + std::string(name) + ";";  // our ids hold no other references
        i = semi;
    }
    return out;
}

// Walks the tags of a well-formed file (comments, CDATA, processing instructions and the
// doctype skipped) and notes where each top-level <action> begins and ends.
ActionsLayout ScanActions(std::string_view text) {
    ActionsLayout layout;
    int depth = 0;
    ActionSpan current;
    std::size_t idStart = std::string::npos;
    std::size_t i = 0;
    while ((i = text.find('<', i)) != std::string_view::npos) {
        const std::string_view rest = text.substr(i);
        std::size_t close;
        if (rest.starts_with("<!--")) {
            close = text.find("-->", i);
            i = close == std::string_view::npos ? text.size() : close + 3;
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            close = text.find("]]>", i);
            i = close == std::string_view::npos ? text.size() : close + 3;
            continue;
        }
        if (rest.starts_with("<?")) {
            close = text.find("?>", i);
            i = close == std::string_view::npos ? text.size() : close + 2;
            continue;
        }
        if (rest.starts_with("<!")) {  // the doctype, with its internal subset in brackets
            int brackets = 0;
            std::size_t j = i + 2;
            for (; j < text.size(); ++j) {
                if (text[j] == '[') ++brackets;
                if (text[j] == ']') --brackets;
                if (text[j] == '>' && brackets <= 0) break;
            }
            i = j + 1;
            continue;
        }
        // A tag: its end is the first ">" outside a quoted attribute value.
        char quote = 0;
        std::size_t j = i + 1;
        for (; j < text.size(); ++j) {
            if (quote != 0) {
                if (text[j] == quote) quote = 0;
            } else if (text[j] == '"' || text[j] == '\'') {
                quote = text[j];
            } else if (text[j] == '>') {
                break;
            }
        }
        const bool endTag = rest.size() > 1 && rest[1] == '/';
        const bool empty = j > i && text[j - 1] == '/';
        std::size_t nameStart = i + (endTag ? 2 : 1);
        std::size_t nameEnd = nameStart;
        while (nameEnd < j && text[nameEnd] != ' ' && text[nameEnd] != '\t' &&
               text[nameEnd] != '\n' && text[nameEnd] != '\r' && text[nameEnd] != '/') {
            ++nameEnd;
        }
        const std::string_view name = text.substr(nameStart, nameEnd - nameStart);
        if (endTag) {
            --depth;
            if (depth == 0 && name == "actions") layout.rootEnd = i;
            if (depth == 1 && name == "action") {
                current.end = j + 1;
                layout.actions.push_back(current);
            }
            if (depth == 2 && name == "unique-id" && idStart != std::string::npos) {
                current.uniqueId = XmlUnescape(text.substr(idStart, i - idStart));
                idStart = std::string::npos;
            }
        } else if (!empty) {
            if (depth == 1 && name == "action") current = ActionSpan{i, 0, {}};
            if (depth == 2 && name == "unique-id") idStart = j + 1;
            ++depth;
        }
        i = j + 1;
    }
    return layout;
}

// The blanks before `at` back to the start of their line, and that line break.
std::size_t StartOfLeadingBlank(std::string_view text, std::size_t at) {
    std::size_t from = at;
    while (from > 0 && (text[from - 1] == ' ' || text[from - 1] == '\t')) --from;
    if (from > 0 && text[from - 1] == '\n') --from;
    if (from > 0 && text[from - 1] == '\r') --from;
    return from;
}

// ---- Install helpers -------------------------------------------------------------------------

class Installer {
  public:
    Installer(const DesktopLocations& at, std::string_view title) : at_(at), title_(title) {
        if (auto old = ReadInstallManifest(at.Manifest(title))) {
            for (const ManifestEntry& e : *old) {
                if (e.kind == ManifestEntry::Kind::Folder) {
                    std::error_code ec;
                    if (fs::is_directory(fs::symlink_status(e.path, ec))) folders_.insert(e.path);
                } else if (e.kind == ManifestEntry::Kind::Cache) {
                    caches_.push_back(e);
                } else {
                    previous_[e.path] = e;
                }
            }
        }
    }

    InstallReport& Report() { return report_; }

    // Makes `folder` and its missing parents, remembering each folder it made.
    bool EnsureFolder(const fs::path& folder) {
        std::vector<fs::path> missing;
        fs::path walk = folder;
        std::error_code ec;
        while (!walk.empty() && walk != walk.root_path()) {
            const fs::file_status st = fs::status(walk, ec);
            if (fs::is_directory(st)) break;
            if (fs::exists(fs::symlink_status(walk, ec))) {
                report_.errors.push_back("not a folder: " + walk.string());
                return false;
            }
            missing.push_back(walk);
            walk = walk.parent_path();
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            if (::mkdir(it->c_str(), 0755) != 0 && errno != EEXIST) {
                report_.errors.push_back("cannot make the folder " + it->string());
                return false;
            }
            folders_.insert(*it);
        }
        return true;
    }

    void PlaceFile(const fs::path& path, std::string_view bytes, mode_t mode) {
        if (HasControlCharacter(path.string())) {
            report_.errors.push_back("refused: the path holds a control character: " +
                                     path.string());
            return;
        }
        if (!EnsureFolder(path.parent_path())) return;
        const std::string hash = Sha256Hex(bytes);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (!S_ISREG(st.st_mode)) {
                report_.foreign.push_back(path);
                return;
            }
            const std::optional<std::string> current = FileSha256Hex(path);
            if (current && *current == hash) {
                if ((st.st_mode & 07777) != mode) ::chmod(path.c_str(), mode);
                report_.unchanged.push_back(path);
                Record({ManifestEntry::Kind::File, hash, path});
                return;
            }
            auto earlier = previous_.find(path);
            if (!current || earlier == previous_.end() ||
                earlier->second.kind != ManifestEntry::Kind::File ||
                earlier->second.value != *current) {
                report_.foreign.push_back(path);
                return;
            }
        }
        std::error_code ec;
        if (!ReplaceFileAtomically(path, bytes, ec) || ::chmod(path.c_str(), mode) != 0) {
            report_.errors.push_back("cannot write " + path.string() + ": " + ec.message());
            return;
        }
        report_.written.push_back(path);
        Record({ManifestEntry::Kind::File, hash, path});
    }

    void PlaceCopy(const fs::path& source, const fs::path& path, mode_t mode) {
        FileContent content = ReadWholeFile(source, std::size_t{1} << 30);
        if (content.status != ReadStatus::Ok) {
            report_.errors.push_back("cannot read " + source.string());
            return;
        }
        PlaceFile(path, content.bytes, mode);
    }

    void PlaceLink(const fs::path& link, const fs::path& target) {
        if (!EnsureFolder(link.parent_path())) return;
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(link, ec))) {
            const fs::path now = fs::read_symlink(link, ec);
            if (now == target) {
                report_.unchanged.push_back(link);
                Record({ManifestEntry::Kind::Link, target.string(), link});
                return;
            }
            auto earlier = previous_.find(link);
            if (earlier == previous_.end() || earlier->second.value != now.string()) {
                report_.foreign.push_back(link);
                return;
            }
            fs::remove(link, ec);
        } else if (fs::exists(fs::symlink_status(link, ec))) {
            report_.foreign.push_back(link);
            return;
        }
        fs::create_symlink(target, link, ec);
        if (ec) {
            report_.errors.push_back("cannot link " + link.string() + ": " + ec.message());
            return;
        }
        report_.written.push_back(link);
        Record({ManifestEntry::Kind::Link, target.string(), link});
    }

    void PlaceThunarActions(const std::vector<std::string>& handlerNames) {
        const fs::path file = at_.ThunarActions();
        FileContent content = ReadWholeFile(file, kMaxSmallFile);
        if (content.status == ReadStatus::Failed) {
            report_.foreign.push_back(file);
            return;
        }
        std::string text =
            content.status == ReadStatus::Ok ? content.bytes : std::string(kEmptyActionsFile);
        if (!IsActionsFile(text)) {
            report_.foreign.push_back(file);  // does not parse: left as it is
            return;
        }
        for (const std::string& name : handlerNames) {
            const std::string fresh = ThunarActionXml(at_, name, title_);
            const ActionsLayout layout = ScanActions(text);
            auto ours = std::find_if(layout.actions.begin(), layout.actions.end(),
                                     [&](const ActionSpan& a) { return a.uniqueId == name; });
            if (ours != layout.actions.end()) {
                text.replace(ours->begin, ours->end - ours->begin, fresh);
            } else if (layout.rootEnd != std::string::npos) {
                const std::size_t at = layout.rootEnd;
                const bool lineStart = at > 0 && text[at - 1] == '\n';
                text.insert(at, (lineStart ? "" : "\n") + fresh + "\n");
            }
        }
        if (content.status == ReadStatus::Ok && text == content.bytes) {
            report_.unchanged.push_back(file);
            return;
        }
        if (!EnsureFolder(file.parent_path())) return;
        std::error_code ec;
        if (!ReplaceFileAtomically(file, text, ec)) {
            report_.errors.push_back("cannot write " + file.string() + ": " + ec.message());
            return;
        }
        report_.written.push_back(file);
    }

    void WriteManifest() {
        const fs::path manifest = at_.Manifest(title_);
        if (!EnsureFolder(manifest.parent_path())) return;
        // The manifest does not list itself: the uninstall deletes it by name.
        std::vector<ManifestEntry> entries;
        for (const fs::path& folder : folders_) {
            entries.push_back({ManifestEntry::Kind::Folder, "", folder});
        }
        entries.insert(entries.end(), entries_.begin(), entries_.end());
        for (const ManifestEntry& c : caches_) {
            std::error_code ec;
            if (fs::exists(c.path, ec)) entries.push_back(c);
        }
        const std::string bytes = FormatInstallManifest(entries);
        FileContent old = ReadWholeFile(manifest, kMaxSmallFile);
        if (old.status == ReadStatus::Ok && old.bytes == bytes) {
            report_.unchanged.push_back(manifest);
            return;
        }
        std::error_code ec;
        if (!ReplaceFileAtomically(manifest, bytes, ec)) {
            report_.errors.push_back("cannot write " + manifest.string() + ": " + ec.message());
            return;
        }
        report_.written.push_back(manifest);
    }

  private:
    void Record(ManifestEntry entry) { entries_.push_back(std::move(entry)); }

    const DesktopLocations& at_;
    std::string title_;
    InstallReport report_;
    std::map<fs::path, ManifestEntry> previous_;
    std::vector<ManifestEntry> caches_;
    std::set<fs::path> folders_;
    std::vector<ManifestEntry> entries_;
};

}  // namespace

// ---- Locations -------------------------------------------------------------------------------

DesktopLocations DesktopLocations::FromEnvironment() {
    return {HomeFolder(), DataHome(), ConfigHome(), UserDirPath(UserDir::Desktop)};
}

fs::path DesktopLocations::ProgramFolder() const { return home / ".local" / "lib" / "ozm-imgconv"; }
fs::path DesktopLocations::ProgramFile() const { return ProgramFolder() / kProgramFileName; }
fs::path DesktopLocations::BinLink() const { return home / ".local" / "bin" / kProgramFileName; }
fs::path DesktopLocations::ClassFolder(std::string_view classId) const {
    return dataHome / "ozm-imgconv" / classId;
}
fs::path DesktopLocations::Launcher(std::string_view classId) const {
    return ClassFolder(classId) / "launch";
}
fs::path DesktopLocations::Applications() const { return dataHome / "applications"; }
fs::path DesktopLocations::Autostart() const { return configHome / "autostart"; }
fs::path DesktopLocations::Manifest(std::string_view title) const {
    return dataHome / "ozm-imgconv" / (std::string(title) + ".manifest");
}
fs::path DesktopLocations::MenuEntry(std::string_view title) const {
    return Applications() / kMakerFolderName / (std::string(title) + ".desktop");
}
fs::path DesktopLocations::DesktopShortcut(std::string_view title) const {
    return desktop / kMakerFolderName / (std::string(title) + ".desktop");
}
fs::path DesktopLocations::ThunarActions() const { return configHome / "Thunar" / "uca.xml"; }

std::vector<fs::path> DesktopLocations::HookFiles(std::string_view handlerName) const {
    const std::string name(handlerName);
    return {dataHome / "kio" / "servicemenus" / (name + ".desktop"),
            dataHome / "nautilus" / "scripts" / name, configHome / "caja" / "scripts" / name,
            dataHome / "nemo" / "actions" / (name + ".nemo_action")};
}

std::string ShellQuote(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    out += '\'';
    return out;
}

// ---- Removal ---------------------------------------------------------------------------------

void RemoveContextMenuHook(const DesktopLocations& at, HookRoot /*root*/,
                           std::string_view handlerName) {
    // Each hook file, then its folder and that folder's parent, each only when empty, as
    // the shared parent keys of the registration are.
    for (const fs::path& hook : at.HookFiles(handlerName)) RemoveWithEmptyParents(hook, 2);

    const fs::path file = at.ThunarActions();
    FileContent content = ReadWholeFile(file, kMaxSmallFile);
    if (content.status != ReadStatus::Ok || !IsActionsFile(content.bytes)) return;
    std::string text = content.bytes;
    const ActionsLayout layout = ScanActions(text);
    bool removed = false;
    // From the last to the first, so the earlier offsets stay valid.
    for (auto it = layout.actions.rbegin(); it != layout.actions.rend(); ++it) {
        if (it->uniqueId != handlerName) continue;
        const std::size_t from = StartOfLeadingBlank(text, it->begin);
        text.erase(from, it->end - from);
        removed = true;
    }
    if (!removed) return;
    std::error_code ec;
    if (text == kEmptyActionsFile) {
        // Nothing is left but the frame the installer writes for a new file.
        RemoveWithEmptyParents(file, 1);
        return;
    }
    ReplaceFileAtomically(file, text, ec);
}

void RemoveClassRegistration(const DesktopLocations& at, std::string_view classId) {
    if (IsSystemFolder(at.ClassFolder(classId))) return;
    ::unlink(at.Launcher(classId).c_str());
    RemoveFolderIfEmpty(at.ClassFolder(classId));
}

void RemoveHandlerRegistration(const DesktopLocations& at, std::string_view classId,
                               std::string_view fileHandlerName) {
    RemoveContextMenuHook(at, HookRoot::Files, fileHandlerName);
    RemoveContextMenuHook(at, HookRoot::Folders, FolderHandlerName(fileHandlerName));
    RemoveClassRegistration(at, classId);
}

// ---- Install ---------------------------------------------------------------------------------

InstallReport InstallDesktopIntegration(const DesktopLocations& at, const InstallSources& from,
                                        std::string_view title) {
    Installer install(at, title);
    install.PlaceCopy(from.programBinary, at.ProgramFile(), 0755);
    if (!from.helpPage.empty())
        install.PlaceCopy(from.helpPage, at.ProgramFolder() / "Help.html", 0644);
    install.PlaceLink(at.BinLink(), at.ProgramFile());

    install.PlaceFile(at.Launcher(kHandlerClassId), LauncherScript(at), 0755);
    const std::string fileHandler(kFileHandlerName);
    const std::string folderHandler = FolderHandlerName(kFileHandlerName);
    for (const std::string& name : {fileHandler, folderHandler}) {
        const std::vector<fs::path> hooks = at.HookFiles(name);
        // Dolphin runs only service menus that may be executed; the scripts must be too.
        install.PlaceFile(hooks[0], DolphinServiceMenu(at, name, title), 0755);
        install.PlaceFile(hooks[1], ScriptHook(at, name), 0755);
        install.PlaceFile(hooks[2], ScriptHook(at, name), 0755);
        install.PlaceFile(hooks[3], NemoAction(at, name, title), 0644);
    }
    install.PlaceThunarActions({fileHandler, folderHandler});

    install.PlaceFile(at.MenuEntry(title), ApplicationEntry(at, title), 0644);
    const fs::path shortcut = at.DesktopShortcut(title);
    const bool hadShortcut = fs::exists(shortcut);
    install.PlaceFile(shortcut, ApplicationEntry(at, title), 0755);
    // GNOME starts a desktop launcher only when it is marked trusted; the mark lives in the
    // session's metadata store, reachable only within a session.
    if (!hadShortcut && std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) {
        RunAndWait({"gio", "set", shortcut.string(), "metadata::trusted", "true"}, 5000);
    }

    const fs::path icons = at.dataHome / "icons" / "hicolor";
    const std::string iconFile(kIconName);
    install.PlaceCopy(from.iconFolder / (iconFile + ".svg"),
                      icons / "scalable" / "apps" / (iconFile + ".svg"), 0644);
    for (int size : kIconSizes) {
        const std::string dim = std::to_string(size) + "x" + std::to_string(size);
        install.PlaceCopy(from.iconFolder / (iconFile + "-" + std::to_string(size) + ".png"),
                          icons / dim / "apps" / (iconFile + ".png"), 0644);
    }
    install.WriteManifest();
    return std::move(install.Report());
}

void AddCacheToManifest(const DesktopLocations& at, std::string_view title,
                        const fs::path& cacheFile) {
    const fs::path manifest = at.Manifest(title);
    std::optional<std::vector<ManifestEntry>> entries = ReadInstallManifest(manifest);
    std::optional<std::string> hash = FileSha256Hex(cacheFile);
    if (!entries || !hash) return;
    std::erase_if(*entries, [&](const ManifestEntry& e) { return e.path == cacheFile; });
    entries->push_back({ManifestEntry::Kind::Cache, *hash, cacheFile});
    std::error_code ec;
    ReplaceFileAtomically(manifest, FormatInstallManifest(*entries), ec);
}

// ---- Manifest --------------------------------------------------------------------------------

std::string FormatInstallManifest(const std::vector<ManifestEntry>& entries) {
    std::string out = "# ozm-imgconv install manifest: kind, hash or link target, path\n";
    for (const ManifestEntry& e : entries) {
        switch (e.kind) {
            case ManifestEntry::Kind::File:
                out += "file";
                break;
            case ManifestEntry::Kind::Cache:
                out += "cache";
                break;
            case ManifestEntry::Kind::Link:
                out += "link";
                break;
            case ManifestEntry::Kind::Folder:
                out += "dir";
                break;
        }
        out += "\t" + e.value + "\t" + e.path.string() + "\n";
    }
    return out;
}

std::optional<std::vector<ManifestEntry>> ReadInstallManifest(const fs::path& file) {
    FileContent content = ReadWholeFile(file, kMaxSmallFile);
    if (content.status != ReadStatus::Ok) return std::nullopt;
    std::vector<ManifestEntry> entries;
    std::size_t pos = 0;
    const std::string& text = content.bytes;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos) continue;
        const std::string_view kind = line.substr(0, tab1);
        ManifestEntry e;
        if (kind == "file") {
            e.kind = ManifestEntry::Kind::File;
        } else if (kind == "cache") {
            e.kind = ManifestEntry::Kind::Cache;
        } else if (kind == "link") {
            e.kind = ManifestEntry::Kind::Link;
        } else if (kind == "dir") {
            e.kind = ManifestEntry::Kind::Folder;
        } else {
            continue;
        }
        e.value = std::string(line.substr(tab1 + 1, tab2 - tab1 - 1));
        e.path = std::string(line.substr(tab2 + 1));
        // Only absolute paths: a damaged line must not name something under the current folder.
        if (!e.path.is_absolute()) continue;
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<fs::path> ManifestFolders(const fs::path& manifest) {
    std::vector<fs::path> folders;
    if (auto entries = ReadInstallManifest(manifest)) {
        for (const ManifestEntry& e : *entries) {
            if (e.kind == ManifestEntry::Kind::Folder) folders.push_back(e.path);
        }
    }
    // Deepest first: a folder before its parent.
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
        const auto depth = [](const fs::path& p) { return std::distance(p.begin(), p.end()); };
        return depth(a) != depth(b) ? depth(a) > depth(b) : a < b;
    });
    return folders;
}

bool RemoveManifestFiles(const fs::path& manifest, const std::set<fs::path>& namedElsewhere) {
    std::optional<std::vector<ManifestEntry>> entries = ReadInstallManifest(manifest);
    if (!entries) {
        std::error_code ec;
        return !fs::exists(fs::symlink_status(manifest, ec));
    }
    for (const ManifestEntry& e : *entries) {
        // A damaged or planted manifest must not reach into the system's own folders.
        if (namedElsewhere.count(e.path) != 0 || IsSystemFolder(e.path.parent_path())) continue;
        struct stat st {};
        if (::lstat(e.path.c_str(), &st) != 0) continue;
        if (e.kind == ManifestEntry::Kind::File || e.kind == ManifestEntry::Kind::Cache) {
            if (!S_ISREG(st.st_mode) || FileSha256Hex(e.path) != e.value) continue;
            ::unlink(e.path.c_str());
        } else if (e.kind == ManifestEntry::Kind::Link) {
            std::error_code ec;
            if (!S_ISLNK(st.st_mode) || fs::read_symlink(e.path, ec).string() != e.value) continue;
            ::unlink(e.path.c_str());
        }
    }
    const std::vector<fs::path> folders = ManifestFolders(manifest);
    if (::unlink(manifest.c_str()) != 0 && errno != ENOENT) return false;
    for (const fs::path& folder : folders) {
        if (namedElsewhere.count(folder) == 0 && !IsSystemFolder(folder)) {
            RemoveFolderIfEmpty(folder);
        }
    }
    return true;
}

}  // namespace ozm
