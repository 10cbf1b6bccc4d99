// Serial devices of the POSIX Win32 layer: CreateFileA on a terminal, its settings, and the Win32
// entry points of the serial functions (the device itself: PosixCommDevice.h).
#include "PosixCommDevice.h"
#include "PosixTermios.h"

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

DWORD CommDevice::Prepare() {
    if (!terminal_) return 0;
    if (int error = SetRawMode(fd_)) return error == EIO ? LineFailure(error) : ERROR_BAD_COMMAND;
    // A freshly opened port starts with an empty input queue.
    tcflush(fd_, TCIFLUSH);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) return OpenError(errno);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd_, &ev) < 0) return OpenError(errno);
    readMoved_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (readMoved_ < 0) return OpenError(errno);
    int lines = 0;
    hasModemLines_ = ioctl(fd_, TIOCMGET, &lines) == 0;
    modemLines_ = lines;
    hasCounters_ = ioctl(fd_, TIOCGICOUNT, &counters_) == 0;
    return 0;
}

void CommDevice::Closing() {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
    Complete(read_, ERROR_OPERATION_ABORTED, read_.done);
    Complete(write_, ERROR_OPERATION_ABORTED, write_.done);
    Complete(wait_, ERROR_OPERATION_ABORTED, 0);
    CloseDescriptors();
}

BOOL CommDevice::Setup(DWORD inQueue, DWORD outQueue) {
    std::lock_guard lock(mutex_);
    if (!CommUsable()) return FALSE;
    inQueue_ = inQueue;
    outQueue_ = outQueue;
    return TRUE;
}

BOOL CommDevice::GetState(DCB* dcb) {
    std::lock_guard lock(mutex_);
    if (!CommUsable()) return FALSE;
    if (!dcb) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *dcb = dcb_;
    return TRUE;
}

BOOL CommDevice::SetState(const DCB* dcb) {
    std::lock_guard lock(mutex_);
    if (!CommUsable()) return FALSE;
    if (!dcb || dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 ||
        dcb->Parity > SPACEPARITY || dcb->StopBits > TWOSTOPBITS ||
        (dcb->ByteSize == 5 && dcb->StopBits == TWOSTOPBITS) ||
        (dcb->ByteSize != 5 && dcb->StopBits == ONE5STOPBITS)) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (int error = SetLineFormat(fd_, dcb->BaudRate, dcb->ByteSize, dcb->Parity, dcb->StopBits)) {
        if (error != EIO) return Fail(ERROR_INVALID_PARAMETER, FALSE); // refused
        MarkDead();
        return Fail(deadError_, FALSE);
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

BOOL CommDevice::GetTimeouts(COMMTIMEOUTS* timeouts) {
    std::lock_guard lock(mutex_);
    if (!CommUsable()) return FALSE;
    if (!timeouts) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *timeouts = timeouts_;
    return TRUE;
}

BOOL CommDevice::SetTimeouts(const COMMTIMEOUTS* timeouts) {
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

bool CommDevice::CommUsable() {
    if (closed_) return Fail(ERROR_INVALID_HANDLE, false);
    if (!terminal_) return Fail(ERROR_INVALID_FUNCTION, false);
    return true;
}

void CommDevice::CloseDescriptors() {
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

namespace {

std::shared_ptr<CommHandle> FindDevice(HANDLE handle) {
    auto device = HandleTable::Instance().FindAs<CommHandle>(handle);
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
    if (std::strstr(fileName, "://")) return OpenNetworkPort(fileName);
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
            SetLastErrorDetail(claim.refusal);
            return Fail(error == ESTALE ? ERROR_LOCK_VIOLATION : OpenError(error),
                        INVALID_HANDLE_VALUE);
        }
    }
    std::shared_ptr<CommDevice> device;
    try {
        device = std::make_shared<CommDevice>(fd, isatty(fd) == 1, std::move(claim), fileName);
    } catch (const std::bad_alloc&) {
        ReleaseDevice(fd, claim);
        close(fd);
        return Fail(ERROR_NOT_ENOUGH_MEMORY, INVALID_HANDLE_VALUE);
    }
    if (DWORD error = device->Prepare()) {
        device->Closing();
        return Fail(error, INVALID_HANDLE_VALUE);
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
