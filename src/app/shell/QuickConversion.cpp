#include "app/shell/QuickConversion.h"

#include <cstdio>
#include <exception>
#include <system_error>

#include "app/convert/OutputNaming.h"
#include "app/convert/Pipeline.h"
#include "app/convert/PrepareAhead.h"
#include "app/convert/SettingsKeys.h"
#include "app/shell/Wallpaper.h"
#include "core/formats/ImgConvertUnit.h"
#include "core/text/TextRules.h"

namespace ozm {

namespace {

std::string FolderText(const std::filesystem::path& folder) {
    std::string text = folder.string();
    if (text.empty() || text.back() != '/') text += '/';
    return text;
}

// The pipeline's host for one quick run: the options fixed at the start, only the picked
// format ticked, and the stop flag read between the steps; `writing` is told of each file
// whose writes begin.
class QuickPipeline : public PipelineHost {
  public:
    QuickPipeline(ConversionOptions options, const std::atomic<bool>& stop,
                  std::function<void(const std::string&)> writing)
        : options_(std::move(options)), stop_(stop), writing_(std::move(writing)) {}
    ConversionOptions Options() override { return options_; }
    bool StopRequested() override { return stop_; }
    bool StopBeforeWriting() override { return stop_; }
    void WritingFile(const std::string& source) override {
        if (writing_) writing_(source);
    }

  private:
    ConversionOptions options_;
    const std::atomic<bool>& stop_;
    std::function<void(const std::string&)> writing_;
};

}  // namespace

std::string QuickDoneText(const QuickRunCounts& counts) {
    std::string text(quicktext::ProgressDone);
    if (counts.failed > 0) {
        text += "（成功 " + std::to_string(counts.converted) + " 个，失败 " +
                std::to_string(counts.failed) + " 个）";
    }
    return text;
}

QuickConversion::QuickConversion(QuickMenuHost& host, SettingsModel& model, ProfileFile& profile,
                                 ResizeControls& resize, RotationSettings& rotation,
                                 std::function<std::filesystem::path(UserDir)> userDirs)
    : host_(host),
      model_(model),
      profile_(profile),
      resize_(resize),
      rotation_(rotation),
      userDirs_(std::move(userDirs)) {
    autoCloseMark_ =
        profile_.ReadBool(keys::CbAutoClose.section, keys::CbAutoClose.name, defaults::CbAutoClose);
}

QuickConversion::~QuickConversion() { worker_.Abandon(); }

// --- the menu ------------------------------------------------------------------------------

void QuickConversion::QuickStart(std::vector<std::string> commandLineFiles) {
    files_ = std::move(commandLineFiles);
    host_.CloseProgressWindow();
    menuAnchor_ = host_.PointerPosition();
    host_.PrepareProgressWindow();
    host_.OpenMenuAt(menuAnchor_);
}

void QuickConversion::Reopen() {
    if (ending_) return;
    if (!reopenAtAnchor_) {
        const ScreenPoint pointer = host_.PointerPosition();
        menuAnchor_ = {pointer.x - 100, pointer.y - 30};
    }
    host_.PrepareProgressWindow();
    host_.OpenMenuAt(menuAnchor_);
}

void QuickConversion::MenuLoopEntered() { commandHandled_ = true; }

void QuickConversion::MenuClosed() {
    // The menu closes before the picked entry's command runs, so a command sets the flag
    // again before the timer can look at it.
    commandHandled_ = false;
    host_.StartAutoCloseTimer();
}

void QuickConversion::TimerAutoCloseTimer() {
    if (commandHandled_ || WorkerRunning() || ending_) return;
    if (host_.MainWindowOnScreen()) return;
    ending_ = true;
    host_.EndProgram();
}

void QuickConversion::SubmenuOpened(QuickSubmenu submenu, ImageFormatCode formatCode) {
    switch (submenu) {
        case QuickSubmenu::Format:
            quickFormatCode_ = formatCode;
            if (formatCode == FormatCode::Jpg || formatCode == FormatCode::Png) {
                convertOnPick_ = false;
                reopenAtAnchor_ = true;
            }
            break;
        case QuickSubmenu::Zoom:
            convertOnPick_ = false;
            reopenAtAnchor_ = true;
            break;
        case QuickSubmenu::ZoomAndConvert:
            convertOnPick_ = true;
            reopenAtAnchor_ = false;
            break;
        case QuickSubmenu::Rotate:
            convertOnPick_ = false;
            break;
        case QuickSubmenu::RotateAndConvert:
            convertOnPick_ = true;
            quickFormatCode_ = LastUsedFormatCode();
            break;
        case QuickSubmenu::Recent:
            host_.MenuStateChanged();
            break;
    }
}

std::array<RecentEntry, kMaxRecentFolders> QuickConversion::RecentEntries() const {
    std::array<RecentEntry, kMaxRecentFolders> entries;
    const auto& items = model_.recentFolders.Items();
    for (std::size_t i = 0; i < entries.size() && i < items.size(); ++i) {
        if (TrimControl(items[i]).empty()) continue;
        entries[i].visible = true;
        entries[i].folder = items[i];
        entries[i].caption = "(&" + std::to_string(i + 1) + ") " + items[i];
    }
    return entries;
}

std::string QuickConversion::JpgCaption() const {
    return std::string(quicktext::JpgCaptionPrefix) + std::to_string(model_.jpegQuality) + "%";
}

ImageFormatCode QuickConversion::LastUsedFormatCode() const {
    // A stored value outside the desktop program's formats would write nothing at all: JPG
    // stands in.
    const std::int32_t stored = model_.lastUsedFormat;
    const auto code = static_cast<ImageFormatCode>(stored);
    return stored == code && WrittenByDesktop(code) ? code : FormatCode::Jpg;
}

void QuickConversion::SetLastUsedFormat(std::int32_t code) {
    model_.lastUsedFormat = code;
    profile_.WriteInteger(keys::LastUseImageTypeTag.section, keys::LastUseImageTypeTag.name, code);
}

std::string QuickConversion::FirstFileFolder() const {
    if (files_.empty()) return {};
    return std::string(ExtractFilePath(files_.front()));
}

// --- commands ------------------------------------------------------------------------------

void QuickConversion::PickDestination(ImageFormatCode formatCode, int destinationCode) {
    if (destinationCode == destination::FavouriteSetting) return PickFavouriteSetting();
    if (destinationCode == destination::ChosenFolder) return PickChooseFolder(formatCode);
    // Handled before anything else: the auto-close timer may tick while a message is open.
    commandHandled_ = true;
    if (destinationCode == destination::Removable) {
        const std::string volume = host_.FirstRemovableVolume();
        if (volume.empty()) {
            host_.ShowMessage(std::string(quicktext::InsertRemovable));
            reopenAtAnchor_ = true;
            Reopen();
            return;
        }
        removableDrive_ = volume;
    }
    quickFormatCode_ = formatCode;
    quickDestination_ = destinationCode;
    StartConversion();
}

void QuickConversion::ConvertIntoFolder(ImageFormatCode formatCode, const std::string& folder) {
    if (TrimControl(folder).empty()) {
        ending_ = true;
        host_.EndProgram();
        return;
    }
    chosenFolder_ = FolderText(folder);
    quickFormatCode_ = formatCode;
    quickDestination_ = destination::ChosenFolder;
    StartConversion();
}

void QuickConversion::PickChooseFolder(ImageFormatCode formatCode) {
    commandHandled_ = true;
    host_.HideMainWindow();
    const std::string first = FirstFileFolder();
    std::error_code ec;
    const std::string start = !first.empty() && std::filesystem::is_directory(first, ec)
                                  ? first
                                  : FolderText(HomeFolder());
    const std::string folder = host_.ChooseFolder(first, start);
    ConvertIntoFolder(formatCode, folder);
}

void QuickConversion::PickRecentFolder(ImageFormatCode formatCode, const std::string& folder) {
    commandHandled_ = true;
    ConvertIntoFolder(formatCode, folder);
}

void QuickConversion::PickFavouriteSetting() {
    commandHandled_ = true;
    host_.ChooseFavouriteFolder();
    reopenAtAnchor_ = true;
    host_.ShowMainWindow(false);
    Reopen();
}

void QuickConversion::PickJpegQuality(std::int32_t quality) {
    commandHandled_ = true;
    model_.jpegQuality = quality;
    profile_.WriteInteger(keys::MnJPGQualityTag.section, keys::MnJPGQualityTag.name, quality);
    host_.MenuStateChanged();
    reopenAtAnchor_ = true;
    SetLastUsedFormat(FormatCode::Jpg);
    Reopen();
}

void QuickConversion::AfterPreset(AfterPresetPick after) {
    host_.MenuStateChanged();
    if (after == AfterPresetPick::StartConversion) {
        quickFormatCode_ = LastUsedFormatCode();
        quickDestination_ = destination::CurrentFolder;
        StartConversion();
    } else {
        reopenAtAnchor_ = true;
        Reopen();
    }
}

void QuickConversion::PickZoom(std::int32_t percent, bool fromConvertSubmenu) {
    commandHandled_ = true;
    // The submenu holding the entry decides, not the one opened last.
    convertOnPick_ = fromConvertSubmenu;
    const AfterPresetPick after = resize_.PickZoomPreset(percent, convertOnPick_);
    AfterPreset(after);
}

void QuickConversion::PickAngle(std::int32_t degrees, bool fromConvertSubmenu) {
    commandHandled_ = true;
    convertOnPick_ = fromConvertSubmenu;
    const AfterPresetPick after = rotation_.PickRotatePreset(degrees, convertOnPick_);
    AfterPreset(after);
}

void QuickConversion::PickAutoClose(bool marked) {
    commandHandled_ = true;
    reopenAtAnchor_ = true;
    autoCloseMark_ = marked;
    host_.SetProgressAutoClose(marked);
    profile_.WriteBool(keys::CbAutoClose.section, keys::CbAutoClose.name, marked);
    host_.MenuStateChanged();
    Reopen();
}

void QuickConversion::PickOpenTarget(bool marked) {
    commandHandled_ = true;
    reopenAtAnchor_ = true;
    model_.autoShowTargetFolder = marked;
    profile_.WriteBool(keys::AutoShowTargetFolder1.section, keys::AutoShowTargetFolder1.name,
                       marked);
    host_.MenuStateChanged();
    Reopen();
}

void QuickConversion::PickCustomConversion() {
    commandHandled_ = true;
    if (!files_.empty()) host_.SetSourceFolder(FirstFileFolder());
    host_.ShowMainWindow(true);
    Reopen();
}

void QuickConversion::PickClipboard() {
    commandHandled_ = true;
    if (files_.empty()) return;
    Bitmap bitmap;
    if (!ReadImageFile(files_.front(), bitmap)) {
        host_.ShowMessage(std::string(quicktext::ClipboardUnsupported));
    } else if (host_.CopyToClipboard(bitmap)) {
        return;
    }
    // Nothing on the clipboard keeps the program alive, and no window is on screen.
    ending_ = true;
    host_.EndProgram();
}

void QuickConversion::PickWallpaper(int placement) {
    commandHandled_ = true;
    if (!files_.empty() && placement >= 0 && placement < 4) {
        const ScreenSize screen = host_.ScreenPixels();
        const std::string message =
            SetWallpaper(files_.front(), static_cast<WallpaperPlacement>(placement), screen.width,
                         screen.height, WallpaperFile(), host_.WallpaperSetter(), profile_);
        if (!message.empty()) host_.ShowMessage(message);
    }
    ending_ = true;
    host_.EndProgram();
}

void QuickConversion::ProgressAutoCloseClicked(bool checked) {
    autoCloseMark_ = checked;
    profile_.WriteBool(keys::CbAutoClose.section, keys::CbAutoClose.name, checked);
    host_.MenuStateChanged();
}

// --- the run -------------------------------------------------------------------------------

void QuickConversion::StartConversion() {
    if (worker_.Started()) return;  // one quick conversion per process
    host_.PrepareProgressWindow();
    RunRequest request;
    request.files = files_;
    request.formatCode = quickFormatCode_;
    request.destinationCode = quickDestination_;
    request.chosenFolder = chosenFolder_;
    request.removableDrive = removableDrive_;
    request.favouriteFolder = model_.favouriteFolder;
    request.options = model_.Options();
    request.openTarget = model_.autoShowTargetFolder;
    request.lastSourceFolder = model_.lastSourceFolder;
    try {
        worker_.Start(
            [this, request = std::move(request)]() mutable { RunWorker(std::move(request)); });
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "ozm-imgconv: the conversion could not start: %s\n", e.what());
        ending_ = true;
        host_.EndProgram();
        return;
    }
    autoCloseMark_ =
        profile_.ReadBool(keys::CbAutoClose.section, keys::CbAutoClose.name, defaults::CbAutoClose);
    host_.SetProgressAutoClose(autoCloseMark_);
    host_.MenuStateChanged();
    host_.ShowProgressWindow();
}

std::string QuickConversion::ResolveTarget(const RunRequest& request) {
    auto special = [&](UserDir dir) {
        const std::filesystem::path folder = userDirs_(dir);
        // A fresh account may not have its desktop or pictures folder yet.
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        return FolderText(folder);
    };
    switch (request.destinationCode) {
        case destination::CurrentFolder:
            return request.files.empty() ? std::string()
                                         : std::string(ExtractFilePath(request.files.front()));
        case destination::ChosenFolder:
            return request.chosenFolder;
        case destination::MyDocuments:
            return special(UserDir::Documents);
        case destination::Desktop:
            return special(UserDir::Desktop);
        case destination::MyPictures:
            return special(UserDir::Pictures);
        case destination::Favourite: {
            std::string folder = request.favouriteFolder;
            if (TrimControl(folder).empty()) {
                // Asked on the window's thread while the worker waits for the answer.
                bridge_.PostAndWait([&] { folder = host_.ChooseFavouriteFolder(); });
            }
            if (TrimControl(folder).empty()) return special(UserDir::Documents);
            return FolderText(folder);
        }
        case destination::Removable:
            return FolderText(request.removableDrive);
        default:
            return {};
    }
}

void QuickConversion::RunWorker(RunRequest request) {
    RunProgress run;
    try {
        std::string target = ResolveTarget(request);
        NormalizeFolderPath(target);
        bridge_.Post([this, target] { host_.SetProgressTarget(target); });
        bridge_.Post([this] { host_.SetProgressText(std::string(quicktext::ProgressStart)); });
        ConvertFiles(request, target, run);
        run.counts.stopped = progress_.stopRequested;
        if (!run.counts.stopped) RecordRun(request, target, run);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ozm-imgconv: the quick conversion stopped: %s\n", e.what());
    }
    {
        std::lock_guard lock(countsMutex_);
        counts_ = run.counts;
    }
    progress_.done = true;
}

void QuickConversion::ConvertFiles(const RunRequest& request, const std::string& target,
                                   RunProgress& run) {
    const std::atomic<bool>& stop = progress_.stopRequested;
    // A code outside the menu's formats converts nothing, and counts nothing.
    const bool writes = WrittenByDesktop(request.formatCode);
    ConversionOptions options = request.options;
    options.formats.Clear();
    if (writes) options.formats.Tick(request.formatCode);
    std::function<void(const std::string&)> announce;
    if (writes) {
        announce = [this](const std::string& file) {
            bridge_.Post([this, text = std::string(quicktext::ProgressFilePrefix) + file +
                                       std::string(quicktext::ProgressFileSuffix)] {
                host_.SetProgressText(text);
            });
        };
    }
    QuickPipeline pipeline(options, stop, announce);
    OutputNamer namer;
    Bitmap workBitmap;  // the worker's own
    // The next file is prepared while this one is written.
    PrepareAhead ahead(pipeline, stop, pipeline.TransformThreads() > 1);

    const std::vector<std::string>& files = request.files;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (stop) break;
        const std::string& file = files[i];
        if (TrimControl(file).empty()) continue;
        run.lastFile = file;
        const auto next = [&files, i]() -> std::optional<std::string> {
            for (std::size_t n = i + 1; n < files.size(); ++n) {
                if (!TrimControl(files[n]).empty()) return files[n];
            }
            return std::nullopt;
        };
        const FileOutcome outcome =
            ConvertOneFile(file, target, workBitmap, pipeline, namer, ahead, next);
        if (!outcome.read) {
            // Stopped before its writes, the file is neither converted nor failed.
            if (outcome.stopped) break;
            ++run.counts.failed;
            continue;
        }
        if (writes) {
            ++(outcome.written > 0 ? run.counts.converted : run.counts.failed);
            run.lastUsed = request.formatCode;
        }
    }
}

void QuickConversion::RecordRun(const RunRequest& request, const std::string& target,
                                const RunProgress& run) {
    const std::string lastFolder(ExtractFilePath(run.lastFile));
    bridge_.PostAndWait([&] {
        if (!lastFolder.empty()) model_.recentFolders.AddRecentFolder(lastFolder);
        model_.recentFolders.AddRecentFolder(target);
        if (run.lastUsed != 0) model_.lastUsedFormat = run.lastUsed;
        host_.MenuStateChanged();
    });
    if (run.lastUsed != 0) {
        profile_.WriteInteger(keys::LastUseImageTypeTag.section, keys::LastUseImageTypeTag.name,
                              run.lastUsed);
    }
    profile_.WriteString(keys::OZMMyHisPath.section, keys::OZMMyHisPath.name,
                         request.lastSourceFolder);
    std::string first =
        request.files.empty() ? std::string() : std::string(ExtractFilePath(request.files.front()));
    NormalizeFolderPath(first);
    if (request.openTarget && !target.empty() && target != first) {
        bridge_.PostAndWait([&] { host_.OpenFolder(target); });
    }
    bridge_.Post([this, text = QuickDoneText(run.counts)] { host_.SetProgressText(text); });
}

bool QuickConversion::WorkerRunning() const { return worker_.Running(); }

QuickRunCounts QuickConversion::LastCounts() const {
    std::lock_guard lock(countsMutex_);
    return counts_;
}

void QuickConversion::WaitForWorker() { worker_.Wait(); }

void QuickConversion::ProgressWindowClosed() {
    progress_.stopRequested = true;
    WaitForWorker();
    if (ending_) return;
    ending_ = true;
    host_.EndProgram();
}

void QuickConversion::Terminate() {
    worker_.Abandon();
    if (ending_) return;
    ending_ = true;
    host_.EndProgram();
}

}  // namespace ozm
