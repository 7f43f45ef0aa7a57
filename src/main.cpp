// Start-up of ozm-imgconv: reads the command line and chooses the mode the program runs in.
// The toolkit is started only for a mode that shows a window: the silent exit stays instant.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/session/AppSession.h"
#include "app/shell/CommandLine.h"
#include "app/shell/HandlerRegistration.h"
#include "app/shell/InterfaceLanguage.h"
#include "app/shell/ProductInfo.h"
#include "app/ui/MainForm.h"
#include "app/ui/QtHelpers.h"
#include "app/ui/QuickMenu.h"
#include "app/ui/ShutdownSignals.h"
#include "app/ui/Translation.h"
#include "app/ui/uninstallEveryUnit.h"
#include "platform/ProgramFolder.h"
#include "platform/Trash.h"

namespace {

int RunMainWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    ozm::UseInterfaceLanguage(app, ozm::InterfaceLanguageOfThisProcess());
    ozm::AppSession session(ozm::ProgramFolder());
    ozm::TMainForm form(session, ozm::DataFolder());
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

// The quick conversion: the main window is made with the settings but never shown, and the
// menu opens at the pointer. The program ends by the menu's rules, not when a window closes.
int RunQuickConversion(int argc, char** argv, std::vector<std::string> files) {
    // A Wayland client can neither read the pointer nor place a pop-up menu: X11 when there.
    if (std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication app(argc, argv);
    ozm::UseInterfaceLanguage(app, ozm::InterfaceLanguageOfThisProcess());
    app.setQuitOnLastWindowClosed(false);
    ozm::AppSession session(ozm::ProgramFolder());
    ozm::TMainForm form(session, ozm::DataFolder());
    // A termination signal stops the worker at its next test, waits for it, then ends.
    ozm::ShutdownSignals onSignals([&] { form.QuickMenu().Terminate(); });
    form.QuickMenu().Start(std::move(files));
    app.exec();
    form.Shutdown();
    return 0;
}

int RunUninstall(int argc, char** argv) {
    QApplication app(argc, argv);
    ozm::UseInterfaceLanguage(app, ozm::InterfaceLanguageOfThisProcess());
    const std::string title(ozm::kApplicationTitle);
    // A folder of the shortcut's name on the desktop goes to the trash.
    ozm::FreedesktopTrash trash;
    ozm::TFrmUninstall form(ozm::UninstallPlaces::ForThisProcess(title), trash);
    QCoreApplication::setApplicationName(ozm::T(ozm::kUninstallTitle));
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
    // A file of that name comes as "-- --version", the hooks' form.
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::printf("ozm-imgconv %s\n", std::string(ozm::kProductVersionText).c_str());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    const ozm::StartupDecision decision = ozm::DecideStartup(arguments);
    switch (decision.mode) {
        case ozm::StartupMode::SilentExit:
            // Files were given, but none of them is an image this program takes.
            return 0;
        case ozm::StartupMode::MainWindow:
            return RunMainWindow(argc, argv);
        case ozm::StartupMode::QuickConversion:
            return RunQuickConversion(argc, argv, decision.commandLineFiles);
        case ozm::StartupMode::Uninstall:
            return RunUninstall(argc, argv);
    }
    return 0;
}
