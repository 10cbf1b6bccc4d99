// Examples that pin the bit layout of every section and the cases the controls cannot show.
#include "Binding.h"
#include "ControlsTestSupport.h"
#include "DriveType.h"
#include "ListItems.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace korvan {
namespace {

RegisterImage ImageWith(std::initializer_list<std::pair<int, std::uint16_t>> registers) {
    RegisterImage image{};
    for (const auto& [r, v] : registers)
        SetRegisterValue(image, r, v);
    return image;
}

WindowControls Shown(const RegisterImage& image, WindowControls w = {}) {
    ImageToControls(image, w);
    return w;
}

RegisterImage ReadBack(const WindowControls& w, RegisterImage image) {
    ControlsToImage(w, image);
    return image;
}

std::uint16_t ReadBackRegister(const WindowControls& w, const RegisterImage& image, int r) {
    return RegisterValue(ReadBack(w, image), r);
}

// ---- drive types and list items -------------------------------------------------------------

TEST(DriveType, MapsEveryItemBothWays) {
    const int codes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 21, 22, 30};
    for (int i = 0; i < kDriveTypeItems; ++i) {
        EXPECT_EQ(DriveTypeCode(i), codes[i]) << i;
        EXPECT_EQ(DriveTypeIndex(codes[i]), i) << codes[i];
    }
    for (int code : {9, 10, 13, 20, 23, 29, 31, 63, 255})
        EXPECT_EQ(DriveTypeIndex(code), 255) << code;
    for (int index : {-1, 14, 63, 255})
        EXPECT_EQ(DriveTypeCode(index), 0) << index;
    // Arguments count as bytes.
    EXPECT_EQ(DriveTypeCode(256 + 9), 11);
    EXPECT_EQ(DriveTypeIndex(256 + 30), 13);
}

TEST(ListItems, ThreeDigitPrefixIsTheStoredNumber) {
    char prefix[8];
    for (int i = 0; i < kDriveTypeItems; ++i) {
        std::snprintf(prefix, sizeof prefix, "%03d ", DriveTypeCode(i));
        EXPECT_TRUE(kDriveTypeTexts[i].starts_with(prefix)) << kDriveTypeTexts[i];
    }
    for (std::size_t i = 0; i < kPanelTypeTexts.size(); ++i) {
        std::snprintf(prefix, sizeof prefix, "%03zu ", i);
        EXPECT_TRUE(kPanelTypeTexts[i].starts_with(prefix)) << kPanelTypeTexts[i];
    }
}

// ---- CTRL ----------------------------------------------------------------------------------

TEST(CommonSection, PuskIsRedOnlyForExactly170) {
    for (auto [value, colour] : std::vector<std::pair<std::uint16_t, Colour>>{
             {170, kRed}, {85, kGreen}, {0, kGreen}, {0x01AA, kGreen}})
        EXPECT_EQ(Shown(ImageWith({{reg::CommandSignal, value}})).ctrl.PUSK, colour) << value;
}

TEST(CommonSection, FirmwareLabel) {
    for (auto [value, text] :
         std::vector<std::pair<std::uint16_t, std::string>>{{0x0228, "1.xx или 2.xx"},
                                                            {0x0000, "1.xx или 2.xx"},
                                                            {0x0300, "3.00"},
                                                            {0x0305, "3.05"},
                                                            {0x030C, "3.12"},
                                                            {0x0A07, "10.07"},
                                                            {0x0378, "3.120"}})
        EXPECT_EQ(Shown(ImageWith({{reg::Firmware, value}})).ctrl.VER, text) << value;
}

// The address owns its whole register: what is typed is written with a high byte of 0.
TEST(CommonSection, AddressTakesOneTo127AsTheWholeRegister) {
    const RegisterImage image = ImageWith({{reg::NetworkAddress, 0x1242}});
    WindowControls w;
    for (auto [text, expected] :
         std::vector<std::pair<std::string, std::uint16_t>>{{"127", 0x007F},
                                                            {"1", 0x0001},
                                                            {"$10", 0x0010},
                                                            {"128", 0x1242},
                                                            {"0", 0x1242},
                                                            {"-5", 0x1242},
                                                            {"12a", 0x1242},
                                                            {"4674", 0x1242},
                                                            {"", 0x1242}}) {
        w.ctrl.ADR = text;
        EXPECT_EQ(ReadBackRegister(w, image, reg::NetworkAddress), expected) << text;
    }
    EXPECT_EQ(Shown(ImageWith({{reg::NetworkAddress, 300}})).ctrl.ADR, "300");
}

TEST(CommonSection, TimeoutTakesOneTo5000) {
    const RegisterImage image = ImageWith({{reg::NetworkTimeout, 3000}});
    WindowControls w;
    for (auto [text, expected] : std::vector<std::pair<std::string, std::uint16_t>>{
             {"5000", 0x1388}, {"1", 1}, {"5001", 3000}, {"", 3000}, {"0", 3000}, {"-1", 3000}}) {
        w.ctrl.DEL = text;
        EXPECT_EQ(ReadBackRegister(w, image, reg::NetworkTimeout), expected) << text;
    }
    EXPECT_EQ(Shown(ImageWith({{reg::NetworkTimeout, 65535}})).ctrl.DEL, "65535");
}

TEST(CommonSection, ListsShowOnlyTheirItemsAndAnEmptyListKeepsTheUnitsValue) {
    WindowControls w = Shown(ImageWith({{reg::PanelType, 2}, {reg::NetworkSpeed, 6}}));
    EXPECT_EQ(w.ctrl.PANEL.index, 2);
    EXPECT_EQ(w.ctrl.SPD.index, 6);

    const RegisterImage odd = ImageWith({{reg::PanelType, 7}, {reg::NetworkSpeed, 9}});
    w = Shown(odd, w);
    EXPECT_EQ(w.ctrl.PANEL.index, -1);
    EXPECT_EQ(w.ctrl.SPD.index, -1);
    RegisterImage back = ReadBack(w, odd);
    EXPECT_EQ(RegisterValue(back, reg::PanelType), 7);
    EXPECT_EQ(RegisterValue(back, reg::NetworkSpeed), 9);

    w.ctrl.PANEL.index = 1;
    w.ctrl.SPD.index = 4;
    back = ReadBack(w, odd);
    EXPECT_EQ(RegisterValue(back, reg::PanelType), 1);
    EXPECT_EQ(RegisterValue(back, reg::NetworkSpeed), 4);
}

// A list held open is set (the window shows it once it closes) but not read back; a chosen item
// owns the whole register.
TEST(CommonSection, ListsHeldOpenAreNotReadAndAChoiceOwnsTheWholeRegister) {
    WindowControls w;
    w.ctrl.PANEL = {1, true};
    w.ctrl.SPD = {1, true};
    w = Shown(ImageWith({{reg::PanelType, 3}, {reg::NetworkSpeed, 5}}), w);
    EXPECT_EQ(w.ctrl.PANEL.index, 3);
    EXPECT_EQ(w.ctrl.SPD.index, 5);

    const RegisterImage unit = ImageWith({{reg::PanelType, 0x5503}, {reg::NetworkSpeed, 0x0103}});
    w.ctrl.PANEL.index = 1;
    w.ctrl.SPD.index = 2;
    RegisterImage back = ReadBack(w, unit);
    EXPECT_EQ(RegisterValue(back, reg::PanelType), 0x5503);
    EXPECT_EQ(RegisterValue(back, reg::NetworkSpeed), 0x0103);
    w.ctrl.PANEL.droppedDown = false;
    w.ctrl.SPD.droppedDown = false;
    back = ReadBack(w, unit);
    EXPECT_EQ(RegisterValue(back, reg::PanelType), 0x0001);
    EXPECT_EQ(RegisterValue(back, reg::NetworkSpeed), 0x0002);
    // A speed the list cannot show is left alone while untouched.
    EXPECT_EQ(ReadBackRegister(Shown(unit), unit, reg::NetworkSpeed), 0x0103);
}

TEST(CommonSection, ParityTheButtonsCannotShowIsKept) {
    WindowControls w = Shown(ImageWith({{reg::NetworkParity, 1}}));
    EXPECT_EQ(w.ctrl.parity, 1);
    w = Shown(ImageWith({{reg::NetworkParity, 2}}), w);
    EXPECT_EQ(w.ctrl.parity, 2);

    const RegisterImage odd = ImageWith({{reg::NetworkParity, 5}});
    w = Shown(odd, w);
    EXPECT_EQ(w.ctrl.parity, 2); // left as it was
    EXPECT_EQ(ReadBackRegister(w, odd, reg::NetworkParity), 5);

    w.ctrl.parity = -1;
    EXPECT_EQ(ReadBackRegister(w, ImageWith({{reg::NetworkParity, 2}}), reg::NetworkParity), 2);
    w.ctrl.parity = 0;
    EXPECT_EQ(ReadBackRegister(w, ImageWith({{reg::NetworkParity, 2}}), reg::NetworkParity), 0);
}

// ---- indicators ----------------------------------------------------------------------------

std::map<std::string, Colour> Indicators(const WindowControls& w, int k) {
    const UnitControls& u = w.unit[k];
    const std::string suffix = "_" + std::to_string(k);
    std::map<std::string, Colour> all{
        {"OUT1" + suffix, u.OUT[0]}, {"OUT2" + suffix, u.OUT[1]}, {"STATE" + suffix, u.STATE}};
    for (int i = 0; i < 5; ++i)
        all["IN" + std::to_string(i + 1) + suffix] = u.IN[i];
    if (k == 0) {
        for (int i = 0; i < 4; ++i)
            all["RELAY" + std::to_string(i + 1)] = w.master.RELAY[i];
        all["CS1"] = w.master.CS1;
        all["CS2"] = w.master.CS2;
        all["CU1"] = w.master.CU1;
        all["CU2"] = w.master.CU2;
    }
    return all;
}

struct IndicatorCase {
    std::uint16_t faults, inputs, outputs;
    std::map<std::string, Colour> lit; // every other indicator is green
};

void ExpectIndicators(int k, const std::vector<IndicatorCase>& cases) {
    const int base = reg::UnitBlock(k);
    for (const IndicatorCase& c : cases) {
        const WindowControls w = Shown(ImageWith({{base + reg::UnitFaults, c.faults},
                                                  {base + reg::UnitInputs, c.inputs},
                                                  {base + reg::UnitOutputs, c.outputs}}));
        auto expected = Indicators(WindowControls{}, k);
        for (const auto& [name, colour] : c.lit)
            expected.at(name) = colour;
        EXPECT_EQ(Indicators(w, k), expected) << std::hex << "unit " << k << " F=" << c.faults
                                              << " I=" << c.inputs << " O=" << c.outputs;
    }
}

TEST(Indicators, MasterEveryBitLightsItsOwnIndicatorAndAFaultWins) {
    const Colour Y = kYellow, R = kRed;
    ExpectIndicators(
        0,
        {
            {0x0001, 0, 0, {{"OUT1_0", Y}, {"STATE_0", Y}}},
            {0x0002, 0, 0, {{"OUT2_0", Y}, {"STATE_0", Y}}},
            {0x0004, 0, 0, {{"CS1", Y}, {"STATE_0", Y}}},
            {0x0008, 0, 0, {{"CS2", Y}, {"STATE_0", Y}}},
            {0x00F0,
             0,
             0,
             {{"IN1_0", Y}, {"IN2_0", Y}, {"IN3_0", Y}, {"IN4_0", Y}, {"STATE_0", Y}}},
            {0x0100, 0, 0, {{"IN5_0", Y}, {"STATE_0", Y}}},
            {0x8000, 0, 0, {{"STATE_0", Y}}},
            {0, 0x0001, 0, {{"IN1_0", R}}},
            {0, 0x0010, 0, {{"IN5_0", R}}},
            {0, 0x3300, 0, {{"CS1", R}, {"CS2", R}, {"CU1", R}, {"CU2", R}}},
            {0, 0xCCE0, 0, {}},
            {0, 0, 0x0001, {{"OUT1_0", R}}},
            {0, 0, 0x0002, {{"OUT2_0", R}}},
            {0, 0, 0x0A00, {{"RELAY2", R}, {"RELAY4", R}}},
            {0, 0, 0x0500, {{"RELAY1", R}, {"RELAY3", R}}},
            {0, 0, 0xF0FC, {}},
            {0x0001, 0, 0x0001, {{"OUT1_0", Y}, {"STATE_0", Y}}},
            {0x0100, 0x0010, 0, {{"IN5_0", Y}, {"STATE_0", Y}}},
            {0x000C, 0x3300, 0, {{"CS1", Y}, {"CS2", Y}, {"CU1", R}, {"CU2", R}, {"STATE_0", Y}}},
        });
}

TEST(Indicators, ModuleFollowsTheSameRuleWithoutCommandSignals) {
    const Colour Y = kYellow, R = kRed;
    ExpectIndicators(
        4, {
               {0x0004, 0, 0, {{"STATE_4", Y}}},
               {0x0008, 0x0300, 0, {{"STATE_4", Y}}},
               {0x0022,
                0x0003,
                0x0001,
                {{"OUT1_4", R}, {"OUT2_4", Y}, {"IN1_4", R}, {"IN2_4", Y}, {"STATE_4", Y}}},
               {0x0100, 0x0010, 0, {{"IN5_4", Y}, {"STATE_4", Y}}},
               {0,
                0x001F,
                0xFFFC,
                {{"IN1_4", R}, {"IN2_4", R}, {"IN3_4", R}, {"IN4_4", R}, {"IN5_4", R}}},
           });
}

TEST(Indicators, ForcedOutputsAndRelaysReachTheirBits) {
    WindowControls w;
    w.master.RELAY = {kGreen, kRed, kGreen, kRed};
    w.unit[0].OUT = {kRed, kGreen};
    w.unit[7].OUT = {kGreen, kRed};
    const RegisterImage base = ImageWith({{reg::UnitOutputs, 0xF0FC}, {59, 0xFFFD}});
    const RegisterImage back = ReadBack(w, base);
    EXPECT_EQ(RegisterValue(back, reg::UnitOutputs), 0xFAFD);
    EXPECT_EQ(RegisterValue(back, 59), 0xFFFE);
}

TEST(Indicators, AnIndicatorNeitherRedNorGreenKeepsTheOutputAsItIs) {
    for (Colour colour : {kYellow, kGrey}) {
        for (bool on : {false, true}) {
            WindowControls w;
            w.unit[0].OUT = {colour, colour};
            w.unit[3].OUT = {colour, colour};
            w.master.RELAY = {colour, colour, colour, colour};
            const std::uint16_t master = on ? 0x0F03 : 0x0000;
            const std::uint16_t module = on ? 0x0003 : 0x0000;
            const RegisterImage image =
                ImageWith({{reg::UnitOutputs, master}, {reg::UnitBlock(3) + 3, module}});
            const RegisterImage back = ReadBack(w, image);
            EXPECT_EQ(RegisterValue(back, reg::UnitOutputs), master) << std::hex << colour;
            EXPECT_EQ(RegisterValue(back, reg::UnitBlock(3) + 3), module) << std::hex << colour;
        }
    }
}

// ---- UnitConfig ----------------------------------------------------------------------------

TEST(UnitConfig, Master0x0005) {
    const RegisterImage image = ImageWith({{reg::UnitConfig, 0x0005}});
    const WindowControls w = Shown(image);
    const UnitControls& u = w.unit[0];
    EXPECT_EQ(kDriveTypeTexts[u.Ut.index], "005 реверсивный клапан");
    EXPECT_EQ(u.drives, 0);
    EXPECT_TRUE(u.Cd);
    EXPECT_EQ(u.contact, 0);
    EXPECT_EQ(w.master.csContact, 0);
    EXPECT_EQ(u.O, (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ(ReadBackRegister(w, image, reg::UnitConfig), 0x0005);
}

TEST(UnitConfig, Master0x008BThenAnotherDriveType) {
    const RegisterImage image = ImageWith({{reg::UnitConfig, 0x008B}});
    WindowControls w = Shown(image);
    EXPECT_EQ(w.unit[0].Ut.index, 9);
    EXPECT_EQ(w.unit[0].drives, 0);
    EXPECT_FALSE(w.unit[0].Cd);

    w.unit[0].Ut.index = 13; // "030 режим ввода-вывода"
    w.unit[0].drives = 1;
    w.unit[0].Cd = true;
    EXPECT_EQ(ReadBackRegister(w, image, reg::UnitConfig), 0x005E);
}

TEST(UnitConfig, Master0x5900) {
    const WindowControls w = Shown(ImageWith({{reg::UnitConfig, 0x5900}}));
    EXPECT_EQ(w.unit[0].contact, 1);
    EXPECT_EQ(w.unit[0].O, (std::array<bool, 4>{true, false, false, true}));
    EXPECT_EQ(w.master.csContact, 1);
}

TEST(UnitConfig, Module0x0000And0xBCC1) {
    WindowControls w = Shown(ImageWith({{reg::UnitBlock(4), 0x0000}}));
    const UnitControls& u = w.unit[4];
    EXPECT_EQ(u.Ut.index, 0);
    EXPECT_EQ(u.drives, 0);
    EXPECT_TRUE(u.Cd);
    EXPECT_EQ(u.contact, 0);
    EXPECT_EQ(u.O, (std::array<bool, 4>{true, true, true, true}));

    const RegisterImage image = ImageWith({{reg::UnitBlock(4), 0xBCC1}});
    w = Shown(image, w);
    EXPECT_EQ(u.Ut.index, 1);
    EXPECT_EQ(u.drives, 1);
    EXPECT_FALSE(u.Cd);
    EXPECT_EQ(u.contact, 0);
    EXPECT_EQ(u.O, (std::array<bool, 4>{false, false, false, false}));
    EXPECT_EQ(ReadBackRegister(w, image, reg::UnitBlock(4)), 0xBCC1);
}

TEST(UnitConfig, ModuleKeepsBits14And15AndMasterWritesCommandContact) {
    WindowControls w = Shown(ImageWith({}));
    w.unit[6].contact = 2;
    w.master.csContact = 2;
    const RegisterImage back =
        ReadBack(w, ImageWith({{reg::UnitBlock(6), 0xC000}, {reg::UnitConfig, 0x4000}}));
    EXPECT_EQ(RegisterValue(back, reg::UnitBlock(6)), 0xC200);
    EXPECT_EQ(RegisterValue(back, reg::UnitConfig), 0x8000);
}

TEST(UnitConfig, NothingSelectedWritesOnlyWhatTheControlsSay) {
    // Before any image was shown: no drive count, no contact, no list item, boxes clear.
    const RegisterImage back = ReadBack(WindowControls{}, ImageWith({{reg::UnitBlock(1), 0x0145}}));
    EXPECT_EQ(RegisterValue(back, reg::UnitBlock(1)), 0x3D85);
}

TEST(UnitConfig, DriveListHeldOpenIsNotReadButTheOtherBitsAre) {
    for (int k : {0, 5}) {
        WindowControls w;
        w.unit[k].Ut = {3, true};
        const RegisterImage image = ImageWith({{reg::UnitBlock(k), 0x000B}});
        w = Shown(image, w);
        w.unit[k].Ut.index = 3;
        EXPECT_TRUE(w.unit[k].Cd) << k;
        w.unit[k].drives = 1;
        EXPECT_EQ(ReadBackRegister(w, image, reg::UnitBlock(k)), 0x004B) << k;
    }
}

TEST(UnitConfig, DriveCodeWithoutItemShowsNoItemAndIsKept) {
    const RegisterImage image = ImageWith({{reg::UnitBlock(2), 0x0009}, {reg::UnitConfig, 0x003F}});
    WindowControls w;
    w.unit[2].Ut.index = 4;
    w = Shown(image, w);
    EXPECT_EQ(w.unit[2].Ut.index, -1);
    EXPECT_EQ(w.unit[0].Ut.index, -1);
    RegisterImage back = ReadBack(w, image);
    EXPECT_EQ(RegisterValue(back, reg::UnitBlock(2)), 0x0009);
    EXPECT_EQ(RegisterValue(back, reg::UnitConfig), 0x003F);

    w.unit[2].Ut.index = 13;
    EXPECT_EQ(ReadBackRegister(w, image, reg::UnitBlock(2)), 0x001E);
}

TEST(UnitConfig, ContactType3ShowsNoButtonAndIsKeptUntilOneIsPicked) {
    WindowControls w = Shown(ImageWith({{reg::UnitConfig, 0x4100}, {reg::UnitBlock(2), 0x0100}}));
    ASSERT_EQ(w.unit[0].contact, 1);
    ASSERT_EQ(w.master.csContact, 1);
    ASSERT_EQ(w.unit[2].contact, 1);

    const RegisterImage three = ImageWith({{reg::UnitConfig, 0xC300}, {reg::UnitBlock(2), 0x0300}});
    w = Shown(three, w);
    EXPECT_EQ(w.unit[0].contact, -1);
    EXPECT_EQ(w.master.csContact, -1);
    EXPECT_EQ(w.unit[2].contact, -1);
    RegisterImage back = ReadBack(w, three);
    EXPECT_EQ(RegisterValue(back, reg::UnitConfig), 0xC300);
    EXPECT_EQ(RegisterValue(back, reg::UnitBlock(2)), 0x0300);

    w.unit[0].contact = 1;
    w.master.csContact = 2;
    w.unit[2].contact = 0;
    back = ReadBack(w, three);
    EXPECT_EQ(RegisterValue(back, reg::UnitConfig), 0x8100);
    EXPECT_EQ(RegisterValue(back, reg::UnitBlock(2)), 0x0000);
}

// ---- delays --------------------------------------------------------------------------------

TEST(Delays, TextsGoToTheirOwnRegisterByTheDelayRule) {
    const int base = reg::UnitBlock(8) + reg::DelayOn1;
    RegisterImage image{};
    for (int f = 0; f < 4; ++f) {
        SetRegisterValue(image, base + f, 0x1234);
        SetRegisterValue(image, reg::DelayOn1 + f, 0x1234);
    }
    for (auto [text, expected] :
         std::vector<std::pair<std::string, std::uint16_t>>{{"250", 0x00FA},
                                                            {"999", 0x03E7},
                                                            {"-1", 0x00FF},
                                                            {"-5", 0x00FB},
                                                            {"0", 0x0000},
                                                            {"1000", 0x03E8},
                                                            {"-300", 0xFFD4},
                                                            {"70000", 0x1170},
                                                            {"", 0x1234},
                                                            {"1a", 0x1234},
                                                            {"-", 0x1234}}) {
        for (int field = 0; field < 4; ++field) {
            WindowControls w = Shown(image);
            w.unit[8].delay[field] = text;
            w.unit[0].delay[field] = text;
            const RegisterImage back = ReadBack(w, image);
            for (int f = 0; f < 4; ++f)
                EXPECT_EQ(RegisterValue(back, base + f), f == field ? expected : 0x1234)
                    << '"' << text << "\" in field " << field;
            EXPECT_EQ(RegisterValue(back, reg::DelayOn1 + field), expected) << text;
        }
    }
}

TEST(Delays, RegisterShownInFull) {
    const int base = reg::UnitBlock(1) + reg::DelayOn1;
    const WindowControls w =
        Shown(ImageWith({{base, 1000}, {base + 1, 0x0100}, {base + 2, 65535}, {base + 3, 0}}));
    EXPECT_EQ(w.unit[1].delay, (std::array<std::string, 4>{"1000", "256", "65535", "0"}));
}

// ---- start sources and blockings -----------------------------------------------------------

TEST(Matrix, BoxesFollowTheirBitsAndTheRestComesBackAsItWas) {
    const RegisterImage image =
        ImageWith({{99, 0x0401}, {96, 0xF800}, {106, 0x0200}, {107, 0x0400}, {115, 0x0003}});
    const WindowControls w = Shown(image);
    EXPECT_EQ(w.unit[3].FIN, (std::array<bool, 10>{true}));
    EXPECT_TRUE(w.unit[3].FINA);
    EXPECT_EQ(w.unit[0].FIN, (std::array<bool, 10>{}));
    EXPECT_FALSE(w.unit[0].FINA);
    EXPECT_EQ(w.unit[0].BIN, (std::array<bool, 10>{0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(w.unit[1].BIN, (std::array<bool, 10>{}));
    EXPECT_EQ(w.unit[9].BIN, (std::array<bool, 10>{1, 1}));

    const RegisterImage back = ReadBack(w, image);
    EXPECT_EQ(RegisterValue(back, 99), 0x0401);
    EXPECT_EQ(RegisterValue(back, 96), 0xF800);
    EXPECT_EQ(RegisterValue(back, 106), 0x0200);
    EXPECT_EQ(RegisterValue(back, 107), 0x0400);
    EXPECT_EQ(RegisterValue(back, 115), 0x0003);
}

TEST(Matrix, TickedBoxesSetTheirBitsAndLeaveTheUnshownOnes) {
    WindowControls w;
    w.unit[2].FIN[8] = w.unit[2].FIN[9] = true;
    w.unit[5].FIN[5] = w.unit[5].BIN[5] = true;
    const RegisterImage back = ReadBack(w, ImageWith({{98, 0xFFFF}, {108, 0xFFFF}}));
    EXPECT_EQ(back[196], 0xFB); // bit 10 (FINA_2) cleared, bits 11..15 as they were
    EXPECT_EQ(back[197], 0x00);
    EXPECT_EQ(RegisterValue(back, 108), 0xFC00);
    EXPECT_EQ(RegisterValue(back, 101), 0x0020);
    EXPECT_EQ(RegisterValue(back, 111), 0x0020);
}

// ---- the operator's choices ------------------------------------------------------------------

// A change in one control becomes one choice that owns that control's whole field and nothing
// else: the unit's other bits in the register go back as the unit reports them.
TEST(Choices, OneControlChangedOwnsExactlyItsField) {
    const RegisterImage unit = ImageWith({{reg::UnitBlock(3), 0x0001},
                                          {reg::NetworkAddress, 0x0107},
                                          {reg::UnitBlock(0) + reg::UnitOutputs, 0x0002},
                                          {reg::CommandSignal, 0x0155}});
    const struct {
        const char* name;
        std::function<void(WindowControls&)> change;
        Choice choice;
    } cases[] = {
        {"drive type 001 -> 003, one bit apart",
         [](WindowControls& w) { w.unit[3].Ut.index = 3; },
         {reg::UnitBlock(3), 0x003F, 0x0003}},
        {"relay event O2",
         [](WindowControls& w) { w.unit[3].O[1] = false; },
         {reg::UnitBlock(3), 0x0800, 0x0801}},
        {"address typed over 0x0107",
         [](WindowControls& w) { w.ctrl.ADR = "7"; },
         {reg::NetworkAddress, 0xFFFF, 0x0007}},
        {"delay",
         [](WindowControls& w) { w.unit[9].delay[kTP2] = "12"; },
         {reg::UnitBlock(9) + 7, 0xFFFF, 12}},
        {"relay 1 on",
         [](WindowControls& w) { w.master.RELAY[0] = kRed; },
         {reg::UnitOutputs, 0x0100, 0x0102}},
        {"start source",
         [](WindowControls& w) { w.unit[2].FIN[7] = true; },
         {reg::StartSources(2), 0x0080, 0x0080}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowControls w = Shown(unit);
        EXPECT_TRUE(ChoicesBetween(unit, ReadBack(w, unit)).empty()); // untouched: no choice
        c.change(w);
        const std::vector<Choice> choices = ChoicesBetween(unit, ReadBack(w, unit));
        ASSERT_EQ(choices.size(), 1u);
        EXPECT_EQ(choices[0].reg, c.choice.reg);
        EXPECT_EQ(choices[0].mask, c.choice.mask);
        EXPECT_EQ(choices[0].value & choices[0].mask, c.choice.value & c.choice.mask);
    }
}

TEST(Choices, FinishedEntriesOutsideTheirRangeAreRefusedWithAReason) {
    const struct {
        const char* text;
        EntryRange range;
        bool taken;
    } cases[] = {
        {"127", kAddressRange, true},      {"abc", kAddressRange, false},
        {"300", kAddressRange, false},     {"0", kAddressRange, false},
        {"128", kAddressRange, false},     {"", kAddressRange, false},
        {"5000", kTimeoutRange, true},     {"5001", kTimeoutRange, false},
        {"0", kDelayRange, true},          {"-5", kDelayRange, false},
        {"247", kSlaveAddressRange, true}, {"0", kSlaveAddressRange, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EntryRefusal(c.text, c.range).empty(), c.taken) << c.text;
    EXPECT_EQ(EntryRefusal("abc", kAddressRange), "Не записано: «abc» — не число");
    EXPECT_EQ(EntryRefusal("300", kAddressRange), "Не записано: 300 — вне пределов 1–127");
}

} // namespace
} // namespace korvan
