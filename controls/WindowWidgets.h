// Typed pointers to the controls of the main window, each filled by BuildWindow as it creates the
// widget, from the binding of its row in ControlList.cpp. The widgets belong to the window; these
// are views of them.
#pragma once

#include "ControlsModel.h"
#include "Widgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <array>

namespace korvan {

// Controls of one unit panel DEV_k (the master's extras are in MasterWidgets).
struct UnitWidgets {
    TPanel* DEV = nullptr;
    TFoldLabel* MIN = nullptr;
    QLabel* NAME = nullptr;
    TDropList* Ut = nullptr;
    QButtonGroup* drives = nullptr; // ONE_k = 0, TWO_k = 1
    QRadioButton* ONE = nullptr;
    QRadioButton* TWO = nullptr;
    QCheckBox* Cd = nullptr;
    QButtonGroup* contact = nullptr; // R_k = 0, NZ_k = 1, NO_k = 2
    std::array<QRadioButton*, 3> contactButtons{};
    std::array<QCheckBox*, 4> O{};
    std::array<TEditField*, 4> delay{}; // TD1_k, TP1_k, TD2_k, TP2_k
    std::array<TIndicator*, 2> OUT{};
    std::array<TIndicator*, 5> IN{};
    TIndicator* STATE = nullptr;
    std::array<QCheckBox*, 10> FIN{};
    QCheckBox* FINA = nullptr;
    std::array<QCheckBox*, 10> BIN{};
};

struct MasterWidgets {
    QButtonGroup* csContact = nullptr; // CSR = 0, CSNZ = 1, CSNO = 2
    std::array<QRadioButton*, 3> csButtons{};
    std::array<TIndicator*, 4> RELAY{};
    TIndicator* CS1 = nullptr;
    TIndicator* CS2 = nullptr;
    TIndicator* CU1 = nullptr;
    TIndicator* CU2 = nullptr;
};

struct CommonWidgets {
    TPanel* CTRL = nullptr;
    TFoldLabel* MIN_CTRL = nullptr;
    QLabel* CTRL_NAME = nullptr;
    TIndicator* PUSK = nullptr;
    QPushButton* GO_BUT = nullptr;
    QPushButton* ST_BUT = nullptr;
    QPushButton* RES_BUT = nullptr;
    QPushButton* RESTORE = nullptr;
    TDropList* PANEL = nullptr;
    TEditField* ADR = nullptr;
    QPushButton* FIND = nullptr;
    TDropList* SPD = nullptr;
    TEditField* DEL = nullptr;
    QButtonGroup* parity = nullptr; // NOPAR = 0, ODD = 1, EVEN = 2
    std::array<QRadioButton*, 3> parityButtons{};
    QLabel* VER = nullptr;
    TDropList* COM = nullptr;
    TEditField* SENDADR = nullptr;
    TDropList* PCSPD = nullptr;
    std::array<QRadioButton*, 3> RadioButton{}; // RadioButton1 .. RadioButton3
    TIndicator* ONLINE = nullptr;
};

struct WindowWidgets {
    CommonWidgets ctrl;
    std::array<UnitWidgets, kUnitPanels> unit;
    MasterWidgets master;

    // Panel i of the layout order CTRL, DEV_0 .. DEV_9.
    TPanel* Panel(int i) const { return i == 0 ? ctrl.CTRL : unit[i - 1].DEV; }
};

} // namespace korvan
