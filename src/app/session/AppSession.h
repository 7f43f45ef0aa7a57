#pragma once
// The program's state behind its windows: the settings file, the main window's model, the
// list, resize and rotation logic, the batch run and the quick conversion. Every window talks
// to this object and none to another window's insides, and every setting a window's event
// changes is written here or in the logic it owns. The run and the quick conversion report
// to their window, so they are made when that window attaches and end, their workers waited
// for, when it leaves.

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "app/convert/ConversionRun.h"
#include "app/convert/FolderLists.h"
#include "app/convert/ResizeControls.h"
#include "app/convert/RotationSettings.h"
#include "app/convert/SettingsModel.h"
#include "app/convert/SettingsStore.h"
#include "app/convert/UiBridge.h"
#include "app/convert/WindowFeedback.h"
#include "app/shell/QuickConversion.h"

namespace ozm {

// What the session asks of the main window: the batch run's host, the feedback of the
// settings and control logic, and word that the model changed outside the window's own events
// (the quick menu set the source folder), so the controls follow.
class MainWindowPort : public ConversionHost, public WindowFeedback {
  public:
    virtual void ModelChangedElsewhere() = 0;
};

class AppSession {
  public:
    // `programFolder` holds the settings and the recent-folder file. A folder that cannot be
    // made falls back to the home folder ($HOME, read now).
    explicit AppSession(std::filesystem::path programFolder);
    // Ends a run or quick conversion still attached, waiting for its worker.
    ~AppSession();
    AppSession(const AppSession&) = delete;
    AppSession& operator=(const AppSession&) = delete;

    const std::filesystem::path& ProgramFolder() const { return programFolder_; }
    SettingsModel& Model() { return model_; }
    const SettingsModel& Model() const { return model_; }
    FolderLists& Lists() { return lists_; }
    ResizeControls& Resize() { return resize_; }
    RotationSettings& Rotation() { return rotation_; }

    // The main window arrives: the logic's messages go to it from now on, and the batch run
    // is made with it as host, behind a bridge to its thread whose wake-up it sets.
    void AttachMainWindow(MainWindowPort& window);
    // Before the main window goes: the run ends (its worker waited for); messages go nowhere.
    void DetachMainWindow();
    // Only while a main window is attached.
    ConversionRun& Run() { return *run_; }
    UiBridge& RunBridge() { return *runBridge_; }

    // The quick menu arrives: the quick conversion is made with it as host. Detaching stops
    // and waits for its worker.
    QuickConversion& AttachQuickMenu(QuickMenuHost& menu);
    void DetachQuickMenu();
    // Only while a quick menu is attached.
    QuickConversion& Quick() { return *quick_; }

    // The settings file into the model, when the main window is created.
    void LoadSettings();
    // What the window has not stored at once, when it is destroyed. A main window that never
    // came on screen (quick mode) stores only what the quick menu changes.
    WriteResult SaveSettings(bool mainWindowCameOnScreen);

    // A click on a format tick box: into the model, stored at once.
    void FormatBoxClick(FormatBox box, bool checked);
    // A run completed: `LastSourceFolder`, stored at once ("OZMMyHisPath").
    void StoreLastSourceFolder(const std::string& folder);
    // The quick menu's favourite setting: the chooser once, and a new favourite stored at once
    // ("OZMMyFavPath"). The favourite afterwards, empty when none is set.
    std::string ChooseFavouriteFolder(FolderChooserRole& chooser);
    // The custom conversion's source folder: the source list follows, and the main window.
    void SetSourceFolder(const std::string& folder);

  private:
    // A write to the settings file failed (any thread): the main window's hint line says so,
    // the first time only.
    void SettingsWriteFailed(const std::string& error);

    // Passes the logic's feedback on to the attached main window; drops it while none is.
    class FeedbackRelay : public WindowFeedback {
      public:
        WindowFeedback* target = nullptr;
        void ShowMessage(const std::string& text) override;
        void Focus(FocusTarget focus) override;
        void ShowConversionPage() override;
        void SetHint(const std::string& text) override;
        void ShowProgressBar(bool visible) override;
        void StepProgress() override;
        void ResetProgress() override;
        void SetStopFace(bool stopping) override;
    };

    std::filesystem::path programFolder_;
    SettingsStore store_;
    SettingsModel model_;
    FeedbackRelay feedback_;
    FolderLists lists_;
    ResizeControls resize_;
    RotationSettings rotation_;
    MainWindowPort* mainWindow_ = nullptr;
    // The run ends before its bridge, the quick conversion before the model it works on.
    std::unique_ptr<UiBridge> runBridge_;
    std::unique_ptr<ConversionRun> run_;
    std::unique_ptr<QuickConversion> quick_;
    std::mutex bridgeMutex_;  // runBridge_ as seen from a thread that failed to write
    std::atomic<bool> settingsFailureSaid_{false};
};

}  // namespace ozm
