#pragma once
// The quick conversion: the pop-up menu PmRightMouse that opens at the pointer when the
// program is started with files from the file manager, every command of it, and the worker
// that converts the files to the picked format and folder behind the progress window. The
// menu itself is a thin view: it shows the tables and the state kept here and forwards its
// events; everything it must do on screen is asked through QuickMenuHost.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/convert/ConversionOptions.h"
#include "app/convert/HostRoles.h"
#include "app/convert/ProfileFile.h"
#include "app/convert/ResizeControls.h"
#include "app/convert/RotationSettings.h"
#include "app/convert/SettingsModel.h"
#include "app/convert/UiBridge.h"
#include "app/convert/Worker.h"
#include "core/bitmap/Bitmap.h"
#include "platform/SpecialFolders.h"

namespace ozm {

class DesktopWallpaper;

struct ScreenPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

struct ScreenSize {
    int width = 0;
    int height = 0;
};

// Destination codes, the tags of the destination entries.
namespace destination {
inline constexpr int CurrentFolder = 0;
inline constexpr int ChosenFolder = 1000;
inline constexpr int MyDocuments = 10002;
inline constexpr int Desktop = 10003;
inline constexpr int MyPictures = 10004;
inline constexpr int FavouriteSetting = 10005;
inline constexpr int Favourite = 10006;
inline constexpr int Removable = 10007;
inline constexpr int RecentFolders = -1;  // the submenu, no tag of its own
}  // namespace destination

struct QuickFormatMenu {
    ImageFormatCode code;         // the submenu's tag
    std::string_view caption;     // the JPG caption is replaced by the quality's
    std::string_view objectName;  // the view's name for it
    bool underOtherFormats;       // under "转换为其他图片格式"
};

// The format submenus in menu order: the format table's rows with a quick menu place.
inline constexpr auto kQuickFormatMenus = [] {
    constexpr auto place = [](const ImageFormat& f) { return f.quick.place; };
    constexpr auto rows = RowsByPlace<CountPlaced(place)>(place);
    std::array<QuickFormatMenu, rows.size()> menus{};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QuickMenuPlace& quick = rows[i]->quick;
        menus[i] = {rows[i]->code, quick.caption, quick.objectName, quick.underOtherFormats};
    }
    return menus;
}();

struct QuickDestinationEntry {
    std::string_view caption;
    int code;              // destination code; RecentFolders for the submenu
    bool separatorBefore;  // a separator line comes before the entry
};

// Every format submenu lists these, in this order. The removable disk is "可移动硬盘" in all
// of them: the entry writes to the removable disk wherever it is.
inline constexpr std::array<QuickDestinationEntry, 9> kQuickDestinations = {{
    {"当前路径", destination::CurrentFolder, false},
    {"我的文档(&D)", destination::MyDocuments, false},
    {"我的图片收藏(&P)", destination::MyPictures, false},
    {"我的桌面(&T)", destination::Desktop, false},
    {"选择目标文件夹", destination::ChosenFolder, true},
    {"可移动硬盘", destination::Removable, false},
    {"我的收藏夹", destination::Favourite, true},
    {"收藏夹设置", destination::FavouriteSetting, false},
    {"最近使用过的路径", destination::RecentFolders, false},
}};

struct JpegQualityPreset {
    std::int32_t quality;  // the entry's tag
    std::string_view caption;
};

inline constexpr std::array<JpegQualityPreset, 5> kJpegQualityPresets = {{
    {100, "最佳质量 (100%)"},
    {75, "好质量(75%)"},
    {50, "普通质量(50%)"},
    {25, "平均质量(25%)"},
    {10, "简单质量(10%)"},
}};

namespace quicktext {
inline constexpr std::string_view JpgCaptionPrefix = "转换为JPG图片, ";
inline constexpr std::string_view JpgQuality = "JPG质量";
inline constexpr std::string_view OtherFormats = "转换为其他图片格式";
inline constexpr std::string_view Zoom = "设置缩放比例";
inline constexpr std::string_view ZoomAndConvert = "设置缩放比例并转换";
inline constexpr std::string_view Rotate = "设置旋转角度";
inline constexpr std::string_view RotateAndConvert = "设置旋转角度并转换";
inline constexpr std::string_view CustomConversion = "自定义图片转换";
inline constexpr std::string_view Clipboard = "拷贝到剪贴板";
inline constexpr std::string_view Wallpaper = "设置为墙纸";
inline constexpr std::string_view AutoClose = "转换后自动关闭进度条";
inline constexpr std::string_view OpenTarget = "转换后打开目标文件夹";
inline constexpr std::string_view RecentCaptionFormat = "(&%d) %s";
inline constexpr std::string_view InsertRemovable = "请插入可移动磁盘。";
inline constexpr std::string_view ClipboardUnsupported = "很抱歉，本软件暂时不支持此图片格式。";
inline constexpr std::string_view ProgressStart = "Converting Images ,Please waiting...";
inline constexpr std::string_view ProgressFilePrefix = "正在转换图片，请稍候: ";
inline constexpr std::string_view ProgressFileSuffix = " ,Please waiting...";
inline constexpr std::string_view ProgressDone = "已完成所有图片转换";
}  // namespace quicktext

// The submenus whose opening changes the state.
enum class QuickSubmenu { Format, Zoom, ZoomAndConvert, Rotate, RotateAndConvert, Recent };

// The two Booleans the progress window shares with the worker: each written by one thread and
// read by the other.
struct ProgressFlags {
    std::atomic<bool> done{false};           // ProgressDone
    std::atomic<bool> stopRequested{false};  // ProgressStopRequested
};

// One child of "最近使用过的路径": hidden when blank; the folder is the entry's data, so the
// caption's number prefix never has to be cut off again.
struct RecentEntry {
    bool visible = false;
    std::string caption;
    std::string folder;
};

struct QuickRunCounts {
    int converted = 0;
    int failed = 0;
    bool stopped = false;
};

// What the quick conversion asks of its windows. Every call comes on the window's thread.
class QuickMenuHost : public virtual MessageRole, public virtual FolderChooserRole {
  public:
    virtual ScreenPoint PointerPosition() = 0;
    // Opens PmRightMouse at the point; returns at once (the menu runs in the event loop).
    virtual void OpenMenuAt(ScreenPoint point) = 0;
    // Captions, marks or the recent entries changed: the view shows them again.
    virtual void MenuStateChanged() = 0;
    // TimerAutoClose, 2000 ms, once.
    virtual void StartAutoCloseTimer() = 0;
    // The main window is visible and not off-screen.
    virtual bool MainWindowOnScreen() = 0;
    virtual void HideMainWindow() = 0;
    // Shows the main window; on screen at top 0 with `atTopZero`, else it stays off-screen.
    virtual void ShowMainWindow(bool atTopZero) = 0;
    virtual void SetSourceFolder(const std::string& folder) = 0;
    // Closes the main window, which ends the program.
    virtual void EndProgram() = 0;
    // Lets the user pick FavouriteFolder (stored); the folder, or empty when none was picked.
    virtual std::string ChooseFavouriteFolder() = 0;
    // The first removable volume's mount point; empty when there is none.
    virtual std::string FirstRemovableVolume() = 0;
    // A folder in the file manager.
    virtual void OpenFolder(const std::string& folder) = 0;

    // The progress window: made when missing (also whenever the menu opens), closed when left
    // from before, its box "图片转换后自动关闭此窗体", its text and target folder, and shown
    // modally; the host calls QuickConversion::ProgressWindowClosed when it has closed.
    virtual void PrepareProgressWindow() = 0;
    virtual void CloseProgressWindow() = 0;
    virtual void SetProgressAutoClose(bool autoClose) = 0;
    virtual void SetProgressText(const std::string& text) = 0;
    virtual void SetProgressTarget(const std::string& folder) = 0;
    virtual void ShowProgressWindow() = 0;

    // Puts the image on the clipboard. True when the clipboard holds it; the host then keeps
    // the program running while it owns the clipboard and ends it when another program takes it.
    virtual bool CopyToClipboard(const Bitmap& bitmap) = 0;
    virtual ScreenSize ScreenPixels() = 0;
    virtual DesktopWallpaper& WallpaperSetter() = 0;
};

class QuickConversion {
  public:
    // `resize` and `rotation` work on `model` and `profile`; `userDirs` gives the special
    // folders (the XDG user folders by default).
    QuickConversion(QuickMenuHost& host, SettingsModel& model, ProfileFile& profile,
                    ResizeControls& resize, RotationSettings& rotation,
                    std::function<std::filesystem::path(UserDir)> userDirs = UserDirPath);
    // Stops a running worker at its next stop test and waits for it.
    ~QuickConversion();
    QuickConversion(const QuickConversion&) = delete;
    QuickConversion& operator=(const QuickConversion&) = delete;

    // The bridge the worker reaches the window's thread through; the view sets its wake-up.
    UiBridge& Bridge() { return bridge_; }
    ProgressFlags& Progress() { return progress_; }

    // Quick start: closes a progress window left from before, anchors the menu at the pointer
    // and opens it there.
    void QuickStart(std::vector<std::string> commandLineFiles);
    // Opens the menu at MenuAnchor, or at pointer - (100, 30), which becomes the anchor.
    void Reopen();

    // The menu's notifications: the top menu opens (the loop is entered) and closes.
    void MenuLoopEntered();
    void MenuClosed();
    void TimerAutoCloseTimer();
    void SubmenuOpened(QuickSubmenu submenu, ImageFormatCode formatCode = 0);

    // Commands. `formatCode` is the tag of the format submenu holding the picked entry.
    void PickDestination(ImageFormatCode formatCode, int destinationCode);
    void PickChooseFolder(ImageFormatCode formatCode);
    void PickRecentFolder(ImageFormatCode formatCode, const std::string& folder);
    void PickFavouriteSetting();
    void PickJpegQuality(std::int32_t quality);
    void PickZoom(std::int32_t percent, bool fromConvertSubmenu);
    void PickAngle(std::int32_t degrees, bool fromConvertSubmenu);
    void PickAutoClose(bool marked);
    void PickOpenTarget(bool marked);
    void PickCustomConversion();
    void PickClipboard();
    void PickWallpaper(int placement);

    // The progress window's box was clicked: stored, and the menu's check item follows.
    void ProgressAutoCloseClicked(bool checked);
    // The progress window has closed: the worker stops at its next test and is waited for,
    // then the program ends.
    void ProgressWindowClosed();
    // A termination signal: the same as closing the progress window; without a run the
    // program ends at once.
    void Terminate();
    // Stops a running worker at its next stop test and waits for it; the program goes on.
    void StopAndWait() { worker_.Abandon(); }

    // State.
    ScreenPoint MenuAnchor() const { return menuAnchor_; }
    bool ReopenAtAnchor() const { return reopenAtAnchor_; }
    bool CommandHandled() const { return commandHandled_; }
    bool ConvertOnPick() const { return convertOnPick_; }
    ImageFormatCode QuickFormatCode() const { return quickFormatCode_; }
    int QuickDestination() const { return quickDestination_; }
    const std::string& ChosenFolder() const { return chosenFolder_; }
    const std::string& RemovableDrive() const { return removableDrive_; }
    const std::vector<std::string>& CommandLineFiles() const { return files_; }

    // What the view shows.
    std::string JpgCaption() const;
    std::int32_t JpegQualityMark() const { return model_.jpegQuality; }
    bool AutoCloseMark() const { return autoCloseMark_; }
    bool OpenTargetMark() const { return model_.autoShowTargetFolder; }
    std::array<RecentEntry, kMaxRecentFolders> RecentEntries() const;

    bool WorkerRunning() const;
    // Waits for the worker (running the bridge's calls meanwhile). Window thread only.
    void WaitForWorker();
    QuickRunCounts LastCounts() const;

  private:
    // After a zoom or angle preset: convert in the last format used, or reopen the menu.
    void AfterPreset(AfterPresetPick after);
    // Converts into a picked folder; nothing picked (blank) ends the program.
    void ConvertIntoFolder(ImageFormatCode formatCode, const std::string& folder);
    struct RunRequest {
        std::vector<std::string> files;
        ImageFormatCode formatCode = 0;
        int destinationCode = 0;
        std::string chosenFolder;
        std::string removableDrive;
        std::string favouriteFolder;
        ConversionOptions options;
        bool openTarget = false;
        std::string lastSourceFolder;
    };

    // What the worker has done so far.
    struct RunProgress {
        QuickRunCounts counts;
        std::string lastFile;       // the last file taken up
        std::int32_t lastUsed = 0;  // the format written, 0 while none was
    };

    void StartConversion();
    void RunWorker(RunRequest request);
    std::string ResolveTarget(const RunRequest& request);
    void ConvertFiles(const RunRequest& request, const std::string& target, RunProgress& run);
    // The closing steps of a run that was not stopped: recent folders, stored keys, the
    // target opened, the final text.
    void RecordRun(const RunRequest& request, const std::string& target, const RunProgress& run);
    std::string FirstFileFolder() const;
    void SetLastUsedFormat(std::int32_t code);
    ImageFormatCode LastUsedFormatCode() const;

    QuickMenuHost& host_;
    SettingsModel& model_;
    ProfileFile& profile_;
    ResizeControls& resize_;
    RotationSettings& rotation_;
    std::function<std::filesystem::path(UserDir)> userDirs_;
    std::vector<std::string> files_;

    ScreenPoint menuAnchor_;
    bool reopenAtAnchor_ = false;
    bool commandHandled_ = false;
    bool convertOnPick_ = false;
    ImageFormatCode quickFormatCode_ = 0;
    int quickDestination_ = 0;
    std::string chosenFolder_;
    std::string removableDrive_;
    bool autoCloseMark_ = false;
    bool ending_ = false;

    ProgressFlags progress_;
    UiBridge bridge_;
    mutable std::mutex countsMutex_;
    QuickRunCounts counts_;
    // Last, so that it is joined before anything its job uses goes away.
    Worker worker_{&bridge_, &progress_.stopRequested};
};

// The text "已完成所有图片转换", followed by the counts when anything failed.
std::string QuickDoneText(const QuickRunCounts& counts);

}  // namespace ozm
