#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "platform/Trash.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::shared_ptr<const Drives> Mounts(const std::vector<fs::path>& mountPoints) {
    std::vector<MountedVolume> volumes(mountPoints.size() + 1);
    volumes[0].mountPoint = "/";
    for (std::size_t i = 0; i < mountPoints.size(); ++i) volumes[i + 1].mountPoint = mountPoints[i];
    for (MountedVolume& v : volumes) v.root = "/";
    return std::make_shared<FixedDrives>(std::move(volumes));
}

// The Path= value of a record, and a check of the record's fixed layout.
std::string RecordedPath(const fs::path& info) {
    const std::string text = ReadText(info);
    static const std::regex layout(
        "\\[Trash "
        "Info\\]\nPath=([^\n]*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, layout)) << text;
    return m.size() > 1 ? m[1].str() : "";
}

mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(Trash, RecordTextEncodesBytesAsUrlsDo) {
    EXPECT_EQ(TrashInfoText("/tmp/a b/100%/图 #1?.jpg", "2026-01-02T03:04:05"),
              "[Trash Info]\nPath=/tmp/a%20b/100%25/%E5%9B%BE%20%231%3F.jpg\n"
              "DeletionDate=2026-01-02T03:04:05\n");
    EXPECT_EQ(TrashInfoText("x\ny=z", "d"), "[Trash Info]\nPath=x%0Ay%3Dz\nDeletionDate=d\n");
}

TEST(Trash, HomeTrashLayoutRecordAndCollisions) {
    test::ScratchDir dir;
    const fs::path root = fs::canonical(dir.Path());
    FreedesktopTrash trash(root / "data", Mounts({}));
    test::WriteText(root / "one" / "my photo 图.jpg", "first");
    test::WriteText(root / "two" / "my photo 图.jpg", "second");
    test::WriteText(root / "three" / "my photo 图.jpg", "third");
    test::WriteText(root / "one" / ".hidden", "h");

    ASSERT_TRUE(trash.MoveToTrash(root / "one" / "my photo 图.jpg"));
    // A stray file without its record holds a name: it is never replaced.
    test::WriteText(root / "data" / "Trash" / "files" / "my photo 图.3.jpg", "stray");
    ASSERT_TRUE(trash.MoveToTrash(root / "two" / "my photo 图.jpg"));
    ASSERT_TRUE(trash.MoveToTrash(root / "three" / "my photo 图.jpg"));
    ASSERT_TRUE(trash.MoveToTrash(root / "one" / ".hidden"));

    const fs::path home = root / "data" / "Trash";
    EXPECT_EQ(ModeOf(home), 0700u);
    EXPECT_EQ(ModeOf(home / "files"), 0700u);
    EXPECT_EQ(ModeOf(home / "info"), 0700u);
    EXPECT_FALSE(fs::exists(root / "one" / "my photo 图.jpg"));
    EXPECT_EQ(ReadText(home / "files" / "my photo 图.jpg"), "first");
    EXPECT_EQ(ReadText(home / "files" / "my photo 图.2.jpg"), "second");
    EXPECT_EQ(ReadText(home / "files" / "my photo 图.3.jpg"), "stray");
    EXPECT_EQ(ReadText(home / "files" / "my photo 图.4.jpg"), "third");
    EXPECT_EQ(ReadText(home / "files" / ".hidden"), "h");
    EXPECT_FALSE(fs::exists(home / "info" / "my photo 图.3.jpg.trashinfo"));

    const std::string rootRecord = TrashInfoText(root.string(), "");
    const std::size_t start = rootRecord.find("Path=") + 5;
    const std::string prefix = rootRecord.substr(start, rootRecord.find('\n', start) - start);
    EXPECT_EQ(RecordedPath(home / "info" / "my photo 图.jpg.trashinfo"),
              prefix + "/one/my%20photo%20%E5%9B%BE.jpg");
    EXPECT_EQ(RecordedPath(home / "info" / "my photo 图.4.jpg.trashinfo"),
              prefix + "/three/my%20photo%20%E5%9B%BE.jpg");
    EXPECT_EQ(RecordedPath(home / "info" / ".hidden.trashinfo"), prefix + "/one/.hidden");
}

TEST(Trash, LinksAndFoldersAreMovedThemselves) {
    test::ScratchDir dir;
    const fs::path root = fs::canonical(dir.Path());
    FreedesktopTrash trash(root / "data", Mounts({}));
    test::WriteText(root / "target.jpg", "kept");
    fs::create_symlink(root / "target.jpg", root / "link.jpg");
    test::WriteText(root / "album" / "a.jpg", "a");
    ASSERT_TRUE(trash.MoveToTrash(root / "link.jpg"));
    ASSERT_TRUE(trash.MoveToTrash(root / "album"));
    EXPECT_EQ(ReadText(root / "target.jpg"), "kept");
    EXPECT_TRUE(fs::is_symlink(root / "data" / "Trash" / "files" / "link.jpg"));
    EXPECT_EQ(ReadText(root / "data" / "Trash" / "files" / "album" / "a.jpg"), "a");
    // The trash itself is not put into the trash.
    EXPECT_FALSE(trash.MoveToTrash(root / "data" / "Trash" / "files" / "album"));
    EXPECT_TRUE(fs::exists(root / "data" / "Trash" / "files" / "album"));
}

TEST(Trash, OtherVolumesUseTheirOwnTrashFolder) {
    const std::string uid = std::to_string(::geteuid());
    test::ScratchDir dir;
    const fs::path root = fs::canonical(dir.Path());
    const fs::path vol = root / "vol";
    FreedesktopTrash trash(root / "data", Mounts({vol}));

    // No .Trash: the user's own $topdir/.Trash-$UID, the path recorded relative to $topdir.
    test::WriteText(vol / "pics" / "x.jpg", "x1");
    ASSERT_TRUE(trash.MoveToTrash(vol / "pics" / "x.jpg"));
    EXPECT_EQ(ReadText(vol / (".Trash-" + uid) / "files" / "x.jpg"), "x1");
    EXPECT_EQ(ModeOf(vol / (".Trash-" + uid)), 0700u);
    EXPECT_EQ(RecordedPath(vol / (".Trash-" + uid) / "info" / "x.jpg.trashinfo"), "pics/x.jpg");
    EXPECT_FALSE(fs::exists(root / "data" / "Trash"));

    // A .Trash that is not sticky, or a link to a sticky folder, is passed over.
    fs::create_directory(vol / ".Trash");
    test::WriteText(vol / "pics" / "x.jpg", "x2");
    ASSERT_TRUE(trash.MoveToTrash(vol / "pics" / "x.jpg"));
    EXPECT_EQ(ReadText(vol / (".Trash-" + uid) / "files" / "x.2.jpg"), "x2");
    fs::remove(vol / ".Trash");
    fs::create_directory(root / "elsewhere");
    ::chmod((root / "elsewhere").c_str(), 01777);
    fs::create_directory_symlink(root / "elsewhere", vol / ".Trash");
    test::WriteText(vol / "pics" / "x.jpg", "x3");
    ASSERT_TRUE(trash.MoveToTrash(vol / "pics" / "x.jpg"));
    EXPECT_EQ(ReadText(vol / (".Trash-" + uid) / "files" / "x.3.jpg"), "x3");
    EXPECT_FALSE(fs::exists(root / "elsewhere" / uid));

    // A sticky administrator's .Trash: $topdir/.Trash/$UID.
    fs::remove(vol / ".Trash");
    fs::create_directory(vol / ".Trash");
    ::chmod((vol / ".Trash").c_str(), 01777);
    test::WriteText(vol / "y.jpg", "y");
    ASSERT_TRUE(trash.MoveToTrash(vol / "y.jpg"));
    EXPECT_EQ(ReadText(vol / ".Trash" / uid / "files" / "y.jpg"), "y");
    EXPECT_EQ(RecordedPath(vol / ".Trash" / uid / "info" / "y.jpg.trashinfo"), "y.jpg");

    // Files beside the volume go to the home trash.
    test::WriteText(root / "z.jpg", "z");
    ASSERT_TRUE(trash.MoveToTrash(root / "z.jpg"));
    EXPECT_EQ(ReadText(root / "data" / "Trash" / "files" / "z.jpg"), "z");
}

TEST(Trash, AFileThatCannotBeTrashedStays) {
    const std::string uid = std::to_string(::geteuid());
    test::ScratchDir dir;
    const fs::path root = fs::canonical(dir.Path());

    // The home trash cannot be made: a file stands where its folder would be.
    test::WriteText(root / "data" / "Trash", "not a folder");
    test::WriteText(root / "a.jpg", "keep me");
    EXPECT_FALSE(FreedesktopTrash(root / "data", Mounts({})).MoveToTrash(root / "a.jpg"));
    EXPECT_EQ(ReadText(root / "a.jpg"), "keep me");

    // The home trash's files folder is a link to somewhere else.
    fs::remove(root / "data" / "Trash");
    fs::create_directories(root / "data" / "Trash");
    fs::create_directory(root / "other");
    fs::create_directory_symlink(root / "other", root / "data" / "Trash" / "files");
    EXPECT_FALSE(FreedesktopTrash(root / "data", Mounts({})).MoveToTrash(root / "a.jpg"));
    EXPECT_EQ(ReadText(root / "a.jpg"), "keep me");
    EXPECT_TRUE(fs::is_empty(root / "other"));
    EXPECT_FALSE(fs::exists(root / "data" / "Trash" / "info" / "a.jpg.trashinfo"));

    // A volume whose only usable trash is taken by a file of that name.
    const fs::path vol = root / "vol";
    test::WriteText(vol / (".Trash-" + uid), "in the way");
    test::WriteText(vol / "b.jpg", "keep me too");
    EXPECT_FALSE(FreedesktopTrash(root / "data", Mounts({vol})).MoveToTrash(vol / "b.jpg"));
    EXPECT_EQ(ReadText(vol / "b.jpg"), "keep me too");

    // Missing files, an empty path, a mount point itself.
    FreedesktopTrash trash(root / "data2", Mounts({vol}));
    EXPECT_FALSE(trash.MoveToTrash(root / "missing.jpg"));
    EXPECT_FALSE(trash.MoveToTrash(""));
    EXPECT_FALSE(trash.MoveToTrash(vol));
    EXPECT_TRUE(fs::exists(vol / "b.jpg"));
}

}  // namespace
}  // namespace ozm
