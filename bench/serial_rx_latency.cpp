// How long a byte written by the peer takes to reach OnRxChar on the window thread (smThreadSync,
// as the station runs its port), and what an open port without traffic costs in processor time.
//
//   serial_rx_latency [samples] [idle-seconds] [thread|window|none]
#include "BCPort.h"
#include "PtyPair.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <ctime>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const std::size_t i =
        std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5));
    return v[i];
}

// Runs the window thread's event loop for the given time; returns the processor time used by the
// whole process meanwhile, in milliseconds.
double IdleCpu(QCoreApplication& app, int seconds) {
    const double before = ProcessCpuMs();
    QTimer::singleShot(seconds * 1000, &app, [&app] { app.exit(0); });
    app.exec();
    return ProcessCpuMs() - before;
}

} // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string mode = argc > 3 ? argv[3] : "thread";
    const korvan::TSyncMethod syncMethod = mode == "window" ? korvan::smWindowSync
                                           : mode == "none" ? korvan::smNone
                                                            : korvan::smThreadSync;
    QCoreApplication app(argc, argv);

    korvan::testing::PtyPair pair;
    const int peer = korvan::testing::OpenPeer(pair.PeerPath());
    korvan::TBComPort port;
    port.SetPort(pair.PortName());
    port.SetSyncMethod(syncMethod);

    std::mutex mutex;
    std::condition_variable arrived;
    int received = 0;
    std::atomic<std::int64_t> sentAt{0};
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(samples));
    port.OnRxChar = [&](korvan::TBComPort* sender, std::int32_t count) {
        const auto now = Clock::now().time_since_epoch().count();
        std::uint8_t buffer[256];
        const std::int32_t n = sender->Read(buffer, std::min<std::int32_t>(count, 256));
        latencies.push_back(static_cast<double>(now - sentAt.load()) / 1e3); // microseconds
        std::lock_guard lock(mutex);
        received += n;
        arrived.notify_all();
    };

    // Idle cost of the window thread's loop alone, then with the port open.
    const double closedCpu = IdleCpu(app, idleSeconds);
    if (!port.Open()) return 1;
    const double openCpu = IdleCpu(app, idleSeconds);

    std::thread peerThread([&] {
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> gapUs(0, 3000);
        for (int i = 0; i < samples; ++i) {
            std::this_thread::sleep_for(std::chrono::microseconds(gapUs(random)));
            const std::uint8_t byte = static_cast<std::uint8_t>(i);
            sentAt = Clock::now().time_since_epoch().count();
            if (write(peer, &byte, 1) != 1) break;
            std::unique_lock lock(mutex);
            arrived.wait(lock, [&] { return received > i; });
        }
        QMetaObject::invokeMethod(
            &app, [&app] { app.exit(0); }, Qt::QueuedConnection);
    });
    app.exec();
    peerThread.join();
    port.Close();
    close(peer);

    std::printf("peer byte -> OnRxChar (sync mode %s), %zu samples:\n", mode.c_str(),
                latencies.size());
    std::printf("  p50 %.0f us   p90 %.0f us   p99 %.0f us   max %.0f us\n",
                Percentile(latencies, 0.50), Percentile(latencies, 0.90),
                Percentile(latencies, 0.99), Percentile(latencies, 1.0));
    std::printf("idle processor time over %d s: port closed %.1f ms, port open %.1f ms\n",
                idleSeconds, closedCpu, openCpu);
    return 0;
}
