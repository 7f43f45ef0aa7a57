#pragma once
// Qt's own texts in Chinese, so that the buttons Qt makes (message boxes, dialogs, an edit's
// menu) read 是/否/确定/取消 beside the program's Chinese captions; and message boxes wide
// enough for their titles on a desktop whose window frames draw the title with buttons beside.

#include <QString>

class QApplication;
class QObject;
class QTranslator;

namespace ozm {

// Loads "qtbase_zh_CN.qm" from Qt's translations folder into `app`. Without the file
// (the translations package is not installed) Qt keeps its English texts: nullptr.
QTranslator* LoadQtChineseTexts(QApplication& app, const QString& folder = {});

// Every message box of `app` is made at least TitleRoomWidth(title) wide when it is shown.
// The filter object (owned by `app`) is returned so that it can be removed.
QObject* KeepMessageBoxTitlesWhole(QApplication& app);

// The width a frame needs for `title`: its text in the bold application font with a quarter
// more for a larger title font, and room for the window icon and three title-bar buttons.
int TitleRoomWidth(const QString& title);

// Both of the above, for a window mode of the program.
void UseChineseInterface(QApplication& app);

}  // namespace ozm
