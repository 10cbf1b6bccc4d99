// TBComPort's line events: the event thread TComThread that waits for them on the device, and
// the handlers it reaches on the thread that SyncMethod selects.
#include "BCPortFailures.h"
#include "WindowThread.h"

#include <cstring>
#include <system_error>

namespace korvan {

using namespace comport;

namespace {

// The message of the notification window: one line event, its Win32 bit in wParam.
constexpr UINT CM_COMPORT = WM_USER + 1;

} // namespace

// ---- Line-event handlers ----------------------------------------------------------------------

void TBComPort::DoRxChar() {
    const std::int32_t count = InputCount();
    if (count > 0 && OnRxChar) OnRxChar(this, count);
}

void TBComPort::DoTxEmpty() {
    if (OnTxEmpty) OnTxEmpty(this);
}

void TBComPort::DoRing() {
    if (OnRing) OnRing(this);
}

void TBComPort::DoCTS() {
    if (OnCTSChange) OnCTSChange(this, ModemSignals().Contains(csCTS));
}

void TBComPort::DoDSR() {
    if (OnDSRChange) OnDSRChange(this, ModemSignals().Contains(csDSR));
}

void TBComPort::DoRLSD() {
    if (OnRLSDChange) OnRLSDChange(this, ModemSignals().Contains(csRLSD));
}

void TBComPort::DoRx80Full() {
    if (OnRx80Full) OnRx80Full(this);
}

void TBComPort::DoError() {
    DWORD errors = 0;
    COMSTAT stat;
    std::memset(&stat, 0, sizeof stat);
    if (!ClearCommError(FHandle, &errors, &stat)) Raise(kClearCommErrorFailed);
    TComErrors set;
    if (errors & CE_FRAME) set.Include(ceFrame);
    // Without parity on the line a parity error is noise, not news.
    if ((errors & CE_RXPARITY) && FParity != paNone) set.Include(ceRxParity);
    if (errors & CE_OVERRUN) set.Include(ceOverrun);
    if (errors & CE_BREAK) set.Include(ceBreak);
    if (errors & CE_IOE) set.Include(ceIO);
    if (errors & CE_MODE) set.Include(ceMode);
    if (errors & CE_RXOVER) set.Include(ceRxOver);
    if (errors & CE_TXFULL) set.Include(ceTxFull);
    if (!set.Empty() && OnError) OnError(this, set);
}

std::uint32_t TBComPort::HandledEvents() const {
    // Received characters and line errors always touch the device's error state.
    std::uint32_t acted = EV_ERR | EV_RXCHAR;
    if (OnTxEmpty) acted |= EV_TXEMPTY;
    if (OnRing) acted |= EV_RING;
    if (OnCTSChange) acted |= EV_CTS;
    if (OnDSRChange) acted |= EV_DSR;
    if (OnRLSDChange) acted |= EV_RLSD;
    if (OnRx80Full) acted |= EV_RX80FULL;
    return acted;
}

void TBComPort::DoEvent(std::uint32_t EventBit) {
    switch (EventBit) {
    case EV_ERR:
        DoError();
        break;
    case EV_RXCHAR:
        DoRxChar();
        break;
    case EV_TXEMPTY:
        DoTxEmpty();
        break;
    case EV_RING:
        DoRing();
        break;
    case EV_CTS:
        DoCTS();
        break;
    case EV_DSR:
        DoDSR();
        break;
    case EV_RLSD:
        DoRLSD();
        break;
    case EV_RX80FULL:
        DoRx80Full();
        break;
    default:
        break;
    }
}

std::intptr_t TBComPort::WindowMethod(unsigned int Message, std::uintptr_t WParam,
                                      std::intptr_t LParam) {
    if (Message != CM_COMPORT) {
        return DefWindowProcA(static_cast<HWND>(FNotifyWnd), Message, WParam, LParam);
    }
    // The event thread goes on with its next wait at once.
    if (InSendMessage()) ReplyMessage(0);
    if (FIsOpen) {
        try {
            DoEvent(static_cast<std::uint32_t>(WParam));
        } catch (...) {
            win::HandleException(std::current_exception());
        }
    }
    return 0;
}

// ---- TComThread -------------------------------------------------------------------------------

struct TComThread::Entry {
    static DWORD WINAPI Proc(LPVOID Parameter) {
        static_cast<TComThread*>(Parameter)->Execute();
        return 0;
    }
};

TComThread::TComThread(TBComPort* ComPort) : FComPort(ComPort) {
    FStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!FStopEvent) throw std::system_error(std::make_error_code(std::errc::not_enough_memory));
    DWORD id = 0;
    FThreadHandle = CreateThread(nullptr, 0, &Entry::Proc, this, CREATE_SUSPENDED, &id);
    if (!FThreadHandle) {
        CloseHandle(FStopEvent);
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    SetThreadPriority(FThreadHandle, FComPort->FThreadPriority);
    // An event nobody handles would only wake this thread for nothing (the transmit-queue-empty
    // event of every request, for one): the device is asked for the handled ones alone.
    SetCommMask(FComPort->FHandle, FComPort->FEventMask & FComPort->HandledEvents());
    ResumeThread(FThreadHandle);
}

TComThread::~TComThread() {
    Stop();
    win::WaitServing(FThreadHandle);
    CloseHandle(FThreadHandle);
    CloseHandle(FStopEvent);
}

void TComThread::Stop() {
    SetEvent(FStopEvent);
    Sleep(0);
}

void TComThread::Execute() {
    const HANDLE handle = FComPort->FHandle;
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    const HANDLE waitList[2] = {FStopEvent, overlapped.hEvent};
    DWORD events = 0; // written by the device when a wait completes
    try {
        DWORD r;
        do {
            WaitCommEvent(handle, &events, &overlapped);
            r = WaitForMultipleObjects(2, waitList, FALSE, INFINITE);
            DWORD count = 0;
            if (r == WAIT_OBJECT_0 + 1 && GetOverlappedResult(handle, &overlapped, &count, FALSE)) {
                FEvents = events;
                switch (FComPort->FSyncMethod) {
                case smThreadSync:
                    win::Synchronize([this] { DoEvents(); });
                    break;
                case smWindowSync:
                    for (DWORD bit : kDispatchOrder) {
                        if (FEvents & bit) {
                            SendMessageA(static_cast<HWND>(FComPort->FNotifyWnd), CM_COMPORT, bit,
                                         0);
                        }
                    }
                    break;
                case smNone:
                    DoEvents();
                    break;
                }
            }
        } while (r == WAIT_OBJECT_0 + 1);
        SetCommMask(handle, 0);
        PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
    } catch (...) {
        // A handler let an exception escape: the thread ends here, without the clean-up, and the
        // port reports no further events until it is closed and opened again.
    }
    CloseHandle(overlapped.hEvent);
}

void TComThread::DoEvents() {
    for (DWORD bit : kDispatchOrder) {
        if (FEvents & bit) FComPort->DoEvent(bit);
    }
}

} // namespace korvan
