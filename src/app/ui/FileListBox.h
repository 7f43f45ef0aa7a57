#pragma once
// A file list of the main window: extended selection, and drags from inside the list
// accepted (nothing is moved by them); files dropped from elsewhere come with the drop
// support of a later step.

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QListWidget>

namespace ozm {

class TFileListBox : public QListWidget {
  public:
    explicit TFileListBox(QWidget* parent) : QListWidget(parent) {
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setDragEnabled(true);
        setAcceptDrops(true);
        setDragDropMode(QAbstractItemView::DragDrop);
        setDefaultDropAction(Qt::IgnoreAction);
    }

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
};

}  // namespace ozm
