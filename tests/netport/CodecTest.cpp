// The network port codecs on frames as they travel: names, RFC 2217 Telnet, MBAP framing.
#include "Endpoint.h"
#include "MbapGateway.h"
#include "ModbusFrames.h"
#include "Rfc2217.h"

#include <gtest/gtest.h>

using namespace korvan;
using namespace korvan::netport;

namespace {

Bytes Hex(const char* text) {
    Bytes out;
    for (const char* p = text; p[0] && p[1]; p += 2) {
        while (*p == ' ')
            ++p;
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    }
    return out;
}

// Feeds the bytes in the chunks given (sizes), as TCP may split them.
Bytes Feed(LineCodec& codec, const Bytes& wire, std::initializer_list<std::size_t> chunks,
           Bytes* answer = nullptr) {
    Bytes line, back;
    std::size_t at = 0;
    for (std::size_t size : chunks) {
        codec.Incoming(wire.data() + at, size, line, back);
        at += size;
    }
    codec.Incoming(wire.data() + at, wire.size() - at, line, back);
    if (answer) *answer = back;
    return line;
}

} // namespace

TEST(EndpointTest, NamesAndTypedAddresses) {
    struct Row {
        const char* name;
        bool valid;
        NetMode mode;
        const char* host;
        unsigned port;
    };
    const Row rows[] = {
        {"tcp://192.168.1.50:4001", true, NetMode::Raw, "192.168.1.50", 4001},
        {"rfc2217://[::1]:2217", true, NetMode::Rfc2217, "::1", 2217},
        {"mbtcp://plc-3.local:502", true, NetMode::Gateway, "plc-3.local", 502},
        {"tcp://host", false, NetMode::Raw, "", 0},
        {"tcp://host:0", false, NetMode::Raw, "", 0},
        {"tcp://host:65536", false, NetMode::Raw, "", 0},
        {"tcp://:502", false, NetMode::Raw, "", 0},
        {"tcp://a b:502", false, NetMode::Raw, "", 0},
        {"tcp://::1:502", false, NetMode::Raw, "", 0}, // IPv6 only in brackets
        {"tcp://host:50x", false, NetMode::Raw, "", 0},
        {"ttyUSB0", false, NetMode::Raw, "", 0},
    };
    for (const Row& row : rows) {
        const auto endpoint = ParseEndpointName(row.name);
        ASSERT_EQ(endpoint.has_value(), row.valid) << row.name;
        if (!row.valid) continue;
        EXPECT_EQ(endpoint->mode, row.mode) << row.name;
        EXPECT_EQ(endpoint->host, row.host) << row.name;
        EXPECT_EQ(endpoint->port, row.port) << row.name;
        EXPECT_EQ(EndpointName(*endpoint), row.name);
    }
    // What the operator types: spaces around it do not matter.
    const auto typed = ParseHostPort("  10.0.0.7:4001 ", NetMode::Gateway);
    ASSERT_TRUE(typed);
    EXPECT_EQ(EndpointName(*typed), "mbtcp://10.0.0.7:4001");
    EXPECT_FALSE(IsEndpointName("ttyZSIM0"));
}

TEST(Rfc2217Test, DataEscapedBothWaysAlsoWhenSplitInsideAnEscape) {
    Rfc2217Codec codec;
    Bytes wire;
    const Bytes out = Hex("01FF02");
    codec.Outgoing(out.data(), out.size(), wire);
    EXPECT_EQ(wire, Hex("01FFFF02"));
    const Bytes in = Hex("01FFFF02FFFF");
    for (std::size_t split = 0; split <= in.size(); ++split) {
        Rfc2217Codec fresh;
        EXPECT_EQ(Feed(fresh, in, {split}), Hex("01FF02FF")) << split;
    }
}

TEST(Rfc2217Test, NegotiationAgreesToWhatTheLineNeedsAndNeverLoops) {
    Rfc2217Codec codec;
    Bytes opening;
    codec.Opening(opening);
    EXPECT_EQ(opening, Hex("FFFB00 FFFB03 FFFB2C FFFD00 FFFD03"));
    struct Row {
        const char* server;
        const char* answer;
    };
    const Row rows[] = {
        {"FFFD00", ""},               // DO BINARY we asked for: no answer
        {"FFFB00", ""},               // WILL BINARY we asked for
        {"FFFB01", "FFFE01"},         // WILL ECHO: our requests would come back, refused
        {"FFFD18", "FFFC18"},         // DO TERMINAL-TYPE: refused
        {"FFFE00", "FFFC00"},         // DONT BINARY after agreeing: we confirm, once
        {"FFFE00", ""},               // and not again
        {"FFF1", ""},                 // NOP
        {"FFFA2C6500002580FFF0", ""}, // the server's speed, no answer
    };
    for (const Row& row : rows) {
        Bytes answer;
        EXPECT_EQ(Feed(codec, Hex(row.server), {}, &answer), Bytes{}) << row.server;
        EXPECT_EQ(answer, Hex(row.answer)) << row.server;
    }
    EXPECT_EQ(codec.ServerBaud(), 9600u);
}

TEST(Rfc2217Test, LineSettingsWaitForTheComPortOptionThenGoWithIacDoubled) {
    Rfc2217Codec codec;
    Bytes wire;
    codec.Opening(wire);
    wire.clear();
    codec.SetLine({19200, 8, 0, 0}, wire);
    EXPECT_TRUE(wire.empty()) << "sent before the server agreed";
    Bytes answer;
    Feed(codec, Hex("FFFD2C"), {}, &answer);
    EXPECT_EQ(answer, Hex("FFFA2C0100004B00FFF0 FFFA2C0208FFF0 FFFA2C0301FFF0 FFFA2C0401FFF0"));
    wire.clear();
    codec.SetLine({255, 7, 2, 2}, wire); // a speed byte of FF, even parity, two stop bits
    EXPECT_EQ(wire, Hex("FFFA2C01000000FFFFFFF0 FFFA2C0207FFF0 FFFA2C0303FFF0 FFFA2C0402FFF0"));
    wire.clear();
    codec.SetModemLine(true, false, wire);
    EXPECT_EQ(wire, Hex("FFFA2C0509FFF0"));
}

TEST(MbapGatewayTest, RequestsFramedRepliesCheckedByTransactionAndSealedForTheEngine) {
    MbapGateway gateway;
    Request read = ReadRequest(1, 96);
    SealRequest(read);
    Bytes wire;
    gateway.Outgoing(read.data(), read.size(), wire);
    EXPECT_EQ(wire, Hex("0001 0000 0006 01 03 0000 0060"));

    // A reply of 96 registers split anywhere, with a stale reply of the last transaction before
    // it in the same segment: only the current one reaches the line, with a good CRC.
    Bytes reply = Hex("0001 0000 00C3 01 03 C0");
    reply.resize(reply.size() + 192, 0x5A);
    Bytes stale = Hex("0000 0000 0005 01 03 02 1234");
    Bytes segment = stale;
    segment.insert(segment.end(), reply.begin(), reply.end());
    for (std::size_t split : {std::size_t{3}, std::size_t{15}, std::size_t{100}}) {
        MbapGateway g;
        Bytes w;
        g.Outgoing(read.data(), read.size(), w);
        const Bytes line = Feed(g, segment, {split});
        EXPECT_EQ(JudgeReply(read, line.data(), static_cast<int>(line.size())).verdict,
                  ExchangeVerdict::Good)
            << split;
    }
    // The same reply again (a duplicate) is not a reply to anything.
    MbapGateway g;
    Bytes w;
    g.Outgoing(read.data(), read.size(), w);
    EXPECT_EQ(Feed(g, reply, {}).size(), 197u); // 195 bytes and the CRC
    EXPECT_TRUE(Feed(g, reply, {}).empty());

    // The next request has the next transaction; the gateway's "no answer from the unit" passes
    // as the exception reply it is.
    wire.clear();
    gateway.Outgoing(read.data(), read.size(), wire);
    EXPECT_EQ(wire[1], 2);
    const Bytes line = Feed(gateway, Hex("0002 0000 0003 01 83 0B"), {});
    const ReplyJudgement judged = JudgeReply(read, line.data(), static_cast<int>(line.size()));
    EXPECT_EQ(judged.verdict, ExchangeVerdict::Exception);
    EXPECT_EQ(judged.exceptionCode, 0x0B);

    // A block with a bad CRC is no request and goes nowhere.
    Request bad = read;
    bad[7] ^= 1;
    wire.clear();
    gateway.Outgoing(bad.data(), bad.size(), wire);
    EXPECT_TRUE(wire.empty());
}
