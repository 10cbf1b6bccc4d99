// TWIN: the operator's command buttons and the clicks that force outputs and relays. Each only
// changes the wanted state; the poll cycle writes it.
#include "MessageBoxes.h"
#include "monitor_code_3.h"

using namespace korvan;

void TWIN::GO_BUTClick() {
    PullControls();
    korvan::GO_BUTClick(Engine, Controls);
    PushControls();
}

void TWIN::ST_BUTClick() {
    PullControls();
    korvan::ST_BUTClick(Engine, Controls);
    PushControls();
}

void TWIN::RES_BUTClick() {
    korvan::RES_BUTClick(Engine, *this);
}

void TWIN::RESTOREClick() {
    korvan::RESTOREClick(Engine, *this);
}

void TWIN::FINDClick() {
    korvan::FINDClick(Engine, *this);
}

void TWIN::OUTMouseUp(int unit, int output) {
    PullControls();
    ToggleOutputIndicator(Controls.unit[unit].OUT[output]);
    PushControls();
}

void TWIN::RELAYMouseUp(int relay) {
    PullControls();
    ToggleOutputIndicator(Controls.master.RELAY[relay]);
    PushControls();
}

bool TWIN::ShowMessage(MessageKind kind, const std::string& text) {
    return StationMessageBox(kind, text);
}
