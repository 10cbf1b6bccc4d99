// The bus scan on the real window against korvan-sim. Run it under privdev (and Xvfb for the
// picture).
//   bus_scan sweep            sweeps 1-247 on a silent line at each speed in turn and prints the
//                             time each took beside the line's arithmetic
//   bus_scan picture FILE     the window during a scan that has found a unit, saved to FILE
#include "ScanWindow.h"
#include "StationRig.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>

#include <cstring>

using namespace korvan;
using namespace korvan::bench;

namespace {

scan::ScanWindow* OpenScan(TWIN& win) {
    win.OpenBusScan();
    auto* window = win.findChild<scan::ScanWindow*>(QStringLiteral("BUS_SCAN"));
    if (window && !QTest::qWaitForWindowExposed(window)) return nullptr;
    return window;
}

void Plan(scan::ScanWindow* window, int first, int last, const std::vector<int>& speeds,
          bool untilFirst) {
    window->findChild<QSpinBox*>(QStringLiteral("FIRST_ADDRESS"))->setValue(first);
    window->findChild<QSpinBox*>(QStringLiteral("LAST_ADDRESS"))->setValue(last);
    for (int baud : scan::kScanSpeeds)
        window->findChild<QCheckBox*>(QStringLiteral("SPEED_%1").arg(baud))
            ->setChecked(std::find(speeds.begin(), speeds.end(), baud) != speeds.end());
    window->findChild<QCheckBox*>(QStringLiteral("UNTIL_FIRST"))->setChecked(untilFirst);
}

double Seconds(scan::Micros time) {
    return time.count() / 1e6;
}

int Sweep() {
    StationOnSim station;
    // A line on which nothing answers: every probe waits its whole time.
    if (!station.Start("SWEEP", {"--silence", "100000", "--quiet"})) return 1;
    scan::ScanWindow* window = OpenScan(*station.win);
    if (!window) return 1;
    std::printf("1-247 on a silent line, one speed at a time (probe: read of 7 registers)\n");
    std::printf("%6s %10s %12s %12s %12s %10s\n", "speed", "measured", "arithmetic", "request",
                "turnaround", "per probe");
    double measured = 0, arithmetic = 0;
    for (int baud : scan::kScanSpeeds) {
        Plan(window, 1, 247, {baud}, true);
        QElapsedTimer clock;
        clock.start();
        window->findChild<QPushButton*>(QStringLiteral("START"))->click();
        if (!QTest::qWaitFor([window] { return !window->Scan().Running(); }, 200000)) return 1;
        const double took = clock.nsecsElapsed() / 1e9;
        const double planned = Seconds(247 * scan::SilenceWait(baud));
        measured += took;
        arithmetic += planned;
        std::printf("%6d %9.2fs %11.2fs %11.2fs %11.2fs %8.1fms\n", baud, took, planned,
                    Seconds(247 * 8 * scan::CharacterTime(baud)), Seconds(247 * scan::kTurnaround),
                    took / 247 * 1000);
    }
    std::printf("%6s %9.2fs %11.2fs   (all seven speeds)\n", "all", measured, arithmetic);
    return 0;
}

int Picture(const char* path) {
    StationOnSim station;
    if (!station.Start("SHOT", {"--address", "5", "--quiet"})) return 1;
    station.WaitForLink();
    scan::ScanWindow* window = OpenScan(*station.win);
    if (!window) return 1;
    Plan(window, 1, 247, {9600, 19200, 38400, 57600, 4800, 2400, 1200}, false);
    window->findChild<QPushButton*>(QStringLiteral("START"))->click();
    if (!QTest::qWaitFor([window] { return window->Scan().ProbesDone() >= 120; }, 60000)) return 1;
    QTest::qWait(50);
    const bool saved = window->grab().save(QString::fromLocal8Bit(path));
    window->Scan().Stop();
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    FixScaling();
    QApplication app(argc, argv);
    SetUpStation(app, true);
    if (argc > 2 && std::strcmp(argv[1], "picture") == 0) return Picture(argv[2]);
    if (argc > 1 && std::strcmp(argv[1], "sweep") == 0) return Sweep();
    std::fprintf(stderr, "usage: bus_scan sweep | bus_scan picture FILE\n");
    return 2;
}
