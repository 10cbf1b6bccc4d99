// A line and view stand-in for the poll engine whose port, timers and binding the test drives,
// and a unit that answers requests from its own register image.
#pragma once

#include "LinkLoss.h"
#include "ModbusFrames.h"
#include "PollEngine.h"

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvan::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes WithCrc(Bytes frame) {
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    Crc16(frame.data(), static_cast<int>(frame.size()), high, low);
    frame.push_back(low);
    frame.push_back(high);
    return frame;
}

inline Bytes ReadReply(const RegisterImage& registers, int count, std::uint8_t address = 1) {
    Bytes reply{address, kReadHoldingRegisters, static_cast<std::uint8_t>(2 * count)};
    reply.insert(reply.end(), registers.begin(), registers.begin() + 2 * count);
    return WithCrc(reply);
}

inline Bytes WriteFrame(int reg, std::uint16_t value, std::uint8_t address = 1) {
    return WithCrc({address, kWriteSingleRegister, 0, static_cast<std::uint8_t>(reg),
                    static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

inline Bytes ReadFrame(int count, std::uint8_t address = 1) {
    return WithCrc({address, kReadHoldingRegisters, 0, 0, 0, static_cast<std::uint8_t>(count)});
}

class ScriptedHost : public PollLine, public PollView {
  public:
    std::string address = "1";
    std::vector<Bytes> sent;
    std::deque<std::uint8_t> waiting; // the driver's receive queue
    int largestReadAsked = 0;
    bool failWrite = false;
    int readsUntilFailure = -1; // when not negative: this many reads succeed, then they fail
    bool responseRunning = false;
    bool pollRunning = true;
    std::vector<std::string> calls; // timer and display calls, in order
    int imageToControlsCalls = 0;
    int fitCalls = 0;
    int linkLostCalls = 0;
    int portErrors = 0;

    struct Refusal {
        int reg;
        std::uint16_t value;
        std::uint8_t code;
        bool operator==(const Refusal&) const = default;
    };
    std::vector<Refusal> refusals;   // the notices of writes given up
    std::vector<Refusal> unanswered; // the same for writes left unanswered (code 0)
    std::vector<DroppedChoices> dropped;
    // Colours for the display routines.
    WindowControls controls;

    std::string SendAddressText() const override { return address; }
    void PortWrite(const std::uint8_t* data, int count) override {
        if (failWrite) throw std::runtime_error("write");
        sent.emplace_back(data, data + count);
    }
    int PortRead(std::uint8_t* data, int count) override {
        largestReadAsked = std::max(largestReadAsked, count);
        if (readsUntilFailure == 0) throw std::runtime_error("read");
        if (readsUntilFailure > 0) --readsUntilFailure;
        int n = 0;
        for (; n < count && !waiting.empty(); ++n) {
            data[n] = waiting.front();
            waiting.pop_front();
        }
        return n;
    }
    void DiscardInput() override { waiting.clear(); }
    void StartResponseTimer() override {
        calls.push_back("StartResponseTimer");
        responseRunning = true;
    }
    void StopResponseTimer() override {
        calls.push_back("StopResponseTimer");
        responseRunning = false;
    }
    bool ResponseTimerRunning() const override { return responseRunning; }
    // As the station's line does: polling stops and the link shows lost.
    void PortFailed(std::exception_ptr) override {
        calls.push_back("PortFailed");
        ++portErrors;
        pollRunning = false;
        ++linkLostCalls;
        korvan::ShowLinkLost(controls);
    }
    void ImageToControls(const RegisterImage&) override {
        // Enough of the binding for the colour tests: every indicator of every unit shows a
        // colour from the image again.
        ++imageToControlsCalls;
        for (UnitControls& unit : controls.unit) {
            unit.OUT.fill(kGreen);
            unit.IN.fill(kGreen);
            unit.STATE = kGreen;
        }
    }
    void FitPanelsToUnits(int, int) override { ++fitCalls; }
    int GreyOutDisabledUnits(const RegisterImage& image) override {
        return korvan::GreyOutDisabledUnits(image, controls);
    }
    void ShowLinkLost() override {
        calls.push_back("ShowLinkLost");
        ++linkLostCalls;
        korvan::ShowLinkLost(controls);
    }
    void SetOnlineColour(Colour colour) override { controls.ctrl.ONLINE = colour; }
    void ReportWriteRefused(int reg, std::uint16_t value, std::uint8_t code) override {
        refusals.push_back({reg, value, code});
    }
    void ReportWriteUnanswered(int reg, std::uint16_t value) override {
        unanswered.push_back({reg, value, 0});
    }
    void ReportChoicesDropped(const DroppedChoices& d) override { dropped.push_back(d); }

    void Receive(const Bytes& bytes) { waiting.insert(waiting.end(), bytes.begin(), bytes.end()); }
};

// A unit on the line: answers reads from its registers, stores and echoes writes. Register 95
// takes a service command without keeping it, as the real unit does. It can refuse writes, or
// reads wider than it has, with exception 02.
struct ScriptedUnit {
    RegisterImage registers{};
    bool silent = false;
    bool silentToWrites = false; // answers reads only; writes are not applied
    bool refuseWrites = false;
    int widestRead = 125;
    std::vector<int> writes; // registers written, in order

    Bytes Answer(const Bytes& request) {
        if (silent) return {};
        const auto refused = [&] {
            return WithCrc({request[0], static_cast<std::uint8_t>(request[1] | 0x80), 2});
        };
        if (request[1] == kReadHoldingRegisters)
            return request[5] > widestRead ? refused()
                                           : ReadReply(registers, request[5], request[0]);
        if (silentToWrites) return {};
        if (refuseWrites) return refused();
        const int reg = request[3];
        writes.push_back(reg);
        if (reg != reg::ServiceCommand)
            SetRegisterValue(registers, reg,
                             static_cast<std::uint16_t>(request[4] << 8 | request[5]));
        return request;
    }
};

// Keeps every exchange the engine reports.
struct Recorder : ExchangeObserver {
    std::vector<ExchangeRecord> records;
    void ExchangeClosed(const ExchangeRecord& record) noexcept override {
        records.push_back(record);
    }
};

// Engine, window stand-in and unit; one Cycle is one poll period.
struct Rig {
    ScriptedHost host;
    PollEngine engine{host, host};
    ScriptedUnit unit;

    Rig() {
        engine.SetStartValues();
        host.ShowLinkLost();
        host.calls.clear();
        host.linkLostCalls = 0;
        for (int k = 0; k < kUnitPanels; ++k) // every unit in use unless a test says otherwise
            SetRegisterValue(unit.registers, reg::UnitBlock(k), 1);
        unit.registers[byte::UnitCount] = 10;
    }

    void Tick() { engine.SEND_TIMTimer(); }
    // The unit's answer to the last request arrives as one receive event.
    void Answer() {
        const Bytes reply = unit.Answer(host.sent.back());
        Deliver(reply);
    }
    void Deliver(const Bytes& bytes) {
        if (bytes.empty()) return;
        host.Receive(bytes);
        engine.COMPORTRxChar(static_cast<int>(bytes.size()));
    }
    void Close() {
        if (host.responseRunning) engine.TIMEOUTTimer();
    }
    void Cycle() {
        Tick();
        Answer();
        Close();
    }
    // The link up, the unit's image shown and the read size settled.
    void Connect() {
        Cycle();
        Cycle();
    }
    const Bytes& LastSent() const { return host.sent.back(); }
    // The operator chooses a whole register.
    void Want(int reg, std::uint16_t value) { engine.Choose(reg, 0xFFFF, value); }
};

} // namespace korvan::test
