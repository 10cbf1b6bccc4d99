#include "RxPacer.h"

#include <algorithm>

namespace korvan::posix {

namespace {

constexpr std::uint32_t kFastLineBaud = 19200;
constexpr auto kFastLineQuiet = std::chrono::microseconds(750);

} // namespace

void RxPacer::SetLine(std::uint32_t baud, int bitsPerCharacter) {
    character_ = std::chrono::nanoseconds(std::int64_t{bitsPerCharacter} * 1000000000 /
                                          std::max<std::uint32_t>(baud, 1));
    quiet_ = baud > kFastLineBaud ? Clock::duration(kFastLineQuiet) : character_ * 3 / 2;
}

std::optional<RxPacer::Clock::time_point> RxPacer::NextLook() const {
    if (pending_) return flowing_ ? triggerDue_ : firstArrival_ + quiet_;
    if (following_) return followUntil_;
    return std::nullopt;
}

void RxPacer::NoteArrival(Clock::time_point now) {
    if (!pending_) {
        firstArrival_ = now;
        flowing_ = following_; // no pause since the last run's event
        triggerDue_ = followUntil_;
    }
    pending_ = true;
    lastArrival_ = now;
}

bool RxPacer::Due(Clock::time_point now, int queued) {
    const bool due = Decide(now, queued);
    if (!pending_ && following_ && now >= followUntil_) following_ = false;
    return due;
}

bool RxPacer::Decide(Clock::time_point now, int queued) {
    if (!pending_) return false;
    if (queued <= 0) {
        pending_ = false;
        return false;
    }
    following_ = false;
    bool flowing = true;
    if (queued < kTrigger) {
        if (flowing_) {
            if (now - lastArrival_ >= quiet_) {
                flowing = false;
            } else if (now < triggerDue_) {
                return false;
            }
        } else {
            if (now - firstArrival_ < quiet_) return false;
            if (lastArrival_ == firstArrival_) {
                flowing = false;
            } else {
                flowing_ = true;
                triggerDue_ = now + character_ * (kTrigger - queued);
                return false;
            }
        }
    }
    pending_ = false;
    // A lump of several trigger levels came at once, not at the line's pace: the line is watched
    // for its next byte again.
    following_ = flowing && queued < 2 * kTrigger;
    followUntil_ = now + character_ * kTrigger;
    return true;
}

} // namespace korvan::posix
