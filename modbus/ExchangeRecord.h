// One closed exchange as the engine judged it: the request, what arrived, when, and the verdict the
// engine acted on. The engine reports each one to an observer (the traffic record); it knows
// nothing of who listens, and nothing it does depends on the observer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

namespace korvan {

enum class ExchangeVerdict : std::uint8_t {
    Good,          // the answer to the request: read data applied, or write confirmed
    NoReply,       // nothing arrived
    BadCrc,        // bytes arrived, but their last two are not the CRC of the rest
    Incomplete,    // fewer bytes than the answer asked for, and those that came begin it rightly
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
    // The unit refused or left unanswered this write once too often: it is given up.
    bool writeAbandoned = false;
};

// Why the engine dropped choices that were never confirmed.
enum class DropCause : std::uint8_t {
    PortLost,       // the port failed, or was opened again after a failure
    PortChanged,    // the operator picked another port
    AddressChanged, // the operator picked another slave address
    LinkLost,       // the unit stopped answering: commands and write jobs do not outlive it
    BusScan,        // the port was lent to a search for units on the line
};

// "связь с портом потеряна": the words the window and the journal give a cause.
inline const char* DropCauseWords(DropCause cause) {
    switch (cause) {
    case DropCause::PortLost:
        return "связь с портом потеряна";
    case DropCause::PortChanged:
        return "выбран другой порт";
    case DropCause::AddressChanged:
        return "выбран другой адрес прибора";
    case DropCause::LinkLost:
        return "связь потеряна";
    case DropCause::BusScan:
        return "поиск блоков на линии";
    }
    return "";
}

// What the engine gave up without the unit holding it: each choice's register, its bits and
// their value, and the service command (-1 for none). Not a write the unit refused.
struct DroppedChoices {
    struct Bits {
        int reg = 0;
        std::uint16_t mask = 0;
        std::uint16_t value = 0;
    };
    std::vector<Bits> choices;
    int serviceCommand = -1;
    DropCause cause = DropCause::PortLost;

    bool Empty() const { return choices.empty() && serviceCommand < 0; }
};

class ExchangeObserver {
  public:
    virtual ~ExchangeObserver() = default;
    // Called on the window thread as the exchange closes; must be cheap and must not throw.
    virtual void ExchangeClosed(const ExchangeRecord& record) noexcept = 0;
    // The engine dropped open choices; called on the window thread, must not throw.
    virtual void ChoicesDropped(const DroppedChoices&) noexcept {}
    // The engine took a new choice of the operator's: `value` for the bits `mask` of `reg`.
    virtual void ChoiceMade(int /*reg*/, std::uint16_t /*mask*/, std::uint16_t /*value*/) noexcept {
    }
    // The link's session ended (before its dropped choices are told); `linkWasUp` says whether
    // the link was up until then.
    virtual void SessionEnded(DropCause, bool /*linkWasUp*/) noexcept {}
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
    void ChoicesDropped(const DroppedChoices& dropped) noexcept override {
        for (int i = 0; i < count_; ++i)
            observers_[i]->ChoicesDropped(dropped);
    }
    void ChoiceMade(int reg, std::uint16_t mask, std::uint16_t value) noexcept override {
        for (int i = 0; i < count_; ++i)
            observers_[i]->ChoiceMade(reg, mask, value);
    }
    void SessionEnded(DropCause cause, bool linkWasUp) noexcept override {
        for (int i = 0; i < count_; ++i)
            observers_[i]->SessionEnded(cause, linkWasUp);
    }

  private:
    std::array<ExchangeObserver*, kMaxObservers> observers_{};
    int count_ = 0;
};

} // namespace korvan
