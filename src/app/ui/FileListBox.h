#pragma once
// A file list of the main window: extended selection, and drags from inside the list
// accepted (nothing is moved by them); files dropped from elsewhere come with the drop
// support of a later step. It shows a FileListModel and reads its selection back in whole
// steps, never item by item: a folder may list tens of thousands of files, and one signal or
// selection step per item costs seconds there.

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QListWidget>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/convert/FileListModel.h"

namespace ozm {

class TFileListBox : public QListWidget {
  public:
    explicit TFileListBox(QWidget* parent);

    // Shows the model's entries, selection and current entry. The items are built again, in
    // one insertion, only when the entries changed since the last call; the selection is set
    // in one step, as runs of rows.
    void ShowList(const FileListModel& list);
    // The selection the widget holds, one flag per row, read from its runs of rows.
    std::vector<bool> SelectedRows() const;

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override { AcceptOwn(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { AcceptOwn(event); }
    void dropEvent(QDropEvent* event) override {
        // The list's order is the folder's order: a drag inside it changes nothing.
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
    }

  private:
    void AcceptOwn(QDropEvent* event) {
        if (event->source() == this)
            event->acceptProposedAction();
        else
            event->ignore();
    }

    std::optional<std::uint64_t> shownGeneration_;
};

}  // namespace ozm
