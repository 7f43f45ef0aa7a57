// Start-up of ozm-imgconv: reads the command line and chooses the mode the program runs in.
// The toolkit is started only for a mode that shows a window: the silent exit stays instant.

#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app/shell/CommandLine.h"
#include "app/shell/HandlerRegistration.h"
#include "app/shell/ProductInfo.h"
#include "app/ui/MainForm.h"
#include "app/ui/ShutdownSignals.h"
#include "app/ui/uninstallEveryUnit.h"
#include "platform/ProgramFolder.h"
#include "platform/Trash.h"

namespace {

int RunMainWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    ozm::TMainForm form(ozm::ProgramFolder(), ozm::ExecutableFolder());
    // A termination signal closes the window as its close button does.
    ozm::ShutdownSignals onSignals([&] {
        form.close();
        app.quit();
    });
    form.ShowMainWindowMode();
    app.exec();
    form.Shutdown();
    return 0;
}

int RunUninstall(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string title(ozm::kApplicationTitle);
    // A folder of the shortcut's name on the desktop goes to the trash.
    ozm::FreedesktopTrash trash;
    ozm::TFrmUninstall form(ozm::UninstallPlaces::ForThisProcess(title), trash);
    QCoreApplication::setApplicationName(
        QString::fromUtf8(ozm::kUninstallTitle.data(), ozm::kUninstallTitle.size()));
    form.setWindowTitle(QCoreApplication::applicationName());
    ozm::OzmImgConvertMenu();
    // Before the window is used: closing it without uninstalling leaves the hooks removed.
    ozm::RemoveShellMenuRegistration();
    form.show();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const ozm::StartupDecision decision = ozm::DecideStartup(arguments);
    switch (decision.mode) {
        case ozm::StartupMode::SilentExit:
            // Files were given, but none of them is an image this program takes.
            return 0;
        case ozm::StartupMode::MainWindow:
            return RunMainWindow(argc, argv);
        case ozm::StartupMode::Uninstall:
            return RunUninstall(argc, argv);
        case ozm::StartupMode::QuickConversion:
            // The windows of these modes are not part of this build yet; the converter
            // itself is available headless as ozmconv.
            std::fprintf(stderr,
                         "ozm-imgconv: this build has no quick-conversion or uninstall window "
                         "yet; use ozmconv to convert files (ozmconv --help)\n");
            return 1;
    }
    return 0;
}
