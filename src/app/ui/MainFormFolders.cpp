// The main window's folder buttons, recent-folder pop-up, file actions and dropped files.
// The behaviour is FolderShortcuts' and DropFilesIntoFolder's; this file binds it to the
// controls and answers their host questions with dialogs.

#include <QAction>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>

#include "app/shell/DropFiles.h"
#include "app/ui/FileListBox.h"
#include "app/ui/FolderChooser.h"
#include "app/ui/MainForm.h"
#include "app/ui/QtHelpers.h"
#include "app/ui/Translation.h"
#include "platform/ProgramFolder.h"

namespace ozm {

namespace {

ListSide SideOfTag(int tag) { return tag == 2 ? ListSide::Target : ListSide::Source; }

}  // namespace

class TMainForm::FolderHost : public FolderActionsHost {
  public:
    explicit FolderHost(TMainForm& form) : form_(form) {}

    void ShowMessage(const std::string& text) override { form_.ShowMessage(text); }

    std::string ChooseFolder(const std::string& prompt, const std::string& startFolder) override {
        if (form_.closing_) return {};
        return ChooseFolderDialog(&form_, prompt, startFolder);
    }

    bool AskYesNo(const std::string& text, const std::string& title) override {
        if (form_.closing_) return false;
        QMessageBox box(QMessageBox::Question, T(title), T(text),
                        QMessageBox::Yes | QMessageBox::No, &form_);
        box.setObjectName(QStringLiteral("MessageBox"));
        box.setDefaultButton(QMessageBox::Yes);
        form_.openMessage_ = &box;
        const int answer = box.exec();
        form_.openMessage_ = nullptr;
        return answer == QMessageBox::Yes;
    }

    void FocusPathBox(ListSide side) override {
        form_.Focus(side == ListSide::Source ? FocusTarget::EdtPath : FocusTarget::EdtOutput);
    }
    void FocusList(ListSide side) override { form_.Area(side).list->setFocus(); }
    void StepProgress() override { form_.StepProgress(); }
    void ResetProgress() override { form_.ResetProgress(); }
    bool StopRequested() override { return form_.session_.Run().StopRequested(); }

    std::string AskNewName(const std::string& oldName) override {
        if (form_.closing_) return oldName;
        if (!form_.frmReName_) form_.frmReName_ = std::make_unique<TFrmReName>(&form_);
        return form_.frmReName_->AskName(oldName);
    }

  private:
    TMainForm& form_;
};

void TMainForm::ConnectFolderActions() {
    setAcceptDrops(true);
    folderHost_ = std::make_shared<FolderHost>(*this);
    UseFolderServices(std::make_shared<SystemDrives>(), std::make_shared<FreedesktopTrash>(),
                      std::make_shared<SystemShellOpen>());

    const auto button = [this](const char* name) {
        return findChild<QToolButton*>(QString::fromLatin1(name));
    };
    struct Row {
        const char* suffix;
        int tag;
    };
    for (const Row row : {Row{"", 0}, Row{"2", 2}}) {
        const auto name = [&](const char* base) { return std::string(base) + row.suffix; };
        const int tag = row.tag;
        connect(button(name("BtnDeskTop").c_str()), &QToolButton::clicked, this,
                [this, tag] { BtnDeskTopClick(tag); });
        connect(button(name("BtnMyDocuments").c_str()), &QToolButton::clicked, this,
                [this, tag] { BtnMyDocumentsClick(tag); });
        connect(button(name("BtnMyPictures").c_str()), &QToolButton::clicked, this,
                [this, tag] { BtnMyPicturesClick(tag); });
        connect(button(name("BtnUDisk").c_str()), &QToolButton::clicked, this,
                [this, tag] { BtnUDiskClick(tag); });
        connect(button(name("BtnMyFav").c_str()), &QToolButton::clicked, this,
                [this, tag] { BtnMyFavClick(tag); });
        connect(button(name("BtnAddFav").c_str()), &QToolButton::clicked, this,
                [this, tag] { BtnAddFavClick(tag); });
        connect(button(name("BtnHistory").c_str()), &QToolButton::clicked, this,
                [this, tag] { BtnHistoryClick(tag, QCursor::pos()); });
    }
    connect(button("BtnOpenDir"), &QToolButton::clicked, this, [this] { BtnOpenDirClick(); });
    connect(button("BtnOpenSaveAsDir"), &QToolButton::clicked, this,
            [this] { BtnOpenSaveAsDirClick(); });

    const auto action = [this](const char* name, void (TMainForm::*slot)()) {
        if (auto* entry = findChild<QAction*>(QString::fromLatin1(name)))
            connect(entry, &QAction::triggered, this, [this, slot] { (this->*slot)(); });
    };
    action("MnOpenDefault", &TMainForm::LbDocListDblClick);
    action("MnOpenFolder", &TMainForm::BtnOpenDirClick);
    action("MnDeletePic", &TMainForm::MnDeletePicClick);
    action("MnRenamePic", &TMainForm::MnRenamePicClick);
    action("PmOpenInPaint", &TMainForm::PmOpenInPaintClick);
    action("MnDefaultOpen", &TMainForm::LbTargetDblClick);
    action("MnOpenOutputFolder", &TMainForm::BtnOpenSaveAsDirClick);
    action("MnDeleteFileOP", &TMainForm::MnDeleteFileOPClick);
    action("N3", &TMainForm::N3Click);
    action("OpenApplicationPath1", &TMainForm::OpenApplicationPath1Click);
    connect(pmHistorys_, &QMenu::triggered, this,
            [this](QAction* entry) { MnHistory1Click(entry); });
}

void TMainForm::UseFolderServices(std::shared_ptr<const Drives> drives,
                                  std::shared_ptr<Trash> trash, std::shared_ptr<ShellOpen> shell) {
    drives_ = std::move(drives);
    trash_ = std::move(trash);
    shell_ = std::move(shell);
    // "Open the program's folder" opens where the executable lies, as the file manager
    // would show it; the settings may live elsewhere.
    std::filesystem::path programFiles = ExecutableFolder();
    if (programFiles.empty()) programFiles = session_.ProgramFolder();
    shortcuts_ = std::make_unique<FolderShortcuts>(model_, session_.Lists(), *folderHost_, *drives_,
                                                   *trash_, *shell_, programFiles);
}

// The logic changed the model (folders, lists, the favourite): the controls follow.
void TMainForm::FolderActionDone() {
    SyncList(ListSide::Source);
    SyncList(ListSide::Target);
    SyncFromModel();
}

void TMainForm::BtnSelectDirClick() {
    if (closing_) return;
    ShowConversionPage();
    shortcuts_->BtnSelectDirClick(ListSide::Source);
    FolderActionDone();
}

void TMainForm::BtnSelectSaveAsDirClick() {
    if (closing_) return;
    ShowConversionPage();
    shortcuts_->BtnSelectDirClick(ListSide::Target);
    FolderActionDone();
}

void TMainForm::BtnOpenDirClick() {
    shortcuts_->BtnOpenDirClick(ListSide::Source);
    FolderActionDone();
}

void TMainForm::BtnOpenSaveAsDirClick() {
    shortcuts_->BtnOpenDirClick(ListSide::Target);
    FolderActionDone();
}

void TMainForm::BtnDeskTopClick(int tag) {
    shortcuts_->BtnDeskTopClick(SideOfTag(tag));
    FolderActionDone();
}

void TMainForm::BtnMyDocumentsClick(int tag) {
    shortcuts_->BtnMyDocumentsClick(SideOfTag(tag));
    FolderActionDone();
}

void TMainForm::BtnMyPicturesClick(int tag) {
    shortcuts_->BtnMyPicturesClick(SideOfTag(tag));
    FolderActionDone();
}

void TMainForm::BtnUDiskClick(int tag) {
    shortcuts_->BtnUDiskClick(SideOfTag(tag));
    FolderActionDone();
}

void TMainForm::BtnMyFavClick(int tag) {
    if (model_.favouriteFolder.empty()) ShowConversionPage();
    shortcuts_->BtnMyFavClick(SideOfTag(tag));
    FolderActionDone();
}

void TMainForm::BtnAddFavClick(int tag) {
    ShowConversionPage();
    shortcuts_->BtnAddFavClick(SideOfTag(tag));
    FolderActionDone();
}

void TMainForm::BtnHistoryClick(int tag, const QPoint& at) {
    SyncHistoryMenu();
    // Every shown entry takes the button's tag: it says which list the pick changes.
    for (QAction* entry : pmHistorys_->actions()) entry->setProperty("tag", tag);
    pmHistorys_->popup(at);
}

void TMainForm::MnHistory1Click(QAction* entry) {
    if (entry == nullptr) return;
    shortcuts_->MnHistory1Click(SideOfTag(entry->property("tag").toInt()),
                                S(entry->data().toString()));
    FolderActionDone();
}

void TMainForm::LbDocListDblClick() {
    shortcuts_->OpenCurrentFile(ListSide::Source);
    FolderActionDone();
}

void TMainForm::LbTargetDblClick() {
    shortcuts_->OpenCurrentFile(ListSide::Target);
    FolderActionDone();
}

void TMainForm::MnDeletePicClick() {
    shortcuts_->DeleteSelected(ListSide::Source);
    FolderActionDone();
}

void TMainForm::MnDeleteFileOPClick() {
    shortcuts_->DeleteSelected(ListSide::Target);
    FolderActionDone();
}

void TMainForm::MnRenamePicClick() {
    shortcuts_->RenameCurrent();
    FolderActionDone();
}

void TMainForm::PmOpenInPaintClick() {
    shortcuts_->OpenCurrentInEditor(ListSide::Source);
    FolderActionDone();
}

void TMainForm::N3Click() {
    shortcuts_->OpenCurrentInEditor(ListSide::Target);
    FolderActionDone();
}

void TMainForm::OpenApplicationPath1Click() { shortcuts_->OpenApplicationPath1Click(); }

// --- dropped files -----------------------------------------------------------------------

namespace {

bool HasLocalFiles(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) return true;
    }
    return false;
}

}  // namespace

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* data = event->mimeData();
    // Files and text from other programs, and drags within this one: the copy cursor.
    if (HasLocalFiles(data) || data->hasText() || event->source() != nullptr) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TMainForm::dragMoveEvent(QDragMoveEvent* event) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TMainForm::dropEvent(QDropEvent* event) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
    DropData(event->mimeData(), event->source() != nullptr);
}

void TMainForm::DropData(const QMimeData* data, bool fromThisProgram) {
    if (closing_ || fromThisProgram || !HasLocalFiles(data)) return;  // text is read and ignored
    std::vector<std::filesystem::path> paths;
    for (const QUrl& url : data->urls()) {
        // The file system's own bytes of the name, whatever their encoding.
        if (url.isLocalFile())
            paths.emplace_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    const std::optional<std::string> folder = shortcuts_->CurrentFolder(ListSide::Source);
    if (folder) DropFilesIntoFolder(paths, *folder, model_.source.list, *trash_);
    SyncList(ListSide::Source);
    SyncFromModel();
}

}  // namespace ozm
