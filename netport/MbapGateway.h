// A Modbus TCP gateway in front of an RTU line. Each request the station writes (address, PDU,
// CRC) goes out as an MBAP frame whose unit id is the slave address and whose transaction id is
// new; a reply comes back as an RTU frame with a CRC computed afresh, and only when its
// transaction id is the one of the last request, so a late answer to an earlier request is
// dropped and the station's response timer judges the exchange. The gateway's own exceptions
// (0x0A path unavailable, 0x0B target failed to respond) pass as the exception replies they are.
#pragma once

#include "LineCodec.h"

namespace korvan::netport {

class MbapGateway final : public LineCodec {
  public:
    void Outgoing(const std::uint8_t* data, std::size_t count, Bytes& wire) override;
    void Incoming(const std::uint8_t* data, std::size_t count, Bytes& line, Bytes& wire) override;

  private:
    std::uint16_t transaction_ = 0;
    bool awaiting_ = false;
    Bytes buffer_; // a reply that has not arrived whole yet
};

} // namespace korvan::netport
