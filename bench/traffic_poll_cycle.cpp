// The poll cycle of the real window against korvan-sim, first with the traffic view never opened,
// then with it open and following the end: the periods between requests and the reply latencies,
// both as the traffic record itself saw them. Run it under privdev (it links a port into /dev).
#include "MessageBoxes.h"
#include "QtWindowThread.h"
#include "SimulatorProcess.h"
#include "StationLook.h"
#include "TrafficWindow.h"
#include "monitor_code_3.h"

#include <QApplication>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace korvan;

namespace {

struct Figures {
    double meanPeriodMs = 0, maxPeriodMs = 0, meanLatencyMs = 0, maxLatencyMs = 0;
    int exchanges = 0;
};

// Waits for `count` more exchanges and describes them.
Figures Measure(TWIN& win, int count) {
    const std::uint64_t from = win.Link.Traffic.End();
    if (!QTest::qWaitFor([&] { return win.Link.Traffic.End() >= from + count + 1; }, count * 2000))
        return {};
    Figures f;
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

void Print(const char* what, const Figures& f) {
    std::printf("%-28s %3d exchanges  period mean %7.2f ms max %7.2f ms  "
                "latency mean %6.2f ms max %6.2f ms\n",
                what, f.exchanges, f.meanPeriodMs, f.maxPeriodMs, f.meanLatencyMs, f.maxLatencyMs);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    InstallQtWindowThread();
    ApplyStationLook(app);
    SetMessageBoxAnswerer([](MessageKind, const std::string& text) {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
        return true;
    });
    const int count = argc > 1 ? std::max(std::atoi(argv[1]), 2) : 60;

    e2e::SimulatorProcess sim;
    const std::string error =
        sim.Start(QStringLiteral("/dev/ttyZZZBENCH%1").arg(getpid()), {"--units", "10"});
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    TWIN win;
    win.ShowAtStart();
    if (!QTest::qWaitForWindowExposed(&win) ||
        !QTest::qWaitFor([&] { return win.Link.Engine.LinkCredit() > 0; }, 10000)) {
        std::fprintf(stderr, "no link\n");
        return 1;
    }
    // Fill the record so that the open view starts with a full ring of rows.
    const ExchangeRecord filler = win.Link.Traffic.At(win.Link.Traffic.End() - 1);
    while (win.Link.Traffic.Size() < TrafficLog::kCapacity)
        win.Link.Traffic.ExchangeClosed(filler);

    Print("view closed", Measure(win, count));
    win.OpenTrafficView();
    if (!QTest::qWaitForWindowExposed(win.TrafficView())) return 1;
    Print("view open, following", Measure(win, count));
    std::printf("rows in the view: %d\n", win.TrafficView()->Model().rowCount());
    return 0;
}
