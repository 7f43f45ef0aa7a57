// The windows where a new user or a hostile home trips them: Qt's own buttons in Chinese,
// message boxes as wide as their titles, the frame's place, absurd stored sizes, an
// unwritable settings file, the help page and the folder chooser. Offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QTranslator>
#include <QWindow>
#include <filesystem>
#include <fstream>

#include "app/FolderActionsFakes.h"
#include "app/ui/ChineseInterface.h"
#include "app/ui/FolderChooser.h"
#include "app/ui/FrmImgCovertingUnit.h"
#include "app/ui/MainForm.h"
#include "platform/Trash.h"
#include "support/TestSupport.h"
#include "ui/SessionForm.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

class WindowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(program_ / "source");
        fs::create_directories(home_);
        setenv("HOME", home_.c_str(), 1);
    }

    std::unique_ptr<test::SessionForm> NewForm() {
        auto form = std::make_unique<test::SessionForm>(program_.string() + "/");
        form->resize(947, 720);
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        return form;
    }

    test::ScratchDir scratch_;
    fs::path program_ = scratch_.Path() / "program";
    fs::path home_ = scratch_.Path() / "home";
};

TEST_F(WindowsTest, QtButtonsReadChineseAndABoxIsAsWideAsItsTitle) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!fs::exists(fs::path(folder.toStdString()) / "qtbase_zh_CN.qm"))
        GTEST_SKIP() << "qt6-translations-l10n is not installed";
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    EXPECT_EQ(LoadQtChineseTexts(*app, QStringLiteral("/nonexistent")), nullptr);
    QTranslator* translator = LoadQtChineseTexts(*app);
    ASSERT_NE(translator, nullptr);
    QObject* widths = KeepMessageBoxTitlesWhole(*app);

    QMessageBox ask(QMessageBox::Question, QStringLiteral("提醒"),
                    QStringLiteral("你确定要删除吗？"), QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(ask.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("是")));
    EXPECT_TRUE(ask.button(QMessageBox::No)->text().startsWith(QStringLiteral("否")));
    QDialogButtonBox okCancel(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_TRUE(okCancel.button(QDialogButtonBox::Ok)->text().startsWith(QStringLiteral("确定")));
    EXPECT_TRUE(
        okCancel.button(QDialogButtonBox::Cancel)->text().startsWith(QStringLiteral("取消")));

    // A short text under the program's title: the title and a frame's buttons fit.
    const QString title = QStringLiteral("图片批量转换");
    QMessageBox box(QMessageBox::NoIcon, title, QStringLiteral("请插入可移动磁盘."),
                    QMessageBox::Ok);
    box.show();
    QCoreApplication::processEvents();
    QFont bold = QApplication::font();
    bold.setBold(true);
    EXPECT_GE(box.width(), QFontMetrics(bold).horizontalAdvance(title) + 120);
    box.hide();
    box.show();  // shown again: no wider
    const int once = box.width();
    box.hide();
    box.show();
    EXPECT_EQ(box.width(), once);

    QCoreApplication::removeTranslator(translator);
    delete translator;
    delete widths;
}

// The offscreen platform draws a frame of 2 pixels round every window.
TEST_F(WindowsTest, TheFramesOuterEdgeIsPlacedNotTheInside) {
    auto form = std::make_unique<test::SessionForm>(program_.string() + "/");
    form->ShowMainWindowMode();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    ASSERT_FALSE(form->windowHandle()->frameMargins().isNull());
    const QRect screen = form->screen()->geometry();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return form->frameGeometry().topLeft() == QPoint(10, 10); }, 2000))
        << form->frameGeometry().x() << "," << form->frameGeometry().y();
    EXPECT_EQ(form->frameGeometry().height(), screen.height() - 90);

    ProgressFlags flags;
    TFrmImgCoverting progress(
        flags, [](bool) {}, [](const std::string&) {});
    progress.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&progress));
    // The frame's bottom right corner 10 pixels from the right and 60 from the bottom.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QRect frame = progress.frameGeometry();
            return frame.x() + frame.width() == screen.width() - 10 &&
                   frame.y() + frame.height() == screen.height() - 60;
        },
        2000))
        << progress.frameGeometry().x() << "," << progress.frameGeometry().y();
    EXPECT_EQ(progress.width(), 535);
}

TEST_F(WindowsTest, AbsurdStoredSizesAndIndexesStillOpenAUsableWindow) {
    for (const char* width : {"2147483647", "-2147483648"}) {
        test::WriteText(program_ / "defualt.ini",
              std::string("[ImgConvert]\nSbToollBarWidth=") + width +
                  "\nLbDocListInd=2147483647\nLbTargetInd=-2147483648\nLbRoateType=99\n"
                  "[default]\nzoomtype=-2147483648\n");
        auto form = NewForm();
        auto* toolBar = form->findChild<QWidget*>(QStringLiteral("SbToollBar"));
        auto* pages = form->findChild<QWidget*>(QStringLiteral("PageControl1"));
        // Both inside the window, the lists with most of it.
        EXPECT_TRUE(form->rect().contains(toolBar->geometry())) << width;
        EXPECT_TRUE(form->rect().contains(pages->geometry())) << width;
        EXPECT_GE(toolBar->width(), 120) << width;
        EXPECT_GE(pages->width(), form->width() / 2) << width;
        EXPECT_TRUE(pages->isVisible());
        form->close();
    }
}

TEST_F(WindowsTest, AFailedSettingsWriteIsSaidOnceInTheHintLine) {
    // A folder where the settings file should be: no write can replace it.
    fs::create_directories(program_ / "defualt.ini");
    auto form = NewForm();
    auto* hint = form->findChild<QLabel*>(QStringLiteral("LblHint"));
    int boxes = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++boxes;
            box->done(QMessageBox::Ok);
        }
    });
    answer.start(5);
    QTest::mouseClick(form->findChild<QWidget*>(QStringLiteral("CbPNG")), Qt::LeftButton);
    const std::string expected =
        "settings not saved: Unable to write to " + (program_ / "defualt.ini").string();
    EXPECT_TRUE(QTest::qWaitFor([&] { return hint->text().toStdString() == expected; }, 2000));
    form->SetHint("");
    QTest::mouseClick(form->findChild<QWidget*>(QStringLiteral("CBBMP")), Qt::LeftButton);
    QTest::qWait(50);
    EXPECT_EQ(hint->text(), QString()) << "said once";
    EXPECT_EQ(boxes, 2) << "the tick boxes' own message stays";
}

TEST_F(WindowsTest, TheHelpPageShowsHelpHtmlTheVersionAndTheButton) {
    test::WriteText(program_ / "Help.html",
          "<html><body><h1>帮助正文</h1><a href=\"#end\">jump</a>"
          "<a href=\"https://www.ozmware.example/help\">site</a>"
          "<a href=\"more.html\">more</a><p id=\"end\">end</p></body></html>");
    auto form = NewForm();
    auto shell = std::make_shared<test::RecordingShell>();
    form->UseFolderServices(std::make_shared<test::TableDrives>(),
                            std::make_shared<FreedesktopTrash>(), shell);
    auto* pages = form->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    QWidget* help = pages->widget(1);
    auto* browser = help->findChild<QTextBrowser*>();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("帮助正文")));
    EXPECT_NE(help->findChild<QPushButton*>(QStringLiteral("BtnCheckUpdate")), nullptr);
    auto* version = help->findChild<QLabel*>(QStringLiteral("LblVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_TRUE(version->text().endsWith(QStringLiteral("v2.3")));

    emit browser->anchorClicked(QUrl(QStringLiteral("#end")));
    emit browser->anchorClicked(QUrl(QStringLiteral("https://www.ozmware.example/help")));
    emit browser->anchorClicked(QUrl(QStringLiteral("more.html")));
    EXPECT_EQ(shell->calls,
              (std::vector<std::string>{"address https://www.ozmware.example/help",
                                        "address file://" + (program_ / "more.html").string()}));
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("帮助正文"))) << "page kept";
}

TEST_F(WindowsTest, TheChooserMakesATypedFolderAndANewOne) {
    fs::create_directories(home_ / "pics");
    test::WriteText(home_ / "file", "x");
    TFolderChooser chooser(nullptr, QStringLiteral("请选择您喜欢的文件夹."),
                           QString::fromStdString((home_ / "pics").string()));
    chooser.show();
    EXPECT_EQ(chooser.CurrentFolder().toStdString(), (home_ / "pics").string());
    auto* edit = chooser.findChild<QLineEdit*>(QStringLiteral("EdtFolder"));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text().toStdString(), (home_ / "pics").string());

    auto* newFolder = chooser.findChild<QPushButton*>(QStringLiteral("BtnNewFolder"));
    ASSERT_NE(newFolder, nullptr);
    EXPECT_EQ(newFolder->text(), QStringLiteral("新建文件夹"));
    // Made under the current folder, which it becomes.
    newFolder->click();
    EXPECT_TRUE(fs::is_directory(home_ / "pics" / "新建文件夹"));
    const fs::path made = home_ / "pics" / "新建文件夹";
    EXPECT_EQ(chooser.CurrentFolder().toStdString(), made.string());
    EXPECT_EQ(edit->text().toStdString(), made.string());

    // A folder that cannot be made keeps the chooser open.
    QTimer answer;
    int refused = 0;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            refused += box->text() == QStringLiteral("请选择一个合法的文件夹名称");
            box->done(QMessageBox::Ok);
        }
    });
    answer.start(5);
    edit->setText(QString::fromStdString((home_ / "file" / "sub").string()));
    chooser.accept();
    EXPECT_EQ(refused, 1);
    EXPECT_TRUE(chooser.isVisible());

    // Typed relative to the current folder, with parents; given back without a final "/".
    edit->setText(QStringLiteral(" new/deeper/ "));
    chooser.accept();
    EXPECT_FALSE(chooser.isVisible());
    EXPECT_TRUE(fs::is_directory(made / "new" / "deeper"));
    EXPECT_EQ(chooser.Chosen(), (made / "new" / "deeper").string());
}

}  // namespace
}  // namespace ozm
