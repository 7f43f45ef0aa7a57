#include "app/ui/ChineseInterface.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QSpacerItem>
#include <QTranslator>

namespace ozm {

namespace {

// Room for a frame's window icon and its minimise, maximise and close buttons, in pixels.
constexpr int kTitleBarButtonsRoom = 150;

// A message box sizes itself when it is shown (fixed size from its layout's minimum width), so
// an invisible spacer across the bottom of its grid is what widens it.
class MessageBoxWidth : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* box = qobject_cast<QMessageBox*>(watched)) Widen(box);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    static void Widen(QMessageBox* box) {
        auto* grid = qobject_cast<QGridLayout*>(box->layout());
        if (grid == nullptr) return;
        const int room = TitleRoomWidth(box->windowTitle());
        auto* spacer = box->property("ozmTitleRoom").value<void*>();
        if (spacer != nullptr) {
            static_cast<QSpacerItem*>(spacer)->changeSize(room, 0);
            grid->invalidate();
            return;
        }
        // The margins of the grid are outside the spacer.
        const QMargins margins = grid->contentsMargins();
        auto* item = new QSpacerItem(std::max(0, room - margins.left() - margins.right()), 0,
                                     QSizePolicy::Minimum, QSizePolicy::Fixed);
        grid->addItem(item, grid->rowCount(), 0, 1, std::max(1, grid->columnCount()));
        box->setProperty("ozmTitleRoom", QVariant::fromValue(static_cast<void*>(item)));
    }
};

}  // namespace

QTranslator* LoadQtChineseTexts(QApplication& app, const QString& folder) {
    auto* translator = new QTranslator(&app);
    const QString from =
        folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), from) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

int TitleRoomWidth(const QString& title) {
    QFont font = QApplication::font();
    font.setBold(true);
    const int text = QFontMetrics(font).horizontalAdvance(title);
    return text + text / 4 + kTitleBarButtonsRoom;
}

QObject* KeepMessageBoxTitlesWhole(QApplication& app) {
    auto* filter = new MessageBoxWidth(&app);
    app.installEventFilter(filter);
    return filter;
}

void UseChineseInterface(QApplication& app) {
    LoadQtChineseTexts(app);
    KeepMessageBoxTitlesWhole(app);
}

}  // namespace ozm
