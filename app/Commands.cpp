#include "Commands.h"

namespace korvan {

namespace {

constexpr std::uint16_t kCommandByteMask = 0x00FF;

bool LinkUpOrSay(const PollEngine& engine, MessageHost& messages) {
    if (engine.LinkUp()) return true;
    messages.ShowMessage(MessageKind::Error, kNotConnectedText);
    return false;
}

// Reset, restore and module search need a unit that answers and supports modules.
bool UnitAcceptsServiceCommands(const PollEngine& engine, MessageHost& messages) {
    if (!LinkUpOrSay(engine, messages)) return false;
    if (UnitCount(engine.ShownImage()) == 0) {
        messages.ShowMessage(MessageKind::Information, kNotSupportedText);
        return false;
    }
    return true;
}

void ConfirmServiceCommand(PollEngine& engine, MessageHost& messages, const char* question,
                           std::uint8_t command) {
    if (!UnitAcceptsServiceCommands(engine, messages)) return;
    // The poll cycle runs on while the question is open; the answer is taken as it comes, and
    // only for a link that is still up.
    if (!messages.ShowMessage(MessageKind::Warning, question)) return;
    if (LinkUpOrSay(engine, messages)) engine.SendServiceCommand(command);
}

bool ChooseCommand(PollEngine& engine, MessageHost& messages, std::uint8_t command) {
    if (!LinkUpOrSay(engine, messages)) return false;
    engine.Choose(reg::CommandSignal, kCommandByteMask, command, PollEngine::ChoiceKind::Command);
    return true;
}

} // namespace

ChoiceOutcome ChooseInControl(PollEngine& engine, const ControlRef& control,
                              const WindowControls& value) {
    // Until a unit has been shown the controls hold their start values, which nobody chose.
    if (!engine.UnitShown()) return {};
    const std::vector<Choice> choices = ChoicesOf(control, value, engine.WantedImage());
    for (const Choice& choice : choices)
        if (choice.reg >= PollEngine::kBaseReadCount && !engine.MatrixRead())
            return {false, kMatrixNotReadText};
    for (const Choice& choice : choices)
        engine.Choose(choice.reg, choice.mask, choice.value);
    return {true, {}};
}

bool GO_BUTClick(PollEngine& engine, MessageHost& messages) {
    return ChooseCommand(engine, messages, kCommandStart);
}

bool ST_BUTClick(PollEngine& engine, MessageHost& messages) {
    return ChooseCommand(engine, messages, kCommandStop);
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

ChoiceOutcome ClickOutput(PollEngine& engine, const ControlRef& output, Colour shown) {
    if (shown != kRed && shown != kGreen && shown != kYellow) return {};
    // An indicator's values are green (0) and red (1), as its probe gives them.
    WindowControls value;
    output.probe(value, output.unit, output.index, shown == kRed ? 0 : 1);
    return ChooseInControl(engine, output, value);
}

} // namespace korvan
