#include "BCPort.h"

#include "Win32Api.h"
#include "WindowThread.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <system_error>

namespace korvan {

namespace {

const char kNoSuchPort[] = "Попытка открыть несуществующий COM-порт";
const char kPortBusy[] = "Порт занят другой программой";
const char kNoPermission[] =
    "Нет прав доступа к порту: пользователь должен входить в группу dialout";
const char kStaleLock[] = "Порт заблокирован устаревшим файлом блокировки другого пользователя";
const char kDeviceGone[] = "устройство отключено";
const char kWriteFailed[] = "Ошибка записи в порт";
const char kReadFailed[] = "Ошибка чтения из порта";
const char kPurgeCommFailed[] = "Ошибка функции PurgeComm";
const char kSetCommStateFailed[] = "Ошибка функции SetCommState";
const char kSetCommTimeoutsFailed[] = "Ошибка функции SetCommTimeouts";
const char kSetupCommFailed[] = "Ошибка функции SetupComm";
const char kClearCommErrorFailed[] = "Ошибка функции ClearCommError";
const char kModemStatusFailed[] = "Ошибка функции GetCommModemStatus";
const char kEscapeCommFailed[] = "Ошибка функции EscapeCommFunction";
const char kPortIsOpen[] = "Нельзя менять свойство, пока порт открыт";
const char kRegistryFailed[] = "Ошибка обращения к системному реестру";

// Bits per second of each TBaudRate, by ordinal.
constexpr DWORD kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                19200, 38400, 56000, 57600, 115200, 128000, 256000};

// The line events the port asks for, in the order they are dispatched.
constexpr DWORD kDispatchOrder[] = {EV_ERR, EV_RXCHAR, EV_TXEMPTY, EV_RING,
                                    EV_CTS, EV_DSR,    EV_RLSD,    EV_RX80FULL};
constexpr DWORD kEventMask =
    EV_ERR | EV_RXCHAR | EV_TXEMPTY | EV_RING | EV_CTS | EV_DSR | EV_RLSD | EV_RX80FULL;
static_assert(kEventMask == 0x05BD);

// The message of the notification window: one line event, its Win32 bit in wParam.
constexpr UINT CM_COMPORT = WM_USER + 1;

constexpr int kWriteDirection = 0;
constexpr int kReadDirection = 1;

[[noreturn]] void Raise(const char* message, std::string detail = {}) {
    throw EComPort(message, std::move(detail));
}

// A transfer failed: the device has gone, or nothing more is known.
[[noreturn]] void RaiseTransferFailure(const char* message) {
    Raise(message, GetLastError() == ERROR_DEVICE_NOT_CONNECTED ? kDeviceGone : "");
}

DWORD TimeoutValue(std::int32_t value) {
    return value < 0 ? MAXDWORD : static_cast<DWORD>(value);
}

} // namespace

// Text order ignoring letter case: COM10 before COM2, ttyS10 before ttyS2.
bool PortNameLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    });
}

// ---- TComTimeouts -----------------------------------------------------------------------------

void TComTimeouts::SetValue(std::int32_t& Field, std::int32_t Value) {
    if (Field == Value) return;
    Field = Value;
    if (FComPort) FComPort->ApplyTimeouts();
}

void TComTimeouts::SetReadInterval(std::int32_t Value) {
    SetValue(FReadInterval, Value);
}
void TComTimeouts::SetReadTotalMultiplier(std::int32_t Value) {
    SetValue(FReadTotalMultiplier, Value);
}
void TComTimeouts::SetReadTotalConstant(std::int32_t Value) {
    SetValue(FReadTotalConstant, Value);
}
void TComTimeouts::SetWriteTotalMultiplier(std::int32_t Value) {
    SetValue(FWriteTotalMultiplier, Value);
}
void TComTimeouts::SetWriteTotalConstant(std::int32_t Value) {
    SetValue(FWriteTotalConstant, Value);
}

void TComTimeouts::Assign(const TComTimeouts& Source) {
    FReadInterval = Source.FReadInterval;
    FReadTotalMultiplier = Source.FReadTotalMultiplier;
    FReadTotalConstant = Source.FReadTotalConstant;
    FWriteTotalMultiplier = Source.FWriteTotalMultiplier;
    FWriteTotalConstant = Source.FWriteTotalConstant;
}

// ---- TBComPort --------------------------------------------------------------------------------

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
    std::atomic<bool>* Borrowed = nullptr;
};

TBComPort::TBComPort()
    : FHandle(INVALID_HANDLE_VALUE), FEventMask(kEventMask),
      FThreadPriority(THREAD_PRIORITY_NORMAL) {}

TBComPort::~TBComPort() {
    try {
        Close();
    } catch (...) {
        // Dropping the lines failed; the device goes away with the component all the same.
        delete FThread;
        FThread = nullptr;
        if (FNotifyWnd) win::DeallocateHWnd(static_cast<HWND>(FNotifyWnd));
        if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
    }
    for (void* event : FTransferEvents)
        if (event) CloseHandle(event);
}

bool TBComPort::Open() {
    if (FIsOpen) return true;
    const std::string path = std::string(kDevicePathPrefix) + FPort;
    FHandle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    if (FHandle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) Raise(kNoSuchPort);
        if (error == ERROR_ACCESS_DENIED) Raise(kPortBusy, LastErrorDetail());
        // The system refused us the device itself, not because someone else holds it.
        if (error == ERROR_PRIVILEGE_NOT_HELD) Raise(kNoPermission);
        // Nobody holds it, but a lock file of an ended program that we may not remove says so.
        if (error == ERROR_LOCK_VIOLATION) Raise(kStaleLock, LastErrorDetail());
        // Any other failure surfaces below, when the invalid handle refuses SetupComm.
    }
    FIsOpen = true;
    try {
        ApplyBufferSizes();
        ApplyLineSettings();
        ApplyTimeouts();
        if (FSyncMethod == smWindowSync) {
            FNotifyWnd = win::AllocateHWnd([this](UINT Message, WPARAM WParam, LPARAM LParam) {
                return static_cast<LRESULT>(WindowMethod(Message, WParam, LParam));
            });
        }
        FThread = new TComThread(this);
    } catch (...) {
        if (FNotifyWnd) {
            win::DeallocateHWnd(static_cast<HWND>(FNotifyWnd));
            FNotifyWnd = nullptr;
        }
        if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
        FHandle = INVALID_HANDLE_VALUE;
        FIsOpen = false;
        throw;
    }
    return FIsOpen;
}

bool TBComPort::Close() {
    if (!FIsOpen) return true;
    SetDtrLine(false);
    SetRtsLine(false);
    AbortTransfers();
    // Hand-offs that the event thread has already queued run here, while the port is open.
    delete FThread;
    FThread = nullptr;
    if (FSyncMethod == smWindowSync) {
        win::DeallocateHWnd(static_cast<HWND>(FNotifyWnd));
        FNotifyWnd = nullptr;
    }
    CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
    FIsOpen = false;
    return true;
}

void TBComPort::ApplyBufferSizes() {
    if (!FIsOpen) return;
    if (!SetupComm(FHandle, static_cast<DWORD>(FInBufSize), static_cast<DWORD>(FOutBufSize))) {
        Raise(kSetupCommFailed);
    }
}

void TBComPort::ApplyLineSettings() {
    if (!FIsOpen) return;
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = kBaudRates[FBaudRate];
    // Binary mode, DTR and RTS raised while open, no flow control of any kind.
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (FParity != paNone) dcb.fParity = 1;
    dcb.XonLim = 0;
    dcb.XoffLim = 0;
    dcb.ByteSize = static_cast<BYTE>(FByteSize + 5);
    dcb.Parity = static_cast<BYTE>(FParity);
    dcb.StopBits = static_cast<BYTE>(FStopBits);
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (!SetCommState(FHandle, &dcb)) Raise(kSetCommStateFailed);
}

void TBComPort::ApplyTimeouts() {
    if (!FIsOpen) return;
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = TimeoutValue(FTimeouts.ReadInterval());
    timeouts.ReadTotalTimeoutMultiplier = TimeoutValue(FTimeouts.ReadTotalMultiplier());
    timeouts.ReadTotalTimeoutConstant = TimeoutValue(FTimeouts.ReadTotalConstant());
    timeouts.WriteTotalTimeoutMultiplier = TimeoutValue(FTimeouts.WriteTotalMultiplier());
    timeouts.WriteTotalTimeoutConstant = TimeoutValue(FTimeouts.WriteTotalConstant());
    if (!SetCommTimeouts(FHandle, &timeouts)) Raise(kSetCommTimeoutsFailed);
}

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

void TBComPort::SetBaudRate(TBaudRate Value) {
    if (Value == FBaudRate) return;
    FBaudRate = Value;
    ApplyLineSettings();
}

void TBComPort::SetByteSize(TByteSize Value) {
    if (Value == FByteSize) return;
    FByteSize = Value;
    ApplyLineSettings();
}

void TBComPort::SetParity(TParity Value) {
    if (Value == FParity) return;
    FParity = Value;
    ApplyLineSettings();
}

void TBComPort::SetStopBits(TStopBits Value) {
    if (Value == FStopBits) return;
    FStopBits = Value;
    ApplyLineSettings();
}

void TBComPort::SetInBufSize(std::int32_t Value) {
    if (Value == FInBufSize) return;
    FInBufSize = Value;
    if (FInBufSize > 0 && FInBufSize % 2 == 1) --FInBufSize;
    ApplyBufferSizes();
}

void TBComPort::SetOutBufSize(std::int32_t Value) {
    if (Value == FOutBufSize) return;
    FOutBufSize = Value;
    if (FOutBufSize > 0 && FOutBufSize % 2 == 1) --FOutBufSize;
    ApplyBufferSizes();
}

void TBComPort::SetPort(const std::string& Value) {
    if (FIsOpen) Raise(kPortIsOpen);
    if (Value != FPort) FPort = Value;
}

void TBComPort::SetSyncMethod(TSyncMethod Value) {
    if (Value == FSyncMethod) return;
    if (FIsOpen) Raise(kPortIsOpen);
    FSyncMethod = Value;
}

void TBComPort::SetTimeouts(const TComTimeouts& Value) {
    FTimeouts.Assign(Value);
    ApplyTimeouts();
}

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

// ---- ListSerialPorts --------------------------------------------------------------------------

void ListSerialPorts(std::vector<std::string>& List) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        Raise(kRegistryFailed);
    }
    struct KeyCloser {
        HKEY key;
        ~KeyCloser() { RegCloseKey(key); }
    } closer{key};

    std::vector<std::string> ports;
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[256];
        DWORD nameLength = sizeof name;
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        const LONG result =
            RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) Raise(kRegistryFailed);
        // The device name, up to its terminating zero.
        const char* text = reinterpret_cast<const char*>(data);
        const char* end = text + std::min<DWORD>(dataLength, sizeof data);
        ports.emplace_back(text, std::find(text, end, '\0'));
    }
    std::stable_sort(ports.begin(), ports.end(), PortNameLess);
    List = std::move(ports);
}

} // namespace korvan
