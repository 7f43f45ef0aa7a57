#pragma once
// The quick-conversion menu PmRightMouse as the user sees it: a thin view of the session's
// QuickConversion (its tables, captions and marks) and the glue that does on screen what the
// logic asks for: the menu at a point, the progress window, the folder dialogs, the
// clipboard, the wallpaper.

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "app/session/AppSession.h"
#include "app/shell/QuickConversion.h"

class QAction;
class QMenu;
class QTimer;

namespace ozm {

class SystemDesktopWallpaper;
class TFrmImgCoverting;
class TMainForm;

class TQuickMenu : public QObject, public QuickMenuHost {
    Q_OBJECT

  public:
    // The menu belongs to `form`, which it shows, hides and closes as the logic asks; the
    // logic is `session`'s, made here and ended with this object.
    TQuickMenu(TMainForm& form, AppSession& session);
    ~TQuickMenu() override;

    QuickConversion& Logic() { return *logic_; }
    QMenu* PmRightMouse() const { return pm_; }
    TFrmImgCoverting* ProgressWindow() const { return progress_.get(); }
    QTimer* TimerAutoClose() const { return timerAutoClose_; }

    // The menu's share of the main window's creation: the other format submenus take the
    // JPG submenu's captions, the quality and zoom presets are marked.
    void Prepare();
    // Quick mode: the main window stays off-screen and the menu opens at the pointer.
    void Start(std::vector<std::string> commandLineFiles);
    // A termination signal: the worker stops at its next test and is waited for, then the
    // program ends.
    void Terminate();
    // Quick mode, and the main window never came on screen.
    bool KeptOffScreen() const { return quickMode_ && offScreen_; }

    // QuickMenuHost.
    void ShowMessage(const std::string& text) override;
    std::string ChooseFolder(const std::string& prompt, const std::string& startFolder) override;
    ScreenPoint PointerPosition() override;
    void OpenMenuAt(ScreenPoint point) override;
    void MenuStateChanged() override;
    void StartAutoCloseTimer() override;
    bool MainWindowOnScreen() override;
    void HideMainWindow() override;
    void ShowMainWindow(bool atTopZero) override;
    void SetSourceFolder(const std::string& folder) override;
    void EndProgram() override;
    std::string ChooseFavouriteFolder() override;
    std::string FirstRemovableVolume() override;
    void OpenFolder(const std::string& folder) override;
    void PrepareProgressWindow() override;
    void CloseProgressWindow() override;
    void SetProgressAutoClose(bool autoClose) override;
    void SetProgressText(const std::string& text) override;
    void SetProgressTarget(const std::string& folder) override;
    void ShowProgressWindow() override;
    bool CopyToClipboard(const Bitmap& bitmap) override;
    ScreenSize ScreenPixels() override;
    DesktopWallpaper& WallpaperSetter() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Build();
    void BuildFormatMenu(QMenu* parent, const QuickFormatMenu& format);
    void BuildPresetMenus();
    void BuildCommandEntries();
    void SyncMenu();

    TMainForm& form_;
    AppSession& session_;
    QuickConversion* logic_ = nullptr;  // the session's
    std::unique_ptr<TFrmImgCoverting> progress_;
    std::unique_ptr<SystemDesktopWallpaper> wallpaper_;
    QMenu* pm_ = nullptr;
    QTimer* timerAutoClose_ = nullptr;
    QAction* jpgEntry_ = nullptr;
    std::vector<QAction*> qualityEntries_;
    std::vector<QAction*> zoomEntries_;   // both zoom submenus
    std::vector<QAction*> angleEntries_;  // both angle submenus
    std::vector<QMenu*> formatMenus_;     // in kQuickFormatMenus order
    std::vector<QMenu*> recentMenus_;
    QAction* autoCloseEntry_ = nullptr;
    QAction* openTargetEntry_ = nullptr;
    bool quickMode_ = false;
    bool offScreen_ = true;
    bool ending_ = false;
    bool watchingClipboard_ = false;
};

}  // namespace ozm
