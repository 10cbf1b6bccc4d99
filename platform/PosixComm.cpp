// Serial devices of the POSIX Win32 layer: CreateFileA on a terminal, its settings, overlapped
// ReadFile / WriteFile / WaitCommEvent and the Comm control functions.
//
// There is no driver thread. A transfer progresses whenever anyone looks at the device: the thread
// that waits for the transfer's event polls the descriptors the transfer needs (the terminal, an
// edge-triggered epoll descriptor that reports every arrival of input, the event's own
// descriptor) and moves the transfer on; any call on the device does the same.
#include "PosixObjects.h"
#include "PosixPortClaim.h"
#include "PosixTermios.h"
#include "RxPacer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace korvan::posix {

namespace {

enum TransferKind { kRead = 1, kWrite = 2, kWait = 3 };

constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr DWORD kKnownEvents =
    EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | kModemEvents | EV_BREAK | EV_ERR | EV_RX80FULL;
constexpr DWORD kDefaultQueue = 4096;
// Modem lines have no interruptible change notification, so they are sampled while someone
// waits for their events.
constexpr auto kModemSamplePeriod = std::chrono::milliseconds(20);
constexpr ULONG_PTR kFailedFlag = 0xE0000000u;

// Start bit, data bits, parity bit, stop bits.
int BitsPerCharacter(const DCB& dcb) {
    return 1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) +
           (dcb.StopBits == ONESTOPBIT ? 1 : 2);
}

// now + ms, or no deadline when that is beyond what the clock counts (some 292 years): a
// MAXDWORD multiplier over a few thousand bytes gets there.
Clock::time_point DeadlineAfter(Clock::time_point now, std::uint64_t ms) {
    using Ms = std::chrono::milliseconds;
    const Ms::rep left = std::chrono::duration_cast<Ms>(Clock::time_point::max() - now).count();
    if (left <= 0 || ms >= static_cast<std::uint64_t>(left)) return Clock::time_point::max();
    return now + Ms(static_cast<Ms::rep>(ms));
}

ULONG_PTR EncodeStatus(DWORD error) {
    return error == 0 ? 0 : (kFailedFlag | error);
}
DWORD DecodeStatus(ULONG_PTR status) {
    return static_cast<DWORD>(status & 0xFFFFu);
}

// No modem lines or line counters on this device (a pseudo-terminal, for example).
bool NotSupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

DWORD OpenError(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return ERROR_FILE_NOT_FOUND;
    case EBUSY:
    case EWOULDBLOCK:
        return ERROR_ACCESS_DENIED;
    case EACCES:
    case EPERM:
        return ERROR_PRIVILEGE_NOT_HELD;
    case EISDIR:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
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

class CommDevice final : public Object,
                         public IoSource,
                         public std::enable_shared_from_this<CommDevice> {
  public:
    CommDevice(int fd, bool terminal, PortClaim claim)
        : fd_(fd), terminal_(terminal), claim_(std::move(claim)) {
        dcb_.DCBlength = sizeof(DCB);
        dcb_.BaudRate = 9600;
        dcb_.fBinary = 1;
        dcb_.fDtrControl = DTR_CONTROL_ENABLE;
        dcb_.fRtsControl = RTS_CONTROL_ENABLE;
        dcb_.ByteSize = 8;
        dcb_.XonChar = 0x11;
        dcb_.XoffChar = 0x13;
        rx_.SetLine(dcb_.BaudRate, BitsPerCharacter(dcb_));
    }
    ~CommDevice() override { CloseDescriptors(); }

    // Makes the terminal ready; errno on failure.
    int Prepare() {
        if (!terminal_) return 0;
        if (int error = SetRawMode(fd_)) return error;
        // A freshly opened port starts with an empty input queue.
        tcflush(fd_, TCIFLUSH);
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0) return errno;
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLET;
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd_, &ev) < 0) return errno;
        readMoved_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (readMoved_ < 0) return errno;
        int lines = 0;
        hasModemLines_ = ioctl(fd_, TIOCMGET, &lines) == 0;
        modemLines_ = lines;
        hasCounters_ = ioctl(fd_, TIOCGICOUNT, &counters_) == 0;
        return 0;
    }

    void Closing() override {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        closed_ = true;
        Complete(read_, ERROR_OPERATION_ABORTED, read_.done);
        Complete(write_, ERROR_OPERATION_ABORTED, write_.done);
        Complete(wait_, ERROR_OPERATION_ABORTED, 0);
        CloseDescriptors();
    }

    // ---- IoSource ----

    void Drive() override {
        std::lock_guard lock(mutex_);
        if (!closed_) Progress(Clock::now());
    }

    void Watch(int kind, PollSet& set) override {
        std::lock_guard lock(mutex_);
        if (closed_ || dead_) return;
        switch (kind) {
        case kRead:
            if (!read_.active) return;
            set.Add(fd_, POLLIN);
            // Another thread may take bytes into this read while we sleep; it wakes us so that
            // the interval is counted from its last byte.
            DrainReadMoved();
            set.Add(readMoved_, POLLIN);
            set.WakeBy(read_.deadline);
            if (read_.interval != 0 && read_.done != 0) {
                set.WakeBy(read_.lastByte + std::chrono::milliseconds(read_.interval));
            }
            break;
        case kWrite:
            if (!write_.active) return;
            if (write_.done < write_.count) {
                set.Add(fd_, POLLOUT);
            } else {
                set.WakeBy(write_.drainCheck);
            }
            set.WakeBy(write_.deadline);
            break;
        case kWait:
            if (!wait_.active || !terminal_) return;
            WatchReceive(set);
            if (hasModemLines_ && (mask_ & kModemEvents)) set.WakeBy(nextModemSample_);
            break;
        }
    }

    // ---- Win32 calls, each under the device's lock ----

    BOOL Setup(DWORD inQueue, DWORD outQueue) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        inQueue_ = inQueue;
        outQueue_ = outQueue;
        return TRUE;
    }

    BOOL GetState(DCB* dcb) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        if (!dcb) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        *dcb = dcb_;
        return TRUE;
    }

    BOOL SetState(const DCB* dcb) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        if (!dcb || dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 ||
            dcb->Parity > SPACEPARITY || dcb->StopBits > TWOSTOPBITS ||
            (dcb->ByteSize == 5 && dcb->StopBits == TWOSTOPBITS) ||
            (dcb->ByteSize != 5 && dcb->StopBits == ONE5STOPBITS)) {
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        }
        if (int error =
                SetLineFormat(fd_, dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits)) {
            if (error == EIO) MarkDead();
            return Fail(error == EINVAL ? ERROR_INVALID_PARAMETER : ERROR_GEN_FAILURE, FALSE);
        }
        if (dcb->fDtrControl == DTR_CONTROL_ENABLE) SetLines(TIOCMBIS, TIOCM_DTR);
        if (dcb->fDtrControl == DTR_CONTROL_DISABLE) SetLines(TIOCMBIC, TIOCM_DTR);
        if (dcb->fRtsControl == RTS_CONTROL_ENABLE) SetLines(TIOCMBIS, TIOCM_RTS);
        if (dcb->fRtsControl == RTS_CONTROL_DISABLE) SetLines(TIOCMBIC, TIOCM_RTS);
        // Kept as given: a pseudo-terminal silently forces 8 data bits and no parity.
        dcb_ = *dcb;
        rx_.SetLine(dcb_.BaudRate, BitsPerCharacter(dcb_));
        return TRUE;
    }

    BOOL GetTimeouts(COMMTIMEOUTS* timeouts) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        if (!timeouts) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        *timeouts = timeouts_;
        return TRUE;
    }

    BOOL SetTimeouts(const COMMTIMEOUTS* timeouts) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        if (!timeouts || (timeouts->ReadIntervalTimeout == MAXDWORD &&
                          timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
                          timeouts->ReadTotalTimeoutConstant == MAXDWORD)) {
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        }
        timeouts_ = *timeouts;
        return TRUE;
    }

    BOOL GetMask(DWORD* mask) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        if (!mask) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        *mask = mask_;
        return TRUE;
    }

    BOOL SetMask(DWORD mask) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        if (mask & ~kKnownEvents) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        mask_ = mask;
        history_ = 0;
        if (!dead_) {
            // Changes are counted from now on.
            int lines = 0;
            if (hasModemLines_ && ioctl(fd_, TIOCMGET, &lines) == 0) modemLines_ = lines;
            if (hasCounters_) ioctl(fd_, TIOCGICOUNT, &counters_);
            int queued = 0;
            if (ioctl(fd_, FIONREAD, &queued) == 0) inCount_ = queued;
            nextModemSample_ = Clock::now() + kModemSamplePeriod;
        }
        if (wait_.active) {
            *wait_.eventMask = 0;
            Complete(wait_, ERROR_SUCCESS, 0);
        }
        return TRUE;
    }

    BOOL StartWait(DWORD* eventMask, OVERLAPPED* overlapped) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        auto event = TransferEvent(overlapped);
        if (!event || !eventMask) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        if (wait_.active || mask_ == 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        event->Reset();
        overlapped->Internal = STATUS_PENDING;
        overlapped->InternalHigh = 0;
        wait_.active = true;
        wait_.overlapped = overlapped;
        wait_.event = event;
        wait_.eventMask = eventMask;
        // Once the line is dead only SetCommMask or closing the handle end this wait.
        Progress(Clock::now());
        return Started(wait_, event, kWait, overlapped, nullptr);
    }

    BOOL StartRead(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) {
        std::lock_guard lock(mutex_);
        if (closed_) return Fail(ERROR_INVALID_HANDLE, FALSE);
        if (!terminal_) return PlainTransfer(::read(fd_, buffer, count), read);
        auto event = TransferEvent(overlapped);
        if (!event || (!buffer && count != 0)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        if (read_.active) return Fail(ERROR_BUSY, FALSE);
        event->Reset();
        if (dead_) return Fail(ERROR_DEVICE_NOT_CONNECTED, FALSE);
        const auto now = Clock::now();
        ReadTransfer& r = read_;
        r.active = true;
        r.overlapped = overlapped;
        r.event = event;
        r.buffer = static_cast<BYTE*>(buffer);
        r.count = count;
        r.done = 0;
        const COMMTIMEOUTS& t = timeouts_;
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
            r.deadline = DeadlineAfter(now, std::uint64_t{t.ReadTotalTimeoutMultiplier} * count +
                                                t.ReadTotalTimeoutConstant);
        }
        overlapped->Internal = STATUS_PENDING;
        overlapped->InternalHigh = 0;
        Progress(now);
        return Started(read_, event, kRead, overlapped, read);
    }

    BOOL StartWrite(const void* buffer, DWORD count, DWORD* written, OVERLAPPED* overlapped) {
        std::lock_guard lock(mutex_);
        if (closed_) return Fail(ERROR_INVALID_HANDLE, FALSE);
        if (!terminal_) return PlainTransfer(::write(fd_, buffer, count), written);
        auto event = TransferEvent(overlapped);
        if (!event || (!buffer && count != 0)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        if (write_.active) return Fail(ERROR_BUSY, FALSE);
        event->Reset();
        if (dead_) return Fail(ERROR_DEVICE_NOT_CONNECTED, FALSE);
        const auto now = Clock::now();
        WriteTransfer& w = write_;
        w.active = true;
        w.overlapped = overlapped;
        w.event = event;
        w.buffer = static_cast<const BYTE*>(buffer);
        w.count = count;
        w.done = 0;
        w.drainCheck = now;
        w.deadline = Clock::time_point::max();
        const COMMTIMEOUTS& t = timeouts_;
        if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
            w.deadline = DeadlineAfter(now, std::uint64_t{t.WriteTotalTimeoutMultiplier} * count +
                                                t.WriteTotalTimeoutConstant);
        }
        overlapped->Internal = STATUS_PENDING;
        overlapped->InternalHigh = 0;
        Progress(now);
        return Started(write_, event, kWrite, overlapped, written);
    }

    BOOL Result(OVERLAPPED* overlapped, DWORD* transferred) {
        std::lock_guard lock(mutex_);
        if (overlapped->Internal == STATUS_PENDING && !closed_) Progress(Clock::now());
        if (overlapped->Internal == STATUS_PENDING) return Fail(ERROR_IO_INCOMPLETE, FALSE);
        if (transferred) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
        if (overlapped->Internal != 0) return Fail(DecodeStatus(overlapped->Internal), FALSE);
        return TRUE;
    }

    bool Pending(const OVERLAPPED* overlapped) {
        std::lock_guard lock(mutex_);
        return overlapped->Internal == STATUS_PENDING;
    }

    BOOL ClearError(DWORD* errors, COMSTAT* stat) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        Progress(Clock::now());
        int queued = 0;
        int outgoing = 0;
        if (!dead_) {
            // The look just taken counted the queue; reads since have been subtracted.
            queued = static_cast<int>(inCount_);
            if (ioctl(fd_, TIOCOUTQ, &outgoing) < 0) outgoing = 0;
        }
        if (errors) *errors = errors_;
        errors_ = 0;
        if (stat) {
            std::memset(stat, 0, sizeof *stat);
            stat->cbInQue = static_cast<DWORD>(std::max(queued, 0));
            stat->cbOutQue = static_cast<DWORD>(std::max(outgoing, 0));
        }
        return TRUE;
    }

    BOOL ModemStatus(DWORD* status) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        if (!status) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        *status = 0;
        // Without modem lines every line reads off, as on a virtual null-modem driver.
        if (dead_ || !hasModemLines_) return TRUE;
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) < 0) {
            if (errno == EIO) MarkDead();
            return TRUE;
        }
        if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
        if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
        if (lines & TIOCM_RI) *status |= MS_RING_ON;
        if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
        return TRUE;
    }

    BOOL Escape(DWORD function) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        switch (function) {
        case SETRTS:
            return SetLines(TIOCMBIS, TIOCM_RTS);
        case CLRRTS:
            return SetLines(TIOCMBIC, TIOCM_RTS);
        case SETDTR:
            return SetLines(TIOCMBIS, TIOCM_DTR);
        case CLRDTR:
            return SetLines(TIOCMBIC, TIOCM_DTR);
        case SETXOFF:
            return dead_ || tcflow(fd_, TCOOFF) == 0 ? TRUE : FALSE;
        case SETXON:
            return dead_ || tcflow(fd_, TCOON) == 0 ? TRUE : FALSE;
        default:
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        }
    }

    BOOL Purge(DWORD flags) {
        std::lock_guard lock(mutex_);
        if (!CommUsable()) return FALSE;
        if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        }
        if (flags & PURGE_TXABORT) Complete(write_, ERROR_OPERATION_ABORTED, write_.done);
        if (flags & PURGE_RXABORT) Complete(read_, ERROR_OPERATION_ABORTED, read_.done);
        if (!dead_) {
            if (flags & PURGE_TXCLEAR) tcflush(fd_, TCOFLUSH);
            if (flags & PURGE_RXCLEAR) {
                tcflush(fd_, TCIFLUSH);
                inCount_ = 0;
                rx_.Forget();
            }
        }
        return TRUE;
    }

  private:
    bool CommUsable() {
        if (closed_) return Fail(ERROR_INVALID_HANDLE, false);
        if (!terminal_) return Fail(ERROR_INVALID_FUNCTION, false);
        return true;
    }

    static std::shared_ptr<Event> TransferEvent(OVERLAPPED* overlapped) {
        if (!overlapped) return nullptr;
        return HandleTable::Instance().FindAs<Event>(overlapped->hEvent);
    }

    // The return of a transfer's start: pending on its event, or finished at once (the
    // overlapped block and the event already tell so, as they would after a wait).
    BOOL Started(Transfer& transfer, const std::shared_ptr<Event>& event, int kind,
                 const OVERLAPPED* overlapped, DWORD* count) {
        if (transfer.active) {
            event->Bind(shared_from_this(), kind);
            return Fail(ERROR_IO_PENDING, FALSE);
        }
        if (count) *count = static_cast<DWORD>(overlapped->InternalHigh);
        if (overlapped->Internal != 0) return Fail(DecodeStatus(overlapped->Internal), FALSE);
        return TRUE;
    }

    static BOOL PlainTransfer(ssize_t result, DWORD* count) {
        if (result < 0) return Fail(ERROR_GEN_FAILURE, FALSE);
        if (count) *count = static_cast<DWORD>(result);
        return TRUE;
    }

    void Complete(Transfer& transfer, DWORD error, DWORD bytes) {
        if (!transfer.active) return;
        transfer.active = false;
        transfer.overlapped->InternalHigh = bytes;
        transfer.overlapped->Internal = EncodeStatus(error);
        transfer.overlapped = nullptr;
        std::shared_ptr<Event> event = std::move(transfer.event);
        event->Unbind();
        event->Set();
    }

    BOOL SetLines(unsigned long request, int lines) {
        if (dead_ || !hasModemLines_) return TRUE;
        if (ioctl(fd_, request, &lines) == 0) return TRUE;
        if (NotSupported(errno)) return TRUE;
        if (errno == EIO) {
            MarkDead();
            return TRUE;
        }
        return Fail(ERROR_GEN_FAILURE, FALSE);
    }

    // The line is gone (adapter pulled out, other end of a virtual pair closed): transfers fail
    // from now on, and the descriptors, which would report the hang-up for ever, are not polled
    // again.
    void MarkDead() {
        if (dead_) return;
        dead_ = true;
        Complete(read_, ERROR_DEVICE_NOT_CONNECTED, read_.done);
        Complete(write_, ERROR_DEVICE_NOT_CONNECTED, write_.done);
    }

    void Progress(Clock::time_point now) {
        ServiceLine(now);
        ProgressRead(now);
        ProgressWrite(now);
        if (wait_.active && (history_ & mask_)) {
            *wait_.eventMask = history_ & mask_;
            history_ = 0;
            Complete(wait_, ERROR_SUCCESS, 0);
        }
    }

    // Turns what happened on the line since the last look into line events.
    void ServiceLine(Clock::time_point now) {
        if (!terminal_ || dead_) return;
        // The epoll descriptor reports a hang-up as well (it is always watched for), so every
        // arrival costs one look, not two.
        DWORD events = 0;
        epoll_event ev{};
        // While bytes wait below the trigger level the queue's count tells of arrivals; the
        // epoll descriptor, not watched meanwhile, is read again once the line is idle. Without an
        // arrival the queue holds what the last look counted less what reads took since.
        bool mayHaveGrown = rx_.Pending();
        if (!rx_.Pending() && epoll_wait(epoll_, &ev, 1, 0) > 0) {
            if (ev.events & (EPOLLHUP | EPOLLERR)) {
                MarkDead();
                return;
            }
            mayHaveGrown = true;
        }
        int queued = static_cast<int>(inCount_);
        if (mayHaveGrown && ioctl(fd_, FIONREAD, &queued) < 0) {
            if (errno == EIO) {
                MarkDead();
                return;
            }
            queued = 0;
        }
        const std::int64_t threshold = std::int64_t{inQueue_} * 8 / 10;
        if (inQueue_ != 0 && inCount_ < threshold && queued >= threshold) events |= EV_RX80FULL;
        // Growth of the queue since the last look (reads subtracted) is what arrived: the epoll
        // descriptor's edge may stand for bytes a look has already counted and an event reported.
        if (queued > inCount_) rx_.NoteArrival(now);
        inCount_ = queued;
        if (rx_.Due(now, queued)) events |= EV_RXCHAR;
        if (hasCounters_) SampleCounters(events);
        if (hasModemLines_ && (mask_ & kModemEvents) && now >= nextModemSample_) {
            SampleModemLines(events);
            nextModemSample_ = now + kModemSamplePeriod;
        }
        history_ |= events & mask_;
    }

    // How the pacer wants the line watched (RxPacer.h).
    void WatchReceive(PollSet& set) {
        if (const auto look = rx_.NextLook()) {
            set.WakeBy(*look);
        } else {
            set.Add(epoll_, POLLIN); // also reports a hang-up
        }
    }

    void SampleCounters(DWORD& events) {
        serial_icounter_struct c{};
        if (ioctl(fd_, TIOCGICOUNT, &c) < 0) {
            if (errno == EIO) {
                MarkDead();
            } else {
                hasCounters_ = false;
            }
            return;
        }
        const serial_icounter_struct& old = counters_;
        if (c.frame != old.frame) errors_ |= CE_FRAME;
        if (c.overrun != old.overrun) errors_ |= CE_OVERRUN;
        if (c.parity != old.parity) errors_ |= CE_RXPARITY;
        if (c.buf_overrun != old.buf_overrun) errors_ |= CE_RXOVER;
        if (c.brk != old.brk) {
            errors_ |= CE_BREAK;
            events |= EV_BREAK;
        }
        if (c.frame != old.frame || c.overrun != old.overrun || c.parity != old.parity) {
            events |= EV_ERR;
        }
        // The counters also catch modem line pulses shorter than the sampling period.
        if (c.cts != old.cts) events |= EV_CTS;
        if (c.dsr != old.dsr) events |= EV_DSR;
        if (c.dcd != old.dcd) events |= EV_RLSD;
        if (c.rng != old.rng) events |= EV_RING;
        counters_ = c;
    }

    void SampleModemLines(DWORD& events) {
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) < 0) {
            if (errno == EIO) MarkDead();
            return;
        }
        const int changed = lines ^ modemLines_;
        if (changed & TIOCM_CTS) events |= EV_CTS;
        if (changed & TIOCM_DSR) events |= EV_DSR;
        if (changed & TIOCM_CD) events |= EV_RLSD;
        if ((changed & TIOCM_RI) && (lines & TIOCM_RI)) events |= EV_RING;
        modemLines_ = lines;
    }

    void ProgressRead(Clock::time_point now) {
        ReadTransfer& r = read_;
        if (!r.active) return;
        if (r.done < r.count) {
            int queued = 0;
            if (ioctl(fd_, FIONREAD, &queued) < 0) {
                if (errno == EIO) {
                    MarkDead();
                    return;
                }
                queued = 0;
            }
            if (queued > 0) {
                const std::size_t want =
                    std::min<std::size_t>(static_cast<std::size_t>(queued), r.count - r.done);
                const ssize_t n = ::read(fd_, r.buffer + r.done, want);
                if (n > 0) {
                    r.done += static_cast<DWORD>(n);
                    r.lastByte = now;
                    if (r.interval != 0) NoteReadMoved();
                    inCount_ = std::max<std::int64_t>(0, inCount_ - n);
                    if (n >= queued) {
                        // The reader took every byte: an event still to come for them would
                        // only wake the waiter to find nothing.
                        inCount_ = 0;
                        rx_.Forget();
                        history_ &= ~EV_RXCHAR;
                    }
                } else if (n == 0 || errno == EIO) {
                    // Nothing to read although the queue said there was: the line hung up.
                    MarkDead();
                    return;
                } else if (errno != EAGAIN && errno != EINTR) {
                    Complete(r, ERROR_GEN_FAILURE, r.done);
                    return;
                }
            }
        }
        const bool intervalOver = r.interval != 0 && r.done != 0 &&
                                  now - r.lastByte >= std::chrono::milliseconds(r.interval);
        if (r.done == r.count || r.returnAtOnce || (r.returnOnFirstByte && r.done != 0) ||
            now >= r.deadline || intervalOver) {
            Complete(r, ERROR_SUCCESS, r.done);
        }
    }

    void ProgressWrite(Clock::time_point now) {
        WriteTransfer& w = write_;
        if (!w.active) return;
        if (w.done < w.count) {
            const ssize_t n = ::write(fd_, w.buffer + w.done, w.count - w.done);
            if (n >= 0) {
                w.done += static_cast<DWORD>(n);
            } else if (errno == EIO) {
                MarkDead();
                return;
            } else if (errno != EAGAIN && errno != EINTR) {
                Complete(w, ERROR_GEN_FAILURE, w.done);
                return;
            }
        }
        if (w.done == w.count && now >= w.drainCheck) {
            // The transfer ends when the line has sent the last byte.
            int outgoing = 0;
            if (ioctl(fd_, TIOCOUTQ, &outgoing) < 0) {
                if (errno == EIO) {
                    MarkDead();
                    return;
                }
                outgoing = 0;
            }
            if (outgoing <= 0) {
                history_ |= EV_TXEMPTY & mask_;
                Complete(w, ERROR_SUCCESS, w.done);
                return;
            }
            const int bitsPerByte = BitsPerCharacter(dcb_);
            const auto rest = std::chrono::microseconds(
                std::int64_t{outgoing} * bitsPerByte * 1000000 / std::max<DWORD>(dcb_.BaudRate, 1));
            w.drainCheck = now + std::max<Clock::duration>(rest, std::chrono::milliseconds(1));
        }
        if (now >= w.deadline) Complete(w, ERROR_SUCCESS, w.done);
    }

    void NoteReadMoved() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(readMoved_, &one, sizeof one);
    }
    void DrainReadMoved() {
        std::uint64_t value = 0;
        [[maybe_unused]] ssize_t n = ::read(readMoved_, &value, sizeof value);
    }

    void CloseDescriptors() {
        if (fd_ >= 0) {
            ReleaseDevice(fd_, claim_);
            close(fd_);
            fd_ = -1;
        }
        if (epoll_ >= 0) {
            close(epoll_);
            epoll_ = -1;
        }
        if (readMoved_ >= 0) {
            close(readMoved_);
            readMoved_ = -1;
        }
    }

    std::mutex mutex_;
    int fd_;
    int epoll_ = -1;
    int readMoved_ = -1; // eventfd: a read's last-byte time has changed
    const bool terminal_;
    PortClaim claim_;
    bool closed_ = false;
    bool dead_ = false;

    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};
    DWORD inQueue_ = kDefaultQueue;
    DWORD outQueue_ = kDefaultQueue;
    DWORD mask_ = 0;
    DWORD history_ = 0;
    DWORD errors_ = 0;
    std::int64_t inCount_ = 0;
    RxPacer rx_;

    bool hasModemLines_ = false;
    int modemLines_ = 0;
    Clock::time_point nextModemSample_;
    bool hasCounters_ = false;
    serial_icounter_struct counters_{};

    ReadTransfer read_;
    WriteTransfer write_;
    WaitTransfer wait_;
};

std::shared_ptr<CommDevice> FindDevice(HANDLE handle) {
    auto device = HandleTable::Instance().FindAs<CommDevice>(handle);
    if (!device) SetLastError(ERROR_INVALID_HANDLE);
    return device;
}

// Runs a transfer that was opened without an overlapped block to its end.
template <class Start> BOOL RunToEnd(HANDLE file, DWORD* count, Start start) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) return FALSE;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD dummy = 0;
    BOOL ok = start(&overlapped, count ? count : &dummy);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        ok = GetOverlappedResult(file, &overlapped, count ? count : &dummy, TRUE);
    }
    const DWORD error = GetLastError();
    CloseHandle(event);
    SetLastError(error);
    return ok;
}

} // namespace

} // namespace korvan::posix

using namespace korvan::posix;

extern "C" {

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD, HANDLE) {
    SetLastErrorDetail({});
    if (!fileName) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (creationDisposition != OPEN_EXISTING)
        return Fail(ERROR_NOT_SUPPORTED, INVALID_HANDLE_VALUE);
    int flags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const bool reading = desiredAccess & GENERIC_READ;
    const bool writing = desiredAccess & GENERIC_WRITE;
    flags |= reading && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
    const int fd = open(fileName, flags);
    if (fd < 0) return Fail(OpenError(errno), INVALID_HANDLE_VALUE);

    // Share mode 0: nobody else may have the device while we hold it.
    PortClaim claim;
    if (shareMode == 0) {
        if (int error = ClaimDevice(fd, fileName, claim)) {
            close(fd);
            SetLastErrorDetail(claim.refusal);
            return Fail(error == ESTALE ? ERROR_LOCK_VIOLATION : OpenError(error),
                        INVALID_HANDLE_VALUE);
        }
    }
    std::shared_ptr<CommDevice> device;
    try {
        device = std::make_shared<CommDevice>(fd, isatty(fd) == 1, std::move(claim));
    } catch (const std::bad_alloc&) {
        ReleaseDevice(fd, claim);
        close(fd);
        return Fail(ERROR_NOT_ENOUGH_MEMORY, INVALID_HANDLE_VALUE);
    }
    if (int error = device->Prepare()) {
        device->Closing();
        return Fail(error == EIO ? ERROR_GEN_FAILURE : OpenError(error), INVALID_HANDLE_VALUE);
    }
    return HandleTable::Instance().Insert(std::move(device));
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    auto device = FindDevice(file);
    if (!device) return FALSE;
    if (!overlapped) {
        return RunToEnd(file, read, [&](OVERLAPPED* o, DWORD* n) {
            return device->StartRead(buffer, toRead, n, o);
        });
    }
    return device->StartRead(buffer, toRead, read, overlapped);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped) {
    auto device = FindDevice(file);
    if (!device) return FALSE;
    if (!overlapped) {
        return RunToEnd(file, written, [&](OVERLAPPED* o, DWORD* n) {
            return device->StartWrite(buffer, toWrite, n, o);
        });
    }
    return device->StartWrite(buffer, toWrite, written, overlapped);
}

BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    auto device = FindDevice(file);
    if (!device) return FALSE;
    if (!overlapped) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (wait && device->Pending(overlapped)) {
        if (WaitForSingleObject(overlapped->hEvent, INFINITE) == WAIT_FAILED) return FALSE;
    }
    return device->Result(overlapped, transferred);
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
    auto device = FindDevice(file);
    return device ? device->Setup(inQueue, outQueue) : FALSE;
}

BOOL GetCommState(HANDLE file, LPDCB dcb) {
    auto device = FindDevice(file);
    return device ? device->GetState(dcb) : FALSE;
}

BOOL SetCommState(HANDLE file, LPDCB dcb) {
    auto device = FindDevice(file);
    return device ? device->SetState(dcb) : FALSE;
}

BOOL GetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    auto device = FindDevice(file);
    return device ? device->GetTimeouts(timeouts) : FALSE;
}

BOOL SetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
    auto device = FindDevice(file);
    return device ? device->SetTimeouts(timeouts) : FALSE;
}

BOOL GetCommMask(HANDLE file, LPDWORD eventMask) {
    auto device = FindDevice(file);
    return device ? device->GetMask(eventMask) : FALSE;
}

BOOL SetCommMask(HANDLE file, DWORD eventMask) {
    auto device = FindDevice(file);
    return device ? device->SetMask(eventMask) : FALSE;
}

BOOL WaitCommEvent(HANDLE file, LPDWORD eventMask, LPOVERLAPPED overlapped) {
    auto device = FindDevice(file);
    if (!device) return FALSE;
    if (!overlapped) {
        return RunToEnd(file, nullptr,
                        [&](OVERLAPPED* o, DWORD*) { return device->StartWait(eventMask, o); });
    }
    return device->StartWait(eventMask, overlapped);
}

BOOL ClearCommError(HANDLE file, LPDWORD errors, LPCOMSTAT stat) {
    auto device = FindDevice(file);
    return device ? device->ClearError(errors, stat) : FALSE;
}

BOOL GetCommModemStatus(HANDLE file, LPDWORD modemStat) {
    auto device = FindDevice(file);
    return device ? device->ModemStatus(modemStat) : FALSE;
}

BOOL EscapeCommFunction(HANDLE file, DWORD function) {
    auto device = FindDevice(file);
    return device ? device->Escape(function) : FALSE;
}

BOOL PurgeComm(HANDLE file, DWORD flags) {
    auto device = FindDevice(file);
    return device ? device->Purge(flags) : FALSE;
}

} // extern "C"
