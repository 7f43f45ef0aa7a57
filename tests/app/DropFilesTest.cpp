#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "app/FolderActionsFakes.h"
#include "app/RecordingFeedback.h"
#include "app/convert/FolderLists.h"
#include "app/shell/DropFiles.h"
#include "app/shell/FolderShortcuts.h"
#include "platform/Trash.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::shared_ptr<const Drives> RootOnly() {
    std::vector<MountedVolume> v(1);
    v[0].mountPoint = "/";
    v[0].root = "/";
    return std::make_shared<FixedDrives>(v);
}

std::vector<DropOutcome> Outcomes(const std::vector<DroppedFile>& files) {
    std::vector<DropOutcome> outcomes;
    for (const DroppedFile& f : files) outcomes.push_back(f.outcome);
    return outcomes;
}

class DropTest : public ::testing::Test {
  protected:
    DropTest() : root(fs::canonical(dir.Path())), trash(root / "data", RootOnly()) {
        fs::create_directories(root / "src");
    }
    test::ScratchDir dir;
    fs::path root;
    FreedesktopTrash trash;
    FileListModel list;
};

TEST_F(DropTest, SupportedFilesAreCopiedAndAppendedInOrder) {
    test::WriteText(root / "from/a.jpg", "A");
    test::WriteText(root / "from/notes.txt", "N");
    test::WriteText(root / "from/b.png", "B");
    test::WriteText(root / "from/scan.tiff", "T");
    list.SetEntries({"z.gif"});
    const auto result =
        DropFilesIntoFolder({root / "from/a.jpg", root / "from/notes.txt", root / "from/b.png",
                             root / "from/scan.tiff", root / "from/missing.jpg", root / "from"},
                            root / "src", list, trash);
    EXPECT_EQ(Outcomes(result),
              (std::vector<DropOutcome>{DropOutcome::Copied, DropOutcome::Unsupported,
                                        DropOutcome::Copied, DropOutcome::Unsupported,
                                        DropOutcome::Failed, DropOutcome::Unsupported}));
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"z.gif", "a.jpg", "b.png"}));
    EXPECT_EQ(Names(root / "src"), (std::vector<std::string>{"a.jpg", "b.png"}));
    EXPECT_EQ(ReadText(root / "src/b.png"), "B");
    EXPECT_EQ(ReadText(root / "from/a.jpg"), "A");
}

TEST_F(DropTest, AListedNameDoesNotEndTheDropAndNamesCompareExactly) {
    test::WriteText(root / "src/b.png", "old b");
    test::WriteText(root / "from/a.jpg", "A");
    test::WriteText(root / "from/b.png", "new b");
    test::WriteText(root / "from/c.gif", "C");
    test::WriteText(root / "from/A.JPG", "upper");
    list.SetEntries({"a.jpg", "b.png"});
    test::WriteText(root / "src/a.jpg", "old a");
    DropFilesIntoFolder(
        {root / "from/a.jpg", root / "from/b.png", root / "from/c.gif", root / "from/A.JPG"},
        root / "src", list, trash);
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"a.jpg", "b.png", "c.gif", "A.JPG"}));
    EXPECT_EQ(ReadText(root / "src/b.png"), "new b");
    EXPECT_EQ(ReadText(root / "src/A.JPG"), "upper");
    EXPECT_EQ(ReadText(root / "src/a.jpg"), "A");
    // The replaced files are in the trash.
    EXPECT_EQ(ReadText(root / "data/Trash/files/b.png"), "old b");
    EXPECT_EQ(ReadText(root / "data/Trash/files/a.jpg"), "old a");
}

TEST_F(DropTest, TheFolderOwnFileAndLongPaths) {
    test::WriteText(root / "src/own.jpg", "own bytes");
    const auto result = DropFilesIntoFolder({root / "src/own.jpg"}, root / "src", list, trash);
    EXPECT_EQ(result[0].outcome, DropOutcome::AlreadyThere);
    EXPECT_TRUE(result[0].listed);
    EXPECT_EQ(ReadText(root / "src/own.jpg"), "own bytes");
    EXPECT_FALSE(fs::exists(root / "data/Trash"));

    // Paths far beyond 260 characters arrive whole.
    fs::path deep = root / "from";
    for (int i = 0; i < 6; ++i) deep /= std::string(60, static_cast<char>('a' + i));
    test::WriteText(deep / "deep.bmp", "deep");
    ASSERT_GT(deep.string().size(), 360u);
    DropFilesIntoFolder({deep / "deep.bmp"}, root / "src", list, trash);
    EXPECT_EQ(ReadText(root / "src/deep.bmp"), "deep");
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"own.jpg", "deep.bmp"}));
}

TEST_F(DropTest, AnOldFileThatCannotBeTrashedStaysAndNothingIsLeftBehind) {
    test::WriteText(root / "data/Trash", "a file where the trash would be");
    test::WriteText(root / "src/b.png", "old b");
    test::WriteText(root / "from/b.png", "new b");
    list.SetEntries({"b.png"});
    const auto result = DropFilesIntoFolder({root / "from/b.png"}, root / "src", list, trash);
    EXPECT_EQ(result[0].outcome, DropOutcome::Failed);
    EXPECT_EQ(ReadText(root / "src/b.png"), "old b");
    EXPECT_EQ(Names(root / "src"), std::vector<std::string>{"b.png"});
    EXPECT_EQ(list.Entries(), std::vector<std::string>{"b.png"});
}

// Every file that existed before a series of risky actions is afterwards, byte for byte,
// either where it was or in the trash.
TEST(NothingLost, DeleteRenameDropsAndAFailedTrash) {
    test::ScratchDir dir;
    const fs::path root = fs::canonical(dir.Path());
    const fs::path home = root / "home";
    test::ScopedHome env(home);
    const fs::path src = root / "src";
    const fs::path from = root / "from";
    std::map<std::string, std::size_t> before;  // hash -> count
    const auto hash = [](const std::string& bytes) { return std::hash<std::string>{}(bytes); };
    auto add = [&](const fs::path& file, const std::string& bytes) {
        test::WriteText(file, bytes);
        ++before[std::to_string(hash(bytes))];
    };
    add(src / "keep.jpg", "keep");
    add(src / "delete me.jpg", "deleted");
    add(src / "rename me.png", "renamed");
    add(src / "taken.png", "taken");
    add(src / "same.gif", "same");
    add(src / "other.bmp", "other old");
    add(from / "other.bmp", "other new");
    add(src / "stuck.jpg", "stuck old");
    add(from / "stuck.jpg", "stuck new");

    SettingsModel model;
    ProfileFile profile(root / "defualt.ini");
    test::RecordingFeedback feedback;
    FolderLists lists(model, profile, feedback, home.string() + "/");
    test::FakeFolderHost host;
    test::TableDrives drives;
    test::RecordingShell shell;
    FreedesktopTrash trash(home / ".local/share", RootOnly());
    FolderShortcuts shortcuts(model, lists, host, drives, trash, shell, root);
    lists.SetSourceFolder(src.string() + "/");
    auto current = [&](const std::string& name) {
        const auto& e = model.source.list.Entries();
        const int index = static_cast<int>(std::find(e.begin(), e.end(), name) - e.begin());
        model.source.list.SetCurrentIndex(index);
        return index;
    };

    model.source.list.SetSelected(current("delete me.jpg"), true);
    shortcuts.DeleteSelected(ListSide::Source);
    current("rename me.png");
    host.newName = "taken.png";
    shortcuts.RenameCurrent();
    DropFilesIntoFolder({src / "same.gif", from / "other.bmp"}, src, model.source.list, trash);
    // The trash becomes impossible (what it holds is kept aside): the next file that would
    // be replaced must stay.
    fs::rename(home / ".local/share/Trash", root / "trash-kept");
    test::WriteText(home / ".local/share/Trash", "blocked");
    DropFilesIntoFolder({from / "stuck.jpg"}, src, model.source.list, trash);
    EXPECT_EQ(ReadText(src / "stuck.jpg"), "stuck old");
    EXPECT_EQ(ReadText(src / "other.bmp"), "other new");
    EXPECT_EQ(ReadText(src / "taken.png"), "taken");

    std::map<std::string, std::size_t> after;
    for (const fs::path& folder : {src, from, root / "trash-kept" / "files"}) {
        for (const auto& e : fs::recursive_directory_iterator(folder)) {
            if (e.is_regular_file()) ++after[std::to_string(hash(ReadText(e.path())))];
        }
    }
    for (const auto& [h, count] : before) EXPECT_GE(after[h], count) << h;
    EXPECT_EQ(fs::directory_iterator(root / "trash-kept" / "files") == fs::directory_iterator(),
              false);
}

}  // namespace
}  // namespace ozm
