#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <tuple>

#include "app/RecordingFeedback.h"
#include "app/convert/FolderLists.h"
#include "app/convert/ListPreview.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/formats/io/ByteOrder.h"
#include "core/formats/raster/BmpCodec.h"
#include "core/formats/raster/JpegCodec.h"
#include "core/formats/raster/PngCodec.h"
#include "core/transforms/BoxResize.h"
#include "support/TestSupport.h"

namespace ozm {
namespace {

namespace fs = std::filesystem;
using test::RecordingFeedback;
using test::ScratchDir;

void Touch(const fs::path& path) { test::WriteAll(path, {0x42}); }

TEST(FolderLists, ListSortKeyQuirks) {
    EXPECT_EQ(ListSortKey("7.jpg"), 7);
    EXPECT_EQ(ListSortKey("12.jpg"), 12);
    EXPECT_EQ(ListSortKey("123.jpg"), 12);
    EXPECT_EQ(ListSortKey("1a.jpg"), 1);
    EXPECT_EQ(ListSortKey("a.bmp"), 0);
    EXPECT_EQ(ListSortKey(" 5.png"), 5);
    EXPECT_EQ(ListSortKey("  5.png"), 0);
    EXPECT_EQ(ListSortKey("-3.png"), -3);
    EXPECT_EQ(ListSortKey("xa.jpg"), 10);
    EXPECT_EQ(ListSortKey("$F.jpg"), 15);
    EXPECT_EQ(ListSortKey("xz.jpg"), 0);
    EXPECT_EQ(ListSortKey("0x5.jpg"), 0);
    EXPECT_EQ(ListSortKey("9"), 9);
    EXPECT_EQ(ListSortKey(""), 0);
    EXPECT_EQ(ListSortKey("图.jpg"), 0);
}

TEST(FolderLists, ListingFiltersAndSorts) {
    ScratchDir dir;
    for (const char* name : {"b.png", "10.jpg", "2.jpg", "a.bmp", "B.gif", ".hidden.jpg",
                             "scan.tiff", "icon.ico", "notes.txt", "noext", "-1.emf"}) {
        Touch(dir / name);
    }
    fs::create_directory(dir / "x.jpg");
    EXPECT_EQ(ListImageFiles(dir.Path()),
              (std::vector<std::string>{"-1.emf", ".hidden.jpg", "a.bmp", "B.gif", "b.png",
                                        "icon.ico", "2.jpg", "10.jpg"}));
    EXPECT_TRUE(ListImageFiles(dir / "missing").empty());
}

TEST(FolderLists, ListingShowsRegularFilesOnly) {
    ScratchDir dir;
    Touch(dir / "a.jpg");
    fs::create_directory(dir / "sub");
    fs::create_symlink("a.jpg", dir / "link.png");     // a link to a file counts
    fs::create_symlink("gone.bmp", dir / "dead.bmp");  // a dangling link does not
    fs::create_symlink("sub", dir / "sublink.gif");    // nor a link to a folder
    ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket.png").string();
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(sock);
    EXPECT_EQ(ListImageFiles(dir.Path()), (std::vector<std::string>{"a.jpg", "link.png"}));
}

class FolderListsFixture : public ::testing::Test {
  protected:
    FolderListsFixture()
        : profile(dir / "defualt.ini"), lists(model, profile, feedback, "/home/user/") {}
    ScratchDir dir;
    SettingsModel model;
    ProfileFile profile;
    RecordingFeedback feedback;
    FolderLists lists;
};

TEST_F(FolderListsFixture, RefreshCreatesNormalisesAndStores) {
    const std::string folder = (dir / "new" / "pics").string();
    model.source.editText = folder + "//";
    lists.RefreshSourceList();
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(model.source.editText, folder + "/");
    EXPECT_EQ(model.source.currentFolder, folder + "/");
    EXPECT_EQ(model.source.list.Count(), 0);
    EXPECT_EQ(profile.ReadString("default", "SourcePath", ""), folder + "/");

    Touch(fs::path(folder) / "1.jpg");
    Touch(fs::path(folder) / "0.png");
    model.source.editText = folder;  // F5 with no final separator
    lists.RefreshSourceList();
    EXPECT_EQ(model.source.editText, folder + "/");
    EXPECT_EQ(model.source.list.Entries(), (std::vector<std::string>{"0.png", "1.jpg"}));
    EXPECT_EQ(model.source.list.CurrentIndex(), 0);
    EXPECT_TRUE(model.source.list.SelectedIndexes().empty());
    EXPECT_TRUE(feedback.messages.empty());
}

TEST_F(FolderListsFixture, BlanksAtTheEndsAreKept) {
    // "x " and "x" are two folders: the one with the blank is listed, no "x" is made, and
    // the name is stored as it is.
    const std::string spaced = (dir / "x ").string();
    fs::create_directory(spaced);
    Touch(fs::path(spaced) / "1.jpg");
    lists.SetSourceFolder(spaced);
    EXPECT_EQ(model.source.currentFolder, spaced + "/");
    EXPECT_EQ(model.source.list.Entries(), (std::vector<std::string>{"1.jpg"}));
    EXPECT_FALSE(fs::exists(dir / "x"));
    EXPECT_EQ(profile.ReadString("default", "SourcePath", ""), spaced);
    EXPECT_EQ(lists.ShowSourcePreview(), std::nullopt);
    EXPECT_EQ(model.source.currentImage, spaced + "/1.jpg");
    model.source.editText = spaced;  // F5
    lists.RefreshSourceList();
    EXPECT_EQ(profile.ReadString("default", "SourcePath", ""), spaced + "/");
    EXPECT_FALSE(fs::exists(dir / "x"));

    const std::string target = (dir / " y ").string();
    model.target.editText = target;
    lists.RefreshTargetList();
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_FALSE(fs::exists(dir / "y"));
    EXPECT_EQ(model.target.editText, target + "/");
    Touch(fs::path(target) / "2.png");
    lists.RefreshTargetList();
    ASSERT_EQ(lists.ShowTargetPreview(), std::nullopt);
    EXPECT_EQ(model.target.currentImage, target + "/2.png");
    EXPECT_TRUE(feedback.messages.empty());
}

TEST_F(FolderListsFixture, FolderThatCannotBeMade) {
    Touch(dir / "file");
    const std::string bad = (dir / "file" / "sub").string();
    model.source.editText = bad;
    lists.RefreshSourceList();
    EXPECT_EQ(feedback.messages, (std::vector<std::string>{"请选择一个路径"}));
    EXPECT_EQ(model.source.editText, "/home/user/");
    EXPECT_EQ(model.source.currentFolder, "/home/user/");
    EXPECT_EQ(feedback.focused, (std::vector<FocusTarget>{FocusTarget::EdtPath}));

    feedback.messages.clear();
    model.target.editText = bad;
    lists.RefreshTargetList();
    EXPECT_EQ(feedback.messages, (std::vector<std::string>{"请选择一个路径"}));
    EXPECT_EQ(model.target.editText, "/home/user/");
    EXPECT_EQ(model.target.currentFolder, bad + "/");  // the target keeps the failed folder
    EXPECT_EQ(feedback.progress, 1);                   // the bar is not reset after a failure
}

TEST_F(FolderListsFixture, SettersStoreTheFolderAsGiven) {
    const std::string folder = (dir / "out").string();
    lists.SetTargetFolder(folder);
    EXPECT_EQ(model.target.currentFolder, folder + "/");
    EXPECT_EQ(model.target.caption, "Target Folder:" + folder);
    EXPECT_EQ(model.dialogFolder, folder);
    EXPECT_EQ(profile.ReadString("default", "TargetPath", ""), folder);
    EXPECT_EQ(feedback.progress, 0);

    lists.SetSourceFolder(folder + "/");
    EXPECT_EQ(profile.ReadString("default", "SourcePath", ""), folder + "/");
    EXPECT_EQ(model.source.caption, "Source Folder:" + folder + "/");
}

TEST_F(FolderListsFixture, PreviewOfTheCurrentEntry) {
    Touch(dir / "a.jpg");
    Touch(dir / "b.gif");
    lists.SetSourceFolder(dir.Path().string());
    EXPECT_EQ(lists.ShowSourcePreview(), std::nullopt);  // switch off: nothing to load
    EXPECT_EQ(model.source.currentImage, dir.Path().string() + "/a.jpg");
    EXPECT_EQ(feedback.hint, "");

    model.source.list.SetCurrentIndex(1);
    const auto path = lists.PreviewSwitchClick(ListSide::Source, true);
    EXPECT_EQ(path, dir.Path().string() + "/b.gif");
    EXPECT_TRUE(model.source.previewPanelVisible);
    EXPECT_TRUE(profile.ReadBool("default", "PreviewSourceImg", false));
    EXPECT_EQ(profile.ReadInteger("ImgConvert", "LbDocListInd", 0), 1);

    fs::remove(dir / "b.gif");  // gone since it was listed: not previewed
    EXPECT_EQ(lists.ShowSourcePreview(), std::nullopt);

    model.source.list.Clear();
    model.source.currentImage = "kept";
    EXPECT_EQ(lists.ShowSourcePreview(), std::nullopt);
    EXPECT_EQ(model.source.currentImage, "kept");
}

TEST(ListPreview, Rules) {
    EXPECT_EQ(JpegPreviewScaleDenominator(4000, 3000, 385, 149), 8);
    EXPECT_EQ(JpegPreviewScaleDenominator(800, 600, 385, 149), 2);
    EXPECT_EQ(JpegPreviewScaleDenominator(300, 3000, 385, 149), 1);
    EXPECT_EQ(JpegPreviewScaleDenominator(2000, 2000, 385, 385), 4);
    EXPECT_EQ(JpegPreviewScaleDenominator(100, 100, 0, 149), 8);
    EXPECT_EQ(PreviewKindForFile("/a/photo.JFIF"), PreviewKind::Jpeg);
    for (const char* name : {"x.Dib", "x.png", "a.tif", "a.TIFF", "a.gif", "a.wmf", "a.EMF"}) {
        EXPECT_EQ(PreviewKindForFile(name), PreviewKind::Picture) << name;
    }
    EXPECT_EQ(PreviewKindForFile("icon.ico"), PreviewKind::SystemPicture);
    EXPECT_EQ(PreviewReduction(8200, 8200, 385, 149), 21);
    EXPECT_EQ(PreviewReduction(300, 3000, 385, 149), 1);
    EXPECT_EQ(PreviewReduction(100, 100, 0, 149), 8);
    EXPECT_EQ(PreviewSizeLabel(800, 600, true), " [宽度:800,高度:600]");
    EXPECT_EQ(PreviewSizeLabel(800, 600, false), "[宽度:800,高度:600]");
}

TEST(ListPreview, EachKindLoadsAsTheWindowShowsIt) {
    ScratchDir dir;
    const Bitmap photo = test::MakePatternBitmap(1600, 1200, 24);
    test::WriteAll(dir / "photo.jpg",
                   test::EncodeToBytes([&](std::FILE* f) { return EncodeJpeg(photo, f, 75); }));
    const Bitmap words = test::MakePatternBitmap(5, 3, 16);
    test::WriteAll(dir / "words.bmp",
                   test::EncodeToBytes([&](std::FILE* f) { return EncodeBmp(words, f); }));
    const Bitmap indexed = test::MakePatternBitmap(7, 2, 4);
    test::WriteAll(dir / "indexed.png",
                   test::EncodeToBytes([&](std::FILE* f) { return EncodePng(indexed, f, 1); }));
    test::WriteAll(dir / "broken.png", {0x89, 'P', 'N', 'G'});
    Touch(dir / "anim.gif");

    // The full size is reported; the decode is reduced to what the control can show.
    const PreviewPicture jpeg = LoadPreviewPicture((dir / "photo.jpg").string(), 200, 150);
    EXPECT_EQ(std::make_pair(jpeg.width, jpeg.height), std::make_pair(1600, 1200));
    EXPECT_EQ(std::make_pair(jpeg.bitmap.Width(), jpeg.bitmap.BitCount()), std::make_pair(200, 24));

    for (const auto& [name, original] :
         {std::pair{"words.bmp", &words}, {"indexed.png", &indexed}}) {
        const PreviewPicture shown = LoadPreviewPicture((dir / name).string(), 200, 150);
        EXPECT_FALSE(shown.hidePanel) << name;
        EXPECT_EQ(shown.width, original->Width()) << name;
        EXPECT_EQ(shown.bitmap.BitCount(), 24) << name;
        EXPECT_EQ(test::CountDifferences(test::ToRgb(shown.bitmap), test::ToRgb(*original)), 0)
            << name;
    }

    // Unreadable: the panel stays, empty and 0 by 0.
    for (const char* name : {"broken.png", "missing.bmp", "anim.gif"}) {
        const PreviewPicture shown = LoadPreviewPicture((dir / name).string(), 200, 150);
        EXPECT_FALSE(shown.hidePanel) << name;
        EXPECT_TRUE(shown.bitmap.Empty()) << name;
        EXPECT_EQ(shown.width + shown.height, 0) << name;
    }
}

TEST(ListPreview, EveryWrittenFormatPreviewsReducedToTheControlWithItsFullSize) {
    ScratchDir dir;
    const Bitmap picture = test::MakePatternBitmap(2400, 1000, 24);
    for (const ImageFormat& format : OutputFormatTable()) {
        const fs::path path = dir / ("p" + std::string(format.extension));
        ASSERT_TRUE(WriteImageFile(picture, path, format.code)) << format.name;
        const PreviewPicture shown = LoadPreviewPicture(path.string(), 200, 100);
        EXPECT_FALSE(shown.hidePanel) << format.name;
        EXPECT_EQ(std::make_pair(shown.width, shown.height), std::make_pair(2400, 1000))
            << format.name;
        // Reduced by 10, the smaller ratio, so that it still covers the control; a JPEG by the
        // decoder's 8.
        const bool jpeg = format.extension == ".jpg" || format.extension == ".jpeg";
        EXPECT_EQ(std::make_pair(shown.bitmap.Width(), shown.bitmap.Height()),
                  jpeg ? std::make_pair(300, 125) : std::make_pair(240, 100))
            << format.name;
    }
}

TEST(ListPreview, LargeBitmapsAreReducedAsTheirRowsAreRead) {
    // Read in strips and averaged block by block: the same as averaging the whole picture,
    // rows stored bottom-up or top-down, with a colour table or without.
    ScratchDir dir;
    for (const int bits : {24, 8}) {
        const Bitmap picture = test::MakePatternBitmap(1200, 900, bits);
        std::vector<std::uint8_t> file =
            test::EncodeToBytes([&](std::FILE* f) { return EncodeBmp(picture, f); });
        test::WriteAll(dir / "up.bmp", file);
        // The same rows top-down: the height negated and the rows in the other order.
        const std::size_t offBits = LoadLe32(file.data() + 10);
        const std::size_t stride = (file.size() - offBits) / 900;
        StoreLe32(file.data() + 22, static_cast<std::uint32_t>(-900));
        for (std::size_t y = 0; y < 450; ++y)
            std::swap_ranges(file.begin() + std::ptrdiff_t(offBits + y * stride),
                             file.begin() + std::ptrdiff_t(offBits + (y + 1) * stride),
                             file.begin() + std::ptrdiff_t(offBits + (899 - y) * stride));
        test::WriteAll(dir / "down.bmp", file);
        Bitmap expected;
        ASSERT_TRUE(BoxResampleTo24(picture, expected, 100, 75));
        for (const char* name : {"up.bmp", "down.bmp"}) {
            const PreviewPicture shown = LoadPreviewPicture((dir / name).string(), 100, 75);
            EXPECT_EQ(std::make_pair(shown.width, shown.height), std::make_pair(1200, 900));
            EXPECT_EQ(test::CountDifferences(test::ToRgb(shown.bitmap), test::ToRgb(expected)), 0)
                << bits << " " << name;
        }
    }
}

TEST(ListPreview, TheLoaderHandsOnEachSidesNewestPictureFromAThreadOfItsOwn) {
    ScratchDir dir;
    const Bitmap picture = test::MakePatternBitmap(64, 48, 24);
    test::WriteAll(dir / "a.bmp",
                   test::EncodeToBytes([&](std::FILE* f) { return EncodeBmp(picture, f); }));
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<ListSide, std::uint64_t>> delivered;
    bool onLoaderThread = true;
    const std::thread::id windowThread = std::this_thread::get_id();
    PreviewLoader loader([&](ListSide side, std::uint64_t request, PreviewPicture shown) {
        std::lock_guard lock(mutex);
        onLoaderThread = onLoaderThread && std::this_thread::get_id() != windowThread;
        if (shown.width == 64) delivered.emplace_back(side, request);
        arrived.notify_all();
    });
    const std::string path = (dir / "a.bmp").string();
    std::uint64_t last = 0;
    for (int i = 0; i < 20; ++i) last = loader.Request(ListSide::Source, path, 10, 10);
    const std::uint64_t target = loader.Request(ListSide::Target, path, 10, 10);
    EXPECT_EQ(loader.Newest(ListSide::Source), last);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(20), [&] {
        return std::count(delivered.begin(), delivered.end(), std::pair{ListSide::Source, last}) +
                   std::count(delivered.begin(), delivered.end(),
                              std::pair{ListSide::Target, target}) ==
               2;
    }));
    EXPECT_TRUE(onLoaderThread);
    // Once a newer request is made, an older one is never handed on after it.
    std::uint64_t newestSource = 0;
    for (const auto& [side, request] : delivered) {
        if (side != ListSide::Source) continue;
        EXPECT_GT(request, newestSource);
        newestSource = request;
    }
}

// An icon file of one picture: the directory, its entry and the picture's bytes.
std::vector<std::uint8_t> IconFile(const std::vector<std::uint8_t>& picture) {
    std::vector<std::uint8_t> file(22);
    StoreLe16(file.data() + 2, 1);
    StoreLe16(file.data() + 4, 1);
    StoreLe32(file.data() + 6 + 8, static_cast<std::uint32_t>(picture.size()));
    StoreLe32(file.data() + 6 + 12, 22);
    file.insert(file.end(), picture.begin(), picture.end());
    return file;
}

TEST(ListPreview, IconsShowTheirFirstPicture) {
    // A 2 x 2 picture of 24 bits stored bottom-up at twice its height, the mask rows after it.
    std::vector<std::uint8_t> dib(40);
    StoreLe32(dib.data(), 40);
    StoreLe32(dib.data() + 4, 2);
    StoreLe32(dib.data() + 8, 4);
    StoreLe16(dib.data() + 12, 1);
    StoreLe16(dib.data() + 14, 24);
    const std::vector<std::uint8_t> bottomRow = {255, 0, 0, 0, 255, 0, 0, 0};  // blue, green
    const std::vector<std::uint8_t> topRow = {0, 0, 255, 9, 9, 9, 0, 0};       // red, grey
    dib.insert(dib.end(), bottomRow.begin(), bottomRow.end());
    dib.insert(dib.end(), topRow.begin(), topRow.end());
    dib.insert(dib.end(), 8, 0xFF);  // the mask: everything transparent, left out
    Bitmap fromDib;
    ASSERT_TRUE(DecodeIconPicture(IconFile(dib), fromDib));
    ASSERT_EQ(std::make_pair(fromDib.Width(), fromDib.Height()), std::make_pair(2, 2));
    EXPECT_EQ(fromDib.PixelAt(0, 0), (RgbQuad{0, 0, 255, 0}));
    EXPECT_EQ(fromDib.PixelAt(1, 0), (RgbQuad{9, 9, 9, 0}));
    EXPECT_EQ(fromDib.PixelAt(0, 1), (RgbQuad{255, 0, 0, 0}));

    const Bitmap pattern = test::MakePatternBitmap(3, 5, 24);
    Bitmap fromPng;
    std::string why;
    ASSERT_TRUE(DecodeIconPicture(
        IconFile(test::EncodeToBytes([&](std::FILE* f) { return EncodePng(pattern, f, 1); })),
        fromPng, &why))
        << why;
    EXPECT_EQ(test::CountDifferences(test::ToRgb(fromPng), test::ToRgb(pattern)), 0);

    // Damage never reads past the file: refused, and the preview panel goes.
    std::vector<std::uint8_t> pastTheEnd = IconFile(dib);
    StoreLe32(pastTheEnd.data() + 6 + 12, 4000);
    std::vector<std::uint8_t> shortRows = IconFile(dib);
    shortRows.resize(22 + 40 + 4);
    std::vector<std::uint8_t> cursor = IconFile(dib);
    cursor[2] = 2;
    ScratchDir dir;
    for (const auto& bad : {pastTheEnd, shortRows, cursor, std::vector<std::uint8_t>(21)}) {
        Bitmap out;
        std::string reason;
        EXPECT_FALSE(DecodeIconPicture(bad, out, &reason));
        EXPECT_FALSE(reason.empty());
        test::WriteAll(dir / "bad.ico", bad);
        EXPECT_TRUE(LoadPreviewPicture((dir / "bad.ico").string(), 50, 50).hidePanel);
    }
    test::WriteAll(dir / "good.ico", IconFile(dib));
    const PreviewPicture icon = LoadPreviewPicture((dir / "good.ico").string(), 50, 50);
    EXPECT_FALSE(icon.hidePanel);
    EXPECT_EQ(std::make_pair(icon.width, icon.height), std::make_pair(2, 2));
}

}  // namespace
}  // namespace ozm
