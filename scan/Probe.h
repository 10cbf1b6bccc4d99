// One probe of a bus scan: the read of the network registers (address, speed, parity, timeout,
// panel, unit count, firmware) at one slave address, and what the bytes that came back say. Pure
// functions over the request as sent and the bytes received; the frames, the CRC and the sorting
// of a reply are the poll engine's own (ModbusFrames.h).
#pragma once

#include "ModbusFrames.h"

#include <cstdint>
#include <string>

namespace korvan::scan {

// Registers 80 to 86: the first and the last are the unit's address and firmware version.
constexpr int kProbeFirstRegister = 80;
constexpr int kProbeRegisterCount = 7;
// Address, function, byte count, the registers, CRC.
constexpr int kProbeReplyLength = 5 + 2 * kProbeRegisterCount;

// The read of registers 80 to 86 from `address`, sealed with its CRC.
Request ProbeRequest(std::uint8_t address);

enum class ProbeKind : std::uint8_t {
    Zokt,      // a good reply whose registers are those of a master unit
    Modbus,    // a good reply of another device
    Exception, // a device refused the read with an exception of its own
    Damaged,   // the answer's address and function, but a bad CRC or cut short
    Absent,    // a gateway said no path or no answer (exceptions 0x0A, 0x0B)
    LineFault, // a valid frame from another address, or to another function
    Garbage,   // bytes that are no frame and do not begin the answer
    Silence,   // nothing arrived
};

struct ProbeVerdict {
    ProbeKind kind = ProbeKind::Silence;
    std::uint8_t exceptionCode = 0; // for Exception and Absent
    int firmwareMajor = 0;          // for Zokt: register 86
    int firmwareMinor = 0;
    int unitCount = 0;   // for Zokt: low byte of register 85
    int unitAddress = 0; // for Zokt: register 80, the address it was told to answer at
    int speedIndex = 0;  // for Zokt: register 81, index into 1200 .. 57600
};

// What `count` received bytes say about the probe `sent` (as sent, CRC included).
ProbeVerdict JudgeProbe(const Request& sent, const std::uint8_t* received, int count);

// Whether a probe with this verdict found something at the address: a unit, another device, or
// one whose answers are damaged.
bool IsFind(ProbeKind kind);

// Whether the verdict is worth one more try: the answer came, damaged.
bool WorthRetry(ProbeKind kind);

// Of two tries at one address, the verdict that says most about it.
ProbeVerdict Better(const ProbeVerdict& first, const ProbeVerdict& second);

// The result table's words: "ЗОКТ-01, прошивка 3.05, блоков: 4", "устройство Modbus
// (исключение 02)", "ответ с ошибкой CRC: устройство есть, связь плохая" ...
std::string ProbeText(const ProbeVerdict& verdict);

} // namespace korvan::scan
