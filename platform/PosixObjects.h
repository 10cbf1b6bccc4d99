// Kernel objects of the POSIX Win32 layer: the handle table, events, threads and the hooks by which
// a wait drives the overlapped transfer that will signal the event it waits for.
#pragma once

#include "PosixWin32.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <poll.h>

namespace korvan::posix {

using Clock = std::chrono::steady_clock;

class Event;

// What a wait has to watch besides the events themselves.
struct PollSet {
    std::vector<pollfd> fds;
    Clock::time_point wakeAt = Clock::time_point::max();

    void Add(int fd, short events) { fds.push_back(pollfd{fd, events, 0}); }
    void WakeBy(Clock::time_point t) {
        if (t < wakeAt) wakeAt = t;
    }
};

// An object that completes overlapped transfers into events. There is no driver thread: whoever
// waits for such an event makes the transfer progress.
class IoSource {
  public:
    virtual ~IoSource() = default;
    // Moves every pending transfer on as far as it can go without blocking.
    virtual void Drive() = 0;
    // Adds what the transfer of the given kind is waiting for.
    virtual void Watch(int kind, PollSet& set) = 0;
};

class Object {
  public:
    virtual ~Object() = default;
    // The event a wait on this object waits for; null when the object cannot be waited for.
    virtual Event* Waitable() { return nullptr; }
    // CloseHandle has removed the object from the handle table.
    virtual void Closing() {}
};

class Event : public Object {
  public:
    Event(bool manualReset, bool initialState);
    ~Event() override;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    Event* Waitable() override { return this; }

    void Set();
    void Reset();
    bool IsSet();
    // Takes the signal as a successful wait does: true when signalled, and an auto-reset event
    // is reset by it.
    bool TryTake();
    // The descriptor to poll while waiting for the signal, readable while the event is signalled;
    // every BeginPoll is followed by an EndPoll. Outside such a poll a signal touches no
    // descriptor, so setting and resetting an event nobody waits on costs no system call.
    int BeginPoll();
    void EndPoll();
    bool ManualReset() const { return manual_; }

    // The pending transfer that will signal this event.
    void Bind(const std::shared_ptr<IoSource>& source, int kind);
    void Unbind();
    std::shared_ptr<IoSource> Source(int* kind);

    std::mutex& Mutex() { return mutex_; }
    bool IsSetLocked() const { return set_; }
    void ResetLocked();

  private:
    std::mutex mutex_;
    const bool manual_;
    bool set_ = false;
    int fd_ = -1;        // eventfd, readable while the event is signalled and polled
    int pollers_ = 0;    // threads polling fd_ at this moment
    bool fdSet_ = false; // fd_ has been made readable
    void SignalFdLocked();
    std::weak_ptr<IoSource> source_;
    int kind_ = 0;
};

// Waits for the first of the events (or all of them) with the Win32 rules; an index into events,
// WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitForEvents(const std::vector<Event*>& events, bool all, DWORD milliseconds);

class HandleTable {
  public:
    static HandleTable& Instance();
    HANDLE Insert(std::shared_ptr<Object> object);
    std::shared_ptr<Object> Find(HANDLE handle);
    std::shared_ptr<Object> Remove(HANDLE handle);

    template <class T> std::shared_ptr<T> FindAs(HANDLE handle) {
        return std::dynamic_pointer_cast<T>(Find(handle));
    }

  private:
    std::mutex mutex_;
    std::unordered_map<ULONG_PTR, std::shared_ptr<Object>> objects_;
    ULONG_PTR next_ = 0x1000;
};

// A link directly in <root>/dev that ends at a pseudo-terminal which exists: its name, and the
// terminal's node as a path under root.
struct LinkedTerminal {
    std::string name;
    std::string node;
};
std::vector<LinkedTerminal> LinksToPseudoTerminals(const std::string& root);

// Sets what LastErrorDetail tells; CreateFileA clears it at every call.
void SetLastErrorDetail(std::string detail);

// Sets the last error and returns the value given, for one-line failure returns.
template <class T> T Fail(DWORD error, T result) {
    SetLastError(error);
    return result;
}

} // namespace korvan::posix
