#include "TrafficLog.h"

#include "ModbusFrames.h"

#include <algorithm>

namespace korvan {

TrafficLog::TrafficLog(int capacity) : capacity_(std::max(capacity, 1)) {
    // Reserved, not filled: the pages are touched only as exchanges arrive, and no exchange
    // ever allocates.
    ring_.reserve(static_cast<std::size_t>(capacity_));
}

void TrafficLog::ExchangeClosed(const ExchangeRecord& record) noexcept {
    const std::size_t slot = end_ % static_cast<std::uint64_t>(capacity_);
    if (slot < ring_.size())
        ring_[slot] = record;
    else
        ring_.push_back(record); // within the reserved capacity: cannot throw
    ++end_;
    if (end_ - first_ > static_cast<std::uint64_t>(capacity_)) ++first_;

    ++counters_.requests;
    const int verdict = static_cast<int>(record.verdict);
    if (verdict >= 0 && verdict < kVerdictCount) ++counters_.verdicts[verdict];
    if (record.linkLost) ++counters_.linkLosses;
    if (record.verdict == ExchangeVerdict::Good && record.request[1] == kWriteSingleRegister)
        ++counters_.writesConfirmed;
}

void TrafficLog::Clear() {
    first_ = end_;
    counters_ = {};
}

const ExchangeRecord& TrafficLog::At(std::uint64_t sequence) const {
    return ring_[sequence % static_cast<std::uint64_t>(capacity_)];
}

} // namespace korvan
