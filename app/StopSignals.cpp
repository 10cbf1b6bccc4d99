#include "StopSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace korvan {

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

int wakeRead = -1;
volatile sig_atomic_t wakeWrite = -1;
volatile sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
    const int saved = errno;
    stopRequested = 1;
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] ssize_t n = write(wakeWrite, &byte, 1);
    errno = saved;
}

} // namespace

void InstallStopSignals() {
    if (wakeRead >= 0) return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return; // the signals keep their default action
    wakeRead = fds[0];
    wakeWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kStopSignals)
        sigaction(signal, &action, nullptr);
}

StopSignals::StopSignals() {
    InstallStopSignals();
    if (wakeRead < 0) return;
    auto* notifier = new QSocketNotifier(wakeRead, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { Stop(); });
}

bool StopSignals::Requested() const {
    return stopRequested != 0;
}

void StopSignals::Stop() {
    char bytes[16];
    while (read(wakeRead, bytes, sizeof bytes) > 0) {
    }
    if (window_) window_->close();
    // Also leaves a modal message box's loop, so that the process can end.
    QCoreApplication::exit(0);
}

} // namespace korvan
