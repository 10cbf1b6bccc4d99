// TBComPort's properties, and the opening and closing of its device with them applied.
#include "BCPortFailures.h"
#include "WindowThread.h"

#include <cstring>

namespace korvan {

using namespace comport;

namespace {

// Bits per second of each TBaudRate, by ordinal.
constexpr DWORD kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                19200, 38400, 56000, 57600, 115200, 128000, 256000};

DWORD TimeoutValue(std::int32_t value) {
    return value < 0 ? MAXDWORD : static_cast<DWORD>(value);
}

} // namespace

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
    // A network port ("tcp://host:port") is named as it is; a serial port by its device path.
    const bool network = FPort.find("://") != std::string::npos;
    const std::string path = network ? FPort : std::string(kDevicePathPrefix) + FPort;
    FHandle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    if (FHandle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (network) Raise(kNoConnection, LastErrorDetail());
        if (error == ERROR_FILE_NOT_FOUND) Raise(kNoSuchPort);
        if (error == ERROR_ACCESS_DENIED) Raise(kPortBusy, LastErrorDetail());
        // The system refused us the device itself, not because someone else holds it.
        if (error == ERROR_PRIVILEGE_NOT_HELD) Raise(kNoPermission);
        // Nobody holds it, but a lock file of an ended program that we may not remove says so.
        if (error == ERROR_LOCK_VIOLATION) Raise(kStaleLock, LastErrorDetail());
        // The device is there but will not be configured, fails, or went while opening.
        if (error == ERROR_BAD_COMMAND) Raise(kLineRefused);
        if (const char* cause = DeviceCause(error)) Raise(cause);
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
    if (!SetCommState(FHandle, &dcb)) {
        const char* cause = DeviceCause(GetLastError());
        Raise(cause ? cause : kLineRefused);
    }
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

std::int32_t TBComPort::CharacterTimeMs() const {
    const std::int32_t bits =
        1 + (FByteSize + 5) + (FParity != paNone ? 1 : 0) + (FStopBits == sb1 ? 1 : 2);
    const auto rate = static_cast<std::int32_t>(kBaudRates[FBaudRate]);
    return (bits * 1000 + rate - 1) / rate;
}

void TBComPort::SetTimeouts(const TComTimeouts& Value) {
    FTimeouts.Assign(Value);
    ApplyTimeouts();
}

} // namespace korvan
