// A network port: a serial device server or a Modbus TCP gateway reached over TCP, named like a
// serial port so that it travels through the port list and the component as one ("tcp://host:port",
// "rfc2217://host:port", "mbtcp://host:port"; an IPv6 address in brackets).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvan::netport {

enum class NetMode {
    Raw, // the converter passes bytes as they are, at its own line speed ("RTU поверх TCP")
    Rfc2217, // Telnet with the com port option: the station sets the converter's line
    Gateway, // Modbus TCP: each request in an MBAP frame, the converter speaks RTU on its line
};

struct Endpoint {
    NetMode mode = NetMode::Raw;
    std::string host; // without brackets
    std::uint16_t port = 0;
};

// Whether a port name names a network port rather than a serial device.
bool IsEndpointName(std::string_view name);
std::optional<Endpoint> ParseEndpointName(std::string_view name);
std::string EndpointName(const Endpoint& endpoint);

// What the operator typed as "узел:порт": a host name, an IPv4 address or an IPv6 address in
// brackets, a colon and a TCP port 1..65535. Surrounding spaces are ignored.
std::optional<Endpoint> ParseHostPort(std::string_view text, NetMode mode);

} // namespace korvan::netport
