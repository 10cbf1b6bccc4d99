// TWIN: the operator's command buttons, the clicks that force outputs and relays, and a choice in
// a settings control. Each hands its one choice to the engine (Commands.cpp), which writes it.
#include "Commands.h"
#include "monitor_code_3.h"

using namespace korvan;

void TWIN::ControlChosen(const Binding& bound, int unit, int index) {
    // Only this control is read: what the other controls show, and when the window last read
    // them, has nothing to do with this choice.
    WindowControls value;
    view_.PullOne(bound, unit, index, value);
    const ChoiceOutcome outcome = ChooseInControl(Link.Engine, bound.Control(unit, index), value);
    // Before the first read nothing is chosen, as the controls say nothing of the unit yet.
    if (outcome.taken || outcome.refusal.empty()) return;
    // The control shows what is wanted again, and says why.
    WindowControls wanted;
    korvan::ImageToControls(Link.Engine.WantedImage(), wanted);
    view_.PushOne(bound, unit, index, wanted);
    controlsCurrent_ = false;
    view_.SayOne(bound, unit, index, outcome.refusal);
}

void TWIN::GO_BUTClick() {
    if (korvan::GO_BUTClick(Link.Engine, *this)) SetPuskShown(kRed);
}

void TWIN::ST_BUTClick() {
    if (korvan::ST_BUTClick(Link.Engine, *this)) SetPuskShown(kGreen);
}

void TWIN::SetPuskShown(Colour colour) {
    Controls.ctrl.PUSK = colour;
    Widgets.ctrl.PUSK->setColour(colour);
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

// The indicator shows the wanted state at once; the unit's echo or a read confirms it.
void TWIN::OUTMouseUp(int unit, int output) {
    TIndicator* indicator = Widgets.unit[unit].OUT[output];
    if (!korvan::ClickOutput(Link.Engine, ControlOf<&UnitControls::OUT>(unit, output),
                             indicator->colour())
             .taken)
        return;
    WindowControls wanted;
    korvan::ImageToControls(Link.Engine.WantedImage(), wanted);
    indicator->setColour(wanted.unit[unit].OUT[output]);
}

void TWIN::RELAYMouseUp(int relay) {
    TIndicator* indicator = Widgets.master.RELAY[relay];
    if (!korvan::ClickOutput(Link.Engine, ControlOf<&MasterControls::RELAY>(0, relay),
                             indicator->colour())
             .taken)
        return;
    WindowControls wanted;
    korvan::ImageToControls(Link.Engine.WantedImage(), wanted);
    indicator->setColour(wanted.master.RELAY[relay]);
}
