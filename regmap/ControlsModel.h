// The state of every control of the window that the register binding, the operator commands and
// the link-loss display read or set. The window keeps its widgets in step with it (app/); the
// logic works on this plain state, so it runs and is tested without a screen.
#pragma once

#include "Colour.h"

#include <array>
#include <string>

namespace korvan {

constexpr int kUnitPanels = 10; // DEV_0 (master) .. DEV_9
constexpr int kDriveTypeItems = 14;

// A pick-only drop-down list.
struct ListState {
    int index = -1;           // selected item, -1 when none
    bool droppedDown = false; // the popup is open at this moment

    bool operator==(const ListState&) const = default;
};

// Index of the selected button of a radio group, -1 when none is selected.
using RadioChoice = int;

// Delay fields of a unit, in the order TD1, TP1, TD2, TP2 (registers +4 .. +7).
enum DelayField { kTD1 = 0, kTP1 = 1, kTD2 = 2, kTP2 = 3 };

struct UnitControls {
    ListState Ut;             // drive type
    RadioChoice drives = -1;  // 0 ONE_k "Один привод", 1 TWO_k "Два привода"
    bool Cd = false;          // "Контроль приводов" (ticked when the bit is 0)
    RadioChoice contact = -1; // 0 R_k, 1 NZ_k, 2 NO_k
    std::array<bool, 4> O{};  // relay events O1_k..O4_k (ticked when the bit is 0)
    std::array<std::string, 4> delay; // TD1_k, TP1_k, TD2_k, TP2_k texts
    std::array<Colour, 2> OUT{kGreen, kGreen};
    std::array<Colour, 5> IN{kGreen, kGreen, kGreen, kGreen, kGreen};
    Colour STATE = kGreen;
    std::array<bool, 10> FIN{}; // start sources FIN0_k..FIN9_k
    bool FINA = false;          // "Вход командного сигнала ЗОКТ-01"
    std::array<bool, 10> BIN{}; // blockings BIN0_k..BIN9_k

    bool operator==(const UnitControls&) const = default;
};

// Controls that only the master's panel DEV_0 has.
struct MasterControls {
    RadioChoice csContact = -1; // 0 CSR, 1 CSNZ, 2 CSNO
    std::array<Colour, 4> RELAY{kGreen, kGreen, kGreen, kGreen};
    Colour CS1 = kGreen;
    Colour CS2 = kGreen;
    Colour CU1 = kGreen;
    Colour CU2 = kGreen;

    bool operator==(const MasterControls&) const = default;
};

// Panel CTRL.
struct CommonControls {
    Colour PUSK = kGreen;
    ListState PANEL;
    std::string ADR = "0";
    ListState SPD;
    std::string DEL = "0";
    RadioChoice parity = -1; // 0 NOPAR, 1 ODD, 2 EVEN (hidden buttons)
    std::string VER;
    Colour ONLINE = kYellow;

    bool operator==(const CommonControls&) const = default;
};

struct WindowControls {
    CommonControls ctrl;
    std::array<UnitControls, kUnitPanels> unit;
    MasterControls master;

    bool operator==(const WindowControls&) const = default;
};

} // namespace korvan
