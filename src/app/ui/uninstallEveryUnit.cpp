#include "app/ui/uninstallEveryUnit.h"

#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "app/shell/ProductInfo.h"
#include "app/ui/QtHelpers.h"
#include "app/ui/Translation.h"
#include "platform/Processes.h"

namespace ozm {

TFrmUninstall::TFrmUninstall(UninstallPlaces places, Trash& trash, QWidget* parent)
    : QDialog(parent), places_(std::move(places)), trash_(trash) {
    setObjectName("FrmUninstall");
    setWindowTitle(T(kUninstallFormCaption));
    const QIcon question = style()->standardIcon(QStyle::SP_MessageBoxQuestion);
    setWindowIcon(question);

    ImgQuestion_ = new QLabel(this);
    ImgQuestion_->setObjectName("ImgQuestion");
    ImgQuestion_->setPixmap(question.pixmap(32, 32));
    ImgQuestion_->setAlignment(Qt::AlignCenter);
    LblNote_ = new QLabel(T(kUninstallNote), this);
    LblNote_->setObjectName("LblNote");
    LblNote_->setWordWrap(true);
    LblLink_ = new QLabel(this);
    LblLink_->setObjectName("LblLink");
    LblLink_->setText("<a href=\"home\">" + T(kLatestSoftwareLink).toHtmlEscaped() + "</a>");
    // Tab reaches the link and Enter opens it, as a click does.
    LblLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    LblLink_->setAccessibleName(T(kLatestSoftwareLink));
    LblLink_->setAccessibleDescription(T("在浏览器中打开软件主页"));
    LblLink_->setCursor(Qt::PointingHandCursor);
    BtnStart_ = new QPushButton(T(kUninstallStartText), this);
    BtnStart_->setObjectName("BtnStart");
    BtnStart_->setAccessibleDescription(T("从本机卸载本软件"));
    BtnStart_->setDefault(true);
    BtnStart_->setAutoDefault(true);
    BtnClose_ = new QPushButton(T(kUninstallCloseText), this);
    BtnClose_->setObjectName("BtnClose");
    BtnClose_->setAccessibleDescription(T("不卸载，关闭窗口"));
    BtnClose_->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(ImgQuestion_);
    top->addWidget(LblNote_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(LblLink_);
    bottom->addStretch(1);
    bottom->addWidget(BtnStart_);
    bottom->addWidget(BtnClose_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 14);
    layout->addLayout(top, 1);
    layout->addSpacing(12);
    layout->addLayout(bottom);
    setFixedSize(420, 150);

    connect(BtnStart_, &QPushButton::clicked, this, [this] { BtnStartClick(); });
    connect(BtnClose_, &QPushButton::clicked, this, [this] { BtnCloseClick(); });
    connect(LblLink_, &QLabel::linkActivated, this, [this] { LblLinkClick(); });

    startDetached = [](const std::vector<std::string>& argv) { return StartDetached(argv); };
    endProcess = [] { QCoreApplication::exit(0); };
    PlaceOnScreen();
    BtnStart_->setFocus();
}

void TFrmUninstall::PlaceOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->geometry();
    // Integer halves: C++ division truncates toward zero, as the placement rule says.
    move((area.width() - width()) / 2 - 50, (area.height() - height()) / 2 - 30);
}

void TFrmUninstall::BtnStartClick() {
    Uninstall uninstall(places_, trash_, *this);
    uninstall.Start();  // a failed step leaves the window as it is
}

void TFrmUninstall::BtnCloseClick() {
    done(QDialog::Rejected);
    close();
}

void TFrmUninstall::reject() { BtnCloseClick(); }

void TFrmUninstall::LblLinkClick() { startDetached({"xdg-open", std::string(kMakerHomePage)}); }

void TFrmUninstall::ShowMessageAtPointer(const std::string& text) {
    QMessageBox box(QMessageBox::Information, windowTitle(), T(text), QMessageBox::Ok, this);
    box.setObjectName("UninstalledMessage");
    box.adjustSize();
    box.move(QCursor::pos());
    box.exec();
}

bool TFrmUninstall::StartScript(const std::filesystem::path& script) {
    return startDetached({"/bin/sh", script.string()});
}

void TFrmUninstall::EndProcess() {
    hide();
    endProcess();
}

}  // namespace ozm
