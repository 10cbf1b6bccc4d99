#include "MbapGateway.h"

#include "ModbusFrames.h"

namespace korvan::netport {

namespace {

constexpr std::size_t kHeader = 7;      // transaction, protocol, length, unit
constexpr std::size_t kMaxLength = 254; // unit id and a PDU of at most 253 bytes

bool CrcGood(const std::uint8_t* frame, std::size_t count) {
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    Crc16(frame, static_cast<int>(count - 2), high, low);
    return frame[count - 2] == low && frame[count - 1] == high;
}

} // namespace

void MbapGateway::Outgoing(const std::uint8_t* data, std::size_t count, Bytes& wire) {
    // Address, function, CRC at least; the station never writes anything else, so a block that
    // is no frame has nothing to become.
    if (count < 4 || count - 2 > kMaxLength || !CrcGood(data, count)) return;
    ++transaction_;
    awaiting_ = true;
    buffer_.clear(); // what is left of an earlier reply belongs to no request now
    const std::size_t length = count - 2; // unit id and PDU
    wire.insert(wire.end(),
                {static_cast<std::uint8_t>(transaction_ >> 8),
                 static_cast<std::uint8_t>(transaction_), 0, 0,
                 static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
    wire.insert(wire.end(), data, data + length);
}

void MbapGateway::Incoming(const std::uint8_t* data, std::size_t count, Bytes& line, Bytes&) {
    buffer_.insert(buffer_.end(), data, data + count);
    while (buffer_.size() >= kHeader) {
        const std::uint16_t transaction = static_cast<std::uint16_t>(buffer_[0] << 8 | buffer_[1]);
        const std::size_t protocol = static_cast<std::size_t>(buffer_[2] << 8 | buffer_[3]);
        const std::size_t length = static_cast<std::size_t>(buffer_[4] << 8 | buffer_[5]);
        if (protocol != 0 || length < 2 || length > kMaxLength) {
            // No MBAP header: nothing after it can be framed again on this stream.
            buffer_.clear();
            return;
        }
        if (buffer_.size() < 6 + length) return;
        if (awaiting_ && transaction == transaction_) {
            awaiting_ = false;
            const std::size_t start = line.size();
            line.insert(line.end(), buffer_.begin() + 6,
                        buffer_.begin() + 6 + static_cast<long>(length));
            std::uint8_t high = 0;
            std::uint8_t low = 0;
            Crc16(line.data() + start, static_cast<int>(length), high, low);
            line.push_back(low);
            line.push_back(high);
        }
        buffer_.erase(buffer_.begin(), buffer_.begin() + 6 + static_cast<long>(length));
    }
}

} // namespace korvan::netport
