// One closed exchange as the engine judged it: the request, what arrived, when, and the verdict the
// engine acted on. The engine reports each one to an observer (the traffic record); it knows
// nothing of who listens, and nothing it does depends on the observer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace korvan {

enum class ExchangeVerdict : std::uint8_t {
    Good,          // the answer to the request: read data applied, or write confirmed
    Ignored,       // a good read reply left unapplied because an operator's write goes first
    NoReply,       // nothing arrived
    BadCrc,        // bytes arrived, but their last two are not the CRC of the rest
    WrongLength,   // good CRC, but not the length or byte count of the answer asked for
    WrongAddress,  // good CRC, from another slave address
    WrongFunction, // good CRC and address, a function other than the one asked for
    EchoMismatch,  // a write reply of the right shape that is not the echo of the request
    Exception,     // the unit's exception reply (function with the high bit set)
};

struct ExchangeRecord {
    static constexpr int kKeptBytes = 256;

    std::array<std::uint8_t, 8> request{};           // as sent, CRC included
    std::array<std::uint8_t, kKeptBytes> received{}; // the first receivedCount bytes that arrived
    int receivedCount = 0;
    int arrivedCount = 0; // every byte that arrived in the exchange, also those dropped
    std::chrono::system_clock::time_point sentAt{};
    // From the end of the request to the last byte that arrived; negative when nothing arrived.
    std::chrono::microseconds latency{-1};
    ExchangeVerdict verdict = ExchangeVerdict::NoReply;
    std::uint8_t exceptionCode = 0; // for ExchangeVerdict::Exception
    bool linkLost = false;          // this exchange took the link credit from 1 to 0
};

class ExchangeObserver {
  public:
    virtual ~ExchangeObserver() = default;
    // Called on the window thread as the exchange closes; must be cheap and must not throw.
    virtual void ExchangeClosed(const ExchangeRecord& record) noexcept = 0;
};

// Hands each closed exchange to several observers, in the order they were added.
class ExchangeFanOut final : public ExchangeObserver {
  public:
    static constexpr int kMaxObservers = 4;

    // False when full.
    bool Add(ExchangeObserver* observer) {
        if (count_ == kMaxObservers) return false;
        observers_[count_++] = observer;
        return true;
    }
    void ExchangeClosed(const ExchangeRecord& record) noexcept override {
        for (int i = 0; i < count_; ++i)
            observers_[i]->ExchangeClosed(record);
    }

  private:
    std::array<ExchangeObserver*, kMaxObservers> observers_{};
    int count_ = 0;
};

} // namespace korvan
