// A lost network port is tried again every 2 s until it answers: each connect runs on a thread
// of its own (a host that does not answer would hold the window for 3 s), and the connection it
// makes is kept for the port's open, which `reopen` then does.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace korvan {

namespace posix {
class ConnectAttempt;
}

class NetPortRetry : public QObject {
  public:
    // `lostPort` names the port that waits to be opened again, empty when none does.
    NetPortRetry(std::function<std::string()> lostPort,
                 std::function<void(const std::string&)> reopen);
    ~NetPortRetry() override;

    // Starts trying when the lost port is a network port; the tries end when none is lost.
    void Watch();

  private:
    void Tick();
    void Ended();

    std::function<std::string()> lostPort_;
    std::function<void(const std::string&)> reopen_;
    QTimer timer_;
    std::unique_ptr<posix::ConnectAttempt> attempt_;
    std::string trying_;
};

} // namespace korvan
