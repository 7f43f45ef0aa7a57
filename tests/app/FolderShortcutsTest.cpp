#include <gtest/gtest.h>

#include <fstream>

#include "app/FolderActionsFakes.h"
#include "app/RecordingFeedback.h"
#include "app/convert/FolderLists.h"
#include "app/shell/FolderChoice.h"
#include "app/shell/FolderShortcuts.h"
#include "platform/Trash.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;
using test::FakeFolderHost;

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class FolderShortcutsTest : public ::testing::Test {
  protected:
    FolderShortcutsTest()
        : root(fs::canonical(dir.Path())),
          home(root / "home"),
          env(home),
          profile(root / "defualt.ini"),
          lists(model, profile, feedback, home.string() + "/"),
          trash(home / ".local/share", std::make_shared<FixedDrives>(drives.Volumes())),
          shortcuts(model, lists, host, drives, trash, shell, root / "prog") {
        fs::create_directories(home);
    }

    // Fills the source list from `folder` with the names selected as asked.
    void ShowSource(const fs::path& folder, std::vector<int> selected = {}) {
        lists.SetSourceFolder(folder.string() + "/");
        for (int i : selected) model.source.list.SetSelected(i, true);
    }
    fs::path Trashed(const std::string& name) const {
        return home / ".local/share/Trash/files" / name;
    }

    test::ScratchDir dir;
    fs::path root;
    fs::path home;
    test::ScopedHome env;
    SettingsModel model;
    ProfileFile profile;
    test::RecordingFeedback feedback;
    FolderLists lists;
    FakeFolderHost host;
    test::TableDrives drives;
    FreedesktopTrash trash;
    test::RecordingShell shell;
    FolderShortcuts shortcuts;
};

TEST_F(FolderShortcutsTest, FavouriteFolderPromptsStartsAndCancel) {
    fs::create_directories(home / "Documents");
    fs::create_directories(root / "pics");
    // No favourite: the Chinese prompt at the documents folder; the pick is gone to.
    host.answers = {(root / "pics").string()};
    shortcuts.BtnMyFavClick(ListSide::Source);
    ASSERT_EQ(host.chooserCalls.size(), 1u);
    EXPECT_EQ(host.chooserCalls[0],
              std::make_pair(std::string("请选择您喜欢的文件夹."), (home / "Documents").string()));
    EXPECT_EQ(model.favouriteFolder, (root / "pics").string());
    EXPECT_EQ(model.source.caption, "Source Folder:" + (root / "pics").string() + "/");

    // A favourite: the English prompt at it; cancel keeps it and the button still goes there.
    host.answers.clear();
    shortcuts.BtnAddFavClick(ListSide::Target);
    EXPECT_EQ(host.chooserCalls[1], std::make_pair(std::string("Please choose your fav folder."),
                                                   (root / "pics").string()));
    EXPECT_EQ(model.favouriteFolder, (root / "pics").string());
    EXPECT_EQ(model.target.caption, "Target Folder:" + (root / "pics").string() + "/");

    // "Fav folder" with a favourite asks nothing.
    shortcuts.BtnMyFavClick(ListSide::Source);
    EXPECT_EQ(host.chooserCalls.size(), 2u);

    // Start folders that are gone: the home folder.
    std::string favourite = (root / "gone").string();
    ChooseFavouriteFolder(host, favourite);
    EXPECT_EQ(host.chooserCalls.back().second, home.string());
    EXPECT_EQ(favourite, (root / "gone").string());
    fs::remove(home / "Documents");
    favourite.clear();
    ChooseFavouriteFolder(host, favourite);
    EXPECT_EQ(host.chooserCalls.back(),
              std::make_pair(std::string("请选择您喜欢的文件夹."), home.string()));

    // Still none after the chooser: "Fav folder" goes nowhere.
    model.favouriteFolder.clear();
    const std::string before = model.source.editText;
    shortcuts.BtnMyFavClick(ListSide::Source);
    EXPECT_TRUE(model.favouriteFolder.empty());
    EXPECT_EQ(model.source.editText, before);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(FolderShortcutsTest, ChooserWrappersAndKnownFolders) {
    const std::string there = (root / "there").string();
    fs::create_directories(there);
    const std::string missing = (root / "missing").string();
    ChooseSourceFolderDialog(host, there);
    ChooseSourceFolderDialog(host, missing);
    ChooseTargetFolderDialog(host, there);
    ChooseTargetFolderDialog(host, missing);
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(host.chooserCalls, (std::vector<P>{{there, there},
                                                 {missing, home.string()},
                                                 {there, home.string()},
                                                 {home.string(), home.string()}}));

    // "Choose folder" of the target row: the pick becomes the target folder.
    host.answers = {there};
    model.target.editText = missing;
    shortcuts.BtnSelectDirClick(ListSide::Target);
    EXPECT_EQ(model.target.caption, "Target Folder:" + there + "/");
    EXPECT_EQ(model.target.editText, there + "/");

    // The desktop, documents and pictures buttons; a missing folder is made.
    shortcuts.SetKnownFolders({root / "Desk top", root / "Docs", root / "Pics"});
    shortcuts.BtnDeskTopClick(ListSide::Target);
    EXPECT_EQ(model.target.caption, "Target Folder:" + (root / "Desk top").string() + "/");
    EXPECT_TRUE(fs::is_directory(root / "Desk top"));
    shortcuts.BtnMyPicturesClick(ListSide::Source);
    EXPECT_EQ(model.source.editText, (root / "Pics").string() + "/");
    shortcuts.BtnMyDocumentsClick(ListSide::Source);
    EXPECT_EQ(model.source.editText, (root / "Docs").string() + "/");
}

TEST_F(FolderShortcutsTest, RemovableVolumeButton) {
    shortcuts.BtnUDiskClick(ListSide::Source);
    EXPECT_EQ(host.messages, std::vector<std::string>{"请插入可移动磁盘."});
    EXPECT_TRUE(shortcuts.RemovableDrive().empty());
    fs::create_directories(root / "media/stick b");
    fs::create_directories(root / "media/stick a");
    drives.Add(root / "media/stick b", true);
    drives.Add(root / "media/stick a", true);
    shortcuts.BtnUDiskClick(ListSide::Target);
    EXPECT_EQ(shortcuts.RemovableDrive(), (root / "media/stick a").string());
    EXPECT_EQ(model.target.editText, (root / "media/stick a").string() + "/");
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST_F(FolderShortcutsTest, CurrentFolderChecks) {
    // A volume that is not mounted: the message names its folder; nothing is created on the
    // system disk under the leftover mount folder.
    model.source.editText = "/media/nobody/GONE/photos";
    EXPECT_EQ(shortcuts.CurrentFolder(ListSide::Source), std::nullopt);
    EXPECT_EQ(host.messages.back(), "磁盘/media/nobody/GONE不存在，请重选择一个路径。");
    EXPECT_EQ(host.focused.back(), "EdtPath");
    EXPECT_FALSE(fs::exists("/media/nobody/GONE/photos"));

    // Missing parents are made.
    model.target.editText = (root / "a/b/c").string();
    EXPECT_EQ(shortcuts.CurrentFolder(ListSide::Target), (root / "a/b/c").string() + "/");
    EXPECT_TRUE(fs::is_directory(root / "a/b/c"));

    // Not a folder name: the box goes home.
    test::WriteText(root / "file.jpg", "x");
    for (const std::string& text :
         {std::string(""), std::string("relative/pics"), (root / "file.jpg/sub").string()}) {
        host.messages.clear();
        model.target.editText = text;
        model.target.currentFolder.clear();
        EXPECT_EQ(shortcuts.CurrentFolder(ListSide::Target), std::nullopt) << text;
        EXPECT_EQ(host.messages, std::vector<std::string>{"请选择一个合法的文件夹名称"});
        EXPECT_EQ(model.target.editText, home.string() + "/");
        EXPECT_EQ(host.focused.back(), "EdtOutput");
    }
}

TEST_F(FolderShortcutsTest, RecentFolderMenu) {
    RecentFolders recent;
    for (int i = 10; i >= 1; --i) recent.AddRecentFolder("/data/f" + std::to_string(i) + " & co");
    const std::vector<HistoryEntry> full = HistoryMenuEntries(recent);
    ASSERT_EQ(full.size(), 10u);
    EXPECT_EQ(full[0].caption, "&1 /data/f1 && co/");
    EXPECT_EQ(full[9].caption, "&10 /data/f10 && co/");
    EXPECT_EQ(full[9].folder, "/data/f10 & co/");
    // The tenth entry goes to its folder exactly (no blank left over from the caption).
    fs::create_directories(root / "ten");
    shortcuts.MnHistory1Click(ListSide::Target, (root / "ten").string() + "/");
    EXPECT_EQ(model.target.editText, (root / "ten").string() + "/");

    RecentFolders few;
    few.AddRecentFolder("/b");
    few.AddRecentFolder("/a");
    const std::vector<HistoryEntry> some = HistoryMenuEntries(few);
    EXPECT_TRUE(some[1].visible);
    EXPECT_EQ(some[1].caption, "&2 /b/");
    for (std::size_t i = 2; i < 10; ++i) EXPECT_FALSE(some[i].visible) << i;
}

TEST_F(FolderShortcutsTest, OpeningFilesFoldersAndTheEditor) {
    const fs::path src = root / "src";
    test::WriteText(src / "a.jpg", "a");
    test::WriteText(src / "b.png", "b");
    ShowSource(src);
    model.source.list.SetCurrentIndex(-1);
    shortcuts.OpenCurrentFile(ListSide::Source);  // no current entry: nothing
    EXPECT_TRUE(shell.calls.empty());
    // The editor without a current entry takes the first one.
    shortcuts.OpenCurrentInEditor(ListSide::Source);
    EXPECT_EQ(model.source.list.CurrentIndex(), 0);
    model.source.list.SetCurrentIndex(1);
    shortcuts.OpenCurrentFile(ListSide::Source);
    shortcuts.BtnOpenDirClick(ListSide::Source);
    shortcuts.OpenApplicationPath1Click();
    EXPECT_EQ(shell.calls,
              (std::vector<std::string>{
                  "editor " + (src / "a.jpg").string(), "open " + (src / "b.png").string(),
                  "open " + src.string() + "/", "open " + (root / "prog").string()}));
    // An empty list: the editor does nothing.
    lists.SetTargetFolder((root / "empty/").string());
    shortcuts.OpenCurrentInEditor(ListSide::Target);
    EXPECT_EQ(shell.calls.size(), 4u);
}

TEST_F(FolderShortcutsTest, DeleteAsksFirstNeedsASelectionAndStops) {
    const fs::path src = root / "src";
    test::WriteText(src / "a.jpg", "a");
    test::WriteText(src / "b.jpg", "b");
    test::WriteText(src / "c.jpg", "c");
    ShowSource(src, {0, 2});
    host.yes = false;
    shortcuts.DeleteSelected(ListSide::Source);
    EXPECT_EQ(host.questions, std::vector<std::string>{"提醒: 你确定要删除吗？"});
    EXPECT_TRUE(fs::exists(src / "a.jpg"));

    host.yes = true;
    model.source.list.ClearSelection();
    shortcuts.DeleteSelected(ListSide::Source);
    EXPECT_EQ(host.questions.size(), 2u);  // the question comes first
    EXPECT_EQ(host.messages, std::vector<std::string>{"请选择一个或多个路径"});
    EXPECT_EQ(host.focused, std::vector<std::string>{"LbDocList"});

    // The run's stop request ends the loop after its step.
    model.source.list.SetSelected(0, true);
    model.source.list.SetSelected(2, true);
    host.stopAtStep = 2;
    shortcuts.DeleteSelected(ListSide::Source);
    EXPECT_EQ(ReadText(Trashed("a.jpg")), "a");
    EXPECT_EQ(ReadText(src / "c.jpg"), "c");
    EXPECT_EQ(model.source.list.Entries(), (std::vector<std::string>{"b.jpg", "c.jpg"}));
    EXPECT_EQ(host.steps, 0);  // reset at the end

    host.stopAtStep = 0;
    model.source.list.SelectAll();
    shortcuts.DeleteSelected(ListSide::Source);
    EXPECT_TRUE(model.source.list.Entries().empty());
    EXPECT_EQ(ReadText(Trashed("b.jpg")), "b");
    EXPECT_EQ(ReadText(Trashed("c.jpg")), "c");
}

TEST_F(FolderShortcutsTest, TargetDeleteActsInTheTargetFolder) {
    const fs::path src = root / "src";
    const fs::path out = root / "out";
    test::WriteText(src / "x.jpg", "source x");
    test::WriteText(out / "x.jpg", "target x");
    ShowSource(src);
    lists.SetTargetFolder(out.string() + "/");
    model.target.list.SetSelected(0, true);
    shortcuts.DeleteSelected(ListSide::Target);
    EXPECT_EQ(ReadText(src / "x.jpg"), "source x");
    EXPECT_FALSE(fs::exists(out / "x.jpg"));
    EXPECT_EQ(ReadText(Trashed("x.jpg")), "target x");
    EXPECT_TRUE(model.target.list.Entries().empty());
}

TEST_F(FolderShortcutsTest, RenameRules) {
    const fs::path src = root / "src";
    test::WriteText(src / "photo.png", "photo");
    test::WriteText(src / "b.png", "b");
    ShowSource(src);
    auto renameTo = [&](std::optional<std::string> name, const std::string& from) {
        const auto& e = model.source.list.Entries();
        model.source.list.SetCurrentIndex(
            static_cast<int>(std::find(e.begin(), e.end(), from) - e.begin()));
        host.newName = std::move(name);
        shortcuts.RenameCurrent();
    };
    renameTo("holiday", "photo.png");
    EXPECT_EQ(ReadText(src / "holiday.jpg"), "photo");
    EXPECT_FALSE(fs::exists(src / "photo.png"));
    renameTo("holiday.png", "holiday.jpg");
    EXPECT_EQ(ReadText(src / "holiday.png"), "photo");

    // Onto a taken name, out of the folder, or no name at all: the files stay as they were.
    for (const std::string bad : {"b.png", "../escaped.png", "sub/x.png", "/", "", ".", ".."}) {
        renameTo(bad, "holiday.png");
        EXPECT_EQ(ReadText(src / "holiday.png"), "photo") << bad;
        EXPECT_EQ(ReadText(src / "b.png"), "b") << bad;
    }
    renameTo(std::nullopt, "holiday.png");  // Esc: the old name
    EXPECT_EQ(model.source.list.Entries(), (std::vector<std::string>{"b.png", "holiday.png"}));
    EXPECT_FALSE(fs::exists(root / "escaped.png"));
    EXPECT_FALSE(fs::exists(src / ".jpg"));

    EXPECT_EQ(RenameTarget("holiday."), "holiday.");
    EXPECT_EQ(RenameTarget(".hidden"), ".hidden");
    EXPECT_EQ(RenameTarget("假期"), "假期.jpg");

    // No current entry: no window.
    model.source.list.SetCurrentIndex(-1);
    const std::size_t asked = host.renameAsked.size();
    shortcuts.RenameCurrent();
    EXPECT_EQ(host.renameAsked.size(), asked);
}

TEST(FolderChoice, TypedFoldersAndNewFolderNames) {
    EXPECT_EQ(TypedFolder("  \t", "/cur", "/home/u"), std::nullopt);
    EXPECT_EQ(TypedFolder(" a/../b/ ", "/cur", "/home/u"), fs::path("/cur/b/"));
    EXPECT_EQ(TypedFolder("/abs/x", "/cur", "/home/u"), fs::path("/abs/x"));
    EXPECT_EQ(TypedFolder("~", "/cur", "/home/u"), fs::path("/home/u"));
    EXPECT_EQ(TypedFolder("~/pics", "/cur", "/home/u"), fs::path("/home/u/pics"));
    EXPECT_EQ(TypedFolder("~x", "/cur", "/home/u"), fs::path("/cur/~x"));
    EXPECT_EQ(ChosenFolderText("/a/b/"), "/a/b");
    EXPECT_EQ(ChosenFolderText("/"), "/");

    test::ScratchDir dir;
    EXPECT_TRUE(MakeTypedFolder(dir / "x" / "y" / "z"));
    EXPECT_TRUE(MakeTypedFolder(dir / "x"));  // already there
    std::ofstream(dir / "file") << "x";
    EXPECT_FALSE(MakeTypedFolder(dir / "file"));
    EXPECT_FALSE(MakeTypedFolder(dir / "file" / "sub"));

    // Anything in the way of a name, a file or a folder, moves on to the next.
    EXPECT_EQ(NewFolderName(dir.Path()), "新建文件夹");
    fs::create_directory(dir / "新建文件夹");
    std::ofstream(dir / "新建文件夹 (2)") << "x";
    EXPECT_EQ(NewFolderName(dir.Path()), "新建文件夹 (3)");
}

}  // namespace
}  // namespace ozm
