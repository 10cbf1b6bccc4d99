#include "PollEngine.h"

#include "Binding.h"
#include "ModbusFrames.h"
#include "TextConversion.h"

#include <algorithm>
#include <exception>
#include <limits>

namespace korvan {

namespace {

constexpr int kReplyDataOffset = 3; // address, function, byte count
// The widest read, 116 registers, fits RxBuffer behind the reply header with room to spare;
// the clamp only keeps a stray ReadLength inside both buffers.
constexpr int kMaxReadLength = PollEngine::kRxCapacity - kReplyDataOffset;

} // namespace

void PollEngine::SetStartValues() {
    s_.RxCount = 0;
    s_.PendingWrite = false;
    s_.LinkCredit = 0;
    s_.ReadCount = kBaseReadCount;
    s_.ReadLength = 2 * kBaseReadCount;
    s_.LayoutCountdown = kLayoutCountdownStart;
}

void PollEngine::Choose(int reg, std::uint16_t mask, std::uint16_t value, ChoiceKind kind) {
    if (reg < 0 || reg >= kRegisterCount || !IsWritableRegister(reg) ||
        reg == reg::ServiceCommand || mask == 0)
        return;
    const auto keep = static_cast<std::uint16_t>(~mask);
    // What is wanted already (the unit's value, or an open choice) is no new choice: a start
    // pressed on a started unit must not restart it once it has stopped by itself. A job's value
    // the operator picks by hand stays wanted as the operator's own.
    if (((RegisterValue(s_.WantedImage, reg) ^ value) & mask) == 0) {
        if (kind == ChoiceKind::Setting) jobMask_[reg] &= keep;
        return;
    }
    chosenValue_[reg] = static_cast<std::uint16_t>((chosenValue_[reg] & keep) | (value & mask));
    chosenMask_[reg] |= mask;
    commandMask_[reg] = static_cast<std::uint16_t>((commandMask_[reg] & keep) |
                                                   (kind == ChoiceKind::Command ? mask : 0));
    jobMask_[reg] =
        static_cast<std::uint16_t>((jobMask_[reg] & keep) | (kind == ChoiceKind::Job ? mask : 0));
    ShowWanted(reg);
    if (observer_ != nullptr)
        observer_->ChoiceMade(reg, mask, static_cast<std::uint16_t>(value & mask));
}

void PollEngine::SendServiceCommand(std::uint8_t command) {
    serviceCommand_ = command;
}

std::uint16_t PollEngine::ChosenBits(int reg) const {
    return reg >= 0 && reg < kRegisterCount ? chosenMask_[reg] : 0;
}

std::uint16_t PollEngine::JobBits(int reg) const {
    return reg >= 0 && reg < kRegisterCount
               ? static_cast<std::uint16_t>(jobMask_[reg] & chosenMask_[reg])
               : 0;
}

void PollEngine::EndSession(DropCause cause) {
    DroppedChoices dropped;
    dropped.cause = cause;
    for (int reg = 0; reg < kRegisterCount; ++reg)
        if (chosenMask_[reg] != 0)
            dropped.choices.push_back(
                {reg, chosenMask_[reg],
                 static_cast<std::uint16_t>(chosenValue_[reg] & chosenMask_[reg])});
    dropped.serviceCommand = serviceCommand_;
    const bool linkWasUp = s_.LinkCredit > 0;
    // A reply still on its way belongs to the old session: its exchange is closed unjudged.
    line_.StopResponseTimer();
    s_.RxBuffer.fill(0);
    arrived_ = 0;
    chosenMask_.fill(0);
    commandMask_.fill(0);
    jobMask_.fill(0);
    serviceCommand_ = -1;
    refusedRegister_ = -1;
    refusals_ = 0;
    unansweredRegister_ = -1;
    unanswered_ = 0;
    extendedRefused_ = false;
    wideHeld_ = false;
    ++linkBreaks_;
    SetStartValues();
    // The controls show the unit's last values again, as of a unit no longer reached.
    s_.WantedImage = s_.ShownImage;
    if (controlsShown_) view_.ImageToControls(s_.WantedImage);
    controlsShown_ = false;
    view_.ShowLinkLost();
    if (observer_ != nullptr) observer_->SessionEnded(cause, linkWasUp);
    ReportDropped(std::move(dropped));
}

void PollEngine::StopJob() {
    for (int reg = 0; reg < kRegisterCount; ++reg)
        if (JobBits(reg) != 0) ForgetBits(reg, JobBits(reg));
    view_.ImageToControls(s_.WantedImage);
}

void PollEngine::DropWithLink() {
    ++linkBreaks_;
    DroppedChoices dropped;
    dropped.cause = DropCause::LinkLost;
    bool jobDropped = false;
    for (int reg = 0; reg < kRegisterCount; ++reg) {
        const auto commands = static_cast<std::uint16_t>(commandMask_[reg] & chosenMask_[reg]);
        if (commands != 0)
            dropped.choices.push_back(
                {reg, commands, static_cast<std::uint16_t>(chosenValue_[reg] & commands)});
        const std::uint16_t job = JobBits(reg);
        jobDropped = jobDropped || job != 0;
        if ((commands | job) != 0) ForgetBits(reg, static_cast<std::uint16_t>(commands | job));
    }
    dropped.serviceCommand = serviceCommand_;
    serviceCommand_ = -1;
    if (!dropped.choices.empty() || jobDropped) view_.ImageToControls(s_.WantedImage);
    if (!dropped.Empty()) ReportDropped(std::move(dropped));
}

void PollEngine::ReportDropped(DroppedChoices dropped) {
    if (dropped.Empty()) return;
    view_.ReportChoicesDropped(dropped);
    if (observer_ != nullptr) observer_->ChoicesDropped(dropped);
}

void PollEngine::ShowWanted(int reg) {
    const std::uint16_t mask = chosenMask_[reg];
    SetRegisterValue(s_.WantedImage, reg,
                     static_cast<std::uint16_t>((RegisterValue(s_.ShownImage, reg) & ~mask) |
                                                (chosenValue_[reg] & mask)));
}

void PollEngine::SettleChoices(int reg, std::uint16_t held) {
    // Field by field: a field the unit holds is done, and from then on the unit's own changes to
    // it stand; a field half held is not, or a write could mix two values nobody chose.
    std::uint16_t open = chosenMask_[reg];
    std::uint16_t left = open;
    while (left != 0) {
        const auto lowest = static_cast<std::uint16_t>(left & (~left + 1u));
        const std::uint16_t field = FieldBits(reg, lowest) | lowest;
        if (((held ^ chosenValue_[reg]) & field) == 0) open &= static_cast<std::uint16_t>(~field);
        left &= static_cast<std::uint16_t>(~field);
    }
    chosenMask_[reg] = open;
}

void PollEngine::ForgetChoice(int reg) {
    ForgetBits(reg, 0xFFFF);
}

void PollEngine::ForgetBits(int reg, std::uint16_t mask) {
    const auto keep = static_cast<std::uint16_t>(~mask);
    chosenMask_[reg] &= keep;
    commandMask_[reg] &= keep;
    jobMask_[reg] &= keep;
    ShowWanted(reg);
}

void PollEngine::SEND_TIMTimer() {
    // Both timers share one interval, so the response timer may be due at this very moment: the
    // exchange in flight is closed first, or its reply would be judged against the next request.
    if (line_.ResponseTimerRunning()) TIMEOUTTimer();

    const std::uint8_t address = SlaveAddressFromText(line_.SendAddressText());
    const bool service = s_.PendingWrite && s_.PendingRegister == reg::ServiceCommand;
    if (service && serviceCommand_ < 0) s_.PendingWrite = false; // nothing left to send there
    Request request = s_.PendingWrite ? WriteRequest(address, s_.PendingRegister, s_.WantedImage)
                                      : ReadRequest(address, s_.ReadCount);
    s_.RxCount = 0;
    // Register 95 takes one-shot service commands: each press is sent once, with the high byte
    // as the unit last reported it, and never again, not even when this write gets no reply.
    const bool sendsCommand = s_.PendingWrite && service;
    if (sendsCommand) {
        request[5] = static_cast<std::uint8_t>(serviceCommand_);
        s_.PendingWrite = false;
    }
    SealRequest(request);
    sent_ = request;
    arrived_ = 0;
    try {
        // A late reply that came between two exchanges must not pass for the next one's answer.
        line_.DiscardInput();
        line_.StartResponseTimer();
        line_.PortWrite(request.data(), kRequestLength);
        writtenAt_ = std::chrono::steady_clock::now();
        sentAt_ = std::chrono::system_clock::now();
    } catch (const std::exception&) {
        // Nothing went out, so nothing can come back: the exchange closes here, and a command
        // that did not go out is still waiting when the session ends (and is reported then).
        line_.StopResponseTimer();
        line_.PortFailed(std::current_exception());
        return;
    }
    if (sendsCommand) serviceCommand_ = -1;
}

void PollEngine::COMPORTRxChar(int Count) {
    // The port's queue may hold more than this exchange can use (a babbling line, a reply to
    // someone else): everything waiting is read, what does not fit RxBuffer is dropped, so the
    // surplus cannot spill into the next exchange.
    std::array<std::uint8_t, kRxCapacity> received;
    const int start = std::clamp(s_.RxCount, 0, kRxCapacity);
    s_.RxCount = start;
    int remaining = Count;
    while (remaining > 0) {
        const int chunk = std::min(remaining, kRxCapacity);
        int got = 0;
        try {
            got = line_.PortRead(received.data(), chunk);
        } catch (const std::exception&) {
            // Nothing of this event is kept; the open exchange then fails when it closes.
            std::fill(s_.RxBuffer.begin() + start, s_.RxBuffer.begin() + s_.RxCount,
                      std::uint8_t{0});
            s_.RxCount = start;
            line_.PortFailed(std::current_exception());
            return;
        }
        got = std::clamp(got, 0, chunk);
        if (got > 0) {
            arrived_ += got;
            lastArrival_ = std::chrono::steady_clock::now();
        }
        const int kept = std::min(got, kRxCapacity - s_.RxCount);
        std::copy_n(received.begin(), kept, s_.RxBuffer.begin() + s_.RxCount);
        s_.RxCount += kept;
        if (got < chunk) break; // the queue is empty
        remaining -= chunk;
    }
}

void PollEngine::TIMEOUTTimer() {
    // Only the answer to the request just sent counts: a late reply to an earlier request, a
    // reply from another address or a stray frame with a good CRC is a failed exchange, or its
    // data would land in the wrong registers and be written back to the unit.
    ReplyJudgement judgement =
        JudgeReply(sent_, s_.RxBuffer.data(), std::clamp(s_.RxCount, 0, kRxCapacity));
    const bool linkWasUp = s_.LinkCredit > 0;
    bool abandoned = false;
    switch (judgement.verdict) {
    case ExchangeVerdict::Good:
        if (sent_[1] == kWriteSingleRegister)
            ApplyWriteReply();
        else
            ApplyReadReply();
        break;
    case ExchangeVerdict::Exception:
        abandoned = RefuseExchange(judgement.exceptionCode);
        break;
    default:
        abandoned = FailExchange();
    }
    ReportExchange(judgement, linkWasUp && s_.LinkCredit == 0, abandoned);

    line_.StopResponseTimer();
    s_.RxBuffer.fill(0);
}

void PollEngine::ReportExchange(const ReplyJudgement& judgement, bool linkLost, bool abandoned) {
    if (observer_ == nullptr) return;
    ExchangeRecord record;
    record.request = sent_;
    record.receivedCount = std::clamp(s_.RxCount, 0, kRxCapacity);
    std::copy_n(s_.RxBuffer.begin(), record.receivedCount, record.received.begin());
    record.arrivedCount = arrived_;
    record.sentAt = sentAt_;
    if (arrived_ > 0)
        record.latency = std::max(
            std::chrono::microseconds{0},
            std::chrono::duration_cast<std::chrono::microseconds>(lastArrival_ - writtenAt_));
    record.verdict = judgement.verdict;
    record.exceptionCode = judgement.exceptionCode;
    record.linkLost = linkLost;
    record.writeAbandoned = abandoned;
    observer_->ExchangeClosed(record);
}

void PollEngine::ApplyReadReply() {
    // Every answer to a read is the unit's state and is shown at once; the operator's open
    // choices stay laid over it, so no read repaints them away and no write carries bits the
    // unit has changed since.
    const int length = std::clamp(s_.ReadLength, 0, kMaxReadLength);
    s_.LinkCredit = kLinkCreditFull;
    view_.SetOnlineColour(kGreen);
    std::copy_n(s_.RxBuffer.begin() + kReplyDataOffset, length, s_.ReadImage.begin());
    const RegisterImage wantedBefore = s_.WantedImage;
    std::copy_n(s_.ReadImage.begin(), length, s_.ShownImage.begin());
    for (int reg = 0; reg < length / 2; ++reg) {
        SettleChoices(reg, RegisterValue(s_.ShownImage, reg));
        ShowWanted(reg);
    }
    if (!controlsShown_ || s_.WantedImage != wantedBefore) {
        view_.ImageToControls(s_.WantedImage);
        controlsShown_ = true;
    }
    if (s_.LayoutCountdown > 0) {
        s_.LayoutCountdown = 0;
        view_.FitPanelsToUnits(s_.LinkCredit, UnitCount(s_.ShownImage));
    }
    // A unit in use that still shows grey has stale colours (link loss, or it was just given a
    // drive type): the image is shown again even though it did not change.
    if (view_.GreyOutDisabledUnits(s_.ShownImage) > 0) view_.ImageToControls(s_.WantedImage);
    if (length > 2 * kBaseReadCount) wideHeld_ = true;
    if (s_.ReadImage[byte::FirmwareMajor] > 2 && s_.ReadCount == kBaseReadCount &&
        !extendedRefused_) {
        s_.ReadCount = kExtendedReadCount;
        s_.ReadLength = 2 * kExtendedReadCount;
    }
    FindNextWrite(length);
}

void PollEngine::FindNextWrite(int length) {
    s_.PendingWrite = false;
    for (int reg = 0; reg < length / 2; ++reg) {
        const bool differs = reg == reg::ServiceCommand ? serviceCommand_ >= 0
                                                        : RegisterValue(s_.WantedImage, reg) !=
                                                              RegisterValue(s_.ShownImage, reg);
        if (differs && IsWritableRegister(reg)) {
            s_.PendingRegister = reg;
            s_.PendingWrite = true;
            return;
        }
    }
}

void PollEngine::ApplyWriteReply() {
    // The echo confirms the value sent, not what is wanted by now: a choice made while this write
    // was on the line still differs and goes out next. Register 95's commands are one-shot:
    // nothing of them is held.
    const int written = sent_[2] << 8 | sent_[3];
    const auto value = static_cast<std::uint16_t>(sent_[4] << 8 | sent_[5]);
    if (written < kRegisterCount && written != reg::ServiceCommand) {
        SetRegisterValue(s_.ShownImage, written, value);
        SettleChoices(written, value);
        ShowWanted(written);
    }
    if (written == refusedRegister_) refusedRegister_ = -1;
    if (written == unansweredRegister_) unansweredRegister_ = -1;
    s_.PendingWrite = false;
}

void PollEngine::LoseCredit() {
    const bool wasUp = s_.LinkCredit > 0;
    if (s_.LinkCredit > 0) --s_.LinkCredit;
    if (s_.LinkCredit == 0) view_.ShowLinkLost();
    if (wasUp && s_.LinkCredit == 0) DropWithLink();
    // Only a positive countdown matters; it may run below 0, but not wrap around.
    if (s_.LayoutCountdown > std::numeric_limits<std::int32_t>::min()) --s_.LayoutCountdown;
}

bool PollEngine::FailExchange() {
    // A unit that stops answering may have been replaced by an older one: read the common size.
    s_.ReadCount = kBaseReadCount;
    s_.ReadLength = 2 * kBaseReadCount;
    LoseCredit();
    return sent_[1] == kWriteSingleRegister && WriteUnanswered();
}

bool PollEngine::WriteUnanswered() {
    // The next tick reads: a unit that takes the value without answering shows it there, and
    // the window stays fresh. The write goes out again after that read, the newest value wanted.
    s_.PendingWrite = false;
    const int reg = sent_[2] << 8 | sent_[3];
    const auto value = static_cast<std::uint16_t>(sent_[4] << 8 | sent_[5]);
    if (reg >= kRegisterCount || reg == reg::ServiceCommand) return false;
    if (reg == unansweredRegister_ && value == unansweredValue_) {
        ++unanswered_;
    } else {
        unansweredRegister_ = reg;
        unansweredValue_ = value;
        unanswered_ = 1;
    }
    if (unanswered_ < kRefusalsBeforeGivingUp || chosenMask_[reg] == 0) return false;
    // The choice is gone: a new one starts its tries afresh, refused or unanswered.
    unansweredRegister_ = -1;
    if (refusedRegister_ == reg) refusedRegister_ = -1;
    ForgetChoice(reg);
    view_.ImageToControls(s_.WantedImage);
    view_.ReportWriteUnanswered(reg, value);
    return true;
}

bool PollEngine::RefuseExchange(std::uint8_t code) {
    // A unit that refuses is as good as none for the window: its indicators no longer refresh.
    LoseCredit();
    if (sent_[1] != kWriteSingleRegister) {
        // A unit that claims a firmware with the wide registers but refuses to read them keeps
        // the wide read until the link is lost, then is read with 96 registers from then on.
        if (s_.LinkCredit == 0) {
            if (s_.ReadCount == kExtendedReadCount) extendedRefused_ = true;
            s_.ReadCount = kBaseReadCount;
            s_.ReadLength = 2 * kBaseReadCount;
        }
        return false;
    }
    // A refused write is not repeated at once: the next tick reads, so the window stays fresh.
    s_.PendingWrite = false;
    const int reg = sent_[2] << 8 | sent_[3];
    const auto value = static_cast<std::uint16_t>(sent_[4] << 8 | sent_[5]);
    if (reg >= kRegisterCount) return false;
    if (reg == refusedRegister_ && value == refusedValue_) {
        ++refusals_;
    } else {
        refusedRegister_ = reg;
        refusedValue_ = value;
        refusals_ = 1;
    }
    // A service command is sent once anyway; a setting is tried three times with the same value.
    if (reg != reg::ServiceCommand && refusals_ < kRefusalsBeforeGivingUp) return false;
    refusedRegister_ = -1;
    if (unansweredRegister_ == reg) unansweredRegister_ = -1;
    if (reg != reg::ServiceCommand) {
        ForgetChoice(reg);
        view_.ImageToControls(s_.WantedImage);
    }
    view_.ReportWriteRefused(reg, value, code);
    return true;
}

} // namespace korvan
