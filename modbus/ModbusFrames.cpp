#include "ModbusFrames.h"

namespace korvan {

void Crc16(const std::uint8_t* data, int length, std::uint8_t& high, std::uint8_t& low) {
    high = 0xFF;
    low = 0xFF;
    for (int i = 0; i < length; ++i) {
        low ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = low & 0x01;
            low = static_cast<std::uint8_t>(low >> 1 | (high & 0x01) << 7);
            high = static_cast<std::uint8_t>(high >> 1);
            if (carry) {
                high ^= 0xA0;
                low ^= 0x01;
            }
        }
    }
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

} // namespace korvan
