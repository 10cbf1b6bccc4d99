// The Telnet side of a converter with the com port option (RFC 854, RFC 2217): data bytes with
// IAC doubled, option negotiation that agrees to binary transmission, suppress go-ahead and the
// com port option and refuses everything else (echo above all, which would send our requests
// back to us), and the line settings sent as SET-BAUDRATE, SET-DATASIZE, SET-PARITY and
// SET-STOPSIZE once the server has agreed to the option.
#pragma once

#include "LineCodec.h"

#include <array>
#include <optional>

namespace korvan::netport {

namespace telnet {
inline constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                              kSb = 250, kSe = 240;
inline constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// Client-to-server com port commands; the server answers each with the command + 100.
inline constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                              kSetControl = 5;
inline constexpr std::uint8_t kServerOffset = 100;
} // namespace telnet

class Rfc2217Codec final : public LineCodec {
  public:
    void Opening(Bytes& wire) override;
    void Outgoing(const std::uint8_t* data, std::size_t count, Bytes& wire) override;
    void Incoming(const std::uint8_t* data, std::size_t count, Bytes& line, Bytes& wire) override;
    void SetLine(const LineFormat& format, Bytes& wire) override;
    void SetModemLine(bool dtr, bool on, Bytes& wire) override;

    bool ComPortAgreed() const { return us_[telnet::kComPort] == Option::Yes; }
    // The speed the server last said its line runs at.
    std::optional<std::uint32_t> ServerBaud() const { return serverBaud_; }

  private:
    enum class Option : std::uint8_t { No, WantYes, Yes };
    enum class State : std::uint8_t { Data, Iac, Verb, Sb, SbIac };

    void Negotiate(std::uint8_t verb, std::uint8_t option, Bytes& wire);
    void Subnegotiation();
    void SendLine(Bytes& wire);
    static void Send(Bytes& wire, std::uint8_t verb, std::uint8_t option);
    static void Command(Bytes& wire, std::uint8_t command, const Bytes& value);

    std::array<Option, 256> us_{};  // options we perform
    std::array<Option, 256> him_{}; // options the server performs
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    Bytes sb_;
    std::optional<LineFormat> line_;
    std::optional<std::uint32_t> serverBaud_;
};

} // namespace korvan::netport
