// TWIN: the operator's command buttons and the clicks that force outputs and relays. Each only
// changes the wanted state; the poll cycle writes it.
#include "Binding.h"
#include "Commands.h"
#include "monitor_code_3.h"

using namespace korvan;

void TWIN::TakeChoices() {
    // Until a unit has been shown the controls hold their start values, which nobody chose.
    if (!Link.Engine.UnitShown()) return;
    // The controls differ from the wanted image only by what the operator just did; a list that
    // announced its choice counts as closed.
    WindowControls chosen = Controls;
    chosen.ctrl.PANEL.droppedDown = false;
    chosen.ctrl.SPD.droppedDown = false;
    for (UnitControls& unit : chosen.unit)
        unit.Ut.droppedDown = false;
    RegisterImage image = Link.Engine.WantedImage();
    korvan::ControlsToImage(chosen, image);
    for (const Choice& choice : ChoicesBetween(Link.Engine.WantedImage(), image))
        Link.Engine.Choose(choice.reg, choice.mask, choice.value);
}

void TWIN::SettingChosen() {
    EnsureControlsCurrent();
    TakeChoices();
}

void TWIN::GO_BUTClick() {
    PullControls();
    korvan::GO_BUTClick(Link.Engine, Controls);
    PushControls();
}

void TWIN::ST_BUTClick() {
    PullControls();
    korvan::ST_BUTClick(Link.Engine, Controls);
    PushControls();
}

void TWIN::RES_BUTClick() {
    korvan::RES_BUTClick(Link.Engine, *this);
}

void TWIN::RESTOREClick() {
    korvan::RESTOREClick(Link.Engine, *this);
}

void TWIN::FINDClick() {
    korvan::FINDClick(Link.Engine, *this);
}

void TWIN::OUTMouseUp(int unit, int output) {
    PullControls();
    ToggleOutputIndicator(Controls.unit[unit].OUT[output]);
    PushControls();
    TakeChoices();
}

void TWIN::RELAYMouseUp(int relay) {
    PullControls();
    ToggleOutputIndicator(Controls.master.RELAY[relay]);
    PushControls();
    TakeChoices();
}
