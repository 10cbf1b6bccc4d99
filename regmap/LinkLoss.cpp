#include "LinkLoss.h"

#include "DriveType.h"

namespace korvan {

void ShowLinkLost(WindowControls& controls) {
    controls.ctrl.ONLINE = kYellow;
    controls.ctrl.PUSK = kGrey;
    controls.ctrl.VER.clear();
    for (UnitControls& unit : controls.unit)
        unit.OUT.fill(kGrey);
    for (UnitControls& unit : controls.unit)
        unit.IN.fill(kGrey);
    controls.master.RELAY.fill(kGrey);
    controls.master.CS1 = kGrey;
    controls.master.CS2 = kGrey;
    controls.master.CU1 = kGrey;
    controls.master.CU2 = kGrey;
    for (UnitControls& unit : controls.unit)
        unit.STATE = kGrey;
}

int DriveTypeCodeOf(const RegisterImage& image, int unit) {
    return image[2 * reg::UnitBlock(unit) + 1] & kDriveTypeBits;
}

int GreyOutDisabledUnits(const RegisterImage& image, WindowControls& controls) {
    for (int k = 0; k < kUnitPanels; ++k) {
        UnitControls& unit = controls.unit[k];
        // OUT1 marks a unit that is grey already; such a unit is left exactly as it is.
        if (DriveTypeCodeOf(image, k) != 0 || unit.OUT[0] == kGrey) continue;
        unit.OUT.fill(kGrey);
        unit.IN.fill(kGrey);
        // The master's state covers the whole network, so it stays readable.
        if (k != 0) unit.STATE = kGrey;
    }
    int stale = 0;
    for (int k = 0; k < kUnitPanels; ++k) {
        if (controls.unit[k].OUT[0] == kGrey && DriveTypeCodeOf(image, k) != 0) stale = 1;
    }
    return stale;
}

} // namespace korvan
