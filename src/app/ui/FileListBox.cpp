#include "app/ui/FileListBox.h"

#include <QItemSelection>
#include <QStringList>
#include <algorithm>

#include "app/ui/QtHelpers.h"

namespace ozm {

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::IgnoreAction);
    // Every row is one line of the same font: the view lays out 20,000 rows without asking
    // each one for its size.
    setUniformItemSizes(true);
}

void TFileListBox::ShowList(const FileListModel& list) {
    if (shownGeneration_ != list.Generation()) {
        QStringList names;
        names.reserve(list.Count());
        for (const std::string& name : list.Entries()) names.append(Q(name));
        clear();
        addItems(names);
        shownGeneration_ = list.Generation();
    }
    QItemSelection runs;
    const std::vector<bool>& flags = list.SelectedFlags();
    const int rows = std::min(count(), static_cast<int>(flags.size()));
    for (int row = 0; row < rows;) {
        if (!flags[static_cast<std::size_t>(row)]) {
            ++row;
            continue;
        }
        const int first = row;
        while (row < rows && flags[static_cast<std::size_t>(row)]) ++row;
        runs.select(model()->index(first, 0), model()->index(row - 1, 0));
    }
    selectionModel()->select(runs, QItemSelectionModel::ClearAndSelect);
    setCurrentRow(list.CurrentIndex(), QItemSelectionModel::NoUpdate);
}

std::vector<bool> TFileListBox::SelectedRows() const {
    std::vector<bool> flags(static_cast<std::size_t>(count()), false);
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        for (int row = std::max(0, range.top()); row <= range.bottom() && row < count(); ++row)
            flags[static_cast<std::size_t>(row)] = true;
    }
    return flags;
}

}  // namespace ozm
