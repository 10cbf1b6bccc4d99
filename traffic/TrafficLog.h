// The traffic record: the last exchanges the engine closed, kept in a fixed ring, and running
// counters of what happened on the line. It listens to the engine whether or not anyone looks at
// it, so recording must cost the window thread next to nothing: one copy into storage reserved up
// front, no allocation, no signal.
#pragma once

#include "ExchangeRecord.h"

#include <array>
#include <cstdint>
#include <vector>

namespace korvan {

constexpr int kVerdictCount = static_cast<int>(ExchangeVerdict::Exception) + 1;

struct TrafficCounters {
    std::int64_t requests = 0;
    std::array<std::int64_t, kVerdictCount> verdicts{}; // by ExchangeVerdict
    std::int64_t linkLosses = 0;
    std::int64_t writesConfirmed = 0;

    std::int64_t Of(ExchangeVerdict verdict) const { return verdicts[static_cast<int>(verdict)]; }
};

// A verdict where the line let the exchange down. The unit's refusal is counted apart: the unit
// is there and answered, though the link pays for it too.
constexpr bool IsFailure(ExchangeVerdict verdict) {
    return verdict != ExchangeVerdict::Good && verdict != ExchangeVerdict::Exception;
}

class TrafficLog final : public ExchangeObserver {
  public:
    static constexpr int kCapacity = 10000;

    explicit TrafficLog(int capacity = kCapacity);

    void ExchangeClosed(const ExchangeRecord& record) noexcept override;
    // A port that fails with the link up loses the link: counted as a loss.
    void SessionEnded(DropCause cause, bool linkWasUp) noexcept override {
        if (cause == DropCause::PortLost && linkWasUp) ++counters_.linkLosses;
    }

    // Forgets the rows and the counters. Sequence numbers go on from where they were, so a
    // reader that remembers the last one it took is not confused.
    void Clear();

    const TrafficCounters& Counters() const { return counters_; }
    int Capacity() const { return capacity_; }
    int Size() const { return static_cast<int>(end_ - first_); }

    // Every exchange gets the next sequence number; those from FirstKept() to End() - 1 are kept.
    std::uint64_t FirstKept() const { return first_; }
    std::uint64_t End() const { return end_; }
    const ExchangeRecord& At(std::uint64_t sequence) const;

  private:
    int capacity_;
    std::vector<ExchangeRecord> ring_;
    std::uint64_t first_ = 0;
    std::uint64_t end_ = 0;
    TrafficCounters counters_;
};

} // namespace korvan
