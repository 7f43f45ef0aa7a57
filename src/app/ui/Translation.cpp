#include "app/ui/Translation.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTranslator>
#include <array>
#include <optional>
#include <string>

#include "app/ui/ChineseInterface.h"
#include "app/ui/QtHelpers.h"

namespace ozm {

namespace {

// The texts the engine builds from a fixed text and a value. Each is a source text of the
// translation like any other, with %1 and %2 for the values; a text is matched against them
// in this order (the longer form first).
constexpr std::array<const char*, 11> kComposedTexts = {
    "成功转换%1",
    "转换失败%1（%2）",
    "转换失败%1",
    "所有转换已完成，请查看“转换后图片列表”（成功 %1 个，失败 %2 个）",
    "已完成所有图片转换（成功 %1 个，失败 %2 个）",
    "正在转换图片，请稍候: %1 ,Please waiting...",
    "转换为JPG图片, %1",
    " [宽度:%1,高度:%2]",
    "[宽度:%1,高度:%2]",
    "磁盘%1不存在，请重选择一个路径。",
    "你已成功卸载『%1』",
};

QString Translate(const std::string& source) {
    return QCoreApplication::translate(kTextContext, source.c_str());
}

// The form's fixed pieces as they are, each %1 and %2 a value of any length.
QRegularExpression PatternOf(const QString& form) {
    QStringList pieces = form.split(QRegularExpression(QStringLiteral("%[12]")));
    for (QString& piece : pieces) piece = QRegularExpression::escape(piece);
    return QRegularExpression(QRegularExpression::anchoredPattern(pieces.join(QStringLiteral("(.*)"))),
                              QRegularExpression::DotMatchesEverythingOption);
}

// The forms' patterns, made once.
const std::array<QRegularExpression, kComposedTexts.size()>& ComposedPatterns() {
    static const auto patterns = [] {
        std::array<QRegularExpression, kComposedTexts.size()> made;
        for (std::size_t i = 0; i < kComposedTexts.size(); ++i)
            made[i] = PatternOf(QString::fromUtf8(kComposedTexts[i]));
        return made;
    }();
    return patterns;
}

std::optional<QString> FromComposed(const QString& text, std::size_t form) {
    const QRegularExpressionMatch match = ComposedPatterns()[form].match(text);
    if (!match.hasMatch()) return std::nullopt;
    const QString translated = Translate(kComposedTexts[form]);
    // The values are put in at once, so that a value holding "%2" stays as it is; a value that
    // is a fixed text itself (the program's title) is translated too.
    if (match.lastCapturedIndex() >= 2)
        return translated.arg(T(S(match.captured(1))), T(S(match.captured(2))));
    return translated.arg(T(S(match.captured(1))));
}

}  // namespace

}  // namespace ozm

// Outside the namespace, as the resource's initialiser is declared globally.
static void InitTranslations() { Q_INIT_RESOURCE(translations); }

namespace ozm {

QTranslator* InstallEnglishTexts(QCoreApplication& app) {
    InitTranslations();
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral(":/translations/ozm_en.qm")) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

void UseInterfaceLanguage(QApplication& app, InterfaceLanguage language) {
    if (language == InterfaceLanguage::English && InstallEnglishTexts(app) != nullptr) {
        KeepMessageBoxTitlesWhole(app);
        return;
    }
    UseChineseInterface(app);
}

QString T(std::string_view chinese) {
    const std::string source(chinese);
    const QString text = QString::fromUtf8(source.data(), static_cast<qsizetype>(source.size()));
    QString translated = Translate(source);
    if (translated != text) return translated;
    // Without the English texts nothing is composed anew: Chinese stays byte for byte.
    if (Translate(kComposedTexts[0]) == QString::fromUtf8(kComposedTexts[0])) return text;
    for (std::size_t form = 0; form < kComposedTexts.size(); ++form)
        if (auto composed = FromComposed(text, form)) return *composed;
    return text;
}

}  // namespace ozm
