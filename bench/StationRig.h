// The rig of the benches that run the real window against korvan-sim: the application set up as
// the station's own, the simulator on a port linked into /dev, the window polling it, and the poll
// periods and reply latencies as the traffic record saw them. Run those benches under privdev.
#pragma once

#include "MessageBoxes.h"
#include "QtWindowThread.h"
#include "SimulatorProcess.h"
#include "StationLook.h"
#include "monitor_code_3.h"

#include <QApplication>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace korvan::bench {

// Before the QApplication: the pictures and figures are those of one device pixel per pixel.
inline void FixScaling() {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
}

// The window thread, the look and the message boxes as the station has them; every box is
// answered yes, and its text goes to stderr when `tellMessages`.
inline void SetUpStation(QApplication& app, bool tellMessages) {
    InstallQtWindowThread();
    ApplyStationLook(app);
    SetMessageBoxAnswerer([tellMessages](MessageKind, const std::string& text) {
        if (tellMessages) std::fprintf(stderr, "message box: %s\n", text.c_str());
        return true;
    });
}

// The number of exchanges to measure: the first argument, at least 2, else 60.
inline int ExchangeCount(int argc, char** argv) {
    return argc > 1 ? std::max(std::atoi(argv[1]), 2) : 60;
}

// korvan-sim on /dev/ttyZZZ<tag><pid>, and the station's window shown over it.
struct StationOnSim {
    e2e::SimulatorProcess sim;
    std::unique_ptr<TWIN> win; // made once the simulator's port is there

    // False, having said why on stderr, when the simulator or the window did not come up.
    bool Start(const char* tag, const QStringList& options) {
        const std::string error = sim.Start(
            QStringLiteral("/dev/ttyZZZ%1%2").arg(QLatin1String(tag)).arg(getpid()), options);
        if (!error.empty()) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        win = std::make_unique<TWIN>();
        win->ShowAtStart();
        if (QTest::qWaitForWindowExposed(win.get())) return true;
        std::fprintf(stderr, "the window did not show\n");
        return false;
    }

    bool WaitForLink() {
        return QTest::qWaitFor([this] { return win->Link.Engine.LinkCredit() > 0; }, 10000);
    }
};

struct PollFigures {
    double meanPeriodMs = 0, maxPeriodMs = 0, meanLatencyMs = 0, maxLatencyMs = 0;
    int exchanges = 0;
};

// Waits for `count` more exchanges and describes them; all zero when they did not come.
inline PollFigures MeasurePolls(TWIN& win, int count) {
    const std::uint64_t from = win.Link.Traffic.End();
    if (!QTest::qWaitFor([&] { return win.Link.Traffic.End() >= from + count + 1; }, count * 2000))
        return {};
    PollFigures f;
    int latencies = 0;
    for (std::uint64_t s = from + 1; s <= from + count; ++s) {
        const ExchangeRecord& e = win.Link.Traffic.At(s);
        const double period =
            std::chrono::duration<double, std::milli>(e.sentAt - win.Link.Traffic.At(s - 1).sentAt)
                .count();
        f.meanPeriodMs += period / count;
        f.maxPeriodMs = std::max(f.maxPeriodMs, period);
        if (e.latency.count() >= 0) {
            const double latency = e.latency.count() / 1000.0;
            f.meanLatencyMs += latency;
            f.maxLatencyMs = std::max(f.maxLatencyMs, latency);
            ++latencies;
        }
    }
    if (latencies > 0) f.meanLatencyMs /= latencies;
    f.exchanges = count;
    return f;
}

} // namespace korvan::bench
