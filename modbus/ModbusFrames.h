// The two Modbus RTU requests the station sends (read holding registers, write single register),
// the CRC that closes every frame, and the check of a received reply.
#pragma once

#include "ExchangeRecord.h"
#include "RegisterImage.h"

#include <array>
#include <cstdint>

namespace korvan {

constexpr int kRequestLength = 8;
constexpr std::uint8_t kReadHoldingRegisters = 3;
constexpr std::uint8_t kWriteSingleRegister = 6;

using Request = std::array<std::uint8_t, kRequestLength>;

// CRC-16 of the Modbus serial line over the first `length` bytes of `data`; a length of 0 or less
// gives FF FF. A frame carries `low` first, then `high`.
void Crc16(const std::uint8_t* data, int length, std::uint8_t& high, std::uint8_t& low);

// Bytes 0 to 5 of a request; the CRC bytes are added by SealRequest just before the send.
Request ReadRequest(std::uint8_t address, int registerCount);
Request WriteRequest(std::uint8_t address, int reg, const RegisterImage& wanted);

// Puts the CRC of bytes 0 to 5 into bytes 6 (low) and 7 (high).
void SealRequest(Request& request);

struct ReplyCheck {
    bool valid = false;
    std::uint8_t function = 0; // byte 1 of a valid reply
};

// A reply is every byte received since the request; it is valid when its last two bytes are the
// CRC of the bytes before them. Fewer than two bytes are never valid.
ReplyCheck CheckReply(const std::uint8_t* received, int count);

struct ReplyJudgement {
    ExchangeVerdict verdict = ExchangeVerdict::NoReply; // Good, an error, or Exception
    std::uint8_t exceptionCode = 0;
};

// Whether what arrived answers `request` (as sent, CRC included). A read is answered only by a
// reply from the same address with function 3, a byte count of twice the registers asked for and
// exactly that many data bytes; a write only by its exact echo. A short exception reply from the
// same address to the same function is told apart. Never reads beyond `count`.
ReplyJudgement JudgeReply(const Request& request, const std::uint8_t* received, int count);

} // namespace korvan
