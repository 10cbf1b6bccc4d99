// How long a byte written by the peer takes to reach OnRxChar on the window thread (smThreadSync,
// as the station runs its port), what an open port without traffic costs in processor time, and
// what a 245-byte reply sent at the pace of a 9600-baud line costs: events, processor time, and
// the delay from its last byte to the handler.
//
//   serial_rx_latency [samples] [idle-seconds] [thread|window|none] [replies]
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

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

constexpr int kReplyBytes = 245;
constexpr auto kCharacterTime = std::chrono::microseconds(1042); // 9600 baud, 10 bits

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
    const int replies = argc > 4 ? std::atoi(argv[4]) : 40;
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
    int events = 0;
    std::vector<double> lastByte; // of each paced reply: its last byte -> the handler that got it
    port.OnRxChar = [&](korvan::TBComPort* sender, std::int32_t count) {
        const auto now = Clock::now().time_since_epoch().count();
        std::uint8_t buffer[256];
        const std::int32_t n = sender->Read(buffer, std::min<std::int32_t>(count, 256));
        const double us = static_cast<double>(now - sentAt.load()) / 1e3;
        ++events;
        std::lock_guard lock(mutex);
        received += n;
        if (received <= samples)
            latencies.push_back(us);
        else if ((received - samples) % kReplyBytes == 0)
            lastByte.push_back(us);
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

    // Replies at line pace; the processor time of the thread that plays the line is not counted.
    events = 0;
    double lineCpu = 0;
    const double replyCpuStart = ProcessCpuMs();
    std::thread line([&] {
        const double start = ThreadCpuMs();
        std::uint8_t reply[kReplyBytes];
        for (int r = 0; r < replies; ++r) {
            auto due = Clock::now();
            for (int i = 0; i < kReplyBytes; ++i) {
                reply[i] = static_cast<std::uint8_t>(i + r);
                std::this_thread::sleep_until(due += kCharacterTime);
                sentAt = Clock::now().time_since_epoch().count();
                if (write(peer, reply + i, 1) != 1) break;
            }
            std::unique_lock lock(mutex);
            arrived.wait(lock, [&] { return received >= samples + (r + 1) * kReplyBytes; });
        }
        lineCpu = ThreadCpuMs() - start;
        QMetaObject::invokeMethod(
            &app, [&app] { app.exit(0); }, Qt::QueuedConnection);
    });
    app.exec();
    line.join();
    const double replyCpu = ProcessCpuMs() - replyCpuStart - lineCpu;
    port.Close();
    close(peer);

    std::printf("peer byte -> OnRxChar (sync mode %s), %zu samples:\n", mode.c_str(),
                latencies.size());
    std::printf("  p50 %.0f us   p90 %.0f us   p99 %.0f us   max %.0f us\n",
                Percentile(latencies, 0.50), Percentile(latencies, 0.90),
                Percentile(latencies, 0.99), Percentile(latencies, 1.0));
    std::printf("idle processor time over %d s: port closed %.1f ms, port open %.1f ms\n",
                idleSeconds, closedCpu, openCpu);
    if (replies > 0 && !lastByte.empty()) {
        std::printf("%d-byte reply at 9600-baud pace, %d replies:\n", kReplyBytes, replies);
        std::printf("  %.1f events per reply   %.3f ms processor time per reply   last byte -> "
                    "OnRxChar p50 %.0f us  max %.0f us\n",
                    static_cast<double>(events) / replies, replyCpu / replies,
                    Percentile(lastByte, 0.5), Percentile(lastByte, 1.0));
    }
    return 0;
}
