#include "app/shell/InterfaceLanguage.h"

#include <cstdlib>
#include <optional>
#include <string_view>

namespace ozm {

namespace {

// The language part of a locale name ("zh_CN.UTF-8@x" → "zh"), lower case.
std::string_view LanguageOf(std::string_view locale) {
    const std::size_t end = locale.find_first_of("_.@-");
    return locale.substr(0, end);
}

std::optional<InterfaceLanguage> Known(std::string_view locale) {
    const std::string_view language = LanguageOf(locale);
    if (language == "zh") return InterfaceLanguage::Chinese;
    if (language == "en") return InterfaceLanguage::English;
    return std::nullopt;
}

std::string_view Value(const EnvironmentLookup& lookup, const char* name) {
    const char* value = lookup(name);
    return value == nullptr ? std::string_view() : std::string_view(value);
}

}  // namespace

InterfaceLanguage ChooseInterfaceLanguage(const EnvironmentLookup& lookup) {
    const std::string_view forced = Value(lookup, "OZM_LANG");
    if (forced == "zh") return InterfaceLanguage::Chinese;
    if (forced == "en") return InterfaceLanguage::English;

    std::string_view locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = Value(lookup, name);
        if (!locale.empty()) break;
    }
    // LANGUAGE is not consulted in the C locale, as gettext does.
    const std::string_view language = LanguageOf(locale);
    if (locale.empty() || language == "C" || language == "POSIX") return InterfaceLanguage::Chinese;

    std::string_view list = Value(lookup, "LANGUAGE");
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        if (const auto known = Known(list.substr(0, colon))) return *known;
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    return language == "zh" ? InterfaceLanguage::Chinese : InterfaceLanguage::English;
}

InterfaceLanguage InterfaceLanguageOfThisProcess() {
    return ChooseInterfaceLanguage([](const char* name) { return std::getenv(name); });
}

}  // namespace ozm
