// The event journal's figures on the real window against korvan-sim: the memory of a full journal,
// what deriving events costs the window thread for a poll that changed nothing, and the poll
// period with the journal full and its view closed, then open and following the end, while the
// simulator's scenario makes events. Run it under privdev (it links a port into /dev).
#include "JournalWindow.h"
#include "StationRig.h"

#include <malloc.h>

using namespace korvan;
using namespace korvan::bench;

namespace {

void Print(const char* what, const PollFigures& f, std::uint64_t events) {
    std::printf("%-34s %3d exchanges  period mean %7.2f ms max %7.2f ms  (%llu events came)\n",
                what, f.exchanges, f.meanPeriodMs, f.maxPeriodMs,
                static_cast<unsigned long long>(events));
}

// Heap bytes of a journal of `count` events with texts as the journal makes them: a third
// indicator lines, a third setting changes, a third state lines at connection.
double FullJournalBytes(int count) {
    const std::size_t before = mallinfo2().uordblks;
    {
        auto log = std::make_unique<EventLog>();
        for (int i = 0; i < count; ++i) {
            JournalEvent e;
            e.time = std::chrono::system_clock::now();
            e.unit = static_cast<std::int8_t>(i % 10);
            switch (i % 3) {
            case 0:
                e.text = QStringLiteral("Вход %1 — сработал").arg(i % 5 + 1);
                break;
            case 1:
                e.text = QStringLiteral("Задержка вкл. 1: %1 → %2").arg(i % 100).arg(i % 7);
                break;
            default:
                e.text = QStringLiteral("состояние при подключении: Норма; Привод: 004 вентилятор; "
                                        "Вход %1 — сработал")
                             .arg(i % 5 + 1);
            }
            log->Add(std::move(e));
        }
        const std::size_t after = mallinfo2().uordblks;
        return static_cast<double>(after - before);
    }
}

} // namespace

int main(int argc, char** argv) {
    FixScaling();
    QApplication app(argc, argv);
    SetUpStation(app, true);
    const int count = ExchangeCount(argc, argv);

    const double bytes = FullJournalBytes(EventLog::kCapacity);
    std::printf("full journal (%d events): %.1f MB, %.0f bytes per event\n", EventLog::kCapacity,
                bytes / 1e6, bytes / EventLog::kCapacity);

    StationOnSim rig;
    if (!rig.Start("JBENCH", {"--units", "10", "--period", "10"})) return 1;
    rig.sim.Command("scenario on"); // alarms, drives and faults come and go every 10 s
    TWIN& win = *rig.win;
    if (!rig.WaitForLink() ||
        !QTest::qWaitFor([&] { return win.Link.Traffic.End() >= 3; }, 10000)) {
        std::fprintf(stderr, "no link\n");
        return 1;
    }

    // A read the engine applied, closed again on the unchanged images: the journal's share of
    // every steady poll.
    std::uint64_t good = win.Link.Traffic.End() - 1;
    while (win.Link.Traffic.At(good).verdict != ExchangeVerdict::Good ||
           win.Link.Traffic.At(good).request[1] != 3)
        --good;
    const ExchangeRecord read = win.Link.Traffic.At(good);
    const std::uint64_t eventsBefore = win.Link.Journal.Log().End();
    constexpr int kCalls = 200000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i)
        win.Link.Journal.ExchangeClosed(read);
    const double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
        kCalls;
    std::printf("unchanged poll: %.1f ns in the journal per exchange (%llu events from %d calls)\n",
                ns, static_cast<unsigned long long>(win.Link.Journal.Log().End() - eventsBefore),
                kCalls);

    // A full journal for the view to open over.
    while (win.Link.Journal.Log().End() < static_cast<std::uint64_t>(EventLog::kCapacity) + 10)
        win.Link.Journal.SpeedChanged(QString::number(win.Link.Journal.Log().End()));

    std::uint64_t events = win.Link.Journal.Log().End();
    const PollFigures closed = MeasurePolls(win, count);
    Print("journal full, view closed", closed, win.Link.Journal.Log().End() - events);
    win.OpenJournalView();
    if (!QTest::qWaitForWindowExposed(win.JournalView())) return 1;
    events = win.Link.Journal.Log().End();
    const PollFigures open = MeasurePolls(win, count);
    Print("journal full, view open, following", open, win.Link.Journal.Log().End() - events);
    std::printf("rows in the view: %d, dropped: %llu\n", win.JournalView()->Model().rowCount(),
                static_cast<unsigned long long>(win.Link.Journal.Log().Dropped()));
    return 0;
}
