// The poll cycle: one request per poll tick, the bytes that arrive, and the closing of the exchange
// by the response timer. All of it runs on the window thread. The engine talks to its line (port,
// timers, address) and shows what it learns through its view; its state changes only through the
// operations below.
#pragma once

#include "ExchangeRecord.h"
#include "ModbusFrames.h"
#include "PollLine.h"
#include "PollView.h"
#include "RegisterImage.h"

#include <array>
#include <chrono>
#include <cstdint>

namespace korvan {

namespace test {
struct PollEngineProbe;
}

class PollEngine {
  public:
    static constexpr int kRxCapacity = 256;        // RxBuffer, and the temporary receive buffer
    static constexpr int kBaseReadCount = 96;      // registers 0 to 95
    static constexpr int kExtendedReadCount = 116; // also the start and blocking registers
    static constexpr int kLinkCreditFull = 3;
    static constexpr int kLayoutCountdownStart = 5;

    PollEngine(PollLine& line, PollView& view) : line_(line), view_(view) {}
    PollEngine(const PollEngine&) = delete;
    PollEngine& operator=(const PollEngine&) = delete;

    // Everything the engine carries from one exchange to the next.
    struct State {
        // Bytes received since the last request was sent; RxCount never exceeds its size.
        std::array<std::uint8_t, kRxCapacity> RxBuffer{};
        std::int32_t RxCount = 0;
        RegisterImage WantedImage{}; // ShownImage with the operator's open choices laid over it
        RegisterImage ReadImage{};   // register data of the last applied read reply
        RegisterImage ShownImage{};  // confirmed: last shown, updated by acknowledged writes
        bool PendingWrite = false;
        std::int32_t PendingRegister = 0; // register to write; also the last one compared
        std::int32_t LinkCredit = 0;      // 0: link lost
        std::int32_t ReadCount = kBaseReadCount;
        std::int32_t ReadLength = 2 * kBaseReadCount;
        std::int32_t LayoutCountdown = kLayoutCountdownStart;
    };

    const RegisterImage& WantedImage() const { return s_.WantedImage; }
    const RegisterImage& ReadImage() const { return s_.ReadImage; }
    const RegisterImage& ShownImage() const { return s_.ShownImage; }
    std::int32_t LinkCredit() const { return s_.LinkCredit; }
    bool LinkUp() const { return s_.LinkCredit > 0; }
    std::int32_t ReadCount() const { return s_.ReadCount; }
    std::int32_t ReadLength() const { return s_.ReadLength; }
    std::int32_t RxCount() const { return s_.RxCount; }
    const std::array<std::uint8_t, kRxCapacity>& RxBuffer() const { return s_.RxBuffer; }
    bool PendingWrite() const { return s_.PendingWrite; }
    std::int32_t PendingRegister() const { return s_.PendingRegister; }
    std::int32_t LayoutCountdown() const { return s_.LayoutCountdown; }

    // The engine's start values, set while the window is created. The window lays out the panels
    // and shows the link-lost look in between; neither reads these values.
    void SetStartValues();
    // The panels are fitted to the units again at the next read that succeeds within
    // kLayoutCountdownStart exchanges (the module search).
    void FitPanelsAtNextRead() { s_.LayoutCountdown = kLayoutCountdownStart; }

    // How long a choice lives. A setting stays wanted until an echo or a read shows the unit
    // holding it, the unit refuses it or leaves it unanswered for good, or the link's session
    // ends. A command ("Пуск", "Останов") and a write job's registers do not outlive the link
    // either: a lost link drops them.
    enum class ChoiceKind : std::uint8_t { Setting, Command, Job };

    // The operator chose `value` for the bits `mask` of `reg` (whole fields of one control). A
    // newer choice for the same bits replaces it. Status registers and register 95 take no
    // choice.
    void Choose(int reg, std::uint16_t mask, std::uint16_t value,
                ChoiceKind kind = ChoiceKind::Setting);
    // A service command for register 95: sent once at the next write, whatever the unit reports
    // there. A newer command not yet sent replaces an older one; a lost link drops it.
    void SendServiceCommand(std::uint8_t command);
    // The command waiting to be sent, -1 when none is.
    int ServiceCommandWaiting() const { return serviceCommand_; }
    // The link's session ends (the port failed or was opened again, another port or slave
    // address): every open choice and command is dropped and reported, the exchange in flight is
    // abandoned, the link counts as lost and the first exchange of the next session is a read.
    void EndSession(DropCause cause);
    // The write job's open choices are withdrawn: the controls show the unit's values again.
    void StopJob();
    // Counts the link losses and session ends since start: a write job started at one count is
    // stopped once it changes.
    std::uint64_t LinkBreaks() const { return linkBreaks_; }
    // Whether the controls have shown a unit since start or restart; before that they hold their
    // start values, which say nothing of what the operator wants.
    bool UnitShown() const { return controlsShown_; }
    // Whether the unit as last read has the start-source and blocking registers (96..115).
    bool MatrixRead() const { return s_.ReadLength > 2 * kBaseReadCount || wideHeld_; }
    // The bits of `reg` with an open choice; of them, those of a write job.
    std::uint16_t ChosenBits(int reg) const;
    std::uint16_t JobBits(int reg) const;

    void SEND_TIMTimer();          // poll tick
    void COMPORTRxChar(int Count); // Count bytes wait in the port's receive queue
    void TIMEOUTTimer();           // response timer: closes the exchange

    // Who hears of every closed exchange; null (the start value) when nobody listens.
    void SetExchangeObserver(ExchangeObserver* observer) { observer_ = observer; }

  private:
    static constexpr int kRefusalsBeforeGivingUp = 3;

    void ApplyReadReply();
    void ApplyWriteReply();
    bool FailExchange(); // whether an unanswered write was given up
    // The unit answered with an exception. Returns whether a refused write was given up.
    bool RefuseExchange(std::uint8_t code);
    void LoseCredit();
    void FindNextWrite(int length);
    void SettleChoices(int reg, std::uint16_t held); // drops the fields the unit holds
    void ForgetChoice(int reg);
    void ForgetBits(int reg, std::uint16_t mask);
    // Commands and job registers do not outlive the link.
    void DropWithLink();
    void ReportDropped(DroppedChoices dropped);
    // A write that got no answer: tried again after a read, given up after the third try.
    // Returns whether it was given up.
    bool WriteUnanswered();
    void ShowWanted(int reg); // WantedImage's register from ShownImage and the choice
    void ReportExchange(const ReplyJudgement& judgement, bool linkLost, bool abandoned);

    friend struct test::PollEngineProbe; // tests set up states the line alone reaches slowly

    PollLine& line_;
    PollView& view_;
    State s_;
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
    std::array<std::uint16_t, kRegisterCount> chosenMask_{};
    std::array<std::uint16_t, kRegisterCount> chosenValue_{};
    std::array<std::uint16_t, kRegisterCount> commandMask_{}; // of chosenMask_: commands
    std::array<std::uint16_t, kRegisterCount> jobMask_{};     // of chosenMask_: a write job
    std::uint64_t linkBreaks_ = 0;
    // The unit was read with the wide registers since the session began; a failed exchange
    // narrows the read, not what the unit has.
    bool wideHeld_ = false;
    int serviceCommand_ = -1; // register 95's command waiting to be sent, -1 for none
    // The last refused write and how often that same value was refused in a row.
    int refusedRegister_ = -1;
    std::uint16_t refusedValue_ = 0;
    int refusals_ = 0;
    // The same for writes that got no answer.
    int unansweredRegister_ = -1;
    std::uint16_t unansweredValue_ = 0;
    int unanswered_ = 0;
    // The unit refused the wide read until the link was lost: it is read with 96 registers.
    bool extendedRefused_ = false;
};

} // namespace korvan
