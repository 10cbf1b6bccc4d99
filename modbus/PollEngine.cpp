#include "PollEngine.h"

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
    RxCount = 0;
    PendingWrite = false;
    LinkCredit = 0;
    ReadCount = kBaseReadCount;
    ReadLength = 2 * kBaseReadCount;
    LayoutCountdown = kLayoutCountdownStart;
}

void PollEngine::SEND_TIMTimer() {
    // Both timers share one interval, so the response timer may be due at this very moment: the
    // exchange in flight is closed first, or its reply would be judged against the next request.
    if (host_.ResponseTimerRunning()) TIMEOUTTimer();

    const std::uint8_t address = SlaveAddressFromText(host_.SendAddressText());
    const bool writing = PendingWrite;
    Request request = writing ? WriteRequest(address, PendingRegister, WantedImage)
                              : ReadRequest(address, ReadCount);
    RxCount = 0;
    // Register 95 holds one-shot service commands: the request just built carries the command,
    // so it leaves the wanted image now and is never sent twice, not even when this write gets
    // no reply. A command stored while other requests go out stays until its own write.
    if (writing && PendingRegister == reg::ServiceCommand) {
        WantedImage[byte::ServiceCommand] = 0;
        PendingWrite = false;
    }
    host_.StartResponseTimer();
    SealRequest(request);
    sent_ = request;
    arrived_ = 0;
    try {
        host_.PortWrite(request.data(), kRequestLength);
        writtenAt_ = std::chrono::steady_clock::now();
        sentAt_ = std::chrono::system_clock::now();
    } catch (const std::exception&) {
        host_.StopResponseTimer();
        host_.StopPollTimer();
        host_.ShowLinkLost();
        host_.ShowPortError();
    }
}

void PollEngine::COMPORTRxChar(int Count) {
    // The port's queue may hold more than this exchange can use (a babbling line, a reply to
    // someone else): everything waiting is read, what does not fit RxBuffer is dropped, so the
    // surplus cannot spill into the next exchange.
    std::array<std::uint8_t, kRxCapacity> received;
    const int start = std::clamp(RxCount, 0, kRxCapacity);
    RxCount = start;
    int remaining = Count;
    while (remaining > 0) {
        const int chunk = std::min(remaining, kRxCapacity);
        int got = 0;
        try {
            got = host_.PortRead(received.data(), chunk);
        } catch (const std::exception&) {
            // Nothing of this event is kept; the open exchange then fails when it closes.
            std::fill(RxBuffer.begin() + start, RxBuffer.begin() + RxCount, std::uint8_t{0});
            RxCount = start;
            host_.StopPollTimer();
            host_.ShowLinkLost();
            host_.ShowPortError();
            return;
        }
        got = std::clamp(got, 0, chunk);
        if (got > 0) {
            arrived_ += got;
            lastArrival_ = std::chrono::steady_clock::now();
        }
        const int kept = std::min(got, kRxCapacity - RxCount);
        std::copy_n(received.begin(), kept, RxBuffer.begin() + RxCount);
        RxCount += kept;
        if (got < chunk) break; // the queue is empty
        remaining -= chunk;
    }
}

void PollEngine::TIMEOUTTimer() {
    // Only the answer to the request just sent counts: a late reply to an earlier request, a
    // reply from another address or a stray frame with a good CRC is a failed exchange, or its
    // data would land in the wrong registers and be written back to the unit.
    ReplyJudgement judgement =
        JudgeReply(sent_, RxBuffer.data(), std::clamp(RxCount, 0, kRxCapacity));
    bool linkLost = false;
    switch (judgement.verdict) {
    case ExchangeVerdict::Good:
        if (sent_[1] == kWriteSingleRegister)
            ApplyWriteReply();
        else if (!ApplyReadReply())
            judgement.verdict = ExchangeVerdict::Ignored;
        break;
    case ExchangeVerdict::Exception:
        // The unit refused the request: neither a good nor a failed exchange.
        break;
    default: {
        const bool linkWasUp = LinkCredit > 0;
        FailExchange();
        linkLost = linkWasUp && LinkCredit == 0;
    }
    }
    ReportExchange(judgement, linkLost);

    host_.StopResponseTimer();
    RxBuffer.fill(0);
}

void PollEngine::ReportExchange(const ReplyJudgement& judgement, bool linkLost) {
    if (observer_ == nullptr) return;
    ExchangeRecord record;
    record.request = sent_;
    record.receivedCount = std::clamp(RxCount, 0, kRxCapacity);
    std::copy_n(RxBuffer.begin(), record.receivedCount, record.received.begin());
    record.arrivedCount = arrived_;
    record.sentAt = sentAt_;
    if (arrived_ > 0)
        record.latency = std::max(
            std::chrono::microseconds{0},
            std::chrono::duration_cast<std::chrono::microseconds>(lastArrival_ - writtenAt_));
    record.verdict = judgement.verdict;
    record.exceptionCode = judgement.exceptionCode;
    record.linkLost = linkLost;
    observer_->ExchangeClosed(record);
}

bool PollEngine::ApplyReadReply() {
    const int length = std::clamp(ReadLength, 0, kMaxReadLength);

    host_.ControlsToImage(WantedImage);
    for (int i = 0; i < length; ++i) {
        if (WantedImage[i] == ShownImage[i]) continue;
        PendingRegister = i / 2;
        if (IsWritableRegister(PendingRegister)) {
            PendingWrite = true;
            break;
        }
    }
    // While the link is up the operator's change wins: the unit's data waits until every change
    // has been written. The first reply after start-up or a link loss is applied regardless.
    if (LinkCredit != 0 && PendingWrite) return false;
    if (LinkCredit == 0) PendingWrite = false;

    LinkCredit = kLinkCreditFull;
    host_.SetOnlineColour(kGreen);
    std::copy_n(RxBuffer.begin() + kReplyDataOffset, length, ReadImage.begin());
    if (!controlsShown_ ||
        !std::equal(ReadImage.begin(), ReadImage.begin() + length, ShownImage.begin())) {
        std::copy_n(ReadImage.begin(), length, ShownImage.begin());
        std::copy_n(ShownImage.begin(), length, WantedImage.begin());
        host_.ImageToControls(ShownImage);
        controlsShown_ = true;
    }
    if (LayoutCountdown > 0) {
        LayoutCountdown = 0;
        host_.FitPanelsToUnits();
    }
    // A unit in use that still shows grey has stale colours (link loss, or it was just given a
    // drive type): the image is shown again even though it did not change.
    if (host_.GreyOutDisabledUnits(ShownImage) > 0) host_.ImageToControls(ShownImage);
    if (ReadImage[byte::FirmwareMajor] > 2 && ReadCount == kBaseReadCount) {
        ReadCount = kExtendedReadCount;
        ReadLength = 2 * kExtendedReadCount;
    }
    return true;
}

void PollEngine::ApplyWriteReply() {
    // The echo confirms the value sent, not what is wanted by now: a command pressed while this
    // write was on the line still differs and goes out next. Register 95's commands are one-shot:
    // once sent, nothing of them stays wanted, so nothing of them is held either.
    const int written = sent_[2] << 8 | sent_[3];
    if (written < kRegisterCount) {
        const bool oneShot = written == reg::ServiceCommand;
        ShownImage[2 * written] = oneShot ? WantedImage[2 * written] : sent_[4];
        ShownImage[2 * written + 1] = oneShot ? WantedImage[2 * written + 1] : sent_[5];
    }
    PendingWrite = false;
}

void PollEngine::FailExchange() {
    // A unit that stops answering may have been replaced by an older one: read the common size.
    ReadCount = kBaseReadCount;
    ReadLength = 2 * kBaseReadCount;
    if (LinkCredit > 0) --LinkCredit;
    if (LinkCredit == 0) host_.ShowLinkLost();
    // Only a positive countdown matters; it may run below 0, but not wrap around.
    if (LayoutCountdown > std::numeric_limits<std::int32_t>::min()) --LayoutCountdown;
    // PendingWrite stays: an unanswered write is sent again instead of reads until it is echoed.
}

} // namespace korvan
