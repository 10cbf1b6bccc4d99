// Writing from a file: the plan, then the real poll engine writing it to a scripted unit through
// the window's binding, as the station does. The unit ends with the file's settings, only the
// registers of the plan were written, each once, and their number is the one the question named.
#include "WritePlan.h"
#include "RecordsRig.h"
#include "RussianCount.h"
#include "ScriptedHost.h"

#include <gtest/gtest.h>

#include <random>

using namespace korvan;
using namespace korvan::records;

namespace {

const SettingsCatalogue& Settings() {
    return records::Catalogue();
}

std::vector<bool> All(const Comparison& comparison) {
    return std::vector<bool>(comparison.differences.size(), true);
}

// The registers a unit back at factory values holds: no settings, but the status and the bits
// that no control owns as they were.
RegisterImage Factory(const RegisterImage& from) {
    RegisterImage image = from;
    for (int reg = 0; reg < 116; ++reg) {
        const std::uint16_t owned = Settings().owned[reg];
        if (IsNetworkRegister(reg)) continue;
        SetRegisterValue(image, reg, static_cast<std::uint16_t>(RegisterValue(from, reg) & ~owned));
    }
    return image;
}

TEST(WritePlan, FileWrittenThroughTheEngineChangesExactlyThePlannedRegisters) {
    const RegisterImage saved = rig::ThreeUnits();
    const SettingsRecord file = CaptureSettings(saved, Settings().owned, rig::Facts());

    korvan::test::Rig rig;
    rig.unit.registers = Factory(saved);
    SetRegisterValue(rig.unit.registers, reg::NetworkTimeout,
                     250); // changed by hand, never written
    rig.Connect();
    ASSERT_EQ(rig.engine.ReadCount(), 116);
    const RegisterImage before = rig.unit.registers;

    WindowControls controls;
    ImageToControls(rig.engine.ShownImage(), controls);
    RegisterImage wanted = rig.engine.ShownImage();
    ControlsToImage(controls, wanted);

    const Comparison comparison = CompareSettings(file, rig.engine.ShownImage(), Settings().pieces);
    const WritePlan plan =
        PlanWrite(comparison, All(comparison), wanted,
                  [&](const RegisterImage& image) { return rig::ThroughBinding(wanted, image); });
    EXPECT_EQ(plan.skippedByHand, 1);
    EXPECT_TRUE(plan.unshowable.empty());
    // Configuration, four delays, start sources and blockings of three units.
    ASSERT_EQ(plan.writes.size(), 21u);
    EXPECT_EQ(ConfirmationText(plan), "Будет изменён 21 параметр в 3 блоках. Продолжить?");

    RegisterImage shown = wanted;
    ApplyPlan(plan, shown);
    ImageToControls(shown, controls);
    // As the window hands the controls to the engine.
    RegisterImage chosen = rig.engine.WantedImage();
    ControlsToImage(controls, chosen);
    for (const Choice& choice : ChoicesBetween(rig.engine.WantedImage(), chosen))
        rig.engine.Choose(choice.reg, choice.mask, choice.value);
    for (int cycle = 0; cycle < 3 * 21 + 4; ++cycle)
        rig.Cycle();

    std::set<int> planned;
    for (const PlannedWrite& write : plan.writes)
        planned.insert(write.reg);
    EXPECT_EQ(rig.unit.writes.size(), plan.writes.size()) << "a register written twice";
    EXPECT_EQ(std::set<int>(rig.unit.writes.begin(), rig.unit.writes.end()), planned);
    for (int reg = 0; reg < 116; ++reg) {
        SCOPED_TRACE(reg);
        const std::uint16_t owned = planned.contains(reg) ? Settings().owned[reg] : 0;
        const std::uint16_t expected = static_cast<std::uint16_t>(
            (RegisterValue(before, reg) & ~owned) | (RegisterValue(saved, reg) & owned));
        EXPECT_EQ(RegisterValue(rig.unit.registers, reg), expected);
    }
    const WriteProgress progress = MeasureProgress(
        plan, planned, std::set<int>(rig.unit.writes.begin(), rig.unit.writes.end()),
        rig.engine.ShownImage());
    EXPECT_EQ(progress.written, 21);
    EXPECT_EQ(progress.confirmed, 21);
    EXPECT_EQ(progress.left, 0);
}

// Whatever a difference claims, the network settings, the status, version, spare and command
// registers and anything past 115 never get into a plan.
TEST(WritePlan, ForbiddenRegistersNeverGetIn) {
    Comparison comparison;
    for (int reg = 0; reg < kRegisterCount; ++reg)
        comparison.differences.push_back({0, reg, 0xFFFF, 0x1234, 0, 0, DifferenceKind::Writable});
    const WritePlan plan = PlanWrite(comparison, All(comparison), RegisterImage{},
                                     [](const RegisterImage& image) { return image; });
    std::set<int> planned;
    for (const PlannedWrite& write : plan.writes)
        planned.insert(write.reg);
    for (int reg = 0; reg < kRegisterCount; ++reg) {
        const bool forbidden =
            (reg >= 80 && reg <= 95) || reg >= 116 || (reg < 80 && (reg % 8 == 1 || reg % 8 == 2));
        EXPECT_EQ(planned.contains(reg), !forbidden) << "register " << reg;
    }
}

// Absent units and units on another firmware major version are named and written nothing; a
// value the window cannot show is left out rather than written as something else.
TEST(WritePlan, AbsentOtherFirmwareAndUnshowableStayOut) {
    RegisterImage saved = rig::ThreeUnits();
    SetRegisterValue(saved, reg::UnitBlock(2) + 4, 77);
    SettingsRecord file = CaptureSettings(saved, Settings().owned, rig::Facts());
    file.units[1].firmwareMajor = 4;

    RegisterImage now = Factory(saved);
    now[byte::UnitCount] = 2; // module 2 has gone
    // Contact type 3 has no button: the master's configuration cannot go through the window.
    file.units[0].registers[0].value = 0x5742;

    const Comparison comparison = CompareSettings(file, now, Settings().pieces);
    EXPECT_EQ(comparison.absentUnits, std::vector<int>{2});
    EXPECT_EQ(comparison.otherFirmwareUnits, std::vector<int>{1});
    const WritePlan plan =
        PlanWrite(comparison, All(comparison), now,
                  [&](const RegisterImage& image) { return rig::ThroughBinding(now, image); });
    for (const PlannedWrite& write : plan.writes)
        EXPECT_EQ(write.unit, 0) << "register " << write.reg;
    ASSERT_EQ(plan.unshowable.size(), 1u);
    EXPECT_EQ(plan.unshowable[0].reg, 0);
    EXPECT_EQ(plan.writes.size(), 6u); // four delays, start sources and blockings of the master
}

// Counts read as Russian: the noun and the verb agree with the number.
TEST(WritePlan, CountsTakeTheirRussianForms) {
    const std::pair<int, const char*> cases[] = {
        {1, "1 параметр"},     {2, "2 параметра"},      {4, "4 параметра"},
        {5, "5 параметров"},   {11, "11 параметров"},   {12, "12 параметров"},
        {14, "14 параметров"}, {21, "21 параметр"},     {22, "22 параметра"},
        {0, "0 параметров"},   {111, "111 параметров"}, {101, "101 параметр"},
    };
    for (const auto& [count, text] : cases)
        EXPECT_EQ(Counted(count, kParameters), text);
    WritePlan plan;
    plan.writes.push_back({0, 4, 0xFFFF, 1});
    EXPECT_EQ(ConfirmationText(plan), "Будет изменён 1 параметр в 1 блоке. Продолжить?");
    plan.writes.push_back({1, 12, 0xFFFF, 1});
    EXPECT_EQ(ConfirmationText(plan), "Будут изменены 2 параметра в 2 блоках. Продолжить?");
}

// A file saved for slave 7 on another port at 19200 with units 0-1, against slave 1 with four
// units: every difference of the network is named, at the top and in the question.
TEST(WritePlan, FileOfAnotherNetworkIsNamedBeforeWriting) {
    SettingsRecord file = CaptureSettings(
        rig::ThreeUnits(), Settings().owned,
        {"2026-12-09T10:15:00.000+03:00", "KORVAN PRO 3.01", "/dev/ttyS1", 19200, 7});
    file.units.resize(2);
    RegisterImage now = rig::ThreeUnits();
    now[byte::UnitCount] = 4;
    const Comparison comparison = CompareSettings(file, now, Settings().pieces);
    const std::vector<std::string> mismatch = NetworkMismatch(file, rig::Facts(), comparison);
    EXPECT_EQ(mismatch, (std::vector<std::string>{
                            "адрес ведомого: в файле 7, сейчас 1",
                            "порт: в файле /dev/ttyS1, сейчас /dev/ttyUSB0",
                            "скорость: в файле 19200 бит/с, сейчас 9600 бит/с",
                            "в сети, но нет в файле: ЗОКТ-МР №2, ЗОКТ-МР №3",
                        }));
    WritePlan plan;
    plan.writes.push_back({0, 4, 0xFFFF, 1});
    const std::string question = ConfirmationText(plan, mismatch);
    for (const std::string& line : mismatch)
        EXPECT_NE(question.find(line), std::string::npos) << question;

    file.slaveAddress = 1;
    file.port = "/dev/ttyUSB0";
    file.speed = 9600;
    file.units = CaptureSettings(now, Settings().owned, rig::Facts()).units;
    file.units.erase(file.units.begin() + 1);
    file.units.push_back(file.units.back());
    file.units.back().unit = 5;
    EXPECT_EQ(NetworkMismatch(file, rig::Facts(), CompareSettings(file, now, Settings().pieces)),
              (std::vector<std::string>{"в файле, но нет в сети: ЗОКТ-МР №5",
                                        "в сети, но нет в файле: ЗОКТ-МР №1"}));
}

} // namespace
