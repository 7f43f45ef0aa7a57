#pragma once
// Start-up: the files the program was started with and the mode it runs in. The first
// argument is "uninstall", or full paths joined by "?" (the form file-manager hooks of the
// original shell integration produce); "ozm-imgconv -- FILE..." takes one file per argument,
// since "?" may occur in a file name here.

#include <string>
#include <string_view>
#include <vector>

namespace ozm {

enum class StartupMode {
    MainWindow,       // no files: the main window, placed and faded in
    QuickConversion,  // files, at least one with a supported extension: the quick menu
    Uninstall,        // the first argument is exactly "uninstall"
    SilentExit,       // files, none with a supported extension: end without a window
};

struct StartupDecision {
    StartupMode mode = StartupMode::MainWindow;
    std::vector<std::string> commandLineFiles;  // CommandLineFiles, in the order given
    bool quickMode = false;                     // QuickMode
};

inline constexpr std::string_view kUninstallArgument = "uninstall";
inline constexpr std::string_view kFilesFollowArgument = "--";

// The items of a "?"-separated first argument: the texts between the separators, spaces
// kept. The argument is first trimmed of blanks and control characters (nothing left: no
// items); a control character inside also ends an item and is dropped; consecutive or
// trailing separators give empty items ("a.jpg?" gives "a.jpg" and "").
std::vector<std::string> ParseCommandLineFiles(std::string_view firstArgument);

// The decision for the arguments after the program name (argv[1] onwards). Only the first
// argument counts, unless it is "--": then every later argument is one file.
StartupDecision DecideStartup(const std::vector<std::string>& arguments);

}  // namespace ozm
