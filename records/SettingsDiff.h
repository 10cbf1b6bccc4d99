// A settings file against the units as they are now: one difference per setting whose bits differ,
// and which units of the file cannot be compared at all.
#pragma once

#include "SettingsRecord.h"

namespace korvan::records {

enum class DifferenceKind {
    Writable,      // may be written from the file
    ByHandOnly,    // the unit's own network settings: listed, never written from a file
    OtherFirmware, // the unit runs another firmware major version than the file was saved from
};

struct Difference {
    int unit = 0; // kNetworkUnit for the network settings
    int reg = 0;
    std::uint16_t mask = 0;      // the setting's bits in the register
    std::uint16_t fileValue = 0; // whole registers; only `mask` differs
    std::uint16_t unitValue = 0;
    int tag = 0; // the setting, as the caller named it in its SettingPiece
    DifferenceKind kind = DifferenceKind::Writable;
};

struct Comparison {
    std::vector<Difference> differences; // by unit, then register, then the pieces' order
    std::vector<int> absentUnits;        // in the file, not on the network now
    std::vector<int> missingUnits;       // on the network now, not in the file
    std::vector<int> otherFirmwareUnits; // on the network with another firmware major version
};

// `confirmed` is the units' state as last read and confirmed; `pieces` every setting's bits.
Comparison CompareSettings(const SettingsRecord& file, const RegisterImage& confirmed,
                           const std::vector<SettingPiece>& pieces);

// Where the network the file was saved from is not the one polled now: another slave address,
// port or speed, units of the file absent, units present that the file lacks. One line each,
// "адрес ведомого: в файле 7, сейчас 1"; empty when the file is of this network.
std::vector<std::string> NetworkMismatch(const SettingsRecord& file, const LinkFacts& now,
                                         const Comparison& comparison);

// "ЗОКТ-01, ЗОКТ-МР №2"
std::string UnitList(const std::vector<int>& units);

} // namespace korvan::records
