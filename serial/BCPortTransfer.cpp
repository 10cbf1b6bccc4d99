// TBComPort's transfers and line controls: blocking overlapped writes and reads, the receive
// queue, the modem lines.
#include "BCPortFailures.h"

#include <atomic>
#include <cstring>

namespace korvan {

using namespace comport;

namespace {

constexpr int kWriteDirection = 0;
constexpr int kReadDirection = 1;

// A transfer failed: the device has gone or failed, or nothing more is known.
[[noreturn]] void RaiseTransferFailure(const char* message) {
    const DWORD error = GetLastError();
    const char* cause = DeviceCause(error);
    // A network port tells how its connection ended; a serial device says what became of it.
    const std::string detail = error == ERROR_DEVICE_NOT_CONNECTED ? LastErrorDetail() : "";
    Raise(message, !detail.empty() ? detail : (cause ? cause : ""));
}

} // namespace

// One overlapped transfer of Write or Read, on the port's event of its direction when that is
// free.
struct TBComPort::PortTransfer {
    PortTransfer(TBComPort& port, int direction) : Direction(direction) {
        std::memset(&Overlapped, 0, sizeof Overlapped);
        std::atomic<bool>& busy = port.FTransferBusy[direction];
        if (!busy.exchange(true)) {
            void*& kept = port.FTransferEvents[direction];
            if (!kept) kept = CreateEventA(nullptr, TRUE, TRUE, nullptr);
            if (kept) {
                Borrowed = &busy;
                Overlapped.hEvent = kept;
                return;
            }
            busy.store(false);
        }
        Overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    }
    ~PortTransfer() {
        if (Borrowed)
            Borrowed->store(false);
        else if (Overlapped.hEvent)
            CloseHandle(Overlapped.hEvent);
    }
    PortTransfer(const PortTransfer&) = delete;
    PortTransfer& operator=(const PortTransfer&) = delete;

    OVERLAPPED Overlapped;
    int Direction;
    DWORD Requested = 0;
    std::atomic<bool>* Borrowed = nullptr;
};
std::int32_t TBComPort::Write(const void* Buffer, std::int32_t Count) {
    PortTransfer transfer(*this, kWriteDirection);
    StartWrite(Buffer, Count, transfer);
    return WaitTransfer(transfer);
}

std::int32_t TBComPort::Read(void* Buffer, std::int32_t Count) {
    PortTransfer transfer(*this, kReadDirection);
    StartRead(Buffer, Count, transfer);
    return WaitTransfer(transfer);
}

void TBComPort::StartWrite(const void* Buffer, std::int32_t Count, PortTransfer& Transfer) {
    Transfer.Direction = kWriteDirection;
    Transfer.Requested = static_cast<DWORD>(Count);
    DWORD immediate = 0;
    if (Count < 0 ||
        (!WriteFile(FHandle, Buffer, static_cast<DWORD>(Count), &immediate, &Transfer.Overlapped) &&
         GetLastError() != ERROR_IO_PENDING)) {
        RaiseTransferFailure(kWriteFailed);
    }
}

void TBComPort::StartRead(void* Buffer, std::int32_t Count, PortTransfer& Transfer) {
    Transfer.Direction = kReadDirection;
    DWORD immediate = 0;
    if (Count < 0 ||
        (!ReadFile(FHandle, Buffer, static_cast<DWORD>(Count), &immediate, &Transfer.Overlapped) &&
         GetLastError() != ERROR_IO_PENDING)) {
        RaiseTransferFailure(kReadFailed);
    }
}

std::int32_t TBComPort::WaitTransfer(PortTransfer& Transfer) {
    DWORD count = 0;
    if (WaitForSingleObject(Transfer.Overlapped.hEvent, INFINITE) == WAIT_OBJECT_0 &&
        GetOverlappedResult(FHandle, &Transfer.Overlapped, &count, FALSE)) {
        // A write ends short only when its timeout ran out: the line is not sending.
        if (Transfer.Direction == kWriteDirection && count < Transfer.Requested) {
            Raise(kWriteFailed, kTxStalled);
        }
        return static_cast<std::int32_t>(count);
    }
    RaiseTransferFailure(Transfer.Direction == kWriteDirection ? kWriteFailed : kReadFailed);
}

std::int32_t TBComPort::InputCount() {
    DWORD errors = 0;
    COMSTAT stat;
    std::memset(&stat, 0, sizeof stat);
    if (!ClearCommError(FHandle, &errors, &stat)) Raise(kClearCommErrorFailed);
    return static_cast<std::int32_t>(stat.cbInQue);
}

TComSignals TBComPort::ModemSignals() {
    DWORD status = 0;
    if (!GetCommModemStatus(FHandle, &status)) Raise(kModemStatusFailed);
    TComSignals signals;
    if (status & MS_CTS_ON) signals.Include(csCTS);
    if (status & MS_DSR_ON) signals.Include(csDSR);
    if (status & MS_RING_ON) signals.Include(csRing);
    if (status & MS_RLSD_ON) signals.Include(csRLSD);
    return signals;
}

void TBComPort::SetDtrLine(bool State) {
    if (!EscapeCommFunction(FHandle, State ? SETDTR : CLRDTR)) Raise(kEscapeCommFailed);
}

void TBComPort::SetRtsLine(bool State) {
    if (!EscapeCommFunction(FHandle, State ? SETRTS : CLRRTS)) Raise(kEscapeCommFailed);
}

void TBComPort::AbortTransfers() {
    if (!PurgeComm(FHandle, PURGE_TXABORT | PURGE_RXABORT)) Raise(kPurgeCommFailed);
}

} // namespace korvan
