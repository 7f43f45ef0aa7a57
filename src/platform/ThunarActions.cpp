#include "platform/ThunarActions.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <vector>

#include "platform/AtomicFile.h"

namespace ozm {

namespace {

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

struct ActionSpan {
    std::size_t begin = 0;  // the "<" of <action>
    std::size_t end = 0;    // just after </action>
    std::string uniqueId;
};

struct ActionsLayout {
    std::vector<ActionSpan> actions;          // the <action> children of the root
    std::size_t rootEnd = std::string::npos;  // the "<" of </actions>
};

// At the "<" that starts a comment, a CDATA section, a processing instruction or the
// doctype (with its internal subset in brackets): the offset just after it. nullopt at a tag.
std::optional<std::size_t> SkipMarkup(std::string_view text, std::size_t i) {
    const std::string_view rest = text.substr(i);
    const auto past = [&](std::string_view close) {
        const std::size_t at = text.find(close, i);
        return at == std::string_view::npos ? text.size() : at + close.size();
    };
    if (rest.starts_with("<!--")) return past("-->");
    if (rest.starts_with("<![CDATA[")) return past("]]>");
    if (rest.starts_with("<?")) return past("?>");
    if (!rest.starts_with("<!")) return std::nullopt;
    int brackets = 0;
    std::size_t j = i + 2;
    for (; j < text.size(); ++j) {
        if (text[j] == '[') ++brackets;
        if (text[j] == ']') --brackets;
        if (text[j] == '>' && brackets <= 0) break;
    }
    return j + 1;
}

// The ">" that ends the tag starting at `i`: the first one outside a quoted attribute value
// (text.size() when there is none).
std::size_t TagEnd(std::string_view text, std::size_t i) {
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
    return j;
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
        if (const std::optional<std::size_t> next = SkipMarkup(text, i)) {
            i = *next;
            continue;
        }
        const std::size_t j = TagEnd(text, i);
        const bool endTag = i + 1 < text.size() && text[i + 1] == '/';
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

}  // namespace

std::string ThunarActionsStart(const DesktopLocations& at) {
    const std::filesystem::path system = at.SystemThunarActions();
    if (!system.empty()) {
        FileContent content = ReadWholeFile(system, kMaxSmallFile);
        if (content.status == ReadStatus::Ok && IsActionsFile(content.bytes)) {
            return std::move(content.bytes);
        }
    }
    return std::string(kEmptyActionsFile);
}

std::string ThunarActionXml(const DesktopLocations& at, std::string_view handlerName,
                            std::string_view title, const HookFilter& files) {
    const bool folders = IsFolderHandler(handlerName);
    std::string patterns = "*";
    if (!folders) {
        patterns.clear();
        // Thunar compares the patterns as they stand: both cases are listed.
        for (const std::string& ext : files.extensions) {
            std::string upper(ext);
            for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
            patterns += "*." + ext + ";*." + upper + ";";
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

std::string WithThunarAction(std::string text, std::string_view uniqueId, std::string_view action) {
    const ActionsLayout layout = ScanActions(text);
    auto ours = std::find_if(layout.actions.begin(), layout.actions.end(),
                             [&](const ActionSpan& a) { return a.uniqueId == uniqueId; });
    if (ours != layout.actions.end()) {
        text.replace(ours->begin, ours->end - ours->begin, action);
    } else if (layout.rootEnd != std::string::npos) {
        const std::size_t at = layout.rootEnd;
        const bool lineStart = at > 0 && text[at - 1] == '\n';
        text.insert(at, (lineStart ? "" : "\n") + std::string(action) + "\n");
    }
    return text;
}

std::optional<std::string> WithoutThunarAction(std::string text, std::string_view uniqueId) {
    const ActionsLayout layout = ScanActions(text);
    bool removed = false;
    // From the last to the first, so the earlier offsets stay valid.
    for (auto it = layout.actions.rbegin(); it != layout.actions.rend(); ++it) {
        if (it->uniqueId != uniqueId) continue;
        const std::size_t from = StartOfLeadingBlank(text, it->begin);
        text.erase(from, it->end - from);
        removed = true;
    }
    if (!removed) return std::nullopt;
    return text;
}

}  // namespace ozm
