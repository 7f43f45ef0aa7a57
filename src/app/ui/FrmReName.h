#pragma once
// The rename window: caption "更改名称", the label "名称", an edit holding the name, a confirm
// and a close button. Enter or the confirm button takes the edited text; Esc or the close
// button keep the old name. Made once by the main window and kept.

#include <QDialog>
#include <string>

class QLineEdit;
class QPushButton;

namespace ozm {

class TFrmReName : public QDialog {
    Q_OBJECT

  public:
    explicit TFrmReName(QWidget* parent);

    // Shows the window modally with `name` in the edit; the edited text after a confirm,
    // `name` itself after a close.
    std::string AskName(const std::string& name);

    QLineEdit* Edit() const { return edit_; }

  private:
    QLineEdit* edit_ = nullptr;
    QPushButton* confirm_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace ozm
