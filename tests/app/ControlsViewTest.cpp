// The widget mirror: Push then Pull gives back the same WindowControls, Push fires no handler and
// leaves alone what already matches, Pull sees the operator's state.
#include "LinkLoss.h"
#include "monitor_code_3.h"

#include <QAbstractItemView>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace korvan;

namespace {

constexpr Colour kColours[] = {kGreen, kRed, kYellow, kGrey};

WindowControls Varied(unsigned seed) {
    std::mt19937 random(seed);
    auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto colour = [&] { return kColours[pick(4)]; };
    auto number = [&] { return std::to_string(pick(1200)); };
    WindowControls c;
    c.ctrl.PUSK = colour();
    c.ctrl.PANEL.index = pick(5) - 1;
    c.ctrl.ADR = number();
    c.ctrl.SPD.index = pick(8) - 1;
    c.ctrl.DEL = pick(2) ? number() : "";
    c.ctrl.parity = pick(4) - 1;
    c.ctrl.VER = pick(2) ? "1.xx или 2.xx" : "3.0" + std::to_string(pick(10));
    c.ctrl.ONLINE = colour();
    for (UnitControls& u : c.unit) {
        u.Ut.index = pick(15) - 1;
        u.drives = pick(3) - 1;
        u.Cd = pick(2);
        u.contact = pick(4) - 1;
        for (bool& o : u.O)
            o = pick(2);
        for (std::string& d : u.delay)
            d = pick(5) ? number() : "-5";
        for (Colour& out : u.OUT)
            out = colour();
        for (Colour& in : u.IN)
            in = colour();
        u.STATE = colour();
        for (bool& f : u.FIN)
            f = pick(2);
        u.FINA = pick(2);
        for (bool& b : u.BIN)
            b = pick(2);
    }
    c.master.csContact = pick(4) - 1;
    for (Colour& r : c.master.RELAY)
        r = colour();
    c.master.CS1 = colour();
    c.master.CS2 = colour();
    c.master.CU1 = colour();
    c.master.CU2 = colour();
    return c;
}

void ExpectList(const ListState& a, const ListState& b, const std::string& what) {
    EXPECT_EQ(a.index, b.index) << what;
    EXPECT_EQ(a.droppedDown, b.droppedDown) << what;
}

void ExpectSame(const WindowControls& a, const WindowControls& b) {
    EXPECT_EQ(a.ctrl.PUSK, b.ctrl.PUSK);
    ExpectList(a.ctrl.PANEL, b.ctrl.PANEL, "PANEL");
    EXPECT_EQ(a.ctrl.ADR, b.ctrl.ADR);
    ExpectList(a.ctrl.SPD, b.ctrl.SPD, "SPD");
    EXPECT_EQ(a.ctrl.DEL, b.ctrl.DEL);
    EXPECT_EQ(a.ctrl.parity, b.ctrl.parity);
    EXPECT_EQ(a.ctrl.VER, b.ctrl.VER);
    EXPECT_EQ(a.ctrl.ONLINE, b.ctrl.ONLINE);
    for (int k = 0; k < kUnitPanels; ++k) {
        const UnitControls& x = a.unit[k];
        const UnitControls& y = b.unit[k];
        const std::string unit = "unit " + std::to_string(k);
        ExpectList(x.Ut, y.Ut, unit);
        EXPECT_EQ(x.drives, y.drives) << unit;
        EXPECT_EQ(x.Cd, y.Cd) << unit;
        EXPECT_EQ(x.contact, y.contact) << unit;
        EXPECT_EQ(x.O, y.O) << unit;
        EXPECT_EQ(x.delay, y.delay) << unit;
        EXPECT_EQ(x.OUT, y.OUT) << unit;
        EXPECT_EQ(x.IN, y.IN) << unit;
        EXPECT_EQ(x.STATE, y.STATE) << unit;
        EXPECT_EQ(x.FIN, y.FIN) << unit;
        EXPECT_EQ(x.FINA, y.FINA) << unit;
        EXPECT_EQ(x.BIN, y.BIN) << unit;
    }
    EXPECT_EQ(a.master.csContact, b.master.csContact);
    EXPECT_EQ(a.master.RELAY, b.master.RELAY);
    EXPECT_EQ(a.master.CS1, b.master.CS1);
    EXPECT_EQ(a.master.CS2, b.master.CS2);
    EXPECT_EQ(a.master.CU1, b.master.CU1);
    EXPECT_EQ(a.master.CU2, b.master.CU2);
}

TEST(ControlsView, StartStateMatchesTheModelsStartValues) {
    TWIN win;
    win.PullControls();
    // The window comes up in the link-lost look.
    WindowControls start;
    ShowLinkLost(start);
    ExpectSame(win.Controls, start);
}

TEST(ControlsView, PushThenPullGivesBackTheSameState) {
    TWIN win;
    for (unsigned seed = 1; seed <= 6; ++seed) {
        const WindowControls wanted = Varied(seed);
        win.Controls = wanted;
        win.PushControls();
        win.Controls = WindowControls{};
        win.PullControls();
        ExpectSame(win.Controls, wanted);
    }
}

TEST(ControlsView, PushFiresNoHandlerAndLeavesMatchingWidgetsAlone) {
    TWIN win;
    UnitWidgets& u = win.Widgets.unit[4];
    QSignalSpy listSpy(u.Ut, &QComboBox::currentIndexChanged);
    QSignalSpy groupSpy(u.contact, &QButtonGroup::idToggled);
    QSignalSpy boxSpy(u.FIN[3], &QCheckBox::toggled);
    QSignalSpy textSpy(u.delay[0], &QLineEdit::textChanged);
    QSignalSpy portSpy(win.Widgets.ctrl.SPD, &QComboBox::currentIndexChanged);

    win.Controls.unit[4].Ut.index = 5;
    win.Controls.unit[4].contact = 2;
    win.Controls.unit[4].FIN[3] = true;
    win.Controls.unit[4].delay[0] = "250";
    win.Controls.ctrl.SPD.index = 6;
    win.PushControls();
    EXPECT_EQ(u.Ut->currentIndex(), 5);
    EXPECT_TRUE(u.contactButtons[2]->isChecked());
    EXPECT_EQ(u.delay[0]->text(), "250");
    for (QSignalSpy* spy : {&listSpy, &groupSpy, &boxSpy, &textSpy, &portSpy})
        EXPECT_EQ(spy->count(), 0);

    // The operator's caret stays where it is when the text did not change.
    u.delay[0]->setCursorPosition(1);
    win.PushControls();
    EXPECT_EQ(u.delay[0]->cursorPosition(), 1);

    // No choice clears a radio group.
    win.Controls.unit[4].contact = -1;
    win.PushControls();
    EXPECT_EQ(u.contact->checkedButton(), nullptr);
    EXPECT_EQ(groupSpy.count(), 0);
}

// Most indicators only show and have no register bits for the control walk to follow: each one,
// found by its name, shows the member it stands for and no other.
TEST(ControlsView, EachIndicatorShowsItsOwnMember) {
    TWIN win;
    WindowControls& c = win.Controls;
    std::vector<std::pair<QString, Colour*>> shown{
        {"PUSK", &c.ctrl.PUSK}, {"ONLINE", &c.ctrl.ONLINE}, {"CS1", &c.master.CS1},
        {"CS2", &c.master.CS2}, {"CU1", &c.master.CU1},     {"CU2", &c.master.CU2}};
    for (int n = 1; n <= 4; ++n)
        shown.emplace_back(QString("RELAY%1").arg(n), &c.master.RELAY[n - 1]);
    for (int k = 0; k < kUnitPanels; ++k) {
        UnitControls& u = c.unit[k];
        shown.emplace_back(QString("STATE_%1").arg(k), &u.STATE);
        for (int n = 1; n <= 2; ++n)
            shown.emplace_back(QString("OUT%1_%2").arg(n).arg(k), &u.OUT[n - 1]);
        for (int n = 1; n <= 5; ++n)
            shown.emplace_back(QString("IN%1_%2").arg(n).arg(k), &u.IN[n - 1]);
    }
    std::vector<const TIndicator*> indicators;
    for (const auto& [name, member] : shown) {
        indicators.push_back(win.findChild<TIndicator*>(name));
        ASSERT_NE(indicators.back(), nullptr) << name.toStdString();
    }
    for (std::size_t lit = 0; lit < shown.size(); ++lit) {
        for (std::size_t i = 0; i < shown.size(); ++i)
            *shown[i].second = i == lit ? kRed : kGreen;
        win.PushControls();
        for (std::size_t i = 0; i < shown.size(); ++i)
            EXPECT_EQ(indicators[i]->colour(), i == lit ? kRed : kGreen)
                << shown[lit].first.toStdString() << " lit, " << shown[i].first.toStdString();
    }
}

TEST(ControlsView, LongValuesSetFromCodeAreKeptWhole) {
    TWIN win;
    win.Controls.unit[2].delay[1] = "1000";
    win.Controls.unit[2].delay[3] = "65535";
    win.PushControls();
    // Drawn narrower, not cut, although the window sets the text with the signals blocked.
    for (const char* name : {"TP1_2", "TP2_2"}) {
        auto* field = win.findChild<TEditField*>(name);
        field->grab();
        EXPECT_LT(field->TextStretch(), 100) << name;
        EXPECT_EQ(field->toolTip(), field->text()) << name;
    }
    win.Controls = WindowControls{};
    win.PullControls();
    EXPECT_EQ(win.Controls.unit[2].delay[1], "1000");
    EXPECT_EQ(win.Controls.unit[2].delay[3], "65535");
}

TEST(ControlsView, PullSeesTheOperatorsChoices) {
    TWIN win;
    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    UnitWidgets& u = win.Widgets.unit[7];
    u.TWO->click();
    u.contactButtons[1]->click();
    u.BIN[4]->click();
    u.Cd->click();
    win.Widgets.master.csButtons[2]->click();
    u.delay[2]->setFocus();
    u.delay[2]->selectAll();
    const std::string shown = u.delay[2]->text().toStdString();
    QTest::keyClicks(u.delay[2], "77");
    win.PullControls();
    EXPECT_EQ(win.Controls.unit[7].delay[2], shown); // still being typed: not a choice yet
    QTest::keyClick(u.delay[2], Qt::Key_Return);
    win.PullControls();
    EXPECT_EQ(win.Controls.unit[7].drives, 1);
    EXPECT_EQ(win.Controls.unit[7].contact, 1);
    EXPECT_TRUE(win.Controls.unit[7].BIN[4]);
    EXPECT_TRUE(win.Controls.unit[7].Cd);
    EXPECT_EQ(win.Controls.unit[7].delay[2], "77");
    EXPECT_EQ(win.Controls.master.csContact, 2);
}

TEST(ControlsView, DroppedDownFollowsThePopup) {
    TWIN win;
    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    TDropList* panel = win.Widgets.ctrl.PANEL;
    TDropList* drive = win.Widgets.unit[0].Ut;
    // Read as the poll cycle reads: only after a widget has told of a change.
    const auto dropped = [&win](const ListState& list) {
        win.EnsureControlsCurrent();
        return list.droppedDown;
    };

    EXPECT_FALSE(dropped(win.Controls.ctrl.PANEL));
    panel->showPopup();
    EXPECT_TRUE(dropped(win.Controls.ctrl.PANEL));
    EXPECT_FALSE(dropped(win.Controls.unit[0].Ut));
    panel->hidePopup();
    EXPECT_FALSE(dropped(win.Controls.ctrl.PANEL));

    drive->showPopup();
    EXPECT_TRUE(dropped(win.Controls.unit[0].Ut));
    // Closing the popup with Escape, as the operator would.
    QTest::keyClick(drive->view(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !drive->DroppedDown(); }));
    EXPECT_FALSE(dropped(win.Controls.unit[0].Ut));
    // Closed by its window going away, not through the list.
    drive->showPopup();
    EXPECT_TRUE(dropped(win.Controls.unit[0].Ut));
    drive->view()->window()->close();
    EXPECT_FALSE(dropped(win.Controls.unit[0].Ut));
}

} // namespace
