// Display routines that mark which indicators cannot be trusted: the whole window when the link is
// lost, and the units not in use after every applied read. They set indicator colours only.
#pragma once

#include "ControlsModel.h"
#include "RegisterImage.h"

namespace korvan {

// Link indicator yellow, every status indicator and PUSK grey, VER empty.
void ShowLinkLost(WindowControls& controls);

// Greys the outputs, inputs and (modules only) the state of every unit whose drive-type code is 0,
// unless its OUT1 is grey already. Returns 1 when a unit in use shows a grey OUT1, else 0.
int GreyOutDisabledUnits(const RegisterImage& image, WindowControls& controls);

// Drive-type code of a unit: bits 0 to 5 of its configuration register.
int DriveTypeCodeOf(const RegisterImage& image, int unit);

} // namespace korvan
