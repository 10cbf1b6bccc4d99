#include "ModbusFrames.h"

namespace korvan {

namespace {

// The CRC of each byte value, so a reply costs one look-up per byte instead of eight shifts.
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (int value = 0; value < 256; ++value) {
        std::uint16_t crc = static_cast<std::uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 1 ? crc >> 1 ^ 0xA001 : crc >> 1);
        table[value] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

} // namespace

void Crc16(const std::uint8_t* data, int length, std::uint8_t& high, std::uint8_t& low) {
    std::uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i)
        crc = static_cast<std::uint16_t>(crc >> 8 ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    high = static_cast<std::uint8_t>(crc >> 8);
    low = static_cast<std::uint8_t>(crc);
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
