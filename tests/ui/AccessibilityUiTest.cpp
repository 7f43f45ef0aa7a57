// The windows as assistive tools see them, on the offscreen platform: the same accessibility
// interfaces the AT-SPI bridge calls (a toggle action, a text set without focus, a list cell
// selected without a click) must reach the model; every control has a name, every button a
// description; Tab walks the main window in the order of its layout.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/ui/FrmImgCovertingUnit.h"
#include "app/ui/FrmReName.h"
#include "app/ui/FrmUpdateRoot.h"
#include "app/ui/MainForm.h"
#include "app/ui/QuickMenu.h"
#include "app/ui/uninstallEveryUnit.h"
#include "support/TestSupport.h"
#include "ui/SessionForm.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

class AccessibilityUiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        program_ = scratch_.Path() / "program";
        fs::create_directories(program_ / "source");
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
            std::ofstream(program_ / "source" / name, std::ios::binary) << "BM";
        setenv("HOME", (scratch_.Path() / "home").c_str(), 1);
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            setenv(name, (scratch_.Path() / "home" / name).c_str(), 1);
        form_ = std::make_unique<test::SessionForm>(program_.string() + "/");
        form_->resize(947, 720);
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    }

    template <typename T>
    T* Child(const char* name) {
        T* child = form_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    static QAccessibleInterface* Accessible(QObject* object) {
        return QAccessible::queryAccessibleInterface(object);
    }

    static void Act(QObject* object, const QString& action) {
        QAccessibleActionInterface* actions = Accessible(object)->actionInterface();
        ASSERT_NE(actions, nullptr);
        ASSERT_TRUE(actions->actionNames().contains(action))
            << actions->actionNames().join(',').toStdString();
        actions->doAction(action);
    }

    std::string Settings() {
        std::ifstream in(program_ / "defualt.ini", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    test::ScratchDir scratch_;
    fs::path program_;
    std::unique_ptr<test::SessionForm> form_;
};

TEST_F(AccessibilityUiTest, ChangesMadeThroughTheAccessibilityInterfacesReachTheModel) {
    const SettingsModel& model = form_->Model();
    const QString toggle = QAccessibleActionInterface::toggleAction();
    Act(Child<QAbstractButton>("CbPNG"), toggle);
    Act(Child<QAbstractButton>("CbJPG"), toggle);
    EXPECT_TRUE(form_->Options().formats.Ticked(FormatCode::Png));
    EXPECT_FALSE(form_->Options().formats.Ticked(FormatCode::Jpg));
    EXPECT_NE(Settings().find("CbPNG=1"), std::string::npos);

    Act(Child<QAbstractButton>("rgZoomTypeItem2"), toggle);
    EXPECT_EQ(model.resizeMode, 2);
    EXPECT_TRUE(Child<QWidget>("GbZoomBei")->isVisible());
    // Text set as a whole while the edit has no focus: a finished entry.
    Accessible(Child<QLineEdit>("EdtZoomPei"))->setText(QAccessible::Value, QStringLiteral("50"));
    EXPECT_EQ(form_->Options().percentage, 50);
    Accessible(Child<QLineEdit>("EdtRoateRate1"))
        ->setText(QAccessible::Value, QStringLiteral("30"));
    EXPECT_EQ(model.rotateDegrees, 30);

    // A list cell's toggle selects it without making it current.
    auto* rotations = Child<QListWidget>("LbRoateType");
    QAccessibleInterface* cell = Accessible(rotations)->tableInterface()->cellAt(2, 0);
    ASSERT_NE(cell, nullptr);
    cell->actionInterface()->doAction(toggle);
    EXPECT_EQ(model.rotateListIndex, 2);
    EXPECT_EQ(model.rotateDegrees, 180);

    auto* sources = Child<QAbstractItemView>("LbDocList");
    QTest::keyClick(sources, Qt::Key_F5);
    ASSERT_EQ(sources->model()->rowCount(), 3);
    sources->clearSelection();
    for (int row : {0, 2}) {
        QAccessibleInterface* entry = Accessible(sources)->tableInterface()->cellAt(row, 0);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->text(QAccessible::Name).toStdString(), row == 0 ? "a.bmp" : "c.bmp");
        entry->actionInterface()->doAction(toggle);
        EXPECT_TRUE(entry->state().selected);
    }
    EXPECT_EQ(form_->EntryCount(), 3);
    EXPECT_TRUE(form_->IsSelected(0));
    EXPECT_FALSE(form_->IsSelected(1));
    EXPECT_TRUE(form_->IsSelected(2));
    // The worker reads the list the window publishes.
    const SharedListView& published = *form_->SharedSourceList();
    EXPECT_TRUE(published.IsSelected(0));
    EXPECT_FALSE(published.IsSelected(1));
    EXPECT_TRUE(published.IsSelected(2));
}

// Whether a widget is one a user reaches: our own controls, not the toolkit's parts of them.
bool IsControl(const QWidget* widget) {
    if (widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_")))
        return false;
    if (qobject_cast<const QTabBar*>(widget->parentWidget())) return false;  // its scroll arrows
    return widget->focusPolicy() != Qt::NoFocus || qobject_cast<const QAbstractButton*>(widget);
}

void ExpectNamesAndDescriptions(QWidget& window, const char* which) {
    int controls = 0;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (!IsControl(widget)) continue;
        ++controls;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        const std::string name = widget->objectName().toStdString();
        EXPECT_FALSE(accessible->text(QAccessible::Name).trimmed().isEmpty())
            << which << " " << name;
        if (qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_FALSE(accessible->text(QAccessible::Description).isEmpty())
                << which << " " << name;
        }
    }
    EXPECT_GT(controls, 0) << which;
}

TEST_F(AccessibilityUiTest, EveryControlHasANameAndEveryButtonADescription) {
    ExpectNamesAndDescriptions(*form_, "main window");
    // The quick menu's entries are read out by their captions.
    std::vector<QMenu*> menus{form_->QuickMenu().PmRightMouse()};
    EXPECT_FALSE(Accessible(menus.front())->text(QAccessible::Name).isEmpty());
    while (!menus.empty()) {
        QMenu* menu = menus.back();
        menus.pop_back();
        for (QAction* action : menu->actions()) {
            if (action->isSeparator() || !action->isVisible()) continue;
            EXPECT_FALSE(action->text().isEmpty()) << menu->objectName().toStdString();
            if (!action->menu()) continue;
            EXPECT_EQ(Accessible(action->menu())->text(QAccessible::Name), action->text());
            menus.push_back(action->menu());
        }
    }
    ProgressFlags flags;
    TFrmImgCoverting progress(flags, {}, {});
    ExpectNamesAndDescriptions(progress, "progress window");
    TFrmReName rename(form_.get());
    ExpectNamesAndDescriptions(rename, "rename window");
    TFrmUpdateRoot update(form_.get());
    ExpectNamesAndDescriptions(update, "update window");
    struct NoTrash : Trash {
        bool MoveToTrash(const fs::path&) override { return false; }
    } trash;
    TFrmUninstall uninstall(UninstallPlaces{}, trash);
    ExpectNamesAndDescriptions(uninstall, "uninstall window");
}

TEST_F(AccessibilityUiTest, TabWalksTheWindowInTheOrderOfItsLayout) {
    // A keyboard user starts on the first control of the layout.
    auto* first = Child<QWidget>("BtnImgCovert");
    ASSERT_EQ(QApplication::focusWidget(), first);
    std::vector<std::string> order;
    QWidget* focus = first;
    for (int i = 0; i < 80; ++i) {
        order.push_back(focus->objectName().toStdString());
        QTest::keyClick(focus, Qt::Key_Tab);
        focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        if (focus == first) break;
    }
    // The tool bar top to bottom (one stop for the radio group, the hidden size edits
    // skipped), the page tabs, then the source list's group and the target list's, each
    // with its button row left to right before its list.
    std::string walked;
    for (const std::string& name : order) walked += (walked.empty() ? "" : " ") + name;
    EXPECT_EQ(walked,
              "BtnImgCovert CbJPG CBBMP CbPNG CBJPEG CBGIF CBTIFF CBEMF CBWMF rgZoomTypeItem0 "
              "EdtRoateRate1 EdtRoateRate2 LbRoateType PageTabs "
              "BtnSelectDir BtnOpenDir BtnDeskTop BtnMyDocuments BtnMyPictures BtnUDisk BtnMyFav "
              "BtnAddFav BtnHistory CbPreviewSourceImg LbDocList "
              "BtnSelectSaveAsDir BtnOpenSaveAsDir BtnDeskTop2 BtnMyDocuments2 BtnMyPictures2 "
              "BtnUDisk2 BtnMyFav2 BtnAddFav2 BtnHistory2 CbTargetImgPreview LbTarget");
}

}  // namespace
}  // namespace ozm
