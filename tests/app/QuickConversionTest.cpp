// The quick-conversion menu's logic behind a fake menu view: state transitions, every command,
// and the worker with real files, a real thread and the bridge run on the test's thread.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/RecordingFeedback.h"
#include "app/convert/ProfileFile.h"
#include "app/convert/ResizeControls.h"
#include "app/convert/RotationSettings.h"
#include "app/convert/SettingsModel.h"
#include "app/convert/SettingsStore.h"
#include "app/shell/QuickConversion.h"
#include "core/formats/ImgConvertUnit.h"
#include "platform/DesktopWallpaper.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace ozm {
namespace {

class NoWallpaper : public DesktopWallpaper {
  public:
    bool Apply(const fs::path&, WallpaperPlacement) override { return true; }
};

// The menu view and windows as the logic sees them; answers are set by the test.
class FakeMenuView : public QuickMenuHost {
  public:
    explicit FakeMenuView(QuickConversion*& logic) : logic_(logic) {}

    void ShowMessage(const std::string& text) override {
        messages.push_back(text);
        handledAtMessage.push_back(logic_->CommandHandled());
    }
    std::string ChooseFolder(const std::string& prompt, const std::string& start) override {
        chooserPrompt = prompt;
        chooserStart = start;
        return chooserAnswer;
    }
    ScreenPoint PointerPosition() override { return pointer; }
    void OpenMenuAt(ScreenPoint point) override { openedAt.push_back(point); }
    void MenuStateChanged() override { ++stateChanges; }
    void StartAutoCloseTimer() override { ++timerStarts; }
    bool MainWindowOnScreen() override { return onScreen; }
    void HideMainWindow() override { ++hidden; }
    void ShowMainWindow(bool atTopZero) override {
        if (atTopZero) onScreen = true;
    }
    void SetSourceFolder(const std::string& folder) override { sourceFolder = folder; }
    void EndProgram() override { ++ended; }
    std::string ChooseFavouriteFolder() override {
        favouriteAskedOnUiThread = std::this_thread::get_id() == uiThread;
        ++favouriteAsked;
        return favouriteAnswer;
    }
    std::string FirstRemovableVolume() override { return removable; }
    void OpenFolder(const std::string& folder) override { opened.push_back(folder); }
    void PrepareProgressWindow() override { progressMade = true; }
    void CloseProgressWindow() override { ++progressClosed; }
    void SetProgressAutoClose(bool autoClose) override { progressAutoClose = autoClose; }
    void SetProgressText(const std::string& text) override { texts.push_back(text); }
    void SetProgressTarget(const std::string& folder) override { target = folder; }
    void ShowProgressWindow() override { ++progressShown; }
    bool CopyToClipboard(const Bitmap& bitmap) override {
        copied = {bitmap.Width(), bitmap.Height()};
        return clipboardTaken;
    }
    ScreenSize ScreenPixels() override { return {1280, 1024}; }
    DesktopWallpaper& WallpaperSetter() override { return wallpaper; }

    QuickConversion*& logic_;
    std::thread::id uiThread = std::this_thread::get_id();
    ScreenPoint pointer{400, 300};
    std::vector<ScreenPoint> openedAt;
    std::vector<std::string> messages;
    std::vector<bool> handledAtMessage;
    std::vector<std::string> texts;
    std::vector<std::string> opened;
    std::string chooserAnswer, chooserPrompt, chooserStart, favouriteAnswer, removable;
    std::string sourceFolder, target;
    bool onScreen = false, progressMade = false, progressAutoClose = false;
    bool favouriteAskedOnUiThread = false, clipboardTaken = true;
    int stateChanges = 0, timerStarts = 0, hidden = 0, ended = 0, favouriteAsked = 0;
    int progressClosed = 0, progressShown = 0;
    ScreenSize copied;
    NoWallpaper wallpaper;
};

class QuickConversionTest : public ::testing::Test {
  protected:
    QuickConversionTest()
        : profile_(dir_ / "defualt.ini"),
          resize_(model_, profile_, feedback_),
          rotation_(model_, profile_, feedback_),
          view_(logicPointer_) {
        fs::create_directories(dir_ / "pics");
        model_.autoShowTargetFolder = false;
    }

    QuickConversion& Logic() {
        if (!logic_) {
            logic_ = std::make_unique<QuickConversion>(
                view_, model_, profile_, resize_, rotation_, [this](UserDir d) -> fs::path {
                    return dir_ / (d == UserDir::Desktop     ? "Desktop"
                                   : d == UserDir::Documents ? "Documents"
                                                             : "Pictures");
                });
            logicPointer_ = logic_.get();
        }
        return *logic_;
    }

    std::string Picture(const std::string& name, int width = 40, int height = 30) {
        const fs::path path = dir_ / "pics" / name;
        const ImageFormatCode code = name.ends_with(".bmp") ? FormatCode::Bmp : FormatCode::Jpg;
        EXPECT_TRUE(WriteImageFile(test::MakePatternBitmap(width, height, 24), path, code));
        return path.string();
    }

    // Starts with the files and opens the menu once, as the view does.
    void Start(std::vector<std::string> files) {
        Logic().QuickStart(std::move(files));
        Logic().MenuLoopEntered();
    }

    // The menu closes before the picked entry's command runs.
    void Close() { Logic().MenuClosed(); }

    std::string Folder(const std::string& name) { return (dir_ / name).string() + "/"; }

    static std::pair<int, int> Dimensions(const fs::path& file) {
        Bitmap bitmap;
        if (!ReadImageFile(file, bitmap)) return {0, 0};
        return {bitmap.Width(), bitmap.Height()};
    }

    test::ScratchDir dir_;
    SettingsModel model_;
    ProfileFile profile_;
    test::RecordingFeedback feedback_;
    ResizeControls resize_;
    RotationSettings rotation_;
    QuickConversion* logicPointer_ = nullptr;
    FakeMenuView view_;
    std::unique_ptr<QuickConversion> logic_;
};

TEST_F(QuickConversionTest, MenuLoopTimerAndSubmenusSetTheState) {
    Start({Picture("a.jpg")});
    EXPECT_EQ(Logic().MenuAnchor(), (ScreenPoint{400, 300}));
    ASSERT_EQ(view_.openedAt.size(), 1u);
    EXPECT_EQ(view_.openedAt[0], (ScreenPoint{400, 300}));
    EXPECT_EQ(view_.progressClosed, 1);  // one left from before is closed
    EXPECT_TRUE(view_.progressMade);
    EXPECT_TRUE(Logic().CommandHandled());

    // Esc: the menu closes without a command; the timer's tick ends the program.
    Close();
    EXPECT_FALSE(Logic().CommandHandled());
    EXPECT_EQ(view_.timerStarts, 1);
    Logic().TimerAutoCloseTimer();
    EXPECT_EQ(view_.ended, 1);
}

TEST_F(QuickConversionTest, SubmenuOpeningsAndReopenPlaces) {
    model_.lastUsedFormat = 99;  // a stored value outside the formats reads as JPG
    Start({Picture("a.jpg")});
    Logic().SubmenuOpened(QuickSubmenu::ZoomAndConvert);
    EXPECT_TRUE(Logic().ConvertOnPick());
    EXPECT_FALSE(Logic().ReopenAtAnchor());
    Logic().SubmenuOpened(QuickSubmenu::Format, FormatCode::Gif);
    EXPECT_EQ(Logic().QuickFormatCode(), FormatCode::Gif);
    EXPECT_TRUE(Logic().ConvertOnPick());  // only JPG and PNG clear it
    Logic().SubmenuOpened(QuickSubmenu::Format, FormatCode::Png);
    EXPECT_FALSE(Logic().ConvertOnPick());
    EXPECT_TRUE(Logic().ReopenAtAnchor());
    Logic().SubmenuOpened(QuickSubmenu::RotateAndConvert);
    EXPECT_TRUE(Logic().ConvertOnPick());
    EXPECT_EQ(Logic().QuickFormatCode(), FormatCode::Jpg);
    Logic().SubmenuOpened(QuickSubmenu::Rotate);
    EXPECT_FALSE(Logic().ConvertOnPick());
    Logic().SubmenuOpened(QuickSubmenu::Zoom);
    EXPECT_TRUE(Logic().ReopenAtAnchor());

    // Not at the anchor: at the pointer less (100, 30), which becomes the anchor.
    Logic().SubmenuOpened(QuickSubmenu::ZoomAndConvert);
    view_.pointer = {700, 500};
    Logic().Reopen();
    EXPECT_EQ(view_.openedAt.back(), (ScreenPoint{600, 470}));
    EXPECT_EQ(Logic().MenuAnchor(), (ScreenPoint{600, 470}));
}

TEST_F(QuickConversionTest, JpegQualityChangesCaptionStoresAndReopensInPlace) {
    Start({Picture("a.jpg")});
    view_.pointer = {900, 900};  // the pointer moved while the menu was open
    Logic().SubmenuOpened(QuickSubmenu::Format, FormatCode::Jpg);
    Close();
    Logic().PickJpegQuality(50);
    Logic().PickJpegQuality(75);
    EXPECT_TRUE(Logic().CommandHandled());
    EXPECT_EQ(Logic().JpgCaption(), "转换为JPG图片, 75%");
    EXPECT_EQ(Logic().JpegQualityMark(), 75);
    EXPECT_EQ(profile_.ReadInteger("ImgConvert", "MnJPGQualityTag", 0), 75);
    EXPECT_EQ(profile_.ReadInteger("default", "LastUseImageTypeTag", 0), 1);
    EXPECT_EQ(view_.openedAt.back(), (ScreenPoint{400, 300}));
    Logic().TimerAutoCloseTimer();
    EXPECT_EQ(view_.ended, 0);
}

TEST_F(QuickConversionTest, PngToDesktopNumbersATakenNameAndRecordsTheRun) {
    const std::string a = Picture("a.jpg"), b = Picture("b.bmp");
    fs::create_directories(dir_ / "Desktop");
    test::WriteAll(dir_ / "Desktop" / "a.png", {'x'});
    model_.autoShowTargetFolder = true;
    Start({a, b});
    // The GIF submenu was opened last, but the entry sits in the PNG submenu.
    Logic().SubmenuOpened(QuickSubmenu::Format, FormatCode::Gif);
    Close();
    Logic().PickDestination(FormatCode::Png, destination::Desktop);
    EXPECT_EQ(view_.progressShown, 1);
    Logic().WaitForWorker();

    EXPECT_EQ(Dimensions(dir_ / "Desktop" / "a(1).png"), std::make_pair(40, 30));
    EXPECT_EQ(Dimensions(dir_ / "Desktop" / "b.png"), std::make_pair(40, 30));
    EXPECT_FALSE(fs::exists(dir_ / "Desktop" / "a.gif"));
    EXPECT_EQ(test::ReadAll(dir_ / "Desktop" / "a.png").size(), 1u);
    const std::vector<std::string> texts = {
        "Converting Images ,Please waiting...",
        "正在转换图片，请稍候: " + a + " ,Please waiting...",
        "正在转换图片，请稍候: " + b + " ,Please waiting...",
        "已完成所有图片转换",
    };
    EXPECT_EQ(view_.texts, texts);
    EXPECT_EQ(view_.target, Folder("Desktop"));
    ASSERT_GE(model_.recentFolders.Items().size(), 2u);
    EXPECT_EQ(model_.recentFolders.Items()[0], Folder("Desktop"));
    EXPECT_EQ(model_.recentFolders.Items()[1], Folder("pics"));
    EXPECT_EQ(profile_.ReadInteger("default", "LastUseImageTypeTag", 0), 2);
    EXPECT_EQ(view_.opened, std::vector<std::string>{Folder("Desktop")});
    EXPECT_TRUE(Logic().Progress().done);

    // The progress window closes: the program ends, once.
    Logic().ProgressWindowClosed();
    EXPECT_EQ(view_.ended, 1);
}

TEST_F(QuickConversionTest, ZoomInEachTwinAndTheCurrentFolderOpensNoFolder) {
    const std::string a = Picture("a.jpg", 80, 60), b = Picture("b.bmp", 40, 20);
    model_.lastUsedFormat = FormatCode::Bmp;
    model_.autoShowTargetFolder = true;
    Start({a, b});
    // "设置缩放比例": only stored, the menu reopens.
    Logic().SubmenuOpened(QuickSubmenu::Zoom);
    Close();
    Logic().PickZoom(50, false);
    EXPECT_EQ(view_.openedAt.size(), 2u);
    EXPECT_EQ(view_.progressShown, 0);
    EXPECT_EQ(model_.zoomMenuCheckedTag, 50);
    EXPECT_EQ(model_.resizeMode, 2);
    EXPECT_EQ(profile_.ReadInteger("ImgConvert", "MnZoomNumTag", 0), 50);

    // "设置缩放比例并转换": all files at half size into their own folder, as BMP.
    Logic().MenuLoopEntered();
    Logic().SubmenuOpened(QuickSubmenu::ZoomAndConvert);
    Close();
    Logic().PickZoom(50, true);
    EXPECT_EQ(Logic().QuickDestination(), destination::CurrentFolder);
    Logic().WaitForWorker();
    EXPECT_EQ(Dimensions(dir_ / "pics" / "a.bmp"), std::make_pair(40, 30));
    EXPECT_EQ(Dimensions(dir_ / "pics" / "b(1).bmp"), std::make_pair(20, 10));
    EXPECT_TRUE(view_.opened.empty());  // the target is the files' own folder
}

TEST_F(QuickConversionTest, AnUnreadableFileInTheMiddleIsCountedAndTheOthersConverted) {
    const std::string a = Picture("a.jpg"), b = Picture("b.bmp");
    const std::string bad = (dir_ / "pics" / "bad.png").string();
    test::WriteAll(bad, {'n', 'o', 't'});
    Start({a, bad, b});
    fs::create_directories(dir_ / "out");
    Close();
    Logic().PickRecentFolder(FormatCode::Gif, Folder("out"));
    Logic().WaitForWorker();
    EXPECT_TRUE(fs::exists(dir_ / "out" / "a.gif"));
    EXPECT_TRUE(fs::exists(dir_ / "out" / "b.gif"));
    EXPECT_FALSE(fs::exists(dir_ / "out" / "bad.gif"));
    EXPECT_EQ(view_.texts.back(), "已完成所有图片转换（成功 2 个，失败 1 个）");
    EXPECT_EQ(Logic().ChosenFolder(), Folder("out"));
    EXPECT_EQ(view_.ended, 0);  // not before the progress window closes
}

TEST_F(QuickConversionTest, NoRemovableVolumeIsHandledBeforeTheMessageAndReopens) {
    Start({Picture("a.jpg")});
    Close();
    Logic().PickDestination(FormatCode::Tiff, destination::Removable);
    ASSERT_EQ(view_.messages, std::vector<std::string>{"请插入可移动磁盘。"});
    EXPECT_EQ(view_.handledAtMessage, std::vector<bool>{true});
    EXPECT_EQ(view_.openedAt.size(), 2u);
    EXPECT_EQ(view_.progressShown, 0);

    // With a volume, its mount point is the target.
    fs::create_directories(dir_ / "usb");
    view_.removable = (dir_ / "usb").string();
    Logic().PickDestination(FormatCode::Tiff, destination::Removable);
    Logic().WaitForWorker();
    EXPECT_TRUE(fs::exists(dir_ / "usb" / "a.tif"));
    EXPECT_EQ(Logic().RemovableDrive(), view_.removable);
}

TEST_F(QuickConversionTest, CancelledChooserEndsWithoutAConversion) {
    const std::string a = Picture("a.jpg");
    Start({a});
    Close();
    Logic().PickChooseFolder(FormatCode::Png);
    EXPECT_EQ(view_.chooserPrompt, Folder("pics"));
    EXPECT_EQ(view_.chooserStart, Folder("pics"));
    EXPECT_EQ(view_.hidden, 1);
    EXPECT_EQ(view_.ended, 1);
    EXPECT_EQ(view_.progressShown, 0);
}

TEST_F(QuickConversionTest, ChosenFolderIsTheTarget) {
    const std::string a = Picture("a.jpg");
    fs::create_directories(dir_ / "chosen");
    view_.chooserAnswer = (dir_ / "chosen").string();
    Start({a});
    Close();
    Logic().PickDestination(FormatCode::Jpeg, destination::ChosenFolder);
    Logic().WaitForWorker();
    EXPECT_TRUE(fs::exists(dir_ / "chosen" / "a.jpeg"));
    EXPECT_EQ(Logic().QuickDestination(), destination::ChosenFolder);
    EXPECT_EQ(view_.ended, 0);
}

TEST_F(QuickConversionTest, EmptyFavouriteIsAskedForThenDocuments) {
    Start({Picture("a.jpg")});
    Close();
    Logic().PickDestination(FormatCode::Emf, destination::Favourite);
    Logic().WaitForWorker();
    EXPECT_EQ(view_.favouriteAsked, 1);
    EXPECT_TRUE(view_.favouriteAskedOnUiThread);
    EXPECT_TRUE(fs::exists(dir_ / "Documents" / "a.emf"));
}

TEST_F(QuickConversionTest, ClosingTheProgressWindowStopsWaitsAndLeavesOnlyWholeFiles) {
    std::vector<std::string> files;
    const std::string big = Picture("big.jpg", 1200, 900);
    for (int i = 0; i < 12; ++i) {
        const fs::path copy = dir_ / "pics" / ("p" + std::to_string(i) + ".jpg");
        fs::copy_file(big, copy);
        files.push_back(copy.string());
    }
    fs::create_directories(dir_ / "out");
    Start(files);
    Close();
    Logic().PickRecentFolder(FormatCode::Png, Folder("out"));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Logic().ProgressWindowClosed();
    EXPECT_FALSE(Logic().WorkerRunning());
    EXPECT_EQ(view_.ended, 1);
    EXPECT_TRUE(Logic().LastCounts().stopped);
    int written = 0;
    for (const auto& entry : fs::directory_iterator(dir_ / "out")) {
        EXPECT_EQ(entry.path().extension(), ".png") << entry.path();
        EXPECT_EQ(Dimensions(entry.path()), std::make_pair(1200, 900)) << entry.path();
        ++written;
    }
    EXPECT_LT(written, 12);
    // Stopped runs record nothing and open nothing.
    EXPECT_TRUE(view_.opened.empty());
}

TEST_F(QuickConversionTest, AngleChecksAndPresetsStoreTheirKeys) {
    const std::string a = Picture("a.jpg", 40, 30);
    model_.lastUsedFormat = FormatCode::Png;
    Start({a});
    Close();
    Logic().PickAngle(315, false);
    EXPECT_EQ(model_.rotateMenuCheckedTag, 315);
    EXPECT_EQ(profile_.ReadInteger("ImgConvert", "EdtRoateRate1", 0), 315);
    EXPECT_EQ(view_.progressShown, 0);

    Logic().PickAutoClose(true);
    EXPECT_TRUE(view_.progressAutoClose);
    EXPECT_TRUE(profile_.ReadBool("ImgConvert", "CbAutoClose", false));
    Logic().ProgressAutoCloseClicked(false);
    EXPECT_FALSE(Logic().AutoCloseMark());
    Logic().PickOpenTarget(false);
    EXPECT_FALSE(profile_.ReadBool("ImgConvert", "AutoShowTargetFolder1", true));
    EXPECT_EQ(view_.openedAt.size(), 4u);

    // From the "并转换" twin: 90 degrees, in the last used format, into the own folder; the
    // run's start reads the stored box.
    profile_.WriteBool("ImgConvert", "CbAutoClose", true);
    Logic().PickAngle(90, true);
    EXPECT_TRUE(view_.progressAutoClose);
    Logic().WaitForWorker();
    EXPECT_EQ(Dimensions(dir_ / "pics" / "a.png"), std::make_pair(30, 40));
}

TEST_F(QuickConversionTest, RecentEntriesCustomConversionClipboardAndWallpaper) {
    model_.recentFolders.AddRecentFolder("/x/b/");
    model_.recentFolders.AddRecentFolder("/x/a/");
    auto entries = Logic().RecentEntries();
    EXPECT_TRUE(entries[0].visible);
    EXPECT_EQ(entries[0].caption, "(&1) /x/a/");
    EXPECT_EQ(entries[1].caption, "(&2) /x/b/");
    EXPECT_EQ(entries[1].folder, "/x/b/");
    EXPECT_FALSE(entries[2].visible);

    const std::string a = Picture("a.jpg", 33, 22), b = Picture("b.bmp");
    Start({a, b});
    Close();
    Logic().PickCustomConversion();
    EXPECT_EQ(view_.sourceFolder, Folder("pics"));
    EXPECT_TRUE(view_.onScreen);
    EXPECT_EQ(view_.openedAt.size(), 2u);
    Close();
    Logic().TimerAutoCloseTimer();
    EXPECT_EQ(view_.ended, 0);  // the main window is on screen now
    view_.onScreen = false;

    // Only the first file goes to the clipboard; holding it keeps the program.
    Logic().PickClipboard();
    EXPECT_EQ(view_.copied.width, 33);
    EXPECT_EQ(view_.ended, 0);
}

TEST_F(QuickConversionTest, ClipboardAndWallpaperFailuresEndAfterTheirMessage) {
    const std::string bad = (dir_ / "pics" / "bad.gif").string();
    test::WriteAll(bad, {'G', 'I'});
    Start({bad});
    Close();
    Logic().PickClipboard();
    EXPECT_EQ(view_.messages, std::vector<std::string>{"很抱歉，本软件暂时不支持此图片格式。"});
    EXPECT_EQ(view_.copied.width, 0);
    EXPECT_EQ(view_.ended, 1);

    logic_.reset();
    view_.messages.clear();
    Start({(dir_ / "pics" / "a.tiff").string()});
    Logic().PickWallpaper(0);
    EXPECT_EQ(view_.messages, std::vector<std::string>{"No support image type."});
    EXPECT_EQ(view_.ended, 2);
}

}  // namespace
}  // namespace ozm

namespace ozm {
namespace {

// A quick process whose main window never came on screen stores what its menu changed and
// nothing of the window it never showed; the recent folders merge with another process's.
TEST(QuickSettingsTest, OnlyTheMenusKeysAreStoredAndRecentFoldersMerge) {
    test::ScratchDir dir;
    test::WriteAll(dir / "defualt.ini",
                   {'[', 'I', 'm', 'g', 'C', 'o', 'n', 'v', 'e', 'r', 't', ']', '\n', 'L',
                    'b', 'D', 'o', 'c', 'L', 'i', 's', 't', 'I', 'n', 'd', '=', '5',  '\n'});
    SettingsStore store(dir.Path());
    SettingsModel model;
    test::RecordingFeedback feedback;
    store.LoadSettings(model, feedback);

    // Meanwhile an open main window stores its tool bar and a recent folder.
    {
        ProfileFile other(dir / "defualt.ini");
        other.WriteInteger("ImgConvert", "SbToollBarWidth", 300);
        RecentFolders recent;
        recent.Load(dir / "HistoryPaths.txt");
        recent.AddRecentFolder("/window/");
        ASSERT_TRUE(recent.Save(dir / "HistoryPaths.txt").Ok());
    }
    model.edtZoomPei = "50";
    model.lastUsedFormat = 2;
    model.recentFolders.AddRecentFolder("/quick/");
    ASSERT_TRUE(store.SaveQuickSettings(model).Ok());

    ProfileFile after(dir / "defualt.ini");
    EXPECT_EQ(after.ReadInteger("ImgConvert", "SbToollBarWidth", 0), 300);
    EXPECT_EQ(after.ReadInteger("ImgConvert", "LbDocListInd", 0), 5);
    EXPECT_EQ(after.ReadString("default", "EdtZoomPei", ""), "50");
    EXPECT_EQ(after.ReadInteger("default", "LastUseImageTypeTag", 0), 2);
    EXPECT_EQ(after.ReadString("default", "SourcePath", "none"), "none");
    RecentFolders merged;
    merged.Load(dir / "HistoryPaths.txt");
    EXPECT_EQ(merged.Items(), (std::vector<std::string>{"/quick/", "/window/"}));
}

}  // namespace
}  // namespace ozm
