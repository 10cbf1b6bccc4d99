// A network's settings as the operator saved them, free of any file format: the network's facts,
// then per unit present its firmware and every register that holds a setting, whole, as the unit
// last reported it. Which bits of a register are settings is not decided here: the window derives
// it from its own controls (the catalogue) and hands it in as OwnedBits and SettingPieces.
#pragma once

#include "RegisterImage.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace korvan::records {

constexpr int kNetworkUnit = -1; // the common area: the unit's own network settings
constexpr int kUnits = 10;       // master 0, modules 1..9

// How the window shows one setting of a register; written for the person reading the file.
struct NamedValue {
    std::string caption;
    std::string words;
};

struct RecordedRegister {
    int reg = 0;
    std::uint16_t value = 0;
    std::vector<NamedValue> named;
};

struct UnitRecord {
    int unit = 0;
    int firmwareMajor = 0;
    int firmwareMinor = 0;
    std::vector<RecordedRegister> registers; // ascending register numbers
};

struct SettingsRecord {
    std::string savedAt; // local date and time, "2026-12-09T10:15:00"
    std::string station; // "KORVAN PRO 3.01"
    std::string port;
    int speed = 0; // bit/s
    int slaveAddress = 0;
    std::vector<RecordedRegister> network; // registers 80..84 that hold settings
    std::vector<UnitRecord> units;         // ascending unit numbers
};

// Per register, the bits some setting of the window owns; 0 where none does.
using OwnedBits = std::array<std::uint16_t, kRegisterCount>;

// One setting's bits in one register; `tag` tells the caller which setting it is.
struct SettingPiece {
    int reg = 0;
    std::uint16_t mask = 0;
    int tag = 0;
};

// Registers 80..84: the unit's address, speed, parity, timeout and panel type.
constexpr bool IsNetworkRegister(int reg) {
    return reg >= reg::NetworkAddress && reg <= reg::PanelType;
}

// What a file may ever change: never the network settings (a new address or speed would cut the
// link in the middle of the job), nor the status, version, spare and command registers 80..95,
// nor a register the station never writes.
constexpr bool MayWriteFromFile(int reg) {
    return reg >= 0 && reg < 116 && !(reg >= reg::NetworkAddress && reg <= reg::ServiceCommand) &&
           IsWritableRegister(reg);
}

// The unit a register belongs to (0..9), kNetworkUnit for 80..84, -2 for any other.
int UnitOfRegister(int reg);

// "ЗОКТ-01", "ЗОКТ-МР №k", "Сеть" for kNetworkUnit.
std::string UnitName(int unit);

// The units on the network per the confirmed image: the master and the modules the unit count
// names (the master alone when firmware reports no count).
int PresentUnits(const RegisterImage& confirmed);

// Registers 96..115 are read only from firmware above 2.
bool HasMatrix(int firmwareMajor);

// The registers of `unit` that hold settings, ascending.
std::vector<int> SettingRegisters(int unit, int firmwareMajor, const OwnedBits& owned);

struct LinkFacts {
    std::string savedAt;
    std::string station;
    std::string port;
    int speed = 0;
    int slaveAddress = 0;
};

// What "Сохранить настройки…" saves from the confirmed image.
SettingsRecord CaptureSettings(const RegisterImage& confirmed, const OwnedBits& owned,
                               const LinkFacts& facts);

} // namespace korvan::records
