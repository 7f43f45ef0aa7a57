#pragma once
// Small text rules shared by every layer: ASCII case folding, trimming of blanks and control
// characters, UTF-8 encoding of a code point, the whole-number rule, and the extension rule for
// file names.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ozm {

// Folds A..Z to a..z; every other byte (UTF-8 included) is kept.
std::string AsciiLower(std::string_view text);

// Removes leading and trailing characters with codes up to 32 (blanks and control characters).
std::string_view TrimControl(std::string_view text);

// Appends the UTF-8 form of `codePoint`; surrogates and values above U+10FFFF become U+FFFD.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

// The whole-number rule for typed numbers: any number of leading spaces, an optional "+" or
// "-", then decimal digits; "$", "x", "X", "0x" or "0X" in place of the first digit switches
// to hexadecimal digits. Nothing may follow the digits. Decimal values must lie in the signed
// 32-bit range; hexadecimal ones may use all 32 bits ("$FFFFFFFF" is -1), as typed masks do.
std::optional<std::int32_t> ParseWholeNumber(std::string_view text);

// Extension of a path: from the last "." of the name to the end, the dot included, provided
// no "/" follows that dot; otherwise empty. "photo.JPG" gives ".JPG", "a.b/photo" gives "",
// "photo." gives ".".
std::string_view ExtractFileExt(std::string_view path);

// Replaces the extension (from the last "." of the name on) by `ext`; a name without a dot
// gets `ext` appended.
std::string ChangeFileExt(std::string_view path, std::string_view ext);

// A file name made safe to show on a terminal: control characters (codes below 32 and 127),
// bytes that are not part of valid UTF-8 and the backslash itself become \n, \t, \\ or
// \xHH, so a name can neither move the cursor nor pass for another name.
std::string EscapeForTerminal(std::string_view text);

// Folder part of a path, up to and including the last "/", and the name after it.
std::string_view ExtractFilePath(std::string_view path);
std::string_view ExtractFileName(std::string_view path);

}  // namespace ozm
