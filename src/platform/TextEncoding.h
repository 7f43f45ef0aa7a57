#pragma once
// Character-set helpers. The settings and history files are not re-encoded: a file name on
// this system is a string of bytes, so their values are kept byte for byte, and the texts
// the program writes itself are UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace ozm {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes);

// GBK to UTF-8 through iconv. nullopt when the bytes are not GBK.
std::optional<std::string> GbkToUtf8(std::string_view bytes);

}  // namespace ozm
