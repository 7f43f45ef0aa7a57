#pragma once
// The main window: the conversion options, the two file lists with their previews, the
// convert button, the hint line and the progress bar, and the pop-up menus. The window only
// shows the session's model and forwards its events to the session and its logic; the batch
// runs on a worker thread and reaches the window through the session's UiBridge.

#include <QTabBar>
#include <QTabWidget>
#include <QWidget>
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/convert/OptionsSnapshot.h"
#include "app/session/AppSession.h"
#include "app/shell/FolderShortcuts.h"
#include "app/ui/FrmReName.h"

class QAbstractButton;
class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QVBoxLayout;
class QLabel;
class QLineEdit;
class QMimeData;
class QListWidget;
class QMenu;
class QMessageBox;
class QProgressBar;
class QRadioButton;
class QScrollArea;
class QSplitter;
class QTimer;
class QToolButton;

namespace ozm {

class PreviewLoader;
struct PreviewPicture;
class TFileListBox;
class TQuickMenu;

// The page tabs are drawn by the window: 8 points, bold when active, black, centred.
class TOwnerDrawTabBar : public QTabBar {
  public:
    using QTabBar::QTabBar;

  protected:
    void paintEvent(QPaintEvent* event) override;
    QSize tabSizeHint(int index) const override;
};

class TPageControl : public QTabWidget {
  public:
    explicit TPageControl(QWidget* parent);
};

class TMainForm : public QWidget, public MainWindowPort {
    Q_OBJECT

  public:
    // `session` outlives the window; `helpFolder` is where Help.html is looked for first,
    // before the session's program folder.
    explicit TMainForm(AppSession& session, std::filesystem::path helpFolder = {},
                       QWidget* parent = nullptr);
    ~TMainForm() override;

    // The main-window mode: the frame at left 10, top 10, the screen's width less 40 and
    // height less 90, raised, faded in over 500 ms.
    void ShowMainWindowMode();

    // The closing steps, once: the run is asked to stop, the window hidden, any open message
    // answered, the worker waited for, the settings saved. A close request and a termination
    // signal both end here.
    void Shutdown();
    bool IsShutDown() const { return shutDown_; }

    ConversionRun& Run() { return session_.Run(); }
    // PmRightMouse and the quick conversion behind it.
    TQuickMenu& QuickMenu() { return *quickMenu_; }
    const SettingsModel& Model() const { return model_; }
    std::string Caption() const;

    // ConversionHost and WindowFeedback; every call arrives on the window's thread except
    // Options(), which reads the snapshot.
    ConversionOptions Options() override;
    void ShowMessage(const std::string& text) override;
    void StepProgress() override;
    int EntryCount() override;
    int CurrentIndex() override;
    bool IsSelected(int index) override;
    std::string EntryText(int index) override;
    const SharedListView* SharedSourceList() override { return &sourceShared_; }
    void FocusSourceList(bool selectFirst) override;
    void RefreshTargetList() override;
    void ShowConversionPage() override;
    void SetHint(const std::string& text) override;
    void ShowProgressBar(bool visible) override;
    void ResetProgress() override;
    void SetStopFace(bool stopping) override;
    void ChooseSourceFolder() override;
    void ChooseTargetFolder() override;
    void AddRecentFolder(const std::string& folder) override;
    void StoreLastSourceFolder(const std::string& folder) override;
    void Focus(FocusTarget target) override;
    void ModelChangedElsewhere() override;

    // The convert button and "转换所选图片(&C)", clicked at `madeAt` (see ConversionRun).
    void BtnImgCovertClick(ClickClock::time_point madeAt = ClickClock::now());

    // Folder buttons of both rows (`tag` 2: the target row), the recent-folder pop-up and
    // the file actions of the lists and menus (MainFormFolders.cpp).
    void BtnSelectDirClick();
    void BtnSelectSaveAsDirClick();
    void BtnOpenDirClick();
    void BtnOpenSaveAsDirClick();
    void BtnDeskTopClick(int tag);
    void BtnMyDocumentsClick(int tag);
    void BtnMyPicturesClick(int tag);
    void BtnUDiskClick(int tag);
    void BtnMyFavClick(int tag);
    void BtnAddFavClick(int tag);
    void BtnHistoryClick(int tag, const QPoint& at);
    void MnHistory1Click(QAction* entry);
    void LbDocListDblClick();
    void LbTargetDblClick();
    void MnDeletePicClick();
    void MnRenamePicClick();
    void PmOpenInPaintClick();
    void MnDeleteFileOPClick();
    void N3Click();
    void OpenApplicationPath1Click();
    // Dropped data: local files are copied into the source folder; text and drags from
    // this program change nothing.
    void DropData(const QMimeData* data, bool fromThisProgram);
    // The desktop services behind the actions; tests put recorders in.
    void UseFolderServices(std::shared_ptr<const Drives> drives, std::shared_ptr<Trash> trash,
                           std::shared_ptr<ShellOpen> shell);
    FolderShortcuts& Shortcuts() { return *shortcuts_; }
    TFrmReName* RenameWindow() const { return frmReName_.get(); }
    QMenu* HistoryMenu() const { return pmHistorys_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    struct ListArea {
        QGroupBox* group = nullptr;
        TFileListBox* list = nullptr;
        QCheckBox* previewSwitch = nullptr;
        QSplitter* splitter = nullptr;
        QGroupBox* previewPanel = nullptr;
        QLabel* image = nullptr;
        QLabel* sizeLabel = nullptr;
        QCheckBox* stretch = nullptr;
        QImage* loaded = nullptr;
        int rowAtPress = -1;  // the current row before the mouse press the list handles now
    };

    void BuildControls();
    QWidget* BuildConversionPage();
    QWidget* BuildHintPanel(QWidget* page);
    void BuildTimerAndShortcut();
    QWidget* BuildToolBar();
    QGroupBox* BuildFormatGroup(QWidget* box);
    void BuildResizeGroups(QWidget* box, QVBoxLayout* column);
    QGroupBox* BuildRotateGroup(QWidget* box);
    QWidget* BuildListGroup(ListSide side);
    QWidget* BuildListButtons(ListSide side);
    void BuildListBox(ListSide side);
    QWidget* BuildPreviewPanel(ListSide side);
    void BuildMenus();
    void BuildPathPanel();
    void FormCreate();
    void FormDestroy();
    void SetFonts();
    // The quick-conversion menu's part of the creation steps (its captions, the quality and
    // zoom marks).
    void PrepareQuickMenu();
    void LoadButtonImage(QAbstractButton* button, const char* resourceName);

    // Model -> controls, and the options snapshot after every change.
    void SyncFromModel();
    void SyncList(ListSide side);
    void SyncHistoryMenu();
    // The source list's model -> the view the worker reads.
    void PublishSourceList(bool entriesChanged);
    void ModelChanged();

    void FormatBoxClick(FormatBox box, bool checked);
    void ListCurrentChanged(ListSide side, int row);
    void ListSelectionChanged(ListSide side);
    bool ListKeyDown(ListSide side, QKeyEvent* key);
    bool EditEvent(QLineEdit* edit, QEvent* event);
    void EditTextChanged(QLineEdit* edit);
    void EditLeft(QLineEdit* edit);
    void ShowPreview(ListSide side);
    // Asks for the file's preview; ShowPreviewPicture shows it when it arrives.
    void LoadPreviewImage(ListSide side, const std::string& path);
    void ShowPreviewPicture(ListSide side, std::uint64_t request, const PreviewPicture& picture);
    // The progress steps asked for since the last change of the bar, shown as one.
    void ShowProgressSteps();
    // The run's latest hint, when one waits to be shown.
    void ShowPendingHint();
    // The hint line's text and its accessible name, now.
    void ShowHint(const std::string& text);
    void PreviewControlResized(ListSide side);
    void ApplyStretch(ListSide side);
    void FormShortCut();
    // Help.html beside the program (the help folder first, then the program folder); empty
    // when there is none.
    std::filesystem::path HelpPagePath() const;
    bool RunBusy() const;

    ListArea& Area(ListSide side) { return side == ListSide::Source ? source_ : target_; }
    FolderSide& ModelSide(ListSide side) {
        return side == ListSide::Source ? model_.source : model_.target;
    }

    AppSession& session_;
    SettingsModel& model_;  // the session's
    std::filesystem::path helpFolder_;
    OptionsSnapshot options_;
    SharedListView sourceShared_;
    std::string captionText_;

    // Controls (owned by the widget tree).
    QScrollArea* toolBar_ = nullptr;
    QSplitter* splitter5_ = nullptr;
    QToolButton* btnImgCovert_ = nullptr;
    QGroupBox* gbConvertFormat_ = nullptr;
    std::array<QCheckBox*, kFormatBoxCount> formatBoxes_{};
    QGroupBox* rgZoomType_ = nullptr;
    QButtonGroup* zoomTypeButtons_ = nullptr;
    QGroupBox* gbZoomBei_ = nullptr;
    QLineEdit* edtZoomPei_ = nullptr;
    QGroupBox* gbZoomSize_ = nullptr;
    QLabel* lblWidth_ = nullptr;
    QLabel* lblHeight_ = nullptr;
    QLineEdit* edtWidth_ = nullptr;
    QLineEdit* edtHeight_ = nullptr;
    QCheckBox* cbZoomAuto_ = nullptr;
    QGroupBox* gbRotate_ = nullptr;
    QLineEdit* edtRotate1_ = nullptr;
    QLineEdit* edtRotate2_ = nullptr;
    QListWidget* lbRoateType_ = nullptr;
    TPageControl* pageControl_ = nullptr;
    QSplitter* splitter1_ = nullptr;
    ListArea source_;
    ListArea target_;
    QImage sourceImage_;
    QImage targetImage_;
    QWidget* pnlHint_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    int pendingSteps_ = 0;  // progress steps not shown yet
    bool progressShown_ = false;             // a run is under way
    std::optional<std::string> pendingHint_;  // the run's latest hint, not shown yet
    QLabel* lblHint_ = nullptr;
    QWidget* pnlPath_ = nullptr;
    QWidget* pnlPathButtons_ = nullptr;
    QLineEdit* edtPath_ = nullptr;
    QLineEdit* edtOutput_ = nullptr;
    QMenu* pmImgList_ = nullptr;
    QMenu* pmOutput_ = nullptr;
    QMenu* pmApp_ = nullptr;
    QMenu* pmHistorys_ = nullptr;
    QTimer* timerCheckExecute_ = nullptr;
    QMessageBox* openMessage_ = nullptr;

    bool syncing_ = false;
    bool closing_ = false;
    bool shutDown_ = false;
    bool destroyed_ = false;

    // Folder shortcuts and file actions (MainFormFolders.cpp).
    class FolderHost;
    void ConnectFolderActions();
    void FolderActionDone();
    std::shared_ptr<FolderHost> folderHost_;  // shared: its type is complete only in its file
    std::shared_ptr<const Drives> drives_;
    std::shared_ptr<Trash> trash_;
    std::shared_ptr<ShellOpen> shell_;
    std::unique_ptr<FolderShortcuts> shortcuts_;
    std::unique_ptr<TFrmReName> frmReName_;
    // Decodes the previews off this thread; made before the controls, ended after the run.
    std::unique_ptr<PreviewLoader> previews_;

    // Ended first, with the quick conversion the session made for it.
    std::unique_ptr<TQuickMenu> quickMenu_;
};

}  // namespace ozm
