// The serial device's overlapped transfers: ReadFile, WriteFile and WaitCommEvent, started under
// the device's lock and moved on whenever anyone looks at the device.
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
#include <termios.h>
#include <unistd.h>

namespace korvan::posix {

void CommDevice::Drive() {
    std::lock_guard lock(mutex_);
    if (!closed_) Progress(Clock::now());
}

void CommDevice::Watch(int kind, PollSet& set) {
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

BOOL CommDevice::StartWait(DWORD* eventMask, OVERLAPPED* overlapped) {
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

BOOL CommDevice::StartRead(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    if (closed_) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!terminal_) return PlainTransfer(::read(fd_, buffer, count), read);
    auto event = TransferEvent(overlapped);
    if (!event || (!buffer && count != 0)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (read_.active) return Fail(ERROR_BUSY, FALSE);
    event->Reset();
    if (dead_) return Fail(deadError_, FALSE);
    const auto now = Clock::now();
    ReadTransfer& r = read_;
    r.active = true;
    r.overlapped = overlapped;
    r.event = event;
    r.buffer = static_cast<BYTE*>(buffer);
    r.count = count;
    r.done = 0;
    FitReadTimeouts(r, timeouts_, now);
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    Progress(now);
    return Started(read_, event, kRead, overlapped, read);
}

BOOL CommDevice::StartWrite(const void* buffer, DWORD count, DWORD* written,
                            OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    if (closed_) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!terminal_) return PlainTransfer(::write(fd_, buffer, count), written);
    auto event = TransferEvent(overlapped);
    if (!event || (!buffer && count != 0)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (write_.active) return Fail(ERROR_BUSY, FALSE);
    event->Reset();
    if (dead_) return Fail(deadError_, FALSE);
    const auto now = Clock::now();
    WriteTransfer& w = write_;
    w.active = true;
    w.overlapped = overlapped;
    w.event = event;
    w.buffer = static_cast<const BYTE*>(buffer);
    w.count = count;
    w.done = 0;
    w.drainCheck = now;
    FitWriteTimeout(w, timeouts_, now);
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    Progress(now);
    return Started(write_, event, kWrite, overlapped, written);
}

BOOL CommDevice::Result(OVERLAPPED* overlapped, DWORD* transferred) {
    std::lock_guard lock(mutex_);
    if (overlapped->Internal == STATUS_PENDING && !closed_) Progress(Clock::now());
    if (overlapped->Internal == STATUS_PENDING) return Fail(ERROR_IO_INCOMPLETE, FALSE);
    if (transferred) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != 0) return Fail(DecodeStatus(overlapped->Internal), FALSE);
    return TRUE;
}

bool CommDevice::Pending(const OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    return overlapped->Internal == STATUS_PENDING;
}

std::shared_ptr<Event> CommDevice::TransferEvent(OVERLAPPED* overlapped) {
    if (!overlapped) return nullptr;
    return HandleTable::Instance().FindAs<Event>(overlapped->hEvent);
}

// The return of a transfer's start: pending on its event, or finished at once (the
// overlapped block and the event already tell so, as they would after a wait).
BOOL CommDevice::Started(Transfer& transfer, const std::shared_ptr<Event>& event, int kind,
                         const OVERLAPPED* overlapped, DWORD* count) {
    if (transfer.active) {
        event->Bind(shared_from_this(), kind);
        return Fail(ERROR_IO_PENDING, FALSE);
    }
    if (count) *count = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != 0) return Fail(DecodeStatus(overlapped->Internal), FALSE);
    return TRUE;
}

BOOL CommDevice::PlainTransfer(ssize_t result, DWORD* count) {
    if (result < 0) return Fail(ERROR_GEN_FAILURE, FALSE);
    if (count) *count = static_cast<DWORD>(result);
    return TRUE;
}

void CommDevice::Complete(Transfer& transfer, DWORD error, DWORD bytes) {
    CompleteTransfer(transfer, error, bytes);
}

void CommDevice::Progress(Clock::time_point now) {
    ServiceLine(now);
    ProgressRead(now);
    ProgressWrite(now);
    if (wait_.active && (history_ & mask_)) {
        *wait_.eventMask = history_ & mask_;
        history_ = 0;
        Complete(wait_, ERROR_SUCCESS, 0);
    }
}

void CommDevice::ProgressRead(Clock::time_point now) {
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
            } else if (n == 0 || errno == EIO || errno == ENODEV || errno == ENXIO) {
                // Nothing to read although the queue said there was: the line hung up.
                MarkDead(n == 0 ? EIO : errno);
                return;
            } else if (errno != EAGAIN && errno != EINTR) {
                Complete(r, ERROR_GEN_FAILURE, r.done);
                return;
            }
        }
    }
    const bool intervalOver =
        r.interval != 0 && r.done != 0 && now - r.lastByte >= std::chrono::milliseconds(r.interval);
    if (r.done == r.count || r.returnAtOnce || (r.returnOnFirstByte && r.done != 0) ||
        now >= r.deadline || intervalOver) {
        Complete(r, ERROR_SUCCESS, r.done);
    }
}

void CommDevice::ProgressWrite(Clock::time_point now) {
    WriteTransfer& w = write_;
    if (!w.active) return;
    if (w.done < w.count) {
        const ssize_t n = ::write(fd_, w.buffer + w.done, w.count - w.done);
        if (n >= 0) {
            w.done += static_cast<DWORD>(n);
        } else if (errno == EIO || errno == ENODEV || errno == ENXIO) {
            MarkDead(errno);
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
        const auto rest = std::chrono::microseconds(std::int64_t{outgoing} * bitsPerByte * 1000000 /
                                                    std::max<DWORD>(dcb_.BaudRate, 1));
        w.drainCheck = now + std::max<Clock::duration>(rest, std::chrono::milliseconds(1));
    }
    if (now >= w.deadline) {
        // Timed out: done, as Win32 has it, with the bytes that have left. Those still queued
        // are dropped: sent later they would only garble the next frame, and a close would wait
        // for them.
        int outgoing = 0;
        if (ioctl(fd_, TIOCOUTQ, &outgoing) < 0) outgoing = 0;
        tcflush(fd_, TCOFLUSH);
        Complete(w, ERROR_SUCCESS, w.done - std::min<DWORD>(w.done, std::max(outgoing, 0)));
    }
}

void CommDevice::NoteReadMoved() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(readMoved_, &one, sizeof one);
}

void CommDevice::DrainReadMoved() {
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t n = ::read(readMoved_, &value, sizeof value);
}

} // namespace korvan::posix
