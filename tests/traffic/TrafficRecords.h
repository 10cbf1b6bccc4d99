// Synthetic closed exchanges for the traffic tests, shaped as the engine reports them.
#pragma once

#include "ExchangeRecord.h"
#include "ModbusFrames.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <vector>

namespace korvan::testing {

inline Request ReadOf(int count) {
    Request r = ReadRequest(1, count);
    SealRequest(r);
    return r;
}

inline Request WriteOf(int reg, int value) {
    RegisterImage wanted{};
    SetRegisterValue(wanted, reg, static_cast<std::uint16_t>(value));
    Request r = WriteRequest(1, reg, wanted);
    SealRequest(r);
    return r;
}

inline ExchangeRecord Exchange(const Request& request, ExchangeVerdict verdict,
                               std::vector<std::uint8_t> reply = {}, int latencyUs = -1) {
    ExchangeRecord e;
    e.request = request;
    e.receivedCount = static_cast<int>(std::min<std::size_t>(reply.size(), e.received.size()));
    e.arrivedCount = static_cast<int>(reply.size());
    std::copy_n(reply.begin(), e.receivedCount, e.received.begin());
    e.sentAt = std::chrono::system_clock::now();
    e.latency = std::chrono::microseconds(latencyUs);
    e.verdict = verdict;
    return e;
}

} // namespace korvan::testing
