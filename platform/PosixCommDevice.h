// The serial device object of the POSIX Win32 layer, shared by its three files: PosixComm.cpp
// (opening, settings, the Win32 entry points), PosixCommTransfer.cpp (overlapped reads, writes and
// waits) and PosixCommLine.cpp (line events, modem lines, errors and purges).
//
// There is no driver thread. A transfer progresses whenever anyone looks at the device: the thread
// that waits for the transfer's event polls the descriptors the transfer needs (the terminal, an
// edge-triggered epoll descriptor that reports every arrival of input, the event's own
// descriptor) and moves the transfer on; any call on the device does the same.
#pragma once

#include "PosixCommHandle.h"
#include "PosixObjects.h"
#include "PosixPortClaim.h"
#include "RxPacer.h"

#include <memory>
#include <mutex>
#include <string>

#include <linux/serial.h>

namespace korvan::posix {

inline constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
inline constexpr DWORD kKnownEvents =
    EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | kModemEvents | EV_BREAK | EV_ERR | EV_RX80FULL;
inline constexpr DWORD kDefaultQueue = 4096;
// Modem lines have no interruptible change notification, so they are sampled while someone
// waits for their events.
inline constexpr auto kModemSamplePeriod = std::chrono::milliseconds(20);

// Start bit, data bits, parity bit, stop bits.
inline int BitsPerCharacter(const DCB& dcb) {
    return 1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0) +
           (dcb.StopBits == ONESTOPBIT ? 1 : 2);
}

// No modem lines or line counters on this device (a pseudo-terminal, for example).
inline bool NotSupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

inline DWORD OpenError(int error) {
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

class CommDevice final : public CommHandle, public std::enable_shared_from_this<CommDevice> {
  public:
    CommDevice(int fd, bool terminal, PortClaim claim, std::string path = {})
        : fd_(fd), terminal_(terminal), claim_(std::move(claim)), path_(std::move(path)) {
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

    // Makes the terminal ready; the Win32 error on failure: ERROR_BAD_COMMAND when the terminal
    // refuses the line settings.
    DWORD Prepare();
    void Closing() override;

    // ---- IoSource ----

    void Drive() override;
    void Watch(int kind, PollSet& set) override;

    // ---- Win32 calls, each under the device's lock ----

    BOOL Setup(DWORD inQueue, DWORD outQueue) override;
    BOOL GetState(DCB* dcb) override;
    BOOL SetState(const DCB* dcb) override;
    BOOL GetTimeouts(COMMTIMEOUTS* timeouts) override;
    BOOL SetTimeouts(const COMMTIMEOUTS* timeouts) override;
    BOOL GetMask(DWORD* mask) override;
    BOOL SetMask(DWORD mask) override;
    BOOL StartWait(DWORD* eventMask, OVERLAPPED* overlapped) override;
    BOOL StartRead(void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) override;
    BOOL StartWrite(const void* buffer, DWORD count, DWORD* written,
                    OVERLAPPED* overlapped) override;
    BOOL Result(OVERLAPPED* overlapped, DWORD* transferred) override;
    bool Pending(const OVERLAPPED* overlapped) override;
    BOOL ClearError(DWORD* errors, COMSTAT* stat) override;
    BOOL ModemStatus(DWORD* status) override;
    BOOL Escape(DWORD function) override;
    BOOL Purge(DWORD flags) override;

  private:
    bool CommUsable();
    static std::shared_ptr<Event> TransferEvent(OVERLAPPED* overlapped);

    // The return of a transfer's start: pending on its event, or finished at once (the
    // overlapped block and the event already tell so, as they would after a wait).
    BOOL Started(Transfer& transfer, const std::shared_ptr<Event>& event, int kind,
                 const OVERLAPPED* overlapped, DWORD* count);
    static BOOL PlainTransfer(ssize_t result, DWORD* count);
    void Complete(Transfer& transfer, DWORD error, DWORD bytes);
    BOOL SetLines(unsigned long request, int lines);

    // The line failed with error (an errno): transfers fail from now on, and the descriptors,
    // which would report the failure for ever, are not polled again. They fail with
    // ERROR_DEVICE_NOT_CONNECTED when the device has gone (adapter pulled out, other end of a
    // virtual pair closed), with ERROR_GEN_FAILURE when it is still there.
    void MarkDead(int error = EIO);
    DWORD LineFailure(int error);
    void Progress(Clock::time_point now);

    // Turns what happened on the line since the last look into line events.
    void ServiceLine(Clock::time_point now);

    // How the pacer wants the line watched (RxPacer.h).
    void WatchReceive(PollSet& set);
    void SampleCounters(DWORD& events);
    void SampleModemLines(DWORD& events);
    void ProgressRead(Clock::time_point now);
    void ProgressWrite(Clock::time_point now);
    void NoteReadMoved();
    void DrainReadMoved();
    void CloseDescriptors();
    std::mutex mutex_;
    int fd_;
    int epoll_ = -1;
    int readMoved_ = -1; // eventfd: a read's last-byte time has changed
    const bool terminal_;
    PortClaim claim_;
    const std::string path_; // as opened: whether the device is still there is looked up by it
    bool closed_ = false;
    bool dead_ = false;
    DWORD deadError_ = ERROR_DEVICE_NOT_CONNECTED;
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

} // namespace korvan::posix
