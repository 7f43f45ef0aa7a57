#pragma once
// The online update's window: a hint line, a progress bar and a close button over the
// download thread of OnlineUpdate; and the help page's "检查更新" button behind it, which
// reads the latest version and makes the offer.

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/maintenance/UpdateFrmUnit.h"

class QBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;

namespace ozm {

// The window's timers, replaceable so that a test can move time on by hand.
class UpdateClock {
  public:
    virtual ~UpdateClock() = default;
    // Calls `fire` once, `milliseconds` from now, on the window's thread.
    virtual void Start(int milliseconds, std::function<void()> fire) = 0;
    // Drops every call not yet made.
    virtual void StopAll() = 0;
};

// Single-shot toolkit timers.
class QtUpdateClock : public UpdateClock {
  public:
    explicit QtUpdateClock(QObject* owner) : owner_(owner) {}
    void Start(int milliseconds, std::function<void()> fire) override;
    void StopAll() override { ++generation_; }

  private:
    QObject* owner_;
    unsigned generation_ = 0;
};

class TFrmUpdateRoot : public QWidget, public UpdateHost {
    Q_OBJECT

  public:
    // A window of its own, owned by `parent` (the main window), so the program ends when the
    // main window closes even while this one is open.
    explicit TFrmUpdateRoot(QWidget* parent, std::unique_ptr<UpdateClock> clock = nullptr);
    // Cancels a running download and waits for its thread (no temporary file is left).
    ~TFrmUpdateRoot() override;

    // Prepares the window for an offer: the addresses and the package file. A running
    // download keeps its own.
    void Prepare(const UpdatePaths& paths);
    // Shows the window modally (without blocking) and starts the 250 ms timer; while a
    // download runs it only raises the window.
    void ShowUpdate();

    // The 250 ms timer's first tick: stops it, shows the hint and starts the download 1000
    // ms later.
    void Timer1Timer();
    void BtnCloseClick();

    OnlineUpdate& Update() { return *update_; }
    QString HintText() const;
    int ProgressMaximum() const;
    int ProgressPosition() const;

    // How the failure message is shown; by default a message box that does not block.
    void SetMessageShower(std::function<void(const QString&)> show) {
        showMessage_ = std::move(show);
    }

    // UpdateHost: called on the download thread, passed on to this window's thread.
    void DownloadProgress(std::uint64_t current, std::int64_t total) override;
    void DownloadFailed() override;
    void PackageStarted() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Esc closes the window as its close button does.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void StartDownload();

    std::unique_ptr<UpdateClock> clock_;
    QLabel* lblHint_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* btnClose_ = nullptr;
    std::function<void(const QString&)> showMessage_;
    bool placed_ = false;
    // Last: the thread ends before anything it reports to is gone.
    std::unique_ptr<OnlineUpdate> update_;
};

// The "检查更新" button of the help page and the offer behind it.
class TUpdateOffer : public QObject {
    Q_OBJECT

  public:
    TUpdateOffer(QWidget* mainWindow, std::filesystem::path programFolder);
    ~TUpdateOffer() override;

    // Reads the latest version on a thread of its own; the answer comes back to this
    // object's thread and goes to OfferUpdate, or shows the failure message.
    void BtnCheckUpdateClick();
    // The offer: "当前已是最新版本" when `latest` is not newer; else the question, and on yes
    // the update window, created on first use and prepared again for each offer. While a
    // download runs the window is only raised.
    void OfferUpdate(float latest);

    TFrmUpdateRoot* Window() const { return window_; }
    bool Checking() const { return check_.Running(); }

    // Replaceable for tests: the question (true for yes), the plain messages, and the
    // window's clock.
    std::function<bool(const QString&)> ask;
    std::function<void(const QString&)> showMessage;
    std::function<std::unique_ptr<UpdateClock>()> makeClock;

  private:
    QWidget* mainWindow_;
    std::filesystem::path programFolder_;
    QPointer<TFrmUpdateRoot> window_;
    VersionCheck check_;
};

// Puts the "检查更新" button on the main window's help page, at the end of `row`, with the offer
// behind it (owned by the main window).
TUpdateOffer* AddCheckUpdateButton(QWidget* helpPage, QBoxLayout* row, QWidget* mainWindow,
                                   const std::filesystem::path& programFolder);

}  // namespace ozm
