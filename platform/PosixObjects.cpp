#include "PosixObjects.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <new>

#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace korvan::posix {

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;
thread_local std::string lastErrorDetail;

// Keeps handle values unique for the life of the process, so that a stale handle is refused
// instead of reaching a newer object.
constexpr ULONG_PTR kHandleStep = 4;

timespec ToTimespec(Clock::duration d) {
    if (d < Clock::duration::zero()) d = Clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

bool TakeAll(const std::vector<Event*>& events) {
    std::vector<Event*> order(events);
    std::sort(order.begin(), order.end());
    std::vector<std::unique_lock<std::mutex>> locks;
    locks.reserve(order.size());
    for (Event* e : order)
        locks.emplace_back(e->Mutex());
    for (Event* e : order) {
        if (!e->IsSetLocked()) return false;
    }
    for (Event* e : order) {
        if (!e->ManualReset()) e->ResetLocked();
    }
    return true;
}

} // namespace

// ---- Event ------------------------------------------------------------------------------------

Event::Event(bool manualReset, bool initialState) : manual_(manualReset) {
    fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0) throw std::bad_alloc();
    if (initialState) Set();
}

Event::~Event() {
    if (fd_ >= 0) close(fd_);
}

void Event::Set() {
    std::lock_guard lock(mutex_);
    if (set_) return;
    set_ = true;
    if (pollers_ > 0) SignalFdLocked();
}

void Event::SignalFdLocked() {
    if (fdSet_) return;
    fdSet_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

int Event::BeginPoll() {
    std::lock_guard lock(mutex_);
    ++pollers_;
    if (set_) SignalFdLocked(); // signalled before this poll began
    return fd_;
}

void Event::EndPoll() {
    std::lock_guard lock(mutex_);
    --pollers_;
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    ResetLocked();
}

void Event::ResetLocked() {
    if (!set_) return;
    set_ = false;
    if (!fdSet_) return;
    fdSet_ = false;
    std::uint64_t value = 0;
    [[maybe_unused]] ssize_t n = read(fd_, &value, sizeof value);
}

bool Event::IsSet() {
    std::lock_guard lock(mutex_);
    return set_;
}

bool Event::TryTake() {
    std::lock_guard lock(mutex_);
    if (!set_) return false;
    if (!manual_) ResetLocked();
    return true;
}

void Event::Bind(const std::shared_ptr<IoSource>& source, int kind) {
    std::lock_guard lock(mutex_);
    source_ = source;
    kind_ = kind;
}

void Event::Unbind() {
    std::lock_guard lock(mutex_);
    source_.reset();
    kind_ = 0;
}

std::shared_ptr<IoSource> Event::Source(int* kind) {
    std::lock_guard lock(mutex_);
    *kind = kind_;
    return source_.lock();
}

// ---- Waits ------------------------------------------------------------------------------------

// Scratch of the waits, one set per thread: a wait wakes for every byte of a reply, and must not
// allocate each time. A wait runs no caller code, so it never nests within its thread.
namespace {

struct WaitScratch {
    std::vector<std::pair<std::shared_ptr<IoSource>, int>> sources;
    PollSet set;
    std::vector<Event*> polled;
    std::vector<std::shared_ptr<Object>> held;
    std::vector<Event*> events;
};
thread_local WaitScratch scratch;

} // namespace

DWORD WaitForEvents(const std::vector<Event*>& events, bool all, DWORD milliseconds) {
    const auto deadline = milliseconds == INFINITE
                              ? Clock::time_point::max()
                              : Clock::now() + std::chrono::milliseconds(milliseconds);
    auto& sources = scratch.sources;
    PollSet& set = scratch.set;
    auto& polled = scratch.polled;
    for (;;) {
        sources.clear();
        for (Event* e : events) {
            int kind = 0;
            if (auto source = e->Source(&kind)) sources.emplace_back(std::move(source), kind);
        }
        for (auto& [source, kind] : sources)
            source->Drive();

        if (all) {
            if (TakeAll(events)) {
                sources.clear();
                return WAIT_OBJECT_0;
            }
        } else {
            for (std::size_t i = 0; i < events.size(); ++i) {
                if (events[i]->TryTake()) {
                    sources.clear();
                    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                }
            }
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            sources.clear();
            return WAIT_TIMEOUT;
        }

        set.fds.clear();
        set.wakeAt = Clock::time_point::max();
        polled.clear();
        for (Event* e : events) {
            if (all && e->IsSet()) continue;
            set.Add(e->BeginPoll(), POLLIN);
            polled.push_back(e);
        }
        for (auto& [source, kind] : sources)
            source->Watch(kind, set);
        set.WakeBy(deadline);
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (set.wakeAt != Clock::time_point::max()) {
            timeout = ToTimespec(set.wakeAt - now);
            timeoutPtr = &timeout;
        }
        const int polledResult = ppoll(set.fds.data(), set.fds.size(), timeoutPtr, nullptr);
        const int pollError = errno;
        for (Event* e : polled)
            e->EndPoll();
        if (polledResult < 0 && pollError != EINTR) {
            sources.clear();
            return Fail(ERROR_GEN_FAILURE, WAIT_FAILED);
        }
    }
}

// ---- Handle table -----------------------------------------------------------------------------

HandleTable& HandleTable::Instance() {
    static HandleTable* table = new HandleTable; // outlives every static destructor
    return *table;
}

HANDLE HandleTable::Insert(std::shared_ptr<Object> object) {
    std::lock_guard lock(mutex_);
    const ULONG_PTR value = next_;
    next_ += kHandleStep;
    objects_.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> HandleTable::Find(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(reinterpret_cast<ULONG_PTR>(handle));
    return it == objects_.end() ? nullptr : it->second;
}

std::shared_ptr<Object> HandleTable::Remove(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(reinterpret_cast<ULONG_PTR>(handle));
    if (it == objects_.end()) return nullptr;
    std::shared_ptr<Object> object = std::move(it->second);
    objects_.erase(it);
    return object;
}

// ---- Threads ----------------------------------------------------------------------------------

namespace {

constexpr DWORD kStillActive = 259;

struct ThreadState {
    LPTHREAD_START_ROUTINE routine = nullptr;
    LPVOID parameter = nullptr;
    std::shared_ptr<Event> resumed;
    std::shared_ptr<Event> exited;
    std::shared_ptr<std::atomic<DWORD>> exitCode;
};

class Thread : public Object {
  public:
    Thread(pthread_t id, std::shared_ptr<Event> resumed, std::shared_ptr<Event> exited,
           std::shared_ptr<std::atomic<DWORD>> exitCode)
        : id_(id), resumed_(std::move(resumed)), exited_(std::move(exited)),
          exitCode_(std::move(exitCode)) {}
    ~Thread() override {
        // A thread that has signalled its end is about to return: join it so that nothing of it
        // remains once its handle is closed.
        if (exited_->IsSet()) {
            pthread_join(id_, nullptr);
        } else {
            pthread_detach(id_);
        }
    }
    Event* Waitable() override { return exited_.get(); }
    DWORD Resume() {
        const bool wasSuspended = !resumed_->IsSet();
        resumed_->Set();
        return wasSuspended ? 1 : 0;
    }
    DWORD ExitCode() const { return exited_->IsSet() ? exitCode_->load() : kStillActive; }

  private:
    pthread_t id_;
    std::shared_ptr<Event> resumed_;
    std::shared_ptr<Event> exited_;
    std::shared_ptr<std::atomic<DWORD>> exitCode_;
};

// The kernel may defer a sleeping thread's wake-up by its timer slack, 50 us by default: a third
// of a character time at 57600 baud, and added to every quiet-line look of a receive wait.
constexpr unsigned long kThreadTimerSlackNs = 1000;

void* ThreadMain(void* parameter) {
    std::unique_ptr<ThreadState> state(static_cast<ThreadState*>(parameter));
    prctl(PR_SET_TIMERSLACK, kThreadTimerSlackNs);
    WaitForEvents({state->resumed.get()}, false, INFINITE);
    state->exitCode->store(state->routine(state->parameter));
    state->exited->Set();
    return nullptr;
}

} // namespace

std::string LastErrorDetail() {
    return lastErrorDetail;
}

void SetLastErrorDetail(std::string detail) {
    lastErrorDetail = std::move(detail);
}

} // namespace korvan::posix

using namespace korvan::posix;

extern "C" {

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD error) {
    lastError = error;
}

BOOL CloseHandle(HANDLE object) {
    std::shared_ptr<Object> removed = HandleTable::Instance().Remove(object);
    if (!removed) return Fail(ERROR_INVALID_HANDLE, FALSE);
    removed->Closing();
    return TRUE;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
    try {
        auto event = std::make_shared<Event>(manualReset != FALSE, initialState != FALSE);
        return HandleTable::Instance().Insert(std::move(event));
    } catch (const std::bad_alloc&) {
        return Fail<HANDLE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
}

BOOL SetEvent(HANDLE event) {
    auto e = HandleTable::Instance().FindAs<Event>(event);
    if (!e) return Fail(ERROR_INVALID_HANDLE, FALSE);
    e->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto e = HandleTable::Instance().FindAs<Event>(event);
    if (!e) return Fail(ERROR_INVALID_HANDLE, FALSE);
    e->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || objects == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    }
    auto& held = scratch.held; // keeps the objects alive during the wait
    auto& events = scratch.events;
    struct Release {
        std::vector<std::shared_ptr<Object>>& held;
        ~Release() { held.clear(); }
    } release{held};
    held.clear();
    events.clear();
    for (DWORD i = 0; i < count; ++i) {
        auto object = HandleTable::Instance().Find(objects[i]);
        Event* event = object ? object->Waitable() : nullptr;
        if (!event) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
        if (waitAll && std::find(events.begin(), events.end(), event) != events.end()) {
            return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
        }
        events.push_back(event);
        held.push_back(std::move(object));
    }
    return WaitForEvents(events, waitAll != FALSE, milliseconds);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, std::size_t stackSize,
                    LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId) {
    if (startAddress == nullptr) return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    std::unique_ptr<ThreadState> state;
    try {
        state = std::make_unique<ThreadState>();
        state->routine = startAddress;
        state->parameter = parameter;
        state->resumed = std::make_shared<Event>(true, (creationFlags & CREATE_SUSPENDED) == 0);
        state->exited = std::make_shared<Event>(true, false);
        state->exitCode = std::make_shared<std::atomic<DWORD>>(0);
    } catch (const std::bad_alloc&) {
        return Fail<HANDLE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize != 0) pthread_attr_setstacksize(&attributes, stackSize);
    auto resumed = state->resumed;
    auto exited = state->exited;
    auto exitCode = state->exitCode;
    pthread_t id;
    const int error = pthread_create(&id, &attributes, ThreadMain, state.get());
    pthread_attr_destroy(&attributes);
    if (error != 0) return Fail<HANDLE>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    state.release(); // owned by the new thread
    if (threadId) *threadId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(exited.get()));
    return HandleTable::Instance().Insert(
        std::make_shared<Thread>(id, std::move(resumed), std::move(exited), std::move(exitCode)));
}

DWORD ResumeThread(HANDLE thread) {
    auto t = HandleTable::Instance().FindAs<Thread>(thread);
    if (!t) return Fail(ERROR_INVALID_HANDLE, static_cast<DWORD>(-1));
    return t->Resume();
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    if (!HandleTable::Instance().FindAs<Thread>(thread)) return Fail(ERROR_INVALID_HANDLE, FALSE);
    // Every thread of the station runs at normal priority; that is all this layer offers.
    if (priority != THREAD_PRIORITY_NORMAL) return Fail(ERROR_NOT_SUPPORTED, FALSE);
    return TRUE;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    auto t = HandleTable::Instance().FindAs<Thread>(thread);
    if (!t || exitCode == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    *exitCode = t->ExitCode();
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) < 0 && errno == EINTR) {
    }
}

} // extern "C"
