// Drives the poll engine and the register binding, with no window, through whatever the line and
// the unit may do: arbitrary bytes in arbitrary chunks, well-formed and bent replies, any register
// image, and the two timers in any order. Nobody operates the station here, so any write request
// it builds is a fault: the run aborts.
#include "Binding.h"
#include "LinkLoss.h"
#include "ModbusFrames.h"
#include "PollEngine.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <array>

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

// The window, reduced to the state of its controls, with the real binding and display routines.
class Host : public PollHost {
  public:
    WindowControls controls;
    Line line;
    Request lastSent{};
    bool sentAny = false;
    bool responseRunning = false;

    std::string SendAddressText() const override { return "1"; }
    void PortWrite(const std::uint8_t* data, int count) override {
        if (count >= 2 && data[1] == kWriteSingleRegister) {
            std::fprintf(stderr, "write request without an operator action: register %d\n",
                         count >= 4 ? data[3] : -1);
            std::abort();
        }
        std::copy_n(data, kRequestLength, lastSent.begin());
        sentAny = true;
    }
    int PortRead(std::uint8_t* data, int count) override { return line.Pop(data, count); }
    void StartResponseTimer() override { responseRunning = true; }
    void StopResponseTimer() override { responseRunning = false; }
    bool ResponseTimerRunning() const override { return responseRunning; }
    void StopPollTimer() override {}
    void ShowPortError() override {}
    void ControlsToImage(RegisterImage& image) override {
        korvan::ControlsToImage(controls, image);
    }
    void ImageToControls(const RegisterImage& image) override {
        korvan::ImageToControls(image, controls);
    }
    void FitPanelsToUnits() override {}
    int GreyOutDisabledUnits(const RegisterImage& image) override {
        return korvan::GreyOutDisabledUnits(image, controls);
    }
    void ShowLinkLost() override { korvan::ShowLinkLost(controls); }
    void SetOnlineColour(Colour colour) override { controls.ctrl.ONLINE = colour; }
};

// What a unit holding `registers` answers to the last request (a read: the station sends no
// write here, or it has already aborted).
Frame UnitAnswer(const Host& host, const RegisterImage& registers) {
    const int count = std::min<int>(host.lastSent[5], kRegisterCount);
    Frame reply;
    reply.Push(host.lastSent[0]);
    reply.Push(kReadHoldingRegisters);
    reply.Push(static_cast<std::uint8_t>(2 * count));
    for (int i = 0; i < 2 * count; ++i)
        reply.Push(registers[static_cast<std::size_t>(i)]);
    reply.Seal();
    return reply;
}

// The same answer bent one way: another address, a function, a byte count, or a length.
Frame BentAnswer(Frame reply, Input& in) {
    reply.size -= 2;
    const std::uint8_t how = in.Byte();
    const std::uint8_t by = in.Byte();
    switch (how % 4) {
    case 0: reply.bytes[0] ^= static_cast<std::uint8_t>(by | 1); break;
    case 1: reply.bytes[1] = by; break;
    case 2: reply.bytes[2] = by; break;
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Host host;
    PollEngine engine(host);
    engine.SetStartValues();
    korvan::ShowLinkLost(host.controls);
    RegisterImage unit{};
    Input in{data, size};

    while (in.More()) {
        switch (in.Byte() % 8) {
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
        case 3:
            if (host.sentAny) Deliver(host, engine, UnitAnswer(host, unit), in);
            break;
        case 4:
            if (host.sentAny) Deliver(host, engine, BentAnswer(UnitAnswer(host, unit), in), in);
            break;
        case 5:
            SetRegisters(unit, in, 1);
            break;
        case 6:
            SetRegisters(unit, in, in.Byte() % 64);
            break;
        default: // one whole poll period with the unit's answer
            engine.SEND_TIMTimer();
            Deliver(host, engine, UnitAnswer(host, unit), in);
            if (host.responseRunning) engine.TIMEOUTTimer();
            break;
        }
    }
    return 0;
}
