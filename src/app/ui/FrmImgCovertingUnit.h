#pragma once
// The progress window of the quick conversion: a moving bar, one line of text, a button that
// opens the target folder, one that closes the window and the box that closes it by itself
// when the work is done. Closing it asks the worker to stop.

#include <QWidget>
#include <functional>
#include <string>

#include "app/shell/QuickConversion.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QTimer;
class QToolButton;

namespace ozm {

class TFrmImgCoverting : public QWidget {
    Q_OBJECT

  public:
    // Outer size as designed; the client area is 535 pixels wide.
    static constexpr int kOuterWidth = 543;
    static constexpr int kOuterHeight = 133;
    static constexpr int kClientWidth = 535;
    static constexpr int kClientHeight = 106;

    // `flags` are shared with the worker. `onAutoCloseClick` gets the box's state when the
    // user clicks it (it is stored there, and the menu's check item follows); `openFolder`
    // opens a folder in the file manager.
    TFrmImgCoverting(ProgressFlags& flags, std::function<void(bool)> onAutoCloseClick,
                     std::function<void(const std::string&)> openFolder);
    ~TFrmImgCoverting() override;

    void SetProgressText(const std::string& text);
    void SetTargetFolder(const std::string& folder) { targetFolder_ = folder; }
    // The box's state without storing it (the run's start, the menu's check item).
    void SetAutoClose(bool autoClose);
    bool AutoClose() const;
    // Application-modal; returns at once. `onClosed` runs once the window has closed.
    void ShowModal(std::function<void()> onClosed);

    void Timer1Timer();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void CbAutoCloseClick();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* BuildBottomRow();
    void FormCreate();

    ProgressFlags& flags_;
    std::function<void(bool)> onAutoCloseClick_;
    std::function<void(const std::string&)> openFolder_;
    std::function<void()> onClosed_;
    std::string targetFolder_;

    QProgressBar* progressBar1_ = nullptr;
    QLabel* lblHint_ = nullptr;
    QToolButton* speedButton2_ = nullptr;
    QToolButton* speedButton1_ = nullptr;
    QCheckBox* cbAutoClose_ = nullptr;
    QTimer* timer1_ = nullptr;
};

}  // namespace ozm
