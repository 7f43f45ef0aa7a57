// The progress window and the quick menu's view on the offscreen platform, and the order in
// which the toolkit reports a menu's closing and its picked entry, which the auto-close rule
// depends on.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ui/FrmImgCovertingUnit.h"
#include "app/ui/MainForm.h"
#include "app/ui/QuickMenu.h"
#include "support/TestSupport.h"
#include "ui/SessionForm.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

class ProgressWindowTest : public ::testing::Test {
  protected:
    ProgressWindowTest()
        : window_(
              flags_, [this](bool checked) { mirrored_.push_back(checked); },
              [this](const std::string& folder) { opened_.push_back(folder); }) {}

    template <typename T>
    T* Child(const char* name) {
        T* child = window_.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    ProgressFlags flags_;
    std::vector<bool> mirrored_;
    std::vector<std::string> opened_;
    TFrmImgCoverting window_;
    int closed_ = 0;
};

TEST_F(ProgressWindowTest, SitsBottomRightWithItsCaptionSizeAndMovingBar) {
    EXPECT_EQ(window_.windowTitle(), "Converting image,Please waiting...");
    EXPECT_EQ(window_.parent(), nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(window_.pos(), QPoint(screen.width() - 543 - 10, screen.height() - 133 - 60));
    EXPECT_EQ(window_.width(), 535);
    EXPECT_EQ(window_.palette().color(QPalette::Window), QColor(245, 250, 254));
    EXPECT_EQ(Child<QToolButton>("SpeedButton2")->size(), QSize(123, 24));
    EXPECT_EQ(Child<QToolButton>("SpeedButton1")->size(), QSize(56, 25));
    EXPECT_EQ(Child<QCheckBox>("CbAutoClose")->text(), "图片转换后自动关闭此窗体");

    auto* bar = Child<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->maximum(), 180);
    EXPECT_EQ(bar->height(), 13);
    for (int i = 0; i < 18; ++i) window_.Timer1Timer();
    EXPECT_EQ(bar->value(), 180);
    window_.Timer1Timer();  // past the end it starts again
    EXPECT_EQ(bar->value(), 0);
    // The timer runs from creation, every 200 ms.
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() > 0; }, 1000));

    window_.SetProgressText("已完成所有图片转换");
    EXPECT_EQ(Child<QLabel>("LblHint")->text(), "已完成所有图片转换");
}

TEST_F(ProgressWindowTest, AutoClosesAtTheFirstTickAfterDoneOnlyWhenTicked) {
    window_.ShowModal([this] { ++closed_; });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    flags_.done = true;
    window_.Timer1Timer();
    EXPECT_EQ(Child<QProgressBar>("ProgressBar1")->value(), 180);
    EXPECT_TRUE(window_.isVisible());  // not ticked: it stays with a full bar

    // The tick that saw done stopped the timer; setting the box (the run's start does) is no
    // click, so nothing stores it.
    EXPECT_FALSE(window_.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
    window_.SetAutoClose(true);
    EXPECT_TRUE(mirrored_.empty());
}

TEST_F(ProgressWindowTest, TickedBoxClosesWithinOneTimerPeriod) {
    window_.SetAutoClose(true);
    window_.ShowModal([this] { ++closed_; });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    flags_.done = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window_.isVisible(); }, 400));
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed_ == 1; }, 200));
}

TEST_F(ProgressWindowTest, BoxIsReportedAndButtonsOpenAndClose) {
    window_.SetTargetFolder("/tmp/target/");
    window_.ShowModal([this] { ++closed_; });
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    auto* box = Child<QCheckBox>("CbAutoClose");
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    EXPECT_EQ(mirrored_, std::vector<bool>{true});

    QTest::mouseClick(Child<QToolButton>("SpeedButton2"), Qt::LeftButton);
    EXPECT_EQ(opened_, std::vector<std::string>{"/tmp/target/"});
    EXPECT_TRUE(window_.isVisible());
    EXPECT_FALSE(flags_.stopRequested);

    QTest::mouseClick(Child<QToolButton>("SpeedButton1"), Qt::LeftButton);
    EXPECT_FALSE(window_.isVisible());
    EXPECT_TRUE(flags_.stopRequested);
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed_ == 1; }, 200));
}

// The auto-close rule clears CommandHandled when the menu closes and relies on the picked
// entry's command setting it again before the timer looks: the closing must come first.
TEST(MenuOrderTest, TheMenuClosesBeforeThePickedEntryRuns) {
    for (bool inSubmenu : {false, true}) {
        QMenu top;
        QMenu* sub = top.addMenu(QStringLiteral("sub"));
        QAction* plain = top.addAction(QStringLiteral("plain"));
        QAction* nested = sub->addAction(QStringLiteral("nested"));
        std::vector<std::string> events;
        QObject::connect(&top, &QMenu::aboutToHide, [&] { events.push_back("closed"); });
        for (QAction* action : {plain, nested})
            QObject::connect(action, &QAction::triggered, [&] { events.push_back("picked"); });
        top.popup(QPoint(50, 50));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
        if (inSubmenu) {
            top.setActiveAction(sub->menuAction());
            QTest::keyClick(&top, Qt::Key_Right);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(sub));
            sub->setActiveAction(nested);
            QTest::keyClick(sub, Qt::Key_Return);
        } else {
            top.setActiveAction(plain);
            QTest::keyClick(&top, Qt::Key_Return);
        }
        EXPECT_EQ(events, (std::vector<std::string>{"closed", "picked"})) << inSubmenu;
    }
}

TEST(QuickMenuViewTest, CaptionsMarksAndMirroredEntriesFollowTheLogic) {
    test::ScratchDir scratch;
    setenv("HOME", scratch.Path().c_str(), 1);
    test::SessionForm form(scratch.Path().string() + "/");
    TQuickMenu& quick = form.QuickMenu();
    QMenu* menu = quick.PmRightMouse();
    ASSERT_NE(menu, nullptr);
    auto* jpg = form.findChild<QMenu*>(QStringLiteral("MnJPG"));
    ASSERT_NE(jpg, nullptr);
    EXPECT_EQ(jpg->title(), "转换为JPG图片, 75%");
    auto* quality75 = form.findChild<QAction*>(QStringLiteral("MnJPGQuality75"));
    ASSERT_NE(quality75, nullptr);
    EXPECT_TRUE(quality75->isChecked());

    quick.Logic().PickJpegQuality(50);
    EXPECT_EQ(jpg->title(), "转换为JPG图片, 50%");
    EXPECT_FALSE(quality75->isChecked());
    EXPECT_TRUE(form.findChild<QAction*>(QStringLiteral("MnJPGQuality50"))->isChecked());

    // A zoom pick marks the value in both twins.
    quick.Logic().PickZoom(50, false);
    EXPECT_TRUE(form.findChild<QAction*>(QStringLiteral("Zoom50"))->isChecked());
    EXPECT_TRUE(form.findChild<QAction*>(QStringLiteral("ZoomC50"))->isChecked());
    EXPECT_FALSE(form.findChild<QAction*>(QStringLiteral("ZoomC100"))->isChecked());

    // Every format submenu holds the destinations and a removable-disk entry of one caption.
    for (const char* name : {"MnPNG", "MnBMP", "MnJPEG", "MnGIF", "MnTIF", "MnWMF", "MnEMF"}) {
        auto* sub = form.findChild<QMenu*>(QString::fromLatin1(name));
        ASSERT_NE(sub, nullptr) << name;
        QStringList captions;
        for (QAction* action : sub->actions())
            if (!action->isSeparator()) captions << action->text();
        EXPECT_EQ(captions, (QStringList{"当前路径", "我的文档(&D)", "我的图片收藏(&P)",
                                         "我的桌面(&T)", "选择目标文件夹", "可移动硬盘",
                                         "我的收藏夹", "收藏夹设置", "最近使用过的路径"}))
            << name;
    }

    // The progress window's box is stored at once, and the menu's mark follows it.
    quick.PrepareProgressWindow();
    auto* box = quick.ProgressWindow()->findChild<QCheckBox*>(QStringLiteral("CbAutoClose"));
    ASSERT_NE(box, nullptr);
    quick.ProgressWindow()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(quick.ProgressWindow()));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    const std::vector<std::uint8_t> settings = test::ReadAll(scratch.Path() / "defualt.ini");
    EXPECT_NE(std::string(settings.begin(), settings.end()).find("CbAutoClose=1"),
              std::string::npos);
    EXPECT_TRUE(form.findChild<QAction*>(QStringLiteral("AutoCloseWhenCopy1"))->isChecked());
    quick.ProgressWindow()->hide();
    form.Shutdown();
}

}  // namespace
}  // namespace ozm
