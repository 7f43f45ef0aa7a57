// The uninstall window on the offscreen platform: its texts and place, the keyboard (Enter
// starts, Esc closes without uninstalling), the link, and the start button's whole run in a
// scratch home with a fake trash.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/shell/ProductInfo.h"
#include "app/ui/uninstallEveryUnit.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

class FakeTrash : public Trash {
  public:
    bool MoveToTrash(const fs::path& path) override {
        trashed.push_back(path);
        return true;
    }
    std::vector<fs::path> trashed;
};

void WriteText(const fs::path& file, std::string_view text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

class UninstallFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path home = scratch_.Path() / "home";
        places_.desktop = {home, home / ".local/share", home / ".config", home / "Desktop"};
        places_.programFile = places_.desktop.ProgramFile();
        places_.settingsFolder = places_.desktop.ProgramFolder();
        places_.tempFolder = scratch_.Path();
        places_.title = "图片批量转换";
        places_.processId = ::getpid();
        WriteText(places_.programFile, "program");
        WriteText(places_.settingsFolder / "defualt.ini", "[default]\n");
        WriteText(places_.desktop.DesktopShortcut(places_.title), "[Desktop Entry]\n");
    }

    void Watch(TFrmUninstall& form) {
        form.startDetached = [this](const std::vector<std::string>& argv) {
            started_.push_back(argv);
            return true;
        };
        form.endProcess = [this] { ++ended_; };
    }

    test::ScratchDir scratch_;
    UninstallPlaces places_;
    FakeTrash trash_;
    std::vector<std::vector<std::string>> started_;
    int ended_ = 0;
};

TEST_F(UninstallFormTest, TextsPlaceAndFocus) {
    TFrmUninstall form(places_, trash_);
    Watch(form);
    EXPECT_EQ(form.windowTitle().toStdString(), "OZM软件卸载程序");
    EXPECT_EQ(form.findChild<QLabel*>("LblNote")->text().toStdString(),
              "单击按钮\"开始卸载\"前，请您先关闭所有OZM软件。");
    EXPECT_EQ(form.findChild<QPushButton*>("BtnStart")->text().toStdString(), "开始卸载");
    EXPECT_EQ(form.findChild<QPushButton*>("BtnClose")->text().toStdString(), "关闭");
    auto* link = form.findChild<QLabel*>("LblLink");
    EXPECT_NE(link->text().toStdString().find("查看OZM最新软件"), std::string::npos);
    EXPECT_FALSE(form.findChild<QLabel*>("ImgQuestion")->pixmap().isNull());

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(form.pos(), QPoint((screen.width() - form.width()) / 2 - 50,
                                 (screen.height() - form.height()) / 2 - 30));

    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_EQ(QApplication::focusWidget(), form.findChild<QPushButton*>("BtnStart"));
    // Every label's text fits its label: nothing is clipped.
    for (QLabel* label : form.findChildren<QLabel*>()) {
        EXPECT_GE(label->width(), std::min(label->sizeHint().width(), label->maximumWidth()))
            << label->objectName().toStdString();
    }

    emit link->linkActivated("home");
    ASSERT_EQ(started_.size(), 1u);
    EXPECT_EQ(started_[0], (std::vector<std::string>{"xdg-open", std::string(kMakerHomePage)}));
}

TEST_F(UninstallFormTest, EscClosesWithoutUninstalling) {
    TFrmUninstall form(places_, trash_);
    Watch(form);
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(ended_, 0);
    EXPECT_TRUE(fs::exists(places_.settingsFolder / "defualt.ini"));
    EXPECT_TRUE(fs::exists(places_.desktop.DesktopShortcut(places_.title)));
}

TEST_F(UninstallFormTest, EnterRunsTheRemovalShowsTheMessageAndEnds) {
    TFrmUninstall form(places_, trash_);
    Watch(form);
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    std::vector<std::string> messages;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            messages.push_back(box->text().toStdString());
            box->done(QMessageBox::Ok);
        }
    });
    answer.start();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(messages, std::vector<std::string>{"你已成功卸载『图片批量转换』"});
    EXPECT_FALSE(fs::exists(places_.settingsFolder / "defualt.ini"));
    EXPECT_FALSE(fs::exists(places_.desktop.DesktopShortcut(places_.title)));
    ASSERT_EQ(started_.size(), 1u);
    ASSERT_EQ(started_[0].size(), 2u);
    EXPECT_EQ(started_[0][0], "/bin/sh");
    EXPECT_TRUE(fs::path(started_[0][1]).filename().string().starts_with("uis"));
    EXPECT_EQ(ended_, 1);
    EXPECT_TRUE(fs::exists(places_.programFile));  // the script's job, never started here
}

}  // namespace
}  // namespace ozm

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
