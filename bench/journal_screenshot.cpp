// A picture of the event journal during a sequence on korvan-sim: an input that trips, a module
// that goes to fault and back, a delay typed by the operator, the command "Пуск", a silent line
// that loses the link and its return. Writes the view alone as PNG to the path given. Links a port
// into /dev: run it under privdev.
#include "JournalWindow.h"
#include "StationRig.h"

using namespace korvan;
using namespace korvan::bench;

int main(int argc, char** argv) {
    FixScaling();
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: journal_screenshot OUT.png\n");
        return 2;
    }
    SetUpStation(app, false);

    StationOnSim rig;
    if (!rig.Start("JSHOT", {"--units", "4", "--quiet"})) return 1;
    e2e::SimulatorProcess& sim = rig.sim;
    TWIN& win = *rig.win;
    win.OpenJournalView();
    JournalWindow* view = win.JournalView();
    if (!QTest::qWaitForWindowExposed(view)) return 1;

    // Waits until the journal holds `count` more events.
    const auto events = [&](int count) {
        const std::uint64_t until =
            win.Link.Journal.Log().End() + static_cast<std::uint64_t>(count);
        return QTest::qWaitFor([&] { return win.Link.Journal.Log().End() >= until; }, 20000);
    };
    bool ok = QTest::qWaitFor([&] { return win.Link.Journal.Log().End() >= 7; }, 20000);
    sim.Command("set 10 4"); // module 1: input 3
    ok = ok && events(1);
    sim.Command("set 25 16"); // module 3: input 1 at fault
    ok = ok && events(2);
    sim.Command("set 25 0");
    ok = ok && events(2);
    auto* delay = win.findChild<TEditField*>("TD1_2");
    delay->selectAll();
    QTest::keyClicks(delay, "45");
    QTest::keyClick(delay, Qt::Key_Return); // the entry counts once finished
    ok = ok && events(2);
    QTest::mouseClick(win.findChild<QPushButton*>("GO_BUT"), Qt::LeftButton);
    ok = ok && events(4);
    sim.Command("silence on");
    ok = ok && events(1);
    sim.Command("set 10 0");
    sim.Command("silence off");
    ok = ok && events(6);
    if (!ok) {
        std::fprintf(stderr, "the events did not come\n");
        return 1;
    }
    view->resize(1100, 640);
    QTest::qWait(2 * JournalWindow::kRefreshMs);
    if (!view->grab().save(QString::fromLocal8Bit(argv[1]))) return 1;
    std::printf("%d rows\n", view->Model().rowCount());
    return 0;
}
