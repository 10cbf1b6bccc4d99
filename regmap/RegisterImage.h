// The unit's 128 holding registers as they travel in Modbus frames: register r in bytes 2r
// (high) and 2r + 1 (low).
#pragma once

#include <array>
#include <cstdint>

namespace korvan {

using RegisterImage = std::array<std::uint8_t, 256>;

constexpr int kRegisterCount = 128;

inline std::uint16_t RegisterValue(const RegisterImage& image, int reg) {
    return static_cast<std::uint16_t>(image[2 * reg] << 8 | image[2 * reg + 1]);
}

inline void SetRegisterValue(RegisterImage& image, int reg, std::uint16_t value) {
    image[2 * reg] = static_cast<std::uint8_t>(value >> 8);
    image[2 * reg + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

inline bool RegisterBit(const RegisterImage& image, int reg, int bit) {
    return (RegisterValue(image, reg) >> bit) & 1u;
}

// Register layout of the common area and of the unit blocks.
namespace reg {
constexpr int UnitBlock(int unit) {
    return 8 * unit;
}
constexpr int UnitConfig = 0;
constexpr int UnitFaults = 1;
constexpr int UnitInputs = 2;
constexpr int UnitOutputs = 3;
constexpr int DelayOn1 = 4; // followed by DelayOff1, DelayOn2, DelayOff2
constexpr int NetworkAddress = 80;
constexpr int NetworkSpeed = 81;
constexpr int NetworkParity = 82;
constexpr int NetworkTimeout = 83;
constexpr int PanelType = 84;
constexpr int UnitCountReg = 85;
constexpr int Firmware = 86;
constexpr int CommandSignal = 94;
constexpr int ServiceCommand = 95;
constexpr int StartSources(int unit) {
    return 96 + unit;
}
constexpr int BlockSources(int unit) {
    return 106 + unit;
}
} // namespace reg

// Image byte positions that other subsystems use directly.
namespace byte {
constexpr int UnitCount = 171;      // low byte of register 85
constexpr int FirmwareMajor = 172;  // high byte of register 86
constexpr int CommandSignal = 189;  // low byte of register 94
constexpr int ServiceCommand = 191; // low byte of register 95
} // namespace byte

// What the operator's commands write into the low bytes of registers 94 and 95.
inline constexpr std::uint8_t kCommandStart = 170;  // register 94
inline constexpr std::uint8_t kCommandStop = 85;    // register 94
inline constexpr std::uint8_t kCommandReset = 170;  // register 95: reset of the fire alarm
inline constexpr std::uint8_t kCommandRestore = 85; // register 95: factory settings

inline int UnitCount(const RegisterImage& shown) {
    return shown[byte::UnitCount];
}

// Registers the station never writes: the status fields +1 and +2 of every unit block, and the
// unit count.
constexpr bool IsWritableRegister(int reg) {
    if (reg <= 79 && (reg % 8 == 1 || reg % 8 == 2)) return false;
    return reg != reg::UnitCountReg;
}

} // namespace korvan
