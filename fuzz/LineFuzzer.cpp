// Drives the poll engine and the register binding, with no window, through whatever the line, the
// unit and the operator may do: arbitrary bytes in arbitrary chunks, well-formed, bent, refused and
// late replies; a unit that applies, refuses or loses writes, refuses wide reads and changes its
// own registers; the two timers in any order; and an operator who finishes entries (valid or not),
// ticks boxes, picks from lists or closes them unchosen, clicks outputs, presses the commands and
// changes the slave address, each through the window's own choice code (Commands.cpp); and a port
// that fails and comes back leading to another unit.
//
// The invariant, checked at every write request: it goes to the slave address the operator chose;
// register 95 carries a command pressed and not yet sent; any other register carries the
// operator's newest finished value in the bits of the operator's open choices and the unit's last
// reported value in every other bit, and a write with no open choice behind it is a fault. After
// every step no open choice or command may be missing from what the engine wants. A choice is open
// from the operator's action until the unit is seen holding it (echo or read), has refused it or
// left it unanswered three times, or the link's session ends (the port fails or comes back);
// commands also end with the link. The first frame on a port that came back is a read. A finding
// aborts the run with its kind.
#include "Binding.h"
#include "Commands.h"
#include "ControlChoice.h"
#include "DriveType.h"
#include "LinkLoss.h"
#include "ModbusFrames.h"
#include "PollEngine.h"
#include "TextConversion.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

using namespace korvan;

namespace {

// A frame of at most 3 + 255 + 2 bytes, built without the heap: the fuzzer runs millions of them.
struct Frame {
    std::array<std::uint8_t, 260> bytes{};
    int size = 0;

    void Push(std::uint8_t b) {
        if (size < static_cast<int>(bytes.size())) bytes[static_cast<std::size_t>(size++)] = b;
    }
    void Seal() {
        std::uint8_t high = 0;
        std::uint8_t low = 0;
        Crc16(bytes.data(), size, high, low);
        Push(low);
        Push(high);
    }
};

// The driver's receive queue; what does not fit is lost, as on a real line.
struct Line {
    std::array<std::uint8_t, 4096> bytes{};
    std::size_t head = 0;
    std::size_t count = 0;

    void Push(std::uint8_t b) {
        if (count == bytes.size()) return;
        bytes[(head + count++) % bytes.size()] = b;
    }
    int Pop(std::uint8_t* data, int wanted) {
        int n = 0;
        for (; n < wanted && count > 0; ++n, --count, head = (head + 1) % bytes.size())
            data[n] = bytes[head];
        return n;
    }
};

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    bool More() const { return at < size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
};

// What the run has seen, printed once at the end.
struct Figures {
    long long writesChecked = 0;
    long long choices = 0;
    long long refusedEntries = 0;
    long long givenUp = 0;
    long long commandsSent = 0;
    long long restarts = 0;
    long long portSwaps = 0;
    long long dropped = 0;
    ~Figures() {
        std::fprintf(stderr,
                     "operator model: %lld writes checked, %lld choices, %lld entries refused, "
                     "%lld choices given up, %lld service commands sent, %lld address changes, "
                     "%lld port swaps, %lld choices and commands dropped\n",
                     writesChecked, choices, refusedEntries, givenUp, commandsSent, restarts,
                     portSwaps, dropped);
    }
};
Figures figures;

[[noreturn]] void Finding(const char* kind, int reg, int value) {
    std::fprintf(stderr, "finding: %s (register %d, value 0x%04X)\n", kind, reg, value);
    std::abort();
}

std::uint16_t Word(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

// The operator's side of the invariant: open choices, the command pressed, the unit's last word.
struct Oracle {
    std::array<std::uint16_t, kRegisterCount> mask{};
    std::array<std::uint16_t, kRegisterCount> value{};
    int command = -1;
    std::uint8_t address = 1;
    RegisterImage reported{};
    std::array<int, kRegisterCount> refusals{};
    std::array<std::uint16_t, kRegisterCount> refusedValue{};
    int unansweredReg = -1;
    std::uint16_t unansweredValue = 0;
    int unanswered = 0;

    void Choose(int reg, std::uint16_t field, std::uint16_t chosen) {
        mask[reg] |= field;
        value[reg] = static_cast<std::uint16_t>((value[reg] & ~field) | (chosen & field));
    }
    // The unit holds `held`: every whole field of a choice it matches is done.
    void Settle(int reg, std::uint16_t held) {
        for (int bit = 0; bit < 16; ++bit) {
            const auto one = static_cast<std::uint16_t>(1u << bit);
            if (!(mask[reg] & one)) continue;
            const std::uint16_t field = FieldBits(reg, one);
            if (((held ^ value[reg]) & field) == 0) mask[reg] &= static_cast<std::uint16_t>(~field);
        }
    }
    void Forget() {
        mask.fill(0);
        refusals.fill(0);
        unansweredReg = -1;
        command = -1;
    }
    // A command pressed does not outlive the link.
    void DropCommands() {
        mask[reg::CommandSignal] &= static_cast<std::uint16_t>(~0x00FF);
        command = -1;
    }
};

// A unit on the line. It answers the request it has just received, with a reply the fuzzer then
// delivers whenever it likes (late, bent, twice or never).
struct Unit {
    RegisterImage registers{};
    int writeMode = 0; // 0 applies and echoes, 1 refuses, 2 applies without a reply, 3 drops it
    std::uint8_t refusal = 2;
    int widestRead = 125;

    Frame Answer(const Request& request) {
        Frame reply;
        const auto refuse = [&] {
            reply.Push(request[0]);
            reply.Push(static_cast<std::uint8_t>(request[1] | 0x80));
            reply.Push(refusal);
            reply.Seal();
        };
        if (request[1] == kReadHoldingRegisters) {
            const int count = std::min<int>(request[5], kRegisterCount);
            if (count > widestRead) {
                refuse();
                return reply;
            }
            reply.Push(request[0]);
            reply.Push(kReadHoldingRegisters);
            reply.Push(static_cast<std::uint8_t>(2 * count));
            for (int i = 0; i < 2 * count; ++i)
                reply.Push(registers[static_cast<std::size_t>(i)]);
            reply.Seal();
            return reply;
        }
        const int reg = request[2] << 8 | request[3];
        if (writeMode == 1) {
            refuse();
            return reply;
        }
        if (writeMode != 3 && reg < kRegisterCount && reg != reg::ServiceCommand)
            SetRegisterValue(registers, reg, Word(&request[4]));
        if (writeMode == 0)
            for (int i = 0; i < kRequestLength - 2; ++i)
                reply.Push(request[static_cast<std::size_t>(i)]);
        if (writeMode == 0) reply.Seal();
        return reply;
    }
};

// The window, reduced to the state of its controls, with the real binding and display routines.
class Host : public PollLine, public PollView, public ExchangeObserver, public MessageHost {
  public:
    PollEngine* engine = nullptr;
    WindowControls controls;
    bool portGone = false;  // the device is gone: every transfer fails
    bool polling = true;    // the link stopped the poll timer after a failure
    bool freshPort = false; // a port came back and nothing was read from it yet
    Line line;
    Unit unit;
    Oracle oracle;
    Frame reply;
    Request lastSent{};
    bool sentAny = false;
    bool responseRunning = false;

    std::string SendAddressText() const override { return std::to_string(oracle.address); }
    void PortWrite(const std::uint8_t* data, int count) override {
        if (portGone) throw std::runtime_error("port gone");
        if (count != kRequestLength) Finding("request of another length", -1, count);
        std::copy_n(data, kRequestLength, lastSent.begin());
        if (freshPort && data[1] != kReadHoldingRegisters)
            Finding("a write before the first read on a port that came back",
                    data[2] << 8 | data[3], data[4] << 8 | data[5]);
        freshPort = false;
        sentAny = true;
        if (lastSent[1] == kWriteSingleRegister) CheckWrite();
        reply = unit.Answer(lastSent);
    }
    int PortRead(std::uint8_t* data, int count) override {
        if (portGone) throw std::runtime_error("port gone");
        return line.Pop(data, count);
    }
    void DiscardInput() override {
        if (portGone) throw std::runtime_error("port gone");
        line.count = 0;
    }
    void StartResponseTimer() override { responseRunning = true; }
    void StopResponseTimer() override { responseRunning = false; }
    bool ResponseTimerRunning() const override { return responseRunning; }
    // As the station's link does: polling stops and the link's session ends.
    void PortFailed(std::exception_ptr) override {
        if (!polling) return;
        polling = false;
        engine->EndSession(DropCause::PortLost);
    }
    void ImageToControls(const RegisterImage& image) override {
        korvan::ImageToControls(image, controls);
    }
    void FitPanelsToUnits(int, int) override {}
    int GreyOutDisabledUnits(const RegisterImage& image) override {
        return korvan::GreyOutDisabledUnits(image, controls);
    }
    void ShowLinkLost() override { korvan::ShowLinkLost(controls); }
    void SetOnlineColour(Colour colour) override { controls.ctrl.ONLINE = colour; }
    void ReportWriteRefused(int, std::uint16_t, std::uint8_t) override {}
    void ReportWriteUnanswered(int, std::uint16_t) override {}
    void ReportChoicesDropped(const DroppedChoices&) override {}
    bool ShowMessage(MessageKind, const std::string&) override { return true; } // OK

    // Whatever ends must be what was open: a session's end takes every choice and the command,
    // a lost link the commands only.
    void ChoicesDropped(const DroppedChoices& dropped) noexcept override {
        const bool session = dropped.cause != DropCause::LinkLost;
        if (dropped.serviceCommand != oracle.command)
            Finding("a service command dropped that was not waiting", reg::ServiceCommand,
                    dropped.serviceCommand);
        std::array<std::uint16_t, kRegisterCount> gone{};
        for (const DroppedChoices::Bits& choice : dropped.choices) {
            if (choice.reg < 0 || choice.reg >= kRegisterCount)
                Finding("a dropped choice outside the image", choice.reg, choice.value);
            if ((choice.value ^ oracle.value[choice.reg]) & choice.mask & oracle.mask[choice.reg])
                Finding("a dropped choice of another value", choice.reg, choice.value);
            gone[choice.reg] |= choice.mask;
            ++figures.dropped;
        }
        for (int r = 0; r < kRegisterCount; ++r) {
            const std::uint16_t expected =
                session ? oracle.mask[r] : (r == reg::CommandSignal ? oracle.mask[r] & 0x00FF : 0);
            if ((gone[r] & oracle.mask[r]) != expected)
                Finding("a choice dropped or kept against its kind", r, gone[r]);
        }
        if (session)
            oracle.Forget();
        else
            oracle.DropCommands();
    }

    void ExchangeClosed(const ExchangeRecord& record) noexcept override {
        const bool write = record.request[1] == kWriteSingleRegister;
        const int reg = record.request[2] << 8 | record.request[3];
        const std::uint16_t value = Word(&record.request[4]);
        if (record.verdict == ExchangeVerdict::Good && !write) {
            const int count = std::min<int>(record.request[5], kRegisterCount);
            for (int r = 0; r < count; ++r) {
                SetRegisterValue(oracle.reported, r, Word(&record.received[3 + 2 * r]));
                if (r != reg::ServiceCommand) oracle.Settle(r, Word(&record.received[3 + 2 * r]));
            }
        } else if (record.verdict == ExchangeVerdict::Good && reg != reg::ServiceCommand) {
            SetRegisterValue(oracle.reported, reg, value);
            oracle.Settle(reg, value);
            oracle.refusals[reg] = 0;
            if (reg == oracle.unansweredReg) oracle.unansweredReg = -1;
        } else if (record.verdict != ExchangeVerdict::Good &&
                   record.verdict != ExchangeVerdict::Exception && write && reg < kRegisterCount &&
                   reg != reg::ServiceCommand) {
            if (oracle.unansweredReg == reg && oracle.unansweredValue == value) {
                ++oracle.unanswered;
            } else {
                oracle.unansweredReg = reg;
                oracle.unansweredValue = value;
                oracle.unanswered = 1;
            }
        } else if (record.verdict == ExchangeVerdict::Exception && write &&
                   reg != reg::ServiceCommand) {
            if (oracle.refusals[reg] > 0 && oracle.refusedValue[reg] == value) {
                ++oracle.refusals[reg];
            } else {
                oracle.refusals[reg] = 1;
                oracle.refusedValue[reg] = value;
            }
        }
        if (record.writeAbandoned && reg != reg::ServiceCommand) {
            const bool refused = record.verdict == ExchangeVerdict::Exception;
            if ((refused ? oracle.refusals[reg] : oracle.unanswered) < 3)
                Finding("a choice given up early", reg, value);
            oracle.mask[reg] = 0;
            oracle.refusals[reg] = 0;
            if (oracle.unansweredReg == reg) oracle.unansweredReg = -1;
            ++figures.givenUp;
        }
    }

  private:
    void CheckWrite() {
        ++figures.writesChecked;
        const int reg = lastSent[2] << 8 | lastSent[3];
        const std::uint16_t value = Word(&lastSent[4]);
        if (lastSent[0] != oracle.address) Finding("sent to an address nobody chose", reg, value);
        if (reg >= kRegisterCount) Finding("a register outside the image", reg, value);
        const std::uint16_t reported = RegisterValue(oracle.reported, reg);
        if (reg == reg::ServiceCommand) {
            if (oracle.command < 0 || (value & 0xFF) != oracle.command)
                Finding("a service command nobody pressed", reg, value);
            if ((value ^ reported) & 0xFF00)
                Finding("a high byte the unit did not report", reg, value);
            oracle.command = -1; // sent once
            ++figures.commandsSent;
            return;
        }
        const std::uint16_t mask = oracle.mask[reg];
        if (mask == 0) Finding("a write nobody chose", reg, value);
        if ((value ^ oracle.value[reg]) & mask) Finding("not the newest choice", reg, value);
        if ((value ^ reported) & ~mask) Finding("bits nobody chose not as reported", reg, value);
    }
};

// ---- the operator ----------------------------------------------------------------------------

// The operator's action on one control, as the operator means it (`field` of `reg` to
// `expected`): recorded when it changes what the window shows as wanted, then handed to the
// window's own choice code with the control's new value in `value`.
void Act(Host& host, PollEngine& engine, const ControlRef& control, const WindowControls& value,
         int reg, std::uint16_t field, std::uint16_t expected) {
    const std::uint16_t shown = RegisterValue(engine.WantedImage(), reg);
    const bool shownUnit = engine.UnitShown();
    const ChoiceOutcome outcome = ChooseInControl(engine, control, value);
    if (!outcome.taken) {
        if (shownUnit && reg < PollEngine::kBaseReadCount)
            Finding("a choice refused in a register every unit has", reg, expected);
        return;
    }
    if (shownUnit && ((shown ^ expected) & field) != 0) {
        host.oracle.Choose(reg, field, expected);
        ++figures.choices;
    }
}

std::uint16_t Bit(int bit, bool on) {
    return static_cast<std::uint16_t>(on ? 1u << bit : 0u);
}

// An entry finished in an edit field: a number, a hexadecimal one, or no number at all.
std::string EntryText(Input& in) {
    const int n = static_cast<std::int16_t>(in.Byte() << 8 | in.Byte());
    switch (in.Byte() % 4) {
    case 0:
        return std::to_string(n);
    case 1:
        return std::to_string(n & 0x7F);
    case 2:
        return "$" + std::to_string(n & 0x3F);
    default:
        return "1a";
    }
}

void FinishEntry(Host& host, PollEngine& engine, Input& in) {
    const int which = in.Byte() % 12;
    const int k = in.Byte() % kUnitPanels;
    const std::string text = EntryText(in);
    WindowControls value;
    ControlRef control;
    EntryRange range = kDelayRange;
    int reg = 0;
    if (which == 0) {
        value.ctrl.ADR = text, control = ControlOf<&CommonControls::ADR>();
        range = kAddressRange, reg = reg::NetworkAddress;
    } else if (which == 1) {
        value.ctrl.DEL = text, control = ControlOf<&CommonControls::DEL>();
        range = kTimeoutRange, reg = reg::NetworkTimeout;
    } else {
        const int i = which % 4;
        value.unit[k].delay[i] = text, control = ControlOf<&UnitControls::delay>(k, i);
        reg = reg::UnitBlock(k) + reg::DelayOn1 + i;
    }
    if (!EntryRefusal(text, range).empty()) { // the field shows the unit's value again
        ++figures.refusedEntries;
        return;
    }
    Act(host, engine, control, value, reg, 0xFFFF,
        static_cast<std::uint16_t>(ConvertText(text).value));
}

void PickFromList(Host& host, PollEngine& engine, Input& in) {
    const int which = in.Byte() % 4;
    const int k = in.Byte() % kUnitPanels;
    const int item = in.Byte();
    ListState& list = which == 0   ? host.controls.ctrl.PANEL
                      : which == 1 ? host.controls.ctrl.SPD
                                   : host.controls.unit[k].Ut;
    if (!list.droppedDown) { // opened: the poll goes on meanwhile
        list.droppedDown = true;
        return;
    }
    list.droppedDown = false;
    if (item & 0x80) return; // closed without a choice
    WindowControls value;
    if (which == 0) {
        list.index = item % 4;
        value.ctrl.PANEL = list;
        Act(host, engine, ControlOf<&CommonControls::PANEL>(), value, reg::PanelType, 0xFFFF,
            static_cast<std::uint16_t>(list.index));
    } else if (which == 1) {
        list.index = item % 7;
        value.ctrl.SPD = list;
        Act(host, engine, ControlOf<&CommonControls::SPD>(), value, reg::NetworkSpeed, 0xFFFF,
            static_cast<std::uint16_t>(list.index));
    } else {
        list.index = item % kDriveTypeItems;
        value.unit[k].Ut = list;
        Act(host, engine, ControlOf<&UnitControls::Ut>(k), value, reg::UnitBlock(k), 0x003F,
            static_cast<std::uint16_t>(DriveTypeCode(list.index)));
    }
}

void TickOrSelect(Host& host, PollEngine& engine, Input& in) {
    const int k = in.Byte() % kUnitPanels;
    const int j = in.Byte() % 10;
    const int choice = in.Byte() % 3;
    UnitControls& u = host.controls.unit[k];
    WindowControls value;
    UnitControls& v = value.unit[k];
    const int config = reg::UnitBlock(k);
    switch (in.Byte() % 7) {
    case 0:
        v.FIN[j] = u.FIN[j] = !u.FIN[j];
        return Act(host, engine, ControlOf<&UnitControls::FIN>(k, j), value, reg::StartSources(k),
                   Bit(j, true), Bit(j, u.FIN[j]));
    case 1:
        v.BIN[j] = u.BIN[j] = !u.BIN[j];
        return Act(host, engine, ControlOf<&UnitControls::BIN>(k, j), value, reg::BlockSources(k),
                   Bit(j, true), Bit(j, u.BIN[j]));
    case 2:
        v.FINA = u.FINA = !u.FINA;
        return Act(host, engine, ControlOf<&UnitControls::FINA>(k), value, reg::StartSources(k),
                   Bit(10, true), Bit(10, u.FINA));
    case 3:
        v.Cd = u.Cd = !u.Cd;
        return Act(host, engine, ControlOf<&UnitControls::Cd>(k), value, config, Bit(7, true),
                   Bit(7, !u.Cd));
    case 4:
        v.O[j % 4] = u.O[j % 4] = !u.O[j % 4];
        return Act(host, engine, ControlOf<&UnitControls::O>(k, j % 4), value, config,
                   Bit(10 + j % 4, true), Bit(10 + j % 4, !u.O[j % 4]));
    case 5:
        v.contact = u.contact = choice;
        return Act(host, engine, ControlOf<&UnitControls::contact>(k), value, config, 0x0300,
                   static_cast<std::uint16_t>(choice << 8));
    default:
        v.drives = u.drives = choice % 2;
        return Act(host, engine, ControlOf<&UnitControls::drives>(k), value, config, Bit(6, true),
                   Bit(6, choice % 2 == 1));
    }
}

void ClickOutput(Host& host, PollEngine& engine, Input& in) {
    const int k = in.Byte() % kUnitPanels;
    const int which = in.Byte() % 6;
    const Colour shown =
        which < 2 ? host.controls.unit[k].OUT[which] : host.controls.master.RELAY[which - 2];
    const ControlRef control = which < 2 ? ControlOf<&UnitControls::OUT>(k, which)
                                         : ControlOf<&MasterControls::RELAY>(0, which - 2);
    const int reg = which < 2 ? reg::UnitBlock(k) + reg::UnitOutputs : reg::UnitOutputs;
    const int bit = which < 2 ? which : 8 + which - 2;
    const std::uint16_t before = RegisterValue(engine.WantedImage(), reg);
    const bool shownUnit = engine.UnitShown();
    korvan::ClickOutput(engine, control, shown);
    // Grey (link lost, unit not in use) says nothing of the output: a click changes nothing.
    if (shown != kRed && shown != kGreen && shown != kYellow) {
        if (RegisterValue(engine.WantedImage(), reg) != before)
            Finding("a click on a grey indicator chose", reg,
                    RegisterValue(engine.WantedImage(), reg));
        return;
    }
    const std::uint16_t expected = Bit(bit, shown != kRed);
    if (shownUnit && ((before ^ expected) & Bit(bit, true)) != 0) {
        host.oracle.Choose(reg, Bit(bit, true), expected);
        ++figures.choices;
    }
}

void PressCommand(Host& host, PollEngine& engine, Input& in) {
    const int which = in.Byte() % 4;
    const bool up = engine.LinkUp();
    if (which < 2) {
        const std::uint16_t value = which == 0 ? kCommandStart : kCommandStop;
        const std::uint16_t shown = RegisterValue(engine.WantedImage(), reg::CommandSignal);
        // Refused while the link is lost: a start delivered whenever the line returns is a hazard.
        if (up && ((shown ^ value) & 0x00FF) != 0)
            host.oracle.Choose(reg::CommandSignal, 0x00FF, value);
        const bool taken = which == 0 ? GO_BUTClick(engine, host) : ST_BUTClick(engine, host);
        if (taken != up)
            Finding("a command taken or refused against the link", reg::CommandSignal, value);
        return;
    }
    // Reset or restore, confirmed: every press is sent once, the newest unsent one wins.
    const std::uint8_t command = which == 2 ? kCommandReset : kCommandRestore;
    if (up && UnitCount(engine.ShownImage()) > 0) host.oracle.command = command;
    if (which == 2)
        RES_BUTClick(engine, host);
    else
        RESTOREClick(engine, host);
}

void ChangeSlaveAddress(Host& host, PollEngine& engine, Input& in) {
    const std::string text = std::to_string(in.Byte());
    // 0 and 248..255 are refused; the same address again is no change.
    if (!EntryRefusal(text, kSlaveAddressRange).empty() || text == host.SendAddressText()) return;
    host.oracle.address = static_cast<std::uint8_t>(ConvertText(text).value);
    engine.EndSession(DropCause::AddressChanged); // the oracle forgets as the choices are dropped
    ++figures.restarts;
}

// ---- the line ----------------------------------------------------------------------------------

// The same answer bent one way: another address, a function, a byte count, or a length.
Frame BentAnswer(Frame reply, Input& in) {
    if (reply.size < 2) return reply;
    reply.size -= 2;
    const std::uint8_t how = in.Byte();
    const std::uint8_t by = in.Byte();
    switch (how % 4) {
    case 0:
        reply.bytes[0] ^= static_cast<std::uint8_t>(by | 1);
        break;
    case 1:
        reply.bytes[1] = by;
        break;
    case 2:
        reply.bytes[2] = by;
        break;
    default: // shorter or longer, padded with zeros
        reply.size = std::min(3 + by, static_cast<int>(reply.bytes.size()) - 2);
        break;
    }
    reply.Seal();
    return reply;
}

void Deliver(Host& host, PollEngine& engine, const Frame& frame, Input& in) {
    int at = 0;
    while (at < frame.size) {
        const int chunk = std::min(frame.size - at, in.Byte() % 64 + 1);
        for (int i = 0; i < chunk; ++i)
            host.line.Push(frame.bytes[static_cast<std::size_t>(at + i)]);
        engine.COMPORTRxChar(chunk);
        at += chunk;
    }
}

void SetRegisters(RegisterImage& registers, Input& in, int count) {
    const int start = in.Byte() % kRegisterCount;
    for (int i = 0; i < count; ++i) {
        const int reg = (start + i) % kRegisterCount;
        registers[2 * reg] = in.Byte();
        registers[2 * reg + 1] = in.Byte();
    }
}

// The device is pulled out: the failure shows at the next transfer.
void PullPort(Host& host) {
    host.portGone = true;
}

// A device comes back under the port's name, leading to another unit, and the link opens it.
void PlugOtherUnit(Host& host, PollEngine& engine, Input& in) {
    if (host.polling) return; // the failure has not been seen yet
    host.portGone = false;
    host.unit = Unit{};
    SetRegisters(host.unit.registers, in, in.Byte() % 128);
    host.line.count = 0;
    host.oracle.reported = RegisterImage{};
    host.sentAny = false;
    engine.EndSession(DropCause::PortLost); // what was chosen while it was away is dropped
    host.polling = true;
    host.freshPort = true;
    ++figures.portSwaps;
}

void CheckNothingLost(const Host& host, const PollEngine& engine) {
    for (int r = 0; r < kRegisterCount; ++r) {
        const std::uint16_t mask = host.oracle.mask[r];
        if ((RegisterValue(engine.WantedImage(), r) ^ host.oracle.value[r]) & mask)
            Finding("a choice lost", r, RegisterValue(engine.WantedImage(), r));
    }
    if (engine.ServiceCommandWaiting() != host.oracle.command)
        Finding("a service command lost or revived", reg::ServiceCommand,
                engine.ServiceCommandWaiting());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Host host;
    PollEngine engine(host, host);
    host.engine = &engine;
    engine.SetExchangeObserver(&host);
    engine.SetStartValues();
    korvan::ShowLinkLost(host.controls);
    Input in{data, size};

    while (in.More()) {
        switch (in.Byte() % 18) {
        case 0:
            if (host.polling) engine.SEND_TIMTimer();
            break;
        case 1:
            if (host.responseRunning) engine.TIMEOUTTimer();
            break;
        case 2: { // raw bytes; the port may report more than it then delivers
            const int length = in.Byte();
            for (int i = 0; i < length; ++i)
                host.line.Push(in.Byte());
            engine.COMPORTRxChar(std::max(1, length + (in.Byte() % 4 == 0 ? in.Byte() * 16 : 0)));
            break;
        }
        case 3: // the unit's answer to the last request, now, late, or once more
            if (host.sentAny) Deliver(host, engine, host.reply, in);
            break;
        case 4:
            if (host.sentAny) Deliver(host, engine, BentAnswer(host.reply, in), in);
            break;
        case 5:
            SetRegisters(host.unit.registers, in, 1);
            break;
        case 6:
            SetRegisters(host.unit.registers, in, in.Byte() % 64);
            break;
        case 7: { // how the unit takes writes and wide reads from now on
            const std::uint8_t mode = in.Byte();
            host.unit.writeMode = mode % 4;
            host.unit.refusal = static_cast<std::uint8_t>(1 + mode / 4 % 4);
            host.unit.widestRead = mode & 0x80 ? 96 : 125;
            break;
        }
        case 8:
            FinishEntry(host, engine, in);
            break;
        case 9:
            PickFromList(host, engine, in);
            break;
        case 10:
            TickOrSelect(host, engine, in);
            break;
        case 11:
            ClickOutput(host, engine, in);
            break;
        case 12:
            PressCommand(host, engine, in);
            break;
        case 13:
            ChangeSlaveAddress(host, engine, in);
            break;
        case 14:
            PullPort(host);
            break;
        case 15:
            PlugOtherUnit(host, engine, in);
            break;
        default: // one whole poll period with the unit's answer
            if (!host.polling) break;
            engine.SEND_TIMTimer();
            Deliver(host, engine, host.reply, in);
            if (host.responseRunning) engine.TIMEOUTTimer();
            break;
        }
        CheckNothingLost(host, engine);
    }
    return 0;
}
