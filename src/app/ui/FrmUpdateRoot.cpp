#include "app/ui/FrmUpdateRoot.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <climits>

#include "app/ui/QtHelpers.h"
#include "app/ui/Translation.h"

namespace ozm {

namespace {

// A message box that does not block the caller: the download's reports keep arriving.
void OpenMessageBox(QWidget* parent, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("OZM"), text,
                                QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("UpdateMessage"));
    box->open();
}

}  // namespace

void QtUpdateClock::Start(int milliseconds, std::function<void()> fire) {
    QTimer::singleShot(milliseconds, owner_,
                       [this, generation = generation_, fire = std::move(fire)] {
                           if (generation == generation_) fire();
                       });
}

// --- the update window -------------------------------------------------------------------

TFrmUpdateRoot::TFrmUpdateRoot(QWidget* parent, std::unique_ptr<UpdateClock> clock)
    : QWidget(parent, Qt::Dialog),
      clock_(clock ? std::move(clock) : std::make_unique<QtUpdateClock>(this)),
      update_(std::make_unique<OnlineUpdate>(*this)) {
    setObjectName(QStringLiteral("FrmUpdateRoot"));
    setWindowTitle(T(kUpdateWindowCaption));
    setWindowModality(Qt::ApplicationModal);
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(9);
    setFont(font);
    resize(420, 130);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 12);
    layout->setSpacing(10);
    lblHint_ = new QLabel(this);
    lblHint_->setObjectName(QStringLiteral("LblHint"));
    lblHint_->setAlignment(Qt::AlignCenter);
    lblHint_->setMinimumHeight(22);
    layout->addWidget(lblHint_);
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar_->setAccessibleName(T("下载进度"));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    layout->addWidget(progressBar_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnClose_ = new QPushButton(T("关闭"), this);
    btnClose_->setObjectName(QStringLiteral("BtnClose"));
    btnClose_->setAccessibleDescription(T("关闭窗口；已开始的下载继续进行"));
    connect(btnClose_, &QPushButton::clicked, this, [this] { BtnCloseClick(); });
    buttons->addWidget(btnClose_);
    layout->addLayout(buttons);

    showMessage_ = [this](const QString& text) { OpenMessageBox(this, text); };
}

TFrmUpdateRoot::~TFrmUpdateRoot() {
    clock_->StopAll();
    update_.reset();
}

void TFrmUpdateRoot::Prepare(const UpdatePaths& paths) {
    if (update_->Running()) return;
    update_->Prepare(paths);
    clock_->StopAll();
    lblHint_->clear();
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
}

void TFrmUpdateRoot::ShowUpdate() {
    const bool wasRunning = update_->Running();
    if (!placed_ && parentWidget()) {
        // Over the middle of the main window the first time; later where the user left it.
        move(parentWidget()->geometry().center() - rect().center());
        placed_ = true;
    }
    show();
    raise();
    activateWindow();
    if (wasRunning) return;
    // The page the window once loaded was only a trigger for this timer.
    clock_->StopAll();
    clock_->Start(250, [this] { Timer1Timer(); });
}

void TFrmUpdateRoot::Timer1Timer() {
    lblHint_->setText(T(kUpdateHint));
    clock_->Start(1000, [this] { StartDownload(); });
}

void TFrmUpdateRoot::StartDownload() {
    if (update_->Start()) progressBar_->setRange(0, 0);
}

void TFrmUpdateRoot::BtnCloseClick() { close(); }

void TFrmUpdateRoot::closeEvent(QCloseEvent* event) {
    // A download already running goes on; one not started yet never starts.
    clock_->StopAll();
    event->accept();
}

void TFrmUpdateRoot::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        BtnCloseClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

QString TFrmUpdateRoot::HintText() const { return lblHint_->text(); }
int TFrmUpdateRoot::ProgressMaximum() const { return progressBar_->maximum(); }
int TFrmUpdateRoot::ProgressPosition() const { return progressBar_->value(); }

void TFrmUpdateRoot::DownloadProgress(std::uint64_t current, std::int64_t total) {
    QMetaObject::invokeMethod(
        this,
        [this, current, total] {
            if (total < 0) {
                // Length unknown: a busy bar rather than a maximum of 0.
                progressBar_->setRange(0, 0);
                return;
            }
            // The download's size cap keeps both far below INT_MAX.
            const int maximum = static_cast<int>(std::min<std::int64_t>(total, INT_MAX));
            progressBar_->setRange(0, maximum);
            progressBar_->setValue(
                static_cast<int>(std::min<std::uint64_t>(current, static_cast<unsigned>(maximum))));
        },
        Qt::QueuedConnection);
}

void TFrmUpdateRoot::DownloadFailed() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            progressBar_->setRange(0, 100);
            progressBar_->setValue(0);
            showMessage_(T(kUpdateDownloadFailed));
        },
        Qt::QueuedConnection);
}

void TFrmUpdateRoot::PackageStarted() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

// --- the check button --------------------------------------------------------------------

TUpdateOffer::TUpdateOffer(QWidget* mainWindow, std::filesystem::path programFolder)
    : QObject(mainWindow), mainWindow_(mainWindow), programFolder_(std::move(programFolder)) {
    setObjectName(QStringLiteral("UpdateOffer"));
    ask = [this](const QString& question) {
        return QMessageBox::question(mainWindow_, QStringLiteral("OZM"), question,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    showMessage = [this](const QString& text) { OpenMessageBox(mainWindow_, text); };
}

TUpdateOffer::~TUpdateOffer() {
    check_.Cancel();
    check_.Wait();
}

void TUpdateOffer::BtnCheckUpdateClick() {
    const UpdatePaths paths = MakeUpdatePaths(ProductPageAddress(), programFolder_);
    check_.Start(paths.versionAddress, [this](std::optional<float> latest) {
        QMetaObject::invokeMethod(
            this,
            [this, latest] {
                if (latest) {
                    OfferUpdate(*latest);
                } else {
                    showMessage(T(kUpdateDownloadFailed));
                }
            },
            Qt::QueuedConnection);
    });
}

void TUpdateOffer::OfferUpdate(float latest) {
    if (window_ && window_->Update().Running()) {
        window_->ShowUpdate();
        return;
    }
    if (!ShouldOfferUpdate(latest)) {
        showMessage(T(kUpdateAlreadyLatest));
        return;
    }
    if (!ask(T(kUpdateOfferQuestion))) return;
    if (!window_) window_ = new TFrmUpdateRoot(mainWindow_, makeClock ? makeClock() : nullptr);
    window_->Prepare(MakeUpdatePaths(ProductPageAddress(), programFolder_));
    window_->ShowUpdate();
}

TUpdateOffer* AddCheckUpdateButton(QWidget* helpPage, QBoxLayout* row, QWidget* mainWindow,
                                   const std::filesystem::path& programFolder) {
    auto* offer = new TUpdateOffer(mainWindow, programFolder);
    auto* button = new QPushButton(T("检查更新"), helpPage);
    button->setObjectName(QStringLiteral("BtnCheckUpdate"));
    button->setAccessibleName(T("检查更新"));
    button->setAccessibleDescription(T("检查网上有没有新版本"));
    row->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, offer,
                     [offer] { offer->BtnCheckUpdateClick(); });
    return offer;
}

}  // namespace ozm
