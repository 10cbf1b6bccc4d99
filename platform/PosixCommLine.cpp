// The serial device's line: what happened on it turned into line events, the modem lines and
// counters, the error state, escapes and purges.
#include "PosixCommDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace korvan::posix {

BOOL CommDevice::GetMask(DWORD* mask) {
    std::lock_guard lock(mutex_);
    if (!CommUsable()) return FALSE;
    if (!mask) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *mask = mask_;
    return TRUE;
}

BOOL CommDevice::SetMask(DWORD mask) {
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

BOOL CommDevice::ClearError(DWORD* errors, COMSTAT* stat) {
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

BOOL CommDevice::ModemStatus(DWORD* status) {
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

BOOL CommDevice::Escape(DWORD function) {
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

BOOL CommDevice::Purge(DWORD flags) {
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

BOOL CommDevice::SetLines(unsigned long request, int lines) {
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
void CommDevice::MarkDead(int error) {
    if (dead_) return;
    dead_ = true;
    deadError_ = LineFailure(error);
    Complete(read_, deadError_, read_.done);
    Complete(write_, deadError_, write_.done);
}

DWORD CommDevice::LineFailure(int error) {
    if (error != EIO || path_.empty()) return ERROR_DEVICE_NOT_CONNECTED;
    // Gone when its node has gone or now names another device, or when the kernel has hung our
    // descriptor up (a pulled adapter before udev removes the node, a closed far end): a hung-up
    // terminal refuses even the reading of its settings, which a present device answers without
    // its driver.
    struct stat node {};
    struct stat ours {};
    termios settings{};
    if (stat(path_.c_str(), &node) != 0 || fstat(fd_, &ours) != 0 || node.st_rdev != ours.st_rdev ||
        tcgetattr(fd_, &settings) != 0) {
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    return ERROR_GEN_FAILURE;
}

// Turns what happened on the line since the last look into line events.
void CommDevice::ServiceLine(Clock::time_point now) {
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
void CommDevice::WatchReceive(PollSet& set) {
    if (const auto look = rx_.NextLook()) {
        set.WakeBy(*look);
    } else {
        set.Add(epoll_, POLLIN); // also reports a hang-up
    }
}

void CommDevice::SampleCounters(DWORD& events) {
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

void CommDevice::SampleModemLines(DWORD& events) {
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

} // namespace korvan::posix
