// The poll cycle of the real window against korvan-sim, first with the traffic view never opened,
// then with it open and following the end: the periods between requests and the reply latencies,
// both as the traffic record itself saw them. Run it under privdev (it links a port into /dev).
#include "StationRig.h"
#include "TrafficWindow.h"

using namespace korvan;
using namespace korvan::bench;

namespace {

void Print(const char* what, const PollFigures& f) {
    std::printf("%-28s %3d exchanges  period mean %7.2f ms max %7.2f ms  "
                "latency mean %6.2f ms max %6.2f ms\n",
                what, f.exchanges, f.meanPeriodMs, f.maxPeriodMs, f.meanLatencyMs, f.maxLatencyMs);
}

} // namespace

int main(int argc, char** argv) {
    FixScaling();
    QApplication app(argc, argv);
    SetUpStation(app, true);
    const int count = ExchangeCount(argc, argv);

    StationOnSim rig;
    if (!rig.Start("BENCH", {"--units", "10"})) return 1;
    if (!rig.WaitForLink()) {
        std::fprintf(stderr, "no link\n");
        return 1;
    }
    TWIN& win = *rig.win;
    // Fill the record so that the open view starts with a full ring of rows.
    const ExchangeRecord filler = win.Link.Traffic.At(win.Link.Traffic.End() - 1);
    while (win.Link.Traffic.Size() < TrafficLog::kCapacity)
        win.Link.Traffic.ExchangeClosed(filler);

    Print("view closed", MeasurePolls(win, count));
    win.OpenTrafficView();
    if (!QTest::qWaitForWindowExposed(win.TrafficView())) return 1;
    Print("view open, following", MeasurePolls(win, count));
    std::printf("rows in the view: %d\n", win.TrafficView()->Model().rowCount());
    return 0;
}
