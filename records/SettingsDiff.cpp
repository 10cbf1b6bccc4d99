#include "SettingsDiff.h"

#include <algorithm>

namespace korvan::records {

namespace {

void CompareRegisters(int unit, const std::vector<RecordedRegister>& registers,
                      const RegisterImage& confirmed, const std::vector<SettingPiece>& pieces,
                      DifferenceKind kind, Comparison& result) {
    for (const RecordedRegister& saved : registers) {
        const std::uint16_t now = RegisterValue(confirmed, saved.reg);
        for (const SettingPiece& piece : pieces) {
            if (piece.reg != saved.reg || ((saved.value ^ now) & piece.mask) == 0) continue;
            result.differences.push_back(
                {unit, saved.reg, piece.mask, saved.value, now, piece.tag, kind});
        }
    }
}

} // namespace

Comparison CompareSettings(const SettingsRecord& file, const RegisterImage& confirmed,
                           const std::vector<SettingPiece>& pieces) {
    Comparison result;
    CompareRegisters(kNetworkUnit, file.network, confirmed, pieces, DifferenceKind::ByHandOnly,
                     result);
    const int present = PresentUnits(confirmed);
    const int major = confirmed[byte::FirmwareMajor];
    for (const UnitRecord& unit : file.units) {
        if (unit.unit >= present) {
            result.absentUnits.push_back(unit.unit);
            continue;
        }
        DifferenceKind kind = DifferenceKind::Writable;
        if (unit.firmwareMajor != major) {
            result.otherFirmwareUnits.push_back(unit.unit);
            kind = DifferenceKind::OtherFirmware;
        }
        // A file from firmware with the matrix compared with a unit that has none: the unit
        // cannot hold those registers, so they are not compared.
        std::vector<RecordedRegister> comparable;
        for (const RecordedRegister& saved : unit.registers)
            if (saved.reg < 8 * kUnits || HasMatrix(major)) comparable.push_back(saved);
        CompareRegisters(unit.unit, comparable, confirmed, pieces, kind, result);
    }
    for (int unit = 0; unit < present; ++unit)
        if (std::none_of(file.units.begin(), file.units.end(),
                         [unit](const UnitRecord& u) { return u.unit == unit; }))
            result.missingUnits.push_back(unit);
    return result;
}

std::string UnitList(const std::vector<int>& units) {
    std::string list;
    for (int unit : units)
        list += (list.empty() ? "" : ", ") + UnitName(unit);
    return list;
}

std::vector<std::string> NetworkMismatch(const SettingsRecord& file, const LinkFacts& now,
                                         const Comparison& comparison) {
    std::vector<std::string> lines;
    const auto differs = [&lines](const char* what, const std::string& then,
                                  const std::string& current) {
        if (then != current)
            lines.push_back(std::string(what) + ": в файле " + then + ", сейчас " + current);
    };
    differs("адрес ведомого", std::to_string(file.slaveAddress), std::to_string(now.slaveAddress));
    differs("порт", file.port, now.port);
    differs("скорость", std::to_string(file.speed) + " бит/с",
            std::to_string(now.speed) + " бит/с");
    if (!comparison.absentUnits.empty())
        lines.push_back("в файле, но нет в сети: " + UnitList(comparison.absentUnits));
    if (!comparison.missingUnits.empty())
        lines.push_back("в сети, но нет в файле: " + UnitList(comparison.missingUnits));
    return lines;
}

} // namespace korvan::records
