// The simulated network of units: the master unit "ЗОКТ-01" and up to nine modules, as the
// station sees them through the master's holding registers. This class owns the registers and
// everything that changes them besides the station: the answers to the command registers, the
// drive automation (start sources, blockings, delays, generalised relays) and a repeating
// scenario in which a fire alarm starts drives and a fault comes and goes.
//
// Time is passed in by the caller (seconds on any monotonic scale), so the behaviour is
// deterministic and can be driven step by step.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace korvan::sim {

constexpr int kUnits = 10;      // unit blocks in the register space: master + nine modules
constexpr int kRegisters = 128; // the unit's register space
constexpr int kBaseRegisters = 96;
constexpr int kExtendedRegisters = 116;

// Register numbers used by the simulator.
namespace regs {
constexpr int Block(int unit) {
    return 8 * unit;
}
constexpr int Config(int unit) {
    return 8 * unit;
}
constexpr int Faults(int unit) {
    return 8 * unit + 1;
}
constexpr int Inputs(int unit) {
    return 8 * unit + 2;
}
constexpr int Outputs(int unit) {
    return 8 * unit + 3;
}
constexpr int DelayOn1(int unit) {
    return 8 * unit + 4;
}
constexpr int DelayOff1(int unit) {
    return 8 * unit + 5;
}
constexpr int DelayOn2(int unit) {
    return 8 * unit + 6;
}
constexpr int DelayOff2(int unit) {
    return 8 * unit + 7;
}
constexpr int Address = 80;
constexpr int Speed = 81;
constexpr int Parity = 82;
constexpr int Timeout = 83;
constexpr int PanelType = 84;
constexpr int UnitCount = 85;
constexpr int Firmware = 86;
constexpr int CommandSignal = 94;
constexpr int ServiceCommand = 95;
constexpr int StartSources(int unit) {
    return 96 + unit;
}
constexpr int BlockSources(int unit) {
    return 106 + unit;
}
} // namespace regs

// Bits of the master's input register that show the command signal sent through register 94.
constexpr std::uint16_t kCommandStartInput = 1u << 12; // "Пуск U"
constexpr std::uint16_t kCommandStopInput = 1u << 13;  // "Стоп U"
constexpr std::uint8_t kCommandStart = 0xAA;
constexpr std::uint8_t kCommandStop = 0x55;
constexpr std::uint8_t kServiceResetAlarm = 0xAA;
constexpr std::uint8_t kServiceFactory = 0x55;

// The seven line speeds a unit can be set to; register 81 holds the index.
constexpr std::array<int, 7> kLineSpeeds{1200, 2400, 4800, 9600, 19200, 38400, 57600};
int SpeedIndex(int baud); // -1 when the speed is not one of kLineSpeeds

struct NetworkSettings {
    int address = 1;
    int baud = 9600;
    int firmwareMajor = 3;
    int firmwareMinor = 5;
    int unitCount = 4;        // units on the network, master included; 0 = no module support
    bool scenario = true;     // false: nothing changes by itself
    double period = 60.0;     // seconds per scenario cycle
    double feedbackLag = 2.0; // seconds from an output change to its feedback input
    // Registers answered, 96 or 116; 0: as the firmware has them. A unit that claims 3.xx but
    // knows only the first 96, as an older unit flashed with a wrong version number does.
    int mappedRegisters = 0;
    int refusedWrite = -1; // a register whose writes the unit refuses (exception 03)
};

// Modbus exception codes the unit answers with; None accepts the request.
enum class Refusal : std::uint8_t {
    None = 0,
    IllegalFunction = 1,
    IllegalAddress = 2,
    IllegalValue = 3,
};

class UnitNetwork {
  public:
    explicit UnitNetwork(const NetworkSettings& settings, double now = 0.0);

    const NetworkSettings& Settings() const { return settings_; }

    // Registers 0 .. MappedRegisters() - 1 answer; firmware 1.xx and 2.xx knows only the first 96.
    int MappedRegisters() const;

    // The register array itself, for the protocol library to read and write in place.
    std::uint16_t* Data() { return regs_.data(); }
    const std::array<std::uint16_t, kRegisters>& Registers() const { return regs_; }
    std::uint16_t Get(int reg) const { return regs_.at(reg); }

    // A change made by the unit itself (sensors, faults; also the control channel). It takes
    // part in the automation like any change of the unit's own state.
    void Set(int reg, std::uint16_t value, double now);

    // Fault flags, input states, the unit count and the firmware version belong to the unit.
    static bool IsStatusRegister(int reg);

    Refusal CheckRead(int start, int count) const;
    Refusal CheckWrite(int reg) const;

    // The station has written `value` to `reg` (already stored in the registers).
    void StationWrote(int reg, std::uint16_t value, double now);

    // Runs the scenario and the automation up to `now`.
    void Advance(double now);

    bool ScenarioEnabled() const { return settings_.scenario; }
    void SetScenario(bool on, double now);

    // Number of units present: the master alone when the firmware reports no modules.
    int PresentUnits() const;
    bool InUse(int unit) const; // present and its drive type is not 0
    bool Started(int unit) const { return started_.at(unit); }
    bool FireLatched(int unit) const { return fire_.at(unit); }

    // The unit where the scenario's fire detector sits and the unit that gets its fault.
    int ScenarioFireUnit() const;
    int ScenarioFaultUnit() const;

    // Moments of the scenario cycle, as fractions of the period.
    static constexpr double kFireOn = 0.10;
    static constexpr double kFaultOn = 0.30;
    static constexpr double kFireOff = 0.50;
    static constexpr double kFaultOff = 0.55;
    static constexpr double kDoorOpen = 0.60;
    static constexpr double kDoorClosed = 0.70;
    static constexpr double kLocalReset = 0.80;
    static constexpr std::uint16_t kScenarioFault = 1u << 7; // line fault of input 4

  private:
    struct Timed {
        double at;
        int reg;
        std::uint16_t mask;
        bool set;
        int unit;
        bool feedback; // feedback input, not an output
    };

    void LoadDemoSettings();
    void LoadFactorySettings();
    void ResetAlarm();
    void ApplyCommandSignal(std::uint8_t command);
    void Reevaluate(double now);
    void UpdateRelays();
    void TrackOutputs(double now);
    void RunTimedUntil(double t);
    void RunScenarioEdge(int edge, double at);
    void ScheduleDrive(int unit, bool on, double now);
    bool Demand(int unit) const;
    bool Blocked(int unit) const;
    std::array<bool, 4> RelayConditions() const;
    void SetBit(int reg, std::uint16_t mask, bool on);

    NetworkSettings settings_;
    std::array<std::uint16_t, kRegisters> regs_{};
    std::array<bool, kUnits> fire_{};
    std::array<bool, kUnits> started_{};
    std::array<std::uint16_t, kUnits> seenOutputs_{};
    std::array<bool, 4> relayCondition_{};
    bool commandStart_ = false;
    bool commandStop_ = false;
    std::vector<Timed> timed_;
    double origin_ = 0.0;
    double last_ = 0.0;
};

} // namespace korvan::sim
