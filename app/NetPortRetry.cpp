#include "NetPortRetry.h"

#include "Endpoint.h"
#include "PosixNetConnect.h"

#include <QSocketNotifier>

namespace korvan {

NetPortRetry::NetPortRetry(std::function<std::string()> lostPort,
                           std::function<void(const std::string&)> reopen)
    : lostPort_(std::move(lostPort)), reopen_(std::move(reopen)) {
    timer_.setInterval(2000);
    connect(&timer_, &QTimer::timeout, this, &NetPortRetry::Tick);
}

NetPortRetry::~NetPortRetry() = default;

void NetPortRetry::Watch() {
    if (netport::IsEndpointName(lostPort_()) && !timer_.isActive()) timer_.start();
}

void NetPortRetry::Tick() {
    const std::string port = lostPort_();
    if (!netport::IsEndpointName(port)) {
        timer_.stop();
        return;
    }
    if (attempt_) return; // the last try has not ended yet
    trying_ = port;
    attempt_ = std::make_unique<posix::ConnectAttempt>(port);
    auto* notifier = new QSocketNotifier(attempt_->Fd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
        notifier->setEnabled(false);
        notifier->deleteLater();
        Ended();
    });
}

void NetPortRetry::Ended() {
    const bool connected = attempt_->ParkIfConnected();
    attempt_.reset();
    if (connected && lostPort_() == trying_) reopen_(trying_);
    if (lostPort_().empty()) timer_.stop();
}

} // namespace korvan
