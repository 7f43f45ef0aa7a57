// Start-up of ozm-imgconv: reads the command line and chooses the mode the program runs in.

#include <cstdio>
#include <string>
#include <vector>

#include "app/shell/CommandLine.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const ozm::StartupDecision decision = ozm::DecideStartup(arguments);
    switch (decision.mode) {
        case ozm::StartupMode::SilentExit:
            // Files were given, but none of them is an image this program takes.
            return 0;
        case ozm::StartupMode::MainWindow:
        case ozm::StartupMode::QuickConversion:
        case ozm::StartupMode::Uninstall:
            // The windows of these modes are not part of this build yet; the converter
            // itself is available headless as ozmconv.
            std::fprintf(stderr,
                         "ozm-imgconv: this build has no windows yet; use ozmconv to convert "
                         "files (ozmconv --help)\n");
            return 1;
    }
    return 0;
}
