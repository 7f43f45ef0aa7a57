#pragma once
// SIGTERM, SIGINT and SIGHUP end the program the way closing the window does. The signal
// handler only writes a byte into a pipe; the window's thread reads it and runs the closing
// steps, so nothing unsafe runs inside the handler.

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace ozm {

class ShutdownSignals : public QObject {
  public:
    // `onSignal` runs on the calling thread, once per signal received.
    explicit ShutdownSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~ShutdownSignals() override;
    bool Installed() const { return notifier_ != nullptr; }

  private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace ozm
