// The operator's commands: the five command buttons and the clicks on the output indicators.
// None of them sends anything; each changes the wanted state, which the poll cycle writes.
#pragma once

#include "Colour.h"
#include "ControlsModel.h"
#include "PollEngine.h"
#include "StationMessages.h"

namespace korvan {

void GO_BUTClick(PollEngine& engine, WindowControls& controls);
void ST_BUTClick(PollEngine& engine, WindowControls& controls);
void RES_BUTClick(PollEngine& engine, MessageHost& messages);
void RESTOREClick(PollEngine& engine, MessageHost& messages);
void FINDClick(PollEngine& engine, MessageHost& messages);

// A click on an output or relay indicator: red turns green, any other colour turns red.
void ToggleOutputIndicator(Colour& indicator);

} // namespace korvan
