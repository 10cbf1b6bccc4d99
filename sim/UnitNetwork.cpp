#include "UnitNetwork.h"

#include <algorithm>
#include <cmath>

namespace korvan::sim {

namespace {

// UnitConfig bits.
constexpr std::uint16_t kTypeMask = 0x003F;
constexpr std::uint16_t kTwoDrives = 1u << 6;
constexpr std::uint16_t kRelayEventOff[4] = {1u << 10, 1u << 11, 1u << 12, 1u << 13};

constexpr std::uint16_t kFireDetector = 1u << 0;  // input 1
constexpr std::uint16_t kDriveFeedback = 1u << 1; // input 2: the drive answers
constexpr std::uint16_t kDoorContact = 1u << 4;   // master's input 5

// A believable installation: pumps on the master, valves, fans and windows on the modules.
struct DemoUnit {
    std::uint16_t config;
    std::uint16_t inputs;
    std::uint16_t outputs;
    std::array<std::uint16_t, 4> delays; // on 1, off 1, on 2, off 2, in seconds
    std::uint16_t startSources;
    std::uint16_t blockSources;
};

// clang-format off
constexpr std::array<DemoUnit, kUnits> kDemo{{
    // 001 pumps, two drives, command-signal contacts normally open, no "Автоматика отключена"
    // event; stopped by command, so "Стоп U" is active and the relay "Останов" is on.
    {0x9041, 0x2004, 0x0200, {10, 5, 20, 5}, 0x0401, 0x0000},
    // 002 gate valve, normally closed sensors, only the "Пуск" and "Неисправность" events
    {0x1902, 0x0000, 0x0000, {3, 3, 0, 0}, 0x0003, 0x0000},
    // 004 fan without drive monitoring, normally open sensors, blocked while module 3 runs
    {0x0284, 0x0008, 0x0000, {15, 30, 0, 0}, 0x0006, 0x0008},
    // 005 reversible valve, two drives, started by the master's command-signal input
    {0x1045, 0x0000, 0x0000, {0, 0, 12, 12}, 0x0400, 0x0000},
    // 011 window
    {0x010B, 0x0000, 0x0000, {5, 5, 0, 0}, 0x0012, 0x0000},
    // 030 input/output mode, no relay events
    {0x3C1E, 0x0000, 0x0000, {0, 0, 0, 0}, 0x0000, 0x0000},
    // 006 electromechanical valve, two drives
    {0x0046, 0x0000, 0x0000, {2, 2, 4, 4}, 0x0041, 0x0000},
    // 012 sewage pumps, two drives
    {0x004C, 0x0000, 0x0000, {8, 8, 16, 8}, 0x0480, 0x0000},
    // 021 two-position reversible valve
    {0x0115, 0x0000, 0x0000, {1, 1, 0, 0}, 0x0102, 0x0000},
    // 008 fan with heater, no drive monitoring, blocked while module 8 runs
    {0x0088, 0x0000, 0x0000, {6, 6, 0, 0}, 0x0204, 0x0100},
}};
// clang-format on

constexpr int kFactoryTimeout = 100;
constexpr int kDemoTimeout = 250;
constexpr int kDemoPanelType = 1;

enum ScenarioEdge {
    kEdgeFireOn,
    kEdgeFaultOn,
    kEdgeFireOff,
    kEdgeFaultOff,
    kEdgeDoorOpen,
    kEdgeDoorClosed,
    kEdgeLocalReset
};

struct EdgeAt {
    double fraction;
    ScenarioEdge edge;
};

constexpr std::array<EdgeAt, 7> kEdges{{
    {UnitNetwork::kFireOn, kEdgeFireOn},
    {UnitNetwork::kFaultOn, kEdgeFaultOn},
    {UnitNetwork::kFireOff, kEdgeFireOff},
    {UnitNetwork::kFaultOff, kEdgeFaultOff},
    {UnitNetwork::kDoorOpen, kEdgeDoorOpen},
    {UnitNetwork::kDoorClosed, kEdgeDoorClosed},
    {UnitNetwork::kLocalReset, kEdgeLocalReset},
}};

} // namespace

int SpeedIndex(int baud) {
    for (std::size_t i = 0; i < kLineSpeeds.size(); ++i)
        if (kLineSpeeds[i] == baud) return static_cast<int>(i);
    return -1;
}

UnitNetwork::UnitNetwork(const NetworkSettings& settings, double now)
    : settings_(settings), origin_(now), last_(now) {
    if (settings_.period <= 0) settings_.period = 60.0;
    LoadDemoSettings();
    regs_[regs::UnitCount] = static_cast<std::uint16_t>(std::clamp(settings_.unitCount, 0, 255));
    regs_[regs::Firmware] = static_cast<std::uint16_t>((settings_.firmwareMajor & 0xFF) << 8 |
                                                       (settings_.firmwareMinor & 0xFF));
    commandStop_ = (regs_[regs::CommandSignal] & 0xFF) == kCommandStop;
    relayCondition_ = RelayConditions();
    for (int k = 0; k < kUnits; ++k)
        seenOutputs_[k] = regs_[regs::Outputs(k)];
}

void UnitNetwork::LoadDemoSettings() {
    const int present = PresentUnits();
    for (int k = 0; k < present; ++k) {
        const DemoUnit& d = kDemo[k];
        regs_[regs::Config(k)] = d.config;
        regs_[regs::Inputs(k)] = d.inputs;
        regs_[regs::Outputs(k)] = d.outputs;
        for (int i = 0; i < 4; ++i)
            regs_[regs::DelayOn1(k) + i] = d.delays[i];
        regs_[regs::StartSources(k)] = d.startSources;
        regs_[regs::BlockSources(k)] = d.blockSources;
    }
    regs_[regs::Address] = static_cast<std::uint16_t>(settings_.address);
    regs_[regs::Speed] = static_cast<std::uint16_t>(std::max(SpeedIndex(settings_.baud), 0));
    regs_[regs::Parity] = 0;
    regs_[regs::Timeout] = kDemoTimeout;
    regs_[regs::PanelType] = kDemoPanelType;
    regs_[regs::CommandSignal] = kCommandStop;
}

void UnitNetwork::LoadFactorySettings() {
    for (int k = 0; k < kUnits; ++k) {
        regs_[regs::Config(k)] = 0;
        regs_[regs::Outputs(k)] = 0;
        for (int i = 0; i < 4; ++i)
            regs_[regs::DelayOn1(k) + i] = 0;
        regs_[regs::StartSources(k)] = 0;
        regs_[regs::BlockSources(k)] = 0;
    }
    // The unit keeps answering where it is, so the network settings it reports say so.
    regs_[regs::Address] = static_cast<std::uint16_t>(settings_.address);
    regs_[regs::Speed] = static_cast<std::uint16_t>(std::max(SpeedIndex(settings_.baud), 0));
    regs_[regs::Parity] = 0;
    regs_[regs::Timeout] = kFactoryTimeout;
    regs_[regs::PanelType] = 0;
    regs_[regs::CommandSignal] = 0;
    regs_[regs::Inputs(0)] &= static_cast<std::uint16_t>(~(kCommandStartInput | kCommandStopInput));
    fire_ = {};
    started_ = {};
    commandStart_ = false;
    commandStop_ = false;
    timed_.clear();
    relayCondition_ = {};
}

int UnitNetwork::PresentUnits() const {
    return settings_.unitCount <= 0 ? 1 : std::min(settings_.unitCount, kUnits);
}

bool UnitNetwork::InUse(int unit) const {
    return unit >= 0 && unit < PresentUnits() && (regs_[regs::Config(unit)] & kTypeMask) != 0;
}

int UnitNetwork::ScenarioFireUnit() const {
    return PresentUnits() >= 2 ? 1 : 0;
}

int UnitNetwork::ScenarioFaultUnit() const {
    const int n = PresentUnits();
    return n >= 3 ? n - 1 : 0;
}

int UnitNetwork::MappedRegisters() const {
    if (settings_.mappedRegisters > 0) return settings_.mappedRegisters;
    return settings_.firmwareMajor > 2 ? kExtendedRegisters : kBaseRegisters;
}

bool UnitNetwork::IsStatusRegister(int reg) {
    if (reg >= 0 && reg <= 79 && (reg % 8 == 1 || reg % 8 == 2)) return true;
    return reg == regs::UnitCount || reg == regs::Firmware;
}

Refusal UnitNetwork::CheckRead(int start, int count) const {
    if (count < 1 || count > 125) return Refusal::IllegalValue;
    if (start < 0 || start + count > MappedRegisters()) return Refusal::IllegalAddress;
    return Refusal::None;
}

Refusal UnitNetwork::CheckWrite(int reg) const {
    if (reg < 0 || reg >= MappedRegisters() || IsStatusRegister(reg))
        return Refusal::IllegalAddress;
    if (reg == settings_.refusedWrite) return Refusal::IllegalValue;
    return Refusal::None;
}

void UnitNetwork::SetBit(int reg, std::uint16_t mask, bool on) {
    if (on)
        regs_[reg] |= mask;
    else
        regs_[reg] &= static_cast<std::uint16_t>(~mask);
}

void UnitNetwork::Set(int reg, std::uint16_t value, double now) {
    const std::uint16_t before = regs_.at(reg);
    regs_[reg] = value;
    if (!settings_.scenario) return;
    RunTimedUntil(now);
    for (int k = 0; k < PresentUnits(); ++k) {
        if (reg == regs::Inputs(k) && !(before & kFireDetector) && (value & kFireDetector) &&
            InUse(k))
            fire_[k] = true;
    }
    Reevaluate(now);
    TrackOutputs(now);
}

void UnitNetwork::ApplyCommandSignal(std::uint8_t command) {
    if (command == kCommandStart) {
        commandStart_ = true;
        commandStop_ = false;
        SetBit(regs::Inputs(0), kCommandStartInput, true);
        SetBit(regs::Inputs(0), kCommandStopInput, false);
    } else if (command == kCommandStop) {
        commandStart_ = false;
        commandStop_ = true;
        SetBit(regs::Inputs(0), kCommandStartInput, false);
        SetBit(regs::Inputs(0), kCommandStopInput, true);
    }
}

void UnitNetwork::ResetAlarm() {
    fire_ = {};
    started_ = {};
    commandStart_ = false;
    commandStop_ = false;
    std::erase_if(timed_, [](const Timed& t) { return !t.feedback; });
    for (int k = 0; k < kUnits; ++k)
        SetBit(regs::Outputs(k), 0x0003, false);
    // The generalised "Пуск" and "Останов" relays drop with the alarm and the command.
    SetBit(regs::Outputs(0), 0x0300, false);
    relayCondition_[0] = false;
    relayCondition_[1] = false;
    regs_[regs::CommandSignal] = 0;
    SetBit(regs::Inputs(0), kCommandStartInput | kCommandStopInput, false);
}

void UnitNetwork::StationWrote(int reg, std::uint16_t value, double now) {
    if (settings_.scenario) RunTimedUntil(now);
    if (reg == regs::CommandSignal) {
        ApplyCommandSignal(static_cast<std::uint8_t>(value & 0xFF));
    } else if (reg == regs::ServiceCommand) {
        const auto command = static_cast<std::uint8_t>(value & 0xFF);
        if (command == kServiceResetAlarm)
            ResetAlarm();
        else if (command == kServiceFactory)
            LoadFactorySettings();
        regs_[regs::ServiceCommand] = 0; // one-shot: the unit clears it once it has acted
    }
    if (settings_.scenario) {
        Reevaluate(now);
        TrackOutputs(now);
    }
}

bool UnitNetwork::Demand(int unit) const {
    if (!InUse(unit)) return false;
    const std::uint16_t sources = regs_[regs::StartSources(unit)];
    if (commandStart_ && (sources & (1u << 10))) return true;
    for (int j = 0; j < PresentUnits(); ++j)
        if (fire_[j] && (sources & (1u << j))) return true;
    return false;
}

bool UnitNetwork::Blocked(int unit) const {
    const std::uint16_t blockers = regs_[regs::BlockSources(unit)];
    for (int j = 0; j < PresentUnits(); ++j)
        if (j != unit && (blockers & (1u << j)) && Demand(j)) return true;
    return false;
}

void UnitNetwork::Reevaluate(double now) {
    std::array<bool, kUnits> next{};
    for (int k = 0; k < PresentUnits(); ++k)
        next[k] = Demand(k) && !Blocked(k);
    for (int k = 0; k < kUnits; ++k) {
        if (next[k] != started_[k]) {
            started_[k] = next[k];
            ScheduleDrive(k, next[k], now);
        }
    }
    RunTimedUntil(now);
    UpdateRelays();
}

void UnitNetwork::ScheduleDrive(int unit, bool on, double now) {
    std::erase_if(timed_, [unit](const Timed& t) { return t.unit == unit && !t.feedback; });
    const int reg = regs::Outputs(unit);
    if (on) {
        timed_.push_back({now + regs_[regs::DelayOn1(unit)], reg, 0x0001, true, unit, false});
        if (regs_[regs::Config(unit)] & kTwoDrives)
            timed_.push_back({now + regs_[regs::DelayOn2(unit)], reg, 0x0002, true, unit, false});
    } else {
        timed_.push_back({now + regs_[regs::DelayOff1(unit)], reg, 0x0001, false, unit, false});
        timed_.push_back({now + regs_[regs::DelayOff2(unit)], reg, 0x0002, false, unit, false});
    }
}

void UnitNetwork::RunTimedUntil(double t) {
    while (true) {
        auto next = std::min_element(timed_.begin(), timed_.end(),
                                     [](const Timed& a, const Timed& b) { return a.at < b.at; });
        if (next == timed_.end() || next->at > t) return;
        const Timed due = *next;
        timed_.erase(next);
        SetBit(due.reg, due.mask, due.set);
    }
}

void UnitNetwork::TrackOutputs(double now) {
    for (int k = 0; k < PresentUnits(); ++k) {
        const bool on = regs_[regs::Outputs(k)] & 0x0001;
        const bool seen = seenOutputs_[k] & 0x0001;
        seenOutputs_[k] = regs_[regs::Outputs(k)];
        if (on == seen || !InUse(k)) continue;
        std::erase_if(timed_, [k](const Timed& t) { return t.unit == k && t.feedback; });
        timed_.push_back(
            {now + settings_.feedbackLag, regs::Inputs(k), kDriveFeedback, on, k, true});
    }
}

std::array<bool, 4> UnitNetwork::RelayConditions() const {
    std::array<bool, 4> condition{};
    for (int k = 0; k < PresentUnits(); ++k) {
        if (!InUse(k)) continue;
        const std::uint16_t config = regs_[regs::Config(k)];
        const auto ticked = [config](int event) { return !(config & kRelayEventOff[event]); };
        if (ticked(0) && started_[k]) condition[0] = true;
        if (ticked(1) && commandStop_) condition[1] = true;
        if (ticked(3) && regs_[regs::Faults(k)] != 0) condition[3] = true;
    }
    return condition; // "Автоматика отключена" is only ever switched by hand
}

void UnitNetwork::UpdateRelays() {
    // Relays follow their events when an event comes or goes; in between a relay the station
    // switched by hand stays as it was switched.
    const std::array<bool, 4> condition = RelayConditions();
    for (int i = 0; i < 4; ++i) {
        if (condition[i] == relayCondition_[i]) continue;
        relayCondition_[i] = condition[i];
        SetBit(regs::Outputs(0), static_cast<std::uint16_t>(1u << (8 + i)), condition[i]);
    }
}

void UnitNetwork::RunScenarioEdge(int edge, double at) {
    const int fireUnit = ScenarioFireUnit();
    const int faultUnit = ScenarioFaultUnit();
    switch (edge) {
    case kEdgeFireOn:
        if (!(regs_[regs::Inputs(fireUnit)] & kFireDetector) && InUse(fireUnit))
            fire_[fireUnit] = true;
        SetBit(regs::Inputs(fireUnit), kFireDetector, true);
        break;
    case kEdgeFireOff:
        SetBit(regs::Inputs(fireUnit), kFireDetector, false);
        break;
    case kEdgeFaultOn:
        SetBit(regs::Faults(faultUnit), kScenarioFault, true);
        break;
    case kEdgeFaultOff:
        SetBit(regs::Faults(faultUnit), kScenarioFault, false);
        break;
    case kEdgeDoorOpen:
        SetBit(regs::Inputs(0), kDoorContact, true);
        break;
    case kEdgeDoorClosed:
        SetBit(regs::Inputs(0), kDoorContact, false);
        break;
    case kEdgeLocalReset:
        ResetAlarm();
        break;
    default:
        break;
    }
    Reevaluate(at);
}

void UnitNetwork::Advance(double now) {
    if (now <= last_) return;
    if (settings_.scenario) {
        const double period = settings_.period;
        // After a long pause only the last two cycles are replayed.
        double from = std::max(last_, now - 2 * period);
        const auto firstCycle = static_cast<long long>(std::floor((from - origin_) / period));
        const auto lastCycle = static_cast<long long>(std::floor((now - origin_) / period));
        for (long long c = firstCycle; c <= lastCycle; ++c) {
            for (const EdgeAt& e : kEdges) {
                const double at = origin_ + (static_cast<double>(c) + e.fraction) * period;
                if (at <= from || at > now) continue;
                RunTimedUntil(at);
                RunScenarioEdge(e.edge, at);
                TrackOutputs(at);
            }
        }
        RunTimedUntil(now);
        TrackOutputs(now);
        RunTimedUntil(now);
    }
    last_ = now;
}

void UnitNetwork::SetScenario(bool on, double now) {
    if (on == settings_.scenario) return;
    settings_.scenario = on;
    timed_.clear();
    last_ = now;
    if (on) {
        // Take the state as it is now; events change it from here on.
        relayCondition_ = RelayConditions();
        for (int k = 0; k < kUnits; ++k)
            seenOutputs_[k] = regs_[regs::Outputs(k)];
    }
}

} // namespace korvan::sim
