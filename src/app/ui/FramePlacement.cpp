#include "app/ui/FramePlacement.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace ozm {

namespace {

// How long a window manager may take to put its frame round a new window, in milliseconds.
constexpr int kFrameWaitMs = 3000;

QMargins FrameMargins(const QWidget& window) {
    const QWindow* handle = window.windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

void Apply(QWidget& window, const std::function<QRect(const QMargins&)>& outerFor,
           const QMargins& margins) {
    const QRect inside = outerFor(margins).marginsRemoved(margins);
    window.setGeometry(inside);
}

// Waits for the frame. The window manager tells its frame's size in a property of its own,
// which may come without any event to the window: looked at on the window's events and every
// 50 ms, until the first margins are seen (placed again once) or the wait is over.
class FrameWatcher : public QObject {
  public:
    FrameWatcher(QWidget& window, std::function<QRect(const QMargins&)> outerFor, QMargins now)
        : QObject(&window), window_(window), outerFor_(std::move(outerFor)), placedWith_(now) {
        window.installEventFilter(this);
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this] { Look(); });
        poll->start(50);
        QTimer::singleShot(kFrameWaitMs, this, [this] { Done(); });
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (watched == &window_ && (type == QEvent::Move || type == QEvent::Resize ||
                                    type == QEvent::Expose || type == QEvent::Show))
            Look();
        return QObject::eventFilter(watched, event);
    }

  private:
    void Look() {
        if (done_ || !window_.isVisible()) return;
        const QMargins margins = FrameMargins(window_);
        if (margins.isNull() || margins == placedWith_) return;
        Done();
        // After the event: the window manager's own placement is done by then.
        QTimer::singleShot(0, &window_, [window = &window_, outerFor = outerFor_, margins] {
            Apply(*window, outerFor, margins);
        });
    }
    void Done() {
        if (done_) return;
        done_ = true;
        window_.removeEventFilter(this);
        deleteLater();
    }

    QWidget& window_;
    std::function<QRect(const QMargins&)> outerFor_;
    QMargins placedWith_;
    bool done_ = false;
};

}  // namespace

void PlaceWindowFrame(QWidget& window, std::function<QRect(const QMargins&)> outerFor) {
    const QMargins now = FrameMargins(window);
    Apply(window, outerFor, now);
    new FrameWatcher(window, std::move(outerFor), now);
}

}  // namespace ozm
