#include "BusScan.h"

#include <algorithm>
#include <exception>

namespace korvan::scan {

namespace {

// The window thread's timer and the port's receive hand-off come a little late.
constexpr Micros kSchedulingMargin{5'000};
constexpr int kRequestCharacters = kRequestLength;
constexpr int kReceiveTrigger = 14; // characters the port lets flow before it reports them

std::vector<int> InScanOrder(const std::vector<int>& chosen) {
    std::vector<int> speeds;
    for (int baud : kScanSpeeds)
        if (std::find(chosen.begin(), chosen.end(), baud) != chosen.end()) speeds.push_back(baud);
    return speeds;
}

std::string FailureText() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "неизвестная ошибка порта";
    }
}

// Whether what came is a whole answer, so the probe need not wait for its time to run out: as
// long as the answer asked for, or an exception reply with its CRC.
bool Whole(const std::uint8_t* received, int count) {
    if (count >= kProbeReplyLength) return true;
    return count == 5 && (received[1] & 0x80) != 0 && CheckReply(received, count).valid;
}

} // namespace

Micros CharacterTime(int baud) {
    return Micros((10'000'000 + baud - 1) / baud);
}

Micros SilenceWait(int baud) {
    const int firstEvent = std::min(kReceiveTrigger, kProbeReplyLength);
    return (kRequestCharacters + firstEvent) * CharacterTime(baud) + kTurnaround +
           kSchedulingMargin;
}

Micros AnswerWait(int baud) {
    return (kRequestCharacters + kProbeReplyLength + kReceiveTrigger) * CharacterTime(baud) +
           kTurnaround + kSchedulingMargin;
}

Micros FrameGap(int baud) {
    return CharacterTime(baud) * 7 / 2;
}

Micros BusScan::SilentSweepTime(const ScanPlan& plan) {
    const int addresses = std::max(0, std::min(plan.lastAddress, kHighestAddress) -
                                          std::max(plan.firstAddress, kLowestAddress) + 1);
    Micros total{0};
    for (int baud : InScanOrder(plan.speeds))
        total += addresses * SilenceWait(baud);
    return total;
}

void BusScan::Start(const ScanPlan& plan) {
    if (Running()) return;
    plan_ = plan;
    plan_.firstAddress = std::max(plan.firstAddress, kLowestAddress);
    plan_.lastAddress = std::min(plan.lastAddress, kHighestAddress);
    speeds_ = InScanOrder(plan.speeds);
    finds_.clear();
    done_ = 0;
    lineFaults_ = 0;
    planned_ = static_cast<int>(speeds_.size()) * std::max(0, AddressesPerSpeed());
    speed_ = 0;
    address_ = plan_.firstAddress;
    openBaud_ = 0;
    retried_ = false;
    state_ = State::Gap; // running, nothing in flight
    if (planned_ == 0) {
        Finish(ScanEnd::Swept);
        return;
    }
    NextProbe();
}

void BusScan::Stop() {
    if (Running()) Finish(ScanEnd::Stopped);
}

void BusScan::Finish(ScanEnd end, const std::string& failure) {
    state_ = State::Idle;
    line_.StopTimer();
    listener_.Finished(end, failure);
}

Micros BusScan::TimeLeft() const {
    if (!Running()) return Micros{0};
    Micros left = (plan_.lastAddress - address_ + 1) * SilenceWait(Baud());
    for (std::size_t s = speed_ + 1; s < speeds_.size(); ++s)
        left += AddressesPerSpeed() * SilenceWait(speeds_[s]);
    return left;
}

void BusScan::NextProbe() {
    if (address_ > plan_.lastAddress) {
        address_ = plan_.firstAddress;
        ++speed_;
    }
    if (speed_ >= speeds_.size()) {
        Finish(ScanEnd::Swept);
        return;
    }
    SendProbe();
}

void BusScan::SendProbe() {
    try {
        if (Baud() != openBaud_) {
            openBaud_ = 0; // unknown until the port has reopened
            line_.SetSpeed(Baud());
            openBaud_ = Baud();
        }
        sent_ = ProbeRequest(static_cast<std::uint8_t>(address_));
        count_ = 0;
        state_ = State::Waiting;
        listener_.Probing(Baud(), address_);
        sentAt_ = line_.Now();
        line_.Write(sent_.data(), kRequestLength);
    } catch (...) {
        Finish(ScanEnd::PortFailed, FailureText());
        return;
    }
    line_.StartTimer(SilenceWait(Baud()));
}

void BusScan::TimerFired() {
    if (state_ == State::Waiting)
        CloseProbe();
    else if (state_ == State::Gap)
        NextProbe();
}

void BusScan::BytesArrived(int count) {
    std::array<std::uint8_t, 256> dropped{};
    const bool began = count_ > 0;
    try {
        while (count > 0) {
            const int room = static_cast<int>(received_.size()) - count_;
            const bool keep = state_ == State::Waiting && room > 0;
            const int chunk = std::min(count, keep ? room : static_cast<int>(dropped.size()));
            const int got = line_.Read(keep ? received_.data() + count_ : dropped.data(), chunk);
            if (keep) count_ += got;
            count -= chunk;
        }
    } catch (...) {
        if (Running()) Finish(ScanEnd::PortFailed, FailureText());
        return;
    }
    if (state_ != State::Waiting || count_ == 0) return;
    if (Whole(received_.data(), count_)) {
        CloseProbe();
        return;
    }
    if (!began) {
        // The answer has begun: it gets the time a whole one takes.
        const auto left = sentAt_ + AnswerWait(Baud()) - line_.Now();
        line_.StartTimer(std::max(Micros{0}, std::chrono::duration_cast<Micros>(left)));
    }
}

void BusScan::CloseProbe() {
    line_.StopTimer();
    ProbeVerdict verdict = JudgeProbe(sent_, received_.data(), count_);
    const bool heard = count_ > 0;
    if (!retried_ && WorthRetry(verdict.kind)) {
        // One more try after a damaged answer, once the line has been quiet.
        retried_ = true;
        firstTry_ = verdict;
        state_ = State::Gap;
        line_.StartTimer(FrameGap(Baud()));
        return;
    }
    if (retried_) verdict = Better(firstTry_, verdict);
    retried_ = false;
    ++done_;
    if (verdict.kind == ProbeKind::LineFault || verdict.kind == ProbeKind::Garbage) ++lineFaults_;
    if (IsFind(verdict.kind)) {
        finds_.push_back({address_, Baud(), verdict, std::chrono::system_clock::now()});
        listener_.Found(finds_.back());
    }
    ++address_;
    if (plan_.stopAtFirstUnit && verdict.kind == ProbeKind::Zokt) {
        Finish(ScanEnd::UnitFound);
        return;
    }
    if (heard) {
        state_ = State::Gap;
        line_.StartTimer(FrameGap(Baud()));
    } else {
        NextProbe(); // the line has been quiet the whole wait
    }
}

} // namespace korvan::scan
