#include "LinkLoss.h"

#include <gtest/gtest.h>

namespace korvan {
namespace {

// Every setting control of the window: what the display routines must leave alone.
void ExpectSameSettings(const WindowControls& a, const WindowControls& b) {
    EXPECT_EQ(a.ctrl.PANEL.index, b.ctrl.PANEL.index);
    EXPECT_EQ(a.ctrl.PANEL.droppedDown, b.ctrl.PANEL.droppedDown);
    EXPECT_EQ(a.ctrl.SPD.index, b.ctrl.SPD.index);
    EXPECT_EQ(a.ctrl.ADR, b.ctrl.ADR);
    EXPECT_EQ(a.ctrl.DEL, b.ctrl.DEL);
    EXPECT_EQ(a.ctrl.parity, b.ctrl.parity);
    EXPECT_EQ(a.master.csContact, b.master.csContact);
    for (int k = 0; k < kUnitPanels; ++k) {
        const UnitControls& x = a.unit[k];
        const UnitControls& y = b.unit[k];
        EXPECT_EQ(x.Ut.index, y.Ut.index) << k;
        EXPECT_EQ(x.drives, y.drives) << k;
        EXPECT_EQ(x.Cd, y.Cd) << k;
        EXPECT_EQ(x.contact, y.contact) << k;
        EXPECT_EQ(x.O, y.O) << k;
        EXPECT_EQ(x.delay, y.delay) << k;
        EXPECT_EQ(x.FIN, y.FIN) << k;
        EXPECT_EQ(x.FINA, y.FINA) << k;
        EXPECT_EQ(x.BIN, y.BIN) << k;
    }
}

WindowControls Configured() {
    WindowControls c;
    c.ctrl.PANEL = {2, true};
    c.ctrl.SPD.index = 5;
    c.ctrl.ADR = "17";
    c.ctrl.DEL = "250";
    c.ctrl.parity = 2;
    c.ctrl.VER = "3.05";
    c.ctrl.ONLINE = kGreen;
    c.ctrl.PUSK = kRed;
    c.master.csContact = 1;
    c.master.RELAY = {kRed, kGreen, kYellow, kRed};
    c.master.CS1 = kRed;
    c.master.CU2 = kYellow;
    for (int k = 0; k < kUnitPanels; ++k) {
        UnitControls& u = c.unit[k];
        u.Ut.index = k;
        u.drives = k % 2;
        u.Cd = k % 3 == 0;
        u.contact = k % 3;
        u.O = {true, false, true, k % 2 == 0};
        u.delay = {"1", "2", std::to_string(k), "4"};
        u.FIN[k] = true;
        u.FINA = true;
        u.BIN[9 - k] = true;
        u.OUT = {kRed, kYellow};
        u.IN = {kRed, kGreen, kYellow, kRed, kGreen};
        u.STATE = kYellow;
    }
    return c;
}

RegisterImage AllInUse() {
    RegisterImage image{};
    for (int k = 0; k < kUnitPanels; ++k)
        SetRegisterValue(image, reg::UnitBlock(k), 0x0005);
    return image;
}

TEST(ShowLinkLost, GreysEveryIndicatorAndNothingElse) {
    WindowControls c = Configured();
    const WindowControls before = c;
    ShowLinkLost(c);
    EXPECT_EQ(c.ctrl.ONLINE, kYellow);
    EXPECT_EQ(c.ctrl.PUSK, kGrey);
    EXPECT_EQ(c.ctrl.VER, "");
    for (const UnitControls& u : c.unit) {
        EXPECT_EQ(u.OUT, (std::array<Colour, 2>{kGrey, kGrey}));
        EXPECT_EQ(u.IN, (std::array<Colour, 5>{kGrey, kGrey, kGrey, kGrey, kGrey}));
        EXPECT_EQ(u.STATE, kGrey);
    }
    EXPECT_EQ(c.master.RELAY, (std::array<Colour, 4>{kGrey, kGrey, kGrey, kGrey}));
    for (Colour signal : {c.master.CS1, c.master.CS2, c.master.CU1, c.master.CU2})
        EXPECT_EQ(signal, kGrey);
    ExpectSameSettings(c, before);
}

TEST(GreyOutDisabledUnits, GreysUnitsNotInUse) {
    WindowControls c = Configured();
    RegisterImage image = AllInUse();
    // Unit 3 not in use; bits 6 and 7 of the configuration are not part of the drive type.
    SetRegisterValue(image, reg::UnitBlock(3), 0xFFC0);
    SetRegisterValue(image, reg::UnitBlock(5), 0x0040);
    SetRegisterValue(image, reg::UnitBlock(6), 0x0080);
    // The master not in use: its outputs and inputs grey, its state keeps its colour.
    SetRegisterValue(image, reg::UnitBlock(0), 0x0000);
    const WindowControls before = c;

    EXPECT_EQ(GreyOutDisabledUnits(image, c), 0);
    for (int k : {0, 3, 5, 6}) {
        EXPECT_EQ(c.unit[k].OUT, (std::array<Colour, 2>{kGrey, kGrey})) << k;
        EXPECT_EQ(c.unit[k].IN, (std::array<Colour, 5>{kGrey, kGrey, kGrey, kGrey, kGrey})) << k;
        EXPECT_EQ(c.unit[k].STATE, k == 0 ? kYellow : kGrey) << k;
    }
    for (int k : {1, 2, 4, 7, 8, 9}) {
        EXPECT_EQ(c.unit[k].OUT, before.unit[k].OUT) << k;
        EXPECT_EQ(c.unit[k].IN, before.unit[k].IN) << k;
        EXPECT_EQ(c.unit[k].STATE, before.unit[k].STATE) << k;
    }
    EXPECT_EQ(c.master.RELAY, before.master.RELAY);
    EXPECT_EQ(c.master.CS1, kRed);
    EXPECT_EQ(c.master.CU2, kYellow);
    EXPECT_EQ(c.ctrl.PUSK, kRed);
    EXPECT_EQ(c.ctrl.VER, "3.05");
    EXPECT_EQ(c.ctrl.ONLINE, kGreen);
    ExpectSameSettings(c, before);
}

TEST(GreyOutDisabledUnits, AGreyUnitIsLeftAloneAndAGreyUnitInUseIsReported) {
    WindowControls c = Configured();
    RegisterImage image = AllInUse();
    SetRegisterValue(image, reg::UnitBlock(2), 0);
    c.unit[2].OUT[0] = kGrey; // already greyed: the other colours stay as they are
    EXPECT_EQ(GreyOutDisabledUnits(image, c), 0);
    EXPECT_EQ(c.unit[2].OUT[1], kYellow);
    EXPECT_EQ(c.unit[2].IN[0], kRed);
    EXPECT_EQ(c.unit[2].STATE, kYellow);

    // A unit in use whose output 1 shows grey: the image has to be shown again.
    c.unit[7].OUT[0] = kGrey;
    EXPECT_EQ(GreyOutDisabledUnits(image, c), 1);
    EXPECT_EQ(c.unit[7].OUT[1], kYellow); // reported, not recoloured
    EXPECT_EQ(c.unit[7].IN[4], kGreen);

    // After a link loss every unit in use reports; with none in use nothing does.
    ShowLinkLost(c);
    EXPECT_EQ(GreyOutDisabledUnits(image, c), 1);
    EXPECT_EQ(GreyOutDisabledUnits(RegisterImage{}, c), 0);
}

} // namespace
} // namespace korvan
