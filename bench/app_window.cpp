// The main window's costs on the window thread: a full repaint with the background, setting every
// widget from a control state in which everything changed, and closing an exchange whose reply
// changes nothing.
#include "MessageBoxes.h"
#include "ModbusFrames.h"
#include "PollEngineProbe.h"
#include "PosixWin32.h"
#include "StationLook.h"
#include "UnitNetwork.h"
#include "monitor_code_3.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace korvan;

namespace {

// Two states that differ in every field the widgets show.
WindowControls State(bool second) {
    WindowControls c;
    const Colour colour = second ? kRed : kYellow;
    c.ctrl.PUSK = colour;
    c.ctrl.PANEL.index = second ? 3 : 1;
    c.ctrl.ADR = second ? "127" : "12";
    c.ctrl.SPD.index = second ? 6 : 2;
    c.ctrl.DEL = second ? "5000" : "250";
    c.ctrl.parity = second ? 2 : 0;
    c.ctrl.VER = second ? "3.05" : "1.xx или 2.xx";
    c.ctrl.ONLINE = second ? kGreen : kYellow;
    for (int k = 0; k < kUnitPanels; ++k) {
        UnitControls& u = c.unit[k];
        u.Ut.index = second ? 13 : k;
        u.drives = second ? 1 : 0;
        u.Cd = second;
        u.contact = second ? 2 : 1;
        u.O.fill(second);
        for (int i = 0; i < 4; ++i)
            u.delay[i] = std::to_string(second ? 900 + i : 10 + k);
        u.OUT.fill(colour);
        u.IN.fill(colour);
        u.STATE = colour;
        u.FIN.fill(second);
        u.FINA = second;
        u.BIN.fill(!second);
    }
    c.master.csContact = second ? 0 : 1;
    c.master.RELAY.fill(colour);
    c.master.CS1 = c.master.CS2 = c.master.CU1 = c.master.CU2 = colour;
    return c;
}

// The machine is shared: with --benchmark_repetitions the least disturbed run is reported too.
double Least(const std::vector<double>& runs) {
    return *std::min_element(runs.begin(), runs.end());
}

void ShowAt(TWIN& win, int width, int height) {
    win.resize(width, height);
    win.show();
    if (!QTest::qWaitForWindowExposed(&win)) std::abort();
    QApplication::processEvents();
}

// Marks everything visible dirty and lets the window repaint it, as it does when it is uncovered.
void RepaintAll(TWIN& win) {
    win.Background()->update();
    for (int i = 0; i < layout::kPanelCount; ++i)
        win.Widgets.Panel(i)->update();
    QApplication::processEvents();
}

class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

int WidgetsPainted(TWIN& win) {
    PaintCounter counter;
    qApp->installEventFilter(&counter);
    RepaintAll(win);
    qApp->removeEventFilter(&counter);
    return counter.paints;
}

void BM_FullRepaint(benchmark::State& state) {
    TWIN win;
    ShowAt(win, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int painted = WidgetsPainted(win);
    for (auto _ : state)
        RepaintAll(win);
    state.counters["widgets"] = painted;
    state.SetLabel(std::to_string(win.viewport()->width()) + "x" +
                   std::to_string(win.viewport()->height()) + " client");
}
BENCHMARK(BM_FullRepaint)
    ->Args({TWIN::kDesignWidth, TWIN::kDesignHeight})
    ->Args({1920, 1050})
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Least);

// The same through QWidget::grab: the whole window rendered into a new picture.
void BM_Grab(benchmark::State& state) {
    TWIN win;
    ShowAt(win, TWIN::kDesignWidth, TWIN::kDesignHeight);
    for (auto _ : state)
        benchmark::DoNotOptimize(win.grab());
}
BENCHMARK(BM_Grab)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Least);

void BM_PushFullyChanged(benchmark::State& state) {
    TWIN win;
    ShowAt(win, TWIN::kDesignWidth, TWIN::kDesignHeight);
    const WindowControls states[2] = {State(false), State(true)};
    int n = 0;
    for (auto _ : state) {
        win.Controls = states[n ^= 1];
        win.PushControls();
    }
}
BENCHMARK(BM_PushFullyChanged)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Least);

// A refresh as the operator sees it: everything changed, then the changed widgets repainted.
void BM_PushAndPaint(benchmark::State& state) {
    TWIN win;
    ShowAt(win, TWIN::kDesignWidth, TWIN::kDesignHeight);
    const WindowControls states[2] = {State(false), State(true)};
    int n = 0;
    for (auto _ : state) {
        win.Controls = states[n ^= 1];
        win.PushControls();
        QApplication::processEvents();
    }
}
BENCHMARK(BM_PushAndPaint)->Unit(benchmark::kMillisecond)->ComputeStatistics("min", Least);

void BM_PullAll(benchmark::State& state) {
    TWIN win;
    for (auto _ : state) {
        win.PullControls();
        benchmark::DoNotOptimize(win.Controls);
    }
}
BENCHMARK(BM_PullAll)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Least);

// The read reply of the simulated network the station meets in bench/cpu-vs-mbpoll.sh: four
// units, firmware 3.05, 116 registers.
std::vector<std::uint8_t> SteadyReply() {
    sim::NetworkSettings settings;
    settings.scenario = false;
    const sim::UnitNetwork unit(settings);
    std::vector<std::uint8_t> reply{1, kReadHoldingRegisters, 2 * PollEngine::kExtendedReadCount};
    for (int r = 0; r < PollEngine::kExtendedReadCount; ++r) {
        reply.push_back(static_cast<std::uint8_t>(unit.Get(r) >> 8));
        reply.push_back(static_cast<std::uint8_t>(unit.Get(r)));
    }
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    Crc16(reply.data(), static_cast<int>(reply.size()), high, low);
    reply.push_back(low);
    reply.push_back(high);
    return reply;
}

// What every poll of a steady network costs the window thread when its response handler closes
// the exchange: the real window, its widgets shown, the reply equal to what it shows.
void BM_UnchangedReplyClosed(benchmark::State& state) {
    TWIN win;
    ShowAt(win, TWIN::kDesignWidth, TWIN::kDesignHeight);
    const std::vector<std::uint8_t> reply = SteadyReply();
    PollEngine& engine = win.Link.Engine;
    test::PollEngineProbe::StateOf(engine).ReadCount = PollEngine::kExtendedReadCount;
    test::PollEngineProbe::StateOf(engine).ReadLength = 2 * PollEngine::kExtendedReadCount;
    // The request the reply answers; its write fails on this machine's missing port, and the
    // error box is answered at once.
    win.SEND_TIMTimer();
    const auto closeExchange = [&] {
        std::copy(reply.begin(), reply.end(),
                  test::PollEngineProbe::StateOf(engine).RxBuffer.begin());
        test::PollEngineProbe::StateOf(engine).RxCount = static_cast<int>(reply.size());
        win.TIMEOUTTimer();
    };
    closeExchange(); // applied: the window shows the network
    QApplication::processEvents();
    closeExchange();
    if (engine.PendingWrite() || engine.LinkCredit() != PollEngine::kLinkCreditFull) {
        state.SkipWithError("the reply does not leave the window steady");
        return;
    }
    for (auto _ : state)
        closeExchange();
}
BENCHMARK(BM_UnchangedReplyClosed)->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", Least);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    ApplyStationLook(app);
    // The windows measured here open no port of this machine: an empty device map, and the error
    // box that follows answered at once.
    QTemporaryDir machine;
    QDir(machine.path()).mkpath(QStringLiteral("sys/class/tty"));
    posix::SetDeviceMapRoot(machine.path().toStdString());
    SetMessageBoxAnswerer([](MessageKind, const std::string&) { return true; });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
