// The poll cycle: one request per poll tick, the bytes that arrive, and the closing of the exchange
// by the response timer. All of it runs on the window thread; the window owns one engine and
// reaches the port, the timers and the controls for it through PollHost.
#pragma once

#include "ExchangeRecord.h"
#include "ModbusFrames.h"
#include "PollHost.h"
#include "RegisterImage.h"

#include <array>
#include <chrono>
#include <cstdint>

namespace korvan {

class PollEngine {
  public:
    static constexpr int kRxCapacity = 256;        // RxBuffer, and the temporary receive buffer
    static constexpr int kBaseReadCount = 96;      // registers 0 to 95
    static constexpr int kExtendedReadCount = 116; // also the start and blocking registers
    static constexpr int kLinkCreditFull = 3;
    static constexpr int kLayoutCountdownStart = 5;

    explicit PollEngine(PollHost& host) : host_(host) {}
    PollEngine(const PollEngine&) = delete;
    PollEngine& operator=(const PollEngine&) = delete;

    // Bytes received since the last request was sent; RxCount never exceeds its size.
    std::array<std::uint8_t, kRxCapacity> RxBuffer{};
    std::int32_t RxCount = 0;
    RegisterImage WantedImage{}; // what the operator wants the unit to hold
    RegisterImage ReadImage{};   // register data of the last applied read reply
    RegisterImage ShownImage{};  // confirmed: last shown, updated by acknowledged writes
    bool PendingWrite = false;
    std::int32_t PendingRegister = 0; // register to write; also the last one the comparison met
    std::int32_t LinkCredit = 0;      // 0: link lost
    std::int32_t ReadCount = kBaseReadCount;
    std::int32_t ReadLength = 2 * kBaseReadCount;
    std::int32_t LayoutCountdown = kLayoutCountdownStart;

    // The engine's start values, set while the window is created. The window lays out the panels
    // and shows the link-lost look in between; neither reads these values.
    void SetStartValues();

    void SEND_TIMTimer();          // poll tick
    void COMPORTRxChar(int Count); // Count bytes wait in the port's receive queue
    void TIMEOUTTimer();           // response timer: closes the exchange

    // Who hears of every closed exchange; null (the start value) when nobody listens.
    void SetExchangeObserver(ExchangeObserver* observer) { observer_ = observer; }

  private:
    // Whether a good read reply was applied or left for an operator's write.
    bool ApplyReadReply();
    void ApplyWriteReply();
    void FailExchange();
    void ReportExchange(const ReplyJudgement& judgement, bool linkLost);

    PollHost& host_;
    ExchangeObserver* observer_ = nullptr;
    // The request in flight, as sent: what arrives is judged against it.
    Request sent_{};
    std::chrono::system_clock::time_point sentAt_{};
    std::chrono::steady_clock::time_point writtenAt_{};
    std::chrono::steady_clock::time_point lastArrival_{};
    int arrived_ = 0; // bytes of this exchange, also those that did not fit RxBuffer
    // Until the controls have shown a unit once, they hold their start values, which say nothing
    // of what the operator wants.
    bool controlsShown_ = false;
};

} // namespace korvan
