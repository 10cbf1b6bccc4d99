// SIGTERM, SIGINT and SIGHUP (logout) end the station as the operator closing its window does:
// the window closes, which closes the port (DTR and RTS dropped, the device given back), and the
// process exits with 0, however many of them come and in whatever rhythm. The handlers only note
// the request and write to a pipe; the window thread does the rest.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace korvan {

// Puts the handlers in place; the first thing the program does, so that a signal during start-up
// ends it the same way. They stay until the process ends: put back, the default action of a
// second signal would end the process between the window's closing and its exit, with the
// signal's status. Later calls do nothing.
void InstallStopSignals();

class StopSignals : public QObject {
  public:
    StopSignals(); // installs the handlers when that has not been done

    // The window to close. Until it is given, a signal only leaves the running event loops.
    void SetWindow(QWidget* window) { window_ = window; }
    // A stop signal has come, also one before this object existed.
    bool Requested() const;

  private:
    void Stop();

    QPointer<QWidget> window_;
};

} // namespace korvan
