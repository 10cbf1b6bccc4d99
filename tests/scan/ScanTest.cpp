// The probe's verdicts over real frames, and the scan's sequencing on a scripted line with made-up
// time: what goes on the line, in which order, how long each probe waits, and when it retries.
#include "BusScan.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

namespace korvan::scan {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Sealed(Bytes frame) {
    std::uint8_t high = 0, low = 0;
    Crc16(frame.data(), static_cast<int>(frame.size()), high, low);
    frame.push_back(low);
    frame.push_back(high);
    return frame;
}

// A master unit's answer to the probe: registers 80 to 86.
Bytes UnitAnswer(std::uint8_t address, int speedIndex = 4, int units = 4, int firmware = 0x0305) {
    const int regs[kProbeRegisterCount] = {address, speedIndex, 0, 100, 1, units, firmware};
    Bytes frame{address, 3, 2 * kProbeRegisterCount};
    for (int value : regs) {
        frame.push_back(static_cast<std::uint8_t>(value >> 8));
        frame.push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
    return Sealed(frame);
}

Bytes Spoilt(Bytes frame) {
    frame.back() ^= 0x5A;
    return frame;
}

TEST(Probe, RequestReadsTheNetworkRegistersWithFunction3) {
    const Request probe = ProbeRequest(37);
    EXPECT_EQ(Bytes(probe.begin(), probe.end()), Sealed({37, 3, 0, 80, 0, 7}));
}

TEST(Probe, VerdictOfEachKindOfAnswer) {
    const Request sent = ProbeRequest(37);
    Bytes otherDevice = UnitAnswer(37);
    otherDevice[3 + 1] = 12; // register 80 names another address: not a master unit's registers
    otherDevice = Sealed(Bytes(otherDevice.begin(), otherDevice.end() - 2));
    const Bytes whole = UnitAnswer(37);
    const Bytes cut(whole.begin(), whole.begin() + 9);
    struct Row {
        const char* what;
        Bytes received;
        ProbeKind kind;
        std::string text;
    };
    const std::vector<Row> rows{
        {"master unit", UnitAnswer(37), ProbeKind::Zokt, "ЗОКТ-01, прошивка 3.05, блоков: 4"},
        {"old firmware", UnitAnswer(37, 4, 0, 0x0228), ProbeKind::Zokt,
         "ЗОКТ-01, прошивка 1.xx или 2.xx, блоков: 0"},
        {"other device", otherDevice, ProbeKind::Modbus, "устройство Modbus"},
        {"exception 02", Sealed({37, 0x83, 0x02}), ProbeKind::Exception,
         "устройство Modbus (исключение 02)"},
        {"gateway: no path", Sealed({37, 0x83, 0x0A}), ProbeKind::Absent, ""},
        {"gateway: no answer", Sealed({37, 0x83, 0x0B}), ProbeKind::Absent, ""},
        {"other address", UnitAnswer(38), ProbeKind::LineFault, ""},
        {"other function", Sealed({37, 4, 2, 0, 1}), ProbeKind::LineFault, ""},
        {"bad CRC", Spoilt(UnitAnswer(37)), ProbeKind::Damaged,
         "ответ с ошибкой CRC: устройство есть, связь плохая"},
        {"cut short", cut, ProbeKind::Damaged, ""},
        {"garbage", {0xF0, 0x0F, 0xFF, 0x80, 0x00, 0x3C}, ProbeKind::Garbage, ""},
        {"silence", {}, ProbeKind::Silence, ""},
    };
    for (const Row& row : rows) {
        const ProbeVerdict v =
            JudgeProbe(sent, row.received.data(), static_cast<int>(row.received.size()));
        EXPECT_EQ(v.kind, row.kind) << row.what;
        if (!row.text.empty()) {
            EXPECT_EQ(ProbeText(v), row.text) << row.what;
        }
        const bool find = row.kind == ProbeKind::Zokt || row.kind == ProbeKind::Modbus ||
                          row.kind == ProbeKind::Exception || row.kind == ProbeKind::Damaged;
        EXPECT_EQ(IsFind(v.kind), find) << row.what;
    }
}

// A line with units that answer only at their own speed; a unit may answer damaged a number of
// times. Time is made up: the timer fires when the test says.
struct ScriptedLine : ScanLine, ScanListener {
    struct Unit {
        int baud;
        int damagedAnswers = 0;
    };
    std::map<int, Unit> units; // by address
    int baud = 0;
    std::vector<std::pair<int, Bytes>> sent; // speed, request
    Bytes queued;
    std::chrono::steady_clock::time_point now{};
    Micros timer{-1}; // -1: stopped
    BusScan* scan = nullptr;
    std::vector<Micros> waits; // how long each probe waited
    std::vector<ScanFind> finds;
    std::optional<ScanEnd> end;

    void SetSpeed(int b) override { baud = b; }
    void Write(const std::uint8_t* data, int count) override {
        sent.emplace_back(baud, Bytes(data, data + count));
        const auto unit = units.find(data[0]);
        if (unit == units.end() || unit->second.baud != baud) return;
        queued = UnitAnswer(data[0]);
        if (unit->second.damagedAnswers > 0) {
            --unit->second.damagedAnswers;
            queued = Spoilt(queued);
        }
    }
    int Read(std::uint8_t* data, int count) override {
        std::copy(queued.begin(), queued.begin() + count, data);
        queued.erase(queued.begin(), queued.begin() + count);
        return count;
    }
    void StartTimer(Micros after) override { timer = after; }
    void StopTimer() override { timer = Micros{-1}; }
    std::chrono::steady_clock::time_point Now() const override { return now; }

    void Probing(int, int) override {}
    void Found(const ScanFind& find) override { finds.push_back(find); }
    void Finished(ScanEnd how, const std::string&) override { end = how; }

    // Runs the scan to its end: an answer arrives half way through the wait, else the timer
    // fires. Returns the made-up time it took.
    Micros Run() {
        Micros total{0};
        while (scan->Running()) {
            EXPECT_GE(timer.count(), 0) << "a running scan with no timer";
            if (!queued.empty()) {
                now += timer / 2;
                total += timer / 2;
                waits.push_back(timer / 2);
                scan->BytesArrived(static_cast<int>(queued.size()));
                continue;
            }
            const Micros wait = timer;
            now += wait;
            total += wait;
            waits.push_back(wait);
            scan->TimerFired();
        }
        return total;
    }
};

struct ScanRig : ::testing::Test {
    ScriptedLine line;
    BusScan scan{line, line};
    ScanRig() { line.scan = &scan; }
};

TEST_F(ScanRig, SweepsInSpeedOrderNeverAddressZeroAndReadsOnly) {
    line.units[37] = {19200};
    line.units[247] = {57600};
    ScanPlan plan;
    plan.speeds = {1200, 57600, 19200, 9600}; // order of the list does not matter
    plan.firstAddress = 0;                    // the broadcast is never asked
    plan.stopAtFirstUnit = false;
    scan.Start(plan);
    line.Run();
    ASSERT_EQ(line.end, ScanEnd::Swept);
    ASSERT_EQ(line.sent.size(), 4u * 247u);
    const int order[] = {9600, 19200, 57600, 1200};
    for (std::size_t i = 0; i < line.sent.size(); ++i) {
        const auto& [baud, request] = line.sent[i];
        ASSERT_EQ(baud, order[i / 247]) << i;
        ASSERT_EQ(request[0], static_cast<int>(i % 247) + 1) << i;
        ASSERT_EQ(request[1], 3) << i;
    }
    ASSERT_EQ(line.finds.size(), 2u);
    EXPECT_EQ(line.finds[0].address, 37);
    EXPECT_EQ(line.finds[0].baud, 19200);
    EXPECT_EQ(line.finds[1].address, 247);
    EXPECT_EQ(line.finds[1].baud, 57600);
}

TEST_F(ScanRig, StopsAtTheFirstUnitWhenAskedAndTheOperatorStopsAtOnce) {
    line.units[5] = {9600};
    line.units[6] = {9600};
    ScanPlan plan;
    plan.speeds = {9600};
    scan.Start(plan);
    line.Run();
    EXPECT_EQ(line.end, ScanEnd::UnitFound);
    EXPECT_EQ(line.sent.size(), 5u);
    ASSERT_EQ(line.finds.size(), 1u);

    line.end.reset();
    scan.Start(plan);
    scan.Stop();
    EXPECT_EQ(line.end, ScanEnd::Stopped);
    EXPECT_EQ(line.timer.count(), -1) << "the timer still runs after Stop";
    EXPECT_FALSE(scan.Running());
}

// One retry after a damaged answer, and only one: a unit that always answers damaged is asked
// twice, one that answers well the second time is found as the unit it is.
TEST_F(ScanRig, OneRetryOnlyAfterADamagedAnswer) {
    line.units[2] = {9600, 1};
    line.units[3] = {9600, 100};
    ScanPlan plan;
    plan.speeds = {9600};
    plan.lastAddress = 4;
    plan.stopAtFirstUnit = false;
    scan.Start(plan);
    line.Run();
    std::map<int, int> asked;
    for (const auto& [baud, request] : line.sent)
        ++asked[request[0]];
    EXPECT_EQ(asked, (std::map<int, int>{{1, 1}, {2, 2}, {3, 2}, {4, 1}}));
    ASSERT_EQ(line.finds.size(), 2u);
    EXPECT_EQ(line.finds[0].verdict.kind, ProbeKind::Zokt);
    EXPECT_EQ(line.finds[1].verdict.kind, ProbeKind::Damaged);
}

// A silent line: each probe waits just its silence time, and the sweeps fit the promised times
// (1-247 at 9600 in 35 s, all seven speeds in 4 minutes).
TEST_F(ScanRig, SilentSweepsFitTheirTime) {
    ScanPlan plan;
    plan.speeds = {9600};
    scan.Start(plan);
    const Micros at9600 = line.Run();
    EXPECT_EQ(at9600, 247 * SilenceWait(9600));
    EXPECT_EQ(at9600, BusScan::SilentSweepTime(plan));
    EXPECT_LE(at9600, std::chrono::seconds(35));
    // The wait covers the request, the turnaround and the first receive event at least.
    EXPECT_GE(SilenceWait(9600), 22 * CharacterTime(9600) + kTurnaround);

    plan.speeds.assign(kScanSpeeds.begin(), kScanSpeeds.end());
    scan.Start(plan);
    EXPECT_LE(line.Run(), std::chrono::minutes(4));
}

} // namespace
} // namespace korvan::scan
