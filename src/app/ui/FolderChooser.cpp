#include "app/ui/FolderChooser.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/shell/FolderChoice.h"
#include "app/shell/FolderShortcuts.h"
#include "app/shell/ProductInfo.h"
#include "app/ui/QtHelpers.h"
#include "app/ui/Translation.h"

namespace ozm {

namespace {

std::filesystem::path HomeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::filesystem::path(home) : std::filesystem::path("/");
}

}  // namespace

TFolderChooser::TFolderChooser(QWidget* parent, const QString& prompt, const QString& startFolder)
    : QDialog(parent) {
    setObjectName(QStringLiteral("FolderChooser"));
    // The prompt names the window as well: a desktop's window list tells choosers apart.
    setWindowTitle(prompt);
    resize(440, 480);

    auto* column = new QVBoxLayout(this);
    auto* lblPrompt = new QLabel(prompt, this);
    lblPrompt->setObjectName(QStringLiteral("LblPrompt"));
    lblPrompt->setWordWrap(true);
    column->addWidget(lblPrompt);

    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    // Names can be edited in the tree: a new folder is made to be renamed.
    model_->setReadOnly(false);
    model_->setRootPath(QStringLiteral("/"));
    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("TvFolders"));
    tree_->setAccessibleName(prompt);
    tree_->setModel(model_);
    tree_->setRootIndex(model_->index(QStringLiteral("/")));
    for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
    tree_->header()->hide();
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);
    column->addWidget(tree_, 1);

    edtFolder_ = new QLineEdit(this);
    edtFolder_->setObjectName(QStringLiteral("EdtFolder"));
    edtFolder_->setAccessibleName(QStringLiteral("Folder"));
    column->addWidget(edtFolder_);

    auto* buttons = new QHBoxLayout;
    btnNewFolder_ = new QPushButton(T(kNewFolderName), this);
    btnNewFolder_->setObjectName(QStringLiteral("BtnNewFolder"));
    btnNewFolder_->setAutoDefault(false);
    buttons->addWidget(btnNewFolder_);
    buttons->addStretch(1);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    box->setObjectName(QStringLiteral("Buttons"));
    buttons->addWidget(box);
    column->addLayout(buttons);

    connect(box, &QDialogButtonBox::accepted, this, &TFolderChooser::accept);
    connect(box, &QDialogButtonBox::rejected, this, &TFolderChooser::reject);
    connect(btnNewFolder_, &QPushButton::clicked, this, [this] { BtnNewFolderClick(); });
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) edtFolder_->setText(model_->filePath(current));
            });
    // A folder renamed in the tree: the edit box follows when it showed it.
    connect(model_, &QFileSystemModel::fileRenamed, this,
            [this](const QString& folder, const QString& oldName, const QString& newName) {
                const QString before = QDir(folder).filePath(oldName);
                if (newFolder_ == before) newFolder_ = QDir(folder).filePath(newName);
                if (edtFolder_->text() == before)
                    edtFolder_->setText(QDir(folder).filePath(newName));
            });

    connect(model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent) {
        if (newFolder_.isEmpty()) return;
        const QModelIndex made = model_->index(newFolder_);
        if (made.isValid() && made.parent() == parent && tree_->currentIndex() != made)
            tree_->setCurrentIndex(made);
    });
    // A click or a key in the tree is the user's own pick.
    tree_->viewport()->installEventFilter(this);
    tree_->installEventFilter(this);

    // Typing goes to the edit box at once, replacing the start folder.
    edtFolder_->setFocus();
    const QModelIndex start = model_->index(startFolder);
    if (!startFolder.isEmpty() && start.isValid() && model_->isDir(start)) {
        tree_->setCurrentIndex(start);
        tree_->expand(start);
        // The tree fills in as the folders are read: the start folder comes into view then.
        // The model sorts a listing a moment after reading it: scrolled after that.
        connect(model_, &QFileSystemModel::directoryLoaded, this, [this] {
            QTimer::singleShot(50, this, [this] {
                tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
            });
        });
    }
    edtFolder_->selectAll();
}

bool TFolderChooser::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == tree_ && event->type() == QEvent::KeyPress) ||
        (watched == tree_->viewport() && event->type() == QEvent::MouseButtonPress))
        newFolder_.clear();
    return QDialog::eventFilter(watched, event);
}

QString TFolderChooser::CurrentFolder() const {
    if (!newFolder_.isEmpty()) return newFolder_;
    const QModelIndex current = tree_->currentIndex();
    return current.isValid() ? model_->filePath(current) : QString();
}

void TFolderChooser::accept() {
    const std::filesystem::path current(S(CurrentFolder()));
    const std::optional<std::filesystem::path> folder =
        TypedFolder(S(edtFolder_->text()), current.empty() ? HomeFolder() : current, HomeFolder());
    if (!folder) return;
    if (!MakeTypedFolder(*folder)) {
        QMessageBox box(QMessageBox::NoIcon, T(kApplicationTitle), T(kInvalidFolderMessage),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("MessageBox"));
        box.exec();
        edtFolder_->setFocus();
        return;
    }
    chosen_ = ChosenFolderText(*folder);
    QDialog::accept();
}

void TFolderChooser::BtnNewFolderClick() {
    QString parent = CurrentFolder();
    if (parent.isEmpty()) parent = Q(HomeFolder().string());
    const std::string name = NewFolderName(S(parent));
    // The model makes it (failing on a name taken meanwhile) and lists it at once, so the
    // tree's current entry stays on it.
    const QModelIndex index =
        name.empty() ? QModelIndex() : model_->mkdir(model_->index(parent), Q(name));
    if (!index.isValid()) {
        QMessageBox box(QMessageBox::NoIcon, T(kApplicationTitle), T(kInvalidFolderMessage),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("MessageBox"));
        box.exec();
        return;
    }
    newFolder_ = model_->filePath(index);
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
    tree_->edit(index);
}

std::string ChooseFolderDialog(QWidget* parent, const std::string& prompt,
                               const std::string& startFolder) {
    TFolderChooser chooser(parent, T(prompt), Q(startFolder));
    if (chooser.exec() != QDialog::Accepted) return {};
    return chooser.Chosen();
}

}  // namespace ozm
