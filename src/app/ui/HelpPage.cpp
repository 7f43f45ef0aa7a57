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
    auto* browser = new QTextBrowser(page);
    browser->setObjectName(QStringLiteral("HelpBrowser"));
    browser->setAccessibleName(QStringLiteral("Help"));
    browser->setOpenLinks(false);
    if (helpPage.empty()) {
        browser->hide();
    } else {
        browser->setSource(QUrl::fromLocalFile(Q(helpPage.string())), QTextDocument::HtmlResource);
    }
    QObject::connect(browser, &QTextBrowser::anchorClicked, browser,
                     [browser, openAddress = std::move(openAddress)](const QUrl& link) {
                         const QUrl here = browser->source();
                         const QUrl target = here.resolved(link);
                         if (target.hasFragment() &&
                             target.adjusted(QUrl::RemoveFragment) ==
                                 here.adjusted(QUrl::RemoveFragment)) {
                             browser->scrollToAnchor(target.fragment());
                             return;
                         }
                         if (openAddress) openAddress(S(target.toString(QUrl::FullyEncoded)));
                     });
    column->addWidget(browser, 1);

    auto* bottom = new QHBoxLayout;
    auto* version = new QLabel(versionText, page);
    version->setObjectName(QStringLiteral("LblVersion"));
    bottom->addWidget(version);
    bottom->addStretch(1);
    AddCheckUpdateButton(page, bottom, mainWindow, programFolder);
    column->addLayout(bottom);
    if (helpPage.empty()) column->addStretch(1);
    return browser;
}

}  // namespace ozm
