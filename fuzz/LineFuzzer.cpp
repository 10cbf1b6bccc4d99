// Drives the poll engine and the register binding, with no window, through whatever the line, the
// unit and the operator may do: arbitrary bytes in arbitrary chunks, well-formed, bent, refused and
// late replies; a unit that applies, refuses or loses writes, refuses wide reads and changes its
// own registers; the two timers in any order; and an operator who finishes entries (valid or not),
// ticks boxes, picks from lists or closes them unchosen, clicks outputs, presses the commands and
// changes the slave address, each handed to the engine as the window does.
//
// The invariant, checked at every write request: it goes to the slave address the operator chose;
// register 95 carries a command pressed and not yet sent; any other register carries the
// operator's newest finished value in the bits of the operator's open choices and the unit's last
// reported value in every other bit, and a write with no open choice behind it is a fault. After
// every step no open choice or command may be missing from what the engine wants. A choice is open
// from the operator's action until the unit is seen holding it (echo or read) or has refused it
// three times. A finding aborts the run with its kind.
#include "Binding.h"
#include "Commands.h"
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
    ~Figures() {
        std::fprintf(stderr,
                     "operator model: %lld writes checked, %lld choices, %lld entries refused, "
                     "%lld choices given up after refusals, %lld service commands sent, "
                     "%lld address changes\n",
                     writesChecked, choices, refusedEntries, givenUp, commandsSent, restarts);
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
class Host : public PollLine, public PollView, public ExchangeObserver {
  public:
    WindowControls controls;
    Line line;
    Unit unit;
    Oracle oracle;
    Frame reply;
    Request lastSent{};
    bool sentAny = false;
    bool responseRunning = false;

    std::string SendAddressText() const override { return std::to_string(oracle.address); }
    void PortWrite(const std::uint8_t* data, int count) override {
        if (count != kRequestLength) Finding("request of another length", -1, count);
        std::copy_n(data, kRequestLength, lastSent.begin());
        sentAny = true;
        if (lastSent[1] == kWriteSingleRegister) CheckWrite();
        reply = unit.Answer(lastSent);
    }
    int PortRead(std::uint8_t* data, int count) override { return line.Pop(data, count); }
    void StartResponseTimer() override { responseRunning = true; }
    void StopResponseTimer() override { responseRunning = false; }
    bool ResponseTimerRunning() const override { return responseRunning; }
    void PortFailed(std::exception_ptr) override {}
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
            if (oracle.refusals[reg] < 3) Finding("a choice given up early", reg, value);
            oracle.mask[reg] = 0;
            oracle.refusals[reg] = 0;
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

// What the window does after the operator changed a control: the controls read back over the
// wanted image, and every difference handed to the engine as a choice.
void TakeChoices(Host& host, PollEngine& engine) {
    if (!engine.UnitShown()) return; // the controls hold start values, which nobody chose
    WindowControls chosen = host.controls;
    chosen.ctrl.PANEL.droppedDown = false;
    chosen.ctrl.SPD.droppedDown = false;
    for (UnitControls& u : chosen.unit)
        u.Ut.droppedDown = false;
    RegisterImage image = engine.WantedImage();
    ControlsToImage(chosen, image);
    for (const Choice& choice : ChoicesBetween(engine.WantedImage(), image))
        engine.Choose(choice.reg, choice.mask, choice.value);
}

// The operator's action on one field, as the operator means it: recorded when it changes what
// the window shows as wanted, then handed over as the window does.
void Act(Host& host, PollEngine& engine, int reg, std::uint16_t field, std::uint16_t value) {
    const std::uint16_t shown = RegisterValue(engine.WantedImage(), reg);
    if (engine.UnitShown() && ((shown ^ value) & field) != 0) {
        host.oracle.Choose(reg, field, value);
        ++figures.choices;
    }
    TakeChoices(host, engine);
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
    std::string* field = nullptr;
    EntryRange range = kDelayRange;
    int reg = 0;
    if (which == 0) {
        field = &host.controls.ctrl.ADR, range = kAddressRange, reg = reg::NetworkAddress;
    } else if (which == 1) {
        field = &host.controls.ctrl.DEL, range = kTimeoutRange, reg = reg::NetworkTimeout;
    } else {
        const int i = which % 4;
        field = &host.controls.unit[k].delay[i], reg = reg::UnitBlock(k) + reg::DelayOn1 + i;
    }
    if (!EntryRefusal(text, range).empty()) { // the field shows the unit's value again
        ++figures.refusedEntries;
        return;
    }
    *field = text;
    Act(host, engine, reg, 0xFFFF, static_cast<std::uint16_t>(ConvertText(text).value));
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
    if (which == 0) {
        list.index = item % 4;
        Act(host, engine, reg::PanelType, 0xFFFF, static_cast<std::uint16_t>(list.index));
    } else if (which == 1) {
        list.index = item % 7;
        Act(host, engine, reg::NetworkSpeed, 0xFFFF, static_cast<std::uint16_t>(list.index));
    } else {
        list.index = item % kDriveTypeItems;
        Act(host, engine, reg::UnitBlock(k), 0x003F,
            static_cast<std::uint16_t>(DriveTypeCode(list.index)));
    }
}

void TickOrSelect(Host& host, PollEngine& engine, Input& in) {
    const int k = in.Byte() % kUnitPanels;
    const int j = in.Byte() % 10;
    const int choice = in.Byte() % 3;
    UnitControls& u = host.controls.unit[k];
    const int config = reg::UnitBlock(k);
    switch (in.Byte() % 7) {
    case 0:
        u.FIN[j] = !u.FIN[j];
        return Act(host, engine, reg::StartSources(k), Bit(j, true), Bit(j, u.FIN[j]));
    case 1:
        u.BIN[j] = !u.BIN[j];
        return Act(host, engine, reg::BlockSources(k), Bit(j, true), Bit(j, u.BIN[j]));
    case 2:
        u.FINA = !u.FINA;
        return Act(host, engine, reg::StartSources(k), Bit(10, true), Bit(10, u.FINA));
    case 3:
        u.Cd = !u.Cd;
        return Act(host, engine, config, Bit(7, true), Bit(7, !u.Cd));
    case 4:
        u.O[j % 4] = !u.O[j % 4];
        return Act(host, engine, config, Bit(10 + j % 4, true), Bit(10 + j % 4, !u.O[j % 4]));
    case 5:
        u.contact = choice;
        return Act(host, engine, config, 0x0300, static_cast<std::uint16_t>(choice << 8));
    default:
        u.drives = choice % 2;
        return Act(host, engine, config, Bit(6, true), Bit(6, choice % 2 == 1));
    }
}

void ClickOutput(Host& host, PollEngine& engine, Input& in) {
    const int k = in.Byte() % kUnitPanels;
    const int which = in.Byte() % 6;
    Colour& indicator =
        which < 2 ? host.controls.unit[k].OUT[which] : host.controls.master.RELAY[which - 2];
    ToggleOutputIndicator(indicator);
    const int reg = which < 2 ? reg::UnitBlock(k) + reg::UnitOutputs : reg::UnitOutputs;
    const int bit = which < 2 ? which : 8 + which - 2;
    Act(host, engine, reg, Bit(bit, true), Bit(bit, indicator == kRed));
}

void PressCommand(Host& host, PollEngine& engine, Input& in) {
    const int which = in.Byte() % 4;
    if (which < 2) {
        const std::uint16_t value = which == 0 ? kCommandStart : kCommandStop;
        const std::uint16_t shown = RegisterValue(engine.WantedImage(), reg::CommandSignal);
        if (((shown ^ value) & 0x00FF) != 0) host.oracle.Choose(reg::CommandSignal, 0x00FF, value);
        if (which == 0)
            GO_BUTClick(engine, host.controls);
        else
            ST_BUTClick(engine, host.controls);
        return;
    }
    // Reset or restore, confirmed: every press is sent once, the newest unsent one wins.
    const std::uint8_t command = which == 2 ? kCommandReset : kCommandRestore;
    host.oracle.command = command;
    engine.SendServiceCommand(command);
}

void ChangeSlaveAddress(Host& host, PollEngine& engine, Input& in) {
    const std::string text = std::to_string(in.Byte());
    // 0 and 248..255 are refused; the same address again is no change.
    if (!EntryRefusal(text, kSlaveAddressRange).empty() || text == host.SendAddressText()) return;
    host.oracle.address = static_cast<std::uint8_t>(ConvertText(text).value);
    host.oracle.Forget();
    engine.Restart();
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
    engine.SetExchangeObserver(&host);
    engine.SetStartValues();
    korvan::ShowLinkLost(host.controls);
    Input in{data, size};

    while (in.More()) {
        switch (in.Byte() % 16) {
        case 0:
            engine.SEND_TIMTimer();
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
        default: // one whole poll period with the unit's answer
            engine.SEND_TIMTimer();
            Deliver(host, engine, host.reply, in);
            if (host.responseRunning) engine.TIMEOUTTimer();
            break;
        }
        CheckNothingLost(host, engine);
    }
    return 0;
}
