#include "Probe.h"

#include <cstdio>

namespace korvan::scan {

namespace {

constexpr std::uint8_t kGatewayNoPath = 0x0A;
constexpr std::uint8_t kGatewayNoAnswer = 0x0B;
constexpr int kSpeedCount = 7;    // "1200" .. "57600"
constexpr int kMaxUnitCount = 10; // the master and nine modules

// Register r of the probe's reply, r from 80 to 86.
int ReplyRegister(const std::uint8_t* received, int reg) {
    const int at = 3 + 2 * (reg - kProbeFirstRegister);
    return received[at] << 8 | received[at + 1];
}

// A good reply is a master unit's when its registers hold what a master unit's do: the address
// it was asked at, a speed and a parity of its lists, a unit count of the network. Another
// device's registers 80 to 86 hardly pass all four.
ProbeVerdict GoodReply(const Request& sent, const std::uint8_t* received) {
    ProbeVerdict v;
    const int address = ReplyRegister(received, 80);
    const int speed = ReplyRegister(received, 81);
    const int parity = ReplyRegister(received, 82);
    const int units = ReplyRegister(received, 85);
    const bool zokt = address == sent[0] && speed < kSpeedCount && parity <= 2 &&
                      (units >> 8) == 0 && units <= kMaxUnitCount;
    if (!zokt) return {ProbeKind::Modbus};
    v.kind = ProbeKind::Zokt;
    v.unitAddress = address;
    v.speedIndex = speed;
    v.unitCount = units;
    const int firmware = ReplyRegister(received, 86);
    v.firmwareMajor = firmware >> 8;
    v.firmwareMinor = firmware & 0xFF;
    return v;
}

// Bytes with a bad CRC that carry the address asked and the function asked (or its exception):
// the device is there, the line spoils its answers.
bool AnswerSpoilt(const Request& sent, const std::uint8_t* received, int count) {
    if (received[0] != sent[0]) return false;
    return count < 2 || (received[1] & 0x7F) == sent[1];
}

std::string Hex2(int value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

int Rank(ProbeKind kind) {
    switch (kind) {
    case ProbeKind::Silence:
        return 0;
    case ProbeKind::LineFault:
        return 1;
    case ProbeKind::Garbage:
        return 2;
    case ProbeKind::Damaged:
        return 3;
    default:
        return 4; // a valid answer from the address asked
    }
}

} // namespace

Request ProbeRequest(std::uint8_t address) {
    Request request = ReadRequest(address, kProbeRegisterCount);
    request[2] = static_cast<std::uint8_t>(kProbeFirstRegister >> 8);
    request[3] = static_cast<std::uint8_t>(kProbeFirstRegister & 0xFF);
    SealRequest(request);
    return request;
}

ProbeVerdict JudgeProbe(const Request& sent, const std::uint8_t* received, int count) {
    using enum ExchangeVerdict;
    const ReplyJudgement judged = JudgeReply(sent, received, count);
    switch (judged.verdict) {
    case Good:
        return GoodReply(sent, received);
    case NoReply:
        return {ProbeKind::Silence};
    case Exception:
        if (judged.exceptionCode == kGatewayNoPath || judged.exceptionCode == kGatewayNoAnswer)
            return {ProbeKind::Absent, judged.exceptionCode};
        return {ProbeKind::Exception, judged.exceptionCode};
    case WrongAddress:
    case WrongFunction:
        return {ProbeKind::LineFault};
    case Incomplete:
        return {ProbeKind::Damaged};
    case BadCrc:
        return {AnswerSpoilt(sent, received, count) ? ProbeKind::Damaged : ProbeKind::Garbage};
    default:
        // A valid frame from the address asked but of another length: a device that reads
        // registers otherwise than asked.
        return {ProbeKind::Modbus};
    }
}

bool IsFind(ProbeKind kind) {
    return kind == ProbeKind::Zokt || kind == ProbeKind::Modbus || kind == ProbeKind::Exception ||
           kind == ProbeKind::Damaged;
}

bool WorthRetry(ProbeKind kind) {
    return kind == ProbeKind::Damaged || kind == ProbeKind::Garbage;
}

ProbeVerdict Better(const ProbeVerdict& first, const ProbeVerdict& second) {
    return Rank(second.kind) >= Rank(first.kind) ? second : first;
}

std::string ProbeText(const ProbeVerdict& v) {
    switch (v.kind) {
    case ProbeKind::Zokt: {
        const std::string firmware = v.firmwareMajor <= 2
                                         ? "1.xx или 2.xx"
                                         : std::to_string(v.firmwareMajor) +
                                               (v.firmwareMinor < 10 ? ".0" : ".") +
                                               std::to_string(v.firmwareMinor);
        return "ЗОКТ-01, прошивка " + firmware + ", блоков: " + std::to_string(v.unitCount);
    }
    case ProbeKind::Modbus:
        return "устройство Modbus";
    case ProbeKind::Exception:
        return "устройство Modbus (исключение " + Hex2(v.exceptionCode) + ")";
    case ProbeKind::Damaged:
        return "ответ с ошибкой CRC: устройство есть, связь плохая";
    case ProbeKind::Absent:
        return "шлюз: нет ответа (исключение " + Hex2(v.exceptionCode) + ")";
    case ProbeKind::LineFault:
        return "ответ другого адреса или функции: помеха на линии";
    case ProbeKind::Garbage:
        return "мусор на линии";
    case ProbeKind::Silence:
        break;
    }
    return "нет ответа";
}

} // namespace korvan::scan
