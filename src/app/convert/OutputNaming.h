#pragma once
// Output naming and folder-text normalisation shared by the batch run, the quick conversion
// and the command line. Folders are texts ending in "/".

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ozm {

// Numbered candidates tried after the plain name: name(1).ext .. name(1000).ext.
inline constexpr int kMaxNumberedNames = 1000;
inline constexpr std::string_view kAllNamesTakenReason = "all 1001 names taken";

// The first of folder + fileName, then name(1).ext, name(2).ext, ... that no directory entry
// has (a file, a folder, a link, even a dangling one). nullopt when all 1001 are taken: the
// caller then writes nothing rather than replace a file.
std::optional<std::string> MakeUniqueOutputPath(std::string_view folder, std::string_view fileName);

// The same rule with the caller's own test of whether a candidate path is taken.
std::optional<std::string> MakeUniqueOutputPath(
    std::string_view folder, std::string_view fileName,
    const std::function<bool(const std::string& path)>& isTaken);

// True when a file (not a folder) exists at the path.
bool IsExistingFile(const std::string& path);

// True when any directory entry has the name, whatever it is or points to: such a name can
// never be given to a new file without replacing something.
bool IsNameTaken(const std::string& path);

// A text that is empty or only blanks and control characters comes back unchanged (callers
// take it as no folder). Otherwise the text, untrimmed (a name may begin or end with a
// blank), gets one "/" appended, then every "///" becomes "/", then every "//" becomes "/"
// (two replace-all passes, in that order).
void NormalizeFolderPath(std::string& folder);

}  // namespace ozm
