// What the serial functions of the POSIX Win32 layer work on: a serial device (PosixCommDevice.h)
// or a network port (PosixNetDevice.h). Both are objects of the handle table that move their
// overlapped transfers on whenever someone looks, with no driver thread.
#pragma once

#include "PosixObjects.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace korvan::posix {

enum TransferKind { kRead = 1, kWrite = 2, kWait = 3 };

inline constexpr ULONG_PTR kFailedFlag = 0xE0000000u;

inline ULONG_PTR EncodeStatus(DWORD error) {
    return error == 0 ? 0 : (kFailedFlag | error);
}
inline DWORD DecodeStatus(ULONG_PTR status) {
    return static_cast<DWORD>(status & 0xFFFFu);
}

struct Transfer {
    bool active = false;
    OVERLAPPED* overlapped = nullptr;
    std::shared_ptr<Event> event;
};

struct ReadTransfer : Transfer {
    BYTE* buffer = nullptr;
    DWORD count = 0;
    DWORD done = 0;
    bool returnAtOnce = false;      // interval MAXDWORD, both totals 0
    bool returnOnFirstByte = false; // interval and multiplier MAXDWORD, a finite constant
    DWORD interval = 0;             // 0: no limit between two bytes
    Clock::time_point deadline = Clock::time_point::max();
    Clock::time_point lastByte;
};

struct WriteTransfer : Transfer {
    const BYTE* buffer = nullptr;
    DWORD count = 0;
    DWORD done = 0;
    Clock::time_point deadline = Clock::time_point::max();
    Clock::time_point drainCheck;
};

struct WaitTransfer : Transfer {
    DWORD* eventMask = nullptr;
};

// now + ms, or no deadline when that is beyond what the clock counts (some 292 years): a
// MAXDWORD multiplier over a few thousand bytes gets there.
inline Clock::time_point DeadlineAfter(Clock::time_point now, std::uint64_t ms) {
    using Ms = std::chrono::milliseconds;
    const Ms::rep left = std::chrono::duration_cast<Ms>(Clock::time_point::max() - now).count();
    if (left <= 0 || ms >= static_cast<std::uint64_t>(left)) return Clock::time_point::max();
    return now + Ms(static_cast<Ms::rep>(ms));
}

// The Win32 timeout rules for a read of r.count bytes started at `now`.
inline void FitReadTimeouts(ReadTransfer& r, const COMMTIMEOUTS& t, Clock::time_point now) {
    r.returnAtOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                     t.ReadTotalTimeoutConstant == 0;
    r.returnOnFirstByte = t.ReadIntervalTimeout == MAXDWORD &&
                          t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                          t.ReadTotalTimeoutConstant != 0;
    r.interval = t.ReadIntervalTimeout == MAXDWORD ? 0 : t.ReadIntervalTimeout;
    r.deadline = Clock::time_point::max();
    if (r.returnOnFirstByte) {
        r.deadline = DeadlineAfter(now, t.ReadTotalTimeoutConstant);
    } else if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
        // Three DWORDs: (2^32 - 1) * 2^32 at most, within 64 bits.
        r.deadline = DeadlineAfter(now, std::uint64_t{t.ReadTotalTimeoutMultiplier} * r.count +
                                            t.ReadTotalTimeoutConstant);
    }
}

// The Win32 total timeout of a write of w.count bytes started at `now`.
inline void FitWriteTimeout(WriteTransfer& w, const COMMTIMEOUTS& t, Clock::time_point now) {
    w.deadline = Clock::time_point::max();
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
        w.deadline = DeadlineAfter(now, std::uint64_t{t.WriteTotalTimeoutMultiplier} * w.count +
                                            t.WriteTotalTimeoutConstant);
    }
}

// Ends a transfer: its overlapped block tells the result and its event is signalled.
inline void CompleteTransfer(Transfer& transfer, DWORD error, DWORD bytes) {
    if (!transfer.active) return;
    transfer.active = false;
    transfer.overlapped->InternalHigh = bytes;
    transfer.overlapped->Internal = EncodeStatus(error);
    transfer.overlapped = nullptr;
    std::shared_ptr<Event> event = std::move(transfer.event);
    event->Unbind();
    event->Set();
}

// The Win32 serial calls, each under the object's own lock.
class CommHandle : public Object, public IoSource {
  public:
    virtual BOOL Setup(DWORD inQueue, DWORD outQueue) = 0;
    virtual BOOL GetState(DCB* dcb) = 0;
    virtual BOOL SetState(const DCB* dcb) = 0;
    virtual BOOL GetTimeouts(COMMTIMEOUTS* timeouts) = 0;
    virtual BOOL SetTimeouts(const COMMTIMEOUTS* timeouts) = 0;
    virtual BOOL GetMask(DWORD* mask) = 0;
    virtual BOOL SetMask(DWORD mask) = 0;
    virtual BOOL StartWait(DWORD* eventMask, OVERLAPPED* overlapped) = 0;
    virtual BOOL StartRead(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) = 0;
    virtual BOOL StartWrite(const void* buffer, DWORD count, DWORD* written,
                            OVERLAPPED* overlapped) = 0;
    virtual BOOL Result(OVERLAPPED* overlapped, DWORD* transferred) = 0;
    virtual bool Pending(const OVERLAPPED* overlapped) = 0;
    virtual BOOL ClearError(DWORD* errors, COMSTAT* stat) = 0;
    virtual BOOL ModemStatus(DWORD* status) = 0;
    virtual BOOL Escape(DWORD function) = 0;
    virtual BOOL Purge(DWORD flags) = 0;
};

// Opens a network port by its name ("tcp://host:port" and the like, netport/Endpoint.h): takes
// a connection made ahead for it (PosixNetConnect.h) or connects within 3 s. INVALID_HANDLE_VALUE
// with the last error and its detail ("Соединение отклонено") on failure.
HANDLE OpenNetworkPort(const char* name);

} // namespace korvan::posix
