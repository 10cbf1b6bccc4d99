// The state diagram's figures: the heap its bands take over a full journal of state changes, the
// time to build them and to draw a frame of the window over them (the whole run, a minute, one
// second); then, on the real window against korvan-sim with the scenario running and the journal
// full, the poll period with the diagram closed and open, following the present. Run it under
// privdev (it links a port into /dev) on an X server.
#include "Catalogue.h"
#include "DiagramWindow.h"
#include "EventJournal.h"
#include "StationRig.h"

#include <QElapsedTimer>

#include <malloc.h>

#include <random>

using namespace korvan;
using namespace korvan::bench;

namespace {

// A journal of `count` events as a long run makes them: indicators of ten units that change one
// at a time every 400 ms on average, a link lost and restored every 2000 events (the line at
// connection retelling every unit).
void FillRun(EventLog& log, int count) {
    std::mt19937 random(1);
    auto time = std::chrono::system_clock::now() - std::chrono::milliseconds(400LL * count);
    std::array<std::uint32_t, kUnitPanels> states{};
    auto add = [&](int unit, std::uint16_t told, EventKind kind, bool alarm, QString text) {
        JournalEvent e;
        e.time = time;
        e.unit = static_cast<std::int8_t>(unit);
        e.kind = kind;
        e.alarm = alarm;
        e.told = told;
        e.states = unit >= 0 ? states[static_cast<std::size_t>(unit)] : 0;
        e.text = std::move(text);
        log.Add(std::move(e));
    };
    for (int i = 0; i < count; ++i) {
        time += std::chrono::milliseconds(random() % 800);
        if (i % 2000 == 0) {
            add(kNetworkUnit, 0, EventKind::Link, true, QStringLiteral("связь потеряна"));
            add(kNetworkUnit, 0, EventKind::Link, false, QStringLiteral("связь восстановлена"));
            for (int unit = 0; unit < kUnitPanels; ++unit)
                add(unit, static_cast<std::uint16_t>((1u << UnitIndicators(unit).size()) - 1),
                    EventKind::State, false, QStringLiteral("состояние при подключении: Норма"));
            i += 11;
            continue;
        }
        const int unit = static_cast<int>(random() % kUnitPanels);
        const int slot = static_cast<int>(random() % UnitIndicators(unit).size());
        std::uint32_t& s = states[static_cast<std::size_t>(unit)];
        const std::uint32_t now = 1 + random() % 3; // rest, active, fault
        s = (s & ~(3u << (2 * slot))) | now << (2 * slot);
        add(unit, static_cast<std::uint16_t>(1u << slot), EventKind::State, now == 3,
            QStringLiteral("Вход %1 — сработал").arg(slot));
    }
}

void Frames(const char* what, DiagramWindow& window, int frames) {
    DiagramCanvas* canvas = window.Canvas();
    canvas->repaint(); // the glyphs of the captions and the axis cached
    double total = 0, longest = 0;
    for (int i = 0; i < frames; ++i) {
        QElapsedTimer timer;
        timer.start();
        canvas->repaint(); // paints now, into the window's backing store
        const double ms = timer.nsecsElapsed() / 1e6;
        total += ms;
        longest = std::max(longest, ms);
    }
    const DiagramFrame& f = canvas->Frame();
    std::printf("frame, %-28s %5.1f s across, %d lines: mean %6.2f ms, max %6.2f ms\n", what,
                (f.toMs - f.fromMs) / 1000.0, canvas->LineCount(), total / frames, longest);
}

void Print(const char* what, const PollFigures& f) {
    std::printf("%-36s %3d exchanges  period mean %7.2f ms max %7.2f ms\n", what, f.exchanges,
                f.meanPeriodMs, f.maxPeriodMs);
}

} // namespace

int main(int argc, char** argv) {
    FixScaling();
    QApplication app(argc, argv);
    SetUpStation(app, true);
    const int count = ExchangeCount(argc, argv);

    {
        const std::size_t before = mallinfo2().uordblks;
        auto log = std::make_unique<EventLog>();
        FillRun(*log, EventLog::kCapacity);
        const std::size_t journal = mallinfo2().uordblks;
        QElapsedTimer timer;
        timer.start();
        auto bands = std::make_unique<StateBands>();
        bands->Take(*log);
        const double takeMs = timer.nsecsElapsed() / 1e6;
        std::size_t edges = 0;
        for (const Band& band : bands->Bands())
            edges += band.edges.size();
        const std::size_t built = mallinfo2().uordblks;
        std::printf("journal of %llu events: %.1f MB (JournalEvent %zu bytes); bands: %zu edges, "
                    "%.1f MB, built in %.0f ms\n",
                    static_cast<unsigned long long>(log->End()), (journal - before) / 1e6,
                    sizeof(JournalEvent), edges, (built - journal) / 1e6, takeMs);
        bands.reset();

        const std::size_t windowBefore = mallinfo2().uordblks;
        DiagramWindow window(*log);
        window.resize(1400, 800);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) return 1;
        window.Refresh();
        std::printf("the window over it: %.1f MB of heap\n",
                    (mallinfo2().uordblks - windowBefore) / 1e6);
        Frames("whole run", window, 20);
        QWheelEvent zoom(QPointF(900, 300), window.Canvas()->mapToGlobal(QPointF(900, 300)),
                         QPoint(), QPoint(0, 120 * 40), Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(window.Canvas(), &zoom); // about 0.8^40: a minute or so
        Frames("zoomed in", window, 20);
        for (int i = 0; i < 20; ++i)
            QApplication::sendEvent(window.Canvas(), &zoom);
        Frames("one second", window, 20);
    }

    StationOnSim rig;
    if (!rig.Start("DBENCH", {"--units", "10", "--period", "10"})) return 1;
    rig.sim.Command("scenario on"); // alarms, drives and faults come and go every 10 s
    TWIN& win = *rig.win;
    if (!rig.WaitForLink()) {
        std::fprintf(stderr, "no link\n");
        return 1;
    }
    while (win.Link.Journal.Log().End() < static_cast<std::uint64_t>(EventLog::kCapacity) + 10)
        win.Link.Journal.SpeedChanged(QString::number(win.Link.Journal.Log().End()));
    Print("journal full, diagram closed", MeasurePolls(win, count));
    win.OpenStateDiagram();
    if (!QTest::qWaitForWindowExposed(win.StateDiagram())) return 1;
    Print("journal full, diagram open", MeasurePolls(win, count));
    return 0;
}
