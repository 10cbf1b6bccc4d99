#include "Commands.h"

namespace korvan {

namespace {

constexpr std::uint16_t kCommandByteMask = 0x00FF;

// Reset, restore and module search need a unit that answers and supports modules.
bool UnitAcceptsServiceCommands(const PollEngine& engine, MessageHost& messages) {
    if (!engine.LinkUp()) {
        messages.ShowMessage(MessageKind::Error, kNotConnectedText);
        return false;
    }
    if (UnitCount(engine.ShownImage()) == 0) {
        messages.ShowMessage(MessageKind::Information, kNotSupportedText);
        return false;
    }
    return true;
}

void ConfirmServiceCommand(PollEngine& engine, MessageHost& messages, const char* question,
                           std::uint8_t command) {
    if (!UnitAcceptsServiceCommands(engine, messages)) return;
    // The poll cycle runs on while the question is open; the answer is taken as it comes.
    if (messages.ShowMessage(MessageKind::Warning, question)) engine.SendServiceCommand(command);
}

} // namespace

// Start and stop are a level the unit holds: the operator's choice for the low byte.
void GO_BUTClick(PollEngine& engine, WindowControls& controls) {
    engine.Choose(reg::CommandSignal, kCommandByteMask, kCommandStart);
    controls.ctrl.PUSK = kRed;
}

void ST_BUTClick(PollEngine& engine, WindowControls& controls) {
    engine.Choose(reg::CommandSignal, kCommandByteMask, kCommandStop);
    controls.ctrl.PUSK = kGreen;
}

void RES_BUTClick(PollEngine& engine, MessageHost& messages) {
    ConfirmServiceCommand(engine, messages, kResetQuestion, kCommandReset);
}

void RESTOREClick(PollEngine& engine, MessageHost& messages) {
    ConfirmServiceCommand(engine, messages, kRestoreQuestion, kCommandRestore);
}

void FINDClick(PollEngine& engine, MessageHost& messages) {
    if (UnitAcceptsServiceCommands(engine, messages)) engine.FitPanelsAtNextRead();
}

void ToggleOutputIndicator(Colour& indicator) {
    indicator = indicator == kRed ? kGreen : kRed;
}

} // namespace korvan
