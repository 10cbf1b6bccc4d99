// A picture of the traffic view during a fault sequence on korvan-sim: good reads, an operator's
// write, damaged CRCs, a silent line that loses the link, and the unit refusing a read. Writes
// the view alone as PNG to the path given. Links a port into /dev: run it under privdev.
#include "StationRig.h"
#include "TrafficWindow.h"

using namespace korvan;
using namespace korvan::bench;

int main(int argc, char** argv) {
    FixScaling();
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: traffic_screenshot OUT.png\n");
        return 2;
    }
    SetUpStation(app, false);

    StationOnSim rig;
    if (!rig.Start("SHOT", {"--units", "4", "--firmware", "2.10"})) return 1;
    e2e::SimulatorProcess& sim = rig.sim;
    TWIN& win = *rig.win;
    win.OpenTrafficView();
    TrafficWindow* view = win.TrafficView();
    if (!QTest::qWaitForWindowExposed(view)) return 1;

    // Waits until `count` more exchanges have closed.
    const auto exchanges = [&](int count) {
        const std::uint64_t until = win.Link.Traffic.End() + static_cast<std::uint64_t>(count);
        return QTest::qWaitFor([&] { return win.Link.Traffic.End() >= until; }, 20000);
    };
    bool ok = exchanges(3);
    QTest::mouseClick(win.findChild<TIndicator*>("OUT1_0"), Qt::LeftButton);
    ok = ok && exchanges(3);
    sim.Command("corrupt 100");
    ok = ok && exchanges(2);
    sim.Command("corrupt 0");
    ok = ok && exchanges(1);
    sim.Command("silence on");
    ok = ok && exchanges(4);
    sim.Command("silence off");
    ok = ok && exchanges(2);
    sim.Command("set 86 768"); // the unit claims version 3 but answers 96 registers only
    ok = ok && exchanges(3);
    if (!ok) {
        std::fprintf(stderr, "the exchanges did not come\n");
        return 1;
    }
    QTest::qWait(2 * TrafficWindow::kRefreshMs);
    if (!view->grab().save(QString::fromLocal8Bit(argv[1]))) return 1;
    std::printf("%d rows\n", view->Model().rowCount());
    return 0;
}
