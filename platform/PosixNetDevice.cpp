#include "PosixNetDevice.h"

#include "Endpoint.h"
#include "PosixNetConnect.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace korvan::posix {

namespace {

constexpr char kClosedByServer[] = "соединение закрыто сервером";
constexpr char kConnectionBroken[] = "соединение с преобразователем потеряно";
constexpr char kHostStopped[] = "узел перестал отвечать";

} // namespace

NetDevice::NetDevice(int fd, std::unique_ptr<netport::LineCodec> codec)
    : fd_(fd), codec_(std::move(codec)) {
    dcb_.DCBlength = sizeof(DCB);
    dcb_.BaudRate = 9600;
    dcb_.fBinary = 1;
    dcb_.ByteSize = 8;
    std::lock_guard lock(mutex_);
    codec_->Opening(tx_);
    Send();
}

NetDevice::~NetDevice() {
    if (fd_ >= 0) close(fd_);
}

void NetDevice::Closing() {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    CompleteTransfer(read_, ERROR_OPERATION_ABORTED, read_.done);
    CompleteTransfer(write_, ERROR_OPERATION_ABORTED, write_.done);
    CompleteTransfer(wait_, ERROR_OPERATION_ABORTED, 0);
    close(fd_);
    fd_ = -1;
}

void NetDevice::Drive() {
    std::lock_guard lock(mutex_);
    if (!closed_) Progress(Clock::now());
}

void NetDevice::Watch(int kind, PollSet& set) {
    std::lock_guard lock(mutex_);
    // A dead socket would report its end for ever: it is not polled again.
    if (closed_ || dead_) return;
    const short out = tx_.empty() ? 0 : POLLOUT;
    switch (kind) {
    case kRead:
        if (!read_.active) return;
        set.Add(fd_, static_cast<short>(POLLIN | out));
        set.WakeBy(read_.deadline);
        break;
    case kWrite:
        if (!write_.active) return;
        set.Add(fd_, static_cast<short>(POLLIN | out));
        set.WakeBy(write_.deadline);
        break;
    case kWait:
        if (!wait_.active) return;
        set.Add(fd_, static_cast<short>(POLLIN | out));
        break;
    }
}

bool NetDevice::Usable() {
    return closed_ ? Fail(ERROR_INVALID_HANDLE, false) : true;
}

BOOL NetDevice::FailDead() {
    SetLastErrorDetail(deadCause_);
    return Fail(ERROR_DEVICE_NOT_CONNECTED, FALSE);
}

BOOL NetDevice::Setup(DWORD, DWORD) {
    std::lock_guard lock(mutex_);
    return Usable() ? TRUE : FALSE;
}

BOOL NetDevice::GetState(DCB* dcb) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    if (!dcb) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *dcb = dcb_;
    return TRUE;
}

BOOL NetDevice::SetState(const DCB* dcb) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    if (!dcb || dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 ||
        dcb->Parity > SPACEPARITY || dcb->StopBits > TWOSTOPBITS) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    dcb_ = *dcb;
    if (!dead_) {
        codec_->SetLine({dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits}, tx_);
        Send();
    }
    return TRUE;
}

BOOL NetDevice::GetTimeouts(COMMTIMEOUTS* timeouts) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    if (!timeouts) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *timeouts = timeouts_;
    return TRUE;
}

BOOL NetDevice::SetTimeouts(const COMMTIMEOUTS* timeouts) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    if (!timeouts) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    timeouts_ = *timeouts;
    return TRUE;
}

BOOL NetDevice::GetMask(DWORD* mask) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    if (!mask) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *mask = mask_;
    return TRUE;
}

BOOL NetDevice::SetMask(DWORD mask) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    mask_ = mask;
    history_ = 0;
    reported_ = rx_.size(); // changes are counted from now on
    if (wait_.active) {
        *wait_.eventMask = 0;
        CompleteTransfer(wait_, ERROR_SUCCESS, 0);
    }
    return TRUE;
}

BOOL NetDevice::StartWait(DWORD* eventMask, OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    auto event = overlapped ? HandleTable::Instance().FindAs<Event>(overlapped->hEvent) : nullptr;
    if (!event || !eventMask || wait_.active || mask_ == 0) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    event->Reset();
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    wait_.active = true;
    wait_.overlapped = overlapped;
    wait_.event = event;
    wait_.eventMask = eventMask;
    Progress(Clock::now());
    return Started(wait_, event, kWait, overlapped, nullptr);
}

BOOL NetDevice::StartRead(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    auto event = overlapped ? HandleTable::Instance().FindAs<Event>(overlapped->hEvent) : nullptr;
    if (!event || (!buffer && count != 0)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (read_.active) return Fail(ERROR_BUSY, FALSE);
    event->Reset();
    // What has arrived is still read after the connection ended.
    if (dead_ && rx_.empty()) return FailDead();
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

BOOL NetDevice::StartWrite(const void* buffer, DWORD count, DWORD* written,
                           OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    auto event = overlapped ? HandleTable::Instance().FindAs<Event>(overlapped->hEvent) : nullptr;
    if (!event || (!buffer && count != 0)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (write_.active) return Fail(ERROR_BUSY, FALSE);
    event->Reset();
    // A look first: a connection that ended since the last one fails this write, not the next.
    Receive();
    if (dead_) return FailDead();
    const auto now = Clock::now();
    WriteTransfer& w = write_;
    w.active = true;
    w.overlapped = overlapped;
    w.event = event;
    w.count = count;
    w.done = 0;
    FitWriteTimeout(w, timeouts_, now);
    codec_->Outgoing(static_cast<const BYTE*>(buffer), count, tx_);
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    Progress(now);
    return Started(write_, event, kWrite, overlapped, written);
}

BOOL NetDevice::Started(Transfer& transfer, const std::shared_ptr<Event>& event, int kind,
                        const OVERLAPPED* overlapped, DWORD* count) {
    if (transfer.active) {
        event->Bind(shared_from_this(), kind);
        return Fail(ERROR_IO_PENDING, FALSE);
    }
    if (count) *count = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != 0) {
        if (DecodeStatus(overlapped->Internal) == ERROR_DEVICE_NOT_CONNECTED) return FailDead();
        return Fail(DecodeStatus(overlapped->Internal), FALSE);
    }
    return TRUE;
}

BOOL NetDevice::Result(OVERLAPPED* overlapped, DWORD* transferred) {
    std::lock_guard lock(mutex_);
    if (overlapped->Internal == STATUS_PENDING && !closed_) Progress(Clock::now());
    if (overlapped->Internal == STATUS_PENDING) return Fail(ERROR_IO_INCOMPLETE, FALSE);
    if (transferred) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != 0) {
        if (DecodeStatus(overlapped->Internal) == ERROR_DEVICE_NOT_CONNECTED) return FailDead();
        return Fail(DecodeStatus(overlapped->Internal), FALSE);
    }
    return TRUE;
}

bool NetDevice::Pending(const OVERLAPPED* overlapped) {
    std::lock_guard lock(mutex_);
    return overlapped->Internal == STATUS_PENDING;
}

BOOL NetDevice::ClearError(DWORD* errors, COMSTAT* stat) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    Progress(Clock::now());
    if (errors) *errors = dead_ ? CE_IOE : 0;
    if (stat) {
        std::memset(stat, 0, sizeof *stat);
        stat->cbInQue = static_cast<DWORD>(rx_.size());
        stat->cbOutQue = static_cast<DWORD>(tx_.size());
    }
    return TRUE;
}

BOOL NetDevice::ModemStatus(DWORD* status) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    if (!status) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *status = 0; // the converter's modem lines are not followed
    return TRUE;
}

BOOL NetDevice::Escape(DWORD function) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    if (function < SETRTS || function > CLRDTR) return TRUE; // XON/XOFF: no flow control here
    if (dead_) return TRUE;
    codec_->SetModemLine(function == SETDTR || function == CLRDTR,
                         function == SETDTR || function == SETRTS, tx_);
    Send();
    return TRUE;
}

BOOL NetDevice::Purge(DWORD flags) {
    std::lock_guard lock(mutex_);
    if (!Usable()) return FALSE;
    if (flags & PURGE_TXABORT) CompleteTransfer(write_, ERROR_OPERATION_ABORTED, write_.done);
    if (flags & PURGE_RXABORT) CompleteTransfer(read_, ERROR_OPERATION_ABORTED, read_.done);
    if (flags & PURGE_RXCLEAR) {
        Receive(); // what the socket holds is in the queue too
        rx_.clear();
        reported_ = 0;
        history_ &= ~static_cast<DWORD>(EV_RXCHAR);
    }
    // The wire queue may hold the converter's negotiation: it is never cleared.
    return TRUE;
}

void NetDevice::Progress(Clock::time_point now) {
    Receive();
    Send();
    if (rx_.size() > reported_) {
        history_ |= EV_RXCHAR & mask_;
        reported_ = rx_.size();
    }
    if (read_.active) {
        ReadTransfer& r = read_;
        const std::size_t take = std::min<std::size_t>(r.count - r.done, rx_.size());
        if (take > 0) {
            std::copy_n(rx_.begin(), take, r.buffer + r.done);
            rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(take));
            reported_ -= std::min(reported_, take);
            r.done += static_cast<DWORD>(take);
            if (rx_.empty()) history_ &= ~static_cast<DWORD>(EV_RXCHAR);
        }
        if (r.done == r.count || r.returnAtOnce || (r.returnOnFirstByte && r.done != 0) ||
            now >= r.deadline) {
            CompleteTransfer(r, ERROR_SUCCESS, r.done);
        } else if (dead_) {
            CompleteTransfer(r, ERROR_DEVICE_NOT_CONNECTED, r.done);
        }
    }
    if (write_.active) {
        if (dead_) {
            CompleteTransfer(write_, ERROR_DEVICE_NOT_CONNECTED, 0);
        } else if (tx_.empty()) {
            history_ |= EV_TXEMPTY & mask_;
            CompleteTransfer(write_, ERROR_SUCCESS, write_.count);
        } else if (now >= write_.deadline) {
            CompleteTransfer(write_, ERROR_SUCCESS, 0);
        }
    }
    // A connection that ends between requests is told at once, as an I/O error, and only once:
    // a waiter that took it and waits again is not woken for ever.
    if (dead_ && !deathTold_ && (mask_ & EV_ERR)) {
        deathTold_ = true;
        history_ |= EV_ERR;
    }
    if (wait_.active && (history_ & mask_)) {
        *wait_.eventMask = history_ & mask_;
        history_ = 0;
        CompleteTransfer(wait_, ERROR_SUCCESS, 0);
    }
}

void NetDevice::Receive() {
    if (dead_ || closed_) return;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            codec_->Incoming(buffer, static_cast<std::size_t>(n), rx_, tx_);
            continue;
        }
        if (n == 0) {
            MarkDead(kClosedByServer);
        } else if (errno == ETIMEDOUT) {
            MarkDead(kHostStopped);
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            MarkDead(kConnectionBroken);
        } else if (errno == EINTR) {
            continue;
        }
        return;
    }
}

void NetDevice::Send() {
    while (!tx_.empty() && !dead_ && !closed_) {
        const ssize_t n = send(fd_, tx_.data(), tx_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            tx_.erase(tx_.begin(), tx_.begin() + n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                MarkDead(errno == ETIMEDOUT ? kHostStopped : kConnectionBroken);
            }
            return;
        }
    }
}

void NetDevice::MarkDead(const char* cause) {
    if (dead_) return;
    dead_ = true;
    deadCause_ = cause;
    tx_.clear();
}

HANDLE OpenNetworkPort(const char* name) {
    const auto endpoint = netport::ParseEndpointName(name);
    if (!endpoint) {
        SetLastErrorDetail(kHostNotFound);
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    int fd = TakeParkedConnection(name);
    if (fd < 0) {
        std::string cause;
        fd = ConnectTcp(endpoint->host, endpoint->port, kConnectLimit, cause);
        if (fd < 0) {
            SetLastErrorDetail(cause);
            return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        }
    }
    try {
        return HandleTable::Instance().Insert(
            std::make_shared<NetDevice>(fd, netport::MakeLineCodec(endpoint->mode)));
    } catch (const std::bad_alloc&) {
        close(fd);
        return Fail(ERROR_NOT_ENOUGH_MEMORY, INVALID_HANDLE_VALUE);
    }
}

} // namespace korvan::posix
