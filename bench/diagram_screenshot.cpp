// A picture of "Диаграмма состояний" after one fire cycle of korvan-sim's scenario (30 s): the
// fire detector of module 1, the drives that start after their delays, the relays, a fault on
// the last module, the master's door contact and the reset at the unit; only the signals that
// changed, with markers on the detector's edge and the first drive's. Writes the window alone
// as PNG to the path given, and the commissioning report, whose last page is the diagram of the
// run, to a second path when given. Links a port into /dev: run it under privdev.
#include "DiagramWindow.h"
#include "StationRig.h"

using namespace korvan;
using namespace korvan::bench;

namespace {

constexpr int kPeriodS = 30;

// The first edge from rest to active of a band of `unit` of `kind`, with its line.
std::pair<const BandEdge*, int> FirstEdge(const DiagramWindow& view, int unit, BandKind kind) {
    const std::vector<DiagramLine> lines = DiagramLines(view.Bands(), view.Canvas()->Frame().bands);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].band < 0) continue;
        const Band& band = view.Bands().Bands()[static_cast<std::size_t>(lines[i].band)];
        if (band.unit != unit || band.kind != kind) continue;
        for (std::size_t e = 1; e < band.edges.size(); ++e)
            if (band.edges[e].state == BandState::Active &&
                band.edges[e - 1].state == BandState::Rest)
                return {&band.edges[e], static_cast<int>(i)};
    }
    return {nullptr, -1};
}

} // namespace

int main(int argc, char** argv) {
    FixScaling();
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: diagram_screenshot OUT.png [REPORT.pdf]\n");
        return 2;
    }
    SetUpStation(app, false);

    StationOnSim rig;
    if (!rig.Start("DSHOT", {"--units", "4", "--period", QString::number(kPeriodS)})) return 1;
    rig.sim.Command("scenario on"); // the cycle starts with the simulator
    const auto started = std::chrono::steady_clock::now();
    TWIN& win = *rig.win;
    if (!rig.WaitForLink()) return 1;
    win.activateWindow();
    if (!QTest::qWaitForWindowActive(&win)) return 1;
    QTest::keyClick(&win, Qt::Key_F5);
    DiagramWindow* view = win.StateDiagram();
    if (view == nullptr || !QTest::qWaitForWindowExposed(view)) return 1;
    view->resize(1300, 820);
    view->findChild<QCheckBox*>("CHANGED_ONLY")->setChecked(true);

    // One whole cycle and a little more, so the reset at the unit is in.
    const auto cycle = std::chrono::seconds(kPeriodS + 2);
    if (!QTest::qWaitFor([&] { return std::chrono::steady_clock::now() - started > cycle; },
                         (kPeriodS + 10) * 1000))
        return 1;
    win.Link.SEND_TIM.stop();
    view->Refresh();

    // Markers on the detector's edge and the edge of module 1's drive, as the operator sets them.
    DiagramCanvas* canvas = view->Canvas();
    const DiagramGeometry g(canvas->rect(), canvas->Frame(), canvas->fontMetrics());
    const auto [detector, detectorLine] = FirstEdge(*view, 1, BandKind::Input);
    const auto [drive, driveLine] = FirstEdge(*view, 1, BandKind::Output);
    if (detector == nullptr || drive == nullptr) {
        std::fprintf(stderr, "the fire cycle did not show\n");
        return 1;
    }
    for (auto [edge, line] : {std::pair{detector, detectorLine}, std::pair{drive, driveLine}}) {
        const QPoint at(static_cast<int>(g.X(edge->ms)),
                        g.LineTop(line) + canvas->Frame().rowHeight / 2);
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(canvas, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, at);
    }
    QTest::qWait(2 * DiagramWindow::kRefreshMs);
    if (!view->grab().save(QString::fromLocal8Bit(argv[1]))) return 1;
    if (argc > 2) {
        const std::string error = win.WriteReportTo(QString::fromLocal8Bit(argv[2]), {}, {});
        if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
    }
    std::printf("%d lines, %s\n", canvas->LineCount(),
                qPrintable(view->findChild<QLabel*>("MARKERS")->text()));
    return 0;
}
