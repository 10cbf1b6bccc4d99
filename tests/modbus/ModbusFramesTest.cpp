#include "ModbusFrames.h"
#include "ScriptedHost.h"

#include <gtest/gtest.h>

namespace korvan {
namespace {

using test::Bytes;

Bytes Sealed(Request request) {
    SealRequest(request);
    return Bytes(request.begin(), request.end());
}

TEST(Crc16, CheckValueAndEmptyInput) {
    const char* digits = "123456789";
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    Crc16(reinterpret_cast<const std::uint8_t*>(digits), 9, high, low);
    EXPECT_EQ(high, 0x4B);
    EXPECT_EQ(low, 0x37);

    const std::uint8_t untouched[2] = {0x12, 0x34};
    for (int length : {0, -1, -1000}) {
        high = low = 0;
        Crc16(untouched, length, high, low);
        EXPECT_EQ(high, 0xFF) << length;
        EXPECT_EQ(low, 0xFF) << length;
    }
}

TEST(Requests, ReadAndWriteFramesByteForByte) {
    EXPECT_EQ(Sealed(ReadRequest(1, 96)), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x60, 0x45, 0xE2}));
    EXPECT_EQ(Sealed(ReadRequest(1, 116)), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x74, 0x45, 0xED}));

    RegisterImage wanted{};
    wanted[190] = 0x00;
    wanted[191] = 0xAA;
    wanted[192] = 0x77; // the next register must not leak into the frame
    EXPECT_EQ(Sealed(WriteRequest(1, 95, wanted)),
              (Bytes{0x01, 0x06, 0x00, 0x5F, 0x00, 0xAA, 0x39, 0xA7}));

    SetRegisterValue(wanted, 3, 0x0001);
    EXPECT_EQ(Sealed(WriteRequest(1, 3, wanted)),
              (Bytes{0x01, 0x06, 0x00, 0x03, 0x00, 0x01, 0xB8, 0x0A}));
}

TEST(ReplyCheck, ValidityAndFunction) {
    RegisterImage registers{};
    for (int i = 0; i < 256; ++i)
        registers[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes read = test::ReadReply(registers, 96);
    ASSERT_EQ(read.size(), 197u);
    ReplyCheck check = CheckReply(read.data(), 197);
    EXPECT_TRUE(check.valid);
    EXPECT_EQ(check.function, 3);

    // Cut short, one byte extra, one bit flipped: all invalid.
    EXPECT_FALSE(CheckReply(read.data(), 196).valid);
    Bytes longer = read;
    longer.push_back(0x55);
    EXPECT_FALSE(CheckReply(longer.data(), 198).valid);
    Bytes flipped = read;
    flipped[100] ^= 0x10;
    EXPECT_FALSE(CheckReply(flipped.data(), 197).valid);

    const Bytes echo = test::WriteFrame(80, 0x0012);
    check = CheckReply(echo.data(), 8);
    EXPECT_TRUE(check.valid);
    EXPECT_EQ(check.function, 6);

    // FF FF is the CRC of nothing: valid, and its function byte is FF.
    const std::uint8_t ffff[2] = {0xFF, 0xFF};
    check = CheckReply(ffff, 2);
    EXPECT_TRUE(check.valid);
    EXPECT_EQ(check.function, 0xFF);

    const std::uint8_t exception[5] = {0x01, 0x83, 0x02, 0xC0, 0xF1};
    check = CheckReply(exception, 5);
    EXPECT_TRUE(check.valid);
    EXPECT_EQ(check.function, 0x83);

    const std::uint8_t one[1] = {0xFF};
    EXPECT_FALSE(CheckReply(one, 1).valid);
    EXPECT_FALSE(CheckReply(one, 0).valid);
}

} // namespace
} // namespace korvan
