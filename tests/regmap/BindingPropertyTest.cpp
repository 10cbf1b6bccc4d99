// Properties over many random images and window states: what an untouched window writes back,
// which bytes the write-back may touch at all, and that every operator setting survives the trip
// through the image.
#include "Binding.h"
#include "ControlsTestSupport.h"

#include <gtest/gtest.h>

#include <set>

namespace korvan {
namespace {

using test::Describe;

constexpr int kImages = 3000;

// First register in which two images differ, -1 when none.
int FirstDifference(const RegisterImage& a, const RegisterImage& b) {
    for (int r = 0; r < kRegisterCount; ++r)
        if (RegisterValue(a, r) != RegisterValue(b, r)) return r;
    return -1;
}

void ExpectReadBackUnchanged(const RegisterImage& image, WindowControls window, const char* start,
                             unsigned seed) {
    ImageToControls(image, window);
    RegisterImage wanted = image;
    ControlsToImage(window, wanted);
    const int r = FirstDifference(image, wanted);
    ASSERT_EQ(r, -1) << "start: " << start << ", seed " << seed << ": register " << r
                     << " shown as " << std::hex << RegisterValue(image, r) << " read back as "
                     << RegisterValue(wanted, r) << "\n"
                     << Describe(window);
}

TEST(BindingProperty, AnUntouchedWindowWritesNothing) {
    for (unsigned seed = 1; seed <= kImages; ++seed) {
        test::Random random(seed);
        const RegisterImage image = random.Image();
        ExpectReadBackUnchanged(image, WindowControls{}, "fresh window", seed);

        WindowControls previous;
        ImageToControls(random.Image(), previous);
        ExpectReadBackUnchanged(image, previous, "another image shown", seed);

        ExpectReadBackUnchanged(image, random.Controls(), "any window state", seed);
    }
}

TEST(BindingProperty, WriteBackLeavesStatusCommandAndUnusedRegistersAlone) {
    std::set<int> untouchable;
    for (int k = 0; k < kUnitPanels; ++k) {
        untouchable.insert(reg::UnitBlock(k) + reg::UnitFaults);
        untouchable.insert(reg::UnitBlock(k) + reg::UnitInputs);
    }
    for (int r = reg::UnitCountReg; r <= reg::ServiceCommand; ++r)
        untouchable.insert(r);
    for (int r = 116; r < kRegisterCount; ++r)
        untouchable.insert(r);

    for (unsigned seed = 1; seed <= kImages; ++seed) {
        test::Random random(seed);
        const RegisterImage before = random.Image();
        RegisterImage after = before;
        ControlsToImage(random.Controls(), after);
        for (int r : untouchable)
            ASSERT_EQ(RegisterValue(after, r), RegisterValue(before, r))
                << "register " << r << ", seed " << seed;
    }
}

// The part of the window the operator sets and ControlsToImage stores.
std::string OperatorSettings(const WindowControls& w) {
    std::ostringstream s;
    s << "PANEL=" << w.ctrl.PANEL.index << " ADR=" << w.ctrl.ADR << " SPD=" << w.ctrl.SPD.index
      << " DEL=" << w.ctrl.DEL << " parity=" << w.ctrl.parity << " csContact=" << w.master.csContact
      << std::hex << " RELAY=";
    for (Colour c : w.master.RELAY)
        s << c << ",";
    for (const UnitControls& u : w.unit) {
        UnitControls settings = u;
        settings.IN = {};
        settings.STATE = {};
        s << "\n" << Describe(settings);
    }
    return s.str();
}

// A state the operator can set up: lists closed with an item chosen, a button of every group,
// numbers typed as the unit reports them, outputs and relays forced on or off.
WindowControls OperatorWindow(test::Random& random) {
    WindowControls w = random.Controls();
    const auto choose = [&](ListState& list, int last) {
        list = ListState{random.Between(0, last), false};
    };
    const auto number = [&](int low, int high) {
        return std::to_string(random.Between(low, high));
    };
    const auto onOff = [&] { return random.Chance(50) ? kRed : kGreen; };
    choose(w.ctrl.PANEL, 3);
    choose(w.ctrl.SPD, 6);
    w.ctrl.ADR = number(1, 127);
    w.ctrl.DEL = number(1, 5000);
    w.ctrl.parity = random.Between(0, 2);
    w.master.csContact = random.Between(0, 2);
    for (auto& c : w.master.RELAY)
        c = onOff();
    for (auto& u : w.unit) {
        choose(u.Ut, kDriveTypeItems - 1);
        u.drives = random.Between(0, 1);
        u.contact = random.Between(0, 2);
        for (auto& d : u.delay)
            d = number(0, 65535);
        for (auto& c : u.OUT)
            c = onOff();
    }
    return w;
}

TEST(BindingProperty, EveryOperatorSettingSurvivesTheImage) {
    for (unsigned seed = 1; seed <= kImages; ++seed) {
        test::Random random(seed);
        const WindowControls chosen = OperatorWindow(random);
        RegisterImage image{}; // no faults, so the outputs show their forced state
        ControlsToImage(chosen, image);
        WindowControls shown;
        ImageToControls(image, shown);
        ASSERT_EQ(OperatorSettings(shown), OperatorSettings(chosen)) << "seed " << seed;
    }
}

bool InModuleArea(int k, int byteIndex) {
    const int r = byteIndex / 2;
    return (r >= reg::UnitBlock(k) && r < reg::UnitBlock(k + 1)) || r == reg::StartSources(k) ||
           r == reg::BlockSources(k);
}

TEST(BindingProperty, AModuleUsesOnlyItsBlockAndItsTwoMatrixRegisters) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        test::Random random(seed);
        for (int k = 1; k < kUnitPanels; ++k) {
            const RegisterImage before = random.Image();
            const WindowControls start = random.Controls();

            RegisterImage after = before;
            ControlsToModule(k, start, after);
            for (int b = 0; b < 256; ++b) {
                if (!InModuleArea(k, b)) {
                    ASSERT_EQ(after[b], before[b]) << "module " << k << " wrote byte " << b;
                }
            }

            WindowControls shown = start;
            ModuleToControls(k, before, shown);
            for (int j = 0; j < kUnitPanels; ++j) {
                if (j != k) {
                    ASSERT_EQ(Describe(shown.unit[j]), Describe(start.unit[j])) << "module " << k;
                }
            }
            ASSERT_EQ(Describe(shown.ctrl), Describe(start.ctrl));
            ASSERT_EQ(Describe(shown.master), Describe(start.master));

            // Whatever lies outside its area does not change what the module shows.
            RegisterImage other = random.Image();
            for (int b = 0; b < 256; ++b)
                if (InModuleArea(k, b)) other[b] = before[b];
            WindowControls shownFromOther = start;
            ModuleToControls(k, other, shownFromOther);
            ASSERT_EQ(Describe(shownFromOther.unit[k]), Describe(shown.unit[k])) << "module " << k;
        }
    }
}

} // namespace
} // namespace korvan
