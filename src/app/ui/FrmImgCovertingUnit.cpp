#include "app/ui/FrmImgCovertingUnit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/ui/FramePlacement.h"
#include "app/ui/QtHelpers.h"
#include "app/ui/Translation.h"

namespace ozm {

namespace {

constexpr int kBarMaximum = 180;
constexpr int kBarStep = 10;
constexpr int kTimerMs = 200;
const QColor kBackground(245, 250, 254);
const char* const kCaption = "Converting image,Please waiting...";

// The two buttons carry pictures of their own: a face with the action drawn on it.
QPixmap ButtonFace(int width, int height, const QString& text, const QColor& tint) {
    QPixmap face(width, height);
    face.fill(Qt::transparent);
    QPainter painter(&face);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, height);
    fill.setColorAt(0, tint.lighter(135));
    fill.setColorAt(1, tint);
    painter.setBrush(fill);
    painter.setPen(tint.darker(140));
    painter.drawRoundedRect(QRectF(0.5, 0.5, width - 1, height - 1), 4, 4);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, width, height), Qt::AlignCenter, text);
    return face;
}

}  // namespace

TFrmImgCoverting::TFrmImgCoverting(ProgressFlags& flags, std::function<void(bool)> onAutoCloseClick,
                                   std::function<void(const std::string&)> openFolder)
    : QWidget(nullptr, Qt::Dialog),
      flags_(flags),
      onAutoCloseClick_(std::move(onAutoCloseClick)),
      openFolder_(std::move(openFolder)) {
    setObjectName(QStringLiteral("FrmImgCoverting"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setFixedSize(kClientWidth, kClientHeight);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    setPalette(palette);
    setAutoFillBackground(true);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    progressBar1_ = new QProgressBar(this);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setAccessibleName(T("转换进度"));
    progressBar1_->setRange(0, kBarMaximum);
    progressBar1_->setValue(0);
    progressBar1_->setTextVisible(false);
    progressBar1_->setFixedHeight(13);
    column->addWidget(progressBar1_);

    lblHint_ = new QLabel(this);
    lblHint_->setObjectName(QStringLiteral("LblHint"));
    lblHint_->setAlignment(Qt::AlignCenter);
    lblHint_->setWordWrap(true);
    lblHint_->setContentsMargins(8, 2, 8, 2);
    column->addWidget(lblHint_, 1);
    column->addWidget(BuildBottomRow());

    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(kTimerMs);
    connect(timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(speedButton1_, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(speedButton2_, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(cbAutoClose_, &QCheckBox::toggled, this, [this] { CbAutoCloseClick(); });

    FormCreate();
    timer1_->start();
}

TFrmImgCoverting::~TFrmImgCoverting() = default;

// The two picture buttons and the auto-close box.
QWidget* TFrmImgCoverting::BuildBottomRow() {
    auto* bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("PnlBottom"));
    auto* row = new QHBoxLayout(bottom);
    row->setContentsMargins(8, 3, 8, 5);
    row->setSpacing(8);
    speedButton2_ = new QToolButton(bottom);
    speedButton2_->setObjectName(QStringLiteral("SpeedButton2"));
    // The faces carry the captions as pictures: a screen reader gets them as names.
    speedButton2_->setAccessibleName(T("打开目标文件夹"));
    speedButton2_->setAccessibleDescription(
        T("在文件管理器中打开转换后的图片所在的文件夹"));
    speedButton2_->setFixedSize(123, 24);
    speedButton2_->setAutoRaise(true);
    speedButton2_->setIcon(
        QIcon(ButtonFace(123, 24, T("打开目标文件夹"), QColor(58, 128, 200))));
    speedButton2_->setIconSize(QSize(123, 24));
    speedButton2_->setToolTip(T("打开目标文件夹"));
    speedButton1_ = new QToolButton(bottom);
    speedButton1_->setObjectName(QStringLiteral("SpeedButton1"));
    speedButton1_->setAccessibleName(T("关闭"));
    speedButton1_->setAccessibleDescription(T("关闭此窗口并停止转换"));
    speedButton1_->setFixedSize(56, 25);
    speedButton1_->setAutoRaise(true);
    speedButton1_->setIcon(QIcon(ButtonFace(56, 25, T("关闭"), QColor(200, 90, 70))));
    speedButton1_->setIconSize(QSize(56, 25));
    speedButton1_->setToolTip(T("关闭"));
    cbAutoClose_ = new QCheckBox(T("图片转换后自动关闭此窗体"), bottom);
    cbAutoClose_->setObjectName(QStringLiteral("CbAutoClose"));
    cbAutoClose_->setAccessibleDescription(T("转换完成后自动关闭此窗口"));
    row->addWidget(speedButton2_);
    row->addWidget(speedButton1_);
    row->addStretch(1);
    row->addWidget(cbAutoClose_);
    return bottom;
}

void TFrmImgCoverting::FormCreate() {
    // Bottom right, above a task bar: the window's outer size counts, as designed.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1280, 1024);
    // Until the window manager's frame is known, the frame is taken to be the designed one.
    PlaceWindowFrame(*this, [area](const QMargins& frame) {
        const QSize outer = frame.isNull() ? QSize(kOuterWidth, kOuterHeight)
                                           : QSize(kClientWidth, kClientHeight).grownBy(frame);
        return QRect(area.x() + area.width() - outer.width() - 10,
                     area.y() + area.height() - outer.height() - 60, outer.width(), outer.height());
    });
    setWindowTitle(QString::fromLatin1(kCaption));
}

void TFrmImgCoverting::SetProgressText(const std::string& text) { lblHint_->setText(T(text)); }

void TFrmImgCoverting::SetAutoClose(bool autoClose) {
    const QSignalBlocker block(cbAutoClose_);
    cbAutoClose_->setChecked(autoClose);
}

bool TFrmImgCoverting::AutoClose() const { return cbAutoClose_->isChecked(); }

void TFrmImgCoverting::ShowModal(std::function<void()> onClosed) {
    onClosed_ = std::move(onClosed);
    setWindowModality(Qt::ApplicationModal);
    show();
    raise();
    activateWindow();
}

void TFrmImgCoverting::Timer1Timer() {
    try {
        if (flags_.done) {
            timer1_->stop();
            progressBar1_->setValue(kBarMaximum);
            if (cbAutoClose_->isChecked()) close();
            return;
        }
        const int next = progressBar1_->value() + kBarStep;
        progressBar1_->setValue(next > kBarMaximum ? 0 : next);
    } catch (...) {
        timer1_->stop();
    }
}

void TFrmImgCoverting::SpeedButton1Click() { close(); }

void TFrmImgCoverting::SpeedButton2Click() {
    if (openFolder_ && !targetFolder_.empty()) openFolder_(targetFolder_);
}

void TFrmImgCoverting::CbAutoCloseClick() {
    if (onAutoCloseClick_) onAutoCloseClick_(cbAutoClose_->isChecked());
}

void TFrmImgCoverting::closeEvent(QCloseEvent* event) {
    // FormCloseQuery: the worker is asked to stop; the close always proceeds.
    flags_.stopRequested = true;
    event->accept();
    if (auto closed = std::exchange(onClosed_, nullptr)) {
        // After the close has finished, not inside it.
        QTimer::singleShot(0, this, std::move(closed));
    }
}

}  // namespace ozm
