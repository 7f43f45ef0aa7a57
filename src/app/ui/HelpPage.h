#pragma once
// The main window's second page: the help (Help.html) in a text browser, the program's name
// and version, and the "检查更新" button. Links leave the program: they go to the desktop's
// browser through the opener the window is given, never straight from the browser control.

#include <QString>
#include <filesystem>
#include <functional>
#include <string>

class QTextBrowser;
class QWidget;

namespace ozm {

// `helpPage`: Help.html, or empty when there is none (the browser then stays hidden).
// `openAddress` gets every link the user follows, as an absolute address with its scheme,
// except a jump within the page, which the browser makes itself.
QTextBrowser* BuildHelpPage(QWidget* page, QWidget* mainWindow,
                            const std::filesystem::path& helpPage,
                            const std::filesystem::path& programFolder, const QString& versionText,
                            std::function<void(const std::string&)> openAddress);

}  // namespace ozm
