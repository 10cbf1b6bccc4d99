#include "Rfc2217.h"

namespace korvan::netport {

using namespace telnet;

namespace {

bool WeMay(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}
bool HeMay(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

} // namespace

void Rfc2217Codec::Opening(Bytes& wire) {
    for (std::uint8_t option : {kBinary, kSuppressGoAhead, kComPort}) {
        us_[option] = Option::WantYes;
        Send(wire, kWill, option);
    }
    for (std::uint8_t option : {kBinary, kSuppressGoAhead}) {
        him_[option] = Option::WantYes;
        Send(wire, kDo, option);
    }
}

void Rfc2217Codec::Outgoing(const std::uint8_t* data, std::size_t count, Bytes& wire) {
    for (std::size_t i = 0; i < count; ++i) {
        wire.push_back(data[i]);
        if (data[i] == kIac) wire.push_back(kIac);
    }
}

void Rfc2217Codec::Incoming(const std::uint8_t* data, std::size_t count, Bytes& line, Bytes& wire) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        switch (state_) {
        case State::Data:
            if (b == kIac) {
                state_ = State::Iac;
            } else {
                line.push_back(b);
            }
            break;
        case State::Iac:
            if (b == kIac) {
                line.push_back(kIac);
                state_ = State::Data;
            } else if (b >= kWill && b <= kDont) {
                verb_ = b;
                state_ = State::Verb;
            } else if (b == kSb) {
                sb_.clear();
                state_ = State::Sb;
            } else {
                state_ = State::Data; // NOP, go-ahead and the like carry nothing for the line
            }
            break;
        case State::Verb:
            Negotiate(verb_, b, wire);
            state_ = State::Data;
            break;
        case State::Sb:
            if (b == kIac) {
                state_ = State::SbIac;
            } else if (sb_.size() < 64) {
                sb_.push_back(b);
            }
            break;
        case State::SbIac:
            if (b == kIac) {
                if (sb_.size() < 64) sb_.push_back(kIac);
                state_ = State::Sb;
            } else {
                if (b == kSe) Subnegotiation();
                state_ = State::Data;
            }
            break;
        }
    }
}

// RFC 1143 without its queue bits: a request already made is not made again, and a refusal is
// answered only when it changes something, so two sides cannot loop.
void Rfc2217Codec::Negotiate(std::uint8_t verb, std::uint8_t option, Bytes& wire) {
    Option& his = him_[option];
    Option& ours = us_[option];
    const bool comPortBefore = ComPortAgreed();
    switch (verb) {
    case kWill:
        if (!HeMay(option)) {
            Send(wire, kDont, option);
            his = Option::No;
        } else if (his != Option::Yes) {
            if (his == Option::No) Send(wire, kDo, option);
            his = Option::Yes;
        }
        break;
    case kWont:
        if (his == Option::Yes) Send(wire, kDont, option);
        his = Option::No;
        break;
    case kDo:
        if (!WeMay(option)) {
            Send(wire, kWont, option);
            ours = Option::No;
        } else if (ours != Option::Yes) {
            if (ours == Option::No) Send(wire, kWill, option);
            ours = Option::Yes;
        }
        break;
    case kDont:
        if (ours == Option::Yes) Send(wire, kWont, option);
        ours = Option::No;
        break;
    }
    // The settings made before the server agreed go now.
    if (!comPortBefore && ComPortAgreed() && line_) SendLine(wire);
}

void Rfc2217Codec::Subnegotiation() {
    if (sb_.size() == 6 && sb_[0] == kComPort && sb_[1] == kSetBaudRate + kServerOffset) {
        serverBaud_ = std::uint32_t{sb_[2]} << 24 | std::uint32_t{sb_[3]} << 16 |
                      std::uint32_t{sb_[4]} << 8 | sb_[5];
    }
}

void Rfc2217Codec::SetLine(const LineFormat& format, Bytes& wire) {
    line_ = format;
    if (ComPortAgreed()) SendLine(wire);
}

void Rfc2217Codec::SendLine(Bytes& wire) {
    const LineFormat& f = *line_;
    Command(wire, kSetBaudRate,
            {static_cast<std::uint8_t>(f.baud >> 24), static_cast<std::uint8_t>(f.baud >> 16),
             static_cast<std::uint8_t>(f.baud >> 8), static_cast<std::uint8_t>(f.baud)});
    Command(wire, kSetDataSize, {static_cast<std::uint8_t>(f.dataBits)});
    // RFC 2217 counts parity from 1 (none) and stop sizes as 1 one, 2 two, 3 one and a half.
    Command(wire, kSetParity, {static_cast<std::uint8_t>(f.parity + 1)});
    constexpr std::uint8_t kStopSize[] = {1, 3, 2};
    Command(wire, kSetStopSize, {kStopSize[f.stopBits >= 0 && f.stopBits <= 2 ? f.stopBits : 0]});
}

void Rfc2217Codec::SetModemLine(bool dtr, bool on, Bytes& wire) {
    if (!ComPortAgreed()) return;
    // SET-CONTROL: 8 DTR on, 9 DTR off, 11 RTS on, 12 RTS off.
    const std::uint8_t value = dtr ? (on ? 8 : 9) : (on ? 11 : 12);
    Command(wire, kSetControl, {value});
}

void Rfc2217Codec::Send(Bytes& wire, std::uint8_t verb, std::uint8_t option) {
    wire.insert(wire.end(), {kIac, verb, option});
}

void Rfc2217Codec::Command(Bytes& wire, std::uint8_t command, const Bytes& value) {
    wire.insert(wire.end(), {kIac, kSb, kComPort, command});
    for (std::uint8_t b : value) {
        wire.push_back(b);
        if (b == kIac) wire.push_back(kIac);
    }
    wire.insert(wire.end(), {kIac, kSe});
}

} // namespace korvan::netport
