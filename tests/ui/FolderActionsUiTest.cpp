// The folder buttons, file actions, rename window and dropped files of the main window on the
// offscreen platform, with a recording shell, an in-folder trash and a fixed volume table.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <fstream>
#include <functional>

#include "app/FolderActionsFakes.h"
#include "app/ui/FrmReName.h"
#include "app/ui/MainForm.h"
#include "support/TestSupport.h"
#include "ui/SessionForm.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs `act` on the next modal window as soon as it is open, once.
class OnModal {
  public:
    explicit OnModal(std::function<void(QWidget*)> act) : act_(std::move(act)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget(); modal && !done_) {
                done_ = true;
                timer_.stop();
                act_(modal);
            }
        });
        timer_.start();
    }
    bool Done() const { return done_; }

  private:
    QTimer timer_;
    std::function<void(QWidget*)> act_;
    bool done_ = false;
};

// Answers every message box while it lives: Yes where there is one, else OK.
struct AnswerYes {
    AnswerYes() {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible()) return;
            texts.push_back(box->windowTitle().toStdString() + ": " + box->text().toStdString());
            if (QAbstractButton* yes = box->button(QMessageBox::Yes))
                yes->click();
            else
                box->done(QMessageBox::Ok);
        });
        timer.start();
    }
    QTimer timer;
    std::vector<std::string> texts;
};

class FolderActionsUiTest : public ::testing::Test {
  protected:
    FolderActionsUiTest()
        : root_(fs::canonical(scratch_.Path())),
          program_(root_ / "program"),
          home_(root_ / "home"),
          env_(home_) {
        fs::create_directories(program_ / "source");
        fs::create_directories(home_);
    }

    std::unique_ptr<TMainForm> NewForm() {
        std::unique_ptr<TMainForm> form =
            std::make_unique<test::SessionForm>(program_.string() + "/");
        std::vector<MountedVolume> volumes(1);
        volumes[0].mountPoint = "/";
        volumes[0].root = "/";
        shell_ = std::make_shared<test::RecordingShell>();
        form->UseFolderServices(drives_,
                                std::make_shared<FreedesktopTrash>(
                                    home_ / ".local/share", std::make_shared<FixedDrives>(volumes)),
                                shell_);
        form->resize(947, 720);
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        return form;
    }

    QListWidget* SourceList(TMainForm& form) {
        auto* list = form.findChild<QListWidget*>(QStringLiteral("LbDocList"));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_F5);
        return list;
    }

    static std::vector<std::string> Items(QListWidget* list) {
        std::vector<std::string> items;
        for (int i = 0; i < list->count(); ++i)
            items.push_back(list->item(i)->text().toStdString());
        return items;
    }

    // A drop as the file manager makes it: the copy action, from outside the program.
    static void Drop(TMainForm& form, QMimeData& data, bool* accepted = nullptr) {
        const QPointF at(form.width() / 3.0, form.height() / 2.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&form, &enter);
        if (accepted) *accepted = enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
        QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&form, &drop);
    }

    fs::path Trashed(const std::string& name) const {
        return home_ / ".local/share/Trash/files" / name;
    }

    test::ScratchDir scratch_;
    fs::path root_;
    fs::path program_;
    fs::path home_;
    test::ScopedHome env_;
    std::shared_ptr<test::TableDrives> drives_ = std::make_shared<test::TableDrives>();
    std::shared_ptr<test::RecordingShell> shell_;
};

TEST_F(FolderActionsUiTest, DroppedFilesFromQMimeData) {
    const fs::path src = program_ / "source";
    test::WriteText(src / "listed.gif", "listed old");
    test::WriteText(src / "own.jpg", "own");
    test::WriteText(src / "b.png", "b old");
    auto form = NewForm();
    QListWidget* list = SourceList(*form);
    ASSERT_EQ(Items(list), (std::vector<std::string>{"b.png", "listed.gif", "own.jpg"}));

    const fs::path from = root_ / "from";
    test::WriteText(from / "a.jpg", "A");
    test::WriteText(from / "notes.txt", "N");
    test::WriteText(from / "listed.gif", "listed new");
    test::WriteText(from / "b.png", "b new");
    test::WriteText(from / "c d.bmp", "C");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString((from / "a.jpg").string())),
                  QUrl::fromLocalFile(QString::fromStdString((from / "notes.txt").string())),
                  QUrl::fromLocalFile(QString::fromStdString((from / "listed.gif").string())),
                  QUrl::fromLocalFile(QString::fromStdString((src / "own.jpg").string())),
                  QUrl::fromLocalFile(QString::fromStdString((from / "b.png").string())),
                  QUrl::fromLocalFile(QString::fromStdString((from / "c d.bmp").string()))});
    bool accepted = false;
    Drop(*form, data, &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(Items(list),
              (std::vector<std::string>{"b.png", "listed.gif", "own.jpg", "a.jpg", "c d.bmp"}));
    EXPECT_EQ(ReadText(src / "a.jpg"), "A");
    EXPECT_FALSE(fs::exists(src / "notes.txt"));
    EXPECT_EQ(ReadText(src / "own.jpg"), "own");
    EXPECT_EQ(ReadText(src / "listed.gif"), "listed new");
    EXPECT_EQ(ReadText(Trashed("listed.gif")), "listed old");
    EXPECT_EQ(ReadText(src / "b.png"), "b new");
    EXPECT_EQ(ReadText(Trashed("b.png")), "b old");

    // Dropped text: the copy cursor, and nothing changes.
    QMimeData text;
    text.setText(QStringLiteral("/etc/passwd"));
    accepted = false;
    Drop(*form, text, &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(list->count(), 5);
    EXPECT_EQ(std::distance(fs::directory_iterator(src), fs::directory_iterator()), 5);
}

TEST_F(FolderActionsUiTest, RenameWindowEnterAndEsc) {
    test::WriteText(program_ / "source" / "photo.png", "photo");
    auto form = NewForm();
    QListWidget* list = SourceList(*form);
    list->setCurrentRow(0);

    OnModal type([](QWidget* modal) {
        auto* window = qobject_cast<TFrmReName*>(modal);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("更改名称"));
        EXPECT_EQ(window->Edit()->text(), QStringLiteral("photo.png"));
        QTest::keyClicks(window->Edit(), QStringLiteral("holiday"));
        QTest::keyClick(window->Edit(), Qt::Key_Return);
    });
    form->findChild<QAction*>(QStringLiteral("MnRenamePic"))->trigger();
    EXPECT_TRUE(type.Done());
    EXPECT_EQ(ReadText(program_ / "source" / "holiday.jpg"), "photo");
    EXPECT_EQ(Items(list), std::vector<std::string>{"holiday.jpg"});
    TFrmReName* first = form->RenameWindow();

    list->setCurrentRow(0);
    OnModal escape([](QWidget* modal) {
        auto* window = qobject_cast<TFrmReName*>(modal);
        ASSERT_NE(window, nullptr);
        QTest::keyClicks(window->Edit(), QStringLiteral("other"));
        QTest::keyClick(window->Edit(), Qt::Key_Escape);
    });
    form->MnRenamePicClick();
    EXPECT_TRUE(escape.Done());
    EXPECT_EQ(form->RenameWindow(), first);  // made once, kept
    EXPECT_EQ(Items(list), std::vector<std::string>{"holiday.jpg"});
    EXPECT_FALSE(fs::exists(program_ / "source" / "other.jpg"));
}

TEST_F(FolderActionsUiTest, HistoryPopUpCaptionsAndPick) {
    auto form = NewForm();
    for (int i = 10; i >= 1; --i) {
        const fs::path folder = root_ / ("f" + std::to_string(i) + " & co");
        fs::create_directories(folder);
        form->AddRecentFolder(folder.string());
    }
    form->BtnHistoryClick(2, form->mapToGlobal(QPoint(200, 200)));
    QMenu* menu = form->HistoryMenu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
    const QList<QAction*> entries = menu->actions();
    ASSERT_EQ(entries.size(), 10);
    EXPECT_EQ(entries[0]->text().toStdString(), "&1 " + root_.string() + "/f1 && co/");
    EXPECT_EQ(entries[9]->text().toStdString(), "&10 " + root_.string() + "/f10 && co/");
    entries[9]->trigger();
    menu->hide();
    EXPECT_EQ(form->findChild<QGroupBox*>(QStringLiteral("GbTargetList"))->title().toStdString(),
              "Target Folder:" + root_.string() + "/f10 & co/");

    // Fewer folders: the rest of the entries are not shown.
    auto second = std::make_unique<test::SessionForm>((root_ / "other").string() + "/");
    second->AddRecentFolder("/a/");
    second->BtnHistoryClick(0, QPoint(10, 10));
    EXPECT_EQ(second->HistoryMenu()->actions().size(), 1);
    second->HistoryMenu()->hide();
}

TEST_F(FolderActionsUiTest, DeleteKeyAsksThenTrashesAndTheDesktopButtonOfTheTargetRow) {
    test::WriteText(program_ / "source" / "a.jpg", "a");
    test::WriteText(program_ / "source" / "b.jpg", "b");
    auto form = NewForm();
    QListWidget* list = SourceList(*form);

    // Nothing selected: the question first, then the message.
    list->clearSelection();
    {
        AnswerYes answer;
        QTest::keyClick(list, Qt::Key_Delete);
        EXPECT_EQ(answer.texts, (std::vector<std::string>{"提醒: 你确定要删除吗？",
                                                          "图片批量转换: 请选择一个或多个路径"}));
    }
    list->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
    {
        AnswerYes answer;
        QTest::keyClick(list, Qt::Key_Delete);
        EXPECT_EQ(answer.texts, std::vector<std::string>{"提醒: 你确定要删除吗？"});
    }
    EXPECT_EQ(ReadText(Trashed("a.jpg")), "a");
    EXPECT_EQ(Items(list), std::vector<std::string>{"b.jpg"});

    // Enter opens the current entry.
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Return);
    ASSERT_FALSE(shell_->calls.empty());
    EXPECT_EQ(shell_->calls.back(), "open " + (program_ / "source" / "b.jpg").string());

    // The target row's desktop button.
    fs::create_directories(home_ / "Desktop");
    QTest::mouseClick(form->findChild<QToolButton*>(QStringLiteral("BtnDeskTop2")), Qt::LeftButton);
    EXPECT_EQ(form->findChild<QGroupBox*>(QStringLiteral("GbTargetList"))->title().toStdString(),
              "Target Folder:" + (home_ / "Desktop").string() + "/");
}

}  // namespace
}  // namespace ozm
