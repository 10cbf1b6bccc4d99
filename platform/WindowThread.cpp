#include "WindowThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

namespace korvan::win {

namespace {

// One hand-off or one message sent from another thread, waiting to run on the window thread.
struct Item {
    bool isMessage = false;
    std::function<void()> proc;
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;

    bool finished = false; // the hand-off has run, or the message has been replied to
    LRESULT result = 0;
    std::exception_ptr error;
};

struct State {
    std::mutex mutex;
    std::condition_variable finished;
    std::deque<std::shared_ptr<Item>> queue;
    // Manual reset, signalled while the queue is not empty. Only a WaitServing watches it, so it is
    // signalled only while one runs: an ordinary hand-off costs no signal.
    HANDLE wake = nullptr;
    int servingWaits = 0;
    std::map<ULONG_PTR, std::shared_ptr<WndMethod>> windows;
    ULONG_PTR nextWindow = 0x10;
    std::function<void(std::exception_ptr)> report;
};

State& TheState() {
    static State* state = new State; // outlives every static destructor
    return *state;
}

std::atomic<WindowThreadHost*> theHost{nullptr};

// The message the window thread is handling for a sender on another thread.
thread_local std::shared_ptr<Item> currentSent;

HANDLE WakeEvent(State& s) {
    // Called with s.mutex held.
    if (!s.wake) s.wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return s.wake;
}

bool HostServes() {
    WindowThreadHost* host = theHost.load();
    return host && host->Available();
}

// Queues the item, tells the window thread and waits until it has finished there.
void Post(const std::shared_ptr<Item>& item) {
    State& s = TheState();
    {
        std::lock_guard lock(s.mutex);
        s.queue.push_back(item);
        if (s.servingWaits > 0) SetEvent(WakeEvent(s));
    }
    if (WindowThreadHost* host = theHost.load()) host->PostServe();
    std::unique_lock lock(s.mutex);
    s.finished.wait(lock, [&] { return item->finished; });
}

void Finish(Item& item, LRESULT result) {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    if (item.finished) return;
    item.finished = true;
    item.result = result;
    s.finished.notify_all();
}

std::shared_ptr<WndMethod> FindWindow(HWND window) {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    auto it = s.windows.find(reinterpret_cast<ULONG_PTR>(window));
    return it == s.windows.end() ? nullptr : it->second;
}

void Deliver(const std::shared_ptr<Item>& item) {
    LRESULT result = 0;
    if (auto method = FindWindow(item->window)) {
        std::shared_ptr<Item> outer = std::move(currentSent);
        currentSent = item;
        try {
            result = (*method)(item->message, item->wParam, item->lParam);
        } catch (...) {
            HandleException(std::current_exception());
        }
        currentSent = std::move(outer);
    }
    Finish(*item, result);
}

} // namespace

bool IsWindowThread() {
    WindowThreadHost* host = theHost.load();
    return host && host->IsWindowThread();
}

void Synchronize(const std::function<void()>& proc) {
    if (!HostServes() || IsWindowThread()) {
        proc();
        return;
    }
    auto item = std::make_shared<Item>();
    item->proc = proc;
    Post(item);
    if (item->error) std::rethrow_exception(item->error);
}

void ServeWindowThread() {
    State& s = TheState();
    for (;;) {
        std::shared_ptr<Item> item;
        {
            std::lock_guard lock(s.mutex);
            if (s.queue.empty()) {
                if (s.wake) ResetEvent(s.wake);
                return;
            }
            item = std::move(s.queue.front());
            s.queue.pop_front();
        }
        if (item->isMessage) {
            Deliver(item);
            continue;
        }
        try {
            item->proc();
        } catch (...) {
            item->error = std::current_exception();
        }
        Finish(*item, 0);
    }
}

DWORD WaitServing(HANDLE object) {
    if (!IsWindowThread()) return WaitForSingleObject(object, INFINITE);
    State& s = TheState();
    HANDLE wake;
    {
        std::lock_guard lock(s.mutex);
        wake = WakeEvent(s);
        ++s.servingWaits;
        if (!s.queue.empty()) SetEvent(wake); // queued before this wait began
    }
    const HANDLE objects[2] = {object, wake};
    DWORD r;
    while ((r = WaitForMultipleObjects(2, objects, FALSE, INFINITE)) == WAIT_OBJECT_0 + 1)
        ServeWindowThread();
    std::lock_guard lock(s.mutex);
    --s.servingWaits;
    return r;
}

HWND AllocateHWnd(WndMethod method) {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    const ULONG_PTR id = s.nextWindow;
    s.nextWindow += 0x10;
    s.windows.emplace(id, std::make_shared<WndMethod>(std::move(method)));
    return reinterpret_cast<HWND>(id);
}

void DeallocateHWnd(HWND window) {
    std::shared_ptr<WndMethod> method; // released outside the lock
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    auto it = s.windows.find(reinterpret_cast<ULONG_PTR>(window));
    if (it == s.windows.end()) return;
    method = std::move(it->second);
    s.windows.erase(it);
}

void HandleException(std::exception_ptr error) {
    std::function<void(std::exception_ptr)> report;
    {
        State& s = TheState();
        std::lock_guard lock(s.mutex);
        report = s.report;
    }
    if (report) {
        report(error);
    } else if (WindowThreadHost* host = theHost.load()) {
        host->ReportException(error);
    }
}

void SetExceptionReport(std::function<void(std::exception_ptr)> report) {
    State& s = TheState();
    std::lock_guard lock(s.mutex);
    s.report = std::move(report);
}

void SetWindowThreadHost(WindowThreadHost* host) {
    theHost.store(host);
}

WindowThreadHost* GetWindowThreadHost() {
    return theHost.load();
}

} // namespace korvan::win

using namespace korvan::win;

extern "C" {

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!HostServes() || IsWindowThread()) {
        auto method = FindWindow(window);
        if (!method) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        return (*method)(message, wParam, lParam);
    }
    if (!FindWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    auto item = std::make_shared<Item>();
    item->isMessage = true;
    item->window = window;
    item->message = message;
    item->wParam = wParam;
    item->lParam = lParam;
    Post(item);
    return item->result;
}

BOOL ReplyMessage(LRESULT result) {
    if (!currentSent || currentSent->finished) return FALSE;
    Finish(*currentSent, result);
    return TRUE;
}

BOOL InSendMessage() {
    return currentSent ? TRUE : FALSE;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

} // extern "C"
