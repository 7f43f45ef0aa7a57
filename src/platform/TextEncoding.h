#pragma once
// Character sets of the settings and history files. They are written in UTF-8; files left by
// older installations are in GBK (the Chinese ANSI code page), so a file that is not valid
// UTF-8 is read as GBK.

#include <optional>
#include <string>
#include <string_view>

namespace ozm {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// GBK to UTF-8 through iconv. nullopt when the bytes are not GBK.
std::optional<std::string> GbkToUtf8(std::string_view bytes);

// Text of a settings or history file as UTF-8: a leading byte-order mark is dropped; bytes
// that are not UTF-8 are read as GBK, and kept as they are when they are not GBK either.
std::string DecodeSettingsText(std::string_view bytes);

}  // namespace ozm
