#include "SettingsRecord.h"

#include <algorithm>

namespace korvan::records {

int UnitOfRegister(int reg) {
    if (reg >= 0 && reg < 8 * kUnits) return reg / 8;
    if (IsNetworkRegister(reg)) return kNetworkUnit;
    if (reg >= reg::StartSources(0) && reg < reg::StartSources(kUnits))
        return reg - reg::StartSources(0);
    if (reg >= reg::BlockSources(0) && reg < reg::BlockSources(kUnits))
        return reg - reg::BlockSources(0);
    return -2;
}

std::string UnitName(int unit) {
    if (unit == kNetworkUnit) return "Сеть";
    if (unit == 0) return "ЗОКТ-01";
    return "ЗОКТ-МР №" + std::to_string(unit);
}

int PresentUnits(const RegisterImage& confirmed) {
    return std::clamp(UnitCount(confirmed), 1, kUnits);
}

bool HasMatrix(int firmwareMajor) {
    return firmwareMajor > 2;
}

std::vector<int> SettingRegisters(int unit, int firmwareMajor, const OwnedBits& owned) {
    std::vector<int> regs;
    auto take = [&](int reg) {
        if (owned[reg] != 0) regs.push_back(reg);
    };
    if (unit == kNetworkUnit) {
        for (int reg = reg::NetworkAddress; reg <= reg::PanelType; ++reg)
            take(reg);
        return regs;
    }
    if (unit < 0 || unit >= kUnits) return regs;
    for (int field = 0; field < 8; ++field)
        take(reg::UnitBlock(unit) + field);
    if (HasMatrix(firmwareMajor)) {
        take(reg::StartSources(unit));
        take(reg::BlockSources(unit));
    }
    return regs;
}

SettingsRecord CaptureSettings(const RegisterImage& confirmed, const OwnedBits& owned,
                               const LinkFacts& facts) {
    SettingsRecord record;
    record.savedAt = facts.savedAt;
    record.station = facts.station;
    record.port = facts.port;
    record.speed = facts.speed;
    record.slaveAddress = facts.slaveAddress;
    const int major = confirmed[byte::FirmwareMajor];
    const int minor = confirmed[byte::FirmwareMajor + 1];
    for (int reg : SettingRegisters(kNetworkUnit, major, owned))
        record.network.push_back({reg, RegisterValue(confirmed, reg), {}});
    for (int unit = 0; unit < PresentUnits(confirmed); ++unit) {
        // The map has one version register, the master's, which the network shares.
        UnitRecord& u = record.units.emplace_back();
        u.unit = unit;
        u.firmwareMajor = major;
        u.firmwareMinor = minor;
        for (int reg : SettingRegisters(unit, major, owned))
            u.registers.push_back({reg, RegisterValue(confirmed, reg), {}});
    }
    return record;
}

} // namespace korvan::records
