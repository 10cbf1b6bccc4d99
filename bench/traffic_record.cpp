// What the traffic record and its view cost the window thread: recording one closed exchange
// (always, view or no view), and one refresh of the open view with a full ring of rows, including
// the repaint it causes.
#include "TrafficLog.h"
#include "TrafficWindow.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

using namespace korvan;

namespace {

double Least(const std::vector<double>& runs) {
    return *std::min_element(runs.begin(), runs.end());
}

ExchangeRecord ReadExchange() {
    ExchangeRecord e;
    e.request = {1, 3, 0, 0, 0, 0x74, 0x45, 0xED};
    e.receivedCount = e.arrivedCount = 237;
    std::fill_n(e.received.begin(), 237, std::uint8_t{0x5A});
    e.sentAt = std::chrono::system_clock::now();
    e.latency = std::chrono::microseconds(251000);
    e.verdict = ExchangeVerdict::Good;
    return e;
}

void BM_RecordExchange(benchmark::State& state) {
    TrafficLog log;
    const ExchangeRecord e = ReadExchange();
    for (auto _ : state)
        log.ExchangeClosed(e); // the ring fills after 10 000 and then overwrites
    benchmark::DoNotOptimize(log.Counters());
}
BENCHMARK(BM_RecordExchange)->Unit(benchmark::kNanosecond)->ComputeStatistics("min", Least);

// The view's timer tick when `range(0)` exchanges closed since the last one, the ring and the
// view full, the view following the end; then the repaint of what changed.
void BM_RefreshOpenView(benchmark::State& state) {
    TrafficLog log;
    const ExchangeRecord e = ReadExchange();
    for (int i = 0; i < TrafficLog::kCapacity; ++i)
        log.ExchangeClosed(e);
    TrafficWindow view(log);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) std::abort();
    view.Refresh();
    QApplication::processEvents();
    for (auto _ : state) {
        for (int i = 0; i < state.range(0); ++i)
            log.ExchangeClosed(e);
        view.Refresh();
        QApplication::processEvents();
    }
    state.counters["rows"] = view.Model().rowCount();
}
BENCHMARK(BM_RefreshOpenView)
    ->Arg(1)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Least);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
