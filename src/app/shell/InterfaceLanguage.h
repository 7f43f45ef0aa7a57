#pragma once
// Which language the windows speak. Chinese is the interface's own language: its texts are the
// sources the English translation is keyed on, so Chinese needs no translation at all.

#include <functional>

namespace ozm {

enum class InterfaceLanguage { Chinese, English };

// Reads a variable of the environment; nullptr when it is not set.
using EnvironmentLookup = std::function<const char*(const char*)>;

// OZM_LANG=zh or en decides outright. Otherwise the locale of messages (the first set of
// LC_ALL, LC_MESSAGES, LANG) does: unset, C or POSIX keeps Chinese, as does zh_*; in any other
// locale the first zh or en entry of LANGUAGE's list decides, and without one it is English.
InterfaceLanguage ChooseInterfaceLanguage(const EnvironmentLookup& lookup);

// The same for this process's environment.
InterfaceLanguage InterfaceLanguageOfThisProcess();

}  // namespace ozm
