#include "LineCodec.h"

#include "MbapGateway.h"
#include "Rfc2217.h"

namespace korvan::netport {

namespace {

// A converter in plain TCP server mode: the bytes as they are.
class RawCodec final : public LineCodec {
  public:
    void Outgoing(const std::uint8_t* data, std::size_t count, Bytes& wire) override {
        wire.insert(wire.end(), data, data + count);
    }
    void Incoming(const std::uint8_t* data, std::size_t count, Bytes& line, Bytes&) override {
        line.insert(line.end(), data, data + count);
    }
};

} // namespace

std::unique_ptr<LineCodec> MakeLineCodec(NetMode mode) {
    switch (mode) {
    case NetMode::Rfc2217:
        return std::make_unique<Rfc2217Codec>();
    case NetMode::Gateway:
        return std::make_unique<MbapGateway>();
    case NetMode::Raw:
        break;
    }
    return std::make_unique<RawCodec>();
}

} // namespace korvan::netport
