// What a network port does to the line's bytes on their way through the socket. The device
// around the socket hands every byte the station writes to Outgoing and every byte the socket
// brings to Incoming; what they give back is what goes onto the wire and what the station reads.
// Pure: no sockets, no clock.
#pragma once

#include "Endpoint.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace korvan::netport {

using Bytes = std::vector<std::uint8_t>;

// The line as the station sets it (Win32 codes: parity 0 none, 1 odd, 2 even, 3 mark, 4 space;
// stop bits 0 one, 1 one and a half, 2 two).
struct LineFormat {
    std::uint32_t baud = 9600;
    int dataBits = 8;
    int parity = 0;
    int stopBits = 0;
    bool operator==(const LineFormat&) const = default;
};

class LineCodec {
  public:
    virtual ~LineCodec() = default;
    // What goes to the server as soon as the connection is up.
    virtual void Opening(Bytes& wire) { (void)wire; }
    // A block the station wrote, as one write.
    virtual void Outgoing(const std::uint8_t* data, std::size_t count, Bytes& wire) = 0;
    // Bytes from the socket: line bytes for the station, and any answer the server is owed.
    virtual void Incoming(const std::uint8_t* data, std::size_t count, Bytes& line,
                          Bytes& wire) = 0;
    // The station set the line; only a converter that takes settings hears of it.
    virtual void SetLine(const LineFormat& format, Bytes& wire) {
        (void)format;
        (void)wire;
    }
    // DTR and RTS; only a converter that takes settings hears of them.
    virtual void SetModemLine(bool dtr, bool on, Bytes& wire) {
        (void)dtr;
        (void)on;
        (void)wire;
    }
};

std::unique_ptr<LineCodec> MakeLineCodec(NetMode mode);

} // namespace korvan::netport
