#include "Endpoint.h"

#include <array>
#include <charconv>

namespace korvan::netport {

namespace {

struct Scheme {
    NetMode mode;
    std::string_view prefix;
};

constexpr std::array<Scheme, 3> kSchemes{{
    {NetMode::Raw, "tcp://"},
    {NetMode::Rfc2217, "rfc2217://"},
    {NetMode::Gateway, "mbtcp://"},
}};

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool HostCharacter(char c, bool bracketed) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    if (c == '.' || c == '-' || c == '_') return true;
    return bracketed && (c == ':' || c == '%');
}

} // namespace

bool IsEndpointName(std::string_view name) {
    return name.find("://") != std::string_view::npos;
}

std::optional<Endpoint> ParseHostPort(std::string_view text, NetMode mode) {
    text = Trimmed(text);
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (bracketed) host = host.substr(1, host.size() - 2);
    if (host.empty()) return std::nullopt;
    for (char c : host)
        if (!HostCharacter(c, bracketed)) return std::nullopt;
    unsigned port = 0;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (error != std::errc() || end != portText.data() + portText.size() || portText.empty() ||
        port == 0 || port > 65535) {
        return std::nullopt;
    }
    return Endpoint{mode, std::string(host), static_cast<std::uint16_t>(port)};
}

std::optional<Endpoint> ParseEndpointName(std::string_view name) {
    for (const Scheme& scheme : kSchemes) {
        if (name.substr(0, scheme.prefix.size()) == scheme.prefix) {
            return ParseHostPort(name.substr(scheme.prefix.size()), scheme.mode);
        }
    }
    return std::nullopt;
}

std::string EndpointName(const Endpoint& endpoint) {
    std::string name;
    for (const Scheme& scheme : kSchemes)
        if (scheme.mode == endpoint.mode) name = scheme.prefix;
    const bool v6 = endpoint.host.find(':') != std::string::npos;
    name += v6 ? "[" + endpoint.host + "]" : endpoint.host;
    return name + ":" + std::to_string(endpoint.port);
}

} // namespace korvan::netport
