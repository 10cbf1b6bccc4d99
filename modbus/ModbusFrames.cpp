#include "ModbusFrames.h"

#include <algorithm>

namespace korvan {

namespace {

// The bit loop of the CRC run once for every byte value: one look-up per byte afterwards.
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        unsigned crc = value;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        table[value] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

} // namespace

void Crc16(const std::uint8_t* data, int length, std::uint8_t& high, std::uint8_t& low) {
    unsigned crc = 0xFFFF; // high byte in bits 8..15, low byte in bits 0..7
    for (int i = 0; i < length; ++i)
        crc = (crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFFu];
    high = static_cast<std::uint8_t>(crc >> 8);
    low = static_cast<std::uint8_t>(crc & 0xFF);
}

Request ReadRequest(std::uint8_t address, int registerCount) {
    return Request{address,
                   kReadHoldingRegisters,
                   0,
                   0,
                   static_cast<std::uint8_t>(registerCount >> 8 & 0xFF),
                   static_cast<std::uint8_t>(registerCount & 0xFF),
                   0,
                   0};
}

Request WriteRequest(std::uint8_t address, int reg, const RegisterImage& wanted) {
    // The register comes from the image comparison and so always lies inside the image; the
    // guard only keeps a stray number from reading outside it.
    const bool inImage = reg >= 0 && reg < kRegisterCount;
    return Request{address,
                   kWriteSingleRegister,
                   static_cast<std::uint8_t>(reg >> 8 & 0xFF),
                   static_cast<std::uint8_t>(reg & 0xFF),
                   inImage ? wanted[2 * reg] : std::uint8_t{0},
                   inImage ? wanted[2 * reg + 1] : std::uint8_t{0},
                   0,
                   0};
}

void SealRequest(Request& request) {
    Crc16(request.data(), 6, request[7], request[6]);
}

ReplyCheck CheckReply(const std::uint8_t* received, int count) {
    ReplyCheck check;
    if (count < 2) return check;
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    Crc16(received, count - 2, high, low);
    check.valid = received[count - 2] == low && received[count - 1] == high;
    if (check.valid) check.function = received[1];
    return check;
}

namespace {

constexpr int kExceptionReplyLength = 5; // address, function | 0x80, code, CRC
constexpr std::uint8_t kExceptionFlag = 0x80;
constexpr int kReadReplyOverhead = 5; // address, function, byte count, CRC

// Whether `count` bytes are the beginning of the full answer to `request`, cut short: a line that
// fell silent, not one that garbled a frame.
bool BeginsAnswer(const Request& request, const std::uint8_t* received, int count) {
    if (request[1] == kWriteSingleRegister)
        return count < kRequestLength && std::equal(received, received + count, request.begin());
    const int dataBytes = 2 * (request[4] << 8 | request[5]);
    if (count >= dataBytes + kReadReplyOverhead || received[0] != request[0]) return false;
    if (count > 1 && received[1] != request[1]) return false;
    return count <= 2 || received[2] == dataBytes;
}

} // namespace

ReplyJudgement JudgeReply(const Request& request, const std::uint8_t* received, int count) {
    using enum ExchangeVerdict;
    if (count <= 0) return {NoReply};
    if (!CheckReply(received, count).valid)
        return {BeginsAnswer(request, received, count) ? Incomplete : BadCrc};
    if (received[0] != request[0]) return {WrongAddress};
    const std::uint8_t function = received[1];
    const std::uint8_t asked = request[1];
    if (function == (asked | kExceptionFlag))
        return count == kExceptionReplyLength ? ReplyJudgement{Exception, received[2]}
                                              : ReplyJudgement{WrongLength};
    if (function != asked) return {WrongFunction};
    if (asked == kWriteSingleRegister) {
        if (count != kRequestLength) return {WrongLength};
        return {std::equal(request.begin(), request.end(), received) ? Good : EchoMismatch};
    }
    const int dataBytes = 2 * (request[4] << 8 | request[5]);
    if (count != dataBytes + kReadReplyOverhead || received[2] != dataBytes) return {WrongLength};
    return {Good};
}

} // namespace korvan
