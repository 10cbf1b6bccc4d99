// The operator's commands and choices: the five command buttons, the clicks on the output
// indicators, and a choice made in one settings control. None of them sends anything; each hands
// its choice to the engine, which writes it at its next write turn. The window and the line
// fuzzer call these same functions.
#pragma once

#include "Colour.h"
#include "ControlChoice.h"
#include "ControlsModel.h"
#include "PollEngine.h"
#include "StationMessages.h"

#include <string>

namespace korvan {

// Said in the tooltip of a matrix tick that a unit without the start-source and blocking
// registers cannot take.
inline constexpr const char* kMatrixNotReadText =
    "Блок прочитан без регистров пусковых сигналов и блокировок (прошивка 1.xx или 2.xx): "
    "отметка не записывается";

// What became of a choice: taken (handed to the engine, perhaps as no change), or refused with
// the reason the control's tooltip gives (empty when nothing needs saying, as before the first
// read). A refused control shows the wanted value again.
struct ChoiceOutcome {
    bool taken = false;
    std::string refusal;
};

// The operator chose in `control`; `value` holds its new value (only that control is read).
ChoiceOutcome ChooseInControl(PollEngine& engine, const ControlRef& control,
                              const WindowControls& value);

// Start and stop need the link: a command delivered whenever the line comes back is a hazard.
bool GO_BUTClick(PollEngine& engine, MessageHost& messages);
bool ST_BUTClick(PollEngine& engine, MessageHost& messages);
void RES_BUTClick(PollEngine& engine, MessageHost& messages);
void RESTOREClick(PollEngine& engine, MessageHost& messages);
void FINDClick(PollEngine& engine, MessageHost& messages);

// A click on an output or relay indicator `output` (ControlOf<&UnitControls::OUT>(k, n), or
// ControlOf<&MasterControls::RELAY>(0, n)) showing `shown`: on turns off and off turns on; a
// fault turns it on; grey (link lost, unit not in use) says nothing and changes nothing.
ChoiceOutcome ClickOutput(PollEngine& engine, const ControlRef& output, Colour shown);

} // namespace korvan
