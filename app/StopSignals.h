// SIGTERM, SIGINT and SIGHUP (logout) end the station as the operator closing its window does:
// the window closes, which closes the port (DTR and RTS dropped, the device given back), and the
// process exits with 0. The handlers only write to a pipe; the window thread does the rest.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace korvan {

class StopSignals : public QObject {
  public:
    StopSignals();
    ~StopSignals() override; // the signals' default actions come back

    // The window to close. Until it is given, a signal only leaves the running event loops.
    void SetWindow(QWidget* window) { window_ = window; }
    bool Requested() const { return requested_; }

  private:
    void Stop();

    QPointer<QWidget> window_;
    bool requested_ = false;
};

} // namespace korvan
