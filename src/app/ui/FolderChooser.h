#pragma once
// The folder chooser: the prompt over a tree of the folders, an edit box with the chosen
// folder, a "新建文件夹" button and OK / Cancel. A typed folder that does not exist yet is made
// (with its parents) on OK; a folder that cannot be made keeps the chooser open.

#include <QDialog>
#include <string>

class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace ozm {

class TFolderChooser : public QDialog {
    Q_OBJECT

  public:
    // `startFolder`, when it is a folder, is selected once the chooser is open.
    TFolderChooser(QWidget* parent, const QString& prompt, const QString& startFolder);

    // The folder picked with OK, without a final "/" (except the root); empty before.
    const std::string& Chosen() const { return chosen_; }
    // The current folder: the folder just made with "新建文件夹" until the user picks another
    // in the tree, else the tree's current entry. A new folder is made under it and a
    // relative typed folder lies in it.
    QString CurrentFolder() const;

    void accept() override;
    void BtnNewFolderClick();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QFileSystemModel* model_ = nullptr;
    QTreeView* tree_ = nullptr;
    QLineEdit* edtFolder_ = nullptr;
    QPushButton* btnNewFolder_ = nullptr;
    std::string chosen_;
    // The model lists a folder's entries on a thread of its own: a listing read just before
    // the new folder was made drops it from the tree for a moment, and the tree's current
    // entry with it. The new folder is kept here and made current again when it is back.
    QString newFolder_;
};

// Opens the chooser modally; the folder picked, or empty on cancel.
std::string ChooseFolderDialog(QWidget* parent, const std::string& prompt,
                               const std::string& startFolder);

}  // namespace ozm
