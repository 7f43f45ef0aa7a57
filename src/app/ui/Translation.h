#pragma once
// The windows' texts in the interface's language. Every text is written in Chinese, the
// interface's own language, and is looked up in the English translation (context "ozm") when
// that is installed; otherwise a text comes back exactly as written. The engine's texts stay
// plain C++ and are translated here, where they reach a widget.

#include <QString>
#include <string_view>

#include "app/shell/InterfaceLanguage.h"

class QCoreApplication;
class QTranslator;

namespace ozm {

// The one translation context of the program's texts.
inline constexpr char kTextContext[] = "ozm";

// Installs the program's English texts (built into the program) into `app`; nullptr when they
// cannot be loaded, and the interface stays Chinese.
QTranslator* InstallEnglishTexts(QCoreApplication& app);

// The interface of a window mode: Chinese with Qt's own texts in Chinese too, or English
// with Qt's own English. In both, message boxes are kept as wide as their titles.
void UseInterfaceLanguage(QApplication& app, InterfaceLanguage language);

// `chinese` in the interface's language: a fixed text, or a text the engine composed around a
// path, a count or a reason (kComposedTexts in Translation.cpp). Anything else, file names
// among them, comes back as it is.
QString T(std::string_view chinese);

}  // namespace ozm
