#include "app/ui/HelpPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/ui/FrmUpdateRoot.h"
#include "app/ui/QtHelpers.h"

namespace ozm {

QTextBrowser* BuildHelpPage(QWidget* page, QWidget* mainWindow,
                            const std::filesystem::path& helpPage,
                            const std::filesystem::path& programFolder, const QString& versionText,
                            std::function<void(const std::string&)> openAddress) {
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(4, 4, 4, 4);
    // The button first, where it has always been (top left), the version beside it.
    auto* top = new QHBoxLayout;
    AddCheckUpdateButton(page, top, mainWindow, programFolder);
    auto* version = new QLabel(versionText, page);
    version->setObjectName(QStringLiteral("LblVersion"));
    top->addWidget(version);
    top->addStretch(1);
    column->addLayout(top);

    auto* browser = new QTextBrowser(page);
    browser->setObjectName(QStringLiteral("HelpBrowser"));
    browser->setAccessibleName(QStringLiteral("Help"));
    browser->setOpenLinks(false);
    if (helpPage.empty()) {
        browser->hide();
        column->addStretch(1);
    } else {
        browser->setSource(QUrl::fromLocalFile(Q(helpPage.string())), QTextDocument::HtmlResource);
    }
    QObject::connect(browser, &QTextBrowser::anchorClicked, browser,
                     [browser, openAddress = std::move(openAddress)](const QUrl& link) {
                         const QUrl here = browser->source();
                         const QUrl target = here.resolved(link);
                         if (target.hasFragment() && target.adjusted(QUrl::RemoveFragment) ==
                                                         here.adjusted(QUrl::RemoveFragment)) {
                             browser->scrollToAnchor(target.fragment());
                             return;
                         }
                         if (openAddress) openAddress(S(target.toString(QUrl::FullyEncoded)));
                     });
    column->addWidget(browser, 1);
    return browser;
}

}  // namespace ozm
