// The state diagram against korvan-sim's scenario (a cycle of 10 s): the fire detector of module 1
// trips and the module's drive starts after its delay of 3 s; the diagram shows both edges, a click
// on one selects its event in the journal, and two markers read the delay off.
#include "DiagramWindow.h"
#include "E2ETestSupport.h"
#include "JournalWindow.h"
#include "SimulatorProcess.h"
#include "monitor_code_3.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

using namespace korvan;

namespace {

constexpr int kWaitMs = 30000; // a scenario cycle and the line's pace on two busy cores

// The first edge from rest into `state` of a band of module 1 of `kind`, with its line.
struct Found {
    const BandEdge* edge = nullptr;
    int line = -1;
};
Found FirstEdge(const DiagramWindow& view, BandKind kind, BandState state) {
    const std::vector<DiagramLine> lines = DiagramLines(view.Bands(), view.Canvas()->Frame().bands);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].band < 0) continue;
        const Band& band = view.Bands().Bands()[static_cast<std::size_t>(lines[i].band)];
        if (band.unit != 1 || band.kind != kind) continue;
        for (std::size_t e = 1; e < band.edges.size(); ++e)
            if (band.edges[e].state == state && band.edges[e - 1].state == BandState::Rest)
                return {&band.edges[e], static_cast<int>(i)};
    }
    return {};
}

TEST(DiagramE2ETest, FireCycleShowsTheDelayAndAClickFindsTheEvent) {
    e2e::SimulatorProcess sim;
    ASSERT_EQ(sim.Start(QStringLiteral("/dev/ttyZZZE2D%1").arg(getpid()),
                        {"--units", "3", "--period", "10"}),
              "");
    auto win = std::make_unique<TWIN>();
    win->ShowAtStart();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return win->Link.Engine.LinkCredit() > 0; }, kWaitMs));
    sim.Command("scenario on");

    win->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(win.get()));
    QTest::keyClick(win.get(), Qt::Key_F5);
    DiagramWindow* view = win->StateDiagram();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    auto* unit = view->findChild<QComboBox*>("UNIT_FILTER");
    unit->setCurrentIndex(unit->findText("ЗОКТ-МР №1"));
    // The fire detector (input 1) trips, then the drive's output after its delay.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return FirstEdge(*view, BandKind::Output, BandState::Active).edge != nullptr; },
        kWaitMs));
    win->Link.SEND_TIM.stop(); // nothing more happens
    view->Refresh();
    const Found input = FirstEdge(*view, BandKind::Input, BandState::Active);
    const Found output = FirstEdge(*view, BandKind::Output, BandState::Active);
    ASSERT_NE(input.edge, nullptr);
    const double delay = (output.edge->ms - input.edge->ms) / 1000.0;
    EXPECT_GT(delay, 3.0 - 0.6) << "the drive started before its delay";
    EXPECT_LT(delay, 3.0 + 1.2) << "a poll period or two late at most";

    // Zoomed in about the drive's edge (the point under the wheel stays), the view leaves the
    // present and holds still.
    DiagramCanvas* canvas = view->Canvas();
    const DiagramGeometry whole(canvas->rect(), canvas->Frame(), canvas->fontMetrics());
    const QPoint middle(static_cast<int>(whole.X(output.edge->ms)), 100);
    QWheelEvent zoom(middle, canvas->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &zoom);
    ASSERT_FALSE(canvas->Following());
    const DiagramGeometry g(canvas->rect(), canvas->Frame(), canvas->fontMetrics());
    const auto at = [&](const Found& found) {
        return QPoint(static_cast<int>(std::lround(g.X(found.edge->ms))),
                      g.LineTop(found.line) + canvas->Frame().rowHeight / 2);
    };

    QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, at(output));
    JournalWindow* journal = win->JournalView();
    ASSERT_NE(journal, nullptr);
    const QModelIndexList selected = journal->Rows()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(journal->Model().RowEvent(selected[0].row()).text,
              win->Link.Journal.Log().At(output.edge->sequence).text);
    EXPECT_TRUE(journal->Model().RowEvent(selected[0].row()).text.endsWith("включен"));

    // As the window system gives a double click: a click, then the double click and its release.
    const auto doubleClick = [&](QPoint pos) {
        QTest::mouseClick(canvas, Qt::LeftButton, Qt::NoModifier, pos);
        QTest::mouseDClick(canvas, Qt::LeftButton, Qt::NoModifier, pos);
        QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, pos);
    };
    doubleClick(at(input) + QPoint(2, 0));
    doubleClick(at(output) - QPoint(2, 0));
    const QString markers = view->findChild<QLabel*>("MARKERS")->text();
    EXPECT_TRUE(markers.endsWith(DeltaText(output.edge->ms - input.edge->ms)))
        << "the markers snap to the edges: " << markers.toStdString();

    win.reset();
    EXPECT_EQ(sim.Stop(), 0);
}

} // namespace
