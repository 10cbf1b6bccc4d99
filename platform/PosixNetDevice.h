// A network port as a device of the POSIX Win32 layer: a connected TCP socket behind the same
// serial calls as a serial device, with the converter's codec (netport/LineCodec.h) between the
// line's bytes and the socket. There is no driver thread: whoever waits for a transfer's event
// polls the socket, and any call on the device moves its transfers on.
//
// What the station sees is a line like the serial one: received bytes wait in a receive queue
// and are reported as EV_RXCHAR when a look finds the queue grown, a write ends when its bytes
// are in the socket, the line settings go to the converter when it takes them. A connection
// closed by the server or broken (keepalive, unacknowledged data) makes the device dead, as an
// adapter pulled out does a serial device: transfers fail from then on, with the cause.
#pragma once

#include "LineCodec.h"
#include "PosixCommHandle.h"

#include <mutex>
#include <string>

namespace korvan::posix {

class NetDevice final : public CommHandle, public std::enable_shared_from_this<NetDevice> {
  public:
    NetDevice(int fd, std::unique_ptr<netport::LineCodec> codec);
    ~NetDevice() override;

    void Closing() override;
    void Drive() override;
    void Watch(int kind, PollSet& set) override;

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
    bool Usable();
    BOOL Started(Transfer& transfer, const std::shared_ptr<Event>& event, int kind,
                 const OVERLAPPED* overlapped, DWORD* count);
    void Progress(Clock::time_point now);
    void Receive();
    void Send();
    void MarkDead(const char* cause);
    // Fails with the cause of the connection's end, which the component adds to its message.
    BOOL FailDead();

    std::mutex mutex_;
    int fd_;
    std::unique_ptr<netport::LineCodec> codec_;
    bool closed_ = false;
    bool dead_ = false;
    bool deathTold_ = false; // the one EV_ERR that tells a waiter the connection has ended
    std::string deadCause_;
    netport::Bytes rx_;        // line bytes the station has not read
    netport::Bytes tx_;        // wire bytes not yet in the socket
    std::size_t reported_ = 0; // of rx_, what an event has told of
    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};
    DWORD mask_ = 0;
    DWORD history_ = 0;
    ReadTransfer read_;
    WriteTransfer write_;
    WaitTransfer wait_;
};

} // namespace korvan::posix
