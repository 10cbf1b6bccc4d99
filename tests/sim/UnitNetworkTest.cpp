#include "UnitNetwork.h"

#include <gtest/gtest.h>

#include <set>

using namespace korvan::sim;

namespace {

NetworkSettings Quiet(int units = 4) {
    NetworkSettings s;
    s.unitCount = units;
    s.scenario = false;
    return s;
}

NetworkSettings Scenario(int units = 4, double period = 100.0) {
    NetworkSettings s;
    s.unitCount = units;
    s.scenario = true;
    s.period = period;
    return s;
}

bool Bit(const UnitNetwork& n, int reg, int bit) {
    return (n.Get(reg) >> bit) & 1u;
}

// What the station itself does on a write: the register is stored, then the unit reacts.
void StationWrite(UnitNetwork& n, int reg, std::uint16_t value, double now) {
    n.Data()[reg] = value;
    n.StationWrote(reg, value, now);
}

} // namespace

// The station writes back every setting its controls can show; a demo value its controls
// cannot show would make it overwrite the unit's setting as soon as it connects.
TEST(UnitNetworkImage, DemoSettingsAreAllShowableByTheStation) {
    const std::set<int> listedCodes{0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 21, 22, 30};
    const UnitNetwork n(Quiet(10));
    std::set<int> codes;
    for (int k = 0; k < kUnits; ++k) {
        const std::uint16_t config = n.Get(regs::Config(k));
        SCOPED_TRACE(k);
        EXPECT_TRUE(listedCodes.count(config & 0x3F));
        EXPECT_NE((config >> 8) & 3, 3) << "sensor contact type without a button";
        if (k == 0)
            EXPECT_NE((config >> 14) & 3, 3) << "command-signal contact type without a button";
        else
            EXPECT_EQ(config >> 14, 0);
        EXPECT_EQ(n.Get(regs::StartSources(k)) & 0xF800, 0);
        EXPECT_EQ(n.Get(regs::BlockSources(k)) & 0xFC00, 0);
        EXPECT_EQ(n.Get(regs::Outputs(k)) & (k == 0 ? 0xF0FC : 0xFFFC), 0);
        for (int d = 0; d < 4; ++d)
            EXPECT_LE(n.Get(regs::DelayOn1(k) + d), 999) << "three typed digits";
        codes.insert(config & 0x3F);
    }
    EXPECT_GE(codes.size(), 8u) << "a varied installation";
    EXPECT_TRUE(codes.count(1) && codes.count(2) && codes.count(4) && codes.count(5) &&
                codes.count(11) && codes.count(30));
}

TEST(UnitNetworkImage, LooksAliveButHealthy) {
    const UnitNetwork n(Quiet(4));
    int activeInputs = 0;
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(n.Get(regs::Faults(k)), 0);
        activeInputs += __builtin_popcount(n.Get(regs::Inputs(k)) & 0x1F);
        EXPECT_NE(n.Get(regs::Config(k)) & 0x3F, 0) << "unit " << k << " in use";
    }
    EXPECT_GE(activeInputs, 2);
    EXPECT_NE(n.Get(regs::Outputs(0)) & 0x0F00, 0) << "a generalised relay is on";
    EXPECT_NE(n.Get(regs::StartSources(0)) | n.Get(regs::BlockSources(2)), 0);
}

TEST(UnitNetworkImage, UnitsBeyondTheCountAreEmpty) {
    const UnitNetwork n(Quiet(3));
    for (int k = 3; k < kUnits; ++k)
        for (int r = 0; r < 8; ++r)
            EXPECT_EQ(n.Get(regs::Block(k) + r), 0) << "unit " << k << " field " << r;
    for (int k = 3; k < kUnits; ++k) {
        EXPECT_EQ(n.Get(regs::StartSources(k)), 0);
        EXPECT_EQ(n.Get(regs::BlockSources(k)), 0);
    }
}

TEST(UnitNetworkImage, NoModuleSupportReportsZeroUnitsAndKeepsTheMaster) {
    const UnitNetwork n(Quiet(0));
    EXPECT_EQ(n.Get(regs::UnitCount), 0);
    EXPECT_EQ(n.PresentUnits(), 1);
    EXPECT_NE(n.Get(regs::Config(0)) & 0x3F, 0);
    EXPECT_EQ(n.Get(regs::Config(1)), 0);
}

TEST(UnitNetworkAccess, FirmwareDecidesHowManyRegistersAnswer) {
    NetworkSettings s = Quiet();
    s.firmwareMajor = 2;
    s.firmwareMinor = 40;
    const UnitNetwork old(s);
    EXPECT_EQ(old.MappedRegisters(), 96);
    EXPECT_EQ(old.CheckRead(0, 96), Refusal::None);
    EXPECT_EQ(old.CheckRead(0, 116), Refusal::IllegalAddress);
    EXPECT_EQ(old.CheckRead(95, 2), Refusal::IllegalAddress);
    EXPECT_EQ(old.CheckWrite(96), Refusal::IllegalAddress);

    s.firmwareMajor = 3;
    s.firmwareMinor = 0;
    const UnitNetwork current(s);
    EXPECT_EQ(current.MappedRegisters(), 116);
    EXPECT_EQ(current.CheckRead(0, 116), Refusal::None);
    EXPECT_EQ(current.CheckRead(0, 117), Refusal::IllegalAddress);
    EXPECT_EQ(current.CheckRead(100, 16), Refusal::None);
    EXPECT_EQ(current.CheckWrite(115), Refusal::None);
    EXPECT_EQ(current.CheckWrite(116), Refusal::IllegalAddress);
    EXPECT_EQ(current.CheckWrite(127), Refusal::IllegalAddress);
}

TEST(UnitNetworkAccess, QuantityOutsideTheProtocolRangeIsAnIllegalValue) {
    const UnitNetwork n(Quiet());
    EXPECT_EQ(n.CheckRead(0, 0), Refusal::IllegalValue);
    EXPECT_EQ(n.CheckRead(0, 126), Refusal::IllegalValue);
    EXPECT_EQ(n.CheckRead(0, 125), Refusal::IllegalAddress); // legal quantity, beyond 116
}

TEST(UnitNetworkAccess, StatusRegistersAreTheUnits) {
    const UnitNetwork n(Quiet());
    for (int r : {1, 2, 9, 10, 17, 18, 73, 74, 85, 86}) {
        EXPECT_TRUE(UnitNetwork::IsStatusRegister(r)) << r;
        EXPECT_EQ(n.CheckWrite(r), Refusal::IllegalAddress) << r;
    }
    for (int r : {0, 3, 4, 7, 8, 11, 72, 75, 79, 80, 81, 82, 83, 84, 87, 93, 94, 95, 96, 115}) {
        EXPECT_FALSE(UnitNetwork::IsStatusRegister(r)) << r;
        EXPECT_EQ(n.CheckWrite(r), Refusal::None) << r;
    }
}

TEST(UnitNetworkCommands, CommandSignalShowsInTheMastersInputs) {
    UnitNetwork n(Quiet());
    StationWrite(n, regs::CommandSignal, 0x00AA, 1.0);
    EXPECT_TRUE(Bit(n, regs::Inputs(0), 12));
    EXPECT_FALSE(Bit(n, regs::Inputs(0), 13));
    EXPECT_EQ(n.Get(regs::CommandSignal), 0x00AA) << "the level stays";

    StationWrite(n, regs::CommandSignal, 0x0055, 2.0);
    EXPECT_FALSE(Bit(n, regs::Inputs(0), 12));
    EXPECT_TRUE(Bit(n, regs::Inputs(0), 13));

    // The station keeps the high byte it last read; the command is in the low byte.
    StationWrite(n, regs::CommandSignal, 0x01AA, 3.0);
    EXPECT_TRUE(Bit(n, regs::Inputs(0), 12));
    EXPECT_FALSE(Bit(n, regs::Inputs(0), 13));

    const std::uint16_t inputs = n.Get(regs::Inputs(0));
    StationWrite(n, regs::CommandSignal, 0x0012, 4.0);
    EXPECT_EQ(n.Get(regs::Inputs(0)), inputs) << "other values are no command";
}

TEST(UnitNetworkCommands, AlarmResetStopsDrivesAndClearsItself) {
    UnitNetwork n(Quiet());
    StationWrite(n, regs::Outputs(1), 0x0003, 1.0);
    StationWrite(n, regs::Outputs(0), 0x0503, 1.0);
    StationWrite(n, regs::CommandSignal, 0x00AA, 1.0);
    const std::uint16_t config = n.Get(regs::Config(1));

    StationWrite(n, regs::ServiceCommand, 0x00AA, 2.0);
    EXPECT_EQ(n.Get(regs::ServiceCommand), 0);
    EXPECT_EQ(n.Get(regs::Outputs(1)), 0);
    EXPECT_EQ(n.Get(regs::Outputs(0)), 0x0400) << "drives, Пуск and Останов drop; the rest stays";
    EXPECT_EQ(n.Get(regs::CommandSignal), 0);
    EXPECT_FALSE(Bit(n, regs::Inputs(0), 12));
    EXPECT_EQ(n.Get(regs::Config(1)), config) << "settings are not touched";
}

TEST(UnitNetworkCommands, FactoryRestoreClearsSettingsButNotTheUnitsState) {
    NetworkSettings s = Quiet(5);
    s.address = 9;
    UnitNetwork n(s);
    n.Set(regs::Faults(2), 0x0010, 0.5);
    StationWrite(n, regs::DelayOn1(3), 777, 1.0);
    StationWrite(n, regs::Address, 44, 1.0);
    const std::uint16_t units = n.Get(regs::UnitCount);
    const std::uint16_t firmware = n.Get(regs::Firmware);

    StationWrite(n, regs::ServiceCommand, 0x0055, 2.0);
    EXPECT_EQ(n.Get(regs::ServiceCommand), 0);
    for (int k = 0; k < kUnits; ++k) {
        EXPECT_EQ(n.Get(regs::Config(k)), 0);
        EXPECT_EQ(n.Get(regs::Outputs(k)), 0);
        EXPECT_EQ(n.Get(regs::DelayOn1(k)), 0);
        EXPECT_EQ(n.Get(regs::StartSources(k)), 0);
        EXPECT_EQ(n.Get(regs::BlockSources(k)), 0);
    }
    EXPECT_EQ(n.Get(regs::Address), 9) << "it still answers at its own address";
    EXPECT_EQ(n.Get(regs::UnitCount), units);
    EXPECT_EQ(n.Get(regs::Firmware), firmware);
    EXPECT_EQ(n.Get(regs::Faults(2)), 0x0010);
}

TEST(UnitNetworkCommands, UnknownServiceCommandOnlyClearsTheRegister) {
    UnitNetwork n(Quiet());
    const auto before = n.Registers();
    StationWrite(n, regs::ServiceCommand, 0x0012, 1.0);
    EXPECT_EQ(n.Registers(), before);
}

TEST(UnitNetworkQuiet, NothingChangesByItself) {
    UnitNetwork n(Quiet(10), 0.0);
    const auto before = n.Registers();
    for (double t = 0.5; t < 500.0; t += 0.5)
        n.Advance(t);
    EXPECT_EQ(n.Registers(), before);
    // A station's forced output stays as well.
    StationWrite(n, regs::Outputs(2), 0x0001, 501.0);
    n.Advance(900.0);
    EXPECT_EQ(n.Get(regs::Outputs(2)), 0x0001);
}

TEST(UnitNetworkScenario, FireStartsDrivesAfterTheirDelays) {
    const double period = 100.0;
    UnitNetwork n(Scenario(4, period), 0.0);
    const int fire = n.ScenarioFireUnit();
    ASSERT_EQ(fire, 1);
    const double fireAt = UnitNetwork::kFireOn * period;

    n.Advance(fireAt - 0.1);
    EXPECT_FALSE(Bit(n, regs::Inputs(fire), 0));
    EXPECT_FALSE(n.Started(1));

    n.Advance(fireAt + 0.1);
    EXPECT_TRUE(Bit(n, regs::Inputs(fire), 0));
    EXPECT_TRUE(n.FireLatched(fire));
    EXPECT_TRUE(n.Started(1));
    EXPECT_TRUE(n.Started(2)) << "module 2 takes its start from module 1";
    EXPECT_FALSE(n.Started(3)) << "module 3 only starts on the command signal";
    EXPECT_TRUE(Bit(n, regs::Outputs(0), 8)) << "relay Пуск";
    EXPECT_FALSE(Bit(n, regs::Outputs(1), 0)) << "not before its switch-on delay";

    const double delay1 = n.Get(regs::DelayOn1(1));
    n.Advance(fireAt + delay1 - 0.05);
    EXPECT_FALSE(Bit(n, regs::Outputs(1), 0));
    n.Advance(fireAt + delay1 + 0.05);
    EXPECT_TRUE(Bit(n, regs::Outputs(1), 0));
    EXPECT_FALSE(Bit(n, regs::Outputs(1), 1)) << "one drive only";

    // The drive answers on input 2 a moment after its output came on.
    const double lag = n.Settings().feedbackLag;
    n.Advance(fireAt + delay1 + lag - 0.1);
    EXPECT_FALSE(Bit(n, regs::Inputs(1), 1));
    n.Advance(fireAt + delay1 + lag + 0.1);
    EXPECT_TRUE(Bit(n, regs::Inputs(1), 1));

    const double delay2 = n.Get(regs::DelayOn1(2));
    n.Advance(fireAt + delay2 - 0.05);
    EXPECT_FALSE(Bit(n, regs::Outputs(2), 0));
    n.Advance(fireAt + delay2 + 0.05);
    EXPECT_TRUE(Bit(n, regs::Outputs(2), 0));
}

TEST(UnitNetworkScenario, FaultComesAndGoesWithTheFaultRelay) {
    const double period = 100.0;
    UnitNetwork n(Scenario(4, period), 0.0);
    const int unit = n.ScenarioFaultUnit();
    ASSERT_EQ(unit, 3);
    n.Advance(UnitNetwork::kFaultOn * period + 0.1);
    EXPECT_EQ(n.Get(regs::Faults(unit)), UnitNetwork::kScenarioFault);
    EXPECT_TRUE(Bit(n, regs::Outputs(0), 11)) << "relay Неисправность";
    n.Advance(UnitNetwork::kFaultOff * period + 0.1);
    EXPECT_EQ(n.Get(regs::Faults(unit)), 0);
    EXPECT_FALSE(Bit(n, regs::Outputs(0), 11));
}

TEST(UnitNetworkScenario, AlarmLatchesUntilTheLocalReset) {
    const double period = 100.0;
    UnitNetwork n(Scenario(4, period), 0.0);
    n.Advance(UnitNetwork::kFireOff * period + 0.1);
    EXPECT_FALSE(Bit(n, regs::Inputs(1), 0)) << "the detector has gone quiet";
    EXPECT_TRUE(n.Started(1)) << "the alarm holds";
    n.Advance(UnitNetwork::kLocalReset * period + 0.1);
    EXPECT_FALSE(n.Started(1));
    EXPECT_EQ(n.Get(regs::Outputs(1)) & 3, 0);
    EXPECT_FALSE(Bit(n, regs::Outputs(0), 8));
    // The next cycle starts the same way.
    n.Advance(period + UnitNetwork::kFireOn * period + 0.1);
    EXPECT_TRUE(n.Started(1));
}

TEST(UnitNetworkScenario, StationResetStopsTheAlarmAtOnce) {
    const double period = 100.0;
    UnitNetwork n(Scenario(4, period), 0.0);
    const double t = UnitNetwork::kFireOn * period + 20.0;
    n.Advance(t);
    ASSERT_TRUE(Bit(n, regs::Outputs(1), 0));
    StationWrite(n, regs::ServiceCommand, 0x00AA, t + 0.1);
    EXPECT_FALSE(n.Started(1));
    EXPECT_EQ(n.Get(regs::Outputs(1)) & 3, 0);
    n.Advance(t + 10.0);
    EXPECT_EQ(n.Get(regs::Outputs(1)) & 3, 0) << "no restart while the detector stays active";
}

TEST(UnitNetworkScenario, CommandSignalStartsItsUnitsAndBlocksOthers) {
    const double period = 100.0;
    UnitNetwork n(Scenario(4, period), 0.0);
    n.Advance(1.0);
    StationWrite(n, regs::CommandSignal, 0x00AA, 1.0);
    EXPECT_TRUE(n.Started(0)) << "the master takes the command-signal input";
    EXPECT_TRUE(n.Started(3));
    EXPECT_FALSE(n.Started(1));
    EXPECT_FALSE(Bit(n, regs::Outputs(0), 9)) << "relay Останов drops with the start";
    // Module 2 is blocked while module 3 runs, even when its own source fires.
    n.Advance(UnitNetwork::kFireOn * period + 0.1);
    EXPECT_TRUE(n.Started(1));
    EXPECT_FALSE(n.Started(2));
    // Two drives: the second output follows its own delay.
    const double on2 = n.Get(regs::DelayOn2(3));
    n.Advance(1.0 + on2 + 0.1);
    EXPECT_TRUE(Bit(n, regs::Outputs(3), 1));

    StationWrite(n, regs::CommandSignal, 0x0055, 30.0);
    EXPECT_FALSE(n.Started(3));
    EXPECT_TRUE(n.Started(2)) << "the blocking is gone";
    EXPECT_TRUE(Bit(n, regs::Outputs(0), 9));
    const double off2 = n.Get(regs::DelayOff2(3));
    n.Advance(30.0 + off2 + 0.1);
    EXPECT_FALSE(Bit(n, regs::Outputs(3), 1));
}

TEST(UnitNetworkScenario, ForcedRelayStaysUntilItsEventChanges) {
    const double period = 100.0;
    UnitNetwork n(Scenario(4, period), 0.0);
    // "Автоматика отключена" has no event of its own: a hand-switched relay stays.
    StationWrite(n, regs::Outputs(0), n.Get(regs::Outputs(0)) | 0x0400, 1.0);
    n.Advance(UnitNetwork::kLocalReset * period - 1.0);
    EXPECT_TRUE(Bit(n, regs::Outputs(0), 10));
    // "Неисправность" switched off by hand while the fault stays: it stays off until the fault
    // goes and comes again.
    n.Advance(UnitNetwork::kFaultOn * period + 0.1 + period);
    ASSERT_TRUE(Bit(n, regs::Outputs(0), 11));
    const double t = UnitNetwork::kFaultOn * period + 1.0 + period;
    StationWrite(n, regs::Outputs(0), n.Get(regs::Outputs(0)) & ~0x0800, t);
    n.Advance(t + 5.0);
    EXPECT_FALSE(Bit(n, regs::Outputs(0), 11));
}

TEST(UnitNetworkScenario, UnitTakenOutOfUseDoesNotStart) {
    const double period = 100.0;
    UnitNetwork n(Scenario(4, period), 0.0);
    StationWrite(n, regs::Config(2), n.Get(regs::Config(2)) & ~0x3F, 1.0);
    n.Advance(UnitNetwork::kFireOn * period + 40.0);
    EXPECT_FALSE(n.Started(2));
    EXPECT_EQ(n.Get(regs::Outputs(2)) & 3, 0);
}

TEST(UnitNetworkScenario, ControlChannelFireDetectorRaisesTheAlarm) {
    UnitNetwork n(Scenario(4, 1000.0), 0.0);
    n.Set(regs::Inputs(3), n.Get(regs::Inputs(3)) | 1, 5.0);
    EXPECT_TRUE(n.FireLatched(3));
    EXPECT_FALSE(n.FireLatched(2));
}

TEST(UnitNetworkScenario, LongPauseIsCaughtUpQuickly) {
    const double period = 10.0;
    UnitNetwork n(Scenario(10, period), 0.0);
    // A million cycles later the scenario is where the clock says, without replaying them all.
    n.Advance(1e7 + (UnitNetwork::kFireOn + 0.05) * period);
    EXPECT_TRUE(Bit(n, regs::Inputs(n.ScenarioFireUnit()), 0));
    n.Advance(1e7 + (UnitNetwork::kFireOff + 0.01) * period);
    EXPECT_FALSE(Bit(n, regs::Inputs(n.ScenarioFireUnit()), 0));
}

TEST(UnitNetworkScenario, SwitchingOffFreezesTheImage) {
    UnitNetwork n(Scenario(4, 10.0), 0.0);
    n.Advance(1.05);
    n.SetScenario(false, 1.05);
    const auto frozen = n.Registers();
    for (double t = 1.1; t < 50.0; t += 0.3)
        n.Advance(t);
    EXPECT_EQ(n.Registers(), frozen);
}
