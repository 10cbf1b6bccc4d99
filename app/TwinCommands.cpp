// TWIN: the operator's command buttons and the clicks that force outputs and relays. Each only
// changes the wanted state; the poll cycle writes it.
#include "Binding.h"
#include "Catalogue.h"
#include "MessageBoxes.h"
#include "monitor_code_3.h"

#include <algorithm>
#include <cstdio>

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

// Names the refused settings as the window does: each setting whose bits the refused value would
// have changed, with the value in its own words ("Скорость = 4800").
void TWIN::ReportWriteRefused(int reg, std::uint16_t value, std::uint8_t code) {
    RegisterImage refused = Link.Engine.ShownImage();
    SetRegisterValue(refused, reg, value);
    const std::uint16_t changed = value ^ RegisterValue(Link.Engine.ShownImage(), reg);
    WindowControls asRefused;
    ShownControls(refused, asRefused);
    QString settings;
    for (const CatalogueItem& item : CatalogueItems()) {
        const bool touched = std::any_of(item.bits.begin(), item.bits.end(), [&](const auto& b) {
            return b.reg == reg && (b.mask & changed) != 0;
        });
        if (!touched) continue;
        if (!settings.isEmpty()) settings += QStringLiteral(", ");
        if (item.unit != kNetworkUnit)
            settings += CatalogueUnitName(item.unit) + QStringLiteral(": ");
        settings += item.caption + QStringLiteral(" = ") + ItemWords(item, asRefused);
    }
    if (settings.isEmpty()) settings = QStringLiteral("рег. %1 = %2").arg(reg).arg(value);
    char codeText[8];
    std::snprintf(codeText, sizeof codeText, "%02X", code);
    StationNotice("Блок отклонил запись: " + settings.toStdString() + " (исключение " + codeText +
                  ")");
}

bool TWIN::ShowMessage(MessageKind kind, const std::string& text) {
    return StationMessageBox(kind, text);
}
